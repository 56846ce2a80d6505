// The command line itself: usage errors, help, listing, the folder tree and
// attaching, run as the built program on arranged machines.
#include <filesystem>

#include "host_support.h"

namespace host_test {
namespace {

using nlohmann::json;

class CliTest : public HostTest {};
class BareMachineTest : public testing_support::FreshRoot {};

// One clear line on stderr, nothing on stdout.
void ExpectOneLineError(const Ran& run, int code, const std::string& words) {
  EXPECT_EQ(run.code, code) << run.out << run.err;
  EXPECT_EQ(Lines(run.err).size(), 1u) << run.err;
  EXPECT_NE(run.err.find(words), std::string::npos) << run.err;
  EXPECT_TRUE(run.out.empty()) << run.out;
}

TEST_F(BareMachineTest, UsageErrorsAreOneLineAndExitTwo) {
  ExpectOneLineError(Corvane({"frobnicate"}), 2, "frobnicate");
  ExpectOneLineError(Corvane({"list", "--no-such-option"}), 2, "--no-such-option");
  ExpectOneLineError(Corvane({}), 2, "subcommand");
  ExpectOneLineError(Corvane({"backup", "only-a-source"}), 2, "destination");
  ExpectOneLineError(Corvane({"tree", "x", "--work-profile", std::string(60, 'p')}), 2, "49");
}

TEST_F(BareMachineTest, EveryCommandHasHelp) {
  for (const char* command : {"list", "tree", "backup", "sync", "attach", "demo"}) {
    Ran run = Corvane({command, "--help"});
    EXPECT_EQ(run.code, 0) << command;
    EXPECT_NE(run.out.find(command), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("--help"), std::string::npos) << run.out;
  }
  Ran top = Corvane({"--help"});
  EXPECT_EQ(top.code, 0);
  for (const char* command : {"list", "tree", "backup", "sync", "attach", "demo"})
    EXPECT_NE(top.out.find(command), std::string::npos) << command;
  EXPECT_NE(top.out.find("130"), std::string::npos) << "the exit codes are documented";
}

TEST_F(BareMachineTest, ListWithoutTheMailClientFails) {
  Ran run = Corvane({"list"});
  EXPECT_EQ(run.code, 1);
  EXPECT_NE(run.err.find("not installed"), std::string::npos) << run.err;
}

TEST_F(CliTest, ListShowsStoresWithNamesAndSizes) {
  Ran run = Corvane({"list", "--json"});
  ASSERT_EQ(run.code, 0) << run.err;
  json out = json::parse(run.out);
  ASSERT_EQ(out["stores"].size(), 2u) << run.out;
  // The default store first.
  EXPECT_EQ(out["stores"][0]["name"], "Mail");
  EXPECT_EQ(out["stores"][0]["path"], mailPath);
  EXPECT_EQ(out["stores"][1]["name"], "Archive");
  long long sum = 0;
  for (const json& s : out["stores"]) {
    EXPECT_EQ(s["size"].get<long long>(), static_cast<long long>(std::filesystem::file_size(s["path"].get<std::string>())));
    sum += s["size"].get<long long>();
  }
  EXPECT_EQ(out["totalSize"].get<long long>(), sum);

  Ran text = Corvane({"list"});
  ASSERT_EQ(text.code, 0) << text.err;
  std::vector<std::string> lines = Lines(text.out);
  ASSERT_EQ(lines.size(), 3u) << text.out;
  EXPECT_NE(lines[1].find("Mail"), std::string::npos);
  EXPECT_NE(lines[1].find(mailPath), std::string::npos);
  EXPECT_NE(lines[2].find(archivePath), std::string::npos);
}

TEST_F(CliTest, TreeShowsOneLevelOrTheWholeTree) {
  Ran top = Corvane({"tree", "Mail", "--json"});
  ASSERT_EQ(top.code, 0) << top.err;
  json out = json::parse(top.out);
  EXPECT_EQ(out["path"], mailPath);
  std::map<std::string, json> byName;
  for (const json& f : out["folders"]) byName[f["name"]] = f;
  ASSERT_TRUE(byName.count("Inbox")) << top.out;
  EXPECT_EQ(byName["Inbox"]["kind"], "inbox");
  EXPECT_EQ(byName["Sent Items"]["kind"], "sent");
  EXPECT_EQ(byName["Calendar"]["kind"], "calendar");
  EXPECT_TRUE(byName["Inbox"]["folders"].empty()) << "one level unless asked";

  Ran all = Corvane({"tree", mailPath, "--all", "--json"});
  ASSERT_EQ(all.code, 0) << all.err;
  json whole = json::parse(all.out);
  bool projects = false;
  for (const json& f : whole["folders"])
    if (f["name"] == "Inbox")
      for (const json& sub : f["folders"]) projects = projects || sub["name"] == "Projects";
  EXPECT_TRUE(projects) << all.out;

  Ran below = Corvane({"tree", "Mail", "inbox", "--json"});
  ASSERT_EQ(below.code, 0) << below.err;
  json inbox = json::parse(below.out);
  ASSERT_EQ(inbox["folders"].size(), 1u) << below.out;
  EXPECT_EQ(inbox["folders"][0]["name"], "Projects");

  Ran text = Corvane({"tree", "Mail", "--all"});
  ASSERT_EQ(text.code, 0);
  EXPECT_NE(text.out.find("|   `-- Projects"), std::string::npos) << text.out;
}

TEST_F(CliTest, TreeRefusesWhatIsNotThere) {
  auto before = FilesBelow(scratch);
  ExpectOneLineError(Corvane({"tree", scratch + "/missing.pst"}), 2, "missing.pst");
  ExpectOneLineError(Corvane({"tree", "NoSuchStore"}), 2, "NoSuchStore");
  ExpectOneLineError(Corvane({"tree", scratch}), 2, "folder");
  ExpectOneLineError(Corvane({"tree", "Mail", "Inbox/Nope"}), 2, "Inbox/Nope");
  EXPECT_EQ(FilesBelow(scratch), before);
}

TEST_F(CliTest, TreeOfAStoreNoProfileHolds) {
  std::string loose = scratch + "/loose.pst";
  AdminOutput({"store", "create", loose, "--name", "Loose"});
  Ran run = Corvane({"tree", loose, "--json"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_FALSE(json::parse(run.out)["folders"].empty()) << run.out;
  // Listed through the temporary profile, which is gone afterwards.
  EXPECT_EQ(AdminOutput({"profile", "list"}).find("QorILantheTemp"), std::string::npos);
}

TEST_F(CliTest, AttachAddsTheStoreOnceUnderItsName) {
  std::string loose = scratch + "/extra.pst";
  AdminOutput({"store", "create", loose});
  Ran run = Corvane({"attach", loose, "--json"});
  ASSERT_EQ(run.code, 0) << run.err;
  json out = json::parse(run.out);
  EXPECT_TRUE(out["ok"].get<bool>());
  EXPECT_EQ(out["name"], "extra");

  ASSERT_EQ(Corvane({"attach", loose, "--name", "Extra mail"}).code, 0);
  json list = json::parse(Corvane({"list", "--json"}).out);
  int seen = 0;
  for (const json& s : list["stores"])
    if (s["path"] == loose) {
      ++seen;
      EXPECT_EQ(s["name"], "Extra mail");
    }
  EXPECT_EQ(seen, 1) << list.dump();
}

TEST_F(CliTest, AttachRefusesAMissingFileOrAFolder) {
  std::string before = AdminOutput({"service", "list", "Outlook"});
  ExpectOneLineError(Corvane({"attach", scratch + "/nothing.pst"}), 2, "nothing.pst");
  ExpectOneLineError(Corvane({"attach", scratch}), 2, "folder");
  EXPECT_EQ(AdminOutput({"service", "list", "Outlook"}), before);
}

TEST_F(CliTest, AttachFailureReportsTheLog) {
  std::string loose = scratch + "/extra.pst";
  AdminOutput({"store", "create", loose});
  Ran run = Corvane({"attach", loose}, {"CORVANE_FAULTS=IMsgServiceAdmin::CreateMsgService=0x80004005"});
  EXPECT_EQ(run.code, 1) << run.out << run.err;
  EXPECT_NE(run.err.find("log"), std::string::npos) << run.err;
}

}  // namespace
}  // namespace host_test
