// IMsgStore, IMAPIFolder and IMessage over store files.
#include <cstring>
#include <set>
#include <thread>

#include <standin/mapi.h>

#include "store_support.h"

using namespace store_test;

namespace {

class MapiStoreObjects : public testing_support::FreshRoot {
 protected:
  void SetUp() override {
    FreshRoot::SetUp();
    ASSERT_EQ(standin::mapi::CreateStoreFile(U(StorePath(root())), u"Stored Name"), S_OK);
    store_ = OpenStore(StorePath(root()));
    ASSERT_TRUE(store_);
  }
  void TearDown() override {
    store_.reset();
    FreshRoot::TearDown();
  }
  Held<IMAPIFolder> Root() { return OpenFolder(store_.get(), ""); }
  Held<IMAPIFolder> Subtree() { return OpenFolder(store_.get(), BinProp(store_.get(), PR_IPM_SUBTREE_ENTRYID)); }
  Held<IMAPIFolder> Child(IMAPIFolder* parent, const std::string& name) {
    return CreateFolder(parent, name, MAPI_UNICODE | OPEN_IF_EXISTS);
  }
  ULONG ContentCount(IMAPIFolder* folder) {
    LPSPropValue v = nullptr;
    EXPECT_EQ(HrGetOneProp(folder, PR_CONTENT_COUNT, &v), S_OK);
    PropsHeld hold(v);
    return v ? static_cast<ULONG>(v->Value.l) : 0xFFFFFFFF;
  }
  Held<IMessage> OpenMessage(IMAPIFolder* folder, std::string entryId, ULONG flags = MAPI_MODIFY) {
    ULONG type = 0;
    IUnknown* unk = nullptr;
    if (FAILED(folder->OpenEntry(static_cast<ULONG>(entryId.size()), Eid(entryId), nullptr, flags, &type, &unk)))
      return nullptr;
    EXPECT_EQ(type, MAPI_MESSAGE);
    return Held<IMessage>(static_cast<IMessage*>(unk));
  }

  Held<IMsgStore> store_;
};

// ---- the standard tree and the store's properties ----

TEST_F(MapiStoreObjects, NewStoreHasTheStandardTree) {
  auto subtree = Subtree();
  ASSERT_TRUE(subtree);
  auto rows = Hierarchy(subtree.get(), {PR_DISPLAY_NAME_W, PR_CONTAINER_CLASS_W});
  ASSERT_TRUE(rows);
  std::set<std::string> names;
  std::string calendarClass;
  for (ULONG i = 0; i < rows->cRows; ++i) {
    std::string name = Narrow(rows->aRow[i].lpProps[0].Value.lpszW);
    names.insert(name);
    if (name == "Calendar") calendarClass = Narrow(rows->aRow[i].lpProps[1].Value.lpszW);
  }
  std::set<std::string> expected = {"Inbox",   "Outbox",  "Sent Items", "Deleted Items", "Calendar",   "Contacts",
                                    "Drafts",  "Journal", "Notes",      "Tasks",         "Junk E-mail"};
  EXPECT_EQ(names, expected);
  EXPECT_EQ(calendarClass, "IPF.Appointment");
}

TEST_F(MapiStoreObjects, StorePropsNameTheSpecialFolders) {
  SizedSPropTagArray(9, tags) = {9,
                                 {PR_DISPLAY_NAME_W, PR_ENTRYID, PR_STORE_RECORD_KEY, PR_IPM_SUBTREE_ENTRYID,
                                  PR_IPM_OUTBOX_ENTRYID, PR_IPM_SENTMAIL_ENTRYID, PR_IPM_WASTEBASKET_ENTRYID,
                                  PR_STORE_SUPPORT_MASK, PR_OBJECT_TYPE}};
  ULONG count = 0;
  LPSPropValue values = nullptr;
  ASSERT_EQ(store_->GetProps(reinterpret_cast<LPSPropTagArray>(&tags), 0, &count, &values), S_OK);
  PropsHeld hold(values);
  ASSERT_EQ(count, 9u);
  EXPECT_EQ(Narrow(values[0].Value.lpszW), "Personal Folders");  // the profile's name wins
  EXPECT_EQ(values[1].Value.bin.cb, 24u);
  MAPIUID uid{};
  ASSERT_EQ(standin::mapi::ReadStoreUid(U(StorePath(root())), &uid), S_OK);
  ASSERT_EQ(values[2].Value.bin.cb, 16u);
  EXPECT_EQ(std::memcmp(values[2].Value.bin.lpb, uid.ab, 16), 0);
  for (int i = 3; i <= 6; ++i) {
    ASSERT_EQ(values[i].Value.bin.cb, 24u) << i;
    EXPECT_EQ(std::memcmp(values[i].Value.bin.lpb + 4, uid.ab, 16), 0) << i;
  }
  EXPECT_TRUE(values[7].Value.l & 0x00040000);
  EXPECT_EQ(values[8].Value.l, static_cast<LONG>(MAPI_STORE));
  std::string wastebasket(reinterpret_cast<char*>(values[6].Value.bin.lpb), 24);
  auto deleted = OpenFolder(store_.get(), wastebasket);
  ASSERT_TRUE(deleted);
  LPSPropValue name = nullptr;
  ASSERT_EQ(HrGetOneProp(deleted.get(), PR_DISPLAY_NAME_W, &name), S_OK);
  PropsHeld nameHold(name);
  EXPECT_EQ(Narrow(name->Value.lpszW), "Deleted Items");
}

TEST_F(MapiStoreObjects, MissingTagIsAWarningNotAnError) {
  SizedSPropTagArray(2, tags) = {2, {PR_IPM_SUBTREE_ENTRYID, PR_FINDER_ENTRYID}};
  ULONG count = 0;
  LPSPropValue values = nullptr;
  ASSERT_EQ(store_->GetProps(reinterpret_cast<LPSPropTagArray>(&tags), 0, &count, &values), MAPI_W_ERRORS_RETURNED);
  PropsHeld hold(values);
  ASSERT_EQ(count, 2u);
  EXPECT_EQ(values[0].ulPropTag, PR_IPM_SUBTREE_ENTRYID);
  EXPECT_EQ(values[1].ulPropTag, PROP_TAG(PT_ERROR, PROP_ID(PR_FINDER_ENTRYID)));
  EXPECT_EQ(values[1].Value.err, MAPI_E_NOT_FOUND);
}

TEST_F(MapiStoreObjects, ValidationIsIdempotent) {
  std::string before = BinProp(store_.get(), PR_IPM_SUBTREE_ENTRYID);
  ULONG count = 0;
  LPSPropValue values = nullptr;
  LPMAPIERROR err = nullptr;
  ASSERT_EQ(HrValidateIPMSubtree(store_.get(), MAPI_FULL_IPM_TREE | MAPI_FORCE_CREATE, &count, &values, &err), S_OK);
  PropsHeld hold(values);
  EXPECT_EQ(err, nullptr);
  EXPECT_GT(count, 0u);
  EXPECT_EQ(BinProp(store_.get(), PR_IPM_SUBTREE_ENTRYID), before);
  auto root = Root();
  auto top = Hierarchy(root.get(), {PR_DISPLAY_NAME_W});
  ASSERT_TRUE(top);
  EXPECT_EQ(top->cRows, 1u);
  auto sub = Hierarchy(Subtree().get(), {PR_DISPLAY_NAME_W});
  ASSERT_TRUE(sub);
  EXPECT_EQ(sub->cRows, 11u);
}

TEST_F(MapiStoreObjects, DraftsAndJunkAreNamedOnInboxAndRoot) {
  auto inbox = Inbox(store_.get());
  auto root = Root();
  ASSERT_TRUE(inbox && root);
  for (IMAPIFolder* folder : {inbox.get(), root.get()}) {
    std::string drafts = BinProp(folder, PR_IPM_DRAFTS_ENTRYID);
    auto draftsFolder = OpenFolder(store_.get(), drafts);
    ASSERT_TRUE(draftsFolder);
    LPSPropValue ren = nullptr;
    ASSERT_EQ(HrGetOneProp(folder, PR_ADDITIONAL_REN_ENTRYIDS, &ren), S_OK);
    PropsHeld hold(ren);
    ASSERT_GE(ren->Value.MVbin.cValues, 5u);
    std::string junk(reinterpret_cast<char*>(ren->Value.MVbin.lpbin[4].lpb), ren->Value.MVbin.lpbin[4].cb);
    auto junkFolder = OpenFolder(store_.get(), junk);
    ASSERT_TRUE(junkFolder);
    LPSPropValue name = nullptr;
    ASSERT_EQ(HrGetOneProp(junkFolder.get(), PR_DISPLAY_NAME_W, &name), S_OK);
    PropsHeld nameHold(name);
    EXPECT_EQ(Narrow(name->Value.lpszW), "Junk E-mail");
  }
}

TEST_F(MapiStoreObjects, ReceiveFolderIsTheInbox) {
  ULONG cb = 0;
  LPENTRYID id = nullptr;
  LPWSTR cls = nullptr;
  std::u16string ipm = u"IPM.Note";
  ASSERT_EQ(store_->GetReceiveFolder(W(ipm), MAPI_UNICODE, &cb, &id, &cls), S_OK);
  std::unique_ptr<void, BufferFree> hold(id);
  EXPECT_EQ(cb, 24u);
  EXPECT_EQ(Narrow(cls), "");
  std::string bytes(reinterpret_cast<char*>(id), cb);
  auto inbox = OpenFolder(store_.get(), bytes);
  ASSERT_TRUE(inbox);
  EXPECT_EQ(BinProp(inbox.get(), PR_PARENT_ENTRYID), BinProp(store_.get(), PR_IPM_SUBTREE_ENTRYID));
}

// ---- OpenEntry ----

TEST_F(MapiStoreObjects, OpenEntryRefusesForeignAndMissingIds) {
  std::string subtree = BinProp(store_.get(), PR_IPM_SUBTREE_ENTRYID);
  ULONG type = 0;
  IUnknown* unk = nullptr;
  std::string foreign = subtree;
  foreign[8] ^= 0x11;
  EXPECT_EQ(store_->OpenEntry(24, Eid(foreign), nullptr, 0, &type, &unk), MAPI_E_INVALID_ENTRYID);
  std::string missing = subtree;
  missing[20] = '\x7F';
  missing[21] = '\x7F';
  EXPECT_EQ(store_->OpenEntry(24, Eid(missing), nullptr, 0, &type, &unk), MAPI_E_NOT_FOUND);
  EXPECT_EQ(unk, nullptr);
  EXPECT_EQ(store_->OpenEntry(0, nullptr, nullptr, MAPI_BEST_ACCESS, &type, &unk), S_OK);
  Held<IUnknown> root(unk);
  EXPECT_EQ(type, MAPI_FOLDER);
}

// ---- folders ----

TEST_F(MapiStoreObjects, CreateFolderOpensExistingOrCollides) {
  auto subtree = Subtree();
  HRESULT hr = S_OK;
  auto made = CreateFolder(subtree.get(), "Projects", MAPI_UNICODE, &hr);
  ASSERT_EQ(hr, S_OK);
  std::string id = BinProp(made.get(), PR_ENTRYID);
  auto clash = CreateFolder(subtree.get(), "PROJECTS", MAPI_UNICODE, &hr);
  EXPECT_EQ(hr, MAPI_E_COLLISION);
  EXPECT_FALSE(clash);
  auto again = CreateFolder(subtree.get(), "projects", MAPI_UNICODE | OPEN_IF_EXISTS, &hr);
  ASSERT_EQ(hr, S_OK);
  EXPECT_EQ(BinProp(again.get(), PR_ENTRYID), id);
  // Without MAPI_UNICODE the name is narrow text.
  std::string narrow = "Archiv\xC3\xA9";
  LPMAPIFOLDER folder = nullptr;
  ASSERT_EQ(subtree->CreateFolder(FOLDER_GENERIC, reinterpret_cast<LPWSTR>(narrow.data()), nullptr, nullptr, 0,
                                  &folder),
            S_OK);
  Held<IMAPIFolder> narrowFolder(folder);
  LPSPropValue name = nullptr;
  ASSERT_EQ(HrGetOneProp(folder, PR_DISPLAY_NAME_W, &name), S_OK);
  PropsHeld hold(name);
  EXPECT_EQ(Narrow(name->Value.lpszW), narrow);
}

TEST_F(MapiStoreObjects, HierarchyTableAnswersComputedColumns) {
  auto subtree = Subtree();
  auto parent = Child(subtree.get(), "Parent");
  auto kid = Child(parent.get(), "Kid");
  ASSERT_EQ(MakeMessage(parent.get(), "one"), S_OK);
  ASSERT_EQ(MakeMessage(parent.get(), "two"), S_OK);
  auto rows = Hierarchy(subtree.get(), {PR_DISPLAY_NAME_W, PR_CONTENT_COUNT, PR_SUBFOLDERS, PR_ENTRYID});
  ASSERT_TRUE(rows);
  bool seen = false;
  for (ULONG i = 0; i < rows->cRows; ++i) {
    const SPropValue* p = rows->aRow[i].lpProps;
    if (Narrow(p[0].Value.lpszW) != "Parent") continue;
    seen = true;
    EXPECT_EQ(p[1].Value.l, 2);
    EXPECT_EQ(p[2].Value.b, 1);
    EXPECT_EQ(p[3].Value.bin.cb, 24u);
  }
  EXPECT_TRUE(seen);
}

TEST_F(MapiStoreObjects, DeleteFolderNeedsFlagsForContents) {
  auto subtree = Subtree();
  auto full = Child(subtree.get(), "Full");
  ASSERT_EQ(MakeMessage(full.get(), "inside"), S_OK);
  std::string id = BinProp(full.get(), PR_ENTRYID);
  EXPECT_EQ(subtree->DeleteFolder(24, Eid(id), 0, nullptr, 0), MAPI_E_HAS_MESSAGES);
  EXPECT_EQ(subtree->DeleteFolder(24, Eid(id), 0, nullptr, DEL_MESSAGES | DEL_FOLDERS), S_OK);
  EXPECT_FALSE(OpenFolder(store_.get(), id));
}

// ---- messages ----

TEST_F(MapiStoreObjects, BatchKeepsWhatItCommittedAndDropsTheRest) {
  auto inbox = Inbox(store_.get());
  auto save = [&] {
    LPMESSAGE raw = nullptr;
    ASSERT_EQ(inbox->CreateMessage(nullptr, 0, &raw), S_OK);
    Held<IMessage> message(raw);
    ASSERT_EQ(message->SaveChanges(0), S_OK);
  };
  {
    standin::StoreBatch batch(store_.get());
    ASSERT_EQ(batch.status(), S_OK);
    save();
    save();
    ASSERT_EQ(batch.Commit(), S_OK);
    save();
    EXPECT_EQ(ContentCount(inbox.get()), 3u);
  }
  EXPECT_EQ(ContentCount(inbox.get()), 2u) << "the batch that went without Commit rolled back";
  save();  // in the open group, then a batch dropped: the group keeps it
  { standin::StoreBatch dropped(store_.get()); }
  EXPECT_EQ(ContentCount(inbox.get()), 3u);
  standin::StoreBatch notAStore(nullptr);
  EXPECT_EQ(notAStore.status(), MAPI_E_INVALID_PARAMETER);
  EXPECT_EQ(notAStore.Commit(), MAPI_E_INVALID_PARAMETER);
}

TEST_F(MapiStoreObjects, ContentsTablesLeaveBodiesToTheMessage) {
  auto inbox = Inbox(store_.get());
  LPMESSAGE raw = nullptr;
  ASSERT_EQ(inbox->CreateMessage(nullptr, 0, &raw), S_OK);
  Held<IMessage> message(raw);
  std::u16string subject(255, u's'), body(4000, u'b');
  SPropValue v[2] = {Unicode(PR_SUBJECT_W, subject), Unicode(PR_BODY_W, body)};
  ASSERT_EQ(message->SetProps(2, v, nullptr), S_OK);
  ASSERT_EQ(message->SaveChanges(0), S_OK);
  auto rows = Contents(inbox.get(), {PR_SUBJECT_W, PR_BODY_W});
  ASSERT_TRUE(rows);
  ASSERT_EQ(rows->cRows, 1u);
  EXPECT_EQ(rows->aRow[0].lpProps[0].ulPropTag, PR_SUBJECT_W) << "a subject of 255 characters is in the row";
  EXPECT_EQ(rows->aRow[0].lpProps[1].ulPropTag, PROP_TAG(PT_ERROR, PROP_ID(PR_BODY_W)));
  EXPECT_EQ(rows->aRow[0].lpProps[1].Value.err, MAPI_E_NOT_FOUND);
  LPSPropValue got = nullptr;
  ASSERT_EQ(HrGetOneProp(message.get(), PR_BODY_W, &got), S_OK);
  PropsHeld hold(got);
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(got->Value.lpszW)), body);
}

TEST_F(MapiStoreObjects, MessageAppearsOnlyAfterSave) {
  auto inbox = Inbox(store_.get());
  LPMESSAGE raw = nullptr;
  ASSERT_EQ(inbox->CreateMessage(nullptr, 0, &raw), S_OK);
  Held<IMessage> message(raw);
  std::u16string subject = u"draft";
  SPropValue v = Unicode(PR_SUBJECT_W, subject);
  ASSERT_EQ(message->SetProps(1, &v, nullptr), S_OK);
  EXPECT_EQ(ContentCount(inbox.get()), 0u);
  ASSERT_EQ(message->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
  EXPECT_EQ(ContentCount(inbox.get()), 1u);
  auto rows = Contents(inbox.get(), {PR_SUBJECT_W, PR_ENTRYID, PR_MESSAGE_SIZE, PR_CREATION_TIME});
  ASSERT_TRUE(rows);
  ASSERT_EQ(rows->cRows, 1u);
  EXPECT_EQ(Narrow(rows->aRow[0].lpProps[0].Value.lpszW), "draft");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(rows->aRow[0].lpProps[1].Value.bin.lpb), 24),
            BinProp(message.get(), PR_ENTRYID));
  EXPECT_GT(rows->aRow[0].lpProps[2].Value.l, 0);
  EXPECT_EQ(rows->aRow[0].lpProps[3].ulPropTag, PR_CREATION_TIME);
}

TEST_F(MapiStoreObjects, NarrowStringsAreReadInEitherWidth) {
  auto inbox = Inbox(store_.get());
  LPMESSAGE raw = nullptr;
  ASSERT_EQ(inbox->CreateMessage(nullptr, 0, &raw), S_OK);
  Held<IMessage> message(raw);
  std::string narrow = "Gr\xC3\xBC\xC3\x9F";
  SPropValue v{};
  v.ulPropTag = PR_SUBJECT_A;
  v.Value.lpszA = narrow.data();
  ASSERT_EQ(message->SetProps(1, &v, nullptr), S_OK);
  ASSERT_EQ(message->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
  SizedSPropTagArray(2, tags) = {2, {PR_SUBJECT_W, PR_SUBJECT_A}};
  ULONG count = 0;
  LPSPropValue values = nullptr;
  ASSERT_EQ(message->GetProps(reinterpret_cast<LPSPropTagArray>(&tags), 0, &count, &values), S_OK);
  PropsHeld hold(values);
  EXPECT_EQ(Narrow(values[0].Value.lpszW), narrow);
  EXPECT_EQ(std::string(values[1].Value.lpszA), narrow);
  // Tables ask for the wide form.
  auto rows = Contents(inbox.get(), {PR_SUBJECT_W});
  ASSERT_EQ(rows->cRows, 1u);
  EXPECT_EQ(Narrow(rows->aRow[0].lpProps[0].Value.lpszW), narrow);
}

TEST_F(MapiStoreObjects, MessageInADeletedFolderCannotBeSaved) {
  auto subtree = Subtree();
  auto doomed = Child(subtree.get(), "Doomed");
  LPMESSAGE raw = nullptr;
  ASSERT_EQ(doomed->CreateMessage(nullptr, 0, &raw), S_OK);
  Held<IMessage> message(raw);
  std::string id = BinProp(doomed.get(), PR_ENTRYID);
  ASSERT_EQ(subtree->DeleteFolder(24, Eid(id), 0, nullptr, 0), S_OK);
  EXPECT_EQ(message->SaveChanges(0), MAPI_E_OBJECT_DELETED);
}

TEST_F(MapiStoreObjects, SaveStampsTimesOnlyWhereNoneWasSet) {
  auto inbox = Inbox(store_.get());
  LPMESSAGE raw = nullptr;
  ASSERT_EQ(inbox->CreateMessage(nullptr, 0, &raw), S_OK);
  Held<IMessage> message(raw);
  const uint64_t created = 130000000000000000ull, modified = 130000000100000000ull;
  SPropValue times[] = {Time(PR_CREATION_TIME, created), Time(PR_LAST_MODIFICATION_TIME, modified)};
  ASSERT_EQ(message->SetProps(2, times, nullptr), S_OK);
  ASSERT_EQ(message->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
  LPSPropValue v = nullptr;
  ASSERT_EQ(HrGetOneProp(message.get(), PR_LAST_MODIFICATION_TIME, &v), S_OK);
  EXPECT_EQ(TimeOf(*v), modified);
  MAPIFreeBuffer(v);
  // A later change without a time gets a fresh modification time; creation stays.
  std::u16string subject = u"changed";
  SPropValue s = Unicode(PR_SUBJECT_W, subject);
  ASSERT_EQ(message->SetProps(1, &s, nullptr), S_OK);
  ASSERT_EQ(message->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
  ASSERT_EQ(HrGetOneProp(message.get(), PR_LAST_MODIFICATION_TIME, &v), S_OK);
  EXPECT_GT(TimeOf(*v), modified);
  MAPIFreeBuffer(v);
  ASSERT_EQ(HrGetOneProp(message.get(), PR_CREATION_TIME, &v), S_OK);
  EXPECT_EQ(TimeOf(*v), created);
  MAPIFreeBuffer(v);
}

TEST_F(MapiStoreObjects, CopyMessagesToAnotherStoreKeepsEverything) {
  ASSERT_EQ(standin::mapi::CreateStoreFile(U(StorePath(root(), "b.pst")), u"B"), S_OK);
  auto other = OpenStore(StorePath(root(), "b.pst"));
  auto source = Inbox(store_.get());
  auto dest = Inbox(other.get());
  std::string id;
  ASSERT_EQ(MakeMessage(source.get(), "carried", &id), S_OK);
  auto original = OpenMessage(source.get(), id);
  const uint64_t created = 129000000000000000ull;
  SPropValue t[] = {Time(PR_CREATION_TIME, created), Time(PR_LAST_MODIFICATION_TIME, created + 5)};
  ASSERT_EQ(original->SetProps(2, t, nullptr), S_OK);
  ASSERT_EQ(original->SaveChanges(0), S_OK);
  SBinary bin{24, reinterpret_cast<LPBYTE>(id.data())};
  ENTRYLIST list{1, &bin};
  ASSERT_EQ(source->CopyMessages(&list, nullptr, dest.get(), 0, nullptr, 0), S_OK);
  auto rows = Contents(dest.get(), {PR_SUBJECT_W, PR_CREATION_TIME, PR_LAST_MODIFICATION_TIME, PR_ENTRYID,
                                    PR_MESSAGE_SIZE});
  ASSERT_TRUE(rows);
  ASSERT_EQ(rows->cRows, 1u);
  const SPropValue* p = rows->aRow[0].lpProps;
  EXPECT_EQ(Narrow(p[0].Value.lpszW), "carried");
  EXPECT_EQ(TimeOf(p[1]), created);
  EXPECT_EQ(TimeOf(p[2]), created + 5);
  std::string copyId(reinterpret_cast<char*>(p[3].Value.bin.lpb), 24);
  EXPECT_NE(copyId.substr(4, 16), id.substr(4, 16));  // the other store's UID
  auto copy = OpenMessage(dest.get(), copyId);
  ASSERT_TRUE(copy);
  LPMAPITABLE table = nullptr;
  ASSERT_EQ(copy->GetRecipientTable(0, &table), S_OK);
  Held<IMAPITable> recips(table);
  auto recipRows = QueryAll(table, {PR_DISPLAY_NAME_W, PR_RECIPIENT_TYPE});
  ASSERT_EQ(recipRows->cRows, 2u);
  EXPECT_EQ(Narrow(recipRows->aRow[1].lpProps[0].Value.lpszW), "Bob");
  EXPECT_EQ(recipRows->aRow[1].lpProps[1].Value.l, MAPI_CC);
  LPATTACH att = nullptr;
  ASSERT_EQ(copy->OpenAttach(0, nullptr, 0, &att), S_OK);
  Held<IAttach> attach(att);
  LPSPropValue data = nullptr;
  ASSERT_EQ(HrGetOneProp(att, PR_ATTACH_DATA_BIN, &data), S_OK);
  PropsHeld dataHold(data);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data->Value.bin.lpb), data->Value.bin.cb),
            "attachment data of carried");
  EXPECT_EQ(ContentCount(source.get()), 1u);
}

// Copies between two stores in both directions at once must not block each other.
TEST_F(MapiStoreObjects, OppositeCopiesInTwoThreadsFinish) {
  ASSERT_EQ(standin::mapi::CreateStoreFile(U(StorePath(root(), "b.pst")), u"B"), S_OK);
  auto other = OpenStore(StorePath(root(), "b.pst"));
  auto mine = Inbox(store_.get());
  auto theirs = Inbox(other.get());
  std::string a, b;
  ASSERT_EQ(MakeMessage(mine.get(), "from a", &a), S_OK);
  ASSERT_EQ(MakeMessage(theirs.get(), "from b", &b), S_OK);
  auto copyMany = [](IMAPIFolder* from, IMAPIFolder* to, std::string id) {
    SBinary bin{24, reinterpret_cast<LPBYTE>(id.data())};
    ENTRYLIST list{1, &bin};
    for (int i = 0; i < 40; ++i) EXPECT_EQ(from->CopyMessages(&list, nullptr, to, 0, nullptr, 0), S_OK);
  };
  std::thread forward(copyMany, mine.get(), theirs.get(), a);
  std::thread backward(copyMany, theirs.get(), mine.get(), b);
  forward.join();
  backward.join();
  EXPECT_EQ(ContentCount(mine.get()), 41u);
  EXPECT_EQ(ContentCount(theirs.get()), 41u);
}

TEST_F(MapiStoreObjects, MoveRemovesTheSource) {
  auto subtree = Subtree();
  auto a = Child(subtree.get(), "A");
  auto b = Child(subtree.get(), "B");
  std::string id;
  ASSERT_EQ(MakeMessage(a.get(), "moving", &id), S_OK);
  SBinary bin{24, reinterpret_cast<LPBYTE>(id.data())};
  ENTRYLIST list{1, &bin};
  ASSERT_EQ(a->CopyMessages(&list, &IID_IMAPIFolder, b.get(), 0, nullptr, MAPI_MOVE), S_OK);
  EXPECT_EQ(ContentCount(a.get()), 0u);
  EXPECT_EQ(ContentCount(b.get()), 1u);
  // A message that is no longer there is skipped with a partial result.
  EXPECT_EQ(a->CopyMessages(&list, nullptr, b.get(), 0, nullptr, 0), MAPI_W_PARTIAL_COMPLETION);
}

TEST_F(MapiStoreObjects, MessageCopyToHonoursExclusions) {
  auto inbox = Inbox(store_.get());
  std::string id;
  ASSERT_EQ(MakeMessage(inbox.get(), "template", &id), S_OK);
  auto source = OpenMessage(inbox.get(), id);
  auto drafts = Child(Subtree().get(), "Drafts");
  for (bool excludeMessageIid : {false, true}) {
    LPMESSAGE raw = nullptr;
    ASSERT_EQ(drafts->CreateMessage(nullptr, 0, &raw), S_OK);
    Held<IMessage> dest(raw);
    SizedSPropTagArray(3, exclude) = {3, {PR_ENTRYID, PR_ACCESS, PR_BODY_W}};
    ASSERT_EQ(source->CopyTo(excludeMessageIid ? 1 : 0, excludeMessageIid ? &IID_IMessage : nullptr,
                             reinterpret_cast<LPSPropTagArray>(&exclude), 0, nullptr, &IID_IMessage, dest.get(), 0,
                             nullptr),
              S_OK);
    ASSERT_EQ(dest->SaveChanges(FORCE_SAVE), S_OK);
    LPSPropValue v = nullptr;
    EXPECT_EQ(HrGetOneProp(dest.get(), PR_BODY_W, &v), MAPI_E_NOT_FOUND);
    if (v) MAPIFreeBuffer(v);
    v = nullptr;
    ASSERT_EQ(HrGetOneProp(dest.get(), PR_SUBJECT_W, &v), S_OK);
    EXPECT_EQ(Narrow(v->Value.lpszW), "template");
    MAPIFreeBuffer(v);
    ASSERT_EQ(HrGetOneProp(dest.get(), PR_HASATTACH, &v), S_OK);
    EXPECT_EQ(v->Value.b != 0, !excludeMessageIid);
    MAPIFreeBuffer(v);
    EXPECT_NE(BinProp(dest.get(), PR_ENTRYID), id);
  }
}

TEST_F(MapiStoreObjects, FolderCopyToCopiesPropertiesContentsAndHierarchy) {
  ASSERT_EQ(standin::mapi::CreateStoreFile(U(StorePath(root(), "b.pst")), u"B"), S_OK);
  auto other = OpenStore(StorePath(root(), "b.pst"));
  auto subtree = Subtree();
  auto calendar = Child(subtree.get(), "Calendar");
  auto sub = Child(calendar.get(), "Holidays");
  ASSERT_EQ(MakeMessage(calendar.get(), "meeting"), S_OK);
  ASSERT_EQ(MakeMessage(sub.get(), "holiday"), S_OK);
  auto target = CreateFolder(OpenFolder(other.get(), BinProp(other.get(), PR_IPM_SUBTREE_ENTRYID)).get(),
                             "Calendar copy", MAPI_UNICODE);
  ASSERT_TRUE(target);
  SizedSPropTagArray(2, exclude) = {2, {PR_ENTRYID, PR_ACCESS}};
  ASSERT_EQ(calendar->CopyTo(0, nullptr, reinterpret_cast<LPSPropTagArray>(&exclude), 0, nullptr, &IID_IMAPIFolder,
                             target.get(), 0, nullptr),
            S_OK);
  LPSPropValue v = nullptr;
  ASSERT_EQ(HrGetOneProp(target.get(), PR_CONTAINER_CLASS_W, &v), S_OK);
  EXPECT_EQ(Narrow(v->Value.lpszW), "IPF.Appointment");
  MAPIFreeBuffer(v);
  EXPECT_EQ(ContentCount(target.get()), 1u);
  auto copiedSub = Child(target.get(), "Holidays");
  EXPECT_EQ(ContentCount(copiedSub.get()), 1u);
  // Excluding the containers copies the properties only.
  auto bare = CreateFolder(subtree.get(), "Bare", MAPI_UNICODE);
  SizedSPropTagArray(2, containers) = {2, {PR_CONTAINER_CONTENTS, PR_CONTAINER_HIERARCHY}};
  ASSERT_EQ(calendar->CopyTo(0, nullptr, reinterpret_cast<LPSPropTagArray>(&containers), 0, nullptr,
                             &IID_IMAPIFolder, bare.get(), 0, nullptr),
            S_OK);
  EXPECT_EQ(ContentCount(bare.get()), 0u);
  // Never into itself.
  EXPECT_EQ(calendar->CopyTo(0, nullptr, nullptr, 0, nullptr, &IID_IMAPIFolder, sub.get(), 0, nullptr),
            MAPI_E_FOLDER_CYCLE);
}

TEST_F(MapiStoreObjects, RecipientsModifyAndRemoveByRowId) {
  auto inbox = Inbox(store_.get());
  std::string id;
  ASSERT_EQ(MakeMessage(inbox.get(), "people", &id), S_OK);
  auto message = OpenMessage(inbox.get(), id);
  SPropValue rowId{};
  rowId.ulPropTag = PR_ROWID;
  rowId.Value.l = 0;
  ADRLIST one{1, {{0, 1, &rowId}}};
  ASSERT_EQ(message->ModifyRecipients(MODRECIP_REMOVE, &one), S_OK);
  ASSERT_EQ(message->SaveChanges(0), S_OK);
  auto reopened = OpenMessage(inbox.get(), id);
  LPMAPITABLE table = nullptr;
  ASSERT_EQ(reopened->GetRecipientTable(0, &table), S_OK);
  Held<IMAPITable> hold(table);
  auto rows = QueryAll(table, {PR_DISPLAY_NAME_W});
  ASSERT_EQ(rows->cRows, 1u);
  EXPECT_EQ(Narrow(rows->aRow[0].lpProps[0].Value.lpszW), "Bob");
}

TEST_F(MapiStoreObjects, DeleteMessagesRemovesOnlyTheListed) {
  auto inbox = Inbox(store_.get());
  std::string first, second;
  ASSERT_EQ(MakeMessage(inbox.get(), "first", &first), S_OK);
  ASSERT_EQ(MakeMessage(inbox.get(), "second", &second), S_OK);
  SBinary bin{24, reinterpret_cast<LPBYTE>(first.data())};
  ENTRYLIST list{1, &bin};
  ASSERT_EQ(inbox->DeleteMessages(&list, 0, nullptr, 0), S_OK);
  auto rows = Contents(inbox.get(), {PR_SUBJECT_W});
  ASSERT_EQ(rows->cRows, 1u);
  EXPECT_EQ(Narrow(rows->aRow[0].lpProps[0].Value.lpszW), "second");
}

// ---- faults ----

TEST_F(MapiStoreObjects, FaultOnCopyMessagesCopiesNothing) {
  auto subtree = Subtree();
  auto a = Child(subtree.get(), "A");
  auto b = Child(subtree.get(), "B");
  std::string id;
  ASSERT_EQ(MakeMessage(a.get(), "stays", &id), S_OK);
  SBinary bin{24, reinterpret_cast<LPBYTE>(id.data())};
  ENTRYLIST list{1, &bin};
  standin::ArmFault("IMAPIFolder::CopyMessages", MAPI_E_DISK_ERROR, 1);
  EXPECT_EQ(a->CopyMessages(&list, nullptr, b.get(), 0, nullptr, 0), MAPI_E_DISK_ERROR);
  EXPECT_EQ(ContentCount(b.get()), 0u);
  EXPECT_EQ(a->CopyMessages(&list, nullptr, b.get(), 0, nullptr, 0), S_OK);  // only the first call
  EXPECT_EQ(ContentCount(b.get()), 1u);
}

TEST_F(MapiStoreObjects, FaultOnCreateFolderCreatesNothing) {
  auto subtree = Subtree();
  standin::ArmFault("IMAPIFolder::CreateFolder", MAPI_E_NO_ACCESS);
  HRESULT hr = S_OK;
  EXPECT_FALSE(CreateFolder(subtree.get(), "Never", MAPI_UNICODE, &hr));
  EXPECT_EQ(hr, MAPI_E_NO_ACCESS);
  standin::ClearFault("IMAPIFolder::CreateFolder");
  auto rows = Hierarchy(subtree.get(), {PR_DISPLAY_NAME_W});
  EXPECT_EQ(rows->cRows, 11u);
}

TEST_F(MapiStoreObjects, FaultOnSaveChangesLeavesTheMessageUnsaved) {
  auto inbox = Inbox(store_.get());
  standin::ArmFault("IMessage::SaveChanges", MAPI_E_NOT_ENOUGH_DISK, 1);
  EXPECT_EQ(MakeMessage(inbox.get(), "lost"), MAPI_E_NOT_ENOUGH_DISK);
  EXPECT_EQ(ContentCount(inbox.get()), 0u);
}

TEST_F(MapiStoreObjects, ArmedWarningIsReturnedAsIs) {
  standin::ArmFault("IMsgStore::GetProps", MAPI_W_ERRORS_RETURNED, 1);
  ULONG count = 0;
  LPSPropValue values = nullptr;
  EXPECT_EQ(store_->GetProps(nullptr, 0, &count, &values), MAPI_W_ERRORS_RETURNED);
  EXPECT_EQ(values, nullptr);
}

TEST_F(MapiStoreObjects, FailedValidationFillsTheErrorRecord) {
  ASSERT_EQ(standin::mapi::CreateStoreFile(U(StorePath(root(), "c.pst")), u"C"), S_OK);
  auto other = OpenStore(StorePath(root(), "c.pst"));
  standin::ArmFault("IMAPIFolder::CreateFolder", MAPI_E_NO_ACCESS);
  LPMAPIERROR err = nullptr;
  EXPECT_EQ(HrValidateIPMSubtree(other.get(), MAPI_FULL_IPM_TREE | MAPI_FORCE_CREATE, nullptr, nullptr, &err),
            MAPI_E_NO_ACCESS);
  ASSERT_NE(err, nullptr);
  EXPECT_EQ(err->ulLowLevelError, static_cast<ULONG>(MAPI_E_NO_ACCESS));
  EXPECT_FALSE(Narrow(err->lpszError).empty());
  MAPIFreeBuffer(err);
}

}  // namespace
