// The account checks a backup application asks before it offers a backup:
// whether the profile holds an IMAP store or an account it cannot back up.
#include <standin/registry.h>

#include "config_support.h"

namespace config_test {
namespace {

class AccountChecksTest : public ConfigMachine {
 protected:
  static std::vector<std::string> NotPOP3() {
    std::vector<CString> out;
    EXPECT_EQ(0, COutlookFacade::GetNotPOP3Account(out));
    std::vector<std::string> names;
    for (const CString& s : out) names.push_back(N(s));
    return names;
  }
  void AddImapStore() { Ok({"service", "add", "Outlook", "--type", "imap", "--name", "Lists"}); }
};

using Strings = std::vector<std::string>;

TEST_F(AccountChecksTest, APersonalFoldersProfileWithAPOP3AccountIsSupported) {
  AddPst("mail.pst", "Mail", true);
  Ok({"service", "add", "Outlook", "--type", "contab"});
  AddPop("home");
  EXPECT_EQ(0, COutlookFacade::ExistUnsupportedAccount());
  EXPECT_EQ(-1, COutlookFacade::ExistPOP3Account());
  EXPECT_EQ(Strings{}, NotPOP3());
  EXPECT_TRUE(HasLine("INFO: <----------ExistUnsupportedAccount------------>")) << LogText();
  EXPECT_TRUE(HasLine("INFO: mask=0x2")) << LogText();
  EXPECT_TRUE(HasLine("INFO: <!---------GetNotPOP3Account--------->")) << LogText();
  EXPECT_EQ(0u, CountContaining("Exist unsupported account")) << LogText();
}

TEST_F(AccountChecksTest, AnAddressWithoutAPOP3ServerIsUnsupported) {
  AddPst("mail.pst", "Mail", true);
  AddImap("lists");
  EXPECT_EQ(-1, COutlookFacade::ExistUnsupportedAccount());
  EXPECT_EQ(0u, CountContaining("Exist unsupported account")) << LogText();
  EXPECT_EQ(0, COutlookFacade::ExistPOP3Account());
  EXPECT_EQ(Strings{"lists@example.com"}, NotPOP3());
  EXPECT_TRUE(HasLine("INFO: address: lists@example.com")) << LogText();
}

TEST_F(AccountChecksTest, AnExchangeAccountIsListedByItsName) {
  AddExchange("Work");
  AddAccount({"--kind", "mapi", "--name", "Other", "--mapi-provider", "4"});
  AddHttp("web");
  EXPECT_EQ((Strings{"Work", "web@example.com"}), NotPOP3());
  EXPECT_EQ(-1, COutlookFacade::ExistUnsupportedAccount());
}

TEST_F(AccountChecksTest, ATextPOP3ServerIsNoPOP3AccountButNotListedEither) {
  AddAccount({"--kind", "pop", "--name", "Odd", "--email", "odd@example.com", "--pop3-server", "pop.example.com",
              "--pop3-server-type", "sz"});
  EXPECT_EQ(0, COutlookFacade::ExistPOP3Account());
  EXPECT_EQ(Strings{}, NotPOP3());
}

TEST_F(AccountChecksTest, AnIMAPStoreIsUnsupportedWhateverTheAccounts) {
  AddPop("home");
  AddImapStore();
  EXPECT_EQ(-1, COutlookFacade::ExistUnsupportedAccount());
  EXPECT_TRUE(HasLine("INFO: mask=0x4")) << LogText();
  EXPECT_TRUE(HasLine("INFO: Exist unsupported account")) << LogText();
}

TEST_F(AccountChecksTest, WithoutAccountKeysTheServicesAloneAnswer) {
  AddPst("mail.pst", "Mail", true);
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, COutlookFacade::ExistPOP3Account());
  std::vector<CString> out;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, COutlookFacade::GetNotPOP3Account(out));
  EXPECT_EQ(0, COutlookFacade::ExistUnsupportedAccount());
}

TEST_F(AccountChecksTest, WithoutTheProfileTheServiceErrorIsTheAnswer) {
  Ok({"profile", "delete", "Outlook"});
  int result = COutlookFacade::ExistUnsupportedAccount();
  EXPECT_GT(result, 0);
  EXPECT_EQ(0u, CountContaining("mask=")) << LogText();
}

TEST_F(AccountChecksTest, EntriesAlreadyInTheListAreLoggedToo) {
  AddImap("lists");
  std::vector<CString> out = {CString(u"earlier@example.com")};
  EXPECT_EQ(0, COutlookFacade::GetNotPOP3Account(out));
  ASSERT_EQ(2u, out.size());
  EXPECT_TRUE(HasLine("INFO: address: earlier@example.com")) << LogText();
  EXPECT_TRUE(HasLine("INFO: address: lists@example.com")) << LogText();
}

TEST_F(AccountChecksTest, AnAddressTooLongToReadCountsAsAbsent) {
  // 140 characters are 282 bytes with the terminator: more than the 260 read.
  std::string longAddress = std::string(128, 'a') + "@example.com";
  AddAccount({"--kind", "mapi", "--name", "Long", "--email", longAddress});
  EXPECT_EQ(Strings{"Long"}, NotPOP3());
}

TEST_F(AccountChecksTest, AnAccountThatCannotBeOpenedIsSkipped) {
  AddImap("lists");
  DWORD second = AddImap("news");
  ASSERT_EQ(ERROR_SUCCESS, standin::SetRegistryKeyReadOnly(u"HKCU", AccountPath(second), true));
  EXPECT_EQ(Strings{"lists@example.com"}, NotPOP3());
}

}  // namespace
}  // namespace config_test
