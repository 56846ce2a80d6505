// corvane backup, run as the built program: what arrives in the destination,
// incremental runs, bad input, a failing copy, and Ctrl-C in the middle.
#include <filesystem>
#include <set>

#include "host_support.h"

namespace host_test {
namespace {

using nlohmann::json;

class BackupTest : public HostTest {};

void ExpectNoDuplicates(const std::map<std::string, std::vector<std::string>>& subjects) {
  for (const auto& [folder, list] : subjects) {
    std::set<std::string> unique(list.begin(), list.end());
    EXPECT_EQ(unique.size(), list.size()) << "duplicates in " << folder;
  }
}

TEST_F(BackupTest, EveryFolderArrivesAndTheResultIsJson) {
  std::string dest = scratch + "/backup.pst";
  Ran run = Corvane({"backup", "Mail", dest, "--json"});
  ASSERT_EQ(run.code, 0) << run.err;
  json out = json::parse(run.out);
  EXPECT_TRUE(out["ok"].get<bool>());
  EXPECT_EQ(out["result"], 0);
  EXPECT_EQ(out["destination"], dest);
  EXPECT_EQ(out["messages"].get<size_t>(), kMailMessages);
  EXPECT_EQ(out["planned"].get<size_t>(), kMailMessages);

  auto copied = FileSubjects(dest);
  auto source = Subjects("Outlook", "Mail");
  EXPECT_EQ(copied["Inbox"].size(), 10u);
  EXPECT_EQ(copied["Inbox/Projects"].size(), 3u);
  EXPECT_EQ(copied["Sent Items"].size(), 4u);
  EXPECT_EQ(copied["Calendar"].size(), 1u);
  EXPECT_EQ(copied["Contacts"].size(), 1u);
  EXPECT_EQ(Total(copied), Total(source));
}

TEST_F(BackupTest, ChosenFoldersByNameOrKindOnly) {
  std::string dest = scratch + "/some.pst";
  Ran run = Corvane({"backup", mailPath, dest, "--folder", "inbox", "--kind", "contacts", "--quiet"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.out.find("Inbox, Contacts"), std::string::npos) << run.out;
  auto copied = FileSubjects(dest);
  EXPECT_EQ(copied["Inbox"].size(), 10u);
  EXPECT_EQ(copied["Inbox/Projects"].size(), 3u) << "sub-folders come along";
  EXPECT_EQ(copied["Contacts"].size(), 1u);
  EXPECT_TRUE(copied["Sent Items"].empty());
  EXPECT_TRUE(copied["Calendar"].empty());
}

TEST_F(BackupTest, IntoAFolderTheLibraryNamesTheStore) {
  std::string folder = scratch + "/backups";
  std::filesystem::create_directories(folder);
  Ran run = Corvane({"backup", "Mail", folder, "--json", "--kind", "inbox"});
  ASSERT_EQ(run.code, 0) << run.err;
  std::string dest = json::parse(run.out)["destination"];
  EXPECT_EQ(std::filesystem::path(dest).parent_path().string(), folder);
  EXPECT_EQ(std::filesystem::path(dest).extension(), ".pst");
  EXPECT_TRUE(std::filesystem::is_regular_file(dest));
}

TEST_F(BackupTest, SecondRunCopiesOnlyTheNewMessages) {
  std::string dest = scratch + "/backup.pst";
  ASSERT_EQ(Corvane({"backup", "Mail", dest, "--quiet"}).code, 0);
  AddMail("Mail", "Inbox", "late", 3, 50);
  Ran again = Corvane({"backup", "Mail", dest, "--json"});
  ASSERT_EQ(again.code, 0) << again.err;
  // Every source message is planned for; the destination gains only the new ones.
  EXPECT_EQ(json::parse(again.out)["planned"].get<size_t>(), kMailMessages + 3);
  auto copied = FileSubjects(dest);
  EXPECT_EQ(copied["Inbox"].size(), 13u);
  EXPECT_EQ(Total(copied), kMailMessages + 3);
  ExpectNoDuplicates(copied);
}

TEST_F(BackupTest, BadInputChangesNothing) {
  auto before = FilesBelow(scratch);
  Ran missingFolder = Corvane({"backup", "Mail", scratch + "/no/such/folder/b.pst"});
  EXPECT_EQ(missingFolder.code, 2);
  EXPECT_NE(missingFolder.err.find("does not exist"), std::string::npos) << missingFolder.err;
  EXPECT_EQ(Lines(missingFolder.err).size(), 1u);

  Ran missingSource = Corvane({"backup", scratch + "/gone.pst", scratch + "/b.pst"});
  EXPECT_EQ(missingSource.code, 2);
  EXPECT_NE(missingSource.err.find("gone.pst"), std::string::npos) << missingSource.err;

  Ran missingName = Corvane({"backup", "Mail", scratch + "/b.pst", "--folder", "Holidays"});
  EXPECT_EQ(missingName.code, 2);
  EXPECT_NE(missingName.err.find("Holidays"), std::string::npos) << missingName.err;

  Ran badKind = Corvane({"backup", "Mail", scratch + "/b.pst", "--kind", "recipes"});
  EXPECT_EQ(badKind.code, 2);
  EXPECT_NE(badKind.err.find("recipes"), std::string::npos) << badKind.err;

  Ran ontoItself = Corvane({"backup", "Mail", mailPath});
  EXPECT_EQ(ontoItself.code, 2);

  Ran notAStore = Corvane({"backup", "Mail", scratch + "/b.txt"});
  EXPECT_EQ(notAStore.code, 2);
  EXPECT_EQ(FilesBelow(scratch), before);
}

TEST_F(BackupTest, AFailedCopyExitsOneWithTheResultCode) {
  std::string dest = scratch + "/backup.pst";
  Ran run = Corvane({"backup", "Mail", dest, "--quiet"}, {"CORVANE_FAULTS=IMAPIFolder::CopyMessages=0x80004005"});
  EXPECT_EQ(run.code, 1) << run.out << run.err;
  EXPECT_NE(run.err.find("result code 112"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("log"), std::string::npos) << run.err;

  Ran json = Corvane({"backup", "Mail", dest, "--json"}, {"CORVANE_FAULTS=IMAPIFolder::CopyMessages=0x80004005"});
  EXPECT_EQ(json.code, 1);
  nlohmann::json out = nlohmann::json::parse(json.out);
  EXPECT_FALSE(out["ok"].get<bool>());
  EXPECT_EQ(out["result"], 112);
}

TEST_F(BackupTest, ProgressLinesWhenNotATerminal) {
  AddMail("Mail", "Inbox", "bulk", 200, 1000);
  Ran run = Corvane({"backup", "Mail", scratch + "/b.pst"});
  ASSERT_EQ(run.code, 0) << run.err;
  std::vector<std::string> progress;
  for (const std::string& line : Lines(run.out))
    if (line.starts_with("backup: ")) progress.push_back(line);
  // One line per percent at most, the last at 100%.
  ASSERT_GE(progress.size(), 50u) << run.out;
  EXPECT_LE(progress.size(), 101u);
  EXPECT_NE(progress.back().find("100%"), std::string::npos) << progress.back();
  EXPECT_EQ(run.out.find('\r'), std::string::npos) << "no bar without a terminal";

  Ran quiet = Corvane({"backup", "Mail", scratch + "/b.pst", "--quiet"});
  ASSERT_EQ(quiet.code, 0);
  EXPECT_EQ(quiet.out.find("backup: "), std::string::npos) << quiet.out;
}

TEST_F(BackupTest, CtrlCStopsAfterTheMessageInHandAndASecondRunFinishes) {
  const int bulk = 400;
  AddMail("Mail", "Inbox", "bulk", bulk, 1000);
  std::string dest = scratch + "/backup.pst";
  Ran cancelled = InterruptAfterFirstProgressLine({"backup", "Mail", dest});
  EXPECT_EQ(cancelled.code, 130) << cancelled.out << cancelled.err;
  EXPECT_NE(cancelled.err.find("cancelled"), std::string::npos) << cancelled.err;

  // What was copied is whole and stays; the rest is still missing.
  auto partial = FileSubjects(dest);
  EXPECT_GT(Total(partial), 0u);
  EXPECT_LT(Total(partial), kMailMessages + bulk);
  ExpectNoDuplicates(partial);

  Ran finish = Corvane({"backup", "Mail", dest, "--quiet"});
  ASSERT_EQ(finish.code, 0) << finish.err;
  auto copied = FileSubjects(dest);
  EXPECT_EQ(Total(copied), kMailMessages + bulk);
  ExpectNoDuplicates(copied);
}

}  // namespace
}  // namespace host_test
