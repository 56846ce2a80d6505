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

// A node's values as the file holds them: tag, flags (1 deflated, 2 apart)
// and the size of the bytes, in its row or apart.
std::vector<std::tuple<ULONG, int, int>> StoredSizes(const std::string& path, NodeId node) {
  sqlite3* db = nullptr;
  std::vector<std::tuple<ULONG, int, int>> out;
  EXPECT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  sqlite3_stmt* stmt = nullptr;
  EXPECT_EQ(sqlite3_prepare_v2(db, "SELECT props FROM objects WHERE id = ?1", -1, &stmt, nullptr), SQLITE_OK);
  sqlite3_bind_int64(stmt, 1, node);
  std::string row;
  if (sqlite3_step(stmt) == SQLITE_ROW)
    row.assign(static_cast<const char*>(sqlite3_column_blob(stmt, 0)), sqlite3_column_bytes(stmt, 0));
  sqlite3_finalize(stmt);
  EXPECT_EQ(row.empty() ? 1 : row[0], 1) << "the packing's version";
  for (size_t at = 1; at + 6 <= row.size();) {
    ULONG tag = 0;
    std::memcpy(&tag, &row[at], 4);
    const int flags = row[at + 4];
    size_t length = 0;
    at += 5;
    for (int shift = 0;; shift += 7) {
      const unsigned char c = static_cast<unsigned char>(row[at++]);
      length |= size_t(c & 0x7F) << shift;
      if (!(c & 0x80)) break;
    }
    at += length;
    int size = static_cast<int>(length);
    if (flags & 2) {
      EXPECT_EQ(sqlite3_prepare_v2(db, "SELECT length(value) FROM apart WHERE object = ?1 AND propid = ?2", -1, &stmt,
                                   nullptr),
                SQLITE_OK);
      sqlite3_bind_int64(stmt, 1, node);
      sqlite3_bind_int64(stmt, 2, PROP_ID(tag));
      size = sqlite3_step(stmt) == SQLITE_ROW ? sqlite3_column_int(stmt, 0) : -1;
      sqlite3_finalize(stmt);
    }
    out.emplace_back(tag, flags, size);
  }
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
    using Stored = std::tuple<ULONG, int, int>;
    EXPECT_EQ(sizes[0], (Stored{PR_SUBJECT_W, 0, 10})) << "small values stay in the row as they are";
    EXPECT_EQ(std::get<1>(sizes[1]), 3) << "packed, kept apart, and marked so";
    EXPECT_LT(std::get<2>(sizes[1]), static_cast<int>(body.size()) / 10);
    EXPECT_EQ(sizes[2], (Stored{PR_ATTACH_DATA_BIN, 0, 600})) << "kept as it is when packing saves nothing";
    EXPECT_EQ(sizes[3], (Stored{kMore, 2, 1500})) << "large: apart, not packed";
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

// Files of the earlier layout, a row per property (version 2 keeps packed and
// large values apart, version 1 has no such table), as those versions wrote them.
void WriteEarlierFile(const std::string& path, int version, bool damaged) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  std::string big(1500, 'q');
  std::string sql =
      "PRAGMA journal_mode=WAL; PRAGMA application_id=1131827283; PRAGMA user_version=" + std::to_string(version) +
      ";"
      "CREATE TABLE meta(key TEXT PRIMARY KEY, value BLOB NOT NULL);"
      "CREATE TABLE objects(id INTEGER PRIMARY KEY AUTOINCREMENT, parent INTEGER NOT NULL,"
      " kind INTEGER NOT NULL, num INTEGER NOT NULL DEFAULT 0, name TEXT COLLATE NOCASE);"
      "CREATE INDEX objects_children ON objects(parent, kind, id);"
      "CREATE TABLE props(object INTEGER NOT NULL, propid INTEGER NOT NULL, tag INTEGER NOT NULL,"
      " value BLOB NOT NULL, PRIMARY KEY(object, propid)) WITHOUT ROWID;"
      "CREATE TABLE receive(class TEXT PRIMARY KEY COLLATE NOCASE, folder INTEGER NOT NULL);"
      "INSERT INTO meta VALUES('uid', zeroblob(16));"
      "INSERT INTO objects(id, parent, kind, name) VALUES(1, 0, 0, NULL), (2, 1, 1, NULL), (3, 2, 1, 'Inbox'),"
      " (4, 3, 2, NULL), (5, 3, 2, NULL), (6, 4, 3, NULL);"
      // Inbox; a read message with a large value; an unread one; an attachment.
      "INSERT INTO props VALUES(3, 0x3001, 0x3001001F, CAST(X'49006E0062006F007800' AS BLOB)),"
      " (4, 0x0037, 0x0037001F, CAST(X'6F006C006400' AS BLOB)), (4, 0x0E07, 0x0E070003, CAST(X'01000000' AS BLOB)),"
      " (4, 0x1000, 0x1000001E, CAST('" + big + "' AS BLOB)), (5, 0x0037, 0x0037001F, CAST(X'6E0065007700' AS BLOB)),"
      " (6, 0x3705, 0x37050003, CAST(X'01000000' AS BLOB));";
  if (version == 2)
    sql += "CREATE TABLE apart(object INTEGER NOT NULL, propid INTEGER NOT NULL, value BLOB NOT NULL,"
           " PRIMARY KEY(object, propid));"
           // A body kept apart by version 2: 8589934592 is its "apart" flag.
           "INSERT INTO props VALUES(5, 0x1013, 8589934592 + 0x10130102, x'');"
           "INSERT INTO apart VALUES(5, 0x1013, x'0102030405');";
  // Rows whose tags do not follow their ids cannot be one node's row.
  if (damaged) sql += "INSERT INTO props VALUES(5, 0x0001, 0x0E070003, CAST(X'00000000' AS BLOB));";
  ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  sqlite3_close(db);
}

TEST_F(MapiStoreFile, FilesOfEarlierVersionsAreUpgradedInPlace) {
  auto version = [&] { return QueryInt(path(), "PRAGMA user_version"); };
  for (int earlier : {1, 2}) {
    SCOPED_TRACE(earlier);
    std::remove(path().c_str());
    WriteEarlierFile(path(), earlier, false);
    std::shared_ptr<StoreFile> file;
    ASSERT_EQ(StoreFile::Open(path(), &file), S_OK) << testing::PrintToString(DebugLinesAboutStore());
    EXPECT_EQ(version(), 3);
    EXPECT_EQ(QueryInt(path(), "SELECT count(*) FROM sqlite_master WHERE name = 'props'"), 0);
    standin::mapi::Row row;
    ASSERT_EQ(file->ReadProps(4, &row), S_OK);
    ASSERT_EQ(row.size(), 3u);
    EXPECT_EQ(row[0].data, std::string("o\0l\0d\0", 6));
    EXPECT_EQ(row[2].data, std::string(1500, 'q'));
    EXPECT_EQ(std::get<1>(StoredSizes(path(), 4).at(2)), 2) << "a large value moves apart";
    ASSERT_EQ(file->ReadProps(5, &row), S_OK);
    ASSERT_EQ(row.size(), earlier == 2 ? 2u : 1u);
    if (earlier == 2) {
      EXPECT_EQ(row[1].data, std::string("\x01\x02\x03\x04\x05"));
    }
    ULONG count = 0, unread = 0;
    ASSERT_EQ(file->CountChildren(3, NodeKind::Message, &count), S_OK);
    ASSERT_EQ(file->CountUnread(3, &unread), S_OK);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(unread, 1u);
    std::vector<std::pair<standin::mapi::NodeInfo, standin::mapi::Row>> table;
    ASSERT_EQ(file->ReadChildrenColumns(3, NodeKind::Message, {PROP_ID(PR_SUBJECT_W)}, 1024, &table), S_OK);
    ASSERT_EQ(table.size(), 2u);
    EXPECT_EQ(table[1].second.at(0).data, std::string("n\0e\0w\0", 6)) << "read from the index";
    NodeId found = 0;
    EXPECT_EQ(file->FindChildFolder(2, u"inbox", &found), S_OK);
    EXPECT_EQ(found, 3u);
  }
  // An upgrade that fails leaves the file as it was, to be tried again.
  std::remove(path().c_str());
  WriteEarlierFile(path(), 2, true);
  std::shared_ptr<StoreFile> file;
  EXPECT_EQ(StoreFile::Open(path(), &file), MAPI_E_CORRUPT_STORE);
  EXPECT_EQ(version(), 2);
  EXPECT_EQ(QueryInt(path(), "SELECT count(*) FROM props"), 8);
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

// The contents index and the counts follow every change of a folder's
// messages: a table read from the index is the one read from the rows.
TEST_F(MapiStoreFile, TheContentsIndexAndTheCountsFollowEveryChange) {
  using standin::mapi::MakeLong;
  using standin::mapi::MakeUnicode;
  auto file = Create();
  NodeId inbox = 0, other = 0, a = 0, b = 0, copy = 0;
  ASSERT_EQ(file->NewNode(kRootNode, NodeKind::Folder, 0, &inbox), S_OK);
  ASSERT_EQ(file->NewNode(kRootNode, NodeKind::Folder, 0, &other), S_OK);
  const std::vector<ULONG> ids = {PROP_ID(PR_SUBJECT_W), PROP_ID(PR_MESSAGE_FLAGS), PROP_ID(PR_SEARCH_KEY)};
  auto check = [&](NodeId folder, size_t messages, ULONG unread) {
    std::vector<std::pair<standin::mapi::NodeInfo, standin::mapi::Row>> indexed, rows;
    ASSERT_EQ(file->ReadChildrenColumns(folder, NodeKind::Message, ids, 1024, &indexed), S_OK);
    ASSERT_EQ(file->ReadChildrenColumns(folder, NodeKind::Message, ids, 1000, &rows), S_OK);  // not the index's
    ASSERT_EQ(indexed.size(), messages);
    ASSERT_EQ(rows.size(), messages);
    for (size_t i = 0; i < messages; ++i) {
      EXPECT_EQ(indexed[i].first.id, rows[i].first.id);
      ASSERT_EQ(indexed[i].second.size(), rows[i].second.size()) << i;
      for (size_t k = 0; k < rows[i].second.size(); ++k) EXPECT_EQ(indexed[i].second[k].data, rows[i].second[k].data);
    }
    ULONG count = 0, unreadCount = 0;
    ASSERT_EQ(file->CountChildren(folder, NodeKind::Message, &count), S_OK);
    ASSERT_EQ(file->CountUnread(folder, &unreadCount), S_OK);
    EXPECT_EQ(count, messages);
    EXPECT_EQ(unreadCount, unread);
  };
  ASSERT_EQ(file->NewNode(inbox, NodeKind::Message, 0, &a), S_OK);
  ASSERT_EQ(file->NewNode(inbox, NodeKind::Message, 0, &b), S_OK);
  check(inbox, 2, 2);
  ASSERT_EQ(file->WriteProps(a, {MakeUnicode(PR_SUBJECT_W, u"first"), MakeLong(PR_MESSAGE_FLAGS, MSGFLAG_READ)}), S_OK);
  ASSERT_EQ(file->WriteProp(b, MakeUnicode(PR_SUBJECT_W, std::u16string(600, u'x'))), S_OK);  // apart: no table's
  check(inbox, 2, 1);
  ASSERT_EQ(file->WriteProp(b, MakeLong(PR_MESSAGE_FLAGS, MSGFLAG_READ | MSGFLAG_UNSENT)), S_OK);
  ASSERT_EQ(file->DeleteProp(a, PROP_ID(PR_MESSAGE_FLAGS)), S_OK);
  check(inbox, 2, 1);
  ASSERT_EQ(file->CopyTree(a, *file, other, &copy), S_OK);
  check(other, 1, 1);
  ASSERT_EQ(file->DeleteTree(a), S_OK);
  check(inbox, 1, 0);
  // A folder copied with its messages, then deleted with them.
  ASSERT_EQ(file->CopyTree(other, *file, inbox, &copy), S_OK);
  ULONG folders = 0;
  ASSERT_EQ(file->CountChildren(inbox, NodeKind::Folder, &folders), S_OK);
  EXPECT_EQ(folders, 1u);
  check(copy, 1, 1);
  ASSERT_EQ(file->DeleteTree(copy), S_OK);
  ASSERT_EQ(file->CountChildren(inbox, NodeKind::Folder, &folders), S_OK);
  EXPECT_EQ(folders, 0u);
  check(copy, 0, 0);
  ASSERT_EQ(file->CommitGroup(), S_OK);
  EXPECT_EQ(QueryInt(path(), "SELECT count(*) FROM contents"), 2) << "b, and the copy in the other folder";
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
