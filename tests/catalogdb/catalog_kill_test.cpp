// A collection killed while it writes its catalog leaves the previous catalog
// or the new one, never rows of one with rows of the other; the next
// collection and the next restore read and write it as usual.
#include <signal.h>

#include <random>
#include <sstream>

#include "catalogdb/CollectionCatalog.h"
#include "common/sqlite_cli.h"

namespace testing_support {
namespace {

const int kFolders = 40;

// The collection the catalog holds, checked whole: one row of kind 1 naming
// "store-<n>.pst" and exactly the folders "<n>.0" to "<n>.39" in order.
long WholeCollection(const std::string& catalog) {
  std::istringstream rows(Sqlite3(catalog, {"select cat_dest from category where cat_type = 1",
                                            "select ou_name, ou_type from outlookfolder order by Id"}));
  std::string line;
  if (!std::getline(rows, line) || line.rfind("store-", 0) != 0) {
    ADD_FAILURE() << "no collection row: " << line;
    return -1;
  }
  long n = std::stol(line.substr(6));
  int k = 0;
  while (std::getline(rows, line)) {
    EXPECT_EQ(line, std::to_string(n) + "." + std::to_string(k) + "|" + std::to_string(k % 15))
        << "collection " << n << " has a folder row of another";
    ++k;
  }
  EXPECT_EQ(k, kFolders) << "collection " << n;
  return n;
}

long LastWritten(const std::string& output) {
  size_t at = output.rfind("written ");
  return at == std::string::npos ? -1 : std::stol(output.substr(at + 8));
}

using CatalogKill = FreshRoot;

TEST_F(CatalogKill, AKilledCollectionLeavesThePreviousOrTheNewCatalog) {
  ASSERT_NE(Sqlite3Program(), "");
  std::string catalog = RootFile("mail.db3");
  std::mt19937 random(20240612);
  std::uniform_int_distribution<int> delayMs(1, 40);
  long previous = -1;
  for (int round = 0; round < 8; ++round) {
    long first = (round + 1) * 100000L;
    Child writer({BuiltProgram("cataloghost"), catalog, std::to_string(first), std::to_string(kFolders)});
    // Killed only once it is in its loop, at a point of the seeded choice.
    ASSERT_TRUE(WaitUntil([&] { return LastWritten(writer.Output()) >= first; })) << writer.Output();
    usleep(static_cast<useconds_t>(delayMs(random) * 1000));
    writer.Kill(SIGKILL);
    ChildResult ended;
    ASSERT_TRUE(writer.Wait(10000, &ended));
    ASSERT_EQ(ended.signal, SIGKILL) << ended.output;

    long written = LastWritten(ended.output);
    long held = WholeCollection(catalog);
    // The last one it reported, or the one it was finishing when it died.
    EXPECT_TRUE(held == written || held == written + 1) << "holds " << held << ", last reported " << written;
    EXPECT_GT(held, previous);
    previous = held;
  }

  // The next collection and restore go on as usual.
  WriteCollectionCatalog(catalog.c_str(), "outlook.pst", {{1, "Inbox"}});
  std::string name;
  ASSERT_TRUE(ReadCollectedStoreName(catalog.c_str(), name));
  EXPECT_EQ(name, "outlook.pst");
  EXPECT_EQ(Sqlite3(catalog, {"pragma integrity_check", "select ou_name from outlookfolder"}), "ok\nInbox\n");
}

}  // namespace
}  // namespace testing_support
