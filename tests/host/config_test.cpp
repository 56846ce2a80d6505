// corvane accounts and corvane config: the account checks, and the
// configuration saved and restored for a new user, with clear words and exit
// codes for every outcome.
#include <filesystem>

#include "host_support.h"

namespace host_test {
namespace {

namespace fs = std::filesystem;

class ConfigCommandTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    saved = RootFile("saved");
    fs::create_directories(saved);
  }
  void AddAccounts() {
    AdminOutput({"account", "add", "Outlook", "--kind", "pop", "--name", "Home", "--email", "me@example.com",
                 "--pop3-server", "pop.example.com"});
    AdminOutput({"account", "add", "Outlook", "--kind", "imap", "--name", "Lists", "--email", "lists@example.com",
                 "--imap-server", "imap.example.com"});
    AdminOutput({"account", "add", "Outlook", "--kind", "mapi", "--name", "Work"});
  }
  // A machine of its own for a user without a profile "Outlook".
  std::vector<std::string> NewUser() {
    std::string root = RootFile("new-user");
    std::vector<std::string> env = {"CORVANE_PLATFORM_ROOT=" + root};
    EXPECT_EQ(0, RunProgram("mapiadmin", {"install"}, env).code);
    EXPECT_EQ(0, RunProgram("mapiadmin", {"profile", "delete", "Outlook"}, env).code);
    newRoot = root;
    return env;
  }
  std::string saved, newRoot;
};

TEST_F(ConfigCommandTest, AccountsShowsTheThreeAnswersAndTheAccountsThatAreNotPOP3) {
  AddAccounts();
  Ran run = Corvane({"accounts"});
  ASSERT_EQ(0, run.code) << run.err;
  EXPECT_EQ(
      "Mail accounts of the profile \"Outlook\":\n"
      "  unsupported accounts:  yes (an IMAP store, or an account without a POP3 server)\n"
      "  POP3 accounts:         yes\n"
      "  not POP3:              lists@example.com\n"
      "                         Work\n",
      run.out);
  Ran json = Corvane({"accounts", "--json"});
  ASSERT_EQ(0, json.code) << json.err;
  nlohmann::json answer = nlohmann::json::parse(json.out);
  EXPECT_EQ(true, answer["unsupported"]);
  EXPECT_EQ(true, answer["pop3"]);
  EXPECT_EQ((std::vector<std::string>{"lists@example.com", "Work"}), answer["notPop3"].get<std::vector<std::string>>());
}

TEST_F(ConfigCommandTest, AccountsOfAProfileWithStoresOnly) {
  Ran run = Corvane({"accounts", "--json"});
  ASSERT_EQ(0, run.code) << run.err;
  nlohmann::json answer = nlohmann::json::parse(run.out);
  EXPECT_EQ(false, answer["unsupported"]);
  EXPECT_EQ(false, answer["pop3"]);
  EXPECT_TRUE(answer["notPop3"].empty());
}

TEST_F(ConfigCommandTest, SavedHereRestoredForANewUser) {
  AddAccounts();
  AdminOutput({"service", "add", "Outlook", "--type", "imap", "--name", "Lists"});
  Ran save = Corvane({"config", "save", saved});
  ASSERT_EQ(0, save.code) << save.err;
  EXPECT_EQ("Saved the configuration of the profile \"Outlook\"\n  profiles:     " + saved +
                "/olconfig.reg\n  account list: " + saved + "/oaconnect.reg\n",
            save.out);

  std::vector<std::string> env = NewUser();
  // A restore that fails after its import is done again by the next one,
  // which says it restored.
  std::vector<std::string> failing = env;
  failing.push_back("CORVANE_FAULTS=IMsgServiceAdmin::ConfigureMsgService=0x80004005");
  EXPECT_EQ(1, RunProgram("corvane", {"config", "restore", saved}, failing).code);
  Ran restore = RunProgram("corvane", {"config", "restore", saved, "--json"}, env);
  ASSERT_EQ(0, restore.code) << restore.err;
  nlohmann::json result = nlohmann::json::parse(restore.out);
  EXPECT_EQ(true, result["restored"]);
  EXPECT_EQ(newRoot + "/Users/user/Documents/Outlook Files/Outlook.pst", result["defaultStore"]);

  Ran accounts = RunProgram("corvane", {"accounts", "--json"}, env);
  ASSERT_EQ(0, accounts.code) << accounts.err;
  nlohmann::json answer = nlohmann::json::parse(accounts.out);
  EXPECT_EQ(false, answer["unsupported"]);
  EXPECT_EQ(true, answer["pop3"]);

  // The user has a profile now: a second restore changes nothing.
  Ran again = RunProgram("corvane", {"config", "restore", saved}, env);
  EXPECT_EQ(0, again.code) << again.err;
  EXPECT_EQ(
      "The profile \"Outlook\" exists for this user already: nothing was restored (a configuration is restored only "
      "for a user without one)\n",
      again.out);
}

TEST_F(ConfigCommandTest, BadPathsAreUsageErrorsThatChangeNothing) {
  auto before = FilesBelow(root());
  struct Case {
    std::vector<std::string> args;
    std::string message;
  } cases[] = {
      {{"config", "save", saved + "/config.txt"}, "the configuration file must end in .reg: " + saved + "/config.txt"},
      {{"config", "save", RootFile("missing/c.reg")}, "the folder does not exist: " + RootFile("missing")},
      {{"config", "save", saved + "/oaconnect.reg"}, "oaconnect.reg is the name of the account list"},
      {{"config", "restore", saved}, "no olconfig.reg in " + saved + ": not a saved configuration"},
      {{"config", "restore", RootFile("nothing.reg")}, "no saved configuration at " + RootFile("nothing.reg")},
      {{"config"}, ""},
  };
  for (const Case& c : cases) {
    Ran run = Corvane(c.args);
    EXPECT_EQ(2, run.code) << c.args.back() << ": " << run.err;
    EXPECT_NE(std::string::npos, run.err.find(c.message)) << run.err;
  }
  testing_support::WriteFileBytes(saved + "/olconfig.reg", "profiles");
  Ran alone = Corvane({"config", "restore", saved});
  EXPECT_EQ(2, alone.code);
  EXPECT_NE(std::string::npos, alone.err.find("no oaconnect.reg beside " + saved + "/olconfig.reg")) << alone.err;
  fs::remove(saved + "/olconfig.reg");
  EXPECT_EQ(before, FilesBelow(root()));
}

TEST_F(ConfigCommandTest, AFailedSaveSaysWhyAndKeepsTheEarlierFiles) {
  ASSERT_EQ(0, Corvane({"config", "save", saved}).code);
  std::string profiles = testing_support::ReadFileBytes(saved + "/olconfig.reg");
  fs::remove(RootFile("Windows/regedit.exe"));
  Ran run = Corvane({"config", "save", saved});
  EXPECT_EQ(1, run.code);
  EXPECT_NE(std::string::npos, run.err.find("saving the configuration failed with result 1 (")) << run.err;
  EXPECT_NE(std::string::npos, run.err.find("files saved there earlier are unchanged")) << run.err;
  EXPECT_TRUE(profiles == testing_support::ReadFileBytes(saved + "/olconfig.reg"));

  std::vector<std::string> env = NewUser();
  fs::remove(newRoot + "/Windows/regedit.exe");
  Ran restore = RunProgram("corvane", {"config", "restore", saved}, env);
  EXPECT_EQ(1, restore.code);
  EXPECT_NE(std::string::npos,
            restore.err.find("restoring the configuration failed with result 2 (the registry editor or a file was "
                             "not found)"))
      << restore.err;
}

}  // namespace
}  // namespace host_test
