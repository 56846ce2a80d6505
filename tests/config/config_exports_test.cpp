// Saving the mail client's configuration into "olconfig.reg" and
// "oaconnect.reg" and restoring it for a user who has no profile "Outlook".
#include <signal.h>

#include <standin/mapi.h>

#include "config_support.h"

namespace config_test {
namespace {

namespace fs = std::filesystem;

const std::u16string kListKey = u"Software\\Microsoft\\Office\\Outlook\\Outlook 10 Accounts";
const std::u16string kListKey64 = u"Software\\Wow6432Node\\Microsoft\\Office\\Outlook\\Outlook 10 Accounts";
const std::string kFacade2 = "File:'.\\OutlookFacade2' Line: ";

class ConfigExportsTest : public ConfigMachine {
 protected:
  void SetUp() override {
    ConfigMachine::SetUp();
    saved = RootFile("saved");
    fs::create_directories(saved);
  }
  int Backup(const std::string& path) { return BOutlookConfig(Win(path).c_str()); }
  int Restore(const std::string& path) { return ROutlookConfig(Win(path).c_str()); }
  std::string Profiles() const { return testing_support::ReadFileBytes(saved + "/olconfig.reg"); }
  std::string Hive() const { return testing_support::ReadFileBytes(saved + "/oaconnect.reg"); }
  // Only the pair itself is in the folder: no temporaries, nothing set aside.
  std::vector<std::string> SavedFiles() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(saved)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  // A machine worth saving: two personal-folders stores, an IMAP store, a
  // second profile and a value in the account-list key.
  void Arrange() {
    mailPath = AddPst("mail.pst", "Mail", true);
    AddPst("archive.pst", "Archive");
    Ok({"service", "add", "Outlook", "--type", "imap", "--name", "Lists"});
    Ok({"profile", "create", "Second"});
    SetValue(HKEY_LOCAL_MACHINE, kListKey + u"\\00000001", u"Account Name", REG_BINARY, WideBytes("Home"));
  }
  // The one personal-folders store of the restored profile is the default, at
  // a fresh file in this user's documents, and no IMAP store is left.
  void ExpectTidiedProfile() {
    std::string fresh = NewUserFile("Users/user/Documents/Outlook Files/Outlook.pst");
    std::vector<std::string> paths;
    for (const auto& s : Services()) {
      EXPECT_NE("INTERSTOR", s.service) << s.displayName;
      if (!s.path.empty()) paths.push_back(s.path);
    }
    EXPECT_EQ(std::vector<std::string>{N(Win(fresh).c_str())}, paths) << ProfileList();
  }
  // The machine saved, then restored for a new user with call failing: the
  // restore fails after its import.
  void FailARestoreForANewUser(const std::string& call) {
    Arrange();
    ASSERT_EQ(0, Backup(saved)) << LogText();
    MoveToNewUser();
    standin::ArmFault(call, MAPI_E_CALL_FAILED);
    EXPECT_NE(0, Restore(saved));
    standin::ClearAllFaults();
  }
  std::string saved, mailPath;
};

const std::vector<std::string> kPair = {"oaconnect.reg", "olconfig.reg"};

TEST_F(ConfigExportsTest, RoundTripToANewUser) {
  Arrange();
  DWORD pop = AddPop("Home");
  AddImap("Lists");
  AddHttp("Web");
  AddExchange("Work");
  for (DWORD id : AccountIds()) {
    SetValue(HKEY_CURRENT_USER, AccountPath(id), u"Delivery Folder EntryID", REG_BINARY, "\x01\x02\x03\x04");
    SetValue(HKEY_CURRENT_USER, AccountPath(id), u"Delivery Store EntryID", REG_BINARY, "\x05\x06");
  }
  ASSERT_EQ(0, Backup(saved)) << LogText();
  EXPECT_EQ(kPair, SavedFiles());

  MoveToNewUser();
  ASSERT_FALSE(HasProfile("Outlook"));
  ASSERT_EQ(0, Restore(saved)) << LogText();

  EXPECT_TRUE(HasProfile("Outlook"));
  EXPECT_TRUE(HasProfile("Second"));
  // Only the POP3 account remains, without its delivery location.
  ASSERT_EQ(std::vector<DWORD>{pop}, AccountIds());
  EXPECT_EQ("<missing>", Value(HKEY_CURRENT_USER, AccountPath(pop), u"Delivery Folder EntryID"));
  EXPECT_EQ("<missing>", Value(HKEY_CURRENT_USER, AccountPath(pop), u"Delivery Store EntryID"));
  EXPECT_EQ(WideBytes("Home@example.com"), Value(HKEY_CURRENT_USER, AccountPath(pop), u"Email"));
  // No IMAP store; one personal-folders store, the default, at a fresh file
  // in this user's documents.
  std::string fresh = NewUserFile("Users/user/Documents/Outlook Files/Outlook.pst");
  std::vector<testing_support::ServiceRow> services = Services();
  for (const auto& s : services) EXPECT_NE("INTERSTOR", s.service) << s.displayName;
  ASSERT_EQ(1u, std::count_if(services.begin(), services.end(), [](const auto& s) { return !s.path.empty(); }))
      << ProfileList();
  for (const auto& s : services) {
    if (s.path.empty()) continue;
    EXPECT_TRUE(s.isDefault);
    EXPECT_EQ(N(Win(fresh).c_str()), s.path);
  }
  EXPECT_TRUE(fs::is_regular_file(fresh));
  // The account list is what was saved.
  EXPECT_EQ(WideBytes("Home"), Value(HKEY_LOCAL_MACHINE, kListKey + u"\\00000001", u"Account Name"));
  EXPECT_TRUE(HasLine("INFO: " + kFacade2 + "354;  <!--DeleteMinorFile-->")) << LogText();
  EXPECT_TRUE(HasLine("INFO: " + kFacade2 + "393;  szPath is: " + N(Win(fresh).c_str()))) << LogText();
}

TEST_F(ConfigExportsTest, TheProfilesFileIsARegistryEditorExportThatImportsElsewhere) {
  Arrange();
  ASSERT_EQ(0, Backup(saved)) << LogText();
  std::string bytes = Profiles();
  const std::u16string header = u"\xFEFFWindows Registry Editor Version 5.00\r\n\r\n";
  ASSERT_GT(bytes.size(), header.size() * 2);
  ASSERT_EQ(0u, bytes.size() % 2);
  std::u16string text(bytes.size() / 2, u'\0');
  std::memcpy(text.data(), bytes.data(), bytes.size());
  EXPECT_EQ(header, text.substr(0, header.size()));
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'\n') {
      ASSERT_TRUE(i > 0 && text[i - 1] == u'\r') << "a line ends without CR at " << i;
    }
  }
  EXPECT_NE(std::u16string::npos,
            text.find(u"\r\n[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows Messaging "
                      u"Subsystem\\Profiles\\Outlook]\r\n"));

  // The system's editor imports it on another machine.
  MoveToNewUser();
  std::string editor = NewUserFile("Windows/regedit.exe");
  testing_support::ChildResult r = testing_support::RunChild({editor, "/s", saved + "/olconfig.reg"});
  EXPECT_EQ(0, r.exitCode) << r.output;
  EXPECT_TRUE(HasProfile("Outlook"));
  EXPECT_TRUE(HasProfile("Second"));
}

TEST_F(ConfigExportsTest, AnExistingFolderGetsBothFilesReplacingOlderCopies) {
  Arrange();
  testing_support::WriteFileBytes(saved + "/olconfig.reg", "old");
  testing_support::WriteFileBytes(saved + "/oaconnect.reg", "old");
  EXPECT_EQ(0, Backup(saved + "/")) << LogText();
  EXPECT_EQ(kPair, SavedFiles());
  EXPECT_NE("old", Profiles());
  EXPECT_EQ("regf", Hive().substr(0, 4));
  // A ".reg" file of the user's choice, upper case passing the type check.
  EXPECT_EQ(0, Backup(saved + "/Mine.REG")) << LogText();
  EXPECT_TRUE(fs::is_regular_file(saved + "/Mine.REG"));
}

TEST_F(ConfigExportsTest, BadPathsAreRefusedWithTheirLines) {
  EXPECT_EQ(1, Backup(saved + "/config.txt"));
  EXPECT_TRUE(HasLine("ERROR: " + kFacade2 + "254;  file type is invalid: " + N(Win(saved + "/config.txt").c_str())))
      << LogText();
  EXPECT_EQ(1, Backup(RootFile("missing/olconfig.reg")));
  EXPECT_TRUE(HasLine("ERROR: " + kFacade2 + "259;  A invalid path: " + N(Win(RootFile("missing/olconfig.reg")).c_str())))
      << LogText();
  // The hive's own name would overwrite the export.
  EXPECT_EQ(1, Backup(saved + "/oaconnect.reg"));
  EXPECT_EQ(1, Restore(saved + "/config.txt"));
  EXPECT_TRUE(HasLine("ERROR: " + kFacade2 + "317;  file type is invalid: " + N(Win(saved + "/config.txt").c_str())))
      << LogText();
  EXPECT_EQ(1, Restore(saved));
  EXPECT_TRUE(HasLine("ERROR: " + kFacade2 + "322;  The file is not exist: " + N(Win(saved + "/olconfig.reg").c_str())))
      << LogText();
  EXPECT_TRUE(SavedFiles().empty());
  // A pattern or a device is refused where the path is read, named as given.
  for (std::u16string path : {Win(saved) + u"\\*.reg", std::u16string(u"\\\\.\\pipe\\x.reg")}) {
    ClearLog();
    EXPECT_EQ(1, BOutlookConfig(path.c_str()));
    EXPECT_EQ(1, ROutlookConfig(path.c_str()));
    EXPECT_EQ(2u, CountContaining("A invalid path: " + N(path.c_str()))) << LogText();
    EXPECT_EQ(0u, CountContaining("file type is invalid")) << LogText();
  }
}

TEST_F(ConfigExportsTest, NoArgumentLogsOnlyTheOpeningLines) {
  EXPECT_EQ(1, BOutlookConfig(nullptr));
  EXPECT_EQ(1, ROutlookConfig(nullptr));
  EXPECT_EQ((std::vector<std::string>{"INFO: " + kFacade2 + "242;  <!---BOutlookConfig-->",
                                      "INFO: " + kFacade2 + "243;  \tszPath is: ",
                                      "INFO: " + kFacade2 + "305;  <!---ROutlookConfig-->",
                                      "INFO: " + kFacade2 + "306;  \tszPath is: "}),
            LogLines());
}

TEST_F(ConfigExportsTest, AUserWithAProfileKeepsItUntouched) {
  Arrange();
  AddImap("Lists");
  ASSERT_EQ(0, Backup(saved));
  std::vector<DWORD> accounts = AccountIds();
  std::string services = Ok({"service", "list", "Outlook"});
  ClearLog();
  EXPECT_EQ(0, Restore(saved));
  EXPECT_EQ(1u, CountContaining("Outlook configuration is already exist")) << LogText();
  EXPECT_EQ(0u, CountContaining("DeleteMinorFile")) << LogText();
  EXPECT_EQ(accounts, AccountIds());
  EXPECT_EQ(services, Ok({"service", "list", "Outlook"}));
}

TEST_F(ConfigExportsTest, WithoutAProfileThereIsNothingToSave) {
  Ok({"profile", "delete", "Outlook"});
  EXPECT_EQ(1, Backup(saved));
  EXPECT_TRUE(SavedFiles().empty());
}

// ---- the account-list key in both branches ----

TEST_F(ConfigExportsTest, AThirtyTwoBitProcessOnSixtyFourBitWindowsUsesItsOwnBranch) {
  standin::SetMachineSetting("wow64", "1");
  Ok({"install"});
  SetValue(HKEY_LOCAL_MACHINE, kListKey64 + u"\\00000001", u"Account Name", REG_BINARY, WideBytes("Wow"));
  SetValue(HKEY_LOCAL_MACHINE, kListKey + u"\\00000001", u"Account Name", REG_BINARY, WideBytes("Native"));
  ASSERT_EQ(0, Backup(saved)) << LogText();
  EXPECT_EQ(1u, CountContaining("Run under 64bi os.")) << LogText();
  EXPECT_EQ(1u, CountContaining("save The Path is: Software\\Wow6432node\\Microsoft\\Office\\Outlook\\Outlook 10 "
                                "Accounts"))
      << LogText();

  MoveToNewUser("wow64", "1");
  ASSERT_EQ(0, Restore(saved)) << LogText();
  EXPECT_EQ(WideBytes("Wow"), Value(HKEY_LOCAL_MACHINE, kListKey64 + u"\\00000001", u"Account Name"));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kListKey + u"\\00000001"));
}

TEST_F(ConfigExportsTest, ElsewhereTheListIsBelowSoftware) {
  standin::SetMachineSetting("wow64", "0");
  SetValue(HKEY_LOCAL_MACHINE, kListKey + u"\\00000001", u"Account Name", REG_BINARY, WideBytes("Native"));
  ASSERT_EQ(0, Backup(saved)) << LogText();
  EXPECT_EQ(0u, CountContaining("Run under 64bi os.")) << LogText();

  // A machine whose list key went missing gets it back.
  MoveToNewUser("wow64", "0");
  ASSERT_EQ(ERROR_SUCCESS, RegDeleteTreeW(HKEY_LOCAL_MACHINE, kListKey.c_str()));
  ASSERT_EQ(0, Restore(saved)) << LogText();
  EXPECT_EQ(WideBytes("Native"), Value(HKEY_LOCAL_MACHINE, kListKey + u"\\00000001", u"Account Name"));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kListKey64));
}

// ---- faults ----

TEST_F(ConfigExportsTest, WithoutTheRegistryEditorNothingIsSavedOrRestored) {
  Arrange();
  ASSERT_EQ(0, Backup(saved));
  std::string profiles = Profiles(), hive = Hive();
  fs::remove(RootFile("Windows/regedit.exe"));
  EXPECT_EQ(1, Backup(saved));
  EXPECT_EQ(1u, CountContaining("Export regisry failed. error:2")) << LogText();
  EXPECT_TRUE(profiles == Profiles()) << "the profiles export changed";
  EXPECT_TRUE(hive == Hive()) << "the hive changed";
  EXPECT_EQ(kPair, SavedFiles());
  // Started, but handed to a program already running: no process to wait for.
  standin::ArmFault("ShellExecuteExW", ERROR_SUCCESS);
  EXPECT_EQ(1, Backup(saved));
  EXPECT_EQ(1u, CountContaining("Export regisry failed. error:6")) << LogText();
  standin::ClearAllFaults();
  EXPECT_TRUE(profiles == Profiles()) << "the profiles export changed";

  MoveToNewUser();
  fs::remove(NewUserFile("Windows/regedit.exe"));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, Restore(saved));
  EXPECT_EQ(1u, CountContaining("Create processs failed. error:2")) << LogText();
  EXPECT_FALSE(HasProfile("Outlook"));
}

// A restore that did not go through (here its default store could not be set;
// a killed host is the same) is done again by the next one, from the files,
// instead of the half-made profile being taken for the user's own.
TEST_F(ConfigExportsTest, ARestoreThatDidNotGoThroughIsDoneAgain) {
  FailARestoreForANewUser("IMsgServiceAdmin::ConfigureMsgService");
  ASSERT_TRUE(HasProfile("Outlook"));

  ASSERT_EQ(0, Restore(saved)) << LogText();
  EXPECT_EQ(1u, CountContaining("Removing the profile of an interrupted restore: Outlook")) << LogText();
  EXPECT_EQ(0u, CountContaining("Outlook configuration is already exist")) << LogText();
  ExpectTidiedProfile();
  EXPECT_TRUE(HasProfile("Second"));

  // Once through, the profile is the user's: a third restore leaves it.
  ASSERT_EQ(0, Restore(saved)) << LogText();
  EXPECT_EQ(1u, CountContaining("Outlook configuration is already exist")) << LogText();
  EXPECT_EQ(1u, CountContaining("Removing the profile of an interrupted restore")) << LogText();
}

// A failed restore's profile is replaced by the next restore only as that
// restore left it: once the user has used it, or made a profile of his own
// after a restore that never imported, the profile is the user's.
TEST_F(ConfigExportsTest, AProfileTheUserHasTouchedSinceIsNeverRemoved) {
  FailARestoreForANewUser("IMsgServiceAdmin::ConfigureMsgService");
  Ok({"service", "add", "Outlook", "--type", "contab", "--name", "Book"});
  ClearLog();
  EXPECT_EQ(0, Restore(saved)) << LogText();
  EXPECT_EQ(1u, CountContaining("Outlook configuration is already exist")) << LogText();
  EXPECT_NE(std::string::npos, Ok({"service", "list", "Outlook"}).find("Book"));

  // A mark without the profile's token: the profile is the user's.
  Ok({"profile", "delete", "Outlook"});
  Ok({"profile", "create", "Outlook"});
  SetValue(HKEY_CURRENT_USER, u"Software\\Corvane", u"Configuration restore", REG_SZ, WideBytes("x.reg"));
  SetValue(HKEY_CURRENT_USER, u"Software\\Corvane", u"Configuration restore token", REG_SZ, WideBytes("T"));
  EXPECT_EQ(0, Restore(saved)) << LogText();
  EXPECT_EQ(0u, CountContaining("Removing the profile")) << LogText();
  EXPECT_EQ("<missing>", Value(HKEY_CURRENT_USER, u"Software\\Corvane", u"Configuration restore"));
}

// The profile table is not what tells an interrupted restore's profile: an
// unreadable one does not make the restore pass for done.
TEST_F(ConfigExportsTest, AnInterruptedRestoreIsRedoneWithoutTheProfileTable) {
  FailARestoreForANewUser("IMsgServiceAdmin::ConfigureMsgService");
  standin::ArmFault("IProfAdmin::GetProfileTable", MAPI_E_CALL_FAILED);
  EXPECT_EQ(0, Restore(saved)) << LogText();
  EXPECT_EQ(1u, CountContaining("Removing the profile of an interrupted restore")) << LogText();
  standin::ClearAllFaults();
  ExpectTidiedProfile();
}

// Nothing is imported before both files are there, and a restore whose mark
// cannot be cleared has not gone through.
TEST_F(ConfigExportsTest, ARestoreChecksBothFilesAndEndsItsMark) {
  Arrange();
  ASSERT_EQ(0, Backup(saved)) << LogText();
  MoveToNewUser();
  fs::rename(saved + "/oaconnect.reg", saved + "/kept");
  EXPECT_EQ(1, Restore(saved));
  EXPECT_EQ(1u, CountContaining("The file is not exist: " + N(Win(saved + "/oaconnect.reg").c_str()))) << LogText();
  EXPECT_FALSE(HasProfile("Outlook"));
  fs::rename(saved + "/kept", saved + "/oaconnect.reg");

  // The restore's last value deletions are the mark's: the token in the
  // profile, then the four values of the mark itself.
  standin::ArmFault("RegDeleteValueW", ERROR_ACCESS_DENIED, 100000);
  ASSERT_EQ(0, Restore(saved)) << LogText();
  const unsigned deletions = standin::FaultCallCount("RegDeleteValueW");
  ASSERT_GT(deletions, 5u);
  MoveToNewUser();
  standin::ArmFault("RegDeleteValueW", ERROR_ACCESS_DENIED, deletions - 4);
  EXPECT_EQ(ERROR_ACCESS_DENIED, Restore(saved)) << LogText();
  standin::ClearAllFaults();
  EXPECT_EQ(1u, CountContaining("Could not clear the restore mark, ERROR: 5")) << LogText();
  EXPECT_NE("<missing>", Value(HKEY_CURRENT_USER, u"Software\\Corvane", u"Configuration restore"));
}

// Tidying that fails keeps the restored profile but is no clean restore; the
// next restore, with nothing changed since, does it again whole.
TEST_F(ConfigExportsTest, ATidyStepThatFailsIsReported) {
  Arrange();
  AddImap("Lists");
  ASSERT_EQ(0, Backup(saved)) << LogText();
  MoveToNewUser();
  standin::ArmFault("CoCreateInstance", REGDB_E_CLASSNOTREG);
  EXPECT_EQ(101, Restore(saved)) << LogText();
  standin::ClearAllFaults();
  EXPECT_EQ(1u, CountContaining("The accounts that are not POP3 could not be removed, error:1")) << LogText();
  EXPECT_TRUE(HasProfile("Outlook"));
  EXPECT_EQ(1u, AccountIds().size()) << "the IMAP account stays";
  ASSERT_EQ(0, Restore(saved)) << LogText();
  EXPECT_EQ(0u, AccountIds().size());
  ExpectTidiedProfile();
}

// Stopped after it made the new user's default store file, a restore done
// again sets that file up as the first one would have, not as a file of the
// user's found there.
TEST_F(ConfigExportsTest, ARestoreDoneAgainTakesTheFileItMadeForItsOwn) {
  FailARestoreForANewUser("IMsgServiceAdmin::DeleteMsgService");
  ASSERT_TRUE(fs::is_regular_file(NewUserFile("Users/user/Documents/Outlook Files/Outlook.pst")));

  ASSERT_EQ(0, Restore(saved)) << LogText();
  ExpectTidiedProfile();
  for (const auto& s : Services()) {
    if (s.path.empty()) continue;
    EXPECT_EQ("Personal Folders", s.displayName);
  }
}

// A registry editor that dies in the middle of the import leaves part of the
// profiles behind: the restore fails, and the next one restores them whole.
TEST_F(ConfigExportsTest, AnEditorThatDiesInTheImportFailsTheRestore) {
  Arrange();
  ASSERT_EQ(0, Backup(saved)) << LogText();
  MoveToNewUser();
  std::string editor = NewUserFile("Windows/regedit.exe"), real = NewUserFile("Windows/regedit-real");
  fs::rename(editor, real);
  testing_support::WriteFileBytes(editor, "#!/bin/sh\nCORVANE_FAULTS='RegSetValueExW=kill@6' exec '" + real +
                                              "' \"$@\"\n");
  fs::permissions(editor, fs::perms::owner_all);
  EXPECT_EQ(128 + SIGKILL, Restore(saved)) << LogText();
  EXPECT_EQ(1u, CountContaining("The registry editor failed. exit code:137")) << LogText();
  EXPECT_EQ(0u, CountContaining("DeleteMinorFile")) << "nothing is tidied";

  fs::remove(editor);
  fs::rename(real, editor);
  ASSERT_EQ(0, Restore(saved)) << LogText();
  ExpectTidiedProfile();
  EXPECT_TRUE(HasProfile("Second"));
  EXPECT_EQ(WideBytes("Home"), Value(HKEY_LOCAL_MACHINE, kListKey + u"\\00000001", u"Account Name"));
}

TEST_F(ConfigExportsTest, APrivilegeThatCannotBeEnabledStopsBeforeAnyFile) {
  Arrange();
  standin::ArmFault("AdjustTokenPrivileges", ERROR_ACCESS_DENIED);
  EXPECT_EQ(1, Backup(saved));
  EXPECT_TRUE(SavedFiles().empty());
  EXPECT_EQ(1u, CountContaining("Could not adjust the the privilege for name: SeBackupPrivilege, Error:5"))
      << LogText();
  standin::ClearAllFaults();
  ASSERT_EQ(0, Backup(saved));

  MoveToNewUser();
  standin::ArmFault("AdjustTokenPrivileges", ERROR_ACCESS_DENIED);
  EXPECT_EQ(1, Restore(saved));
  EXPECT_FALSE(HasProfile("Outlook"));
}

TEST_F(ConfigExportsTest, ATokenWithoutThePrivilegeSavesNoHiveAndKeepsThePreviousPair) {
  // The token's privileges are fixed before it is first used.
  standin::SetMachineSetting("privileges", "SeRestorePrivilege");
  Arrange();
  testing_support::WriteFileBytes(saved + "/olconfig.reg", "earlier profiles");
  testing_support::WriteFileBytes(saved + "/oaconnect.reg", "earlier hive");
  EXPECT_EQ(1, Backup(saved));
  EXPECT_EQ(1u, CountContaining("Could not save the key: Software\\Microsoft\\Office\\Outlook\\Outlook 10 Accounts, "
                                "ERROR: 1314"))
      << LogText();
  EXPECT_EQ("earlier profiles", Profiles());
  EXPECT_EQ("earlier hive", Hive());
  EXPECT_EQ(kPair, SavedFiles());
}

TEST_F(ConfigExportsTest, AFailedSecondBackupLeavesTheFirstPairByteForByte) {
  Arrange();
  ASSERT_EQ(0, Backup(saved));
  const std::string profiles = Profiles(), hive = Hive();
  Ok({"profile", "create", "Third"});

  // The hive cannot be written.
  standin::ArmFault("RegSaveKeyExW", ERROR_DISK_FULL);
  EXPECT_EQ(1, Backup(saved));
  EXPECT_EQ(1u, CountContaining("Could not save the key: Software\\Microsoft\\Office\\Outlook\\Outlook 10 Accounts, "
                                "ERROR: 112"))
      << LogText();
  // Refused before any file was moved.
  EXPECT_EQ(0u, CountContaining("Could not delete the file")) << LogText();
  standin::ClearAllFaults();
  // The editor ends without writing anything, beside what an interrupted
  // earlier run left under the temporary name.
  std::string editor = RootFile("Windows/regedit.exe");
  fs::remove(editor);
  testing_support::WriteFileBytes(editor, "#!/bin/sh\nexit 0\n");
  fs::permissions(editor, fs::perms::owner_all);
  testing_support::WriteFileBytes(saved + "/olconfig.reg.new", "left by an interrupted run");
  EXPECT_EQ(1, Backup(saved));
  EXPECT_EQ(1u, CountContaining("Export regisry failed. error:2")) << LogText();
  // The editor fails.
  testing_support::WriteFileBytes(editor, "#!/bin/sh\nexit 1\n");
  EXPECT_EQ(1, Backup(saved));
  EXPECT_EQ(1u, CountContaining("Export regisry failed. error:1")) << LogText();
  // No profile any more.
  Ok({"profile", "delete", "Outlook"});
  EXPECT_EQ(1, Backup(saved));

  EXPECT_TRUE(profiles == Profiles()) << "the profiles export changed";
  EXPECT_TRUE(hive == Hive()) << "the hive changed";
  EXPECT_EQ(kPair, SavedFiles());
}

TEST_F(ConfigExportsTest, APairIsReplacedWholeOrNotAtAll) {
  Arrange();
  ASSERT_EQ(0, Backup(saved));
  const std::string profiles = Profiles(), hive = Hive();
  Ok({"profile", "create", "Third"});
  // The new export takes its place, then the hive cannot take its own.
  standin::ArmFault("MoveFileExW", ERROR_SHARING_VIOLATION, 2);
  EXPECT_EQ(1, Backup(saved));
  EXPECT_TRUE(HasLine("ERROR: " + kFacade2 + "285;  Could not delete the file:" +
                      N(Win(saved + "/oaconnect.reg").c_str()) + ",Error:32"))
      << LogText();
  EXPECT_TRUE(profiles == Profiles()) << "the profiles export changed";
  EXPECT_TRUE(hive == Hive()) << "the hive changed";
  EXPECT_EQ(kPair, SavedFiles());
  standin::ClearAllFaults();
  ASSERT_EQ(0, Backup(saved));
  const std::string newProfiles = Profiles(), newHive = Hive();
  EXPECT_FALSE(profiles == newProfiles);
  EXPECT_EQ(kPair, SavedFiles());

  // A save stopped between its two moves: the restore reads the new pair,
  // completed from the hive's temporary.
  testing_support::WriteFileBytes(saved + "/oaconnect.reg.new", newHive);
  testing_support::WriteFileBytes(saved + "/oaconnect.reg", hive);
  MoveToNewUser();
  ASSERT_EQ(0, Restore(saved)) << LogText();
  EXPECT_TRUE(HasProfile("Third"));
  EXPECT_TRUE(newHive == Hive());
  EXPECT_EQ(kPair, SavedFiles());

  // An earlier version stopped with the old pair set aside and one new file
  // in: the old pair comes back, and a failed save leaves it.
  fs::rename(saved + "/olconfig.reg", saved + "/olconfig.reg.old");
  fs::rename(saved + "/oaconnect.reg", saved + "/oaconnect.reg.old");
  testing_support::WriteFileBytes(saved + "/olconfig.reg", "new, alone");
  standin::ArmFault("RegSaveKeyExW", ERROR_DISK_FULL);
  EXPECT_EQ(1, Backup(saved));
  EXPECT_TRUE(newProfiles == Profiles());
  EXPECT_TRUE(newHive == Hive());
  EXPECT_EQ(kPair, SavedFiles());
}

TEST_F(ConfigExportsTest, AFaultInsideTheWorkIsAResultNotACrash) {
  UnreadablePage page;
  EXPECT_EQ(100, BOutlookConfig(page.Text()));
  EXPECT_EQ(100, ROutlookConfig(page.Text()));
  EXPECT_TRUE(HasLine("ERROR: " + kFacade2 + "373;  occured a crash in ROutlookConfig")) << LogText();
}

TEST_F(ConfigExportsTest, WithoutOutlookFilesInTheDocumentsTheStoreGoesToApplicationData) {
  Arrange();
  ASSERT_EQ(0, Backup(saved));
  MoveToNewUser();
  standin::ArmFault("SHCreateDirectoryExW", ERROR_ACCESS_DENIED);
  ASSERT_EQ(0, Restore(saved)) << LogText();
  std::string fallback = NewUserFile("Users/user/AppData/Roaming/Outlook.pst");
  bool found = false;
  for (const auto& s : Services())
    if (!s.path.empty()) found = found || (s.isDefault && s.path == N(Win(fallback).c_str()));
  EXPECT_TRUE(found) << Ok({"service", "list", "Outlook"});
  EXPECT_FALSE(fs::exists(NewUserFile("Users/user/Documents/Outlook Files")));
}

TEST_F(ConfigExportsTest, AnOutlookFilesFolderThatExistsAlreadyTakesTheStore) {
  Arrange();
  ASSERT_EQ(0, Backup(saved));
  MoveToNewUser();
  fs::create_directories(NewUserFile("Users/user/Documents/Outlook Files"));
  ASSERT_EQ(0, Restore(saved)) << LogText();
  std::string fresh = NewUserFile("Users/user/Documents/Outlook Files/Outlook.pst");
  bool found = false;
  for (const auto& s : Services()) found = found || (s.isDefault && s.path == N(Win(fresh).c_str()));
  EXPECT_TRUE(found) << Ok({"service", "list", "Outlook"});
}

TEST_F(ConfigExportsTest, AnImportWithoutTheProfileIsAFailure) {
  Arrange();
  ASSERT_EQ(0, Backup(saved));
  // A registry script, but of something else.
  std::string other = saved + "/other.reg";
  testing_support::WriteFileBytes(other,
                                  "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Somebody]\r\n\"Name\"=\"value\"\r\n");
  MoveToNewUser();
  SetValue(HKEY_LOCAL_MACHINE, kListKey + u"\\00000009", u"Account Name", REG_BINARY, WideBytes("Kept"));
  EXPECT_EQ(ERROR_INVALID_DATA, Restore(other));
  EXPECT_EQ(1u, CountContaining("The profile Outlook is not in the imported configuration: ")) << LogText();
  // Nothing after the import ran.
  EXPECT_EQ(WideBytes("Kept"), Value(HKEY_LOCAL_MACHINE, kListKey + u"\\00000009", u"Account Name"));
  EXPECT_EQ(0u, CountContaining("SetOulookDefaultFile")) << LogText();
}

}  // namespace
}  // namespace config_test
