// Backup through the exported facade, on fresh roots with real mail: the copy
// equals its source, a second run copies nothing, folders pair by kind or by
// exact name, the destination's name is settled from the host executable,
// refusals come before the operation mutex, cancellation and failures report
// their codes, and two processes take turns.
#include <standin/fault.h>

#include "facade/copy_support.h"
#include "mapi/store_support.h"

namespace testing_support {
namespace copying {
namespace {

class FacadeBackup : public CopyTest {};

TEST_F(FacadeBackup, RealMailCopyEqualsItsSourceAndASecondRunOnlyCountsProgress) {
  std::vector<std::string> eml = EmlFiles();
  REQUIRE_TEST_DATA(!eml.empty());
  std::string source = AddStore("Outlook", "Mail");
  Import("Outlook", "Mail", "Inbox", eml);
  Import("Outlook", "Mail", "Lists", {Mbox("mailparser-from-quoting.mbox")});
  Import("Outlook", "Mail", "Lists/Takeout", {Mbox("mimekit-gmail-takeout-style.mbox")});
  Import("Outlook", "Mail", "Sent Items", {eml[0]});
  json original = Dump("Outlook", "Mail");
  const size_t selected = eml.size() + Count(original, "Lists") + Count(*Folder(original, "Lists"), "Takeout");
  ASSERT_EQ(selected, eml.size() + 4 + 4);

  fs::create_directories(RootFile("backup"));
  const std::u16string target = Win(RootFile("backup/backup.pst"));
  COutlookFacade facade;
  ProgressCount progress;
  progress.AttachTo(facade);
  OLCATALOGDATA records[] = {Record(OLFOLDER_INBOX, u"Inbox"), Record(OLFOLDER_NORMAL, u"Lists")};
  wcsncpy_s(records[0].szClass, u"IPF.Stale", _TRUNCATE);
  CString destination(target.c_str());
  SetLastError(12345);
  ASSERT_EQ(facade.BackupMessage(Win(source).c_str(), destination, records, 2, 0), 1);
  EXPECT_EQ(GetLastError(), 0u);
  EXPECT_EQ(std::u16string(destination.GetString()), target);
  EXPECT_EQ(records[0].szClass[0], 0) << "classes are rewritten from the kinds";
  EXPECT_FALSE(HasProfile("QorILantheTemp")) << "the temporary profile is gone";
  EXPECT_EQ(progress.max, selected);
  EXPECT_EQ(progress.steps, selected);

  json copy = DumpFile(RootFile("backup/backup.pst"));
  ASSERT_NE(Folder(copy, "Inbox"), nullptr);
  ASSERT_NE(Folder(copy, "Lists"), nullptr);
  EXPECT_EQ(*Folder(copy, "Inbox"), *Folder(original, "Inbox"));
  EXPECT_EQ(*Folder(copy, "Lists"), *Folder(original, "Lists")) << "sub-folders come along";
  EXPECT_EQ(Count(copy, "Sent Items"), 0u) << "not selected";

  // Everything is there already: nothing is copied, every message still counts.
  progress = ProgressCount{};
  ASSERT_EQ(facade.BackupMessage(Win(source).c_str(), destination, records, 2, 0), 1);
  EXPECT_EQ(GetLastError(), 0u);
  EXPECT_EQ(progress.calls, selected);
  EXPECT_EQ(progress.max, selected);
  EXPECT_EQ(DumpFile(RootFile("backup/backup.pst")), copy);
  EXPECT_EQ(Dump("Outlook", "Mail"), original) << "the source is left as it was";
}

TEST_F(FacadeBackup, FoldersPairByKindOrExactNameAndMissingOnesAreCreated) {
  std::vector<std::string> eml = EmlFiles();
  REQUIRE_TEST_DATA(eml.size() >= 6);
  std::string source = AddStore("Outlook", "Mail");
  AddStore("Outlook", "Archive");
  Import("Outlook", "Mail", "Sent Items", {eml[0], eml[1], eml[2]});
  Import("Outlook", "Mail", "Projects", {eml[3]});
  Import("Outlook", "Mail", "/", {eml[4], eml[5]});
  Import("Outlook", "Archive", "Projects", {eml[4]});
  MakeClassedFolder("Outlook", "Mail", u"Holidays", u"IPF.Appointment");
  Ok({"calendar", "add", "Outlook", "--store", "Mail", "--folder", "Holidays", "--subject", "Ferry", "--start",
      "2026-07-01T09:00:00Z", "--end", "2026-07-01T11:00:00Z", "--created", "2026-06-01T08:00:00Z"});

  COutlookFacade facade;
  OLCATALOGDATA records[] = {Record(OLFOLDER_SENTMAIL, u"Gesendet"), Record(OLFOLDER_NORMAL, u"projects"),
                             Record(OLFOLDER_CALENDAR, u"HOLIDAYS")};
  CString destination(Win(RootFile("Archive.pst")).c_str());
  ASSERT_EQ(facade.BackupMessage(Win(source).c_str(), destination, records, 3, 0), 1);
  EXPECT_EQ(std::u16string(records[2].szClass), u"IPF.Appointment");
  json archive = Dump("Outlook", "Archive");
  EXPECT_EQ(Count(archive, "Sent Items"), 3u) << "kind 3 finds the Sent Items whatever the selection calls it";
  EXPECT_EQ(Folder(archive, "Gesendet"), nullptr);
  EXPECT_EQ(Count(archive, "Projects"), 1u) << "kind 0 needs the exact name, letter case included";
  const json* holidays = Folder(archive, "HOLIDAYS");
  ASSERT_NE(holidays, nullptr) << "created under the selection's name";
  EXPECT_EQ((*holidays)["class"], "IPF.Appointment");
  EXPECT_EQ((*holidays)["count"], 1);

  // A folder below the top that is not selected stays behind.
  Import("Outlook", "Mail", "Unselected", {eml[5]});
  OLCATALOGDATA top[] = {Record(OLFOLDER_ROOT, u"root"), Record(OLFOLDER_NORMAL, u"Projects")};
  ASSERT_EQ(facade.BackupMessage(Win(source).c_str(), destination, top, 2, 0), 1);
  archive = Dump("Outlook", "Archive");
  EXPECT_EQ(archive["count"], 2) << "the top folder's own messages";
  EXPECT_EQ(Folder(archive, "Unselected"), nullptr) << "the top folder brings none of its sub-folders";
  EXPECT_EQ(Count(archive, "Projects"), 2u);
  EXPECT_FALSE(HasProfile("QorILantheTemp"));

  // A name that fills its field without a terminator is cut to the field, never read past it.
  OLCATALOGDATA unterminated[1] = {Record(OLFOLDER_NORMAL, u"")};
  std::fill(std::begin(unterminated[0].szName), std::end(unterminated[0].szName), u'x');
  std::fill(std::begin(unterminated[0].szClass), std::end(unterminated[0].szClass), u'y');
  ASSERT_EQ(facade.BackupMessage(Win(source).c_str(), destination, unterminated, 1, 0), 1);
  EXPECT_EQ(std::u16string(unterminated[0].szName), std::u16string(OLCATALOG_NAME_CHARS - 1, u'x'));
}

// The copier follows the kind of the matched source folder: a plain record
// that names a calendar is merged as a calendar. A plain copy would add the
// newer item beside the older one (their subjects differ); the merge replaces
// the older copy, which has the same creation time.
TEST_F(FacadeBackup, APlainRecordNamingACalendarIsMergedAsACalendar) {
  std::string source = AddStore("Outlook", "Mail");
  AddStore("Outlook", "Archive");
  MakeClassedFolder("Outlook", "Mail", u"Holidays", u"IPF.Appointment");
  MakeClassedFolder("Outlook", "Archive", u"Holidays", u"IPF.Appointment");
  auto event = [&](const std::string& store, const std::string& subject) {
    Ok({"calendar", "add", "Outlook", "--store", store, "--folder", "Holidays", "--subject", subject, "--start",
        "2026-07-01T09:00:00Z", "--end", "2026-07-01T11:00:00Z", "--created", "2026-06-01T08:00:00Z"});
  };
  event("Archive", "Ferry (draft)");  // saved first: the older copy
  event("Mail", "Ferry");

  COutlookFacade facade;
  OLCATALOGDATA records[] = {Record(OLFOLDER_NORMAL, u"Holidays")};
  CString destination(Win(RootFile("Archive.pst")).c_str());
  ASSERT_EQ(facade.BackupMessage(Win(source).c_str(), destination, records, 1, 0), 1);
  const json archive = Dump("Outlook", "Archive");
  const json* holidays = Folder(archive, "Holidays");
  ASSERT_NE(holidays, nullptr);
  EXPECT_EQ((*holidays)["count"], 1) << "merged, not copied beside the older item";
}

// Once a folder pair failed with 112, the next pair is not started: the
// calendar (merged, not copied with CopyMessages) stays empty.
TEST_F(FacadeBackup, AFailedFolderStopsTheBackupBeforeTheNextOne) {
  std::vector<std::string> eml = EmlFiles();
  REQUIRE_TEST_DATA(!eml.empty());
  std::string source = AddStore("Outlook", "Mail");
  Import("Outlook", "Mail", "Inbox", {eml[0]});
  Ok({"calendar", "add", "Outlook", "--store", "Mail", "--subject", "Review", "--start", "2026-03-04T09:00:00Z",
      "--end", "2026-03-04T10:00:00Z"});
  COutlookFacade facade;
  OLCATALOGDATA records[] = {Record(OLFOLDER_INBOX, u"Inbox"), Record(OLFOLDER_CALENDAR, u"Calendar")};
  CString destination(Win(RootFile("stopped.pst")).c_str());
  standin::ArmFault("IMAPIFolder::CopyMessages", MAPI_E_NO_ACCESS);
  EXPECT_EQ(facade.BackupMessage(Win(source).c_str(), destination, records, 2, 0), 0);
  standin::ClearAllFaults();
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(112));
  json copy = DumpFile(RootFile("stopped.pst"));
  EXPECT_EQ(Count(copy, "Inbox"), 0u);
  EXPECT_EQ(Count(copy, "Calendar"), 0u) << "the calendar pair never ran";
  EXPECT_EQ(Count(Dump("Outlook", "Mail"), "Calendar"), 1u);
}

// A destination whose tree cannot be validated and that has none of Inbox,
// Outbox, Sent Items and Deleted Items takes nothing: the backup fails with
// the validation's low-level error, or with its own code when the error
// record carries none, and never reports success.
TEST_F(FacadeBackup, AnUnvalidatedTreeWithoutMailFoldersFailsTheBackup) {
  std::string source = AddStore("Outlook", "Mail");
  std::string bare = RootFile("bare.pst");
  Ok({"store", "create", standin::ToUtf8(Win(bare))});
  // The names of the top folders; with remove, the mail folders go.
  auto topFolders = [&](bool remove) {
    std::vector<std::string> names;
    auto store = store_test::OpenStore(bare);
    EXPECT_NE(store, nullptr);
    if (!store) return names;
    auto subtree = store_test::OpenFolder(store.get(), store_test::BinProp(store.get(), PR_IPM_SUBTREE_ENTRYID));
    auto rows = store_test::Hierarchy(subtree.get(), {PR_DISPLAY_NAME_W, PR_ENTRYID});
    for (ULONG i = 0; rows && i < rows->cRows; ++i) {
      std::string name = store_test::Narrow(rows->aRow[i].lpProps[0].Value.lpszW);
      const bool mail = name == "Inbox" || name == "Outbox" || name == "Sent Items" || name == "Deleted Items";
      if (remove && mail) {
        SBinary& id = rows->aRow[i].lpProps[1].Value.bin;
        EXPECT_EQ(subtree->DeleteFolder(id.cb, reinterpret_cast<LPENTRYID>(id.lpb), 0, nullptr,
                                        DEL_FOLDERS | DEL_MESSAGES),
                  S_OK);
        continue;
      }
      names.push_back(name);
    }
    return names;
  };
  const std::vector<std::string> before = topFolders(true);
  ASSERT_EQ(before.size(), 7u);
  COutlookFacade facade;
  OLCATALOGDATA records[] = {Record(OLFOLDER_INBOX, u"Inbox")};
  CString destination(Win(bare).c_str());

  // The record carries no low-level error: the validation's own code.
  standin::ArmFault("HrValidateIPMSubtree", static_cast<int32_t>(0x80004005));
  EXPECT_EQ(facade.BackupMessage(Win(source).c_str(), destination, records, 1, 0), 0);
  standin::ClearAllFaults();
  EXPECT_EQ(GetLastError(), 0x4005u);
  // The provider failed on its own: its low-level error.
  standin::ArmFault("IMAPIFolder::CreateFolder", MAPI_E_NO_ACCESS);
  EXPECT_EQ(facade.BackupMessage(Win(source).c_str(), destination, records, 1, 0), 0);
  standin::ClearAllFaults();
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(MAPI_E_NO_ACCESS));
  EXPECT_EQ(topFolders(false), before) << "nothing was made or copied";
  EXPECT_FALSE(HasProfile("QorILantheTemp"));
}

// Whichever table read fails, a backup that reports success has copied the
// selection; no failed read is reported as a success that copied nothing.
TEST_F(FacadeBackup, NoFailedTableReadIsReportedAsSuccess) {
  std::vector<std::string> eml = EmlFiles();
  REQUIRE_TEST_DATA(eml.size() >= 2);
  std::string source = AddStore("Outlook", "Mail");
  Import("Outlook", "Mail", "Inbox", {eml[0], eml[1]});
  COutlookFacade facade;
  OLCATALOGDATA records[] = {Record(OLFOLDER_INBOX, u"Inbox")};
  for (unsigned nth = 1;; ++nth) {
    const std::string target = RootFile("read" + std::to_string(nth) + ".pst");
    CString destination(Win(target).c_str());
    standin::ArmFault("HrQueryAllRows", MAPI_E_CALL_FAILED, nth);
    const int result = facade.BackupMessage(Win(source).c_str(), destination, records, 1, 0);
    const bool fired = standin::FaultCallCount("HrQueryAllRows") >= nth;
    standin::ClearAllFaults();
    size_t copied = 0;
    if (auto store = store_test::OpenStore(target)) {
      if (auto inbox = store_test::Inbox(store.get())) copied = store_test::Contents(inbox.get(), {PR_ENTRYID})->cRows;
    }
    if (result == 1) {
      EXPECT_EQ(copied, 2u) << "a success with read " << nth << " failing";
    }
    if (!fired) {
      EXPECT_EQ(result, 1);
      break;
    }
    ASSERT_LT(nth, 200u);
  }
}

// Backup ignores whether the leftover temporary profile could be deleted: the
// profile of that name is used as it is, and the copy goes on (synchronise, in
// contrast, stops).
TEST_F(FacadeBackup, ALeftoverTemporaryProfileThatCannotGoIsUsedAsItIs) {
  std::vector<std::string> eml = EmlFiles();
  REQUIRE_TEST_DATA(!eml.empty());
  std::string source = AddStore("Outlook", "Mail");
  Import("Outlook", "Mail", "Inbox", {eml[0]});
  Ok({"profile", "create", "QorILantheTemp"});
  COutlookFacade facade;
  OLCATALOGDATA records[] = {Record(OLFOLDER_INBOX, u"Inbox")};
  CString destination(Win(RootFile("through-leftover.pst")).c_str());
  standin::ArmFault("IProfAdmin::DeleteProfile", MAPI_E_NO_ACCESS);
  EXPECT_EQ(facade.BackupMessage(Win(source).c_str(), destination, records, 1, 0), 1);
  standin::ClearAllFaults();
  EXPECT_EQ(Count(DumpFile(RootFile("through-leftover.pst")), "Inbox"), 1u);
  EXPECT_TRUE(HasProfile("QorILantheTemp")) << "it could not be deleted afterwards either";
}

TEST_F(FacadeBackup, CancellingInTheSecondFolderKeepsTheFirstAndStopsAfterTheCancelledMessage) {
  std::vector<std::string> eml = EmlFiles();
  REQUIRE_TEST_DATA(eml.size() >= 3);
  std::string source = AddStore("Outlook", "Mail");
  Import("Outlook", "Mail", "Inbox", eml);
  // Distinct subjects throughout, so that the resumed run can tell every message apart.
  Import("Outlook", "Mail", "Lists", {Mbox("mimekit-gmail-takeout-style.mbox"), eml[0], eml[1], eml[2]});

  COutlookFacade facade;
  ProgressCount progress;
  progress.cancelAt = static_cast<ULONG>(eml.size() + 2);
  progress.AttachTo(facade);
  OLCATALOGDATA records[] = {Record(OLFOLDER_INBOX, u"Inbox"), Record(OLFOLDER_NORMAL, u"Lists"),
                             Record(OLFOLDER_SENTMAIL, u"Sent Items")};
  CString destination(Win(RootFile("cut.pst")).c_str());
  EXPECT_EQ(facade.BackupMessage(Win(source).c_str(), destination, records, 3, 0), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(-1));
  EXPECT_EQ(progress.calls, eml.size() + 2) << "nothing after the cancelled message";
  json copy = DumpFile(RootFile("cut.pst"));
  EXPECT_EQ(Count(copy, "Inbox"), eml.size());
  EXPECT_EQ(Count(copy, "Lists"), 2u);
  EXPECT_FALSE(HasProfile("QorILantheTemp"));

  // The next run starts afresh and completes the copy.
  progress = ProgressCount{};
  EXPECT_EQ(facade.BackupMessage(Win(source).c_str(), destination, records, 3, 0), 1);
  EXPECT_EQ(Count(DumpFile(RootFile("cut.pst")), "Lists"), 7u);
}

TEST_F(FacadeBackup, DestinationIsNamedAfterTheHostExecutable) {
  std::string source = AddStore("Outlook", "Mail");
  TempDir hostDir, outDir;
  std::string exe = CopyHost(hostDir.path(), "backuphost.exe");
  auto backup = [&](const std::string& destination) {
    return RunHost(exe, {"backup", standin::ToUtf8(Win(source)), destination, "0"});
  };

  HostRun run = backup("");
  EXPECT_EQ(run.result, 1) << run.output;
  EXPECT_EQ(run.destination, standin::ToUtf8(Win(hostDir.path() + "/backuphost.pst")));
  EXPECT_TRUE(fs::exists(hostDir.path() + "/backuphost.pst")) << "an empty store is made";
  run = backup("  ");
  EXPECT_EQ(run.destination, standin::ToUtf8(Win(hostDir.path() + "/backuphost1.pst"))) << run.output;

  // A folder: the executable's whole file name, numbered while taken.
  std::string folder = standin::ToUtf8(Win(outDir.path())) + "\\";
  run = backup(folder);
  EXPECT_EQ(run.destination, standin::ToUtf8(Win(outDir.path() + "/backuphost.exe.pst"))) << run.output;
  run = backup(folder);
  EXPECT_EQ(run.destination, standin::ToUtf8(Win(outDir.path() + "/backuphost.exe1.pst"))) << run.output;
  // Without the closing separator the last part is a file name, not a folder.
  fs::create_directories(outDir.path() + "/inner");
  run = backup(standin::ToUtf8(Win(outDir.path() + "/inner")));
  EXPECT_EQ(run.destination, standin::ToUtf8(Win(outDir.path() + "/inner.pst"))) << run.output;
  EXPECT_EQ(run.result, 1);

  // An executable without an extension: its whole name is its base name.
  TempDir plainDir;
  std::string plain = CopyHost(plainDir.path(), "backuphost");
  run = RunHost(plain, {"backup", standin::ToUtf8(Win(source)), "", "0"});
  EXPECT_EQ(run.destination, standin::ToUtf8(Win(plainDir.path() + "/backuphost.pst"))) << run.output;
  run = RunHost(plain, {"backup", standin::ToUtf8(Win(source)), folder, "0"});
  EXPECT_EQ(run.destination, standin::ToUtf8(Win(outDir.path() + "/backuphost.pst"))) << run.output;

  // A store name in capitals is used as given even though the file exists.
  Ok({"store", "create", RootFile("Existing.PST"), "--name", "Existing"});
  CString given((u" " + Win(RootFile("Existing.PST")) + u" ").c_str());
  COutlookFacade facade;
  EXPECT_EQ(facade.BackupMessage(Win(source).c_str(), given, nullptr, 0, 0), 1);
  EXPECT_EQ(std::u16string(given.GetString()), Win(RootFile("Existing.PST"))) << "only trimmed";
  EXPECT_FALSE(fs::exists(RootFile("Existing1.PST")));
  EXPECT_FALSE(HasProfile("QorILantheTemp"));
}

TEST_F(FacadeBackup, BadPathsAreRefusedBeforeTheOperationMutex) {
  std::string source = AddStore("Outlook", "Mail");
  MutexHolder other;  // another backup is running
  ASSERT_TRUE(other.held());
  COutlookFacade facade;
  OLCATALOGDATA records[] = {Record(OLFOLDER_INBOX, u"Inbox")};

  CString missingFolder(Win(RootFile("missing/folder/")).c_str());
  EXPECT_EQ(facade.BackupMessage(Win(source).c_str(), missingFolder, records, 1, 0), 0);
  CString missingParent(Win(RootFile("missing/name")).c_str());
  EXPECT_EQ(facade.BackupMessage(Win(source).c_str(), missingParent, records, 1, 0), 0);
  CString fine(Win(RootFile("fine.pst")).c_str());
  EXPECT_EQ(facade.BackupMessage(Win(RootFile("absent.pst")).c_str(), fine, records, 1, 0), 0);
  EXPECT_EQ(facade.BackupMessage(Win(RootFile("")).c_str(), fine, records, 1, 0), 0) << "a folder is no source";
  EXPECT_EQ(facade.BackupMessage(nullptr, fine, records, 1, 0), 0);

  // Paths beyond the platform's 260 characters are refused whole, never cut.
  std::u16string longPath = Win(RootFile(std::string(300, 'p') + ".pst"));
  EXPECT_EQ(facade.BackupMessage(longPath.c_str(), fine, records, 1, 0), 0);
  CString longDestination(longPath.c_str());
  EXPECT_EQ(facade.BackupMessage(Win(source).c_str(), longDestination, records, 1, 0), 0);
  EXPECT_EQ(std::u16string(longDestination.GetString()), longPath);
  // A folder deep enough that the name made for it would not fit.
  std::string deep = RootFile(std::string(250 - Win(RootFile("")).size(), 'd'));
  fs::create_directories(deep);
  CString deepFolder((Win(deep) + u"\\").c_str());
  EXPECT_EQ(facade.BackupMessage(Win(source).c_str(), deepFolder, records, 1, 0), 0);
  EXPECT_FALSE(fs::exists(RootFile("fine.pst")));
  other.Release();
}

TEST_F(FacadeBackup, TwoProcessesTakeTurnsAndLeaveNoTemporaryProfile) {
  std::vector<std::string> eml = EmlFiles();
  REQUIRE_TEST_DATA(!eml.empty());
  std::string source = AddStore("Outlook", "Mail");
  Import("Outlook", "Mail", "Inbox", eml);
  TempDir hostDir;
  std::string exe = CopyHost(hostDir.path(), "backuphost");
  std::vector<std::string> argv = {exe, "backup", standin::ToUtf8(Win(source)),
                                   standin::ToUtf8(Win(RootFile("shared.pst"))), "0", "1:Inbox"};

  MutexHolder other;
  ASSERT_TRUE(other.held());
  Child first(argv, CopiedProgramEnv()), second(argv, CopiedProgramEnv());
  ASSERT_TRUE(WaitUntil([&] {
    return first.Output().find("calling") != std::string::npos && second.Output().find("calling") != std::string::npos;
  }));
  EXPECT_EQ(first.Output().find("result="), std::string::npos) << "waits for the running backup";
  EXPECT_EQ(second.Output().find("result="), std::string::npos);
  other.Release();
  ChildResult a, b;
  ASSERT_TRUE(first.Wait(120000, &a));
  ASSERT_TRUE(second.Wait(120000, &b));
  EXPECT_EQ(Parse(a.output).result, 1) << a.output;
  EXPECT_EQ(Parse(b.output).result, 1) << b.output;
  EXPECT_EQ(Count(DumpFile(RootFile("shared.pst")), "Inbox"), eml.size()) << "each message once";
  EXPECT_FALSE(HasProfile("QorILantheTemp"));
}

// A backup killed in its copy leaves its temporary profile holding the new
// destination. That profile is no owner of the file: after the run that finds
// the mutex abandoned, the next makes its own, completes the copy and removes
// it.
TEST_F(FacadeBackup, AKilledBackupsTemporaryProfileGoesWithTheRunAfterIt) {
  std::vector<std::string> eml = EmlFiles();
  REQUIRE_TEST_DATA(eml.size() >= 3);
  std::string source = AddStore("Outlook", "Mail");
  Import("Outlook", "Mail", "Inbox", {eml[0], eml[1], eml[2]});
  TempDir hostDir;
  std::string exe = CopyHost(hostDir.path(), "backuphost");
  const std::u16string target = Win(RootFile("killed.pst"));
  HostRun killed = RunHost(exe, {"backup", standin::ToUtf8(Win(source)), standin::ToUtf8(target), "0", "1:Inbox"},
                           {"CORVANE_FAULTS=IMAPIFolder::CopyMessages=kill@2"});
  ASSERT_EQ(killed.output.find("result="), std::string::npos) << killed.output;
  ASSERT_TRUE(HasProfile("QorILantheTemp"));

  COutlookFacade facade;
  OLCATALOGDATA records[] = {Record(OLFOLDER_INBOX, u"Inbox")};
  CString destination(target.c_str());
  EXPECT_EQ(facade.BackupMessage(Win(source).c_str(), destination, records, 1, 0), 0) << "the abandoned mutex";
  ASSERT_EQ(facade.BackupMessage(Win(source).c_str(), destination, records, 1, 0), 1);
  EXPECT_FALSE(HasProfile("QorILantheTemp"));
  EXPECT_EQ(Count(DumpFile(RootFile("killed.pst")), "Inbox"), 3u);
}

TEST_F(FacadeBackup, FailuresLeaveTheirCodeAndTheirLogLines) {
  std::vector<std::string> eml = EmlFiles();
  REQUIRE_TEST_DATA(!eml.empty());
  std::string source = AddStore("Outlook", "Mail");
  Import("Outlook", "Mail", "Inbox", {eml[0], eml[1]});
  TempDir hostDir;
  std::string exe = CopyHost(hostDir.path(), "backuphost");
  std::string destination = standin::ToUtf8(Win(RootFile("failed.pst")));
  auto backup = [&](const std::string& faults) {
    return RunHost(exe, {"backup", standin::ToUtf8(Win(source)), destination, "0", "1:Inbox"},
                   {"CORVANE_FAULTS=" + faults});
  };

  HostRun run = backup("MAPILogonEx=0x80004005");
  EXPECT_EQ(run.result, 0) << run.output;
  EXPECT_EQ(run.lastError, 1);
  std::string log = Log();
  EXPECT_NE(log.find("<---Backup message parameter.--->"), std::string::npos) << log;
  EXPECT_NE(log.find("\tindex:0, name:Inbox, and type:1"), std::string::npos);
  EXPECT_NE(log.find("source pro: Outlook, dest pro: : default:QorILantheTemp"), std::string::npos);
  EXPECT_NE(log.find("MAPILogonEx failed."), std::string::npos);
  EXPECT_NE(log.find("occured a error:1"), std::string::npos);
  EXPECT_FALSE(HasProfile("QorILantheTemp")) << "removed on the way out";

  run = backup("IMAPIFolder::CopyMessages=0x80004005");
  EXPECT_EQ(run.result, 0) << run.output;
  EXPECT_EQ(run.lastError, 112);
  log = Log();
  EXPECT_NE(log.find("Copy message failed."), std::string::npos) << log;
  EXPECT_NE(log.find("occured a error:112"), std::string::npos);

  // A tree that cannot be completed is used when it has the mail folders.
  run = backup("HrValidateIPMSubtree=0x80004005");
  EXPECT_EQ(run.result, 1) << run.output;
  log = Log();
  EXPECT_NE(log.find("HrValidateIPMSubtree failed, Error:-2147467259, Description:ulVersion = 0x   0"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("Skinnping destinationStorePtr->SaveChanges(FORCE_SAVE)"), std::string::npos);
  EXPECT_EQ(Count(DumpFile(RootFile("failed.pst")), "Inbox"), 2u);

  // The temporary profile cannot be made: nothing is attached.
  standin::ArmFault("IProfAdmin::CreateProfile", static_cast<int32_t>(0x80004005));
  COutlookFacade facade;
  OLCATALOGDATA records[] = {Record(OLFOLDER_INBOX, u"Inbox")};
  CString fresh(Win(RootFile("never.pst")).c_str());
  EXPECT_EQ(facade.BackupMessage(Win(source).c_str(), fresh, records, 1, 0), 0);
  standin::ClearAllFaults();
  EXPECT_FALSE(fs::exists(RootFile("never.pst")));
  // Made, but the store cannot be attached: the profile does not outlive the call.
  standin::ArmFault("IMsgServiceAdmin::ConfigureMsgService", static_cast<int32_t>(0x80004005));
  EXPECT_EQ(facade.BackupMessage(Win(source).c_str(), fresh, records, 1, 0), 0);
  standin::ClearAllFaults();
  EXPECT_FALSE(HasProfile("QorILantheTemp"));
}

}  // namespace
}  // namespace copying
}  // namespace testing_support
