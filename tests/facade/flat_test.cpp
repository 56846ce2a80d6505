// The flat exports: stores handed out in library buffers or one by one to a
// function, the synchronisation built from parallel arrays, and the entries
// that only answer.
#include <dlfcn.h>

#include <mapicode.h>
#include <standin/fault.h>

#include "facade/facade_support.h"

namespace testing_support {
namespace {

using Flat = FacadeMachine;

struct Visit {
  std::string path, name;
  void* context;
};
int RecordStore(LPCWSTR path, LPCWSTR name, void* context) {
  static_cast<std::vector<Visit>*>(context)->push_back({N(path), N(name), context});
  return 1;  // ignored
}

TEST_F(Flat, WithoutStoresNothingIsHandedOutOrCalled) {
  WCHAR a = 0, b = 0;
  LPWSTR paths[2] = {&a, &b}, names[2] = {&b, &a};
  ULONG count = 99;
  EXPECT_EQ(GetOutlookPstW2(paths, names, &count), 1);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(paths[0], &a);
  EXPECT_EQ(paths[1], &b);
  EXPECT_EQ(names[0], &b);
  EXPECT_EQ(names[1], &a);
  std::vector<Visit> visits;
  EXPECT_EQ(GetOutlookPstW2CallBack(&RecordStore, &visits), 1);
  EXPECT_TRUE(visits.empty());
}

TEST_F(Flat, StoresAreHandedOutInListingOrderCutToTheirBuffers) {
  const std::string longName(300, 'n');
  std::string b = AddPst("b.pst", longName, true);
  std::string a = AddPst("a.pst", "Alpha");
  std::string c = AddPst("c.pst", "Gamma");
  const std::string cut = longName.substr(0, FLAT_STRING_CHARS - 1);

  LPWSTR paths[3] = {}, names[3] = {};
  ULONG count = 0;
  ASSERT_EQ(GetOutlookPstW2(paths, names, &count), 1);
  ASSERT_EQ(count, 3u);
  EXPECT_EQ(N(paths[0]), b);
  EXPECT_EQ(N(paths[1]), c);
  EXPECT_EQ(N(paths[2]), a);
  EXPECT_EQ(N(names[0]), cut);
  EXPECT_EQ(N(names[1]), "Gamma");
  EXPECT_EQ(N(names[2]), "Alpha");
  FreeArray2(paths, count);
  FreeArray2(names, count);
  for (ULONG i = 0; i < count; ++i) EXPECT_EQ(paths[i], nullptr);
  FreeArray2(nullptr, 3);

  std::vector<Visit> visits;
  ASSERT_EQ(GetOutlookPstW2CallBack(&RecordStore, &visits), 1);
  ASSERT_EQ(visits.size(), 3u);
  EXPECT_EQ(visits[0].path, b);
  EXPECT_EQ(visits[0].name, cut);
  EXPECT_EQ(visits[1].path, c);
  EXPECT_EQ(visits[2].name, "Alpha");
  EXPECT_EQ(visits[2].context, &visits);
}

TEST_F(Flat, SynchronisingNothingOrWhatDoesNotFitTouchesNoProfile) {
  // Armed far beyond reach: the calls are only counted.
  standin::ArmFault("MAPIAdminProfiles", MAPI_E_CALL_FAILED, 1000000);
  standin::ArmFault("MAPILogonEx", MAPI_E_CALL_FAILED, 1000000);
  const LONG types[1] = {OLFOLDER_INBOX};
  LPCWSTR names[1] = {u"Inbox"};
  EXPECT_EQ(SyncMessageW2(u"Sync", u"/x/source.pst", u"/x/dest.pst", nullptr, nullptr, 0), 1);

  const std::u16string overlong(300, u'x');
  EXPECT_EQ(SyncMessageW2(u"Sync", overlong.c_str(), u"/x/dest.pst", types, names, 1), 0);
  EXPECT_EQ(SyncMessageW2(u"Sync", u"/x/source.pst", overlong.c_str(), types, names, 1), 0);
  EXPECT_EQ(SyncMessageW2(overlong.c_str(), u"/x/source.pst", u"/x/dest.pst", types, names, 1), 0);
  EXPECT_EQ(standin::FaultCallCount("MAPIAdminProfiles"), 0u);
  EXPECT_EQ(standin::FaultCallCount("MAPILogonEx"), 0u);

  EXPECT_EQ(BackupMessageW2(), 1);
  EXPECT_EQ(CollectMessageW2(), 1);
  // As the loader finds it: a compiler may take two declared functions to differ.
  EXPECT_EQ(dlsym(RTLD_DEFAULT, "CollectMessageW2"), reinterpret_cast<void*>(&BackupMessageW2)) << "one entry";
  SafeQuit();
  EXPECT_EQ(standin::FaultCallCount("MAPIAdminProfiles"), 0u);
}

TEST_F(Flat, SynchronisationRunsInTheNamedProfileWithNamesCutToTheRecord) {
  std::string message = SomeMail();
  REQUIRE_TEST_DATA(!message.empty());
  AddPst("mail.pst", "Mail", true);
  std::string source = AddPst("source.pst", "Source");
  Ok({"import", "Outlook", "--store", "Source", "--folder", "Inbox", message});
  const std::string cutName(OLCATALOG_NAME_CHARS - 1, 'L');
  Ok({"import", "Outlook", "--store", "Source", "--folder", cutName, message});
  Ok({"service", "remove", "Outlook", "--name", "Source"});
  std::string destination = LoosePst("destination.pst");
  Ok({"profile", "create", "Sync Work"});  // an earlier run's leftover

  const LONG types[2] = {OLFOLDER_INBOX, OLFOLDER_NORMAL};
  const std::u16string longName(100, u'L');
  LPCWSTR names[2] = {u"Inbox", longName.c_str()};
  EXPECT_EQ(SyncMessageW2(u"Sync Work", W(source).c_str(), W(destination).c_str(), types, names, 2), 1);
  EXPECT_FALSE(HasProfile("Sync Work")) << "the named working profile was made afresh and removed";

  auto store = store_test::OpenStore(destination);
  ASSERT_NE(store, nullptr);
  auto inbox = store_test::Inbox(store.get());
  ASSERT_NE(inbox, nullptr);
  auto rows = store_test::Contents(inbox.get(), {PR_SUBJECT_W});
  ASSERT_NE(rows, nullptr);
  EXPECT_EQ(rows->cRows, 1u);
  auto subtree = store_test::OpenFolder(store.get(), store_test::BinProp(store.get(), PR_IPM_SUBTREE_ENTRYID));
  ASSERT_NE(subtree, nullptr);
  auto top = store_test::Hierarchy(subtree.get(), {PR_DISPLAY_NAME_W});
  ASSERT_NE(top, nullptr);
  bool cutFolder = false;
  for (ULONG i = 0; i < top->cRows; ++i) cutFolder |= N(top->aRow[i].lpProps[0].Value.lpszW) == cutName;
  EXPECT_TRUE(cutFolder) << "the long name, cut to the record's field, matched the source's folder";
}

}  // namespace
}  // namespace testing_support
