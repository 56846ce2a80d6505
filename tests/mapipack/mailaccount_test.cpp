// The services of "Outlook" classified by name: account kinds,
// the PST files and deleting IMAP stores.
#include "MAPIPack/MailAccount.h"
#include "session_support.h"

namespace {

using namespace mapipack_session;

class MailAccountTest : public LoggedMapiFixture {
 protected:
  std::string AddTo(const char* kind) {
    Com<IMsgServiceAdmin> services;
    Services("Outlook", &services);
    return AddService(services.get(), kind);
  }
  std::string AddPstTo(const std::string& file, const char16_t* display, const char* kind = "MSUPST MS") {
    Com<IMsgServiceAdmin> services;
    Services("Outlook", &services);
    return AddPst(services.get(), WinPath(file), display, kind);
  }
  static std::vector<std::string> Names(const std::vector<CString>& list) {
    std::vector<std::string> out;
    for (const CString& s : list) out.push_back(Utf8(s));
    return out;
  }
  const std::string kAdmin = "MAPIAdminProfiles(0, &profAdminPtr)";
  const std::string kServices = "profAdminPtr->AdminServices((LPTSTR)szName, NULL, 0, GetFlag(), &serviceAdminPtr)";
  const std::string kDelete =
      "serviceAdminPtr->DeleteMsgService( (LPMAPIUID)pRowSet->aRow[i].lpProps[TC_PR_SERVICE_UID].Value.bin.lpb)";
  const std::string kProviders =
      "serviceAdminPtr->AdminProviders( (LPMAPIUID)pRowSet->aRow[i].lpProps[TC_PR_SERVICE_UID].Value.bin.lpb, 0, "
      "&providerAdminPtr)";
};

using Strings = std::vector<std::string>;

TEST_F(MailAccountTest, AccountTypesByServiceName) {
  EXPECT_EQ(ACCOUNT_TYPE_NONE, GetAccountType(u"CONTAB"));
  EXPECT_EQ(ACCOUNT_TYPE_PST, GetAccountType(u"mspst ms"));
  EXPECT_EQ(ACCOUNT_TYPE_PST, GetAccountType(u"MSUPST MS"));
  EXPECT_EQ(ACCOUNT_TYPE_IMAP, GetAccountType(u"InterStor"));
  EXPECT_TRUE(LogLines().empty()) << LogText();
  EXPECT_EQ(ACCOUNT_TYPE_UNKNOWN, GetAccountType(u"EMABLT"));
  auto lines = LinesWith("Get a new account type: EMABLT");
  ASSERT_EQ(1u, lines.size()) << LogText();
  EXPECT_EQ(0u, lines[0].rfind("WARNING: File:'.\\MAPIPack\\MailAccount' Line: ", 0)) << lines[0];
  EXPECT_TRUE(IsPSTOrNeutralAccount(0));
  EXPECT_TRUE(IsPSTOrNeutralAccount(2));
  EXPECT_FALSE(IsPSTOrNeutralAccount(0x40));
  EXPECT_TRUE(IsUnsupportedAccount(4));
  EXPECT_FALSE(IsUnsupportedAccount(0x42));
}

TEST_F(MailAccountTest, AnUnknownServiceGivesMask0x42) {
  AddPstTo("main.pst", u"Main");
  std::string other = AddTo("CONTAB");
  RenameService("Outlook", other, u"EMABLT");
  int mask = 0;
  EXPECT_EQ(0, CollectAccountTypes(&mask));
  EXPECT_EQ(0x42, mask);
  EXPECT_FALSE(IsUnsupportedAccount(mask));
  EXPECT_EQ(1u, CountLines("Get a new account type: EMABLT")) << LogText();
  EXPECT_EQ(1u, LogLines().size()) << LogText();
}

TEST_F(MailAccountTest, ALowerCaseServiceNameIsStillAPst) {
  std::string pst = AddPstTo("main.pst", u"Main", "MSPST MS");
  RenameService("Outlook", pst, u"mspst ms");
  int mask = 0;
  EXPECT_EQ(0, CollectAccountTypes(&mask));
  EXPECT_EQ(ACCOUNT_TYPE_PST, mask);
  std::vector<CString> paths, names;
  EXPECT_EQ(0, GetProfilePSTFiles(paths, names));
  EXPECT_EQ(Strings{"Main"}, Names(names));
}

TEST_F(MailAccountTest, ImapServicesAreUnsupportedAndDeleted) {
  AddPstTo("main.pst", u"Main");
  std::string imap = AddTo("INTERSTOR");
  int mask = 0;
  EXPECT_EQ(0, CollectAccountTypes(&mask));
  EXPECT_EQ(ACCOUNT_TYPE_PST | ACCOUNT_TYPE_IMAP, mask);
  EXPECT_TRUE(IsUnsupportedAccount(mask));

  EXPECT_EQ(0, DeleteIMAPServices());
  auto lines = LinesWith("Delete the IMAP account.");
  ASSERT_EQ(1u, lines.size()) << LogText();
  EXPECT_EQ(0u, lines[0].rfind("INFO: File:'.\\MAPIPack\\MailAccount' Line: ", 0)) << lines[0];
  auto rows = ServiceRows("Outlook");
  ASSERT_EQ(1u, rows.size());
  EXPECT_EQ("MSUPST MS", rows[0].name);
  mask = 0;
  EXPECT_EQ(0, CollectAccountTypes(&mask));
  EXPECT_EQ(ACCOUNT_TYPE_PST, mask);
}

TEST_F(MailAccountTest, ProfilePstFilesInServiceTableOrder) {
  AddTo("CONTAB");
  AddPstTo("main.pst", u"Main");
  AddTo("INTERSTOR");
  AddPstTo("archive.pst", u"Archive \u00e9", "MSPST MS");
  std::vector<CString> paths, names;
  paths.push_back(CString(u"kept"));
  names.push_back(CString(u"kept"));
  EXPECT_EQ(0, GetProfilePSTFiles(paths, names));
  EXPECT_EQ((Strings{"kept", standin::ToUtf8(WinPath("main.pst")), standin::ToUtf8(WinPath("archive.pst"))}),
            Names(paths));
  EXPECT_EQ((Strings{"kept", "Main", "Archive \xc3\xa9"}), Names(names));
  EXPECT_TRUE(LogLines().empty()) << LogText();
}

TEST_F(MailAccountTest, ServiceStoreInfoOfAContactsServiceIsAnError) {
  std::string contab = AddTo("CONTAB");
  Com<IMsgServiceAdmin> services;
  Services("Outlook", &services);
  Com<IProviderAdmin> providers;
  ASSERT_EQ(S_OK, services->AdminProviders(reinterpret_cast<LPMAPIUID>(contab.data()), 0, providers.put()));
  std::vector<CString> paths, names;
  EXPECT_EQ(0x010F, GetServiceStoreInfo(services.get(), providers.get(), paths, names));
  EXPECT_TRUE(paths.empty());
  EXPECT_TRUE(names.empty());
}

TEST_F(MailAccountTest, AdministrationFailuresReturnTheLowBitsAndSkipTheRest) {
  AddPstTo("main.pst", u"Main");
  standin::ArmFault("MAPIAdminProfiles", MAPI_E_CALL_FAILED, 1);
  int mask = 0x100;
  EXPECT_EQ(0x4005, CollectAccountTypes(&mask));
  EXPECT_EQ(0x100, mask);
  EXPECT_TRUE(HasFailedCall("MailAccount", kAdmin, "80004005")) << LogText();
  EXPECT_TRUE(HasSkipped(kServices, "80004005")) << LogText();
  EXPECT_TRUE(HasSkipped("serviceAdminPtr->GetMsgServiceTable(0, &proTablePtr)", "80004005")) << LogText();
  EXPECT_TRUE(
      HasSkipped("HrQueryAllRows(proTablePtr, (LPSPropTagArray)&g_tcColumns, 0, 0, 0, &pRows)", "80004005"))
      << LogText();

  ClearLog();
  standin::ArmFault("IMsgServiceAdmin::GetMsgServiceTable", MAPI_E_NOT_ENOUGH_MEMORY, 1);
  std::vector<CString> paths, names;
  EXPECT_EQ(0x000E, GetProfilePSTFiles(paths, names));
  EXPECT_TRUE(paths.empty());
  EXPECT_TRUE(HasFailedCall("MailAccount", "serviceAdminPtr->GetMsgServiceTable(0, &tablePtr)", "8007000e"))
      << LogText();
  EXPECT_TRUE(HasSkipped("HrQueryAllRows(tablePtr, (LPSPropTagArray)&g_tcColumns, NULL, NULL, 0, &pRowSet)",
                         "8007000e"))
      << LogText();

  ClearLog();
  standin::ArmFault("HrQueryAllRows", MAPI_E_CALL_FAILED, 1);
  EXPECT_EQ(0x4005, DeleteIMAPServices());
  EXPECT_TRUE(HasFailedCall("MailAccount",
                            "HrQueryAllRows(tablePtr, (LPSPropTagArray)&g_tcColumns, NULL, NULL, 0, &pRowSet)",
                            "80004005"))
      << LogText();

  // Without a profile "Outlook".
  ClearLog();
  Com<IProfAdmin> admin;
  Admin(&admin);
  ASSERT_EQ(S_OK, admin->DeleteProfile(Narrow("Outlook"), 0));
  EXPECT_EQ(0x010F, DeleteIMAPServices());
  EXPECT_TRUE(HasFailedCall("MailAccount", kServices, "8004010f")) << LogText();
}

TEST_F(MailAccountTest, AFailedAdminProvidersSkipsTheLaterServices) {
  AddPstTo("main.pst", u"Main");
  AddPstTo("archive.pst", u"Archive");
  standin::ArmFault("IMsgServiceAdmin::AdminProviders", MAPI_E_CALL_FAILED, 1);
  std::vector<CString> paths, names;
  EXPECT_EQ(0x4005, GetProfilePSTFiles(paths, names));
  EXPECT_TRUE(paths.empty());
  EXPECT_TRUE(names.empty());
  EXPECT_TRUE(HasFailedCall("MailAccount", kProviders, "80004005")) << LogText();
  EXPECT_TRUE(HasSkipped(kProviders, "80004005")) << LogText();
}

TEST_F(MailAccountTest, AFailedDeletionSkipsTheLaterOnesButEachIsAnnounced) {
  AddTo("INTERSTOR");
  AddPstTo("main.pst", u"Main");
  AddTo("INTERSTOR");
  standin::ArmFault("IMsgServiceAdmin::DeleteMsgService", MAPI_E_CALL_FAILED, 1);
  EXPECT_EQ(0x4005, DeleteIMAPServices());
  EXPECT_EQ(2u, CountLines("Delete the IMAP account.")) << LogText();
  EXPECT_TRUE(HasFailedCall("MailAccount", kDelete, "80004005")) << LogText();
  EXPECT_TRUE(HasSkipped(kDelete, "80004005")) << LogText();
  EXPECT_EQ(3u, ServiceRows("Outlook").size());
}

}  // namespace
