// Helpers shared by the registry tests: a scoped HKEY, privileges, the
// debugger output, and the shared test data.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include <windows.h>

#include "common/fresh_root.h"

namespace regtest {

// One HKEY, closed when the holder dies.
class Key {
 public:
  Key() = default;
  ~Key() { Reset(); }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  HKEY* out() {
    Reset();
    return &h_;
  }
  operator HKEY() const { return h_; }
  HKEY get() const { return h_; }
  void Reset() {
    if (h_ && !(reinterpret_cast<uintptr_t>(h_) & 0x80000000u)) RegCloseKey(h_);
    h_ = nullptr;
  }

 private:
  HKEY h_ = nullptr;
};

// Creates (or opens) root\path with all access.
inline LONG Create(HKEY root, const char16_t* path, Key* key, REGSAM sam = KEY_ALL_ACCESS, DWORD* disposition = nullptr) {
  return RegCreateKeyExW(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE, sam, nullptr, key->out(), disposition);
}

inline LONG SetString(HKEY key, const char16_t* name, std::u16string_view text) {
  std::u16string terminated(text);
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(terminated.c_str()),
                        static_cast<DWORD>((terminated.size() + 1) * sizeof(WCHAR)));
}

inline LONG SetDword(HKEY key, const char16_t* name, DWORD value) {
  return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

// The value's raw bytes, or the error as the result's empty optional state.
inline LONG Read(HKEY key, const char16_t* name, DWORD* type, std::string* bytes) {
  DWORD size = 0;
  LONG rc = RegQueryValueExW(key, name, nullptr, type, nullptr, &size);
  if (rc != ERROR_SUCCESS) return rc;
  bytes->assign(size, '\0');
  return RegQueryValueExW(key, name, nullptr, type, reinterpret_cast<BYTE*>(bytes->data()), &size);
}

// Enables or disables a privilege in the process token.
inline void SetPrivilege(const char16_t* name, bool enable) {
  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token));
  TOKEN_PRIVILEGES tp{};
  tp.PrivilegeCount = 1;
  ASSERT_TRUE(LookupPrivilegeValueW(nullptr, name, &tp.Privileges[0].Luid));
  tp.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : 0;
  ASSERT_TRUE(AdjustTokenPrivileges(token, FALSE, &tp, sizeof tp, nullptr, nullptr));
  CloseHandle(token);
}

// Subkey names of a key, in enumeration order.
inline std::vector<std::u16string> SubKeys(HKEY key) {
  std::vector<std::u16string> names;
  for (DWORD i = 0;; ++i) {
    WCHAR name[256];
    DWORD len = 256;
    if (RegEnumKeyExW(key, i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    names.emplace_back(name, len);
  }
  return names;
}

// Every key and value below root\path as text lines, to compare whole trees.
inline void Dump(HKEY key, const std::u16string& prefix, std::vector<std::string>* out) {
  for (DWORD i = 0;; ++i) {
    WCHAR name[16384];
    DWORD nameLen = 16384, type = 0, dataLen = 0;
    if (RegEnumValueW(key, i, name, &nameLen, nullptr, &type, nullptr, &dataLen) != ERROR_SUCCESS) break;
    std::string data(dataLen, '\0');
    nameLen = 16384;
    EXPECT_EQ(ERROR_SUCCESS, RegEnumValueW(key, i, name, &nameLen, nullptr, &type,
                                           reinterpret_cast<BYTE*>(data.data()), &dataLen));
    std::string hex;
    for (unsigned char c : data) {
      char b[3];
      snprintf(b, sizeof b, "%02x", c);
      hex += b;
    }
    out->push_back(standin::ToUtf8(prefix + u"|" + std::u16string(name, nameLen)) + " type=" +
                   std::to_string(type) + " data=" + hex);
  }
  for (const std::u16string& sub : SubKeys(key)) {
    out->push_back(standin::ToUtf8(prefix + u"\\" + sub));
    // A name with an embedded NUL is listed but cannot be opened by name.
    if (sub.find(u'\0') != std::u16string::npos) continue;
    Key child;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(key, sub.c_str(), 0, KEY_READ, child.out()));
    Dump(child, prefix + u"\\" + sub, out);
  }
}

inline std::vector<std::string> Dump(HKEY root, const char16_t* path) {
  std::vector<std::string> lines;
  Key key;
  EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExW(root, path, 0, KEY_READ, key.out()));
  if (key.get()) Dump(key, u"", &lines);
  return lines;
}

// A file of the shared test data; empty when the data is not there.
inline std::string TestData(const std::string& rel) {
  std::filesystem::path dir = testing_support::TestData();
  std::error_code ec;
  if (!std::filesystem::is_directory(dir, ec)) return {};
  return (dir / rel).lexically_normal().string();
}

}  // namespace regtest
