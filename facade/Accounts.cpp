// Which kinds of mail accounts the profile "Outlook" holds: an IMAP store, or
// an account the host cannot back up, counts as unsupported.
#include "MAPIPack/MailAccount.h"
#include "facade/Boundary.h"
#include "facade/OutlookFacade.h"
#include "outlookconfig/AccountKeys.h"
#include "support/Log.h"

int COutlookFacade::ExistUnsupportedAccount() {
  return RunWithoutThrowing(static_cast<int>(ERROR_NOT_ENOUGH_MEMORY), [] {
    LogMessage(LOG_INFO, TEXT("<----------ExistUnsupportedAccount------------>"));
    int mask = 0;
    if (int result = CollectAccountTypes(&mask)) return result;
    LogMessage(LOG_INFO, TEXT("mask=0x%x"), mask);
    if (IsUnsupportedAccount(mask)) {
      LogMessage(LOG_INFO, TEXT("Exist unsupported account"));
      return -1;
    }
    // Without account keys the services alone answer.
    std::vector<CString> accounts;
    ListNotPOP3Accounts(accounts);
    return accounts.empty() ? 0 : -1;
  });
}

int COutlookFacade::ExistPOP3Account() {
  return RunWithoutThrowing(static_cast<int>(ERROR_NOT_ENOUGH_MEMORY), [] { return FindPOP3Account(); });
}

int COutlookFacade::GetNotPOP3Account(std::vector<CString>& addresses) {
  return RunWithoutThrowing(static_cast<int>(ERROR_NOT_ENOUGH_MEMORY), [&] {
    LogMessage(LOG_INFO, TEXT("<!---------GetNotPOP3Account--------->"));
    int result = ListNotPOP3Accounts(addresses);
    for (const CString& address : addresses) LogMessage(LOG_INFO, TEXT("address: %s"), static_cast<LPCWSTR>(address));
    return result;
  });
}
