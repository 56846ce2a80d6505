// corvane accounts: the library's account checks for the profile "Outlook":
// whether it holds an account the host cannot back up (an IMAP store, or an
// account without a POP3 server), whether it holds a POP3 account, and which
// accounts are not POP3.
#include <CLI/CLI.hpp>

#include "Config.h"

namespace host {

AccountCheck CheckAccounts() {
  AccountCheck check;
  int unsupported = COutlookFacade::ExistUnsupportedAccount();
  if (unsupported > 0)
    throw OperationFailed("the services of the profile \"Outlook\" could not be read (error " +
                          std::to_string(unsupported) + "; is there such a profile?); " + LogLocation());
  check.unsupported = unsupported == -1;
  // A profile without mail accounts has no account key: the error says so.
  int pop3 = COutlookFacade::ExistPOP3Account();
  if (pop3 > 0 && pop3 != ERROR_FILE_NOT_FOUND)
    throw OperationFailed("the accounts could not be read (error " + std::to_string(pop3) + "); " + LogLocation());
  check.pop3 = pop3 == -1;
  std::vector<CString> notPop3;
  int listed = COutlookFacade::GetNotPOP3Account(notPop3);
  if (listed != 0 && listed != ERROR_FILE_NOT_FOUND)
    throw OperationFailed("the accounts could not be read (error " + std::to_string(listed) + "); " + LogLocation());
  for (const CString& entry : notPop3) check.notPop3.push_back(U(entry.GetString()));
  return check;
}

void AccountsCommand() {
  LibrarySession library;
  if (!COutlookFacade::IsInstalledOutlook()) throw OperationFailed(NotInstalled());
  AccountCheck check = CheckAccounts();
  if (GlobalOptions().json) {
    PrintJson({{"profile", "Outlook"}, {"unsupported", check.unsupported}, {"pop3", check.pop3},
               {"notPop3", check.notPop3}});
    return;
  }
  std::string text = "Mail accounts of the profile \"Outlook\":\n";
  text += std::string("  unsupported accounts:  ") +
          (check.unsupported ? "yes (an IMAP store, or an account without a POP3 server)" : "none") + "\n";
  text += std::string("  POP3 accounts:         ") + (check.pop3 ? "yes" : "none") + "\n";
  text += "  not POP3:              ";
  if (check.notPop3.empty()) text += "none\n";
  for (size_t i = 0; i < check.notPop3.size(); ++i)
    text += (i ? "                         " : "") + check.notPop3[i] + "\n";
  Out(text);
}

void AddAccountsCommand(CLI::App& app) {
  CLI::App* cmd = app.add_subcommand(
      "accounts", "check the mail accounts of the profile \"Outlook\": unsupported ones, POP3 ones, the others");
  AddCommonOptions(*cmd, false);
  cmd->callback(AccountsCommand);
}

}  // namespace host
