// The store wrapper: its name and path, the top of the folder tree, folders
// named by catalog records, and the folder kinds those records get.
#include <map>

#include "MAPIPack/MAPIFolder.h"
#include "MAPIPack/MAPIStore.h"
#include "folder_support.h"

namespace folder_test {
namespace {

class StoreTest : public StoreFixture {
 protected:
  // The catalog records of the source store's top folders, by name.
  std::vector<OLCATALOGDATA> TopRecords() {
    auto subtree = Subtree(source_.get());
    CMAPIFolder folder(subtree.get());
    ULONG count = 0;
    OLCATALOGDATA* records = nullptr;
    EXPECT_EQ(folder.GetCategory(&count, &records), 1);
    std::vector<OLCATALOGDATA> out(records, records + count);
    delete[] records;
    return out;
  }
  static std::map<std::string, LONG> Kinds(const std::vector<OLCATALOGDATA>& records) {
    std::map<std::string, LONG> out;
    for (const OLCATALOGDATA& r : records) out[Narrow(r.szName)] = r.nType;
    return out;
  }
  std::map<std::string, LONG> Classified(std::vector<OLCATALOGDATA> records) {
    CMAPIStore store(source_.get());
    store.ClassifyFolders(records.data(), static_cast<ULONG>(records.size()));
    return Kinds(records);
  }
  static void SetClass(IMAPIFolder* folder, const std::u16string& cls) {
    std::u16string text = cls;
    SPropValue v = Unicode(PR_CONTAINER_CLASS_W, text);
    ASSERT_EQ(folder->SetProps(1, &v, nullptr), S_OK);
  }
  static void DeleteProp(IMAPIProp* object, ULONG tag) {
    SizedSPropTagArray(1, tags) = {1, {tag}};
    ASSERT_EQ(object->DeleteProps(reinterpret_cast<LPSPropTagArray>(&tags), nullptr), S_OK);
  }
};

TEST_F(StoreTest, DisplayNameAndPathFitTheBuffersOrFail) {
  CMAPIStore store(source_.get());
  WCHAR name[256];
  ASSERT_EQ(store.GetStoreDisplayName(name), 1);
  EXPECT_EQ(Narrow(name), "Personal Folders");

  WCHAR path[MAX_PATH] = {u'x', 0};
  ASSERT_EQ(store.GetPSTFilePath(path), 1) << "the store names its own file";
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(path)), standin::ToWindowsPath(StorePath(root(), "source.pst")));
  std::u16string given = u"C:\\Mail\\Gr\u00fc\u00dfe.pst";
  SPropValue v = Unicode(PR_PST_PATH_W, given);
  ASSERT_EQ(source_->SetProps(1, &v, nullptr), S_OK);
  ASSERT_EQ(store.GetPSTFilePath(path), 1);
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(path)), given) << "read narrow and widened";

  // 259 characters fit the buffer, 260 do not; nothing is handed out cut short.
  std::u16string fits = u"C:\\" + std::u16string(256, u'p');
  v = Unicode(PR_PST_PATH_W, fits);
  ASSERT_EQ(source_->SetProps(1, &v, nullptr), S_OK);
  ASSERT_EQ(store.GetPSTFilePath(path), 1);
  EXPECT_EQ(wcslen(path), 259u);
  std::u16string tooLong = fits + u"p";
  v = Unicode(PR_PST_PATH_W, tooLong);
  ASSERT_EQ(source_->SetProps(1, &v, nullptr), S_OK);
  EXPECT_EQ(store.GetPSTFilePath(path), 0);

  LPMDB raw = nullptr;
  ASSERT_EQ(standin::mapi::OpenStoreFile(U(StorePath(root(), "dest.pst")), std::u16string(256, u'n'), MDB_WRITE, &raw),
            S_OK);
  Held<IMsgStore> longName(raw);
  CMAPIStore longStore(longName.get());
  name[0] = u'k';
  EXPECT_EQ(longStore.GetStoreDisplayName(name), 0);
  EXPECT_EQ(name[0], u'k') << "a name that does not fit leaves the buffer alone";

  standin::ArmFault("IMsgStore::GetProps", MAPI_W_ERRORS_RETURNED);
  EXPECT_EQ(store.GetStoreDisplayName(name), 0) << "a warning is a failed read";
  standin::ClearAllFaults();

  CMAPIStore none(nullptr);
  EXPECT_EQ(none.GetStoreDisplayName(name), 0);
  EXPECT_EQ(none.GetPSTFilePath(path), 0);
  EXPECT_EQ(none.OpenIPMSubtree(), nullptr);
}

TEST_F(StoreTest, SubtreeOpensAndAFailedOpenIsLoggedOnlyWhenTheStoreNamesOne) {
  CMAPIStore store(source_.get());
  {
    Held<IMAPIFolder> top(store.OpenIPMSubtree());
    ASSERT_TRUE(top);
    EXPECT_EQ(BinProp(top.get(), PR_ENTRYID), BinProp(source_.get(), PR_IPM_SUBTREE_ENTRYID));
  }
  standin::ArmFault("IMsgStore::OpenEntry", MAPI_E_NO_ACCESS);
  EXPECT_EQ(store.OpenIPMSubtree(), nullptr);
  standin::ClearAllFaults();
  EXPECT_EQ(LogCount("File:'.\\MAPIPack\\MAPIStore'"), 1u) << LogText();
  EXPECT_EQ(LogCount("m_storePtr->OpenEntry, folder id: 903872770"), 1u) << LogText();

  DeleteProp(source_.get(), PR_IPM_SUBTREE_ENTRYID);
  std::string before = LogText();
  EXPECT_EQ(store.OpenIPMSubtree(), nullptr);
  EXPECT_EQ(LogText(), before) << "no property, no log line";
}

TEST_F(StoreTest, CatalogRecordsOpenTheirFoldersOnlyWhenTheyHoldTheWholeIdentifier) {
  auto records = TopRecords();
  ASSERT_FALSE(records.empty());
  CMAPIStore store(source_.get());
  Held<IMAPIFolder> folder(store.OpenCatalogFolder(records[0]));
  ASSERT_TRUE(folder);
  EXPECT_EQ(BinProp(folder.get(), PR_ENTRYID),
            std::string(reinterpret_cast<const char*>(records[0].abEntryID), OLCATALOG_ENTRYID_BYTES));
  OLCATALOGDATA longer = records[0];
  longer.cbEntryID = 40;  // only its first 24 bytes are in the record
  EXPECT_EQ(store.OpenCatalogFolder(longer), nullptr);
  OLCATALOGDATA empty = records[0];
  empty.cbEntryID = 0;  // would name the store's root instead
  EXPECT_EQ(store.OpenCatalogFolder(empty), nullptr);
  standin::ArmFault("IMsgStore::OpenEntry", MAPI_E_NOT_FOUND);
  EXPECT_EQ(store.OpenCatalogFolder(records[0]), nullptr);
  standin::ClearAllFaults();
  EXPECT_EQ(LogText(), "") << "opening a record logs nothing";
}

TEST_F(StoreTest, ClassesThenTheStoresOwnFoldersGiveTheKinds) {
  auto subtree = Subtree(source_.get());
  SetClass(Child(subtree.get(), "People").get(), u"ipf.contact");
  SetClass(Child(subtree.get(), "Settings").get(), u"IPF.Configuration");
  SetClass(Child(subtree.get(), "Feeds").get(), u"IPF.Note.SocialConnector.FeedItems");
  SetClass(Child(subtree.get(), "Home").get(), u"IPF.Note.OutlookHomepage");
  SetClass(Child(subtree.get(), "Other").get(), u"IPF.Something");
  // A calendar that is also the Inbox ends as the Inbox.
  SetClass(Inbox(source_.get()).get(), u"IPF.Appointment");

  auto kinds = Classified(TopRecords());
  std::map<std::string, LONG> expected = {
      {"Inbox", 1},     {"Outbox", 2},   {"Sent Items", 3}, {"Deleted Items", 4}, {"Drafts", 5},
      {"Junk E-mail", 6}, {"Calendar", 7}, {"Contacts", 8},   {"Tasks", 9},         {"Notes", 10},
      {"Journal", 11},  {"Home", 12},    {"Settings", 13},  {"Feeds", 13},        {"People", 8},
      {"Other", 0}};
  EXPECT_EQ(kinds, expected);

  // A store that cannot be read leaves the class kinds alone.
  auto records = TopRecords();
  standin::ArmFault("IMsgStore::GetProps", MAPI_E_CALL_FAILED);
  standin::ArmFault("IMsgStore::GetReceiveFolder", MAPI_E_CALL_FAILED);
  kinds = Classified(records);
  EXPECT_EQ(kinds["Inbox"], 7);
  EXPECT_EQ(kinds["Outbox"], 0);
  EXPECT_EQ(kinds["Drafts"], 0);
  standin::ClearAllFaults();
}

TEST_F(StoreTest, DraftsAndJunkComeFromTheInboxOrElseTheRoot) {
  {
    auto inbox = Inbox(source_.get());
    DeleteProp(inbox.get(), PR_IPM_DRAFTS_ENTRYID);
    DeleteProp(inbox.get(), PR_ADDITIONAL_REN_ENTRYIDS);
  }
  auto kinds = Classified(TopRecords());
  EXPECT_EQ(kinds["Drafts"], 5) << "found through the root";
  EXPECT_EQ(kinds["Junk E-mail"], 6) << "found through the root";

  {
    auto root = OpenFolder(source_.get(), "");
    DeleteProp(root.get(), PR_IPM_DRAFTS_ENTRYID);
    // Fewer than five additional identifiers: no junk folder.
    std::string junk(24, '\0');
    SBinary four[4] = {{0, nullptr}, {0, nullptr}, {0, nullptr}, {24, reinterpret_cast<LPBYTE>(junk.data())}};
    SPropValue v{};
    v.ulPropTag = PR_ADDITIONAL_REN_ENTRYIDS;
    v.Value.MVbin = {4, four};
    ASSERT_EQ(root->SetProps(1, &v, nullptr), S_OK);
  }
  kinds = Classified(TopRecords());
  EXPECT_EQ(kinds["Drafts"], 0);
  EXPECT_EQ(kinds["Junk E-mail"], 0);
  EXPECT_EQ(kinds["Inbox"], 1);
}

TEST_F(StoreTest, WithoutTheInboxAmongTheRecordsNeitherDraftsNorJunk) {
  auto records = TopRecords();
  std::vector<OLCATALOGDATA> withoutInbox;
  for (const OLCATALOGDATA& r : records)
    if (Narrow(r.szName) != "Inbox") withoutInbox.push_back(r);
  auto kinds = Classified(withoutInbox);
  EXPECT_EQ(kinds["Drafts"], 0);
  EXPECT_EQ(kinds["Junk E-mail"], 0);
  EXPECT_EQ(kinds["Outbox"], 2);

  CMAPIStore none(nullptr);
  none.ClassifyFolders(records.data(), static_cast<ULONG>(records.size()));
  for (const OLCATALOGDATA& r : records) EXPECT_EQ(r.nType, 0) << "no store changes nothing";
}

TEST_F(StoreTest, OnlyTheItemClassFoldersKeepAClass) {
  OLCATALOGDATA records[5] = {};
  LONG kinds[5] = {12, 13, 9, 14, 7};
  for (int i = 0; i < 5; ++i) {
    records[i].nType = kinds[i];
    wcscpy_s(records[i].szClass, OLCATALOG_NAME_CHARS, TEXT("IPF.Before"));
  }
  CMAPIStore::ApplyFolderClasses(records, 5);
  const OLCATALOGDATA zero = {};
  EXPECT_EQ(std::memcmp(records[0].szClass, zero.szClass, sizeof zero.szClass), 0);
  EXPECT_EQ(std::memcmp(records[1].szClass, zero.szClass, sizeof zero.szClass), 0);
  EXPECT_EQ(Narrow(records[2].szClass), "IPF.Task");
  EXPECT_EQ(std::memcmp(records[3].szClass, zero.szClass, sizeof zero.szClass), 0);
  EXPECT_EQ(Narrow(records[4].szClass), "IPF.Appointment");
  // No trace of the old class after the new one.
  EXPECT_EQ(records[2].szClass[9], 0);
}

}  // namespace
}  // namespace folder_test
