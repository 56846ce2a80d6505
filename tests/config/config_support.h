// Shared set-up of the account and configuration tests: a machine with the
// mail client installed by the admin tool (account manager, registry editor,
// account-list key), MAPI initialised through the library, the calling thread
// in a COM apartment, and the library's log sent to a file of the test without
// the time prefix.
#pragma once

#include <gtest/gtest.h>

#include <sys/mman.h>

#include <afx.h>
#include <objbase.h>
#include <standin/accounts.h>
#include <standin/fault.h>
#include <standin/root.h>
#include <winreg.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "common/library_log.h"
#include "facade/facade_support.h"

namespace config_test {

using testing_support::N;
using testing_support::W;

// What a host might pass as a string and the platform cannot read: a page
// without access, so that reading it faults.
class UnreadablePage {
 public:
  UnreadablePage() : page_(mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0)) {}
  ~UnreadablePage() {
    if (page_ != MAP_FAILED) munmap(page_, 4096);
  }
  UnreadablePage(const UnreadablePage&) = delete;
  UnreadablePage& operator=(const UnreadablePage&) = delete;
  LPCWSTR Text() const { return static_cast<LPCWSTR>(page_); }

 private:
  void* page_;
};

class ConfigMachine : public testing_support::FacadeMachine {
 protected:
  void SetUp() override {
    FacadeMachine::SetUp();
    ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    apartment_ = true;
    StartLog();
  }
  void TearDown() override {
    log_.Stop();
    if (apartment_) CoUninitialize();
    FacadeMachine::TearDown();
  }

  // The log into <root>/Logs/test.log, every level, no time prefix.
  void StartLog() {
    log_.Start(RootFile("Logs/test.log"));
    ASSERT_TRUE(log_.Active());
  }
  void ClearLog() { log_.Clear(); }
  std::vector<std::string> LogLines() const { return log_.Lines(); }
  std::string LogText() const { return log_.Text(); }
  bool HasLine(const std::string& line) const {
    for (const std::string& l : LogLines())
      if (l == line) return true;
    return false;
  }
  size_t CountContaining(const std::string& fragment) const {
    size_t n = 0;
    for (const std::string& l : LogLines()) n += l.find(fragment) != std::string::npos;
    return n;
  }

  // A mail account of the profile "Outlook" added by the admin tool; its id.
  DWORD AddAccount(const std::vector<std::string>& options) {
    std::vector<std::string> args = {"account", "add", "Outlook"};
    args.insert(args.end(), options.begin(), options.end());
    std::string out = Ok(args);
    return static_cast<DWORD>(std::stoul(out));
  }
  DWORD AddPop(const std::string& name) {
    return AddAccount({"--kind", "pop", "--name", name, "--email", name + "@example.com", "--pop3-server",
                       "pop.example.com", "--smtp-server", "smtp.example.com"});
  }
  DWORD AddImap(const std::string& name) {
    return AddAccount(
        {"--kind", "imap", "--name", name, "--email", name + "@example.com", "--imap-server", "imap.example.com"});
  }
  DWORD AddHttp(const std::string& name) {
    return AddAccount({"--kind", "http", "--name", name, "--email", name + "@example.com", "--http-server",
                       "https://mail.example.com/"});
  }
  DWORD AddExchange(const std::string& name) { return AddAccount({"--kind", "mapi", "--name", name}); }

  // The account ids of the profile "Outlook", in the registry's order.
  static std::vector<DWORD> AccountIds() {
    std::vector<DWORD> ids;
    HKEY key = nullptr;
    std::u16string path = standin::accounts::AccountKeyPath(u"Outlook");
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return ids;
    for (DWORD i = 0;; ++i) {
      WCHAR name[MAX_PATH];
      DWORD length = MAX_PATH;
      if (RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
      DWORD id = 0;
      if (standin::accounts::ParseAccountKeyName(std::u16string_view(name, length), &id)) ids.push_back(id);
    }
    RegCloseKey(key);
    return ids;
  }
  static std::u16string AccountPath(DWORD id) {
    return standin::accounts::AccountKeyPath(u"Outlook") + u"\\" + standin::accounts::AccountKeyName(id);
  }
  // Writes a value, making its key when missing.
  static void SetValue(HKEY root, const std::u16string& path, const std::u16string& name, DWORD type,
                       const std::string& bytes) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                                            static_cast<DWORD>(bytes.size())));
    RegCloseKey(key);
  }
  // A value's bytes, or "<missing>".
  static std::string Value(HKEY root, const std::u16string& path, const std::u16string& name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return "<missing>";
    BYTE data[1024];
    DWORD size = sizeof data, type = 0;
    LSTATUS status = RegQueryValueExW(key, name.c_str(), nullptr, &type, data, &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) return "<missing>";
    return std::string(reinterpret_cast<const char*>(data), size);
  }
  static bool KeyExists(HKEY root, const std::u16string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
  }
  // Text as an account keeps it: UTF-16LE with its terminator.
  static std::string WideBytes(const std::string& text) {
    std::u16string wide = W(text);
    return std::string(reinterpret_cast<const char*>(wide.c_str()), (wide.size() + 1) * sizeof(char16_t));
  }

  // A POSIX path as the library takes it.
  static std::u16string Win(const std::string& posix) { return standin::ToWindowsPath(posix); }

  // Moves the test to a machine of its own whose user has no profile
  // "Outlook" yet (the mail client installed, the profile deleted), with MAPI
  // initialised there. A machine setting is made before the installation.
  void MoveToNewUser(const std::string& setting = "", const std::string& value = "") {
    Term2();
    newUser_ = std::make_unique<testing_support::TempDir>();
    setenv("CORVANE_PLATFORM_ROOT", newUser_->path().c_str(), 1);
    if (!setting.empty()) standin::SetMachineSetting(setting, value);
    Ok({"install"});
    Ok({"profile", "delete", "Outlook"});
    ASSERT_EQ(1, Init2());
    StartLog();
  }
  std::string NewUserFile(const std::string& rel) const { return newUser_->path() + "/" + rel; }

 private:
  std::unique_ptr<testing_support::TempDir> newUser_;
  testing_support::LibraryLogFile log_;
  bool apartment_ = false;
};

}  // namespace config_test
