// corvane --library compact: the same commands run against the compact
// library, whose differences show through the host; commands it lacks are
// refused as usage errors.
#include <algorithm>

#include "host_support.h"

namespace host_test {
namespace {

using nlohmann::json;

class CompactHostTest : public HostTest {
 protected:
  static std::vector<std::string> StoreNames(const Ran& run) {
    std::vector<std::string> names;
    json out = json::parse(run.out, nullptr, false);
    if (out.is_discarded()) return names;
    for (const json& s : out["stores"]) names.push_back(s["name"].get<std::string>());
    return names;
  }
  // The mail folders of a store file (the calendar and the contacts are
  // merged by the full build and copied plainly by the compact one).
  static std::map<std::string, std::vector<std::string>> MailOf(std::map<std::string, std::vector<std::string>> all) {
    std::erase_if(all, [](const auto& f) { return f.first == "Calendar" || f.first == "Contacts"; });
    for (auto& [folder, subjects] : all) std::sort(subjects.begin(), subjects.end());
    return all;
  }
};

TEST_F(CompactHostTest, EachBuildListsTheStoresInItsOwnOrder) {
  AdminOutput({"service", "add", "Outlook", "--type", "pst", "--name", "Aardvark", "--path", scratch + "/Aardvark.pst",
               "--default"});
  Ran full = Corvane({"list", "--json"});
  ASSERT_EQ(full.code, 0) << full.err;
  EXPECT_EQ(StoreNames(full), (std::vector<std::string>{"Aardvark", "Mail", "Archive"}))
      << "default first, then by file name from the greatest";
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--library", "compact", "list", "--json"},
        std::vector<std::string>{"list", "--library=compact", "--json"}}) {
    Ran compact = Corvane(args);
    ASSERT_EQ(compact.code, 0) << compact.err;
    EXPECT_EQ(StoreNames(compact), (std::vector<std::string>{"Mail", "Archive", "Aardvark"})) << "service-table order";
    json out = json::parse(compact.out);
    namespace fs = std::filesystem;
    EXPECT_EQ(out["totalSize"].get<uintmax_t>(),
              fs::file_size(mailPath) + fs::file_size(archivePath) + fs::file_size(scratch + "/Aardvark.pst"));
  }
  // Back from the compact program to the full one.
  Ran back = RunProgram("corvane-compact", {"--library", "full", "list", "--json"});
  ASSERT_EQ(back.code, 0) << back.err;
  EXPECT_EQ(StoreNames(back), StoreNames(full));
}

TEST_F(CompactHostTest, CommandsTheCompactLibraryLacksAreUsageErrors) {
  auto before = FilesBelow(scratch);
  for (const char* command : {"attach", "collect", "restore", "accounts", "config", "demo"}) {
    Ran run = Corvane({"--library", "compact", command, mailPath});
    EXPECT_EQ(run.code, 2) << command;
    EXPECT_NE(run.err.find(std::string("the compact library has no '") + command + "'"), std::string::npos)
        << run.err;
  }
  Ran unknown = Corvane({"--library", "compact", "recipes"});
  EXPECT_EQ(unknown.code, 2);
  EXPECT_NE(unknown.err.find("unknown command 'recipes'"), std::string::npos) << unknown.err;
  Ran badLibrary = Corvane({"--library", "tiny", "list"});
  EXPECT_EQ(badLibrary.code, 2);
  EXPECT_NE(badLibrary.err.find("unknown library 'tiny'"), std::string::npos) << badLibrary.err;
  Ran noValue = Corvane({"list", "--library"});
  EXPECT_EQ(noValue.code, 2);
  EXPECT_EQ(FilesBelow(scratch), before);
}

TEST_F(CompactHostTest, BackupAndSyncCopyTheMailAsTheFullBuildDoes) {
  Ran compact = Corvane({"--library", "compact", "backup", "Mail", scratch + "/compact.pst", "--json"});
  ASSERT_EQ(compact.code, 0) << compact.err;
  json out = json::parse(compact.out);
  EXPECT_TRUE(out["ok"].get<bool>());
  EXPECT_TRUE(out["result"].is_null()) << "the compact library hands back no result code";
  EXPECT_TRUE(out["messages"].is_null()) << "nor counts messages";
  ASSERT_EQ(Corvane({"backup", "Mail", scratch + "/full.pst", "--quiet"}).code, 0);
  auto copied = FileSubjects(scratch + "/compact.pst");
  EXPECT_EQ(MailOf(copied), MailOf(FileSubjects(scratch + "/full.pst")));
  EXPECT_EQ(copied["Inbox"].size(), 10u);
  EXPECT_EQ(copied["Calendar"].size(), 1u);

  Ran sync = Corvane({"--library", "compact", "sync", "Mail", "Archive", "--folder", "Inbox"});
  ASSERT_EQ(sync.code, 0) << sync.err;
  EXPECT_NE(sync.out.find("not counted"), std::string::npos) << sync.out;
  EXPECT_EQ(Subjects("Outlook", "Archive")["Inbox"].size(), 12u);
  EXPECT_EQ(Subjects("Outlook", "Mail")["Inbox"].size(), 12u);
}

TEST_F(CompactHostTest, AFailedCopyExitsOneAndSaysNoReasonIsGiven) {
  Ran run = Corvane({"--library", "compact", "backup", "Mail", scratch + "/copy.pst", "--folder", "Inbox"},
                    {"CORVANE_FAULTS=IMAPIFolder::CopyMessages=0x80004005"});
  EXPECT_EQ(run.code, 1) << run.out << run.err;
  EXPECT_NE(run.err.find("the compact library gives no result code"), std::string::npos) << run.err;
}

}  // namespace
}  // namespace host_test
