// The mail client's configuration saved and restored through the library's
// configuration exports, and its account checks: shared by the config and
// accounts commands and the demo.
#pragma once

#include <string>
#include <vector>

#include "Host.h"

namespace host {

// The two files of a saved configuration (POSIX paths).
struct ConfigFiles {
  std::string profiles;  // the profiles, a registry script
  std::string accounts;  // the account list, a hive file beside it
};

// Where a save goes: a folder, or a ".reg" file of the user's choice in an
// existing folder. Bad input throws UsageError.
ConfigFiles SaveTarget(const std::string& argument);
// Where a restore reads: a folder with a saved configuration, or its
// profiles file; both files must be there. Bad input throws UsageError.
ConfigFiles RestoreSource(const std::string& argument);

// Saves into the files (BOutlookConfig); OperationFailed unless it worked.
void SaveConfig(const ConfigFiles& files);
// Restores from the files (ROutlookConfig) for a user without a profile
// "Outlook"; false when the user had one and nothing was restored.
// OperationFailed when the restore failed. Needs the library initialised and
// the thread in a COM apartment.
bool RestoreConfig(const ConfigFiles& files);

// The account checks' answers.
struct AccountCheck {
  bool unsupported = false;          // an IMAP store, or an account the host cannot back up
  bool pop3 = false;                 // an account with a POP3 server
  std::vector<std::string> notPop3;  // addresses (or names) of the accounts that are not POP3
};
// Asks the library; OperationFailed when it cannot tell.
AccountCheck CheckAccounts();
// Prints the answers (the accounts command, also shown by the demo).
void AccountsCommand();

// The calling thread in a single-threaded COM apartment for the life of the
// object, as a host must be before the library uses the mail client's
// account manager.
class ComApartment {
 public:
  ComApartment();
  ~ComApartment();
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
};

}  // namespace host
