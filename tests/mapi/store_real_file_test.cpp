// A real personal-folders file opened as a store: read-only, identified by
// the file's own node identifiers, and copied out whole into a stand-in store.
#include <algorithm>
#include <cstring>
#include <functional>
#include <map>

#include "common/pff_export.h"
#include "store_support.h"

namespace store_test {
namespace {

class RealFileStoreTest : public testing_support::FreshRoot {
 protected:
  static std::string Sample(const std::string& name) {
    return (testing_support::TestData() / "pst" / (name + ".pst")).string();
  }
  std::string Debugger() const { return testing_support::ReadFileBytes(RootFile("debugger-output.txt")); }
};

constexpr ULONG kHtml = PROP_TAG(PT_BINARY, 0x1013);

std::string Text(IMAPIProp* object, ULONG tag) {
  LPSPropValue value = nullptr;
  if (FAILED(HrGetOneProp(object, tag, &value))) return "";
  PropsHeld hold(value);
  return Narrow(value->Value.lpszW);
}

Held<IMAPIFolder> Child(IMsgStore* store, IMAPIFolder* parent, const std::string& name) {
  RowsHeld rows = Hierarchy(parent, {PR_ENTRYID, PR_DISPLAY_NAME_W});
  for (ULONG i = 0; rows && i < rows->cRows; ++i)
    if (Narrow(rows->aRow[i].lpProps[1].Value.lpszW) == name) {
      const SBinary& id = rows->aRow[i].lpProps[0].Value.bin;
      return OpenFolder(store, std::string(reinterpret_cast<const char*>(id.lpb), id.cb), 0);
    }
  return nullptr;
}

Held<IMessage> FirstMessage(IMAPIFolder* folder) {
  RowsHeld rows = Contents(folder, {PR_ENTRYID});
  if (!rows || rows->cRows == 0) return nullptr;
  const SBinary& id = rows->aRow[0].lpProps[0].Value.bin;
  ULONG type = 0;
  IUnknown* unk = nullptr;
  if (FAILED(folder->OpenEntry(id.cb, reinterpret_cast<LPENTRYID>(id.lpb), &IID_IMessage, 0, &type, &unk)))
    return nullptr;
  return Held<IMessage>(static_cast<IMessage*>(unk));
}

TEST_F(RealFileStoreTest, EntryIdentifiersCarryTheFilesNodeIdentifiers) {
  std::string file = Sample("pstsdk-sample1");
  REQUIRE_TEST_DATA(std::filesystem::exists(file));
  HRESULT hr = E_FAIL;
  Held<IMsgStore> store = OpenStore(file, &hr);
  ASSERT_EQ(hr, S_OK);
  std::string key = BinProp(store.get(), PR_RECORD_KEY);
  ASSERT_EQ(key.size(), 16u);
  std::string subtree = BinProp(store.get(), PR_IPM_SUBTREE_ENTRYID);
  ASSERT_EQ(subtree.size(), 24u);
  EXPECT_EQ(subtree.substr(0, 4), std::string(4, '\0'));
  EXPECT_EQ(subtree.substr(4, 16), key);
  EXPECT_EQ(subtree.substr(20), std::string("\x22\x80\0\0", 4)) << "the file's node of the IPM subtree is 0x8022";
  MAPIUID uid{};
  ASSERT_EQ(standin::mapi::ReadStoreUid(U(file), &uid), S_OK);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(uid.ab), 16), key);

  Held<IMAPIFolder> top = OpenFolder(store.get(), subtree, 0);
  ASSERT_TRUE(top);
  EXPECT_EQ(BinProp(top.get(), PR_ENTRYID), subtree);
  Held<IMAPIFolder> sample = Child(store.get(), top.get(), "Sample1");
  ASSERT_TRUE(sample);
  EXPECT_EQ(BinProp(sample.get(), PR_PARENT_ENTRYID), subtree);
  EXPECT_EQ(Text(sample.get(), PR_CONTAINER_CLASS_W), "IPF.Note");
  LPSPropValue count = nullptr;
  ASSERT_EQ(HrGetOneProp(sample.get(), PR_CONTENT_COUNT, &count), S_OK);
  PropsHeld hold(count);
  EXPECT_EQ(count->Value.l, 1);
  Held<IMessage> message = FirstMessage(sample.get());
  ASSERT_TRUE(message);
  EXPECT_EQ(Text(message.get(), PR_SUBJECT_W), "Here is a sample message");
  EXPECT_EQ(BinProp(message.get(), PR_PARENT_ENTRYID), BinProp(sample.get(), PR_ENTRYID));
  // Another store's identifier opens nothing here.
  std::string foreign = subtree;
  foreign[4] ^= 1;
  EXPECT_FALSE(OpenFolder(store.get(), foreign, 0));
}

// The hierarchy table goes one level down unless the whole tree is asked for;
// either way it lists the folders pffexport exports, at their depths.
TEST_F(RealFileStoreTest, HierarchyTablesListOneLevelOrTheWholeTreeWithDepths) {
  std::string file = Sample("aspose-net-Outlook");
  REQUIRE_TEST_DATA(std::filesystem::exists(file));
  ASSERT_TRUE(std::filesystem::exists(testing_support::kPffExport));
  testing_support::ExportedTree exported =
      testing_support::ExportedFolders(testing_support::PffExport(file, root()), "Top of Personal Folders");
  ASSERT_TRUE(exported.count("Inbox/SubInbox"));
  std::map<std::string, LONG> oneLevel, wholeTree;
  for (const auto& [path, items] : exported) {
    if (path.empty()) continue;
    LONG depth = static_cast<LONG>(std::count(path.begin(), path.end(), '/'));
    wholeTree[path] = depth;
    if (depth == 0) oneLevel[path] = depth;
  }
  Held<IMsgStore> store = OpenStore(file);
  ASSERT_TRUE(store);
  Held<IMAPIFolder> top = OpenFolder(store.get(), BinProp(store.get(), PR_IPM_SUBTREE_ENTRYID), 0);
  ASSERT_TRUE(top);
  constexpr ULONG kDepth = PROP_TAG(PT_LONG, 0x3005);
  for (ULONG flags : {0u, static_cast<ULONG>(CONVENIENT_DEPTH)}) {
    SCOPED_TRACE(flags);
    LPMAPITABLE table = nullptr;
    ASSERT_EQ(top->GetHierarchyTable(flags, &table), S_OK);
    Held<IMAPITable> hold(table);
    RowsHeld rows = QueryAll(table, {PR_DISPLAY_NAME_W, kDepth, PR_ENTRYID, PR_PARENT_ENTRYID});
    ASSERT_TRUE(rows);
    // A row's path is its parent's and its name; parents come first.
    auto bytes = [](const SBinary& b) { return std::string(reinterpret_cast<const char*>(b.lpb), b.cb); };
    std::map<std::string, std::string> paths = {{BinProp(top.get(), PR_ENTRYID), ""}};
    std::map<std::string, LONG> shown;
    for (ULONG i = 0; i < rows->cRows; ++i) {
      const SPropValue* p = rows->aRow[i].lpProps;
      auto parent = paths.find(bytes(p[3].Value.bin));
      ASSERT_NE(parent, paths.end()) << "a row ahead of its parent";
      std::string path = (parent->second.empty() ? "" : parent->second + "/") + Narrow(p[0].Value.lpszW);
      paths[bytes(p[2].Value.bin)] = path;
      shown[path] = p[1].Value.l;
    }
    EXPECT_EQ(shown, flags ? wholeTree : oneLevel);
  }
  Held<IMAPIFolder> inbox = Child(store.get(), top.get(), "Inbox");
  ASSERT_TRUE(inbox);
  RowsHeld sub = Hierarchy(inbox.get(), {PR_DISPLAY_NAME_W, kDepth, PR_PARENT_ENTRYID});
  ASSERT_TRUE(sub);
  ASSERT_EQ(sub->cRows, 1u);
  EXPECT_EQ(Narrow(sub->aRow[0].lpProps[0].Value.lpszW), "SubInbox");
  EXPECT_EQ(sub->aRow[0].lpProps[1].Value.l, 0) << "depths count from the folder asked";
  const SBinary& parent = sub->aRow[0].lpProps[2].Value.bin;
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(parent.lpb), parent.cb), BinProp(inbox.get(), PR_ENTRYID));
}

// The node of an entry identifier: its last four bytes.
uint32_t NodeOf(const std::string& entryId) {
  uint32_t node = 0;
  for (int i = 3; i >= 0; --i) node = (node << 8) | static_cast<unsigned char>(entryId.at(20 + i));
  return node;
}

std::vector<std::string> Column(IMAPIFolder* folder, ULONG tag) {
  std::vector<std::string> values;
  RowsHeld rows = Contents(folder, {tag});
  for (ULONG i = 0; rows && i < rows->cRows; ++i) {
    const SPropValue& v = rows->aRow[i].lpProps[0];
    values.push_back(PROP_TYPE(v.ulPropTag) == PT_ERROR ? "(error)"
                     : PROP_TYPE(tag) == PT_BINARY ? std::string(reinterpret_cast<const char*>(v.Value.bin.lpb), v.Value.bin.cb)
                                                   : Narrow(v.Value.lpszW));
  }
  return values;
}

HRESULT OpenMessage(IMAPIFolder* folder, std::string entryId, Held<IMessage>* out) {
  ULONG type = 0;
  IUnknown* unk = nullptr;
  HRESULT hr = folder->OpenEntry(static_cast<ULONG>(entryId.size()), Eid(entryId), &IID_IMessage, 0, &type, &unk);
  if (SUCCEEDED(hr)) out->reset(static_cast<IMessage*>(unk));
  return hr;
}

ULONG PropCount(IMAPIProp* object) {
  LPSPropTagArray tags = nullptr;
  if (FAILED(object->GetPropList(0, &tags))) return 0;
  ULONG count = tags->cValues;
  MAPIFreeBuffer(tags);
  return count;
}

// Damage confined to single messages stays theirs: a message whose identity
// cannot be read is left out of its folder, one that cannot be read is listed
// and fails its own open, a property that cannot be read is left out of its
// message; each logged with its folder and position.
TEST_F(RealFileStoreTest, UnreadableMessagesAndPropertiesAreLeftOutOneByOneAndLogged) {
  std::string file = Sample("aspose-net-Outlook");
  REQUIRE_TEST_DATA(std::filesystem::exists(file));
  auto inboxOf = [&](Held<IMsgStore>& store) {
    Held<IMAPIFolder> top = OpenFolder(store.get(), BinProp(store.get(), PR_IPM_SUBTREE_ENTRYID), 0);
    return top ? Child(store.get(), top.get(), "Inbox") : nullptr;
  };
  Held<IMsgStore> store = OpenStore(file);
  ASSERT_TRUE(store);
  Held<IMAPIFolder> inbox = inboxOf(store);
  ASSERT_TRUE(inbox);
  std::vector<std::string> subjects = Column(inbox.get(), PR_SUBJECT_W), ids = Column(inbox.get(), PR_ENTRYID);
  ASSERT_GE(subjects.size(), 3u);
  // How many messages the file lists before the Inbox's: the walk at open
  // takes a folder's messages, then its sub-folders', in hierarchy order.
  Held<IMAPIFolder> top = OpenFolder(store.get(), BinProp(store.get(), PR_IPM_SUBTREE_ENTRYID), 0);
  Held<IMAPIFolder> root = OpenFolder(store.get(), BinProp(top.get(), PR_PARENT_ENTRYID), 0);
  ASSERT_TRUE(root);
  LPSPropValue own = nullptr;
  ASSERT_EQ(HrGetOneProp(root.get(), PR_CONTENT_COUNT, &own), S_OK);
  PropsHeld ownHeld(own);
  ULONG before = static_cast<ULONG>(own->Value.l);
  std::string inboxId = BinProp(inbox.get(), PR_ENTRYID);
  std::function<bool(IMAPIFolder*)> walk = [&](IMAPIFolder* folder) {
    RowsHeld rows = Hierarchy(folder, {PR_ENTRYID, PR_CONTENT_COUNT});
    for (ULONG i = 0; rows && i < rows->cRows; ++i) {
      const SBinary& bin = rows->aRow[i].lpProps[0].Value.bin;
      std::string id(reinterpret_cast<const char*>(bin.lpb), bin.cb);
      if (id == inboxId) return true;
      before += static_cast<ULONG>(rows->aRow[i].lpProps[1].Value.l);
      Held<IMAPIFolder> sub = OpenFolder(store.get(), id, 0);
      if (sub && walk(sub.get())) return true;
    }
    return false;
  };
  ASSERT_TRUE(walk(root.get()));
  inbox.reset();
  top.reset();
  root.reset();
  store.reset();
  const std::string where = "Corvane store: reading " + file + ": folder 'Inbox', item 2";

  // The second message's identity refused: the other messages listed.
  standin::ArmFault("libpff_folder_get_sub_message", MAPI_E_CORRUPT_DATA, before + 2);
  store = OpenStore(file);
  ASSERT_TRUE(store);
  inbox = inboxOf(store);
  ASSERT_TRUE(inbox);
  std::vector<std::string> expected = subjects;
  expected.erase(expected.begin() + 1);
  EXPECT_EQ(Column(inbox.get(), PR_SUBJECT_W), expected);
  EXPECT_NE(Debugger().find(where + " left out: it cannot be read"), std::string::npos) << Debugger();
  standin::ClearAllFaults();
  inbox.reset();
  store.reset();

  // The second message refused (a contents table reads each message once,
  // for its own small values, never its parts): listed by its identity, its
  // own open fails, the rest open.
  store = OpenStore(file);
  inbox = inboxOf(store);
  ASSERT_TRUE(inbox);
  standin::ArmFault("libpff_file_get_item_by_identifier", MAPI_E_CORRUPT_DATA, 2);
  expected = subjects;
  expected[1] = "(error)";
  EXPECT_EQ(Column(inbox.get(), PR_SUBJECT_W), expected);
  EXPECT_NE(Debugger().find(where + " cannot be read"), std::string::npos) << Debugger();
  EXPECT_EQ(Column(inbox.get(), PR_ENTRYID), ids);
  Held<IMessage> message;
  standin::ArmFault("libpff_file_get_item_by_identifier", MAPI_E_CORRUPT_DATA, 1);
  EXPECT_EQ(OpenMessage(inbox.get(), ids[1], &message), MAPI_E_CORRUPT_DATA);
  EXPECT_EQ(OpenMessage(inbox.get(), ids[2], &message), S_OK);

  // One property of the first message refused, by its entry or by its data:
  // the message opens without it.
  ASSERT_EQ(OpenMessage(inbox.get(), ids[0], &message), S_OK);
  ULONG whole = PropCount(message.get());
  for (const char* call : {"libpff_record_set_get_entry_by_index", "libpff_record_entry_get_data"}) {
    SCOPED_TRACE(call);
    standin::ArmFault(call, MAPI_E_CORRUPT_DATA, 1);
    ASSERT_EQ(OpenMessage(inbox.get(), ids[0], &message), S_OK);
    EXPECT_EQ(PropCount(message.get()), whole - 1);
    EXPECT_NE(Debugger().find("folder 'Inbox', item 1: property 1"), std::string::npos) << Debugger();
    EXPECT_EQ(Text(message.get(), PR_SUBJECT_W), subjects[0]);
  }

  // A contents table reads of each message only the columns asked for: the
  // first value it reads is the first message's subject.
  standin::ArmFault("libpff_record_entry_get_data", MAPI_E_CORRUPT_DATA, 1);
  expected = subjects;
  expected[0] = "(error)";
  EXPECT_EQ(Column(inbox.get(), PR_SUBJECT_W), expected);
}

// A block's bytes altered inside the file: the message it belongs to fails
// its own open, the rest of its folder reads; a page of the block tree
// altered: the file is refused at open.
TEST_F(RealFileStoreTest, ADamagedBlockFailsItsMessageAndADamagedTreeTheFile) {
  std::string file = Sample("aspose-net-Outlook");
  REQUIRE_TEST_DATA(std::filesystem::exists(file));
  std::string whole = testing_support::ReadFileBytes(file);
  std::vector<std::string> subjects, ids;
  {
    Held<IMsgStore> store = OpenStore(file);
    Held<IMAPIFolder> top = OpenFolder(store.get(), BinProp(store.get(), PR_IPM_SUBTREE_ENTRYID), 0);
    Held<IMAPIFolder> inbox = Child(store.get(), top.get(), "Inbox");
    ASSERT_TRUE(inbox);
    subjects = Column(inbox.get(), PR_SUBJECT_W);
    ids = Column(inbox.get(), PR_ENTRYID);
  }
  ASSERT_GE(ids.size(), 3u);
  testing_support::FileSpan block = testing_support::NodeDataBlock(whole, NodeOf(ids[1]));
  ASSERT_GT(block.size, 16u);
  std::string damaged = whole;
  for (uint64_t i = block.size / 2; i < block.size / 2 + 4; ++i) damaged[block.offset + i] ^= 0x5A;
  std::string path = root() + "/block.pst";
  testing_support::WriteFileBytes(path, damaged);
  Held<IMsgStore> store = OpenStore(path);
  ASSERT_TRUE(store);
  Held<IMAPIFolder> top = OpenFolder(store.get(), BinProp(store.get(), PR_IPM_SUBTREE_ENTRYID), 0);
  Held<IMAPIFolder> inbox = Child(store.get(), top.get(), "Inbox");
  ASSERT_TRUE(inbox);
  std::vector<std::string> expected = subjects;
  expected[1] = "(error)";
  EXPECT_EQ(Column(inbox.get(), PR_SUBJECT_W), expected);
  Held<IMessage> message;
  EXPECT_EQ(OpenMessage(inbox.get(), ids[1], &message), MAPI_E_CORRUPT_DATA);
  EXPECT_NE(Debugger().find("Corvane store: reading " + path + ": folder 'Inbox', item 2 cannot be read: its block "),
            std::string::npos)
      << Debugger();
  EXPECT_NE(Debugger().find("fails its checksum"), std::string::npos) << Debugger();
  for (size_t i : {size_t{0}, size_t{2}}) EXPECT_EQ(OpenMessage(inbox.get(), ids[i], &message), S_OK) << i;

  damaged = whole;
  testing_support::FileSpan page = testing_support::BlockTreeRoot(whole);
  damaged[page.offset + 7] ^= 0x01;
  path = root() + "/tree.pst";
  testing_support::WriteFileBytes(path, damaged);
  HRESULT hr = S_OK;
  EXPECT_FALSE(OpenStore(path, &hr));
  EXPECT_EQ(hr, MAPI_E_CORRUPT_STORE);
  EXPECT_NE(Debugger().find("refusing " + path + ": not a readable personal-folders file: its block tree is damaged: "
                            "the page at "),
            std::string::npos)
      << Debugger();
}

TEST_F(RealFileStoreTest, EightBitTextIsReadInTheCodePageItsMessageNames) {
  // An 8-bit file whose one message names code page 1252 and internet code
  // page 20127; its subject is rewritten in code page 932.
  std::string file = Sample("pstsdk-sample2");
  REQUIRE_TEST_DATA(std::filesystem::exists(file));
  std::string whole = testing_support::ReadFileBytes(file);
  std::vector<uint32_t> nodes = testing_support::MessageNodes(whole);
  ASSERT_EQ(nodes.size(), 1u);
  testing_support::FileSpan block = testing_support::NodeDataBlock(whole, nodes[0]);
  auto page = [](uint16_t id, uint32_t value) {
    std::string record{static_cast<char>(id & 0xFF), static_cast<char>(id >> 8), PT_LONG, 0};
    for (int i = 0; i < 4; ++i) record += static_cast<char>((value >> (8 * i)) & 0xFF);
    return record;
  };
  const std::string japanese = "\x93\xFA\x96\x7B\x8C\xEA\x82\xCC\x8C\x8F\x96\xBC\x82\xC5\x82\xB7" "12345678";
  const std::string expected = "日本語の件名です12345678";
  // Its own code page; none (0), so its internet one, of which 8-bit text is
  // kept in the Windows form.
  struct {
    uint32_t message, internet;
  } const cases[] = {{932, 20127}, {0, 50220}};
  for (const auto& c : cases) {
    std::string altered = whole;
    ASSERT_TRUE(testing_support::ReplaceInBlock(altered, block, "Here is a sample message", japanese));
    ASSERT_TRUE(testing_support::ReplaceInBlock(altered, block, page(0x3FFD, 1252), page(0x3FFD, c.message)));
    ASSERT_TRUE(testing_support::ReplaceInBlock(altered, block, page(0x3FDE, 20127), page(0x3FDE, c.internet)));
    std::string path = root() + "/cp" + std::to_string(c.message) + ".pst";
    testing_support::WriteFileBytes(path, altered);
    Held<IMsgStore> store = OpenStore(path);
    ASSERT_TRUE(store) << c.message;
    Held<IMAPIFolder> top = OpenFolder(store.get(), BinProp(store.get(), PR_IPM_SUBTREE_ENTRYID), 0);
    Held<IMAPIFolder> folder = Child(store.get(), top.get(), "Sample2");
    ASSERT_TRUE(folder);
    EXPECT_EQ(Column(folder.get(), PR_SUBJECT_W), std::vector<std::string>{expected}) << c.message;
    Held<IMessage> message = FirstMessage(folder.get());
    ASSERT_TRUE(message);
    EXPECT_EQ(Text(message.get(), PR_SUBJECT_W), expected) << c.message;
  }
}

TEST_F(RealFileStoreTest, EveryWriteIsRefusedAndTheFileStaysAsItWas) {
  std::string file = Sample("pstsdk-sample1");
  REQUIRE_TEST_DATA(std::filesystem::exists(file));
  std::string before = testing_support::ReadFileBytes(file);
  Held<IMsgStore> store = OpenStore(file);
  ASSERT_TRUE(store);
  Held<IMAPIFolder> top = OpenFolder(store.get(), BinProp(store.get(), PR_IPM_SUBTREE_ENTRYID), MAPI_MODIFY);
  ASSERT_TRUE(top) << "a reader asking for write access still reads";
  Held<IMAPIFolder> sample = Child(store.get(), top.get(), "Sample1");
  ASSERT_TRUE(sample);
  Held<IMessage> message = FirstMessage(sample.get());
  ASSERT_TRUE(message);

  std::u16string text = u"changed";
  SPropValue name = Unicode(PR_DISPLAY_NAME_W, text);
  SPropTagArray one = {1, {PR_DISPLAY_NAME_W}};
  EXPECT_EQ(store->SetProps(1, &name, nullptr), MAPI_E_NO_ACCESS);
  EXPECT_EQ(store->DeleteProps(&one, nullptr), MAPI_E_NO_ACCESS);
  EXPECT_EQ(store->SetReceiveFolder(nullptr, 0, 0, nullptr), MAPI_E_NO_ACCESS);
  EXPECT_EQ(sample->SetProps(1, &name, nullptr), MAPI_E_NO_ACCESS);
  EXPECT_EQ(sample->DeleteProps(&one, nullptr), MAPI_E_NO_ACCESS);
  LPMESSAGE created = nullptr;
  EXPECT_EQ(sample->CreateMessage(nullptr, 0, &created), MAPI_E_NO_ACCESS);
  EXPECT_EQ(created, nullptr);
  LPMAPIFOLDER folder = nullptr;
  EXPECT_EQ(top->CreateFolder(FOLDER_GENERIC, W(text), nullptr, nullptr, MAPI_UNICODE, &folder), MAPI_E_NO_ACCESS);
  EXPECT_EQ(folder, nullptr);
  std::string mid = BinProp(message.get(), PR_ENTRYID), fid = BinProp(sample.get(), PR_ENTRYID);
  SBinary bin = {static_cast<ULONG>(mid.size()), reinterpret_cast<LPBYTE>(mid.data())};
  ENTRYLIST list = {1, &bin};
  EXPECT_EQ(sample->DeleteMessages(&list, 0, nullptr, 0), MAPI_E_NO_ACCESS);
  EXPECT_EQ(sample->SetReadFlags(&list, 0, nullptr, 0), MAPI_E_NO_ACCESS);
  EXPECT_EQ(top->DeleteFolder(static_cast<ULONG>(fid.size()), Eid(fid), 0, nullptr, 0), MAPI_E_NO_ACCESS);
  EXPECT_EQ(sample->EmptyFolder(0, nullptr, 0), MAPI_E_NO_ACCESS);
  // A move would delete here: refused even into a store that takes the copy.
  std::string other = StorePath(root());
  ASSERT_EQ(standin::mapi::CreateStoreFile(U(other), u"Other"), S_OK);
  Held<IMsgStore> otherStore = OpenStore(other);
  Held<IMAPIFolder> inbox = Inbox(otherStore.get());
  ASSERT_TRUE(inbox);
  EXPECT_EQ(sample->CopyMessages(&list, nullptr, inbox.get(), 0, nullptr, MAPI_MOVE), MAPI_E_NO_ACCESS);
  EXPECT_EQ(Contents(inbox.get(), {PR_ENTRYID})->cRows, 0u);
  EXPECT_EQ(message->SetProps(1, &name, nullptr), MAPI_E_NO_ACCESS);
  EXPECT_EQ(message->SaveChanges(0), MAPI_E_NO_ACCESS);
  EXPECT_EQ(message->SetReadFlag(0), MAPI_E_NO_ACCESS);
  ULONG num = 0;
  LPATTACH attach = nullptr;
  EXPECT_EQ(message->CreateAttach(nullptr, 0, &num, &attach), MAPI_E_NO_ACCESS);
  EXPECT_EQ(message->DeleteAttach(0, 0, nullptr, 0), MAPI_E_NO_ACCESS);
  ADRLIST none = {0, {}};
  EXPECT_EQ(message->ModifyRecipients(0, &none), MAPI_E_NO_ACCESS);
  ASSERT_EQ(message->OpenAttach(0, nullptr, MAPI_MODIFY, &attach), S_OK);
  Held<IAttach> held(attach);
  EXPECT_EQ(attach->SetProps(1, &name, nullptr), MAPI_E_NO_ACCESS);
  EXPECT_EQ(attach->SaveChanges(0), MAPI_E_NO_ACCESS);
  // Into the real file, nothing is copied either.
  EXPECT_EQ(sample->CopyMessages(&list, nullptr, sample.get(), 0, nullptr, 0), MAPI_E_NO_ACCESS);

  message.reset();
  held.reset();
  sample.reset();
  top.reset();
  store.reset();
  EXPECT_EQ(testing_support::ReadFileBytes(file), before);
}

TEST_F(RealFileStoreTest, CopyMessagesCarriesBodyRecipientsAndAttachedBytes) {
  std::string file = Sample("pstsdk-sample1");
  REQUIRE_TEST_DATA(std::filesystem::exists(file));
  ASSERT_TRUE(std::filesystem::exists(testing_support::kPffExport));
  std::filesystem::path exported = testing_support::PffExport(file, root(), {"-f", "all"});
  std::filesystem::path item = exported / "Top of Outlook data file" / "Sample1" / "Message00001";
  std::string jpeg = testing_support::ReadFileBytes((item / "Attachments" / "1_leah_thumper.jpg").string());
  ASSERT_GT(jpeg.size(), 1000u);

  Held<IMsgStore> real = OpenStore(file);
  ASSERT_TRUE(real);
  Held<IMAPIFolder> top = OpenFolder(real.get(), BinProp(real.get(), PR_IPM_SUBTREE_ENTRYID), 0);
  Held<IMAPIFolder> sample = Child(real.get(), top.get(), "Sample1");
  ASSERT_TRUE(sample);
  Held<IMessage> source = FirstMessage(sample.get());
  ASSERT_TRUE(source);

  std::string path = StorePath(root());
  ASSERT_EQ(standin::mapi::CreateStoreFile(U(path), u"Copy"), S_OK);
  Held<IMsgStore> copy = OpenStore(path);
  Held<IMAPIFolder> inbox = Inbox(copy.get());
  ASSERT_TRUE(inbox);
  std::string mid = BinProp(source.get(), PR_ENTRYID);
  SBinary bin = {static_cast<ULONG>(mid.size()), reinterpret_cast<LPBYTE>(mid.data())};
  ENTRYLIST list = {1, &bin};
  ASSERT_EQ(sample->CopyMessages(&list, nullptr, inbox.get(), 0, nullptr, 0), S_OK);

  Held<IMessage> arrived = FirstMessage(inbox.get());
  ASSERT_TRUE(arrived);
  EXPECT_EQ(Text(arrived.get(), PR_SUBJECT_W), "Here is a sample message");
  // Both bodies as pffexport exports them.
  EXPECT_EQ(Text(arrived.get(), PR_BODY_W), testing_support::ReadFileBytes((item / "Message.txt").string()));
  EXPECT_EQ(BinProp(arrived.get(), kHtml), testing_support::ReadFileBytes((item / "Message.html").string()));
  LPSPropValue times = nullptr;
  SizedSPropTagArray(2, timeTags) = {2, {PR_CREATION_TIME, PR_LAST_MODIFICATION_TIME}};
  ULONG n = 0;
  ASSERT_EQ(source->GetProps(reinterpret_cast<LPSPropTagArray>(&timeTags), 0, &n, &times), S_OK);
  PropsHeld sourceTimes(times);
  ASSERT_EQ(arrived->GetProps(reinterpret_cast<LPSPropTagArray>(&timeTags), 0, &n, &times), S_OK);
  PropsHeld arrivedTimes(times);
  EXPECT_EQ(TimeOf(arrivedTimes.get()[1]), TimeOf(sourceTimes.get()[1])) << "a copy keeps the modification time";

  LPMAPITABLE table = nullptr;
  ASSERT_EQ(arrived->GetRecipientTable(0, &table), S_OK);
  Held<IMAPITable> recipients(table);
  RowsHeld rows = QueryAll(table, {PR_DISPLAY_NAME_W, PR_RECIPIENT_TYPE});
  ASSERT_EQ(rows->cRows, 1u);
  EXPECT_EQ(Narrow(rows->aRow[0].lpProps[0].Value.lpszW), "Terry Mahaffey");
  EXPECT_EQ(rows->aRow[0].lpProps[1].Value.l, MAPI_TO);

  LPATTACH raw = nullptr;
  ASSERT_EQ(arrived->OpenAttach(0, nullptr, 0, &raw), S_OK);
  Held<IAttach> attach(raw);
  EXPECT_EQ(Text(attach.get(), PR_ATTACH_LONG_FILENAME_W), "leah_thumper.jpg");
  EXPECT_EQ(BinProp(attach.get(), PR_ATTACH_DATA_BIN), jpeg) << "the attached bytes as pffexport exports them";
}

TEST_F(RealFileStoreTest, AFailingTargetFailsTheCopyAndSavesNoHalfMessage) {
  std::string file = Sample("pstsdk-sample1");
  REQUIRE_TEST_DATA(std::filesystem::exists(file));
  Held<IMsgStore> real = OpenStore(file);
  Held<IMAPIFolder> top = OpenFolder(real.get(), BinProp(real.get(), PR_IPM_SUBTREE_ENTRYID), 0);
  Held<IMAPIFolder> sample = Child(real.get(), top.get(), "Sample1");
  ASSERT_TRUE(sample);
  Held<IMessage> source = FirstMessage(sample.get());
  std::string path = StorePath(root());
  ASSERT_EQ(standin::mapi::CreateStoreFile(U(path), u"Copy"), S_OK);
  Held<IMsgStore> copy = OpenStore(path);
  Held<IMAPIFolder> inbox = Inbox(copy.get());
  std::string mid = BinProp(source.get(), PR_ENTRYID);
  SBinary bin = {static_cast<ULONG>(mid.size()), reinterpret_cast<LPBYTE>(mid.data())};
  ENTRYLIST list = {1, &bin};
  standin::ArmFault("IMessage::CreateAttach", MAPI_E_DISK_ERROR);
  EXPECT_EQ(sample->CopyMessages(&list, nullptr, inbox.get(), 0, nullptr, 0), MAPI_E_DISK_ERROR);
  RowsHeld rows = Contents(inbox.get(), {PR_ENTRYID});
  ASSERT_TRUE(rows);
  EXPECT_EQ(rows->cRows, 0u);
}

TEST_F(RealFileStoreTest, DamagedFilesAreRefusedAsCorruptWithTheReasonLogged) {
  std::string file = Sample("pstsdk-submessage");
  REQUIRE_TEST_DATA(std::filesystem::exists(file));
  std::string whole = testing_support::ReadFileBytes(file);
  std::string noise = whole.substr(0, 600);
  for (size_t i = 600; i < whole.size(); ++i) noise += static_cast<char>((i * 2654435761u) >> 13);
  struct Case {
    std::string name, bytes, logged;
  };
  std::vector<Case> cases = {
      {"magic.pst", whole.substr(0, 100), "its header is incomplete or of an unknown version"},
      {"cut.pst", whole.substr(0, 4096),
       "it is cut off: its header names " + std::to_string(whole.size()) + " bytes, the file holds 4096"},
      {"tail.pst", whole.substr(0, whole.size() - 512), "it is cut off"},
      {"noise.pst", noise, "not a readable personal-folders file: "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = root() + "/" + c.name;
    testing_support::WriteFileBytes(path, c.bytes);
    HRESULT hr = S_OK;
    Held<IMsgStore> store = OpenStore(path, &hr);
    EXPECT_EQ(hr, MAPI_E_CORRUPT_STORE);
    EXPECT_FALSE(store);
    MAPIUID uid{};
    EXPECT_EQ(standin::mapi::ReadStoreUid(U(path), &uid), MAPI_E_CORRUPT_STORE);
    EXPECT_NE(Debugger().find("Corvane store: refusing " + path + ": "), std::string::npos) << Debugger();
    EXPECT_NE(Debugger().find(c.logged), std::string::npos) << Debugger();
  }
}

TEST_F(RealFileStoreTest, APasswordProtectedFileIsNotOpened) {
  std::string file = Sample("java-libpst-passworded");
  REQUIRE_TEST_DATA(std::filesystem::exists(file));
  HRESULT hr = S_OK;
  Held<IMsgStore> store = OpenStore(file, &hr);
  EXPECT_EQ(hr, MAPI_E_NO_ACCESS);
  EXPECT_FALSE(store);
  // The same file without a password opens.
  EXPECT_TRUE(OpenStore(Sample("java-libpst-dist-list")));
}

}  // namespace
}  // namespace store_test
