// Collect and restore through the exported facade, on fresh roots with real
// mail: a collection folder holds "outlook.pst" and its catalog "mail.db3"
// (read back by the sqlite3 program); a restore on a machine without stores
// makes and attaches "restore.pst", on a machine with stores fills the default
// one. A catalog is data from anywhere: one that names a file outside its
// folder, or is no catalog at all, restores nothing and says why in the log.
#include <standin/fault.h>

#include "common/sqlite_cli.h"
#include "facade/copy_support.h"

namespace testing_support {
namespace copying {
namespace {

class FacadeCollect : public CopyTest {
 protected:
  void SetUp() override {
    CopyTest::SetUp();
    ASSERT_NE(Sqlite3Program(), "") << "the sqlite3 program is missing (./setup.sh installs it)";
    collection = RootFile("collection");
    fs::create_directories(collection);
  }
  std::string Catalog(const std::string& sql) { return Sqlite3(collection + "/mail.db3", {sql}); }
  std::vector<OLCATALOGDATA> TopFolders(const std::string& store) {
    COutlookFacade facade;
    OLCATALOGDATA* records = nullptr;
    DWORD count = 0;
    EXPECT_EQ(facade.GetCatalog(Win(store).c_str(), &records, &count), 1);
    std::vector<OLCATALOGDATA> out(records, records + (records ? count : 0));
    delete[] records;
    return out;
  }
  // The catalog's folder rows as the sqlite3 program prints them.
  static std::string Rows(const std::vector<OLCATALOGDATA>& records) {
    std::string rows;
    for (const OLCATALOGDATA& r : records)
      rows += std::to_string(r.nType) + "|" + standin::ToUtf8(r.szName) + "\n";
    return rows;
  }
  // Leaves this machine for a fresh one whose profile "Outlook" holds no store.
  void MoveToSecondMachine(const std::string& name) {
    COutlookFacade::Term();
    std::string second = RootFile(name);
    fs::create_directories(second);
    setenv("CORVANE_PLATFORM_ROOT", second.c_str(), 1);
    Ok({"install"});
    ASSERT_EQ(COutlookFacade::Init(0), 1);
  }
  std::string collection;
};

TEST_F(FacadeCollect, RealMailCollectedHereIsRestoredOnAMachineWithoutStores) {
  std::vector<std::string> eml = EmlFiles();
  REQUIRE_TEST_DATA(!eml.empty());
  std::string mail = AddStore("Outlook", "Mail");
  Import("Outlook", "Mail", "Inbox", eml);
  Import("Outlook", "Mail", "Lists", {Mbox("mailparser-from-quoting.mbox")});
  Import("Outlook", "Mail", "Lists/Takeout", {Mbox("mimekit-gmail-takeout-style.mbox")});
  json original = Dump("Outlook", "Mail");
  std::vector<OLCATALOGDATA> folders = TopFolders(mail);

  COutlookFacade facade;
  ProgressCount progress;
  progress.AttachTo(facade);
  CString path(Win(collection).c_str());
  ASSERT_EQ(facade.CollectMessage(Win(mail).c_str(), path, folders.data(), static_cast<DWORD>(folders.size())), 1);
  EXPECT_EQ(std::u16string(path.GetString()), Win(collection) + u"\\outlook.pst");
  EXPECT_EQ(progress.steps, eml.size() + 8);
  EXPECT_EQ(Catalog("select cat_type, cat_dest, cat_desc from category"), "1|outlook.pst|outlook\n");
  EXPECT_EQ(Catalog("select ou_type, ou_name from outlookfolder order by Id"), Rows(folders));
  const std::string catalogBytes = ReadFileBytes(collection + "/mail.db3");

  MoveToSecondMachine("second");
  std::string restored = RootFile("second/Users/user/AppData/Roaming/restore.pst");
  COutlookFacade there;
  CString dir(Win(collection).c_str());
  SetLastError(12345);
  standin::ArmFault("IMsgServiceAdmin::CreateMsgService", MAPI_E_CALL_FAILED, 100000);
  ASSERT_EQ(there.AutoRestoreMessage(dir), 1);
  // The attach is the last service made.
  const unsigned attach = standin::FaultCallCount("IMsgServiceAdmin::CreateMsgService");
  standin::ClearAllFaults();
  EXPECT_EQ(GetLastError(), 0u) << "the copy's result code";
  EXPECT_EQ(std::u16string(dir.GetString()), Win(collection)) << "the caller's string stays";
  ASSERT_TRUE(fs::is_regular_file(restored));
  std::vector<CString> paths, names;
  there.GetOutlookPst(paths, names);
  ASSERT_EQ(paths.size(), 1u);
  EXPECT_EQ(standin::ToUtf8(names[0].GetString()), "QorDestination");
  EXPECT_EQ(std::u16string(paths[0].GetString()), Win(restored));

  json copy = Dump("Outlook", "QorDestination");
  for (const char* name : {"Inbox", "Lists"}) {
    ASSERT_NE(Folder(copy, name), nullptr) << name;
    EXPECT_EQ(*Folder(copy, name), *Folder(original, name)) << name;
  }
  EXPECT_TRUE(ReadFileBytes(collection + "/mail.db3") == catalogBytes) << "a restore writes nothing into the collection";
  EXPECT_FALSE(fs::exists(collection + "/mail.db3-journal"));
  EXPECT_FALSE(HasProfile("QorILantheTemp"));

  // A restored store the profile cannot take fails the restore; the copy stays.
  MoveToSecondMachine("third");
  restored = RootFile("third/Users/user/AppData/Roaming/restore.pst");
  standin::ArmFault("IMsgServiceAdmin::CreateMsgService", MAPI_E_CALL_FAILED, attach);
  EXPECT_EQ(there.AutoRestoreMessage(dir), 0);
  EXPECT_TRUE(fs::is_regular_file(restored));
  paths.clear();
  names.clear();
  there.GetOutlookPst(paths, names);
  EXPECT_TRUE(paths.empty()) << "nothing attached";
}

TEST_F(FacadeCollect, ACollectionAgainReplacesTheFolderRowsAndAnyPathFormGivesTheSame) {
  std::string mail = AddStore("Outlook", "Mail");
  COutlookFacade facade;
  OLCATALOGDATA first[] = {Record(OLFOLDER_INBOX, u"Inbox"), Record(OLFOLDER_SENTMAIL, u"Sent Items")};
  CString plain(Win(collection).c_str());
  ASSERT_EQ(facade.CollectMessage(Win(mail).c_str(), plain, first, 2), 1);
  EXPECT_EQ(Catalog("select ou_type, ou_name from outlookfolder order by Id"), "1|Inbox\n3|Sent Items\n");

  OLCATALOGDATA second[] = {Record(OLFOLDER_CONTACTS, u"Contacts")};
  CString withBackslash((Win(collection) + u"\\").c_str());
  ASSERT_EQ(facade.CollectMessage(Win(mail).c_str(), withBackslash, second, 1), 1);
  EXPECT_EQ(std::u16string(withBackslash.GetString()), std::u16string(plain.GetString()));
  EXPECT_EQ(Catalog("select cat_type, cat_dest from category"), "1|outlook.pst\n");
  EXPECT_EQ(Catalog("select ou_type, ou_name from outlookfolder"), "8|Contacts\n");

  // What is no folder is refused before anything is copied or written.
  WriteFileBytes(RootFile("afile"), "text");
  CString file(Win(RootFile("afile")).c_str());
  EXPECT_EQ(facade.CollectMessage(Win(mail).c_str(), file, second, 1), 0);
  EXPECT_EQ(std::u16string(file.GetString()), Win(RootFile("afile")) + u"\\") << "keeps the backslash it got";
  CString missing(Win(RootFile("missing")).c_str());
  EXPECT_EQ(facade.CollectMessage(Win(mail).c_str(), missing, second, 1), 0);
  CString empty;
  EXPECT_EQ(facade.CollectMessage(Win(mail).c_str(), empty, second, 1), 0);
  EXPECT_TRUE(empty.IsEmpty()) << "an empty path is no drive's root";
  EXPECT_EQ(ReadFileBytes(RootFile("afile")), "text");
  EXPECT_FALSE(fs::exists(RootFile("missing")));
  EXPECT_FALSE(fs::exists(RootFile("mail.db3")));
}

TEST_F(FacadeCollect, AFailedCopyLeavesTheCatalogAsItWas) {
  std::vector<std::string> eml = EmlFiles();
  REQUIRE_TEST_DATA(eml.size() >= 2);
  std::string mail = AddStore("Outlook", "Mail");
  COutlookFacade facade;
  OLCATALOGDATA inbox[] = {Record(OLFOLDER_INBOX, u"Inbox")};
  CString path(Win(collection).c_str());
  ASSERT_EQ(facade.CollectMessage(Win(mail).c_str(), path, inbox, 1), 1);
  const std::string before = ReadFileBytes(collection + "/mail.db3");

  Import("Outlook", "Mail", "Inbox", {eml[0], eml[1]});
  standin::ArmFault("IMAPIFolder::CopyMessages", static_cast<int32_t>(0x80004005));
  OLCATALOGDATA other[] = {Record(OLFOLDER_INBOX, u"Inbox"), Record(OLFOLDER_NORMAL, u"Elsewhere")};
  CString again(Win(collection).c_str());
  EXPECT_EQ(facade.CollectMessage(Win(mail).c_str(), again, other, 2), 0);
  EXPECT_EQ(GetLastError(), 112u);
  EXPECT_TRUE(ReadFileBytes(collection + "/mail.db3") == before) << "the catalog as it was";
}

TEST_F(FacadeCollect, EveryStoreGoesIntoOneStoreAndTheCatalogDescribesTheLast) {
  COutlookFacade facade;
  CString dir(Win(collection).c_str());
  EXPECT_EQ(facade.AutoCollectMessage(dir), 1) << "no store, nothing to do";
  EXPECT_TRUE(fs::is_empty(collection));

  std::vector<std::string> eml = EmlFiles();
  REQUIRE_TEST_DATA(eml.size() >= 3);
  std::string mail = AddStore("Outlook", "Mail");
  std::string archive = AddStore("Outlook", "Archive");
  Import("Outlook", "Mail", "Inbox", {eml[0], eml[1]});
  Import("Outlook", "Archive", "Old", {eml[2]});
  ASSERT_EQ(facade.AutoCollectMessage(dir), 1);
  EXPECT_EQ(std::u16string(dir.GetString()), Win(collection)) << "the caller's string stays";

  json collected = DumpFile(collection + "/outlook.pst");
  EXPECT_EQ(Count(collected, "Inbox"), 2u);
  EXPECT_EQ(Count(collected, "Old"), 1u);
  // The default store comes first, so the catalog describes the other one.
  EXPECT_EQ(Catalog("select ou_type, ou_name from outlookfolder order by Id"), Rows(TopFolders(archive)));
  EXPECT_EQ(Catalog("select count(*) from category"), "1\n");

  // A store that cannot be listed is left out, and the collection is not
  // whole; the other stores are still collected.
  std::string broken = AddStore("Outlook", "Broken");
  WriteFileBytes(broken, "no store");
  Import("Outlook", "Mail", "Inbox", {eml[2]});
  EXPECT_EQ(facade.AutoCollectMessage(dir), 0);
  EXPECT_EQ(Count(DumpFile(collection + "/outlook.pst"), "Inbox"), 3u);
}

TEST_F(FacadeCollect, ARestoreOnAMachineWithStoresFillsTheDefaultOneAndAttachesNothing) {
  std::vector<std::string> eml = EmlFiles();
  REQUIRE_TEST_DATA(eml.size() >= 3);
  std::string mail = AddStore("Outlook", "Mail");
  std::string archive = AddStore("Outlook", "Archive");
  Import("Outlook", "Archive", "Inbox", {eml[0], eml[1], eml[2]});
  COutlookFacade facade;
  std::vector<OLCATALOGDATA> folders = TopFolders(archive);
  CString path(Win(collection).c_str());
  ASSERT_EQ(facade.CollectMessage(Win(archive).c_str(), path, folders.data(), static_cast<DWORD>(folders.size())), 1);
  const std::string services = Ok({"service", "list", "Outlook"});

  CString dir(Win(collection).c_str());
  ASSERT_EQ(facade.AutoRestoreMessage(dir), 1);
  EXPECT_EQ(Count(Dump("Outlook", "Mail"), "Inbox"), 3u) << "the default store";
  EXPECT_EQ(Count(Dump("Outlook", "Archive"), "Inbox"), 3u);
  EXPECT_EQ(Ok({"service", "list", "Outlook"}), services) << "nothing attached";
  EXPECT_FALSE(fs::exists(RootFile("Users/user/AppData/Roaming/restore.pst")));
}

// ---- catalogs from elsewhere, run in a host process whose log is read ----

class HostileCatalog : public FacadeCollect {
 protected:
  void SetUp() override {
    FacadeCollect::SetUp();
    eml = EmlFiles();
    REQUIRE_TEST_DATA(eml.size() >= 2);
    // The machine restored into: its default store, and a collection of
    // another store's mail.
    AddStore("Outlook", "Mail");
    archive = AddStore("Outlook", "Archive");
    Import("Outlook", "Archive", "Inbox", {eml[0], eml[1]});
    COutlookFacade facade;
    std::vector<OLCATALOGDATA> folders = TopFolders(archive);
    CString path(Win(collection).c_str());
    ASSERT_EQ(facade.CollectMessage(Win(archive).c_str(), path, folders.data(), static_cast<DWORD>(folders.size())), 1);
    // A store just outside the collection folder that a catalog may point at.
    fs::copy_file(collection + "/outlook.pst", RootFile("x.pst"));
    outside = ReadFileBytes(RootFile("x.pst"));
    mailBefore = Dump("Outlook", "Mail");
    host = CopyHost(hostDir.path(), "backuphost");
  }
  // Writes the catalog with the sqlite3 program (or as bytes), restores from
  // the collection in a process of its own, and checks that nothing moved.
  std::string Restore(const std::vector<std::string>& catalog, const std::string* bytes = nullptr) {
    std::string file = collection + "/mail.db3";
    fs::remove(file);
    if (bytes)
      WriteFileBytes(file, *bytes);
    else if (!catalog.empty())
      Sqlite3(file, catalog);
    const std::string catalogBytes = ReadFileBytes(file);
    const bool existed = fs::exists(file);
    WriteFileBytes(RootFile("debugger-output.txt"), "");
    HostRun run = RunHost(host, {"restore", standin::ToUtf8(Win(collection))});
    EXPECT_EQ(run.result, 0) << run.output;
    EXPECT_EQ(fs::exists(file), existed) << "no catalog is made";
    EXPECT_TRUE(ReadFileBytes(file) == catalogBytes) << "nor changed";
    EXPECT_TRUE(ReadFileBytes(RootFile("x.pst")) == outside);
    EXPECT_EQ(Dump("Outlook", "Mail"), mailBefore) << "nothing restored";
    return Log();
  }
  static std::vector<std::string> NamingTheStore(const std::string& name) {
    std::string quoted;
    for (char c : name) quoted += c == '\'' ? std::string("''") : std::string(1, c);
    return {"create table category (Id integer primary key asc,cat_type integer not null,cat_dest text not null,"
            "cat_desc text)",
            "insert into category(cat_type, cat_dest, cat_desc) values(1, '" + quoted + "', 'outlook')"};
  }
  std::string CatalogPath() const { return standin::ToUtf8(Win(collection)) + "\\mail.db3"; }

  std::vector<std::string> eml;
  std::string archive, outside, host;
  json mailBefore;
  TempDir hostDir;
};

TEST_F(HostileCatalog, ANameOutsideTheFolderIsRefused) {
  const std::string refused = "The catalog " + CatalogPath() + " names a collected store that is no file of its folder.";
  for (const std::string& name : {std::string("..\\x.pst"), std::string("../x.pst"), std::string("C:\\x.pst"),
                                  standin::ToUtf8(Win(RootFile("x.pst"))), std::string(""), std::string(".."),
                                  std::string("outlook.pst:stream"), std::string("*.pst"),
                                  std::string("outlook.pst\r\n[fake] line")}) {
    std::string log = Restore(NamingTheStore(name));
    EXPECT_NE(log.find(refused), std::string::npos) << name << "\n" << log;
    EXPECT_EQ(log.find("[fake]"), std::string::npos) << "the name itself is not logged";
  }
}

TEST_F(HostileCatalog, ANameTooLongForAPathOrOfNoFileRestoresNothing) {
  std::string log = Restore(NamingTheStore(std::string(5000, 'n')));
  EXPECT_NE(log.find("The path is too long: " + standin::ToUtf8(Win(collection)) + "\\nnnn"), std::string::npos) << log;

  const std::string sql = "O'Brien'); drop table category; --";
  log = Restore(NamingTheStore(sql));
  EXPECT_NE(log.find("The collected store does not exist: " + standin::ToUtf8(Win(collection)) + "\\" + sql),
            std::string::npos)
      << log;
  EXPECT_EQ(Catalog("select cat_dest from category"), sql + "\n") << "the catalog is read, never run";
}

TEST_F(HostileCatalog, WhatIsNoCatalogIsADatabaseErrorInTheLog) {
  std::string log = Restore({"create table category (Id integer primary key asc,cat_type integer not null,"
                             "cat_dest text not null,cat_desc text)",
                             "insert into category(cat_type, cat_dest, cat_desc) values(2, 'outlook.pst', 'photos')"});
  EXPECT_NE(log.find("The catalog " + CatalogPath() + " names no collected store."), std::string::npos) << log;

  log = Restore({"create table category(x)"});
  EXPECT_NE(log.find("Catalog database failed, error:1, SQLITE_ERROR[1]: "), std::string::npos) << log;

  const std::string garbage(4096, 'x'), nothing;
  log = Restore({}, &garbage);
  EXPECT_NE(log.find("Catalog database failed, error:26, UNKNOWN_ERROR[26]: "), std::string::npos) << log;
  log = Restore({}, &nothing);
  EXPECT_NE(log.find("Catalog database failed, error:1, SQLITE_ERROR[1]: "), std::string::npos) << log;
  log = Restore({});
  EXPECT_NE(log.find("Catalog database failed, error:14, SQLITE_CANTOPEN[14]: unable to open database file"),
            std::string::npos)
      << log;
}

TEST_F(HostileCatalog, ACatalogThatRefusesTheCollectionFailsItWithOneLogLine) {
  // A catalog from elsewhere whose trigger refuses the folder rows, with a
  // message made to look like a log line of its own.
  int created = -1;
  Sqlite3(collection + "/mail.db3",
          {"create trigger refuse before insert on outlookfolder begin select raise(abort, 'refused\r\n[fake] line'); end;"},
          &created);
  ASSERT_EQ(created, 0);
  const std::string before = ReadFileBytes(collection + "/mail.db3");
  WriteFileBytes(RootFile("debugger-output.txt"), "");
  HostRun run = RunHost(host, {"collect", standin::ToUtf8(Win(archive)), standin::ToUtf8(Win(collection)), "1:Inbox"});
  EXPECT_EQ(run.result, 0) << run.output;
  std::string log = Log();
  EXPECT_NE(log.find("Catalog database failed, error:19, SQLITE_CONSTRAINT[19]: refused??[fake] line"),
            std::string::npos)
      << log;
  EXPECT_EQ(log.find("\n[fake]"), std::string::npos) << log;
  EXPECT_TRUE(ReadFileBytes(collection + "/mail.db3") == before) << "the catalog as it was";
}

}  // namespace
}  // namespace copying
}  // namespace testing_support
