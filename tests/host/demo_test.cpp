// corvane demo: it runs to the end on a machine of its own, leaves the stores
// where it says, and replaces only a folder that an earlier demo made.
#include <filesystem>

#include "host_support.h"

namespace host_test {
namespace {

class DemoTest : public testing_support::FreshRoot {};

TEST_F(DemoTest, RunsToTheEndAndLeavesTheMachineBehind) {
  std::string dir = RootFile("demo");
  Ran run = Corvane({"demo", "--dir", dir});
  ASSERT_EQ(run.code, 0) << run.out << run.err;
  for (const char* file : {"stores/Mail.pst", "stores/Archive.pst", "backups/Mail-backup.pst"})
    EXPECT_TRUE(std::filesystem::is_regular_file(dir + "/" + file)) << file;
  // With a real file of the shared test data at hand, one more step lists and backs it up.
  std::string real = (testing_support::TestData() / "pst" / "pstsdk-sample1.pst").string();
  if (std::filesystem::exists(real)) {
    EXPECT_NE(run.out.find("[13/14] Back on the first machine: a file the mail client itself wrote"), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("`-- Sample1"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("1 items copied into " + dir + "/backups/pstsdk-sample1-backup.pst"), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("[14/14] Where everything is"), std::string::npos) << run.out;
  } else {
    EXPECT_NE(run.out.find("[13/13] Where everything is"), std::string::npos) << run.out;
  }
  EXPECT_NE(run.out.find("only the 3 new ones copied"), std::string::npos) << run.out;
  for (const char* file : {"collection/outlook.pst", "collection/mail.db3"})
    EXPECT_TRUE(std::filesystem::is_regular_file(dir + "/" + file)) << file;

  // The second machine holds the collection, restored and attached.
  Ran second = Corvane({"list", "--json"}, {"CORVANE_PLATFORM_ROOT=" + dir + "/machine2"});
  ASSERT_EQ(second.code, 0) << second.err;
  nlohmann::json restored = nlohmann::json::parse(second.out)["stores"];
  ASSERT_EQ(restored.size(), 1u) << second.out;
  EXPECT_EQ(restored[0]["name"], "QorDestination");
  EXPECT_EQ(restored[0]["path"], dir + "/machine2/Users/user/AppData/Roaming/restore.pst");

  // The new user got the saved configuration back, tidied.
  for (const char* file : {"config/olconfig.reg", "config/oaconnect.reg"})
    EXPECT_TRUE(std::filesystem::is_regular_file(dir + "/" + file)) << file;
  std::vector<std::string> third = {"CORVANE_PLATFORM_ROOT=" + dir + "/machine3"};
  Ran thirdList = Corvane({"list", "--json"}, third);
  ASSERT_EQ(thirdList.code, 0) << thirdList.err;
  nlohmann::json thirdStores = nlohmann::json::parse(thirdList.out)["stores"];
  ASSERT_EQ(thirdStores.size(), 1u) << thirdList.out;
  EXPECT_EQ(thirdStores[0]["path"], dir + "/machine3/Users/user/Documents/Outlook Files/Outlook.pst");
  Ran thirdAccounts = Corvane({"accounts", "--json"}, third);
  ASSERT_EQ(thirdAccounts.code, 0) << thirdAccounts.err;
  nlohmann::json answers = nlohmann::json::parse(thirdAccounts.out);
  EXPECT_EQ(answers["unsupported"], false);
  EXPECT_EQ(answers["pop3"], true);

  // The demo's machine is one a user can go on with.
  Ran list = Corvane({"list", "--json"}, {"CORVANE_PLATFORM_ROOT=" + dir + "/machine"});
  ASSERT_EQ(list.code, 0) << list.err;
  nlohmann::json stores = nlohmann::json::parse(list.out)["stores"];
  EXPECT_EQ(stores.size(), 3u) << list.out;

  // A second run replaces the first.
  Ran again = Corvane({"demo", "--dir", dir, "--quiet"});
  EXPECT_EQ(again.code, 0) << again.err;
}

TEST_F(DemoTest, LeavesAFolderItDidNotMakeAlone) {
  std::string dir = RootFile("mine");
  std::filesystem::create_directories(dir);
  testing_support::WriteFileBytes(dir + "/precious.txt", "keep me");
  Ran run = Corvane({"demo", "--dir", dir});
  EXPECT_EQ(run.code, 2);
  EXPECT_NE(run.err.find("not made by corvane demo"), std::string::npos) << run.err;
  EXPECT_EQ(testing_support::ReadFileBytes(dir + "/precious.txt"), "keep me");
}

}  // namespace
}  // namespace host_test
