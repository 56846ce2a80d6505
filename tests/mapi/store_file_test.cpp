// The storage layer: what is a store file, identifiers, and the property rows.
#include <sqlite3.h>

#include <cstring>
#include <functional>
#include <random>
#include <tuple>

#include "store_support.h"

using namespace store_test;
using standin::mapi::kRootNode;
using standin::mapi::NodeId;
using standin::mapi::NodeKind;
using standin::mapi::StoreFile;

namespace {

class MapiStoreFile : public testing_support::FreshRoot {
 protected:
  std::string path() const { return StorePath(root()); }
  std::shared_ptr<StoreFile> Create() {
    std::shared_ptr<StoreFile> file;
    EXPECT_EQ(StoreFile::Create(path(), &file), S_OK);
    return file;
  }
  // Lines the stand-in wrote to the debugger about this store file.
  std::vector<std::string> DebugLinesAboutStore() const {
    std::string text = testing_support::ReadFileBytes(RootFile("debugger-output.txt"));
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
      size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      std::string line = text.substr(start, end - start);
      if (line.find(path()) != std::string::npos) lines.push_back(line);
      start = end + 1;
    }
    return lines;
  }
};

TEST_F(MapiStoreFile, MissingFileIsNotFound) {
  std::shared_ptr<StoreFile> file;
  EXPECT_EQ(StoreFile::Open(path(), &file), MAPI_E_NOT_FOUND);
  EXPECT_EQ(file, nullptr);
  MAPIUID uid{};
  EXPECT_EQ(standin::mapi::ReadStoreUid(U(path()), &uid), MAPI_E_NOT_FOUND);
}

TEST_F(MapiStoreFile, CreateRefusesAnExistingFile) {
  ASSERT_TRUE(Create());
  std::shared_ptr<StoreFile> again;
  EXPECT_EQ(StoreFile::Create(path(), &again), MAPI_E_COLLISION);
  EXPECT_EQ(standin::mapi::CreateStoreFile(U(path()), u"x"), MAPI_E_COLLISION);
}

TEST_F(MapiStoreFile, GarbageFileIsRefused) {
  std::string garbage;
  for (int i = 0; i < 8192; ++i) garbage.push_back(static_cast<char>((i * 7919) & 0xFF));
  testing_support::WriteFileBytes(path(), garbage);
  std::shared_ptr<StoreFile> file;
  EXPECT_EQ(StoreFile::Open(path(), &file), MAPI_E_CORRUPT_STORE);
  EXPECT_EQ(DebugLinesAboutStore().size(), 1u);
  HRESULT hr = S_OK;
  EXPECT_EQ(OpenStore(path(), &hr), nullptr);
  EXPECT_EQ(hr, MAPI_E_CORRUPT_STORE);
}

TEST_F(MapiStoreFile, EmptyFileIsRefused) {
  testing_support::WriteFileBytes(path(), "");
  std::shared_ptr<StoreFile> file;
  EXPECT_EQ(StoreFile::Open(path(), &file), MAPI_E_CORRUPT_STORE);
}

TEST_F(MapiStoreFile, ForeignSqliteDatabaseIsRefused) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path().c_str(), &db), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(db, "CREATE TABLE t(x); INSERT INTO t VALUES(1);", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
  std::shared_ptr<StoreFile> file;
  EXPECT_EQ(StoreFile::Open(path(), &file), MAPI_E_CORRUPT_STORE);
  auto lines = DebugLinesAboutStore();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("not a store file"), std::string::npos) << lines[0];
}

TEST_F(MapiStoreFile, OtherSchemaVersionIsRefused) {
  ASSERT_TRUE(Create());
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path().c_str(), &db), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(db, "PRAGMA user_version=99", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
  std::shared_ptr<StoreFile> file;
  EXPECT_EQ(StoreFile::Open(path(), &file), MAPI_E_CORRUPT_STORE);
  auto lines = DebugLinesAboutStore();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("schema version 99"), std::string::npos) << lines[0];
}

TEST_F(MapiStoreFile, TruncatedFileIsRefused) {
  ASSERT_EQ(standin::mapi::CreateStoreFile(U(path()), u"Mail"), S_OK);
  {
    auto store = OpenStore(path());
    ASSERT_TRUE(store);
    auto inbox = Inbox(store.get());
    ASSERT_TRUE(inbox);
    for (int i = 0; i < 40; ++i) ASSERT_EQ(MakeMessage(inbox.get(), "message " + std::to_string(i)), S_OK);
  }
  std::string bytes = testing_support::ReadFileBytes(path());
  ASSERT_GT(bytes.size(), 8192u);
  testing_support::WriteFileBytes(path(), bytes.substr(0, bytes.size() / 2));
  std::shared_ptr<StoreFile> file;
  EXPECT_EQ(StoreFile::Open(path(), &file), MAPI_E_CORRUPT_STORE);
  MAPIUID uid{};
  EXPECT_EQ(standin::mapi::ReadStoreUid(U(path()), &uid), MAPI_E_CORRUPT_STORE);
}

// Pages overwritten in the middle: refused when opened, or every later read
// reports the damage; never a crash.
TEST_F(MapiStoreFile, DamagedPagesAreReportedNotFatal) {
  ASSERT_EQ(standin::mapi::CreateStoreFile(U(path()), u"Mail"), S_OK);
  {
    auto store = OpenStore(path());
    auto inbox = Inbox(store.get());
    for (int i = 0; i < 40; ++i) ASSERT_EQ(MakeMessage(inbox.get(), "message " + std::to_string(i)), S_OK);
  }
  std::string bytes = testing_support::ReadFileBytes(path());
  ASSERT_GT(bytes.size(), 3 * 4096u);
  for (size_t i = 4096; i < bytes.size() - 4096; ++i) bytes[i] = static_cast<char>(0xA5 ^ (i & 0x3F));
  testing_support::WriteFileBytes(path(), bytes);
  HRESULT hr = S_OK;
  auto store = OpenStore(path(), &hr);
  if (!store) {
    EXPECT_EQ(hr, MAPI_E_CORRUPT_STORE);
    return;
  }
  auto inbox = Inbox(store.get());
  if (!inbox) return;
  LPMAPITABLE table = nullptr;
  EXPECT_EQ(inbox->GetContentsTable(0, &table), MAPI_E_CORRUPT_STORE);
  if (table) table->Release();
}

TEST_F(MapiStoreFile, UidIsRandomAndReadBack) {
  auto a = Create();
  std::shared_ptr<StoreFile> b;
  ASSERT_EQ(StoreFile::Create(StorePath(root(), "other.pst"), &b), S_OK);
  EXPECT_NE(std::memcmp(a->uid().ab, b->uid().ab, 16), 0);
  MAPIUID uid{};
  ASSERT_EQ(standin::mapi::ReadStoreUid(U(path()), &uid), S_OK);
  EXPECT_EQ(std::memcmp(uid.ab, a->uid().ab, 16), 0);
}

TEST_F(MapiStoreFile, EntryIdsAreFlagsUidAndNodeLittleEndian) {
  auto file = Create();
  std::string id = file->EntryId(0x01020304);
  ASSERT_EQ(id.size(), 24u);
  EXPECT_EQ(id.substr(0, 4), std::string(4, '\0'));
  EXPECT_EQ(std::memcmp(id.data() + 4, file->uid().ab, 16), 0);
  EXPECT_EQ(id.substr(20), std::string("\x04\x03\x02\x01", 4));
  NodeId node = 0;
  EXPECT_EQ(file->ParseEntryId(id.data(), id.size(), &node), S_OK);
  EXPECT_EQ(node, 0x01020304u);
  std::string foreign = id;
  foreign[10] ^= 0x5A;
  EXPECT_EQ(file->ParseEntryId(foreign.data(), foreign.size(), &node), MAPI_E_INVALID_ENTRYID);
  EXPECT_EQ(file->ParseEntryId(id.data(), 23, &node), MAPI_E_INVALID_ENTRYID);
  EXPECT_EQ(file->ParseEntryId(nullptr, 24, &node), MAPI_E_INVALID_ENTRYID);
}

TEST_F(MapiStoreFile, PropertiesReplaceBySameIdAndSurviveReopen) {
  {
    auto file = Create();
    NodeId node = 0;
    ASSERT_EQ(file->NewNode(kRootNode, NodeKind::Message, 0, &node), S_OK);
    ASSERT_EQ(file->WriteProp(node, standin::mapi::MakeString8(PR_SUBJECT_A, "first")), S_OK);
    ASSERT_EQ(file->WriteProp(node, standin::mapi::MakeUnicode(PR_SUBJECT_W, u"second")), S_OK);
    ASSERT_EQ(file->WriteProp(node, standin::mapi::MakeLong(PR_IMPORTANCE, 2)), S_OK);
    ASSERT_EQ(file->DeleteProp(node, PROP_ID(PR_IMPORTANCE)), S_OK);
  }
  std::shared_ptr<StoreFile> file;
  ASSERT_EQ(StoreFile::Open(path(), &file), S_OK);
  std::vector<standin::mapi::NodeInfo> children;
  ASSERT_EQ(file->Children(kRootNode, NodeKind::Message, &children), S_OK);
  ASSERT_EQ(children.size(), 1u);
  standin::mapi::Row row;
  ASSERT_EQ(file->ReadProps(children[0].id, &row), S_OK);
  ASSERT_EQ(row.size(), 1u);
  EXPECT_EQ(row[0].tag, PR_SUBJECT_W);
  EXPECT_EQ(row[0].data, std::string("s\0e\0c\0o\0n\0d\0", 12));
}

// The one number a statement answers, read with SQLite directly (-1 for none).
int QueryInt(const std::string& path, const char* sql) {
  sqlite3* db = nullptr;
  EXPECT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  sqlite3_stmt* stmt = nullptr;
  EXPECT_EQ(sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr), SQLITE_OK);
  int n = sqlite3_step(stmt) == SQLITE_ROW ? sqlite3_column_int(stmt, 0) : -1;
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return n;
}

// Stored sizes of a node's values, as SQLite holds them.
std::vector<std::pair<int64_t, int>> StoredSizes(const std::string& path, NodeId node) {
  sqlite3* db = nullptr;
  std::vector<std::pair<int64_t, int>> out;
  EXPECT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  sqlite3_stmt* stmt = nullptr;
  EXPECT_EQ(sqlite3_prepare_v2(db,
                               "SELECT p.tag, coalesce((SELECT length(a.value) FROM apart a WHERE a.object = p.object"
                               " AND a.propid = p.propid), length(p.value)) FROM props p WHERE p.object = ?1"
                               " ORDER BY p.propid",
                               -1, &stmt, nullptr),
            SQLITE_OK);
  sqlite3_bind_int64(stmt, 1, node);
  while (sqlite3_step(stmt) == SQLITE_ROW) out.emplace_back(sqlite3_column_int64(stmt, 0), sqlite3_column_int(stmt, 1));
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return out;
}

TEST_F(MapiStoreFile, LargeValuesArePackedAndCopiedAsTheyAre) {
  std::string body;
  for (int i = 0; i < 2000; ++i) body += "a line of a body that repeats itself " + std::to_string(i % 7) + "\n";
  std::string noise(600, '\0'), moreNoise(1500, '\0');
  std::mt19937 random(7);
  for (char& c : noise) c = static_cast<char>(random() & 0xFF);
  for (char& c : moreNoise) c = static_cast<char>(random() & 0xFF);
  const ULONG kMore = PROP_TAG(PT_BINARY, 0x6002);
  auto file = Create();
  NodeId node = 0, copy = 0;
  ASSERT_EQ(file->NewNode(kRootNode, NodeKind::Message, 0, &node), S_OK);
  ASSERT_EQ(file->WriteProp(node, standin::mapi::MakeBinary(PR_HTML, body.data(), body.size())), S_OK);
  ASSERT_EQ(file->WriteProp(node, standin::mapi::MakeBinary(PR_ATTACH_DATA_BIN, noise.data(), noise.size())), S_OK);
  ASSERT_EQ(file->WriteProp(node, standin::mapi::MakeUnicode(PR_SUBJECT_W, u"short")), S_OK);
  ASSERT_EQ(file->WriteProp(node, standin::mapi::MakeBinary(kMore, moreNoise.data(), moreNoise.size())), S_OK);
  std::shared_ptr<StoreFile> other;
  ASSERT_EQ(StoreFile::Create(RootFile("other.pst"), &other), S_OK);
  ASSERT_EQ(file->CopyTree(node, *other, kRootNode, &copy), S_OK);
  for (auto [f, n, p] : {std::tuple{file, node, path()}, std::tuple{other, copy, RootFile("other.pst")}}) {
    standin::mapi::Row row;
    ASSERT_EQ(f->ReadProps(n, &row), S_OK);
    ASSERT_EQ(row.size(), 4u);
    EXPECT_EQ(row[0].tag, PR_SUBJECT_W);
    EXPECT_EQ(row[1].tag, PR_HTML);
    EXPECT_EQ(row[1].data, body);
    EXPECT_EQ(row[2].tag, PR_ATTACH_DATA_BIN);
    EXPECT_EQ(row[2].data, noise);
    EXPECT_EQ(row[3].data, moreNoise);
    ASSERT_EQ(f->CommitGroup(), S_OK);  // what another connection reads
    auto sizes = StoredSizes(p, n);
    ASSERT_EQ(sizes.size(), 4u);
    const int64_t packed = int64_t{1} << 32, apart = int64_t{1} << 33;
    EXPECT_EQ(sizes[0], (std::pair<int64_t, int>{PR_SUBJECT_W, 10})) << "small values stay as they are";
    EXPECT_EQ(sizes[1].first, int64_t{PR_HTML} | packed | apart) << "packed, kept apart, and marked so";
    EXPECT_LT(sizes[1].second, static_cast<int>(body.size()) / 10);
    EXPECT_EQ(sizes[2], (std::pair<int64_t, int>{PR_ATTACH_DATA_BIN, 600}))
        << "kept as it is when packing saves nothing";
    EXPECT_EQ(sizes[3], (std::pair<int64_t, int>{kMore | apart, 1500})) << "large: apart, not packed";
  }
}

TEST_F(MapiStoreFile, ValuesKeptApartGoWithTheirProperty) {
  auto file = Create();
  auto apartRows = [&] {
    EXPECT_EQ(file->CommitGroup(), S_OK);
    return QueryInt(path(), "SELECT count(*) FROM apart");
  };
  std::string big(5000, 'b');
  NodeId node = 0;
  ASSERT_EQ(file->NewNode(kRootNode, NodeKind::Message, 0, &node), S_OK);
  ASSERT_EQ(file->WriteProp(node, standin::mapi::MakeBinary(PR_HTML, big.data(), big.size())), S_OK);
  ASSERT_EQ(apartRows(), 1);
  ASSERT_EQ(file->WriteProp(node, standin::mapi::MakeBinary(PR_HTML, "small", 5)), S_OK);
  EXPECT_EQ(apartRows(), 0) << "a small value replaced the large one";
  standin::mapi::Row row;
  ASSERT_EQ(file->ReadProps(node, &row), S_OK);
  EXPECT_EQ(row.at(0).data, "small");
  ASSERT_EQ(file->WriteProp(node, standin::mapi::MakeBinary(PR_HTML, big.data(), big.size())), S_OK);
  ASSERT_EQ(file->DeleteProp(node, PROP_ID(PR_HTML)), S_OK);
  EXPECT_EQ(apartRows(), 0);
  ASSERT_EQ(file->WriteProp(node, standin::mapi::MakeBinary(PR_HTML, big.data(), big.size())), S_OK);
  ASSERT_EQ(file->DeleteTree(node), S_OK);
  EXPECT_EQ(apartRows(), 0);
}

// A cut stream zlib refuses by itself; a whole one that inflates to less than
// its header records only the size check catches, else it would be read back
// padded with zeros.
TEST_F(MapiStoreFile, DamagedPackedValueIsACorruptStore) {
  auto file = Create();
  std::string body(4000, 'x');  // packed, its header records 4000: A0 0F 00 00
  for (const char* damage : {"UPDATE apart SET value = substr(value, 1, 8) WHERE object = ?1",
                             "UPDATE apart SET value = CAST(X'A10F0000' || substr(value, 5) AS BLOB)"
                             " WHERE object = ?1 AND substr(value, 1, 4) = X'A00F0000'"}) {
    SCOPED_TRACE(damage);
    NodeId node = 0;
    ASSERT_EQ(file->NewNode(kRootNode, NodeKind::Message, 0, &node), S_OK);
    ASSERT_EQ(file->WriteProp(node, standin::mapi::MakeBinary(PR_HTML, body.data(), body.size())), S_OK);
    ASSERT_EQ(file->CommitGroup(), S_OK);
    sqlite3* db = nullptr;
    sqlite3_stmt* stmt = nullptr;
    ASSERT_EQ(sqlite3_open(path().c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_prepare_v2(db, damage, -1, &stmt, nullptr), SQLITE_OK);
    EXPECT_EQ(sqlite3_bind_int64(stmt, 1, static_cast<sqlite3_int64>(node)), SQLITE_OK);
    EXPECT_EQ(sqlite3_step(stmt), SQLITE_DONE);
    sqlite3_finalize(stmt);
    EXPECT_EQ(sqlite3_changes(db), 1);
    sqlite3_close(db);
    standin::mapi::Row row;
    EXPECT_EQ(file->ReadProps(node, &row), MAPI_E_CORRUPT_STORE);
    auto store = OpenStore(path());
    ASSERT_TRUE(store);
    std::string id = file->EntryId(node);
    ULONG type = 0;
    IUnknown* unk = nullptr;
    EXPECT_EQ(store->OpenEntry(24, Eid(id), nullptr, 0, &type, &unk), MAPI_E_CORRUPT_STORE);
    EXPECT_EQ(unk, nullptr);
    Held<IUnknown> hold(unk);
  }
}

TEST_F(MapiStoreFile, FilesOfTheFirstVersionAreReadAndMarkedAnew) {
  {
    auto file = Create();
    NodeId node = 0;
    ASSERT_EQ(file->NewNode(kRootNode, NodeKind::Message, 0, &node), S_OK);
    ASSERT_EQ(file->WriteProp(node, standin::mapi::MakeUnicode(PR_SUBJECT_W, u"old")), S_OK);
  }
  auto version = [&] { return QueryInt(path(), "PRAGMA user_version"); };
  ASSERT_EQ(version(), 2);
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path().c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "PRAGMA user_version=1", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
  std::shared_ptr<StoreFile> file;
  ASSERT_EQ(StoreFile::Open(path(), &file), S_OK);
  EXPECT_EQ(version(), 2);
  std::vector<standin::mapi::NodeInfo> children;
  ASSERT_EQ(file->Children(kRootNode, NodeKind::Message, &children), S_OK);
  standin::mapi::Row row;
  ASSERT_EQ(file->ReadProps(children.at(0).id, &row), S_OK);
  EXPECT_EQ(row.at(0).data, std::string("o\0l\0d\0", 6));
}

TEST_F(MapiStoreFile, FailedTransactionLeavesNothingBehind) {
  auto file = Create();
  NodeId earlier = 0;
  ASSERT_EQ(file->NewNode(kRootNode, NodeKind::Message, 0, &earlier), S_OK);  // in the open group
  {
    StoreFile::Transaction txn(*file);
    ASSERT_EQ(txn.status(), S_OK);
    NodeId node = 0;
    ASSERT_EQ(file->NewNode(kRootNode, NodeKind::Message, 0, &node), S_OK);
    ASSERT_EQ(file->WriteProp(node, standin::mapi::MakeLong(PR_IMPORTANCE, 1)), S_OK);
    // no Commit: dropped
  }
  ULONG count = 99;
  ASSERT_EQ(file->CountChildren(kRootNode, NodeKind::Message, &count), S_OK);
  EXPECT_EQ(count, 1u) << "the group's earlier change stays";
  ASSERT_EQ(file->CommitGroup(), S_OK);
  EXPECT_EQ(QueryInt(path(), "SELECT count(*) FROM objects WHERE kind = 2"), 1);
}

// Changes join the connection's open group; these commit it, so that SQLite's
// own reader (another connection, as another process would be) sees them.
TEST_F(MapiStoreFile, TheGroupIsCommittedWhereTheProcessSaysSo) {
  struct Case {
    const char* what;
    std::function<void(Held<IMsgStore>& store, Held<IMAPIFolder>& inbox, IMsgStore* earlier)> commit;
  } cases[] = {
      {"the store's SaveChanges", [](auto& store, auto&, auto) { EXPECT_EQ(store->SaveChanges(0), S_OK); }},
      {"the store's release, its folder still open", [](auto& store, auto&, auto) { store.reset(); }},
      {"the connection closing, its folder the last to go",
       [](auto& store, auto& inbox, auto) {
         store.reset();
         EXPECT_EQ(MakeMessage(inbox.get(), "through the folder alone"), S_OK);
         inbox.reset();
       }},
      {"another connection opened", [&](auto&, auto&, auto) { EXPECT_TRUE(OpenStore(path())); }},
      {"a connection opened earlier reading",
       [](auto&, auto&, IMsgStore* earlier) { EXPECT_TRUE(Contents(Inbox(earlier).get(), {PR_SUBJECT_W})); }},
  };
  ASSERT_EQ(standin::mapi::CreateStoreFile(U(path()), u"Groups"), S_OK);
  int expected = 0;
  for (Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto earlier = OpenStore(path());
    auto store = OpenStore(path());
    auto inbox = Inbox(store.get());
    ASSERT_EQ(MakeMessage(inbox.get(), c.what), S_OK);
    ++expected;
    c.commit(store, inbox, earlier.get());
    if (!inbox) ++expected;
    EXPECT_EQ(QueryInt(path(), "SELECT count(*) FROM objects WHERE kind = 2"), expected);
    auto seen = Contents(Inbox(earlier.get()).get(), {PR_SUBJECT_W});
    ASSERT_TRUE(seen);
    EXPECT_EQ(static_cast<int>(seen->cRows), expected) << "what another connection of the process reads";
  }
}

TEST_F(MapiStoreFile, DeleteTreeRemovesDescendantsAndTheirProps) {
  auto file = Create();
  NodeId folder = 0, message = 0, attach = 0;
  ASSERT_EQ(file->NewNode(kRootNode, NodeKind::Folder, 0, &folder), S_OK);
  ASSERT_EQ(file->NewNode(folder, NodeKind::Message, 0, &message), S_OK);
  ASSERT_EQ(file->NewNode(message, NodeKind::Attach, 0, &attach), S_OK);
  ASSERT_EQ(file->WriteProp(attach, standin::mapi::MakeLong(PR_ATTACH_METHOD, 1)), S_OK);
  ASSERT_EQ(file->DeleteTree(folder), S_OK);
  standin::mapi::NodeInfo info;
  EXPECT_EQ(file->GetNode(attach, &info), MAPI_E_NOT_FOUND);
  standin::mapi::Row row;
  ASSERT_EQ(file->ReadProps(attach, &row), S_OK);
  EXPECT_TRUE(row.empty());
}

TEST_F(MapiStoreFile, ReceiveFolderMatchesLongestClassPrefix) {
  auto file = Create();
  ASSERT_EQ(file->SetReceiveFolder("", 10), S_OK);
  ASSERT_EQ(file->SetReceiveFolder("IPM.Note.Custom", 11), S_OK);
  NodeId node = 0;
  std::string cls;
  ASSERT_EQ(file->GetReceiveFolder("IPM.Note.Custom.Sub", &node, &cls), S_OK);
  EXPECT_EQ(node, 11u);
  EXPECT_EQ(cls, "IPM.Note.Custom");
  ASSERT_EQ(file->GetReceiveFolder("ipm.note", &node, &cls), S_OK);
  EXPECT_EQ(node, 10u);
  EXPECT_EQ(cls, "");
}

}  // namespace
