// The mail client's account manager as the configuration restore uses it: the
// mail accounts of the profile "Outlook", enumerated through the manager, and
// every one that is not POP3 deleted.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "owners/ScopedOwner.h"
#include "support/PlatformExtras.h"

// One mail account as the enumeration read it.
struct AccountRecord {
  DWORD _dwId = 0;                       // PROP_ACCT_ID
  std::basic_string<WCHAR> szName;       // PROP_ACCT_NAME
  std::basic_string<WCHAR> szType;       // "POP/SMTP", "IMAP/SMTP", "HTTP", "MAPI"; empty when unread
  std::basic_string<WCHAR> szEmail;      // PROP_ACCT_USER_EMAIL_ADDR
};
// In enumeration order; a slot is empty for an account that could not be read.
typedef std::vector<std::unique_ptr<AccountRecord>> AccountRecords;

// The account's type as a kind bit: 2 POP/SMTP, 4 IMAP/SMTP, 16 HTTP, 32 MAPI,
// 0x40 anything else (an empty type included).
int GetAccountTypeCode(const AccountRecord& record);

// Creates the manager and initialises it with the helper: 0 (a manager that
// was initialised before counts), 1 otherwise. The calling thread must be in a
// COM apartment.
int CreateAccountManager(IOlkAccountHelper* helper, CInterfacePtr<IOlkAccountManager>& manager);
// The mail accounts: 0; 1 when the enumeration could not be started; the low
// 16 bits of a failed count.
int EnumerateMailAccounts(IOlkAccountManager* manager, AccountRecords& records);
// One account's record, or none when its id or name cannot be read.
std::unique_ptr<AccountRecord> ReadAccountRecord(IOlkAccount* account);

// Deletes every mail account of the profile "Outlook" that is not POP/SMTP: 0
// when the accounts were enumerated (failed deletions are only logged), 1 when
// the logon, the manager or the enumeration failed.
int DeleteNonPOP3Accounts();
