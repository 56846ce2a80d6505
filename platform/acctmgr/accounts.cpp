// The accounts of a profile in the registry, as the mail client keeps them.
#include <cstring>

#include <standin/accounts.h>

#include "acctmgr.h"
#include "owners/ScopedOwner.h"

namespace standin::acct {

namespace {

using namespace standin::accounts;

// A text value: REG_BINARY with UTF-16LE text, or REG_SZ; up to its first NUL.
std::optional<std::u16string> ReadText(HKEY key, const char16_t* name) {
  DWORD type = 0, size = 0;
  if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return std::nullopt;
  if (type != REG_BINARY && type != REG_SZ && type != REG_EXPAND_SZ) return std::nullopt;
  std::string bytes(size, '\0');
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(bytes.data()), &size) != ERROR_SUCCESS)
    return std::nullopt;
  std::u16string text(size / sizeof(WCHAR), u'\0');
  std::memcpy(text.data(), bytes.data(), text.size() * sizeof(WCHAR));
  text.resize(std::char_traits<char16_t>::length(text.c_str()));
  return text;
}

std::optional<CLSID> ReadType(HKEY key) {
  std::optional<std::u16string> text = ReadText(key, kType);
  CLSID type{};
  if (!text || FAILED(CLSIDFromString(text->c_str(), &type))) return std::nullopt;
  if (TypeText(type).empty()) return std::nullopt;
  return type;
}

// A profile name names one key.
bool PlausibleProfile(const std::u16string& profile) {
  return !profile.empty() && profile.find(u'\\') == std::u16string::npos;
}

}  // namespace

HRESULT ReadAccounts(const std::u16string& profile, std::vector<Account>* accounts) {
  accounts->clear();
  if (!PlausibleProfile(profile)) return E_OLK_REGISTRY;
  CScopedRegKey key;
  LSTATUS status = RegOpenKeyExW(HKEY_CURRENT_USER, AccountKeyPath(profile).c_str(), 0, KEY_READ, key.Put());
  if (status == ERROR_FILE_NOT_FOUND) return S_OK;
  if (status != ERROR_SUCCESS) return E_OLK_REGISTRY;
  for (DWORD index = 0;; ++index) {
    WCHAR name[256];
    DWORD length = 256;
    status = RegEnumKeyExW(key.Get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status != ERROR_SUCCESS) return E_OLK_REGISTRY;
    Account account;
    if (!ParseAccountKeyName(std::u16string_view(name, length), &account.id)) continue;  // not an account
    CScopedRegKey accountKey;
    // An account deleted meanwhile is no longer there.
    if (RegOpenKeyExW(key.Get(), name, 0, KEY_QUERY_VALUE, accountKey.Put()) != ERROR_SUCCESS) continue;
    account.type = ReadType(accountKey.Get());
    account.name = ReadText(accountKey.Get(), kAccountName);
    account.displayName = ReadText(accountKey.Get(), kDisplayName);
    account.email = ReadText(accountKey.Get(), kEmail);
    accounts->push_back(std::move(account));
  }
  return S_OK;
}

HRESULT RemoveAccount(const std::u16string& profile, DWORD id) {
  if (!PlausibleProfile(profile)) return E_OLK_REGISTRY;
  CScopedRegKey key;
  LSTATUS status = RegOpenKeyExW(HKEY_CURRENT_USER, AccountKeyPath(profile).c_str(), 0, KEY_READ | DELETE, key.Put());
  if (status == ERROR_FILE_NOT_FOUND) return E_ACCT_NOT_FOUND;
  if (status == ERROR_SUCCESS) status = RegDeleteTreeW(key.Get(), AccountKeyName(id).c_str());
  if (status == ERROR_FILE_NOT_FOUND) return E_ACCT_NOT_FOUND;
  return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(static_cast<DWORD>(status));
}

bool ProfileExists(const std::u16string& profile) {
  if (!PlausibleProfile(profile)) return false;
  std::u16string path(kProfilesKey);
  path += u'\\';
  path += profile;
  CScopedRegKey key;
  return RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_QUERY_VALUE, key.Put()) == ERROR_SUCCESS;
}

std::u16string TypeText(const CLSID& type) {
  if (type == CLSID_OlkPOP3Account) return u"POP/SMTP";
  if (type == CLSID_OlkIMAP4Account) return u"IMAP/SMTP";
  if (type == CLSID_OlkHotmailAccount) return u"HTTP";
  if (type == CLSID_OlkMAPIAccount) return u"MAPI";
  return {};
}

bool InCategory(const std::optional<CLSID>& type, const CLSID& category) {
  // Every account sends and receives mail; the server-side kinds keep a store,
  // and a MAPI account brings its address book.
  if (category == CLSID_OlkMail) return true;
  if (!type) return false;
  if (category == CLSID_OlkStore) return *type != CLSID_OlkPOP3Account;
  if (category == CLSID_OlkAddressBook) return *type == CLSID_OlkMAPIAccount;
  return false;
}

}  // namespace standin::acct
