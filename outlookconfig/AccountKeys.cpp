#include "outlookconfig/AccountKeys.h"

#include <wcrt.h>
#include <winreg.h>

#include "owners/ScopedOwner.h"
#include "support/Log.h"

#define ACCOUNT_KEYS_UNIT TEXT(".\\outlookconfig\\AccountKeys")

namespace {

// Values are read into buffers of 260 bytes; one more character always ends
// the text, whatever the value holds.
constexpr DWORD kValueBytes = MAX_PATH;
struct CValueText {
  WCHAR text[kValueBytes / sizeof(WCHAR) + 1] = {};
  DWORD type = REG_NONE;
  DWORD size = kValueBytes;
  LPBYTE Bytes() { return reinterpret_cast<LPBYTE>(text); }
};

// The Exchange provider marks an account listed by its name.
constexpr DWORD kMapiProviderListed = 5;

// The account's own key, below the account key.
LSTATUS OpenAccount(const CString& name, CScopedRegKey& key) {
  CString path(ACCOUNT_KEY);
  path += TEXT("\\");
  path += name;
  return RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, kAccountKeyAccess, key.Put());
}

bool HasBinaryPOP3Server(HKEY account) {
  CValueText value;
  return RegQueryValueExW(account, TEXT("POP3 Server"), nullptr, &value.type, value.Bytes(), &value.size) ==
             ERROR_SUCCESS &&
         value.type == REG_BINARY;
}

// One account's entry for ListNotPOP3Accounts, if it has one.
void AddNotPOP3Account(HKEY account, std::vector<CString>& out) {
  CValueText email;
  if (RegQueryValueExW(account, TEXT("Email"), nullptr, &email.type, email.Bytes(), &email.size) == ERROR_SUCCESS &&
      email.type == REG_BINARY) {
    CValueText pop3;
    LSTATUS status = RegQueryValueExW(account, TEXT("POP3 Server"), nullptr, &pop3.type, pop3.Bytes(), &pop3.size);
    if (status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND) out.push_back(CString(email.text));
    return;
  }
  DWORD provider = 0, type = REG_NONE, size = sizeof(provider);
  if (RegQueryValueExW(account, TEXT("MAPI Provider"), nullptr, &type, reinterpret_cast<LPBYTE>(&provider), &size) !=
          ERROR_SUCCESS ||
      type != REG_DWORD || provider != kMapiProviderListed)
    return;
  CValueText name;
  // A name that cannot be read is listed empty.
  if (RegQueryValueExW(account, TEXT("Account Name"), nullptr, &name.type, name.Bytes(), &name.size) != ERROR_SUCCESS)
    name.text[0] = 0;
  out.push_back(CString(name.text));
}

}  // namespace

int ListAccountKeys(std::vector<CString>& names) {
  names.clear();
  CScopedRegKey accounts;
  LSTATUS status = RegOpenKeyExW(HKEY_CURRENT_USER, ACCOUNT_KEY, 0, kAccountKeyAccess, accounts.Put());
  if (status != ERROR_SUCCESS) return status;
  for (DWORD index = 0;; ++index) {
    WCHAR name[MAX_PATH] = {};
    DWORD length = MAX_PATH;
    if (RegEnumKeyExW(accounts.Get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    names.push_back(CString(name));
  }
  return 0;
}

int ListNotPOP3Accounts(std::vector<CString>& out) {
  std::vector<CString> names;
  if (int status = ListAccountKeys(names)) return status;
  for (const CString& name : names) {
    CScopedRegKey account;
    if (OpenAccount(name, account) == ERROR_SUCCESS) AddNotPOP3Account(account.Get(), out);
  }
  return 0;
}

int FindPOP3Account() {
  std::vector<CString> names;
  if (int status = ListAccountKeys(names)) return status;
  for (const CString& name : names) {
    CScopedRegKey account;
    if (OpenAccount(name, account) == ERROR_SUCCESS && HasBinaryPOP3Server(account.Get())) return -1;
  }
  return 0;
}

void ClearDeliveryEntryIDs() {
  std::vector<CString> names;
  if (ListAccountKeys(names) != 0) return;
  for (const CString& name : names) {
    CScopedRegKey account;
    if (name.IsEmpty() || OpenAccount(name, account) != ERROR_SUCCESS) continue;
    for (LPCWSTR value : {TEXT("Delivery Folder EntryID"), TEXT("Delivery Store EntryID")}) {
      LSTATUS status = RegDeleteValueW(account.Get(), value);
      // An account without the value has nothing to clear.
      if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
        LogMessageAt(LOG_ERROR, ACCOUNT_KEYS_UNIT, __LINE__, TEXT("Could not delete the value %s of the account %s, ERROR: %d"),
                     value, static_cast<LPCWSTR>(name), status);
    }
  }
}
