// Where the stand-in mail client keeps its mail accounts, for its account
// manager, its tools and tests. A profile's accounts are the subkeys of its
// account key under HKEY_CURRENT_USER, each named by the account's id in eight
// hexadecimal digits; "NextAccountID" (REG_DWORD) on the account key is the id
// the next account gets. An account's texts are REG_BINARY values holding
// UTF-16LE text with its terminator (REG_SZ is read as well); its type is the
// REG_SZ value "clsid", one of CLSID_OlkPOP3Account, CLSID_OlkIMAP4Account,
// CLSID_OlkHotmailAccount (HTTP) and CLSID_OlkMAPIAccount.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "../windef.h"

namespace standin::accounts {

inline constexpr char16_t kProfilesKey[] =
    u"Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows Messaging Subsystem\\Profiles";
// Below a profile's key.
inline constexpr char16_t kAccountKey[] = u"9375CFF0413111d3B88A00104B2A6676";
inline constexpr char16_t kNextAccountId[] = u"NextAccountID";

// Values of an account's key.
inline constexpr char16_t kAccountName[] = u"Account Name";
inline constexpr char16_t kDisplayName[] = u"Display Name";
inline constexpr char16_t kEmail[] = u"Email";
inline constexpr char16_t kPop3Server[] = u"POP3 Server";
inline constexpr char16_t kSmtpServer[] = u"SMTP Server";
inline constexpr char16_t kImapServer[] = u"IMAP Server";
inline constexpr char16_t kHttpServer[] = u"HTTP Server URL";
inline constexpr char16_t kMapiProvider[] = u"MAPI Provider";  // REG_DWORD
inline constexpr char16_t kType[] = u"clsid";

// The account-list key of the machine, under HKEY_LOCAL_MACHINE: below
// "Software\" and, where 32-bit processes run on a 64-bit machine, below
// "Software\Wow6432Node\" as well.
inline constexpr char16_t kAccountListTail[] = u"Microsoft\\Office\\Outlook\\Outlook 10 Accounts";

// The account key of a profile, below HKEY_CURRENT_USER.
inline std::u16string AccountKeyPath(std::u16string_view profile) {
  std::u16string path(kProfilesKey);
  path += u'\\';
  path += profile;
  path += u'\\';
  path += kAccountKey;
  return path;
}

// The subkey name of an account id ("0000000a"), and back: false for a name
// that is not eight hexadecimal digits.
inline std::u16string AccountKeyName(DWORD id) {
  char text[9];
  std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(id));
  return std::u16string(text, text + 8);
}
inline bool ParseAccountKeyName(std::u16string_view name, DWORD* id) {
  if (name.size() != 8) return false;
  DWORD value = 0;
  for (char16_t c : name) {
    int digit = c >= u'0' && c <= u'9' ? c - u'0'
                : c >= u'a' && c <= u'f' ? c - u'a' + 10
                : c >= u'A' && c <= u'F' ? c - u'A' + 10
                                         : -1;
    if (digit < 0) return false;
    value = (value << 4) | static_cast<DWORD>(digit);
  }
  *id = value;
  return true;
}

}  // namespace standin::accounts
