// The configuration in the registry, to and from files: the profiles through
// the registry editor, the account-list key through hive files, and the
// paths and file sets of the configuration exports.
#include <shellapi.h>

#include "config_support.h"
#include "outlookconfig/AccountKeys.h"
#include "outlookconfig/ConfigFiles.h"
#include "outlookconfig/OlProAcc.h"
#include "support/TokenAdapter.h"

namespace config_test {
namespace {

namespace fs = std::filesystem;

const std::string kUnit = "File:'.\\outlookconfig\\OlProAcc' Line: ";
const std::u16string kListKey = u"Software\\Microsoft\\Office\\Outlook\\Outlook 10 Accounts";

using RegistryConfigTest = ConfigMachine;

std::u16string ListKeyPath() {
  WCHAR path[MAX_PATH] = {};
  GetOutlook10AccountsKey(path);
  return path;
}

TEST_F(RegistryConfigTest, TheAccountListKeyFollowsTheProcessKind) {
  standin::SetMachineSetting("wow64", "0");
  EXPECT_EQ(u"Software\\Microsoft\\Office\\Outlook\\Outlook 10 Accounts", ListKeyPath());
  EXPECT_TRUE(LogLines().empty()) << LogText();
  standin::SetMachineSetting("wow64", "1");
  EXPECT_EQ(u"Software\\Wow6432node\\Microsoft\\Office\\Outlook\\Outlook 10 Accounts", ListKeyPath());
  EXPECT_EQ(1u, CountContaining("Run under 64bi os.")) << LogText();
}

TEST_F(RegistryConfigTest, AFailedHiveSaveIsLoggedWithItsCodeAndStillAnswersZero) {
  standin::ArmFault("RegSaveKeyExW", ERROR_DISK_FULL);
  std::string file = RootFile("list.hive");
  EXPECT_EQ(0, SaveOutlook10Accounts(Win(file).c_str()));
  EXPECT_FALSE(fs::exists(file));
  EXPECT_EQ(1u, CountContaining("ERROR: " + kUnit)) << LogText();
  EXPECT_EQ(1u, CountContaining(";  Could not save the key: " + N(kListKey.c_str()) + ", ERROR: 112")) << LogText();
  // A key that is not there is an error of its own.
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, SaveKeyToFile(u"Software\\Nowhere", Win(file).c_str()));
  EXPECT_EQ(1u, CountContaining("Could not open the key: Software\\Nowhere, ERROR: 2")) << LogText();
}

TEST_F(RegistryConfigTest, AHiveWrittenByWindowsRestoresTheList) {
  fs::path hive = testing_support::TestData() / "hive/hivex-special.hive";
  REQUIRE_TEST_DATA(fs::exists(hive));
  SetValue(HKEY_LOCAL_MACHINE, kListKey + u"\\00000001", u"Account Name", REG_BINARY, WideBytes("Gone"));
  TokenAdapter privilege;
  ASSERT_EQ(0u, privilege.EnablePrivilege(u"SeRestorePrivilege"));
  EXPECT_EQ(0, RestoreOutlook10Accounts(Win(hive.string()).c_str())) << LogText();
  privilege.RestorePrivileges();
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kListKey + u"\\00000001"));
  EXPECT_EQ(1u, CountContaining("restore The Path is: " + N(kListKey.c_str()))) << LogText();
}

TEST_F(RegistryConfigTest, ADamagedHiveChangesNothing) {
  SetValue(HKEY_LOCAL_MACHINE, kListKey + u"\\00000001", u"Account Name", REG_BINARY, WideBytes("Kept"));
  std::string file = RootFile("damaged.hive");
  testing_support::WriteFileBytes(file, "regf and nothing a hive needs");
  TokenAdapter privilege;
  ASSERT_EQ(0u, privilege.EnablePrivilege(u"SeRestorePrivilege"));
  int result = RestoreKeyFromFile(kListKey.c_str(), Win(file).c_str());
  privilege.RestorePrivileges();
  EXPECT_NE(0, result);
  EXPECT_NE(ERROR_PRIVILEGE_NOT_HELD, result);
  EXPECT_EQ(1u, CountContaining("Could not Load the key: " + N(kListKey.c_str()) + ", ERROR: " +
                                std::to_string(result)))
      << LogText();
  EXPECT_EQ(WideBytes("Kept"), Value(HKEY_LOCAL_MACHINE, kListKey + u"\\00000001", u"Account Name"));
}

TEST_F(RegistryConfigTest, DeliveryLocationsAreClearedFromEveryAccount) {
  ClearDeliveryEntryIDs();  // no account key: nothing at all
  EXPECT_TRUE(LogLines().empty()) << LogText();
  DWORD a = AddPop("home"), b = AddImap("lists");
  SetValue(HKEY_CURRENT_USER, AccountPath(a), u"Delivery Folder EntryID", REG_BINARY, "\x01\x02");
  SetValue(HKEY_CURRENT_USER, AccountPath(a), u"Delivery Store EntryID", REG_BINARY, "\x03\x04");
  SetValue(HKEY_CURRENT_USER, AccountPath(b), u"Delivery Store EntryID", REG_BINARY, "\x05");
  ClearDeliveryEntryIDs();
  for (DWORD id : {a, b}) {
    EXPECT_EQ("<missing>", Value(HKEY_CURRENT_USER, AccountPath(id), u"Delivery Folder EntryID"));
    EXPECT_EQ("<missing>", Value(HKEY_CURRENT_USER, AccountPath(id), u"Delivery Store EntryID"));
  }
  EXPECT_EQ(WideBytes("home@example.com"), Value(HKEY_CURRENT_USER, AccountPath(a), u"Email"));
  EXPECT_TRUE(LogLines().empty()) << LogText();
}

TEST_F(RegistryConfigTest, AnExistingProfileIsNeverImportedOver) {
  std::string file = RootFile("profiles.reg");
  ASSERT_EQ(0, ExportProfiles(Win(file).c_str()));
  standin::ArmFault("CreateProcessW", ERROR_ACCESS_DENIED, 1000);
  bool ran = false;
  EXPECT_EQ(CONFIG_PROFILE_EXISTS, ImportProfiles(Win(file).c_str(), &ran));
  EXPECT_FALSE(ran);
  EXPECT_EQ(0u, standin::FaultCallCount("CreateProcessW"));
  EXPECT_EQ(1u, CountContaining("INFO: " + kUnit)) << LogText();
  EXPECT_EQ(1u, CountContaining("Outlook configuration is already exist")) << LogText();
}

TEST_F(RegistryConfigTest, WithoutAProfileNothingIsExported) {
  Ok({"profile", "delete", "Outlook"});
  std::string file = RootFile("profiles.reg");
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, ExportProfiles(Win(file).c_str()));
  EXPECT_FALSE(fs::exists(file));
}

TEST_F(RegistryConfigTest, AnEditorThatCannotStartIsReported) {
  standin::ArmFault("ShellExecuteExW", ERROR_ACCESS_DENIED);
  std::string file = RootFile("profiles.reg");
  EXPECT_EQ(SE_ERR_ACCESSDENIED, ExportRegistryKey(u"HKEY_CURRENT_USER\\Software", Win(file).c_str()));
  EXPECT_EQ(1u, CountContaining("Export regisry failed. error:5")) << LogText();
  standin::ArmFault("CreateProcessW", ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(ERROR_NOT_ENOUGH_MEMORY, ImportRegistryFile(Win(file).c_str()));
  EXPECT_EQ(1u, CountContaining("Create processs failed. error:8")) << LogText();
}

// ---- paths and file sets ----

TEST_F(RegistryConfigTest, TheProfilesFileOfAFolderOrAFile) {
  std::string folder = RootFile("saved");
  fs::create_directories(folder);
  WCHAR file[MAX_PATH] = {};
  ASSERT_TRUE(ResolveConfigFile(Win(folder).c_str(), file));
  EXPECT_EQ(Win(folder) + u"\\olconfig.reg", std::u16string(file));
  ASSERT_TRUE(ResolveConfigFile((Win(folder) + u"\\").c_str(), file));
  EXPECT_EQ(Win(folder) + u"\\olconfig.reg", std::u16string(file));
  ASSERT_TRUE(ResolveConfigFile(u"Z:\\somewhere\\mine.reg", file));
  EXPECT_EQ(u"Z:\\somewhere\\mine.reg", std::u16string(file));
  EXPECT_FALSE(ResolveConfigFile(nullptr, file));
  std::u16string tooLong = u"Z:\\" + std::u16string(MAX_PATH, u'a') + u".reg";
  EXPECT_FALSE(ResolveConfigFile(tooLong.c_str(), file));
  EXPECT_EQ(u'\0', file[0]);
}

TEST_F(RegistryConfigTest, TypeAndFolderChecks) {
  EXPECT_TRUE(HasFileType(u"Z:\\a\\b.reg", u"reg"));
  EXPECT_TRUE(HasFileType(u"Z:\\a\\b.REG", u"reg"));
  EXPECT_TRUE(HasFileType(u"Z:\\a\\b.x.Pst", u"pst"));
  EXPECT_FALSE(HasFileType(u"Z:\\a\\b.reg.txt", u"reg"));
  EXPECT_FALSE(HasFileType(u"Z:\\a\\reg", u"reg"));
  EXPECT_FALSE(HasFileType(u"Z:\\a.reg\\b", u"reg"));
  EXPECT_TRUE(HasExistingFolder(Win(RootFile("x.reg")).c_str()));
  EXPECT_FALSE(HasExistingFolder(Win(RootFile("missing/x.reg")).c_str()));
  EXPECT_FALSE(HasExistingFolder(u"x.reg"));
  WCHAR hive[MAX_PATH] = {};
  ASSERT_TRUE(ReplaceFileName(u"Z:\\a\\olconfig.reg", u"oaconnect.reg", hive));
  EXPECT_EQ(u"Z:\\a\\oaconnect.reg", std::u16string(hive));
}

TEST_F(RegistryConfigTest, ASetOfFilesIsPutInPlaceWholeOrUndone) {
  std::string a = RootFile("a.reg"), b = RootFile("b.reg");
  testing_support::WriteFileBytes(a, "old a");
  {
    CReplacementFiles files;
    ASSERT_TRUE(files.Add(Win(a).c_str()));
    ASSERT_TRUE(files.Add(Win(b).c_str()));
    testing_support::WriteFileBytes(a + ".new", "new a");
    testing_support::WriteFileBytes(b + ".new", "new b");
    EXPECT_TRUE(files.IsWritten(0));
    // a in place, b in place fails: a comes back, b stays absent.
    standin::ArmFault("MoveFileExW", ERROR_SHARING_VIOLATION, 2);
    size_t failed = 99;
    EXPECT_FALSE(files.Commit(&failed));
    EXPECT_EQ(1u, failed);
    EXPECT_EQ(ERROR_SHARING_VIOLATION, GetLastError());
    EXPECT_EQ("old a", testing_support::ReadFileBytes(a));
    EXPECT_FALSE(fs::exists(b));
  }
  // The temporaries went with the set.
  EXPECT_FALSE(fs::exists(a + ".new"));
  EXPECT_FALSE(fs::exists(b + ".new"));
  EXPECT_FALSE(fs::exists(a + ".old"));

  standin::ClearAllFaults();
  CReplacementFiles files;
  ASSERT_TRUE(files.Add(Win(a).c_str()));
  ASSERT_TRUE(files.Add(Win(b).c_str()));
  testing_support::WriteFileBytes(a + ".new", "new a");
  testing_support::WriteFileBytes(b + ".new", "new b");
  size_t failed = 99;
  ASSERT_TRUE(files.Commit(&failed));
  EXPECT_EQ("new a", testing_support::ReadFileBytes(a));
  EXPECT_EQ("new b", testing_support::ReadFileBytes(b));
  EXPECT_FALSE(fs::exists(a + ".old"));
  EXPECT_FALSE(fs::exists(a + ".new"));
}

}  // namespace
}  // namespace config_test
