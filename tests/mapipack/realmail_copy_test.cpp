// Real mail copied from one store into an empty one: the two stores then dump
// alike, and a second copy changes nothing while still stepping per message.
#include <algorithm>
#include <filesystem>

#include <nlohmann/json.hpp>

#include "MAPIPack/MAPIFolder.h"
#include "MAPIPack/MAPIStore.h"
#include "folder_support.h"

namespace fs = std::filesystem;

namespace folder_test {
namespace {

using testing_support::TestData;

class RealMailCopy : public testing_support::FreshRoot {
 protected:
  nlohmann::json Tree(const std::string& store) {
    return nlohmann::json::parse(Ok({"dump", "Outlook", "--store", store}))["tree"];
  }
  // Copies the whole personal folder tree of the source into the destination.
  int CopyAll(ProgressDouble& progress, ULONG* sourceTotal, ULONG* destTotal) {
    Held<IMsgStore> source = OpenStore(source_);
    Held<IMsgStore> dest = OpenStore(dest_);
    EXPECT_TRUE(source && dest);
    if (!source || !dest) return -100;
    CMAPIStore sourceStore(source.get()), destStore(dest.get());
    Held<IMAPIFolder> from(sourceStore.OpenIPMSubtree());
    Held<IMAPIFolder> to(destStore.OpenIPMSubtree());
    EXPECT_TRUE(from && to);
    if (!from || !to) return -100;
    CMAPIFolder top(from.get());
    int result = top.ProcessFolder(source.get(), dest.get(), to.get(), 1, &progress);
    *sourceTotal = top.GetTotalContentCount(source.get());
    *destTotal = CMAPIFolder(to.get()).GetTotalContentCount(dest.get());
    return result;
  }
  std::string source_, dest_;
};

TEST_F(RealMailCopy, AnIncrementalCopyOfImportedMailMakesAnEqualStoreAndThenNothingMore) {
  fs::path eml = TestData() / "mail/eml";
  fs::path mbox = TestData() / "mail/mbox";
  REQUIRE_TEST_DATA(fs::exists(eml) || !fs::exists(mbox));
  source_ = RootFile("mail.pst");
  dest_ = RootFile("copy.pst");
  Ok({"install"});
  Ok({"service", "add", "Outlook", "--type", "pst", "--name", "Mail", "--path", source_, "--default"});
  Ok({"service", "add", "Outlook", "--type", "pst", "--name", "Copy", "--path", dest_});

  std::vector<std::string> emlArgs = {"import", "Outlook", "--store", "Mail", "--folder", "Inbox/Imported"};
  std::vector<fs::path> files;
  for (const auto& e : fs::directory_iterator(eml)) files.push_back(e.path());
  std::sort(files.begin(), files.end());
  for (const auto& f : files) emlArgs.push_back(f.string());
  Admin(emlArgs);
  // One mailbox into the Inbox itself, the others into a tree of their own.
  const std::pair<const char*, const char*> boxes[] = {
      {"mailbox-perl-imagemagick-list.mbox", "Inbox"},
      {"mailparser-from-quoting.mbox", "Lists/Quoting"},
      {"mimekit-gmail-takeout-style.mbox", "Lists/Takeout"}};
  for (const auto& [file, folder] : boxes)
    Ok({"import", "Outlook", "--store", "Mail", "--folder", folder, (mbox / file).string()});
  nlohmann::json sourceTree = Tree("Mail");
  ASSERT_FALSE(HasFailure());

  ProgressDouble progress;
  ULONG sourceTotal = 0, destTotal = 0;
  ASSERT_EQ(CopyAll(progress, &sourceTotal, &destTotal), 0);
  EXPECT_GT(sourceTotal, files.size());
  EXPECT_EQ(destTotal, sourceTotal);
  EXPECT_EQ(progress.steps, sourceTotal) << "one step per message";
  nlohmann::json copied = Tree("Copy");
  EXPECT_EQ(copied, sourceTree) << "the copy dumps as the original does";

  ProgressDouble again;
  ULONG sourceAgain = 0, destAgain = 0;
  ASSERT_EQ(CopyAll(again, &sourceAgain, &destAgain), 0);
  EXPECT_EQ(destAgain, destTotal) << "nothing copied twice";
  EXPECT_EQ(again.steps, sourceTotal) << "still one step per message";
  EXPECT_EQ(Tree("Copy"), copied);
  EXPECT_EQ(Tree("Mail"), sourceTree) << "the source is only read";
}

}  // namespace
}  // namespace folder_test
