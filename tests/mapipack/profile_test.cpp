// Profile administration through CMAPIProfile.
#include <filesystem>

#include "MAPIPack/MAPIProfile.h"
#include "session_support.h"

namespace {

using namespace mapipack_session;

class CMAPIProfileTest : public LoggedMapiFixture {
 protected:
  std::string NarrowWinPath(const std::string& rel) const { return standin::ToUtf8(WinPath(rel)); }

  // "Outlook": Main (MSUPST, default), Archive (MSPST), Contacts, Second (MSUPST).
  struct Layout {
    std::string main, archive, contacts, second;
  };
  Layout Populate() {
    Layout l;
    Com<IMsgServiceAdmin> services;
    Services("Outlook", &services);
    l.main = AddPst(services.get(), WinPath("main.pst"), u"Main");
    l.archive = AddPst(services.get(), WinPath("archive.pst"), u"Archive", "MSPST MS");
    l.contacts = AddService(services.get(), "CONTAB");
    l.second = AddPst(services.get(), WinPath("second.pst"), u"Second");
    return l;
  }
  std::vector<std::string> Names(const std::vector<CString>& list) {
    std::vector<std::string> out;
    for (const CString& s : list) out.push_back(Utf8(s));
    return out;
  }

  CMAPIProfile profile_;
};

using Strings = std::vector<std::string>;

// ---- create, delete, count, list ----

TEST_F(CMAPIProfileTest, CreateAndDeleteAreIdempotent) {
  EXPECT_EQ(1, profile_.CreateProfile(u"Backup Temp"));
  EXPECT_TRUE(LogLines().empty()) << LogText();
  EXPECT_EQ(1, profile_.CountProfiles(u"Backup Temp"));
  EXPECT_EQ(1, profile_.CreateProfile(u"Backup Temp"));
  auto lines = LinesWith("The profile is already exist. profile name:Backup Temp");
  ASSERT_EQ(1u, lines.size()) << LogText();
  EXPECT_EQ(0u, lines[0].rfind("INFO: File:'.\\MAPIPack\\MAPIProfile' Line: ", 0)) << lines[0];
  EXPECT_EQ(1, profile_.CountProfiles(u"Backup Temp"));

  ClearLog();
  EXPECT_EQ(1, profile_.DeleteProfile(u"Backup Temp"));
  EXPECT_EQ(0, profile_.CountProfiles(u"Backup Temp"));
  EXPECT_EQ(1, profile_.DeleteProfile(u"Backup Temp"));
  EXPECT_TRUE(LogLines().empty()) << LogText();
}

TEST_F(CMAPIProfileTest, CountIsCaseSensitiveAndNamesAreListed) {
  EXPECT_EQ(1, profile_.CountProfiles(u"Outlook"));
  EXPECT_EQ(0, profile_.CountProfiles(u"outlook"));
  EXPECT_EQ(0, profile_.CountProfiles(u"Outlook "));
  ASSERT_EQ(1, profile_.CreateProfile(u"Zw\u00e9i"));
  EXPECT_EQ(1, profile_.CountProfiles(u"Zw\u00e9i"));
  std::vector<CString> names;
  names.push_back(CString(u"kept"));
  ASSERT_EQ(1, profile_.GetProfileNames(names));
  Strings got = Names(names);
  ASSERT_EQ(3u, got.size());
  EXPECT_EQ("kept", got[0]) << "the list is appended to";
  EXPECT_NE(got.end(), std::find(got.begin(), got.end(), "Outlook"));
  EXPECT_NE(got.end(), std::find(got.begin(), got.end(), "Zw\xc3\xa9i"));
  EXPECT_TRUE(LogLines().empty()) << LogText();
}

TEST_F(CMAPIProfileTest, OverlongNamesAreRefusedBeforeMapiIsAsked) {
  // 256 bytes do not fit the name buffer; nothing is cut to 255 and passed on.
  std::u16string name(256, u'p');
  standin::ArmFault("IProfAdmin::CreateProfile", MAPI_E_CALL_FAILED, 1000);  // counts the calls
  standin::ArmFault("IProfAdmin::DeleteProfile", MAPI_E_CALL_FAILED, 1000);
  standin::ArmFault("IProfAdmin::AdminServices", MAPI_E_CALL_FAILED, 1000);
  EXPECT_EQ(0, profile_.CreateProfile(name.c_str()));
  EXPECT_EQ(0, profile_.DeleteProfile(name.c_str()));
  EXPECT_EQ(0, profile_.CountProfiles(name.c_str()));
  EXPECT_EQ(0, profile_.AttachPSTFileToProfile(WinPath("x.pst").c_str(), name.c_str(), u"X"));
  EXPECT_EQ(0u, standin::FaultCallCount("IProfAdmin::CreateProfile"));
  EXPECT_EQ(0u, standin::FaultCallCount("IProfAdmin::DeleteProfile"));
  EXPECT_EQ(0u, standin::FaultCallCount("IProfAdmin::AdminServices"));
  EXPECT_EQ(4u, CountLines("The profile name is too long. profile name:pppp")) << LogText();
  // 255 bytes reach MAPI.
  std::u16string fits(255, u'p');
  EXPECT_EQ(0, profile_.CreateProfile(fits.c_str()));  // the stand-in keeps names of at most 64
  EXPECT_EQ(1u, standin::FaultCallCount("IProfAdmin::CreateProfile"));
}

TEST_F(CMAPIProfileTest, FailuresOfTheAdministrationAreLogged) {
  standin::ArmFault("MAPIAdminProfiles", MAPI_E_CALL_FAILED, 1);
  EXPECT_EQ(0, profile_.CreateProfile(u"X"));
  EXPECT_TRUE(HasFailedCall("MAPIProfile", "MAPIAdminProfiles(0, &profAdminPtr)", "80004005")) << LogText();

  ClearLog();
  standin::ArmFault("MAPIAdminProfiles", MAPI_E_CALL_FAILED, 1);
  EXPECT_EQ(0, profile_.CountProfiles(u"Outlook"));
  EXPECT_TRUE(HasFailedCall("MAPIProfile", "MAPIAdminProfiles(0, &profAdminPtr)", "80004005")) << LogText();
  EXPECT_TRUE(HasSkipped("profAdminPtr->GetProfileTable(0, &talbePtr)", "80004005")) << LogText();
  EXPECT_TRUE(HasSkipped("HrQueryAllRows(talbePtr, (LPSPropTagArray)&COLUMNS, 0, 0, 0, &pRows)", "80004005"))
      << LogText();

  ClearLog();
  standin::ArmFault("HrQueryAllRows", MAPI_E_NOT_ENOUGH_MEMORY, 1);
  EXPECT_EQ(0, profile_.CountProfiles(u"Outlook"));
  EXPECT_TRUE(HasFailedCall("MAPIProfile", "HrQueryAllRows(talbePtr, (LPSPropTagArray)&COLUMNS, 0, 0, 0, &pRows)",
                            "8007000e"))
      << LogText();

  ClearLog();
  standin::ArmFault("IProfAdmin::CreateProfile", MAPI_E_CALL_FAILED, 1);
  EXPECT_EQ(0, profile_.CreateProfile(u"New One"));
  EXPECT_EQ(1u, CountLines("ERROR: File:'.\\MAPIPack\\MAPIProfile'")) << LogText();
  EXPECT_EQ(1u, CountLines("Can not create the profile. profile name:New One error:")) << LogText();

  ClearLog();
  standin::ArmFault("IProfAdmin::DeleteProfile", MAPI_E_CALL_FAILED, 1);
  EXPECT_EQ(0, profile_.DeleteProfile(u"Outlook"));
  EXPECT_EQ(1u, CountLines("DeleteProfile Failed. name: Outlook error: ")) << LogText();
  EXPECT_EQ(1, profile_.CountProfiles(u"Outlook"));

  standin::ArmFault("IProfAdmin::GetProfileTable", MAPI_E_CALL_FAILED, 1);
  std::vector<CString> names;
  EXPECT_EQ(0, profile_.GetProfileNames(names));
  EXPECT_TRUE(names.empty());
}

// ---- attaching a PST file ----

TEST_F(CMAPIProfileTest, AttachConfiguresTheNewServiceOfAProfileWithServices) {
  Layout l = Populate();
  std::u16string path = WinPath("attached.pst");
  ASSERT_EQ(1, profile_.AttachPSTFileToProfile(path.c_str(), u"Outlook", u"Attached \u00e9"));
  auto rows = ServiceRows("Outlook");
  ASSERT_EQ(5u, rows.size());
  EXPECT_EQ("MSUPST MS", rows[4].name);
  EXPECT_EQ(standin::ToUtf8(path), ProviderText("Outlook", rows[4].uid, PR_PST_PATH_A));
  EXPECT_EQ("Attached \xc3\xa9", ProviderText("Outlook", rows[4].uid, PR_DISPLAY_NAME_W));
  EXPECT_EQ("Main", ProviderText("Outlook", l.main, PR_DISPLAY_NAME_W)) << "old services keep their settings";
  EXPECT_EQ("Second", ProviderText("Outlook", l.second, PR_DISPLAY_NAME_W));
  EXPECT_TRUE(std::filesystem::exists(RootFile("attached.pst")));
  EXPECT_TRUE(LogLines().empty()) << LogText();
}

TEST_F(CMAPIProfileTest, AttachOnAProfileWithoutServicesConfiguresItsOnlyRow) {
  ASSERT_EQ(1, profile_.CreateProfile(u"Empty"));
  std::u16string path = WinPath("only.pst");
  ASSERT_EQ(1, profile_.AttachPSTFileToProfile(path.c_str(), u"Empty", u"Only"));
  std::vector<CString> names, paths;
  profile_.GetPSTServices(u"Empty", names, paths);
  EXPECT_EQ(Strings{"Only"}, Names(names));
  EXPECT_EQ(Strings{standin::ToUtf8(path)}, Names(paths));
}

TEST_F(CMAPIProfileTest, AttachFailuresStopTheChain) {
  Populate();
  std::u16string path = WinPath("attached.pst");
  // The second read of the service table fails.
  standin::ArmFault("IMsgServiceAdmin::GetMsgServiceTable", MAPI_E_CALL_FAILED, 2);
  EXPECT_EQ(0, profile_.AttachPSTFileToProfile(path.c_str(), u"Outlook", u"Attached"));
  EXPECT_TRUE(HasFailedCall("MAPIProfile", "servicesAdminPtr->GetMsgServiceTable(0, &tablePtr)", "80004005"))
      << LogText();
  EXPECT_TRUE(HasSkipped("HrQueryAllRows(tablePtr, (LPSPropTagArray)&COLUMNS, 0, 0, 0, &pRows)", "80004005"))
      << LogText();
  EXPECT_TRUE(HasSkipped("servicesAdminPtr->ConfigureMsgService(&newUID, 0, 0, 2, props)", "80004005")) << LogText();

  // A profile that does not exist: AdminServices fails, the rest is skipped.
  ClearLog();
  EXPECT_EQ(0, profile_.AttachPSTFileToProfile(path.c_str(), u"Nobody", u"Attached"));
  EXPECT_TRUE(HasFailedCall("MAPIProfile",
                            "profAdimPtr->AdminServices((LPTSTR)szName2, 0, 0, 0, &servicesAdminPtr)", "8004010f"))
      << LogText();
  for (const char* step : {"servicesAdminPtr->GetMsgServiceTable(0, &oldTablePtr)",
                           "HrQueryAllRows(oldTablePtr, (LPSPropTagArray)&COLUMNS, 0,0,0,&pOldRows)",
                           "servicesAdminPtr->CreateMsgService((LPTSTR)pst, 0, 0, 0)",
                           "servicesAdminPtr->GetMsgServiceTable(0, &tablePtr)",
                           "HrQueryAllRows(tablePtr, (LPSPropTagArray)&COLUMNS, 0, 0, 0, &pRows)",
                           "servicesAdminPtr->ConfigureMsgService(&newUID, 0, 0, 2, props)"})
    EXPECT_TRUE(HasSkipped(step, "8004010f")) << step << "\n" << LogText();

  ClearLog();
  standin::ArmFault("IMsgServiceAdmin::ConfigureMsgService", MAPI_E_CALL_FAILED, 1);
  EXPECT_EQ(0, profile_.AttachPSTFileToProfile(path.c_str(), u"Outlook", u"Attached"));
  EXPECT_TRUE(HasFailedCall("MAPIProfile", "servicesAdminPtr->ConfigureMsgService(&newUID, 0, 0, 2, props)",
                            "80004005"))
      << LogText();
}

// ---- finding and detaching a PST file ----

TEST_F(CMAPIProfileTest, PstServicesAreListedPairwiseInTableOrder) {
  Populate();
  std::vector<CString> names, paths;
  profile_.GetPSTServices(u"Outlook", names, paths);
  EXPECT_EQ((Strings{"Main", "Archive", "Second"}), Names(names));
  EXPECT_EQ((Strings{NarrowWinPath("main.pst"), NarrowWinPath("archive.pst"), NarrowWinPath("second.pst")}),
            Names(paths));

  standin::ArmFault("MAPIAdminProfiles", MAPI_E_CALL_FAILED, 1);
  profile_.GetPSTServices(u"Outlook", names, paths);
  EXPECT_EQ(1u, CountLines("ERROR: File:'.\\MAPIPack\\MAPIProfile'")) << LogText();
  EXPECT_EQ(1u, CountLines("Create profile administration object  failed.")) << LogText();
  profile_.GetPSTServices(u"Nobody", names, paths);
  EXPECT_EQ(1u, CountLines("Message service administration object can not get the access right.")) << LogText();
  EXPECT_EQ(3u, names.size());
}

TEST_F(CMAPIProfileTest, FindProfileOfPstFile) {
  Layout l = Populate();
  CString profile, display;
  EXPECT_EQ(1, profile_.FindProfileOfPSTFile(WinPath("nowhere.pst").c_str(), profile, display));
  EXPECT_TRUE(profile.IsEmpty());
  EXPECT_TRUE(display.IsEmpty());

  // Letter case of the given path, and blanks around the stored one.
  std::u16string upper = WinPath("SECOND.PST");
  ASSERT_EQ(1, profile_.FindProfileOfPSTFile(upper.c_str(), profile, display));
  EXPECT_EQ("Outlook", Utf8(profile));
  EXPECT_EQ("Second", Utf8(display));
  SetProviderPath("Outlook", l.archive, "  " + NarrowWinPath("archive.pst") + " \t");
  profile = CString();
  ASSERT_EQ(1, profile_.FindProfileOfPSTFile(WinPath("archive.pst").c_str(), profile, display));
  EXPECT_EQ("Outlook", Utf8(profile));
  EXPECT_EQ("Archive", Utf8(display));

  // Another profile's store is found too; the first profile in table order
  // wins when two hold the path.
  NewProfile("Alpha");
  NewProfile("Beta");
  for (const char* p : {"Beta", "Alpha"}) {
    Com<IMsgServiceAdmin> services;
    Services(p, &services);
    std::string uid = AddPst(services.get(), WinPath(std::string(p) + ".pst"), p == std::string("Beta") ? u"B" : u"A");
    SetProviderPath(p, uid, NarrowWinPath("shared.pst"));
  }
  std::vector<CString> order;
  ASSERT_EQ(1, profile_.GetProfileNames(order));
  std::string first;
  for (const CString& n : order)
    if (first.empty() && (Utf8(n) == "Alpha" || Utf8(n) == "Beta")) first = Utf8(n);
  ASSERT_EQ(1, profile_.FindProfileOfPSTFile(WinPath("shared.pst").c_str(), profile, display));
  EXPECT_EQ(first, Utf8(profile));
  EXPECT_EQ(first == "Alpha" ? "A" : "B", Utf8(display));

  standin::ArmFault("IProfAdmin::GetProfileTable", MAPI_E_CALL_FAILED, 1);
  CString untouched(u"keep");
  EXPECT_EQ(0, profile_.FindProfileOfPSTFile(WinPath("main.pst").c_str(), untouched, display));
  EXPECT_EQ("keep", Utf8(untouched));
}

TEST_F(CMAPIProfileTest, DeletePstFileFromTheOutlookProfile) {
  Layout l = Populate();
  EXPECT_EQ(1, profile_.DeletePSTFileFromProfile(WinPath("nowhere.pst").c_str()));
  EXPECT_EQ(4u, ServiceRows("Outlook").size());
  EXPECT_EQ(1, profile_.DeletePSTFileFromProfile(WinPath("ARCHIVE.pst").c_str()));
  auto rows = ServiceRows("Outlook");
  ASSERT_EQ(3u, rows.size());
  for (const auto& r : rows) EXPECT_NE(l.archive, r.uid);
  EXPECT_TRUE(LogLines().empty()) << LogText();

  standin::ArmFault("IMsgServiceAdmin::DeleteMsgService", MAPI_E_CALL_FAILED, 1);
  EXPECT_EQ(1, profile_.DeletePSTFileFromProfile(WinPath("second.pst").c_str()));
  EXPECT_EQ(1u, CountLines("Can not delete the pst file: " + NarrowWinPath("second.pst"))) << LogText();
  EXPECT_EQ(3u, ServiceRows("Outlook").size());

  ClearLog();
  standin::ArmFault("MAPIAdminProfiles", MAPI_E_CALL_FAILED, 1);
  EXPECT_EQ(0, profile_.DeletePSTFileFromProfile(WinPath("second.pst").c_str()));
  EXPECT_EQ(1u, CountLines("Create profile administration object  failed.")) << LogText();
  standin::ArmFault("IMsgServiceAdmin::GetMsgServiceTable", MAPI_E_CALL_FAILED, 1);
  EXPECT_EQ(1, profile_.DeletePSTFileFromProfile(WinPath("second.pst").c_str())) << "no table: nothing to scan";
  standin::ArmFault("HrQueryAllRows", MAPI_E_CALL_FAILED, 1);
  EXPECT_EQ(0, profile_.DeletePSTFileFromProfile(WinPath("second.pst").c_str()));
  standin::ArmFault("IMsgServiceAdmin::AdminProviders", MAPI_E_CALL_FAILED, 1);
  EXPECT_EQ(0, profile_.DeletePSTFileFromProfile(WinPath("second.pst").c_str()));
  EXPECT_EQ(3u, ServiceRows("Outlook").size());
}

// ---- the default store ----

TEST_F(CMAPIProfileTest, SetDefaultPstFileToAMissingFileConfiguresPersonalFolders) {
  Layout l = Populate();
  std::u16string path = WinPath("fresh.pst");
  standin::ArmFault("IMsgServiceAdmin::ConfigureMsgService", MAPI_E_CALL_FAILED, 1000);  // counts the calls
  EXPECT_EQ(0, profile_.SetDefaultPSTFile(path.c_str()));
  EXPECT_EQ(1u, standin::FaultCallCount("IMsgServiceAdmin::ConfigureMsgService"));
  EXPECT_TRUE(std::filesystem::exists(RootFile("fresh.pst")));
  EXPECT_EQ("Personal Folders", ProviderText("Outlook", l.main, PR_DISPLAY_NAME_W));
  EXPECT_EQ(standin::ToUtf8(path), ProviderText("Outlook", l.main, PR_PST_PATH_W));
  EXPECT_EQ(NarrowWinPath("second.pst"), ProviderText("Outlook", l.second, PR_PST_PATH_A));
  auto lines = LinesWith("Set Default storage:" + standin::ToUtf8(path));
  ASSERT_EQ(1u, lines.size()) << LogText();
  EXPECT_EQ(0u, lines[0].rfind("INFO: File:'.\\MAPIPack\\MAPIProfile' Line: ", 0)) << lines[0];

  WCHAR buffer[MAX_PATH] = {};
  EXPECT_EQ(0, profile_.GetDefaultPSTPath(buffer));
  EXPECT_EQ(path, std::u16string(buffer));
}

TEST_F(CMAPIProfileTest, SetDefaultPstFileToAnExistingFileOnlyWritesThePath) {
  Layout l = Populate();
  // second.pst exists: it becomes the default store's file, nothing else changes.
  std::u16string path = WinPath("second.pst");
  standin::ArmFault("IMsgServiceAdmin::ConfigureMsgService", MAPI_E_CALL_FAILED, 1000);
  EXPECT_EQ(0, profile_.SetDefaultPSTFile(path.c_str()));
  EXPECT_EQ(0u, standin::FaultCallCount("IMsgServiceAdmin::ConfigureMsgService"));
  EXPECT_EQ("Main", ProviderText("Outlook", l.main, PR_DISPLAY_NAME_W));
  EXPECT_EQ(standin::ToUtf8(path), ProviderText("Outlook", l.main, PR_PST_PATH_A));
  EXPECT_EQ(1u, CountLines("Set Default storage:")) << LogText();
}

TEST_F(CMAPIProfileTest, SetDefaultPstFileFailures) {
  Populate();
  std::u16string path = WinPath("second.pst");
  standin::ArmFault("HrSetOneProp", MAPI_E_NO_ACCESS, 1);
  EXPECT_EQ(0x0005, profile_.SetDefaultPSTFile(path.c_str()));
  EXPECT_TRUE(HasFailedCall("MAPIProfile", "HrSetOneProp(profSectPtr, &sp)", "80070005")) << LogText();
  EXPECT_TRUE(HasSkipped("profSectPtr->SaveChanges(0)", "80070005")) << LogText();
  EXPECT_EQ(1u, CountLines("Set Default storage:")) << "logged after a failed step too";

  ClearLog();
  standin::ArmFault("IMsgServiceAdmin::ConfigureMsgService", MAPI_E_CALL_FAILED, 1);
  EXPECT_EQ(0x4005, profile_.SetDefaultPSTFile(WinPath("other.pst").c_str()));
  EXPECT_TRUE(HasFailedCall("MAPIProfile", "pMsgsaPtr->ConfigureMsgService(pID, 0, 0, 2, props)", "80004005"))
      << LogText();
  EXPECT_EQ(0u, CountLines("Set Default storage:"));

  ClearLog();
  standin::ArmFault("MAPIAdminProfiles", MAPI_E_CALL_FAILED, 1);
  EXPECT_EQ(0x4005, profile_.SetDefaultPSTFile(path.c_str()));
  EXPECT_TRUE(HasSkipped("profAdminPtr->AdminServices((LPTSTR)szName2, 0, 0, 0, &msgSAPtr)", "80004005")) << LogText();
  EXPECT_TRUE(HasSkipped("msgSAPtr->GetMsgServiceTable(0, &msgSACTablePtr)", "80004005")) << LogText();
  EXPECT_TRUE(HasSkipped("HrQueryAllRows(msgSACTablePtr.p, (LPSPropTagArray)&sptCols, &sRes, 0, 0, &pRowSet)",
                         "80004005"))
      << LogText();
}

TEST_F(CMAPIProfileTest, DeleteMinorPstFilesKeepsTheDefaultStore) {
  Layout l = Populate();
  EXPECT_EQ(0, profile_.DeleteMinorPSTFiles());
  auto rows = ServiceRows("Outlook");
  ASSERT_EQ(2u, rows.size());
  EXPECT_EQ(l.main, rows[0].uid);
  EXPECT_EQ(l.contacts, rows[1].uid);
  EXPECT_TRUE(LogLines().empty()) << LogText();
  EXPECT_EQ(0, profile_.DeleteMinorPSTFiles());
}

TEST_F(CMAPIProfileTest, DeleteMinorPstFilesStopsAtTheFirstFailedDeletion) {
  Populate();
  standin::ArmFault("IMsgServiceAdmin::DeleteMsgService", MAPI_E_CALL_FAILED, 1);
  EXPECT_EQ(0x4005, profile_.DeleteMinorPSTFiles());
  const std::string text =
      "msgSAPtr->DeleteMsgService( (LPMAPIUID)pRowSet->aRow[iIndex].lpProps[SVCID].Value.bin.lpb)";
  EXPECT_TRUE(HasFailedCall("MAPIProfile", text, "80004005")) << LogText();
  EXPECT_TRUE(HasSkipped(text, "80004005")) << LogText();
  EXPECT_EQ(4u, ServiceRows("Outlook").size());
}

TEST_F(CMAPIProfileTest, DefaultPstPath) {
  WCHAR buffer[MAX_PATH] = u"untouched";
  // No default store at all.
  EXPECT_EQ(0, profile_.GetDefaultPSTPath(buffer));
  EXPECT_EQ(std::u16string(u"untouched"), buffer);

  Populate();
  EXPECT_EQ(0, profile_.GetDefaultPSTPath(buffer));
  EXPECT_EQ(WinPath("main.pst"), std::u16string(buffer));
  EXPECT_TRUE(LogLines().empty()) << LogText();

  standin::ArmFault("HrGetOneProp", MAPI_E_CALL_FAILED, 1);
  EXPECT_EQ(0x4005, profile_.GetDefaultPSTPath(buffer));
  EXPECT_TRUE(HasFailedCall("MAPIProfile", "HrGetOneProp((IMAPIProp*)profSectPtr.p, PR_PST_PATH, &sProp)",
                            "80004005"))
      << LogText();
  standin::ArmFault("IMsgServiceAdmin::AdminProviders", MAPI_E_CALL_FAILED, 1);
  EXPECT_EQ(0x4005, profile_.GetDefaultPSTPath(buffer));
}

TEST_F(CMAPIProfileTest, DefaultPstPathTooLongForTheBufferIsRefused) {
  Layout l = Populate();
  SetProviderPath("Outlook", l.main, "Z:\\" + std::string(256, 'x'));  // 259 bytes fit
  WCHAR buffer[MAX_PATH] = {};
  EXPECT_EQ(0, profile_.GetDefaultPSTPath(buffer));
  EXPECT_EQ(259u, std::u16string(buffer).size());
  SetProviderPath("Outlook", l.main, "Z:\\" + std::string(257, 'x'));
  WCHAR untouched[MAX_PATH] = u"untouched";
  EXPECT_EQ(1, profile_.GetDefaultPSTPath(untouched));
  EXPECT_EQ(std::u16string(u"untouched"), untouched);
  EXPECT_EQ(1u, CountLines("The buffer is too small")) << LogText();
}

TEST_F(CMAPIProfileTest, DefaultStoreThatIsNoPstGivesNoPath) {
  Com<IMsgServiceAdmin> services;
  Services("Outlook", &services);
  AddService(services.get(), "INTERSTOR");
  WCHAR buffer[MAX_PATH] = {};
  EXPECT_NE(0, profile_.GetDefaultPSTPath(buffer));
  EXPECT_EQ(0, buffer[0]);
}

}  // namespace
