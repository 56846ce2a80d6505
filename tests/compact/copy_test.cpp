// The compact library's backup and synchronisation, through its exports: the
// plain content copy for every folder (no merge, no retry, a failed item
// recorded and the copy going on), the temporary profile prepared as
// synchronise prepares it, no operation mutex, and with real mail the same
// mail folders as the full build gives.
#include <standin/fault.h>

#include "compact/compact_support.h"

namespace testing_support {
namespace copying {
namespace {

class CompactCopy : public CompactTest {
 protected:
  void Event(const std::string& store, const std::string& created) {
    Ok({"calendar", "add", "Outlook", "--store", store, "--subject", "Ferry", "--start", "2026-07-01T09:00:00Z",
        "--end", "2026-07-01T11:00:00Z", "--created", created});
  }
  static const json& Messages(const json& tree, const std::string& folder) { return (*Folder(tree, folder))["messages"]; }
  static bool Holds(const json& messages, const json& message) {
    return std::find(messages.begin(), messages.end(), message) != messages.end();
  }
  // Copies a store file and what its database keeps beside it.
  void CopyStoreFile(const std::string& from, const std::string& to) {
    for (const char* suffix : {"", "-wal", "-shm"})
      if (fs::exists(from + suffix)) fs::copy_file(from + suffix, to + suffix, fs::copy_options::overwrite_existing);
  }
};

// An item already in the destination stays as it is, whether it is older or
// newer than the source's: the source's item, whose time differs, is copied
// beside it.
TEST_F(CompactCopy, ACalendarItemInTheDestinationIsNotReplacedWhateverItsTime) {
  std::string mail = AddStore("Outlook", "Mail");
  AddStore("Outlook", "Older");
  AddStore("Outlook", "Newer");
  Event("Older", "2026-06-01T08:00:00Z");
  Event("Mail", "2026-06-02T08:00:00Z");
  Event("Newer", "2026-06-03T08:00:00Z");

  COutlookFacade facade;
  for (const std::string store : {"Older", "Newer"}) {
    SCOPED_TRACE(store);
    const json before = Messages(Dump("Outlook", store), "Calendar");
    ASSERT_EQ(before.size(), 1u);
    OLCATALOGDATA records[] = {Record(OLFOLDER_CALENDAR, u"Calendar")};
    CString destination(Win(RootFile(store + ".pst")).c_str());
    ASSERT_EQ(facade.BackupMessage(Win(mail).c_str(), destination, records, 1), 1);
    const json after = Messages(Dump("Outlook", store), "Calendar");
    ASSERT_EQ(after.size(), 2u) << "copied beside, never merged";
    EXPECT_TRUE(Holds(after, before[0])) << "the destination's own item is untouched";
    EXPECT_TRUE(Holds(after, Messages(Dump("Outlook", "Mail"), "Calendar")[0]));

    // Present now with its own time: not copied again.
    ASSERT_EQ(facade.BackupMessage(Win(mail).c_str(), destination, records, 1), 1);
    EXPECT_EQ(Messages(Dump("Outlook", store), "Calendar"), after);
  }
}

// A message that cannot be copied is tried once, recorded, and the copy goes
// on: with the rest of its folder, the folders beside it and the next selected
// folder. The operation answers 0 and leaves the last error alone.
TEST_F(CompactCopy, AFailedItemIsRecordedAndTheCopyGoesOn) {
  std::vector<std::string> eml = EmlFiles();
  REQUIRE_TEST_DATA(eml.size() >= 3);
  std::string mail = AddStore("Outlook", "Mail");
  AddStore("Outlook", "Archive");
  Import("Outlook", "Mail", "Inbox", {eml[0], eml[1], eml[2]});
  Import("Outlook", "Mail", "Inbox/Later", {eml[0]});
  Import("Outlook", "Mail", "Inbox/Next", {eml[0]});

  COutlookFacade facade;
  OLCATALOGDATA records[] = {Record(OLFOLDER_INBOX, u"Inbox"), Record(OLFOLDER_SENTMAIL, u"Sent Items")};
  CString destination(Win(RootFile("Archive.pst")).c_str());
  standin::ArmFault("IMAPIFolder::CopyMessages", MAPI_E_CALL_FAILED, 2);
  SetLastError(4242);
  EXPECT_EQ(facade.BackupMessage(Win(mail).c_str(), destination, records, 2), 0);
  EXPECT_EQ(GetLastError(), 4242u);
  // The new sub-folders' messages come with the folders' properties.
  EXPECT_EQ(standin::FaultCallCount("IMAPIFolder::CopyMessages"), 3u) << "one call per message, none tried twice";
  json archive = Dump("Outlook", "Archive");
  EXPECT_EQ(Count(archive, "Inbox"), 2u) << "the messages after the failed one are copied";
  EXPECT_EQ(Count(*Folder(archive, "Inbox"), "Later"), 1u) << "and the sub-folders";

  // Sub-folders that are there take their new messages one by one: one that
  // fails in the first does not stop the next sub-folder, nor the next folder.
  Import("Outlook", "Mail", "Inbox/Later", {eml[1], eml[2]});
  Import("Outlook", "Mail", "Inbox/Next", {eml[1]});
  Import("Outlook", "Mail", "Sent Items", {eml[0]});
  standin::ArmFault("IMAPIFolder::CopyMessages", MAPI_E_CALL_FAILED, 2);
  EXPECT_EQ(facade.BackupMessage(Win(mail).c_str(), destination, records, 2), 0);
  EXPECT_EQ(standin::FaultCallCount("IMAPIFolder::CopyMessages"), 5u);
  archive = Dump("Outlook", "Archive");
  EXPECT_EQ(Count(archive, "Inbox"), 3u);
  EXPECT_EQ(Count(*Folder(archive, "Inbox"), "Later"), 2u);
  EXPECT_EQ(Count(*Folder(archive, "Inbox"), "Next"), 2u);
  EXPECT_EQ(Count(archive, "Sent Items"), 1u);

  standin::ClearFault("IMAPIFolder::CopyMessages");
  EXPECT_EQ(facade.BackupMessage(Win(mail).c_str(), destination, records, 2), 1);
  EXPECT_EQ(GetLastError(), 4242u);
  EXPECT_EQ(Count(*Folder(Dump("Outlook", "Archive"), "Inbox"), "Later"), 3u);
}

// Stores no profile holds are attached as synchronise attaches them, and a
// temporary profile found before the run must go before the run makes its own.
TEST_F(CompactCopy, BackupPreparesTheTemporaryProfileAsSynchroniseDoes) {
  std::vector<std::string> eml = EmlFiles();
  REQUIRE_TEST_DATA(!eml.empty());
  AddStore("Outlook", "Mail");
  Import("Outlook", "Mail", "Inbox", {eml[0]});
  Ok({"service", "remove", "Outlook", "--name", "Mail"});
  std::string source = RootFile("Mail.pst");

  COutlookFacade facade;
  OLCATALOGDATA records[] = {Record(OLFOLDER_INBOX, u"Inbox")};
  CString destination(Win(RootFile("copy.pst")).c_str());
  // The profile cannot be deleted afterwards: it stays for a look.
  standin::ArmFault("IProfAdmin::DeleteProfile", MAPI_E_NO_ACCESS);
  ASSERT_EQ(facade.BackupMessage(Win(source).c_str(), destination, records, 1), 1);
  ASSERT_TRUE(HasProfile("QorILantheTemp"));
  std::string services = Ok({"service", "list", "QorILantheTemp"});
  EXPECT_NE(services.find("\tQorDestination\t"), std::string::npos) << services;
  EXPECT_NE(services.find("\tQorSource\t"), std::string::npos) << services;
  EXPECT_EQ(Count(DumpFile(RootFile("copy.pst")), "Inbox"), 1u);

  // A profile of that name that cannot be deleted: nothing is attached and
  // nothing copied (the full build would go on in it).
  Ok({"profile", "delete", "QorILantheTemp"});
  Ok({"profile", "create", "QorILantheTemp"});
  CString another(Win(RootFile("another.pst")).c_str());
  EXPECT_EQ(facade.BackupMessage(Win(source).c_str(), another, records, 1), 0);
  EXPECT_FALSE(fs::exists(RootFile("another.pst")));
  EXPECT_EQ(Ok({"service", "list", "QorILantheTemp"}), "");
  standin::ClearFault("IProfAdmin::DeleteProfile");
  ASSERT_EQ(facade.BackupMessage(Win(source).c_str(), another, records, 1), 1);
  EXPECT_FALSE(HasProfile("QorILantheTemp"));
  EXPECT_EQ(Count(DumpFile(RootFile("another.pst")), "Inbox"), 1u);
}

// No operation mutex: a backup runs to its end while another process holds
// it (the full build would wait for it).
TEST_F(CompactCopy, BackupRunsWhileTheOperationMutexIsHeld) {
  std::vector<std::string> eml = EmlFiles();
  REQUIRE_TEST_DATA(!eml.empty());
  std::string mail = AddStore("Outlook", "Mail");
  Import("Outlook", "Mail", "Inbox", {eml[0]});
  TempDir dir;
  std::string host = CopyHost(dir.path(), "compacthost", "compacthost");

  MutexHolder holder;
  ASSERT_TRUE(holder.held());
  std::vector<std::string> argv = {host, "backup", standin::ToUtf8(Win(mail)),
                                   standin::ToUtf8(Win(RootFile("copy.pst"))), "1:Inbox"};
  ChildResult run = RunChild(argv, CopiedProgramEnv(), 60000);
  EXPECT_EQ(Parse(run.output).result, 1) << run.output;
  holder.Release();
  EXPECT_EQ(Count(DumpFile(RootFile("copy.pst")), "Inbox"), 1u);
}

// With real mail, the mail folders come out of the compact build's backup and
// synchronisation exactly as out of the full build's.
TEST_F(CompactCopy, RealMailComesOutAsFromTheFullBuild) {
  std::vector<std::string> eml = EmlFiles();
  REQUIRE_TEST_DATA(eml.size() >= 8);
  std::string mail = AddStore("Outlook", "Mail");
  Import("Outlook", "Mail", "Inbox", std::vector<std::string>(eml.begin(), eml.begin() + 5));
  Import("Outlook", "Mail", "Lists", {Mbox("mailparser-from-quoting.mbox")});
  Import("Outlook", "Mail", "Lists/Takeout", {Mbox("mimekit-gmail-takeout-style.mbox")});
  std::string other = AddStore("Outlook", "Other");
  Import("Outlook", "Other", "Inbox", std::vector<std::string>(eml.begin() + 3, eml.end()));
  Import("Outlook", "Other", "Lists", {Mbox("mailbox-perl-imagemagick-list.mbox")});
  // Twins of both stores for the full build's synchronisation, made before
  // anything changes them.
  CopyStoreFile(mail, RootFile("Mail2.pst"));
  CopyStoreFile(other, RootFile("Other2.pst"));
  TempDir dir;
  std::string fullHost = CopyHost(dir.path(), "backuphost");

  // Backup.
  COutlookFacade facade;
  OLCATALOGDATA records[] = {Record(OLFOLDER_INBOX, u"Inbox"), Record(OLFOLDER_NORMAL, u"Lists")};
  CString destination(Win(RootFile("compact.pst")).c_str());
  ASSERT_EQ(facade.BackupMessage(Win(mail).c_str(), destination, records, 2), 1);
  HostRun full = RunHost(fullHost, {"backup", standin::ToUtf8(Win(mail)), standin::ToUtf8(Win(RootFile("full.pst"))),
                                    "0", "1:Inbox", "0:Lists"});
  ASSERT_EQ(full.result, 1) << full.output;
  json compactCopy = DumpFile(RootFile("compact.pst"));
  json fullCopy = DumpFile(RootFile("full.pst"));
  for (const char* folder : {"Inbox", "Lists"}) {
    ASSERT_NE(Folder(compactCopy, folder), nullptr) << folder;
    EXPECT_EQ(*Folder(compactCopy, folder), *Folder(fullCopy, folder)) << folder;
  }
  EXPECT_EQ(Count(compactCopy, "Inbox"), 5u);

  // Synchronisation.
  OLCATALOGDATA both[] = {Record(OLFOLDER_INBOX, u"Inbox"), Record(OLFOLDER_NORMAL, u"Lists")};
  ASSERT_EQ(facade.SyncMessage(Win(mail).c_str(), Win(other).c_str(), both, 2), 1);
  full = RunHost(fullHost, {"sync", standin::ToUtf8(Win(RootFile("Mail2.pst"))),
                            standin::ToUtf8(Win(RootFile("Other2.pst"))), "1:Inbox", "0:Lists"});
  ASSERT_EQ(full.result, 1) << full.output;
  const json compactMail = Dump("Outlook", "Mail"), compactOther = Dump("Outlook", "Other");
  const json fullMail = DumpFile(RootFile("Mail2.pst")), fullOther = DumpFile(RootFile("Other2.pst"));
  for (const char* folder : {"Inbox", "Lists"}) {
    EXPECT_EQ(*Folder(compactMail, folder), *Folder(fullMail, folder)) << folder;
    EXPECT_EQ(*Folder(compactOther, folder), *Folder(fullOther, folder)) << folder;
  }
  EXPECT_EQ(Count(compactMail, "Inbox"), eml.size());
  EXPECT_EQ(*Folder(compactMail, "Inbox"), *Folder(compactOther, "Inbox"));
}

}  // namespace
}  // namespace copying
}  // namespace testing_support
