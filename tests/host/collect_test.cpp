// corvane collect and restore, run as the built program: stores collected
// into a folder and restored on a second machine whose profile holds no
// store, the library's own choice with --all, bad input, a catalog that
// points out of its folder, and Ctrl-C in the middle.
#include <filesystem>

#include "common/sqlite_cli.h"
#include "host_support.h"

namespace host_test {
namespace {

using nlohmann::json;

class CollectTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    collection = scratch + "/collection";
    std::filesystem::create_directories(collection);
  }
  std::string collection;
};

// Messages per folder path of a store of the profile "Outlook" of a machine.
std::map<std::string, size_t> CountsOn(const std::string& root, const std::string& store) {
  Ran dump = RunProgram("mapiadmin", {"dump", "Outlook", "--store", store}, {"CORVANE_PLATFORM_ROOT=" + root});
  EXPECT_EQ(dump.code, 0) << dump.err;
  std::map<std::string, std::vector<std::string>> subjects;
  json parsed = json::parse(dump.out, nullptr, false);
  if (!parsed.is_discarded()) detail::Collect(parsed["tree"], "", subjects);
  std::map<std::string, size_t> counts;
  for (const auto& [folder, list] : subjects)
    if (!list.empty()) counts[folder] = list.size();
  return counts;
}

TEST_F(CollectTest, StoresCollectedHereAreRestoredOnAMachineWithoutStores) {
  Ran collect = Corvane({"collect", "Mail", "Archive", collection, "--json"});
  ASSERT_EQ(collect.code, 0) << collect.err;
  json out = json::parse(collect.out);
  EXPECT_TRUE(out["ok"].get<bool>());
  EXPECT_EQ(out["destination"], collection + "/outlook.pst");
  EXPECT_EQ(out["catalog"], collection + "/mail.db3");
  EXPECT_EQ(out["messages"].get<size_t>(), kMailMessages + 4);
  ASSERT_EQ(out["stores"].size(), 2u);
  EXPECT_EQ(out["stores"][1]["name"], "Archive");
  EXPECT_TRUE(out["stores"][1]["ok"].get<bool>());

  std::string second = RootFile("second");
  std::vector<std::string> there = {"CORVANE_PLATFORM_ROOT=" + second};
  ASSERT_EQ(RunProgram("mapiadmin", {"install"}, there).code, 0);
  Ran restore = Corvane({"restore", collection, "--json"}, there);
  ASSERT_EQ(restore.code, 0) << restore.err;
  json restored = json::parse(restore.out);
  const std::string target = second + "/Users/user/AppData/Roaming/restore.pst";
  EXPECT_EQ(restored["destination"], target);
  EXPECT_TRUE(restored["attached"].get<bool>());
  EXPECT_EQ(restored["messages"].get<size_t>(), kMailMessages + 4);

  Ran list = Corvane({"list", "--json"}, there);
  ASSERT_EQ(list.code, 0) << list.err;
  json stores = json::parse(list.out)["stores"];
  ASSERT_EQ(stores.size(), 1u) << list.out;
  EXPECT_EQ(stores[0]["name"], "QorDestination");
  EXPECT_EQ(stores[0]["path"], target);
  std::map<std::string, size_t> expected = {{"Inbox", 12},  {"Inbox/Projects", 3}, {"Sent Items", 4},
                                            {"Calendar", 1}, {"Contacts", 1},       {"Old projects", 2}};
  EXPECT_EQ(CountsOn(second, "QorDestination"), expected);
}

TEST_F(CollectTest, OneStoresChosenFoldersAndARestoreIntoTheDefaultStore) {
  Ran collect = Corvane({"collect", "Archive", collection, "--folder", "Old projects", "--quiet"});
  ASSERT_EQ(collect.code, 0) << collect.err;
  EXPECT_NE(collect.out.find("Collected Archive into " + collection), std::string::npos) << collect.out;
  EXPECT_NE(collect.out.find("store:    " + collection + "/outlook.pst"), std::string::npos) << collect.out;
  EXPECT_EQ(testing_support::Sqlite3(collection + "/mail.db3", {"select ou_type, ou_name from outlookfolder"}),
            "0|Old projects\n");

  Ran restore = Corvane({"restore", collection, "--quiet"});
  ASSERT_EQ(restore.code, 0) << restore.err;
  EXPECT_NE(restore.out.find("Restored the collection in " + collection + " into " + mailPath), std::string::npos)
      << restore.out;
  EXPECT_EQ(restore.out.find("attached"), std::string::npos) << restore.out;
  EXPECT_EQ(Subjects("Outlook", "Mail")["Old projects"].size(), 2u);
}

TEST_F(CollectTest, AllCollectsEveryStoreOfTheProfile) {
  Ran collect = Corvane({"collect", "--all", collection, "--json", "--quiet"});
  ASSERT_EQ(collect.code, 0) << collect.err;
  json out = json::parse(collect.out);
  EXPECT_EQ(out["stores"].size(), 2u);
  auto copied = FileSubjects(collection + "/outlook.pst");
  EXPECT_EQ(Total(copied), kMailMessages + 4);
  // The last store collected is the one the catalog describes.
  EXPECT_NE(testing_support::Sqlite3(collection + "/mail.db3", {"select ou_name from outlookfolder"})
                .find("Old projects"),
            std::string::npos);
}

TEST_F(CollectTest, BadInputChangesNothing) {
  auto before = FilesBelow(scratch);
  auto usage = [](const Ran& run, const std::string& words) {
    EXPECT_EQ(run.code, 2) << run.out << run.err;
    EXPECT_NE(run.err.find(words), std::string::npos) << run.err;
    EXPECT_EQ(Lines(run.err).size(), 1u) << run.err;
  };
  usage(Corvane({"collect", "Mail", scratch + "/nowhere"}), "does not exist");
  usage(Corvane({"collect", "Mail", mailPath}), "is a file, not a collection folder");
  usage(Corvane({"collect", "--all", "Mail", collection}), "--all");
  usage(Corvane({"collect", collection}), "name a store");
  usage(Corvane({"collect", "Mail", "Archive", collection, "--kind", "inbox"}), "single store");
  usage(Corvane({"collect", "Holidays", collection}), "Holidays");
  usage(Corvane({"restore", scratch + "/nowhere"}), "does not exist");
  usage(Corvane({"restore", collection}), "no catalog mail.db3");
  EXPECT_EQ(FilesBelow(scratch), before);
}

TEST_F(CollectTest, ACatalogPointingOutOfItsFolderRestoresNothing) {
  ASSERT_EQ(Corvane({"collect", "Archive", collection, "--quiet"}).code, 0);
  // The catalog names the user's own store beside the collection folder.
  testing_support::Sqlite3(collection + "/mail.db3", {"update category set cat_dest = '../Mail.pst'"});
  auto mail = Subjects("Outlook", "Mail");
  Ran restore = Corvane({"restore", collection});
  EXPECT_EQ(restore.code, 1) << restore.out << restore.err;
  EXPECT_NE(restore.err.find("restore from " + collection + " failed"), std::string::npos) << restore.err;
  EXPECT_EQ(Subjects("Outlook", "Mail"), mail);
}

TEST_F(CollectTest, CtrlCStopsTheCollectionBeforeItsCatalogAndASecondRunFinishes) {
  AddMail("Mail", "Inbox", "bulk", 400, 1000);
  Ran cancelled = InterruptAfterFirstProgressLine({"collect", "Mail", collection}, "collect");
  EXPECT_EQ(cancelled.code, 130) << cancelled.out << cancelled.err;
  EXPECT_NE(cancelled.err.find("cancelled"), std::string::npos) << cancelled.err;
  EXPECT_FALSE(std::filesystem::exists(collection + "/mail.db3")) << "no catalog for a collection cut short";

  Ran finish = Corvane({"collect", "Mail", collection, "--quiet"});
  ASSERT_EQ(finish.code, 0) << finish.err;
  EXPECT_EQ(Total(FileSubjects(collection + "/outlook.pst")), kMailMessages + 400);
  EXPECT_EQ(testing_support::Sqlite3(collection + "/mail.db3", {"select cat_dest from category"}), "outlook.pst\n");
}

}  // namespace
}  // namespace host_test
