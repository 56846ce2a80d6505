// mapiadmin account add|list: the mail accounts of a profile, kept in the
// registry as the mail client keeps them, and the machine's account pieces that
// install puts in place (the account manager, the account-list key).
#include <cstring>
#include <map>

#include <CLI/CLI.hpp>
#include <acctmgmt.h>
#include <nlohmann/json.hpp>
#include <olectl.h>
#include <standin/accounts.h>

#include "mapiadmin.h"
#include "system_programs.h"
#include "owners/ScopedOwner.h"

namespace mapiadmin {

namespace {

using namespace standin::accounts;

// The account manager's module sits beside this tool.
constexpr char16_t kManagerModule[] = u"libcvacctmgr.so";

void CheckStatus(LSTATUS status, const std::string& what) {
  if (status != ERROR_SUCCESS) Check(HRESULT_FROM_WIN32(static_cast<DWORD>(status)), what);
}

CScopedRegKey CreateKey(HKEY parent, const std::u16string& path, const std::string& what, DWORD* disposition = nullptr) {
  CScopedRegKey key;
  CheckStatus(RegCreateKeyExW(parent, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                              key.Put(), disposition),
              what);
  return key;
}

// How the mail client keeps a text: UTF-16LE with its terminator, as REG_BINARY
// (or REG_SZ when asked).
void SetText(HKEY key, const char16_t* name, const std::string& text, DWORD type = REG_BINARY) {
  std::u16string wide = W(text);
  CheckStatus(RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE*>(wide.c_str()),
                             static_cast<DWORD>((wide.size() + 1) * sizeof(WCHAR))),
              "writing \"" + U(name) + "\"");
}

void SetDword(HKEY key, const char16_t* name, DWORD value) {
  CheckStatus(RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value),
              "writing \"" + U(name) + "\"");
}

// A value as the registry holds it, or none.
bool ReadValue(HKEY key, const char16_t* name, DWORD* type, std::string* bytes) {
  DWORD size = 0;
  if (RegQueryValueExW(key, name, nullptr, type, nullptr, &size) != ERROR_SUCCESS) return false;
  bytes->assign(size, '\0');
  return RegQueryValueExW(key, name, nullptr, type, reinterpret_cast<BYTE*>(bytes->data()), &size) == ERROR_SUCCESS;
}

std::string TextOf(const std::string& bytes) {
  std::u16string text(bytes.size() / sizeof(WCHAR), u'\0');
  std::memcpy(text.data(), bytes.data(), text.size() * sizeof(WCHAR));
  return U(text.substr(0, text.find(u'\0')));
}

struct Kind {
  const char* option;
  const CLSID* type;
  const char* text;
};
const Kind kKinds[] = {{"pop", &CLSID_OlkPOP3Account, "POP/SMTP"},
                       {"imap", &CLSID_OlkIMAP4Account, "IMAP/SMTP"},
                       {"http", &CLSID_OlkHotmailAccount, "HTTP"},
                       {"mapi", &CLSID_OlkMAPIAccount, "MAPI"}};

std::string KindText(HKEY account) {
  DWORD type = 0;
  std::string bytes;
  CLSID clsid{};
  if (!ReadValue(account, kType, &type, &bytes) || type != REG_SZ ||
      FAILED(CLSIDFromString(W(TextOf(bytes)).c_str(), &clsid)))
    return {};
  for (const Kind& k : kKinds)
    if (*k.type == clsid) return k.text;
  return {};
}

std::u16string ProfileKeyPath(const std::string& profile) { return std::u16string(kProfilesKey) + u"\\" + W(profile); }

void RequireProfile(const std::string& profile) {
  CScopedRegKey key;
  if (profile.empty() || profile.find('\\') != std::string::npos ||
      RegOpenKeyExW(HKEY_CURRENT_USER, ProfileKeyPath(profile).c_str(), 0, KEY_QUERY_VALUE, key.Put()) != ERROR_SUCCESS)
    throw Failure("there is no profile '" + profile + "'");
}

// A new account key with the next free id. The key is created in one step, so
// two tools adding accounts at once never share an id; ids are not reused.
CScopedRegKey NewAccountKey(HKEY accounts, DWORD* id) {
  DWORD type = 0, next = 1, size = sizeof next;
  if (RegQueryValueExW(accounts, kNextAccountId, nullptr, &type, reinterpret_cast<BYTE*>(&next), &size) !=
          ERROR_SUCCESS ||
      type != REG_DWORD || next == 0)
    next = 1;
  for (;; ++next) {
    DWORD disposition = 0;
    CScopedRegKey key = CreateKey(accounts, AccountKeyName(next), "creating the account's key", &disposition);
    if (disposition != REG_CREATED_NEW_KEY) continue;
    *id = next;
    SetDword(accounts, kNextAccountId, next + 1);
    return key;
  }
}

struct NewAccount {
  std::string profile, kind, name, displayName, email, pop3, smtp, imap, http, pop3Type = "binary";
  int64_t mapiProvider = -1;
};

DWORD AddAccount(const NewAccount& a) {
  RequireProfile(a.profile);
  const Kind* kind = nullptr;
  for (const Kind& k : kKinds)
    if (a.kind == k.option) kind = &k;
  if (!kind) throw Failure("unknown account kind '" + a.kind + "' (pop, imap, http, mapi)");
  CScopedRegKey accounts = CreateKey(HKEY_CURRENT_USER, AccountKeyPath(W(a.profile)), "opening the account key");
  DWORD id = 0;
  CScopedRegKey account = NewAccountKey(accounts.Get(), &id);
  try {
    WCHAR type[39] = {};
    StringFromGUID2(*kind->type, type, 39);
    SetText(account.Get(), kType, U(type), REG_SZ);
    SetText(account.Get(), kAccountName, a.name);
    if (!a.displayName.empty()) SetText(account.Get(), kDisplayName, a.displayName);
    if (!a.email.empty()) SetText(account.Get(), kEmail, a.email);
    if (!a.pop3.empty()) SetText(account.Get(), kPop3Server, a.pop3, a.pop3Type == "sz" ? REG_SZ : REG_BINARY);
    if (!a.smtp.empty()) SetText(account.Get(), kSmtpServer, a.smtp);
    if (!a.imap.empty()) SetText(account.Get(), kImapServer, a.imap);
    if (!a.http.empty()) SetText(account.Get(), kHttpServer, a.http);
    // An Exchange account is marked by its provider, 5.
    int64_t provider = a.mapiProvider >= 0 ? a.mapiProvider : (kind->type == &CLSID_OlkMAPIAccount ? 5 : -1);
    if (provider >= 0) SetDword(account.Get(), kMapiProvider, static_cast<DWORD>(provider));
  } catch (...) {
    // Nothing half made stays behind.
    account.Reset();
    RegDeleteTreeW(accounts.Get(), AccountKeyName(id).c_str());
    throw;
  }
  return id;
}

const char* TypeName(DWORD type) {
  switch (type) {
    case REG_SZ: return "REG_SZ";
    case REG_EXPAND_SZ: return "REG_EXPAND_SZ";
    case REG_BINARY: return "REG_BINARY";
    case REG_DWORD: return "REG_DWORD";
    case REG_MULTI_SZ: return "REG_MULTI_SZ";
    case REG_QWORD: return "REG_QWORD";
    default: return "REG_NONE";
  }
}

// Every value of an account key: texts as text (binary ones in hex too),
// numbers as numbers.
nlohmann::json ValuesOf(HKEY account) {
  nlohmann::json values = nlohmann::json::object();
  for (DWORD index = 0;; ++index) {
    WCHAR name[16384];
    DWORD nameLength = 16384, type = 0, size = 0;
    if (RegEnumValueW(account, index, name, &nameLength, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) break;
    std::string bytes;
    if (!ReadValue(account, name, &type, &bytes)) continue;
    nlohmann::json v = {{"type", TypeName(type)}};
    if (type == REG_DWORD && bytes.size() == 4) {
      DWORD number = 0;
      std::memcpy(&number, bytes.data(), 4);
      v["value"] = number;
    } else {
      v["text"] = TextOf(bytes);
    }
    if (type == REG_BINARY) {
      static const char* digits = "0123456789abcdef";
      std::string hex;
      for (unsigned char b : bytes) hex += {digits[b >> 4], digits[b & 15]};
      v["hex"] = hex;
    }
    values[U(std::u16string_view(name, nameLength))] = v;
  }
  return values;
}

nlohmann::json ListAccounts(const std::string& profile) {
  RequireProfile(profile);
  nlohmann::json out = nlohmann::json::array();
  CScopedRegKey accounts;
  LSTATUS status = RegOpenKeyExW(HKEY_CURRENT_USER, AccountKeyPath(W(profile)).c_str(), 0, KEY_READ, accounts.Put());
  if (status == ERROR_FILE_NOT_FOUND) return out;
  CheckStatus(status, "opening the account key");
  for (DWORD index = 0;; ++index) {
    WCHAR name[256];
    DWORD length = 256;
    status = RegEnumKeyExW(accounts.Get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) break;
    CheckStatus(status, "listing the accounts");
    CScopedRegKey account;
    if (RegOpenKeyExW(accounts.Get(), name, 0, KEY_READ, account.Put()) != ERROR_SUCCESS) continue;
    DWORD id = 0;
    nlohmann::json entry = {{"key", U(std::u16string_view(name, length))},
                            {"kind", KindText(account.Get())},
                            {"values", ValuesOf(account.Get())}};
    entry["id"] = ParseAccountKeyName(std::u16string_view(name, length), &id) ? nlohmann::json(id) : nlohmann::json();
    out.push_back(entry);
  }
  return out;
}

std::string TextValue(const nlohmann::json& account, const char* name) {
  const nlohmann::json& values = account["values"];
  return values.contains(name) && values[name].contains("text") ? values[name]["text"].get<std::string>() : "";
}

bool RunsAsWow64() {
  typedef BOOL(WINAPI * IsWow64Fn)(HANDLE, PBOOL);
  HMODULE kernel = GetModuleHandleW(u"kernel32");
  auto isWow64 = kernel ? reinterpret_cast<IsWow64Fn>(reinterpret_cast<void (*)()>(GetProcAddress(kernel, "IsWow64Process")))
                        : nullptr;
  BOOL wow64 = FALSE;
  return isWow64 && isWow64(GetCurrentProcess(), &wow64) && wow64;
}

// Registers the account manager the way a registration tool does: the module
// writes its own class keys.
void RegisterAccountManager() {
  WCHAR self[4096];
  DWORD n = GetModuleFileNameW(nullptr, self, 4096);
  if (n == 0 || n >= 4096) throw Failure("cannot tell where mapiadmin is");
  std::u16string path(self, n);
  path.resize(path.find_last_of(u'\\') + 1);
  path += kManagerModule;
  HMODULE module = LoadLibraryW(path.c_str());
  if (!module)
    throw Failure("loading the account manager " + U(path) + " failed", HRESULT_FROM_WIN32(GetLastError()));
  auto registerServer = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
      reinterpret_cast<void (*)()>(GetProcAddress(module, "DllRegisterServer")));
  HRESULT hr = registerServer ? registerServer() : HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
  FreeLibrary(module);
  Check(hr, "registering the account manager");
}

}  // namespace

void InstallAccounts() {
  if (HasAccountManager()) RegisterAccountManager();
  const std::u16string tail(kAccountListTail);
  CreateKey(HKEY_LOCAL_MACHINE, u"Software\\" + tail, "creating the account-list key");
  // 32-bit processes on a 64-bit machine see their own branch.
  if (RunsAsWow64()) CreateKey(HKEY_LOCAL_MACHINE, u"Software\\Wow6432Node\\" + tail, "creating the account-list key");
}

void AddAccountCommand(CLI::App& app) {
  CLI::App* cmd = app.add_subcommand("account", "add or list the mail accounts of a profile");
  cmd->require_subcommand(1);
  static NewAccount a;
  static bool json = false;

  CLI::App* add = cmd->add_subcommand("add", "add a mail account; prints its id");
  add->add_option("profile", a.profile, "profile name")->required();
  add->add_option("--kind", a.kind, "pop, imap, http or mapi")
      ->required()
      ->check(CLI::IsMember({"pop", "imap", "http", "mapi"}));
  add->add_option("--name", a.name, "\"Account Name\"")->required();
  add->add_option("--display-name", a.displayName, "\"Display Name\"");
  add->add_option("--email", a.email, "\"Email\" (none when not given)");
  add->add_option("--pop3-server", a.pop3, "\"POP3 Server\"");
  add->add_option("--pop3-server-type", a.pop3Type, "how \"POP3 Server\" is kept: binary (as the client does) or sz")
      ->check(CLI::IsMember({"binary", "sz"}));
  add->add_option("--smtp-server", a.smtp, "\"SMTP Server\"");
  add->add_option("--imap-server", a.imap, "\"IMAP Server\"");
  add->add_option("--http-server", a.http, "\"HTTP Server URL\"");
  add->add_option("--mapi-provider", a.mapiProvider, "\"MAPI Provider\" (a mapi account has 5 unless told)")
      ->check(CLI::Range(int64_t{0}, int64_t{0xFFFFFFFF}));
  add->callback([] { Print(std::to_string(AddAccount(a)) + "\n"); });

  CLI::App* list = cmd->add_subcommand("list", "list the mail accounts of a profile");
  list->add_option("profile", a.profile, "profile name")->required();
  list->add_flag("--json", json, "print JSON: id, key, kind and every value");
  list->callback([] {
    nlohmann::json accounts = ListAccounts(a.profile);
    if (json) {
      Print(accounts.dump(2) + "\n");
      return;
    }
    for (const nlohmann::json& account : accounts) {
      std::string line = account["key"].get<std::string>() + "\t" + account["kind"].get<std::string>() + "\t" +
                         TextValue(account, "Account Name");
      if (std::string email = TextValue(account, "Email"); !email.empty()) line += "\t" + email;
      Print(line + "\n");
    }
  });
}

}  // namespace mapiadmin
