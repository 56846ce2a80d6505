// The account checks answer from the registry: accounts made with the
// system's own reg program are found as the library reads them.
#include <afx.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "wincheck.h"

namespace wincheck {
namespace {

const wchar_t kAccountKey[] =
    L"HKCU\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows Messaging Subsystem\\Profiles\\Outlook\\"
    L"9375CFF0413111d3B88A00104B2A6676";

// Text as the hex digits of its UTF-16LE bytes and terminator, for REG_BINARY.
std::wstring BinaryText(const wchar_t* text) {
  std::wstring hex;
  for (const wchar_t* c = text;; ++c) {
    wchar_t pair[8];
    std::swprintf(pair, 8, L"%02x%02x", *c & 0xff, (*c >> 8) & 0xff);
    hex += pair;
    if (!*c) break;
  }
  return hex;
}

bool RegAdd(const std::wstring& account, const wchar_t* name, const wchar_t* type, const std::wstring& data) {
  return RunProgram(L"reg.exe add \"" + std::wstring(kAccountKey) + L"\\" + account + L"\" /v \"" + name + L"\" /t " +
                    type + L" /d \"" + data + L"\" /f") == 0;
}

}  // namespace

void CheckAccounts(HMODULE full) {
  auto existPOP3 = Export<int (*)()>(full, "_ZN14COutlookFacade16ExistPOP3AccountEv");
  auto notPOP3 = Export<int (*)(std::vector<CString>&)>(full, "_ZN14COutlookFacade17GetNotPOP3AccountERSt6vectorI7CStringSaIS1_EE");
  WINCHECK(existPOP3 && notPOP3, "the account members resolve");
  if (!existPOP3 || !notPOP3) return;

  WINCHECK(existPOP3() == ERROR_FILE_NOT_FOUND, "without the account key the POP3 check reports it missing");

  // An IMAP account (an address, no POP3 server) and one listed by its name.
  WINCHECK(RegAdd(L"00000002", L"Email", L"REG_BINARY", BinaryText(L"imap@example.org")) &&
               RegAdd(L"00000003", L"MAPI Provider", L"REG_DWORD", L"5") &&
               RegAdd(L"00000003", L"Account Name", L"REG_SZ", L"Exchange at work"),
           "reg add makes the accounts");
  std::vector<CString> listed;
  WINCHECK(notPOP3(listed) == 0, "the accounts that are not POP3 are listed");
  std::vector<std::wstring> names;
  for (const CString& name : listed) names.emplace_back(static_cast<LPCWSTR>(name));
  std::sort(names.begin(), names.end());
  WINCHECK((names == std::vector<std::wstring>{L"Exchange at work", L"imap@example.org"}),
           "they are the IMAP address and the listed account's name");
  WINCHECK(existPOP3() == 0, "no POP3 account yet");

  WINCHECK(RegAdd(L"00000001", L"POP3 Server", L"REG_BINARY", BinaryText(L"pop.example.org")) &&
               RegAdd(L"00000001", L"Email", L"REG_BINARY", BinaryText(L"pop@example.org")),
           "reg add makes a POP3 account");
  WINCHECK(existPOP3() == -1, "the POP3 account is found");
  listed.clear();
  WINCHECK(notPOP3(listed) == 0 && listed.size() == 2, "the POP3 account is not listed with the others");
}

}  // namespace wincheck
