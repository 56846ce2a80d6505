// Store files shared by processes, and processes killed in the middle.
#include <signal.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>

#include "store_support.h"

using namespace store_test;

namespace {

class MapiStoreProcess : public testing_support::FreshRoot {
 protected:
  void SetUp() override {
    FreshRoot::SetUp();
    path_ = StorePath(root());
    ASSERT_EQ(standin::mapi::CreateStoreFile(U(path_), u"Shared"), S_OK);
  }
  Held<IMAPIFolder> SubtreeChild(IMsgStore* store, const std::string& name) {
    auto subtree = OpenFolder(store, BinProp(store, PR_IPM_SUBTREE_ENTRYID));
    return CreateFolder(subtree.get(), name, MAPI_UNICODE | OPEN_IF_EXISTS);
  }
  // The last "<word> <n>" line the child printed.
  static long LastCount(const std::string& output, const std::string& word) {
    size_t at = output.rfind(word + " ");
    return at == std::string::npos ? 0 : std::strtol(output.c_str() + at + word.size() + 1, nullptr, 10);
  }
  std::string path_;
};

TEST_F(MapiStoreProcess, ReaderSeesWhatAnotherProcessCommits) {
  auto store = OpenStore(path_);
  auto inbox = Inbox(store.get());
  ASSERT_TRUE(inbox);
  testing_support::Child writer({testing_support::BuiltProgram("storehost"), "write", path_, "60"});
  // Read while the writer works: every row seen is a complete message.
  bool done = testing_support::WaitUntil(
      [&] {
        auto rows = Contents(inbox.get(), {PR_SUBJECT_W, PR_LAST_MODIFICATION_TIME});
        if (!rows) return false;
        for (ULONG i = 0; i < rows->cRows; ++i) {
          EXPECT_EQ(rows->aRow[i].lpProps[0].ulPropTag, PR_SUBJECT_W);
          EXPECT_EQ(rows->aRow[i].lpProps[1].ulPropTag, PR_LAST_MODIFICATION_TIME);
        }
        return rows->cRows == 60;
      },
      60000);
  testing_support::ChildResult result;
  ASSERT_TRUE(writer.Wait(60000, &result));
  EXPECT_EQ(result.exitCode, 0) << result.output;
  EXPECT_TRUE(done);
}

TEST_F(MapiStoreProcess, KilledCopyLeavesAConsistentStore) {
  {
    auto store = OpenStore(path_);
    auto src = SubtreeChild(store.get(), "Src");
    for (int i = 0; i < 5; ++i) ASSERT_EQ(MakeMessage(src.get(), "source " + std::to_string(i)), S_OK);
  }
  testing_support::Child copier({testing_support::BuiltProgram("storehost"), "copy", path_, "0"});
  ASSERT_TRUE(testing_support::WaitUntil([&] { return LastCount(copier.Output(), "copied") >= 150; }, 60000))
      << copier.Output();
  copier.Kill(SIGKILL);
  testing_support::ChildResult result;
  ASSERT_TRUE(copier.Wait(10000, &result));
  EXPECT_EQ(result.signal, SIGKILL);
  long reported = LastCount(result.output, "copied"), saved = LastCount(result.output, "saved");
  ASSERT_GE(saved, 150);

  HRESULT hr = S_OK;
  auto store = OpenStore(path_, &hr);
  ASSERT_EQ(hr, S_OK);
  auto dst = SubtreeChild(store.get(), "Dst");
  auto rows = Contents(dst.get(), {PR_ENTRYID, PR_SUBJECT_W, PR_BODY_W, PR_MESSAGE_SIZE, PR_CREATION_TIME,
                                   PR_LAST_MODIFICATION_TIME, PR_HASATTACH});
  ASSERT_TRUE(rows);
  // Every committed copy is there, whole: the kill took at most the copies
  // of the open group, and the one in flight.
  EXPECT_GE(static_cast<long>(rows->cRows), saved);
  EXPECT_LE(static_cast<long>(rows->cRows), reported + 1);
  for (ULONG i = 0; i < rows->cRows; ++i) {
    const SPropValue* p = rows->aRow[i].lpProps;
    for (int c = 0; c < 7; ++c) ASSERT_NE(PROP_TYPE(p[c].ulPropTag), PT_ERROR) << "row " << i << " column " << c;
    EXPECT_EQ(p[6].Value.b, 1);
    std::string id(reinterpret_cast<char*>(p[0].Value.bin.lpb), p[0].Value.bin.cb);
    ULONG type = 0;
    IUnknown* unk = nullptr;
    ASSERT_EQ(dst->OpenEntry(24, Eid(id), nullptr, 0, &type, &unk), S_OK);
    Held<IMessage> message(static_cast<IMessage*>(unk));
    LPMAPITABLE table = nullptr;
    ASSERT_EQ(message->GetRecipientTable(0, &table), S_OK);
    Held<IMAPITable> recips(table);
    ULONG count = 0;
    ASSERT_EQ(table->GetRowCount(0, &count), S_OK);
    EXPECT_EQ(count, 2u) << "row " << i;
    ASSERT_EQ(message->GetAttachmentTable(0, &table), S_OK);
    Held<IMAPITable> attachs(table);
    ASSERT_EQ(table->GetRowCount(0, &count), S_OK);
    EXPECT_EQ(count, 1u) << "row " << i;
  }
}

// A process killed while making a store leaves nothing at the store's path:
// the store is made under a name of its own and moved there once whole. What
// it left is removed by the next creation beside it, but not what a process
// still running is making. A making that fails in a running process leaves
// nothing at all.
TEST_F(MapiStoreProcess, AStoreKilledInTheMakingIsNeverHalfThere) {
  namespace fs = std::filesystem;
  fs::path dir = fs::path(path_).parent_path();
  std::string fresh = (dir / "Fresh.pst").string();
  auto entries = [&] {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
    names.erase("debugger-output.txt");  // the stores' log
    return names;
  };
  std::set<std::string> before = entries();
  standin::ArmFault("HrValidateIPMSubtree", MAPI_E_CALL_FAILED, 1);  // once the partial store is made
  EXPECT_EQ(standin::mapi::CreateStoreFile(U(fresh), u"Fresh"), MAPI_E_CALL_FAILED);
  EXPECT_EQ(standin::FaultCallCount("HrValidateIPMSubtree"), 1u);
  EXPECT_EQ(entries(), before) << "no partial store nor its log, and nothing at the path";
  standin::ClearFault("HrValidateIPMSubtree");
  testing_support::ChildResult killed = testing_support::RunChild(
      {testing_support::BuiltProgram("storehost"), "create", fresh, "Fresh"}, {"CORVANE_FAULTS=HrValidateIPMSubtree=kill@1"});
  ASSERT_EQ(killed.signal, SIGKILL) << killed.output;
  EXPECT_FALSE(fs::exists(fresh));
  // The store in the making, with its log and index, all under one name.
  std::set<std::string> left = entries();
  std::string abandoned;
  for (const std::string& name : left)
    if (!before.count(name) && (abandoned.empty() || name.size() < abandoned.size())) abandoned = name;
  EXPECT_EQ(abandoned.rfind("~store-", 0), 0u) << abandoned;
  for (const std::string& name : left) {
    if (!before.count(name)) {
      EXPECT_EQ(name.rfind(abandoned, 0), 0u) << name;
    }
  }
  EXPECT_GT(left.size(), before.size());

  std::string running = "~store-" + std::to_string(::getpid()) + "-0123abcd.new";
  std::ofstream((dir / running).string()) << "in the making";
  ASSERT_EQ(standin::mapi::CreateStoreFile(U(fresh), u"Fresh"), S_OK);
  std::set<std::string> after = before;
  after.insert({"Fresh.pst", running});
  EXPECT_EQ(entries(), after);
  HRESULT hr = S_OK;
  auto store = OpenStore(fresh, &hr);
  EXPECT_EQ(hr, S_OK);
  EXPECT_FALSE(BinProp(store.get(), PR_IPM_SUBTREE_ENTRYID).empty());
}

}  // namespace
