// The catalog's database layer: every failure is one exception with the
// code's name, the code and a text; queries read their first row; numbers are
// read as the platform reads decimal text; a locked database is waited for;
// files are named the platform's way.
#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "catalogdb/DatabaseLayer.h"
#include <standin/root.h>

#include "common/fresh_root.h"

namespace testing_support {
namespace {

namespace fs = std::filesystem;

class DatabaseLayer : public FreshRoot {
 protected:
  void SetUp() override {
    FreshRoot::SetUp();
    path = RootFile("layer.db3");
    db.Open(path.c_str());
  }
  std::string path;
  CppSQLite3DB db;
};

// Runs work and returns what it threw; code -1 when it threw nothing.
template <class Work>
std::pair<int, std::string> Thrown(Work work) {
  try {
    work();
  } catch (const CppSQLite3Exception& e) {
    return {e.Code(), e.Message() ? e.Message() : "(null)"};
  }
  return {-1, ""};
}

typedef std::pair<int, std::string> Failure;

TEST(CodeNames, EveryCodeHasItsNameAndTheRestAreUnknown) {
  EXPECT_STREQ(CppSQLite3Exception::CodeName(0), "SQLITE_OK");
  EXPECT_STREQ(CppSQLite3Exception::CodeName(5), "SQLITE_BUSY");
  EXPECT_STREQ(CppSQLite3Exception::CodeName(14), "SQLITE_CANTOPEN");
  EXPECT_STREQ(CppSQLite3Exception::CodeName(25), "SQLITE_RANGE");
  EXPECT_STREQ(CppSQLite3Exception::CodeName(26), "UNKNOWN_ERROR");
  EXPECT_STREQ(CppSQLite3Exception::CodeName(100), "SQLITE_ROW");
  EXPECT_STREQ(CppSQLite3Exception::CodeName(101), "SQLITE_DONE");
  EXPECT_STREQ(CppSQLite3Exception::CodeName(1000), "CPPSQLITE_ERROR");
  EXPECT_STREQ(CppSQLite3Exception::CodeName(-1), "UNKNOWN_ERROR");
  EXPECT_STREQ(CppSQLite3Exception::CodeName(99), "UNKNOWN_ERROR");
}

TEST(Exception, CarriesItsFormattedMessageAndCopiesIt) {
  CppSQLite3Exception e(19, "UNIQUE constraint failed: t.a");
  EXPECT_EQ(e.Code(), 19);
  EXPECT_STREQ(e.Message(), "SQLITE_CONSTRAINT[19]: UNIQUE constraint failed: t.a");
  CppSQLite3Exception copy(e);
  EXPECT_EQ(copy.Code(), 19);
  EXPECT_STREQ(copy.Message(), e.Message());
  EXPECT_NE(copy.Message(), e.Message()) << "a copy of its own, freed on its own";
  EXPECT_STREQ(CppSQLite3Exception(7, nullptr).Message(), "SQLITE_NOMEM[7]: ");
}

TEST(ClosedDatabase, EveryStatementIsRefused) {
  CppSQLite3DB closed;
  const Failure notOpen = {1000, "CPPSQLITE_ERROR[1000]: Database not open"};
  EXPECT_EQ(Thrown([&] { closed.ExecuteUpdate("create table t(a)"); }), notOpen);
  EXPECT_EQ(Thrown([&] { closed.ExecuteQuery("select 1"); }), notOpen);
  EXPECT_EQ(Thrown([&] { closed.ExecuteScalar("select 1"); }), notOpen);
  EXPECT_EQ(Thrown([&] { closed.TableExists("t"); }), notOpen);
}

TEST_F(DatabaseLayer, InvalidStatementsThrowSqliteErrorWithAndWithoutItsText) {
  EXPECT_EQ(Thrown([&] { db.ExecuteUpdate("creat table t(a)"); }),
            Failure(1, "SQLITE_ERROR[1]: near \"creat\": syntax error"));
  // A query that does not compile carries no text of the connection's.
  EXPECT_EQ(Thrown([&] { db.ExecuteQuery("selec 1"); }), Failure(1, "SQLITE_ERROR[1]: "));
  // The connection stays usable.
  EXPECT_EQ(db.ExecuteScalar("select 41 + 1"), 42);
}

TEST_F(DatabaseLayer, AFailingStepReportsTheSpecificErrorOfItsStatement) {
  db.ExecuteUpdate("create table t(a unique); insert into t values(1);");
  EXPECT_EQ(Thrown([&] { db.ExecuteQuery("insert into t values(1)"); }),
            Failure(19, "SQLITE_CONSTRAINT[19]: UNIQUE constraint failed: t.a"));
}

TEST_F(DatabaseLayer, UpdatesCountTheRowsOfTheirLastStatement) {
  EXPECT_EQ(db.ExecuteUpdate("create table t(a); insert into t values(1); insert into t values(2);"), 1);
  EXPECT_EQ(db.ExecuteUpdate("insert into t select a + 10 from t"), 2);
  EXPECT_EQ(db.ExecuteUpdate("delete from t where a > 1"), 3);
  // A table creation changes no row: the count left by the last change stays.
  EXPECT_EQ(db.ExecuteUpdate("create table u(b)"), 3);
}

TEST_F(DatabaseLayer, QueriesReadTheirFirstRowOnly) {
  db.ExecuteUpdate("create table t(a, b); insert into t values('first', null); insert into t values('second', 2);");
  CppSQLite3Query query = db.ExecuteQuery("select a, b from t order by rowid");
  EXPECT_FALSE(query.AtEnd());
  EXPECT_EQ(query.ColumnCount(), 2);
  EXPECT_STREQ(query.ColumnText(0), "first");
  EXPECT_EQ(query.ColumnText(1), nullptr) << "SQL NULL";
  EXPECT_EQ(Thrown([&] { query.ColumnText(2); }), Failure(1000, "CPPSQLITE_ERROR[1000]: Invalid field index requested"));
  EXPECT_EQ(Thrown([&] { query.ColumnText(-1); }).first, 1000);
  query.Finalize();
  EXPECT_EQ(Thrown([&] { query.ColumnText(0); }), Failure(1000, "CPPSQLITE_ERROR[1000]: Null Virtual Machine pointer"));
  EXPECT_EQ(Thrown([&] { query.ColumnCount(); }).first, 1000);
  query.Finalize();  // twice is nothing

  CppSQLite3Query empty = db.ExecuteQuery("select a from t where a = 'none'");
  EXPECT_TRUE(empty.AtEnd());
  EXPECT_EQ(empty.ColumnCount(), 1);
  // A text with no statement in it is a query without rows or statement.
  CppSQLite3Query nothing = db.ExecuteQuery("-- only a comment");
  EXPECT_TRUE(nothing.AtEnd());
  EXPECT_EQ(Thrown([&] { nothing.ColumnCount(); }).first, 1000);
}

TEST_F(DatabaseLayer, AQueryKeepsTheConnectionFromClosingUntilItIsGone) {
  {
    CppSQLite3Query query = db.ExecuteQuery("select 1");
    CppSQLite3Query moved = std::move(query);
    EXPECT_STREQ(moved.ColumnText(0), "1");
  }
  // Every statement was finalized: the table can be dropped and the file closed.
  db.ExecuteUpdate("create table t(a); drop table t;");
}

TEST_F(DatabaseLayer, ScalarsAreReadAsThePlatformReadsDecimalText) {
  db.ExecuteUpdate("create table t(a)");
  EXPECT_EQ(db.ExecuteScalar("select count(*) from t"), 0);
  EXPECT_EQ(db.ExecuteScalar("select '12abc'"), 12);
  EXPECT_EQ(db.ExecuteScalar("select '  -7 apples'"), -7);
  EXPECT_EQ(db.ExecuteScalar("select 'abc'"), 0);
  EXPECT_EQ(db.ExecuteScalar("select null"), 0);
  EXPECT_EQ(db.ExecuteScalar("select 99999999999"), 2147483647) << "stops at the end of the range";
  EXPECT_EQ(Thrown([&] { db.ExecuteScalar("select a from t"); }),
            Failure(1000, "CPPSQLITE_ERROR[1000]: Invalid scalar query"));
  EXPECT_EQ(Thrown([&] { db.ExecuteScalar(""); }), Failure(1000, "CPPSQLITE_ERROR[1000]: Null Virtual Machine pointer"));
}

TEST_F(DatabaseLayer, TablesExistOnlyAsTablesAndAnyNameIsAskedAboutAsItIs) {
  db.ExecuteUpdate("create table category(a); create view folders as select 1;");
  EXPECT_TRUE(db.TableExists("category"));
  EXPECT_FALSE(db.TableExists("missing"));
  EXPECT_FALSE(db.TableExists("folders")) << "a view is no table";
  // A name with a quote is a name, not a statement.
  EXPECT_FALSE(db.TableExists("x' or '1'='1"));
  db.ExecuteUpdate("create table \"it's\"(a)");
  EXPECT_TRUE(db.TableExists("it's"));
  std::string longName(300, 't');
  db.ExecuteUpdate(("create table " + longName + "(a)").c_str());
  EXPECT_TRUE(db.TableExists(longName.c_str())) << "never cut";
}

TEST_F(DatabaseLayer, OpenMakesTheFileAndOpenExistingNever) {
  EXPECT_TRUE(fs::exists(path));
  std::string missing = RootFile("missing.db3");
  CppSQLite3DB existing;
  Failure failure = Thrown([&] { existing.OpenExisting(missing.c_str()); });
  EXPECT_EQ(failure.first, 14);
  EXPECT_EQ(failure.second.rfind("SQLITE_CANTOPEN[14]: ", 0), 0u) << failure.second;
  EXPECT_FALSE(fs::exists(missing));

  db.ExecuteUpdate("create table t(a); insert into t values(5);");
  existing.OpenExisting(path.c_str());
  EXPECT_EQ(existing.ExecuteScalar("select a from t"), 5);
}

TEST_F(DatabaseLayer, FilesAreNamedThePlatformsWay) {
  CppSQLite3DB windows;
  std::string name = standin::ToUtf8(standin::ToWindowsPath(RootFile("sub")));
  fs::create_directories(RootFile("sub"));
  windows.Open((name + "\\named.db3").c_str());
  windows.ExecuteUpdate("create table t(a)");
  EXPECT_TRUE(fs::exists(RootFile("sub/named.db3")));
  EXPECT_FALSE(fs::exists(name + "\\named.db3")) << "no file named after the Windows path";

  CppSQLite3DB elsewhere;
  EXPECT_EQ(Thrown([&] { elsewhere.Open("C:\\named.db3"); }).first, 14) << "this machine has no drive C:";
}

TEST_F(DatabaseLayer, ALockedDatabaseIsWaitedForNotRefused) {
  db.ExecuteUpdate("create table t(a)");
  std::atomic<bool> locked{false};
  std::thread holder([&] {
    CppSQLite3DB other;
    other.Open(path.c_str());
    other.ExecuteUpdate("begin immediate; insert into t values(1);");
    locked = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    other.ExecuteUpdate("commit;");
  });
  while (!locked) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(db.ExecuteUpdate("insert into t values(2)"), 1);
  holder.join();
  EXPECT_EQ(db.ExecuteScalar("select count(*) from t"), 2);
}

}  // namespace
}  // namespace testing_support
