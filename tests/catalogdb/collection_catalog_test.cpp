// The collection catalog "mail.db3", written by the library and read back by
// the sqlite3 program (an independent reader), and written by the sqlite3
// program and read by the library: its exact schema and rows, rows of other
// programs kept, names stored as they are whatever they hold, all or nothing.
#include <filesystem>

#include <standin/fault.h>
#include <standin/root.h>
#include <winerror.h>

#include "catalogdb/CollectionCatalog.h"
#include "common/sqlite_cli.h"

namespace testing_support {
namespace {

namespace fs = std::filesystem;

class CollectionCatalog : public FreshRoot {
 protected:
  void SetUp() override {
    FreshRoot::SetUp();
    ASSERT_NE(Sqlite3Program(), "") << "the sqlite3 program is missing (./setup.sh installs it)";
    catalog = RootFile("mail.db3");
  }
  std::string Read(const std::string& sql) { return Sqlite3(catalog, {sql}); }
  std::string catalog;
};

const char kCategorySchema[] =
    "CREATE TABLE category (Id integer primary key asc,cat_type integer not null,cat_dest text not null,cat_desc "
    "text);";
const char kFolderSchema[] =
    "CREATE TABLE outlookfolder(Id integer primary key asc,ou_name text not null,ou_type integer not null,ou_parent "
    "integer,ou_class text);";

TEST_F(CollectionCatalog, AFirstCollectionMakesBothTablesAndItsRows) {
  WriteCollectionCatalog(catalog.c_str(), "outlook.pst", {{1, "Inbox"}, {7, "Calendar"}, {14, "root"}});
  EXPECT_EQ(Sqlite3(catalog, {".schema"}), std::string(kCategorySchema) + "\n" + kFolderSchema + "\n");
  EXPECT_EQ(Read("select quote(Id), quote(cat_type), quote(cat_dest), quote(cat_desc) from category"),
            "1|1|'outlook.pst'|'outlook'\n");
  EXPECT_EQ(Read("select quote(Id), quote(ou_name), quote(ou_type), quote(ou_parent), quote(ou_class) from "
                 "outlookfolder order by Id"),
            "1|'Inbox'|1|NULL|NULL\n2|'Calendar'|7|NULL|NULL\n3|'root'|14|NULL|NULL\n");

  std::string name;
  ASSERT_TRUE(ReadCollectedStoreName(catalog.c_str(), name));
  EXPECT_EQ(name, "outlook.pst");
}

TEST_F(CollectionCatalog, ACollectionReplacesOnlyItsOwnRows) {
  Sqlite3(catalog, {std::string(kCategorySchema),
                    "insert into category(cat_type, cat_dest, cat_desc) values(2, 'photos.zip', 'photos')"});
  WriteCollectionCatalog(catalog.c_str(), "outlook.pst", {{1, "Inbox"}, {3, "Sent Items"}});
  WriteCollectionCatalog(catalog.c_str(), "outlook.pst", {{8, "Contacts"}});
  EXPECT_EQ(Read("select cat_type, cat_dest, cat_desc from category order by cat_type"),
            "1|outlook.pst|outlook\n2|photos.zip|photos\n");
  EXPECT_EQ(Read("select ou_type, ou_name from outlookfolder"), "8|Contacts\n") << "only the last collection's";
  EXPECT_EQ(Sqlite3(catalog, {".schema category"}), std::string(kCategorySchema) + "\n") << "the table is kept";
}

TEST_F(CollectionCatalog, NamesAreStoredAsTheyAreWhateverTheyHold) {
  const std::string hostile = "O'Brien'); drop table category; --";
  const std::string quoted = "it's 'quoted' \"twice\"";
  const std::string longName(5000, 'n');
  WriteCollectionCatalog(catalog.c_str(), hostile.c_str(), {{0, hostile}, {0, quoted}, {0, longName}, {0, "Ünïcødé"}});
  EXPECT_EQ(Read("select cat_dest from category"), hostile + "\n");
  EXPECT_EQ(Read("select ou_name from outlookfolder order by Id"),
            hostile + "\n" + quoted + "\n" + longName + "\nÜnïcødé\n");
  EXPECT_EQ(Read("select count(*) from sqlite_master"), "2\n") << "nothing else happened";
  std::string name;
  ASSERT_TRUE(ReadCollectedStoreName(catalog.c_str(), name));
  EXPECT_EQ(name, hostile);
}

TEST_F(CollectionCatalog, AFailurePartWayLeavesThePreviousCatalogWhole) {
  WriteCollectionCatalog(catalog.c_str(), "first.pst", {{1, "Inbox"}, {3, "Sent Items"}});
  const std::string before = Read("select * from category; select * from outlookfolder;");
  // Another program makes the third folder row fail.
  Sqlite3(catalog, {"create trigger refuse before insert on outlookfolder when new.ou_name = 'Third' "
                    "begin select raise(abort, 'refused'); end;"});
  try {
    WriteCollectionCatalog(catalog.c_str(), "second.pst", {{0, "First"}, {0, "Second"}, {0, "Third"}});
    ADD_FAILURE() << "the refused row passed";
  } catch (const CppSQLite3Exception& e) {
    EXPECT_EQ(e.Code(), 19);
    EXPECT_STREQ(e.Message(), "SQLITE_CONSTRAINT[19]: refused");
  }
  EXPECT_EQ(Read("select * from category; select * from outlookfolder;"), before);
  EXPECT_FALSE(fs::exists(catalog + "-journal"));
}

// A catalog named the platform's way is written through the platform's file
// calls: a sync that fails there fails the collection, and the previous
// catalog stays whole.
TEST_F(CollectionCatalog, AFailedFileSyncLeavesThePreviousCatalogWhole) {
  const std::string windowsName = standin::ToUtf8(standin::ToWindowsPath(catalog));
  WriteCollectionCatalog(windowsName.c_str(), "first.pst", {{1, "Inbox"}});
  const std::string before = Read("select * from category; select * from outlookfolder;");
  ASSERT_EQ(before, "1|1|first.pst|outlook\n1|Inbox|1||\n");
  standin::ArmFault("FlushFileBuffers", ERROR_DISK_FULL, 1);
  EXPECT_THROW(WriteCollectionCatalog(windowsName.c_str(), "second.pst", {{0, "Other"}}), CppSQLite3Exception);
  EXPECT_EQ(standin::FaultCallCount("FlushFileBuffers"), 1u);
  standin::ClearAllFaults();
  EXPECT_EQ(Read("select * from category; select * from outlookfolder;"), before);
  WriteCollectionCatalog(windowsName.c_str(), "second.pst", {{0, "Other"}});
  EXPECT_EQ(Read("select cat_dest from category; select ou_name from outlookfolder;"), "second.pst\nOther\n");
}

TEST_F(CollectionCatalog, ACatalogMadeElsewhereIsReadAndOnlyItsOutlookRowCounts) {
  Sqlite3(catalog, {std::string(kCategorySchema),
                    "insert into category(cat_type, cat_dest, cat_desc) values(2, 'photos.zip', 'photos')"});
  std::string name = "unchanged";
  EXPECT_FALSE(ReadCollectedStoreName(catalog.c_str(), name)) << "no 'outlook' row";
  EXPECT_EQ(name, "unchanged");
  Sqlite3(catalog, {"insert into category(cat_type, cat_dest, cat_desc) values(5, 'mine.pst', 'outlook')"});
  ASSERT_TRUE(ReadCollectedStoreName(catalog.c_str(), name));
  EXPECT_EQ(name, "mine.pst");
}

TEST_F(CollectionCatalog, ReadingNeverMakesOrChangesAFile) {
  std::string name;
  try {
    ReadCollectedStoreName(catalog.c_str(), name);
    ADD_FAILURE() << "a missing catalog was read";
  } catch (const CppSQLite3Exception& e) {
    EXPECT_EQ(e.Code(), 14);
  }
  EXPECT_FALSE(fs::exists(catalog));

  WriteFileBytes(catalog, "");
  try {
    ReadCollectedStoreName(catalog.c_str(), name);
    ADD_FAILURE() << "an empty file holds no catalog";
  } catch (const CppSQLite3Exception& e) {
    EXPECT_EQ(e.Code(), 1);
  }
  EXPECT_EQ(ReadFileBytes(catalog), "");

  WriteFileBytes(catalog, std::string(4096, 'x'));
  try {
    ReadCollectedStoreName(catalog.c_str(), name);
    ADD_FAILURE() << "a file that is no database was read";
  } catch (const CppSQLite3Exception& e) {
    EXPECT_EQ(e.Code(), 26);
    // Found while compiling: the layer gives no text of the connection then.
    EXPECT_STREQ(e.Message(), "UNKNOWN_ERROR[26]: ");
  }
  EXPECT_EQ(ReadFileBytes(catalog), std::string(4096, 'x'));
}

}  // namespace
}  // namespace testing_support
