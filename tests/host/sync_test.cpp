// corvane sync, run as the built program: both stores end up with what either
// had, nothing twice; bad input is refused before anything is touched.
#include <set>

#include "host_support.h"

namespace host_test {
namespace {

using nlohmann::json;

class SyncTest : public HostTest {};

TEST_F(SyncTest, ChosenFoldersMeetInBothStores) {
  Ran run = Corvane({"sync", "Mail", "Archive", "--folder", "Inbox", "--folder", "Old projects", "--json"});
  ASSERT_EQ(run.code, 0) << run.err;
  json out = json::parse(run.out);
  EXPECT_TRUE(out["ok"].get<bool>());
  EXPECT_EQ(out["folders"].size(), 2u);
  // Both sides' messages, sub-folders included, are gone through.
  EXPECT_EQ(out["planned"].get<size_t>(), 10u + 3 + 2 + 2);

  auto mail = Subjects("Outlook", "Mail"), archive = Subjects("Outlook", "Archive");
  EXPECT_EQ(mail["Inbox"].size(), 12u);
  EXPECT_EQ(archive["Inbox"].size(), 12u);
  EXPECT_EQ(archive["Inbox/Projects"].size(), 3u);
  EXPECT_EQ(mail["Old projects"].size(), 2u) << "made in the store that lacked it";
  EXPECT_TRUE(archive["Sent Items"].empty()) << "folders not chosen stay as they were";

  // Again: nothing new on either side.
  ASSERT_EQ(Corvane({"sync", mailPath, archivePath, "--folder", "Inbox", "--quiet"}).code, 0);
  auto mailAgain = Subjects("Outlook", "Mail");
  EXPECT_EQ(mailAgain["Inbox"].size(), 12u);
  std::set<std::string> unique(mailAgain["Inbox"].begin(), mailAgain["Inbox"].end());
  EXPECT_EQ(unique.size(), 12u);
}

TEST_F(SyncTest, RefusesMissingStoresAndUnknownFolders) {
  auto before = FilesBelow(scratch);
  Ran missing = Corvane({"sync", "Mail", scratch + "/absent.pst"});
  EXPECT_EQ(missing.code, 2);
  EXPECT_NE(missing.err.find("absent.pst"), std::string::npos) << missing.err;
  Ran same = Corvane({"sync", "Mail", mailPath});
  EXPECT_EQ(same.code, 2);
  EXPECT_NE(same.err.find("same"), std::string::npos) << same.err;
  Ran unknown = Corvane({"sync", "Mail", "Archive", "--folder", "Recipes"});
  EXPECT_EQ(unknown.code, 2);
  EXPECT_NE(unknown.err.find("Recipes"), std::string::npos) << unknown.err;
  EXPECT_EQ(FilesBelow(scratch), before);
}

TEST_F(SyncTest, AFailedCopyExitsOne) {
  Ran run = Corvane({"sync", "Mail", "Archive", "--folder", "Inbox", "--quiet"},
                    {"CORVANE_FAULTS=IMAPIFolder::CopyMessages=0x80004005"});
  EXPECT_EQ(run.code, 1) << run.out << run.err;
  EXPECT_NE(run.err.find("result code 112"), std::string::npos) << run.err;
}

}  // namespace
}  // namespace host_test
