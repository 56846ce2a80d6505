// Synchronise through the exported facade, on fresh roots with real mail:
// both directions, folders present on one side only, matching by exact name
// and class, missing files, cancellation and failing calls.
#include <standin/fault.h>

#include "facade/copy_support.h"
#include "mapi/store_support.h"

namespace testing_support {
namespace copying {
namespace {

class FacadeSync : public CopyTest {
 protected:
  // A store file that no profile holds, filled through a profile of its own.
  std::string LooseStore(const std::string& name, const std::vector<std::pair<std::string, std::string>>& imports) {
    std::string path = RootFile(name + ".pst");
    Ok({"store", "create", path, "--name", name});
    Ok({"profile", "create", "Filler"});
    Ok({"service", "add", "Filler", "--type", "pst", "--name", name, "--path", standin::ToUtf8(Win(path))});
    for (const auto& [folder, file] : imports) Import("Filler", name, folder, {file});
    Ok({"profile", "delete", "Filler"});
    return path;
  }
};

TEST_F(FacadeSync, RealMailFlowsBothWaysAndFoldersOfOneSideAppearOnTheOther) {
  std::vector<std::string> eml = EmlFiles();
  REQUIRE_TEST_DATA(eml.size() >= 9);
  std::string source = AddStore("Outlook", "Mail");
  Import("Outlook", "Mail", "Inbox", {eml[0], eml[1], eml[2], eml[3]});
  std::vector<std::pair<std::string, std::string>> imports;
  for (size_t i = 4; i < 9; ++i) imports.emplace_back("Inbox", eml[i]);
  imports.emplace_back("Archive", Mbox("mailparser-from-quoting.mbox"));
  std::string destination = LooseStore("Other", imports);

  COutlookFacade facade;
  ProgressCount progress;
  progress.AttachTo(facade);
  OLCATALOGDATA records[] = {Record(OLFOLDER_INBOX, u"Inbox"), Record(OLFOLDER_NORMAL, u"Archive")};
  SetLastError(12345);
  ASSERT_EQ(facade.SyncMessage(Win(source).c_str(), Win(destination).c_str(), records, 2), 1);
  EXPECT_EQ(GetLastError(), 0u);
  EXPECT_EQ(progress.max, 4u + 5u + 0u + 4u) << "the messages of both sides before the run";
  EXPECT_FALSE(HasProfile("QorILantheTemp"));

  json mine = Dump("Outlook", "Mail");
  json theirs = DumpFile(destination);
  ASSERT_NE(Folder(mine, "Archive"), nullptr) << "made in the source and filled from the destination";
  EXPECT_EQ(Count(mine, "Inbox"), 9u);
  EXPECT_EQ(*Folder(mine, "Inbox"), *Folder(theirs, "Inbox"));
  EXPECT_EQ(*Folder(mine, "Archive"), *Folder(theirs, "Archive"));

  // In step: nothing moves, every message of both sides counts once.
  progress = ProgressCount{};
  ASSERT_EQ(facade.SyncMessage(Win(source).c_str(), Win(destination).c_str(), records, 2), 1);
  EXPECT_EQ(progress.max, 26u);
  EXPECT_EQ(progress.calls, 26u);
  EXPECT_EQ(Dump("Outlook", "Mail"), mine);
  EXPECT_EQ(DumpFile(destination), theirs);
}

TEST_F(FacadeSync, FoldersMatchByExactNameAndByClassWhenTheSelectionHasOne) {
  REQUIRE_TEST_DATA(fs::exists(Mbox("mailparser-from-quoting.mbox")));
  std::string source = AddStore("Outlook", "Mail");
  std::string destination = AddStore("Outlook", "Other");
  Import("Outlook", "Mail", "Lists", {Mbox("mailparser-from-quoting.mbox")});
  // Calendar items are told apart by their creation time.
  auto event = [&](const std::string& store, const std::string& subject, const std::string& day) {
    Ok({"calendar", "add", "Outlook", "--store", store, "--subject", subject, "--start", day + "T09:00:00Z", "--end",
        day + "T10:00:00Z", "--created", day + "T08:00:00Z"});
  };
  event("Mail", "Ferry", "2026-07-01");
  event("Other", "Dentist", "2026-07-02");

  COutlookFacade facade;
  // A calendar selection wants a folder of that class: the mail folder is no match.
  OLCATALOGDATA asCalendar[] = {Record(OLFOLDER_CALENDAR, u"Lists")};
  ASSERT_EQ(facade.SyncMessage(Win(source).c_str(), Win(destination).c_str(), asCalendar, 1), 1);
  EXPECT_EQ(Folder(Dump("Outlook", "Other"), "Lists"), nullptr);

  OLCATALOGDATA records[] = {Record(OLFOLDER_NORMAL, u"lists"), Record(OLFOLDER_NORMAL, u"Lists"),
                             Record(OLFOLDER_CALENDAR, u"Calendar")};
  ASSERT_EQ(facade.SyncMessage(Win(source).c_str(), Win(destination).c_str(), records, 3), 1);
  EXPECT_EQ(std::u16string(records[2].szClass), u"IPF.Appointment");
  json other = Dump("Outlook", "Other");
  EXPECT_EQ(Folder(other, "lists"), nullptr) << "letter case counts";
  EXPECT_EQ(Count(other, "Lists"), 4u);
  EXPECT_EQ(Count(other, "Calendar"), 2u) << "merged into the destination";
  EXPECT_EQ(Count(Dump("Outlook", "Mail"), "Calendar"), 2u) << "and back into the source";
  EXPECT_FALSE(HasProfile("QorILantheTemp")) << "both stores were reached through their own profile";
}

// A calendar pair is merged in both directions. Each side holds one item the
// other has an older copy of (same creation time, another subject): merged,
// the newer copy replaces the older on each side; copied plainly, each side
// would gain the other's item beside its own.
TEST_F(FacadeSync, ACalendarPairIsMergedInBothDirections) {
  std::string mail = AddStore("Outlook", "Mail");
  std::string archive = AddStore("Outlook", "Archive");
  MakeClassedFolder("Outlook", "Mail", u"Holidays", u"IPF.Appointment");
  MakeClassedFolder("Outlook", "Archive", u"Holidays", u"IPF.Appointment");
  auto event = [&](const std::string& store, const std::string& subject, const std::string& created) {
    Ok({"calendar", "add", "Outlook", "--store", store, "--folder", "Holidays", "--subject", subject, "--start",
        "2026-07-01T09:00:00Z", "--end", "2026-07-01T11:00:00Z", "--created", created});
  };
  // Saved in this order, each later one is the newer copy.
  event("Archive", "Ferry (draft)", "2026-06-01T08:00:00Z");
  event("Mail", "Ferry", "2026-06-01T08:00:00Z");
  event("Mail", "Train (draft)", "2026-06-02T08:00:00Z");
  event("Archive", "Train", "2026-06-02T08:00:00Z");

  COutlookFacade facade;
  OLCATALOGDATA records[] = {Record(OLFOLDER_CALENDAR, u"Holidays")};
  ASSERT_EQ(facade.SyncMessage(Win(mail).c_str(), Win(archive).c_str(), records, 1), 1);
  for (const char* store : {"Mail", "Archive"}) {
    const json tree = Dump("Outlook", store);
    const json* holidays = Folder(tree, "Holidays");
    ASSERT_NE(holidays, nullptr) << store;
    EXPECT_EQ((*holidays)["count"], 2) << store << ": the newer copy of each item, nothing beside it";
  }
}

// A selected folder that cannot be made on one side fails the run with 1, and
// the other selected folders are still synchronised.
TEST_F(FacadeSync, AFolderThatCannotBeMadeFailsTheRunAndTheOthersStillRun) {
  std::vector<std::string> eml = EmlFiles();
  REQUIRE_TEST_DATA(eml.size() >= 2);
  std::string source = LooseStore("Mine", {{"Only Mine", eml[0]}, {"Inbox", eml[1]}});
  std::string destination = LooseStore("Theirs", {});
  COutlookFacade facade;
  // The folder calls a run makes before it pairs folders: with everything
  // present on both sides, that is every call of a whole run.
  OLCATALOGDATA present[] = {Record(OLFOLDER_NORMAL, u"Sent Items")};
  standin::ArmFault("IMAPIFolder::CreateFolder", MAPI_E_NO_ACCESS, 100000);  // only counts
  ASSERT_EQ(facade.SyncMessage(Win(source).c_str(), Win(destination).c_str(), present, 1), 1);
  const unsigned beforePairing = standin::FaultCallCount("IMAPIFolder::CreateFolder");
  standin::ClearAllFaults();

  // "Only Mine" must be made in the destination, and that fails.
  OLCATALOGDATA records[] = {Record(OLFOLDER_NORMAL, u"Only Mine"), Record(OLFOLDER_NORMAL, u"Inbox")};
  standin::ArmFault("IMAPIFolder::CreateFolder", MAPI_E_NO_ACCESS, beforePairing + 1);
  EXPECT_EQ(facade.SyncMessage(Win(source).c_str(), Win(destination).c_str(), records, 2), 0);
  standin::ClearAllFaults();
  EXPECT_EQ(GetLastError(), 1u);
  json theirs = DumpFile(destination);
  EXPECT_EQ(Folder(theirs, "Only Mine"), nullptr);
  EXPECT_EQ(Count(theirs, "Inbox"), 1u) << "the other pair ran";
}

// Whichever table read fails, a synchronisation that reports success has
// brought both sides together.
TEST_F(FacadeSync, NoFailedTableReadIsReportedAsSuccess) {
  std::vector<std::string> eml = EmlFiles();
  REQUIRE_TEST_DATA(eml.size() >= 2);
  const std::string mineOriginal = LooseStore("Mine", {{"Inbox", eml[0]}});
  const std::string theirsOriginal = LooseStore("Theirs", {{"Inbox", eml[1]}});
  COutlookFacade facade;
  OLCATALOGDATA records[] = {Record(OLFOLDER_INBOX, u"Inbox")};
  for (unsigned nth = 1;; ++nth) {
    // Each run on fresh copies of the two stores.
    const std::string mine = RootFile("mine" + std::to_string(nth) + ".pst");
    const std::string theirs = RootFile("theirs" + std::to_string(nth) + ".pst");
    fs::copy_file(mineOriginal, mine);
    fs::copy_file(theirsOriginal, theirs);
    standin::ArmFault("HrQueryAllRows", MAPI_E_CALL_FAILED, nth);
    const int result = facade.SyncMessage(Win(mine).c_str(), Win(theirs).c_str(), records, 1);
    const bool fired = standin::FaultCallCount("HrQueryAllRows") >= nth;
    standin::ClearAllFaults();
    if (result == 1) {
      for (const std::string& path : {mine, theirs}) {
        auto store = store_test::OpenStore(path);
        ASSERT_NE(store, nullptr);
        EXPECT_EQ(store_test::Contents(store_test::Inbox(store.get()).get(), {PR_ENTRYID})->cRows, 2u)
            << "a success with read " << nth << " failing";
      }
    }
    if (!fired) {
      EXPECT_EQ(result, 1);
      break;
    }
    ASSERT_LT(nth, 200u);
  }
}

TEST_F(FacadeSync, AMissingFileIsNoFailureAndTouchesNothing) {
  std::string source = AddStore("Outlook", "Mail");
  std::vector<std::string> before = Profiles();
  MutexHolder other;  // a run that took the mutex would wait for ever
  ASSERT_TRUE(other.held());
  COutlookFacade facade;
  OLCATALOGDATA records[] = {Record(OLFOLDER_INBOX, u"Inbox")};
  std::u16string missing = Win(RootFile("missing.pst"));
  EXPECT_EQ(facade.SyncMessage(Win(source).c_str(), missing.c_str(), records, 1), 1);
  EXPECT_EQ(facade.SyncMessage(missing.c_str(), Win(source).c_str(), records, 1), 1);
  EXPECT_EQ(facade.SyncMessage(Win(source).c_str(), Win(RootFile("")).c_str(), records, 1), 1) << "a folder";
  EXPECT_FALSE(fs::exists(RootFile("missing.pst")));

  // An existing file whose path is beyond the platform's limit is refused.
  std::string deep = RootFile(std::string(200, 'd')) + "/" + std::string(100, 'e') + ".pst";
  fs::create_directories(fs::path(deep).parent_path());
  WriteFileBytes(deep, "x");
  EXPECT_EQ(facade.SyncMessage(Win(source).c_str(), Win(deep).c_str(), records, 1), 0);
  other.Release();
  EXPECT_EQ(Profiles(), before);
}

TEST_F(FacadeSync, CancellationAndFailingCallsReportTheirCode) {
  std::vector<std::string> eml = EmlFiles();
  REQUIRE_TEST_DATA(eml.size() >= 4);
  std::string source = LooseStore("Mine", {{"Inbox", eml[0]}, {"Inbox", eml[1]}, {"Inbox", eml[2]}, {"Inbox", eml[3]}});
  std::string destination = LooseStore("Theirs", {});
  OLCATALOGDATA records[] = {Record(OLFOLDER_INBOX, u"Inbox")};
  COutlookFacade facade;

  standin::ArmFault("MAPILogonEx", static_cast<int32_t>(0x80004005));
  EXPECT_EQ(facade.SyncMessage(Win(source).c_str(), Win(destination).c_str(), records, 1), 0);
  EXPECT_EQ(GetLastError(), 1u);
  standin::ClearAllFaults();
  EXPECT_FALSE(HasProfile("QorILantheTemp"));

  standin::ArmFault("HrValidateIPMSubtree", static_cast<int32_t>(0x80004005), 2);
  EXPECT_EQ(facade.SyncMessage(Win(source).c_str(), Win(destination).c_str(), records, 1), 0);
  EXPECT_EQ(GetLastError(), 1u) << "the source's tree could not be validated";
  standin::ClearAllFaults();

  // A profile of the temporary name left by someone else is replaced, unless
  // it cannot be removed.
  Ok({"profile", "create", "QorILantheTemp"});
  standin::ArmFault("IProfAdmin::DeleteProfile", static_cast<int32_t>(0x80004005));
  EXPECT_EQ(facade.SyncMessage(Win(source).c_str(), Win(destination).c_str(), records, 1), 0);
  standin::ClearAllFaults();
  EXPECT_TRUE(HasProfile("QorILantheTemp"));

  ProgressCount progress;
  progress.cancelAt = 2;
  progress.AttachTo(facade);
  EXPECT_EQ(facade.SyncMessage(Win(source).c_str(), Win(destination).c_str(), records, 1), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(-1));
  EXPECT_EQ(Count(DumpFile(destination), "Inbox"), 2u) << "nothing after the cancelled message";
  EXPECT_FALSE(HasProfile("QorILantheTemp"));

  // Through a host of its own, the failure is logged with its code.
  TempDir hostDir;
  std::string exe = CopyHost(hostDir.path(), "backuphost");
  HostRun run = RunHost(exe, {"sync", standin::ToUtf8(Win(source)), standin::ToUtf8(Win(destination)), "1:Inbox"},
                        {"CORVANE_FAULTS=IMAPIFolder::CopyMessages=0x80004005"});
  EXPECT_EQ(run.result, 0) << run.output;
  EXPECT_EQ(run.lastError, 112);
  std::string log = Log();
  EXPECT_NE(log.find("<---synchronize message parameter.--->"), std::string::npos) << log;
  EXPECT_NE(log.find("occured a error:112"), std::string::npos);
}

}  // namespace
}  // namespace copying
}  // namespace testing_support
