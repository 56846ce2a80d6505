// Registration with the MAPI stub, the initialisation count,
// logon and opening a store by its display name.
#include <winreg.h>

#include <atomic>
#include <thread>
#include <vector>

#include <standin/registry.h>

#include "MAPIPack/MAPIWrapper.h"
#include "session_support.h"

namespace {

using namespace mapipack_session;

const char16_t kSubsystem[] = u"SOFTWARE\\Microsoft\\Windows Messaging Subsystem";
const char16_t kApps[] = u"SOFTWARE\\Microsoft\\Windows Messaging Subsystem\\msmapiapps";
const std::string kOpenMsgStoreText =
    "m_sessionPtr->OpenMsgStore(NULL, pRows->aRow[0].lpProps[1].Value.bin.cb, "
    "(LPENTRYID)pRows->aRow[0].lpProps[1].Value.bin.lpb, NULL, MAPI_BEST_ACCESS | MDB_ONLINE, &storePtr)";

class CMAPIWrapperTest : public LoggedMapiFixture {
 protected:
  void SetUp() override {
    LoggedMapiFixture::SetUp();
    ASSERT_EQ(0, CMAPIWrapper::GetInitializeCount()) << "an earlier test left the count unbalanced";
  }
  void TearDown() override {
    EXPECT_EQ(0, CMAPIWrapper::GetInitializeCount());
    LoggedMapiFixture::TearDown();
  }

  void SetMapix(DWORD type, const void* data, DWORD size) {
    profile_test::RegOwner key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSubsystem, 0, KEY_SET_VALUE, key.put()));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key.get(), u"MAPIX", 0, type, static_cast<const BYTE*>(data), size));
  }
  // Initialisation refused before MAPI is called, and nothing logged.
  void ExpectRefusedSilently() {
    standin::ArmFault("MAPIInitialize", MAPI_E_CALL_FAILED, 1000);  // only counts the calls
    EXPECT_EQ(0, CMAPIWrapper::RegisterMapiApp());
    EXPECT_EQ(0, CMAPIWrapper::InitializeMapi(MAPI_MODE_NORMAL));
    EXPECT_EQ(0, CMAPIWrapper::InitializeMapi(MAPI_MODE_SERVICE));
    EXPECT_EQ(0u, standin::FaultCallCount("MAPIInitialize"));
    EXPECT_EQ(0, CMAPIWrapper::GetInitializeCount());
    EXPECT_TRUE(LogLines().empty()) << LogText();
    standin::ClearFault("MAPIInitialize");
  }

  // "Outlook": Personal Folders (default), Archive, ARCHIVE (another file).
  void Populate() {
    Com<IMsgServiceAdmin> services;
    Services("Outlook", &services);
    AddPst(services.get(), WinPath("main.pst"), u"Personal Folders");
    AddPst(services.get(), WinPath("archive1.pst"), u"Archive", "MSPST MS");
    AddPst(services.get(), WinPath("archive2.pst"), u"ARCHIVE");
  }

  static std::string StorePath(IMsgStore* store) {
    Buffer<SPropValue> value;
    if (HrGetOneProp(store, PR_PST_PATH_W, value.put()) == S_OK) return standin::ToUtf8(value->Value.lpszW);
    if (HrGetOneProp(store, PR_DISPLAY_NAME_W, value.put()) == S_OK) return standin::ToUtf8(value->Value.lpszW);
    return "";
  }
  static std::string StoreName(IMsgStore* store) {
    Buffer<SPropValue> value;
    if (HrGetOneProp(store, PR_DISPLAY_NAME_W, value.put()) != S_OK) return "<none>";
    return standin::ToUtf8(value->Value.lpszW);
  }
};

// ---- registration and initialisation ----

TEST_F(CMAPIWrapperTest, RegistrationWritesTheAppValueAndInitialisationCounts) {
  EXPECT_EQ(1, CMAPIWrapper::RegisterMapiApp());
  profile_test::RegOwner key;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, kApps, 0, KEY_QUERY_VALUE, key.put()));
  WCHAR data[64] = {};
  DWORD type = 0, size = sizeof(data);
  ASSERT_EQ(ERROR_SUCCESS,
            RegQueryValueExW(key.get(), u"Corvane", nullptr, &type, reinterpret_cast<BYTE*>(data), &size));
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
  EXPECT_EQ(std::u16string(u"Microsoft Outlook"), data);
  EXPECT_EQ(sizeof(u"Microsoft Outlook"), size) << "the length includes the terminator";

  ASSERT_EQ(1, CMAPIWrapper::InitializeMapi(MAPI_MODE_NORMAL));
  EXPECT_EQ(1, CMAPIWrapper::GetInitializeCount());
  ASSERT_EQ(1, CMAPIWrapper::InitializeMapi(MAPI_MODE_SERVICE));
  EXPECT_EQ(2, CMAPIWrapper::GetInitializeCount());
  CMAPIWrapper::UninitializeMapi();
  CMAPIWrapper::UninitializeMapi();
  EXPECT_TRUE(LogLines().empty()) << LogText();
}

TEST_F(CMAPIWrapperTest, MapixMissingOrNotOneRefusesWithoutCallingMapi) {
  {
    profile_test::RegOwner key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSubsystem, 0, KEY_SET_VALUE, key.put()));
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteValueW(key.get(), u"MAPIX"));
  }
  ExpectRefusedSilently();
  SetMapix(REG_SZ, u"0", sizeof(u"0"));
  ExpectRefusedSilently();
  SetMapix(REG_SZ, u"10", sizeof(u"10"));  // longer than the five bytes read
  ExpectRefusedSilently();
  DWORD one = 1;
  SetMapix(REG_DWORD, &one, sizeof(one));
  ExpectRefusedSilently();
  SetMapix(REG_BINARY, u"1", 2);  // "1" without a terminator is still "1"
  EXPECT_EQ(1, CMAPIWrapper::RegisterMapiApp());
  ASSERT_EQ(ERROR_SUCCESS, RegDeleteTreeW(HKEY_LOCAL_MACHINE, kSubsystem));
  ExpectRefusedSilently();
}

TEST_F(CMAPIWrapperTest, AppsKeyThatCannotBeWrittenStillInitialises) {
  ASSERT_EQ(ERROR_SUCCESS, standin::SetRegistryKeyReadOnly(u"HKLM", kApps, true));
  EXPECT_EQ(1, CMAPIWrapper::RegisterMapiApp());
  ASSERT_EQ(1, CMAPIWrapper::InitializeMapi(MAPI_MODE_NORMAL));
  EXPECT_EQ(1, CMAPIWrapper::GetInitializeCount());
  profile_test::RegOwner key;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, kApps, 0, KEY_QUERY_VALUE, key.put()));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExW(key.get(), u"Corvane", nullptr, nullptr, nullptr, nullptr));
  CMAPIWrapper::UninitializeMapi();
  EXPECT_TRUE(LogLines().empty()) << LogText();
  ASSERT_EQ(ERROR_SUCCESS, standin::SetRegistryKeyReadOnly(u"HKLM", kApps, false));
}

TEST_F(CMAPIWrapperTest, OneTermTooManyIsReportedAndLeavesTheCountAtZero) {
  // The fixture holds one MAPI initialisation of its own.
  ASSERT_EQ(1, CMAPIWrapper::InitializeMapi(MAPI_MODE_NORMAL));
  ASSERT_EQ(1, CMAPIWrapper::InitializeMapi(MAPI_MODE_NORMAL));
  CMAPIWrapper::UninitializeMapi();
  CMAPIWrapper::UninitializeMapi();
  EXPECT_EQ(0, CMAPIWrapper::GetInitializeCount());
  EXPECT_TRUE(LogLines().empty());
  CMAPIWrapper::UninitializeMapi();
  EXPECT_EQ(0, CMAPIWrapper::GetInitializeCount());
  auto lines = LinesWith("Call Term too times.");
  ASSERT_EQ(1u, lines.size()) << LogText();
  EXPECT_EQ(0u, lines[0].rfind("ERROR: File:'.\\MAPIPack\\MAPIWrapper' Line: ", 0)) << lines[0];

  // MAPI was uninitialised exactly twice: the fixture's own initialisation is
  // still there, and one more MAPIUninitialize ends it.
  Com<IProfAdmin> admin;
  EXPECT_EQ(S_OK, MAPIAdminProfiles(0, admin.put()));
  admin.Reset();
  MAPIUninitialize();
  EXPECT_EQ(MAPI_E_NOT_INITIALIZED, MAPIAdminProfiles(0, admin.put()));
  ASSERT_EQ(S_OK, MAPIInitialize(nullptr));

  // A following pair works normally.
  ASSERT_EQ(1, CMAPIWrapper::InitializeMapi(MAPI_MODE_NORMAL));
  EXPECT_EQ(1, CMAPIWrapper::GetInitializeCount());
  CMAPIWrapper::UninitializeMapi();
  EXPECT_EQ(0, CMAPIWrapper::GetInitializeCount());
  EXPECT_EQ(1u, CountLines("Call Term too times."));
}

// Threads that call Term too often at the same moment cannot leave the count
// below zero, where every later Init and Term pair would be off by one. The log
// is off meanwhile, so that the calls overlap as closely as they can.
TEST_F(CMAPIWrapperTest, TermsTooManyOnThreadsAtOnceLeaveTheCountAtZero) {
  constexpr int kThreads = 4;
  constexpr int kCalls = 200000;
  const LogSettings saved = g_logSettings;
  g_logSettings.nMedia = 0;
  std::atomic<int> ready{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&] {
      ++ready;
      while (ready.load() < kThreads) std::this_thread::yield();
      for (int i = 0; i < kCalls; ++i) CMAPIWrapper::UninitializeMapi();
    });
  for (std::thread& t : threads) t.join();
  g_logSettings = saved;
  ASSERT_EQ(CMAPIWrapper::GetInitializeCount(), 0) << "below zero after Terms that overlapped";
  ASSERT_EQ(1, CMAPIWrapper::InitializeMapi(MAPI_MODE_NORMAL));
  EXPECT_EQ(1, CMAPIWrapper::GetInitializeCount());
  CMAPIWrapper::UninitializeMapi();
  EXPECT_EQ(0, CMAPIWrapper::GetInitializeCount());
}

TEST_F(CMAPIWrapperTest, FailedMapiInitializeIsFatalAndNotCounted) {
  standin::ArmFault("MAPIInitialize", MAPI_E_CALL_FAILED, 1);
  EXPECT_EQ(0, CMAPIWrapper::InitializeMapi(MAPI_MODE_NORMAL));
  EXPECT_EQ(0, CMAPIWrapper::GetInitializeCount());
  auto lines = LinesWith("Initinalize MAPI library failed. error: ");
  ASSERT_EQ(1u, lines.size()) << LogText();
  EXPECT_EQ(0u, lines[0].rfind("FATAL: File:'.\\MAPIPack\\MAPIWrapper' Line: ", 0)) << lines[0];
}

TEST_F(CMAPIWrapperTest, UnknownModeIsRefused) {
  standin::ArmFault("MAPIInitialize", MAPI_E_CALL_FAILED, 1000);
  EXPECT_EQ(0, CMAPIWrapper::InitializeMapi(2));
  EXPECT_EQ(0, CMAPIWrapper::InitializeMapi(-1));
  EXPECT_EQ(0u, standin::FaultCallCount("MAPIInitialize"));
  EXPECT_EQ(0, CMAPIWrapper::GetInitializeCount());
  EXPECT_EQ(2u, CountLines("ERROR: File:'.\\MAPIPack\\MAPIWrapper'")) << LogText();

  CMAPIWrapper wrapper;
  EXPECT_EQ(0, wrapper.Logon(u"Outlook", 7));
  EXPECT_EQ(1u, CountLines("unknown MAPI mode. type is: 7, profile name: Outlook")) << LogText();
}

// ---- logon ----

TEST_F(CMAPIWrapperTest, LogonInBothModesAndTheDestructorLogsOff) {
  Populate();
  standin::ArmFault("IMAPISession::Logoff", MAPI_E_CALL_FAILED, 1000);
  {
    CMAPIWrapper wrapper;
    ASSERT_EQ(1, wrapper.Logon(u"Outlook", MAPI_MODE_NORMAL));
    CMAPIWrapper service;
    ASSERT_EQ(1, service.Logon(u"Outlook", MAPI_MODE_SERVICE));
    Com<IMsgStore> store;
    *store.put() = service.OpenStoreByName(u"Personal Folders");
    EXPECT_NE(nullptr, store.get());
  }
  EXPECT_EQ(2u, standin::FaultCallCount("IMAPISession::Logoff"));
  EXPECT_TRUE(LogLines().empty()) << LogText();
}

TEST_F(CMAPIWrapperTest, LogonDropsTheOldSessionAlsoWhenTheNewLogonFails) {
  Populate();
  standin::ArmFault("IMAPISession::Logoff", MAPI_E_CALL_FAILED, 1000);
  CMAPIWrapper wrapper;
  ASSERT_EQ(1, wrapper.Logon(u"Outlook", MAPI_MODE_NORMAL));
  Com<IMsgStore> store;
  *store.put() = wrapper.OpenStoreByName(u"Personal Folders");
  ASSERT_NE(nullptr, store.get());
  store.Reset();

  EXPECT_EQ(0, wrapper.Logon(u"Nobody", MAPI_MODE_NORMAL));
  auto lines = LinesWith("MAPILogonEx failed. error: ");
  ASSERT_EQ(1u, lines.size()) << LogText();
  EXPECT_EQ(0u, lines[0].rfind("FATAL: File:'.\\MAPIPack\\MAPIWrapper' Line: ", 0)) << lines[0];
  EXPECT_NE(std::string::npos, lines[0].find(", type is: 0, profile name: Nobody")) << lines[0];
  // No session any more: nothing is opened, nothing looked up.
  EXPECT_EQ(nullptr, wrapper.OpenStoreByName(u"Personal Folders"));
  EXPECT_EQ(0u, CountLines("Not exist storage"));
  EXPECT_EQ(0u, standin::FaultCallCount("IMAPISession::Logoff")) << "a dropped session is released, not logged off";

  // A fault in MAPILogonEx is reported the same way.
  ASSERT_EQ(1, wrapper.Logon(u"Outlook", MAPI_MODE_NORMAL));
  standin::ArmFault("MAPILogonEx", MAPI_E_LOGON_FAILED, 1);
  EXPECT_EQ(0, wrapper.Logon(u"Outlook", MAPI_MODE_SERVICE));
  EXPECT_EQ(1u, CountLines("type is: 1, profile name: Outlook")) << LogText();
  EXPECT_EQ(nullptr, wrapper.OpenStoreByName(u"Personal Folders"));
}

TEST_F(CMAPIWrapperTest, NullProfileNameUsesTheDefaultProfileInNormalMode) {
  Populate();
  CMAPIWrapper wrapper;
  // No default profile is set: an empty name stands for nothing.
  EXPECT_EQ(0, wrapper.Logon(nullptr, MAPI_MODE_NORMAL));
  EXPECT_EQ(1u, CountLines("type is: 0, profile name: ")) << LogText();
  Com<IProfAdmin> admin;
  Admin(&admin);
  ASSERT_EQ(S_OK, admin->SetDefaultProfile(Narrow("Outlook"), 0));
  ASSERT_EQ(1, wrapper.Logon(nullptr, MAPI_MODE_NORMAL));
  Com<IMsgStore> store;
  *store.put() = wrapper.OpenStoreByName(u"personal folders");
  EXPECT_NE(nullptr, store.get());
}

TEST_F(CMAPIWrapperTest, ProfileNamesThatDoNotFitTheLogonBufferAreRefused) {
  standin::ArmFault("MAPILogonEx", MAPI_E_CALL_FAILED, 1000);  // counts the calls
  CMAPIWrapper wrapper;
  std::u16string tooLong(256, u'a');
  EXPECT_EQ(0, wrapper.Logon(tooLong.c_str(), MAPI_MODE_NORMAL));
  // 128 characters of two bytes each: 256 bytes, one too many.
  std::u16string wideTooLong(128, u'\u00e9');
  EXPECT_EQ(0, wrapper.Logon(wideTooLong.c_str(), MAPI_MODE_NORMAL));
  EXPECT_EQ(0u, standin::FaultCallCount("MAPILogonEx"));
  EXPECT_EQ(2u, CountLines("FATAL: File:'.\\MAPIPack\\MAPIWrapper'")) << LogText();

  // 255 bytes fit: the name reaches MAPI whole (and names no profile).
  std::u16string fits(255, u'a');
  EXPECT_EQ(0, wrapper.Logon(fits.c_str(), MAPI_MODE_NORMAL));
  EXPECT_EQ(1u, standin::FaultCallCount("MAPILogonEx"));
  EXPECT_EQ(1u, CountLines("MAPILogonEx failed. error: ")) << LogText();
}

// ---- opening a store by name ----

TEST_F(CMAPIWrapperTest, StoreNamesMatchWithoutRegardToCaseAndTheFirstWins) {
  Populate();
  CMAPIWrapper wrapper;
  ASSERT_EQ(1, wrapper.Logon(u"Outlook", MAPI_MODE_NORMAL));
  Com<IMsgStore> main;
  *main.put() = wrapper.OpenStoreByName(u"personal FOLDERS");
  ASSERT_NE(nullptr, main.get());
  EXPECT_EQ("Personal Folders", StoreName(main.get()));

  Com<IMsgStore> archive;
  *archive.put() = wrapper.OpenStoreByName(u"aRcHiVe");
  ASSERT_NE(nullptr, archive.get());
  EXPECT_EQ("Archive", StoreName(archive.get())) << "the first match in table order";
  Com<IMsgStore> again;
  *again.put() = wrapper.OpenStoreByName(u"ARCHIVE");
  ASSERT_NE(nullptr, again.get());
  EXPECT_EQ("Archive", StoreName(again.get()));
  EXPECT_TRUE(LogLines().empty()) << LogText();
}

TEST_F(CMAPIWrapperTest, AnUnknownNameIsReportedAndGivesNone) {
  Populate();
  CMAPIWrapper wrapper;
  ASSERT_EQ(1, wrapper.Logon(u"Outlook", MAPI_MODE_NORMAL));
  EXPECT_EQ(nullptr, wrapper.OpenStoreByName(u"Personal"));
  auto lines = LinesWith("Not exist storage, name: Personal");
  ASSERT_EQ(1u, lines.size()) << LogText();
  EXPECT_EQ(0u, lines[0].rfind("INFO: File:'.\\MAPIPack\\MAPIWrapper' Line: ", 0)) << lines[0];
  EXPECT_EQ(lines[0].size(), lines[0].find("Personal") + 8) << "the whole name ends the line";
}

TEST_F(CMAPIWrapperTest, AStoreWithoutDisplayNameMatchesOnlyTheEmptyName) {
  Com<IMsgServiceAdmin> services;
  Services("Outlook", &services);
  AddPst(services.get(), WinPath("main.pst"), u"Personal Folders");
  std::string nameless = AddPst(services.get(), WinPath("nameless.pst"), u"Nameless");
  // The provider section loses its display name: the store row shows none.
  std::string provider = ProviderUid(services.get(), nameless);
  {
    Com<IProfSect> section;
    ASSERT_EQ(S_OK, services->OpenProfileSection(reinterpret_cast<LPMAPIUID>(provider.data()), nullptr, MAPI_MODIFY,
                                                 section.put()));
    profile_test::Columns<1> tags{1, {PR_DISPLAY_NAME_W}};
    ASSERT_EQ(S_OK, section->DeleteProps(tags.get(), nullptr));
  }
  CMAPIWrapper wrapper;
  ASSERT_EQ(1, wrapper.Logon(u"Outlook", MAPI_MODE_NORMAL));
  EXPECT_EQ(nullptr, wrapper.OpenStoreByName(u"Nameless"));
  EXPECT_EQ(1u, CountLines("Not exist storage, name: Nameless"));
  // No name (as the catalog listing passes for an empty store name) and the
  // empty name both stand for the store without a name.
  Com<IMsgStore> none;
  *none.put() = wrapper.OpenStoreByName(nullptr);
  ASSERT_NE(nullptr, none.get());
  Buffer<SPropValue> id;
  ASSERT_EQ(S_OK, HrGetOneProp(none.get(), PR_RECORD_KEY, id.put()));
  Com<IMsgStore> empty;
  *empty.put() = wrapper.OpenStoreByName(u"");
  ASSERT_NE(nullptr, empty.get());
  Com<IMsgStore> main;
  *main.put() = wrapper.OpenStoreByName(u"Personal Folders");
  ASSERT_NE(nullptr, main.get());
  Buffer<SPropValue> mainId;
  ASSERT_EQ(S_OK, HrGetOneProp(main.get(), PR_RECORD_KEY, mainId.put()));
  EXPECT_NE(profile_test::UidOf(*id.get()), profile_test::UidOf(*mainId.get()));
}

TEST_F(CMAPIWrapperTest, OpenMsgStoreAnswersAreLoggedWarningsIncluded) {
  Populate();
  CMAPIWrapper wrapper;
  ASSERT_EQ(1, wrapper.Logon(u"Outlook", MAPI_MODE_NORMAL));

  // An error: none, and the call reported.
  standin::ArmFault("IMAPISession::OpenMsgStore", MAPI_E_CALL_FAILED, 1);
  EXPECT_EQ(nullptr, wrapper.OpenStoreByName(u"Archive"));
  EXPECT_TRUE(HasFailedCall("MAPIWrapper", kOpenMsgStoreText, "80004005")) << LogText();
  EXPECT_EQ(0u, CountLines("Not exist storage"));

  // A warning is a success: the store comes back, and the line is written.
  ClearLog();
  standin::ArmFault("IMAPISession::OpenMsgStore", MAPI_W_ERRORS_RETURNED, 1);
  IMsgStore* warned = wrapper.OpenStoreByName(u"Archive");
  ASSERT_NE(nullptr, warned);
  warned->Release();
  EXPECT_EQ(1u, LogLines().size()) << LogText();
  EXPECT_TRUE(HasFailedCall("MAPIWrapper", kOpenMsgStoreText, "40380")) << LogText();

  // A store whose file is gone is an error of its own.
  ClearLog();
  std::filesystem::remove(RootFile("archive1.pst"));
  EXPECT_EQ(nullptr, wrapper.OpenStoreByName(u"Archive"));
  EXPECT_TRUE(HasFailedCall("MAPIWrapper", kOpenMsgStoreText, "8004010f")) << LogText();
}

TEST_F(CMAPIWrapperTest, StoreTableFailuresGiveNoneWithoutALogLine) {
  Populate();
  CMAPIWrapper wrapper;
  ASSERT_EQ(1, wrapper.Logon(u"Outlook", MAPI_MODE_NORMAL));
  standin::ArmFault("IMAPISession::GetMsgStoresTable", MAPI_E_CALL_FAILED, 1);
  EXPECT_EQ(nullptr, wrapper.OpenStoreByName(u"Archive"));
  standin::ArmFault("IMAPITable::SetColumns", MAPI_E_CALL_FAILED, 1);
  EXPECT_EQ(nullptr, wrapper.OpenStoreByName(u"Archive"));
  EXPECT_TRUE(LogLines().empty()) << LogText();
  // A failing row read ends the search as "not there".
  standin::ArmFault("IMAPITable::QueryRows", MAPI_E_CALL_FAILED, 1);
  EXPECT_EQ(nullptr, wrapper.OpenStoreByName(u"Archive"));
  EXPECT_EQ(1u, CountLines("Not exist storage, name: Archive")) << LogText();
}

}  // namespace
