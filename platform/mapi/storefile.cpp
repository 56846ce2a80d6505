#include "storefile.h"

#include <sqlite3.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>

#include <wcrt.h>
#include <windows.h>

#include "storefs.h"

namespace standin::mapi {

namespace {

// "CvPS": tells our store files from any other SQLite database.
constexpr int kApplicationId = 0x43765053;
// 3: a node's properties are packed into its row, messages have a contents
// index and folders their counts. Files of versions 1 and 2 (a row per
// property; 2 may keep values apart) are upgraded in place as they open, in
// one transaction: a killed upgrade leaves the older file, which upgrades
// the next time. Older readers refuse a file of version 3.
constexpr int kSchemaVersion = 3;
constexpr int kBusyTimeoutMs = 15000;

// Large values live apart from the node rows, so that the rows of many
// messages (what tables read) sit densely on few pages.
#define kApartTable                                                                                             \
  "CREATE TABLE IF NOT EXISTS apart(object INTEGER NOT NULL, propid INTEGER NOT NULL, value BLOB NOT NULL," \
  " PRIMARY KEY(object, propid));"
// A message's values of the columns contents tables are asked for, by its
// parent, so that a folder's table reads them without its messages' rows;
// and the number of children of each kind (and of unread messages) of each
// node, kept as they change.
#define kIndexTables                                                                                        \
  "CREATE TABLE contents(parent INTEGER NOT NULL, id INTEGER NOT NULL, cols BLOB NOT NULL,"                \
  " PRIMARY KEY(parent, id)) WITHOUT ROWID;"                                                              \
  "CREATE TABLE counts(parent INTEGER NOT NULL, kind INTEGER NOT NULL, n INTEGER NOT NULL,"                \
  " PRIMARY KEY(parent, kind)) WITHOUT ROWID;"

const char* const kSchema =
    "CREATE TABLE meta(key TEXT PRIMARY KEY, value BLOB NOT NULL);"
    "CREATE TABLE objects(id INTEGER PRIMARY KEY AUTOINCREMENT, parent INTEGER NOT NULL,"
    " kind INTEGER NOT NULL, num INTEGER NOT NULL DEFAULT 0, name TEXT COLLATE NOCASE,"
    " props BLOB NOT NULL DEFAULT x'');"
    "CREATE INDEX objects_children ON objects(parent, kind, id);"
    "CREATE INDEX objects_names ON objects(parent, name) WHERE name IS NOT NULL;"
    "CREATE TABLE receive(class TEXT PRIMARY KEY COLLATE NOCASE, folder INTEGER NOT NULL);" kApartTable kIndexTables;

// The counts row of a node's unread messages.
constexpr int kUnreadKind = 100;

std::string Blob(sqlite3_stmt* stmt, int col) {
  const void* data = sqlite3_column_blob(stmt, col);
  int size = sqlite3_column_bytes(stmt, col);
  return data ? std::string(static_cast<const char*>(data), static_cast<size_t>(size)) : std::string();
}

// Values this large are kept deflated when that makes them smaller.
constexpr size_t kPackFrom = 512;
// Deflated values, and values of kApartFrom bytes or more, are kept in the
// table apart; in the node's row they are an entry without bytes.
constexpr size_t kApartFrom = 1024;
// The flags of versions 1 and 2, above a property row's 32-bit tag.
constexpr sqlite3_int64 kOldPackedBit = sqlite3_int64(1) << 32;
constexpr sqlite3_int64 kOldApartBit = sqlite3_int64(1) << 33;

// The original size (4 bytes, little-endian), then the deflated bytes.
bool Pack(const std::string& value, std::string* out) {
  if (value.size() < kPackFrom || value.size() > 0x7FFFFFFF) return false;
  uLongf size = compressBound(static_cast<uLong>(value.size()));
  out->resize(4 + size);
  uint32_t original = static_cast<uint32_t>(value.size());
  for (int i = 0; i < 4; ++i) (*out)[i] = static_cast<char>((original >> (8 * i)) & 0xFF);
  if (compress2(reinterpret_cast<Bytef*>(&(*out)[4]), &size, reinterpret_cast<const Bytef*>(value.data()),
                static_cast<uLong>(value.size()), Z_BEST_SPEED + 2) != Z_OK ||
      4 + size >= value.size())
    return false;
  out->resize(4 + size);
  return true;
}

bool Unpack(const void* data, size_t size, std::string* out) {
  const auto* b = static_cast<const unsigned char*>(data);
  if (!b || size < 4) return false;
  uLongf original = uLongf(b[0]) | (uLongf(b[1]) << 8) | (uLongf(b[2]) << 16) | (uLongf(b[3]) << 24);
  out->resize(original);
  uLongf got = original;
  return uncompress(reinterpret_cast<Bytef*>(out->data()), &got, b + 4, static_cast<uLong>(size - 4)) == Z_OK &&
         got == original;
}

// ---- a node's properties, packed ----
// A version byte, then per property, in property id order: the tag (4 bytes,
// little-endian), a flag byte, the length of the bytes (LEB128, up to 2^31 - 1)
// and the bytes. An entry kept apart has no bytes here.
constexpr unsigned char kPackedVersion = 1;
constexpr unsigned char kEntryDeflated = 1, kEntryApart = 2;

using Entry = PackedEntry;
using Entries = std::vector<PackedEntry>;

bool DecodeEntries(const void* data, size_t size, Entries* out) {
  out->clear();
  if (size == 0) return true;
  const auto* b = static_cast<const unsigned char*>(data);
  if (!b || b[0] != kPackedVersion) return false;
  size_t at = 1;
  while (at < size) {
    if (size - at < 6) return false;
    Entry e;
    e.tag = ULONG(b[at]) | (ULONG(b[at + 1]) << 8) | (ULONG(b[at + 2]) << 16) | (ULONG(b[at + 3]) << 24);
    e.flags = b[at + 4];
    at += 5;
    uint64_t length = 0;
    for (int shift = 0;; shift += 7) {
      if (at >= size || shift > 28) return false;
      const unsigned char c = b[at++];
      length |= uint64_t(c & 0x7F) << shift;
      if (!(c & 0x80)) break;
    }
    // Deflated values are always apart; an apart entry holds no bytes; ids
    // ascend, each once.
    if ((e.flags & ~(kEntryDeflated | kEntryApart)) || ((e.flags & kEntryDeflated) && !(e.flags & kEntryApart)) ||
        ((e.flags & kEntryApart) && length) || length > size - at ||
        (!out->empty() && PROP_ID(out->back().tag) >= PROP_ID(e.tag)))
      return false;
    e.value.assign(reinterpret_cast<const char*>(b + at), static_cast<size_t>(length));
    at += static_cast<size_t>(length);
    out->push_back(std::move(e));
  }
  return true;
}

std::string EncodeEntries(const Entries& entries) {
  std::string out;
  if (entries.empty()) return out;
  size_t total = 1;
  for (const Entry& e : entries) total += 10 + e.value.size();
  out.reserve(total);
  out.push_back(static_cast<char>(kPackedVersion));
  for (const Entry& e : entries) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((e.tag >> (8 * i)) & 0xFF));
    out.push_back(static_cast<char>(e.flags));
    uint64_t length = e.value.size();
    do {
      const unsigned char c = length & 0x7F;
      length >>= 7;
      out.push_back(static_cast<char>(length ? c | 0x80 : c));
    } while (length);
    out += e.value;
  }
  return out;
}

Entries::iterator FindEntry(Entries& entries, ULONG propId) {
  auto at = std::lower_bound(entries.begin(), entries.end(), propId,
                             [](const Entry& e, ULONG id) { return PROP_ID(e.tag) < id; });
  return at != entries.end() && PROP_ID(at->tag) == propId ? at : entries.end();
}

// The columns a message's contents index holds: those the library, the admin
// tool and the client's views ask contents tables for, the computed ones
// included (a stored value of theirs is what a table would read).
constexpr ULONG kIndexedIds[] = {
    PROP_ID(PR_MESSAGE_CLASS_W),   PROP_ID(PR_SUBJECT_W),      PROP_ID(PR_CLIENT_SUBMIT_TIME),
    PROP_ID(PR_SENDER_NAME_W),     PROP_ID(PR_MESSAGE_DELIVERY_TIME), PROP_ID(PR_MESSAGE_FLAGS),
    PROP_ID(PR_MESSAGE_SIZE),      PROP_ID(PR_HASATTACH),      PROP_ID(PR_ACCESS),
    PROP_ID(PR_INSTANCE_KEY),      PROP_ID(PR_RECORD_KEY),     PROP_ID(PR_OBJECT_TYPE),
    PROP_ID(PR_ENTRYID),           PROP_ID(PR_PARENT_ENTRYID), PROP_ID(PR_STORE_ENTRYID),
    PROP_ID(PR_STORE_RECORD_KEY),  PROP_ID(PR_DISPLAY_NAME_W), PROP_ID(PR_CREATION_TIME),
    PROP_ID(PR_LAST_MODIFICATION_TIME), PROP_ID(PR_SEARCH_KEY), PROP_ID(PR_GIVEN_NAME_W),
    PROP_ID(PR_SURNAME_W)};

bool IsIndexed(ULONG propId) {
  return std::find(std::begin(kIndexedIds), std::end(kIndexedIds), propId) != std::end(kIndexedIds);
}

// What the index keeps of a message: its values of those columns that are in
// its row (a value apart is never a table's).
std::string IndexColumns(const Entries& entries) {
  Entries cols;
  for (const Entry& e : entries)
    if (!(e.flags & kEntryApart) && IsIndexed(PROP_ID(e.tag))) cols.push_back(e);
  return EncodeEntries(cols);
}

// A message is unread until its flags say it was read.
bool IsUnread(const Entries& entries) {
  for (const Entry& e : entries)
    if (PROP_ID(e.tag) == PROP_ID(PR_MESSAGE_FLAGS))
      return PROP_TYPE(e.tag) != PT_LONG || e.value.size() != 4 || !(static_cast<unsigned char>(e.value[0]) & MSGFLAG_READ);
  return true;
}

bool FileExists(const std::string& path) { return fs::IsRegularFile(path); }

// A truncated file still opens in SQLite; its header names more pages than
// the file holds. Only meaningful while no write-ahead log holds newer pages.
bool HeaderMatchesSize(const std::string& path) {
  uint64_t size = 0, walSize = 0;
  if (!fs::FileSize(path, &size)) return false;
  if (fs::FileSize(path + "-wal", &walSize) && walSize > 0) return true;
  unsigned char header[100];
  if (fs::ReadHead(path, header, sizeof header) != static_cast<long>(sizeof header)) return false;
  uint32_t pageSize = (uint32_t(header[16]) << 8) | header[17];
  if (pageSize == 1) pageSize = 65536;
  uint32_t pages = (uint32_t(header[28]) << 24) | (uint32_t(header[29]) << 16) | (uint32_t(header[30]) << 8) |
                   header[31];
  if (pageSize < 512) return false;
  return size >= static_cast<uint64_t>(pages) * pageSize;
}

// A store in the making: "~store-<pid>-<8 hex digits>.new" beside its path.
// The name's length does not depend on the path's, so any path that can hold
// a store can hold one in the making.
constexpr char kPartialPrefix[] = "~store-";
constexpr char kPartialSuffix[] = ".new";

// The database goes last: while it is there, what else it left is found.
void RemoveDatabaseFiles(const std::string& path) {
  for (const char* suffix : {"-wal", "-shm", "-journal", ""}) {
    std::string file = path + suffix;
    std::string error;
    if (!fs::RemoveFile(file, &error)) StoreLog("cannot remove " + file + ": " + error);
  }
}

// The process that named a store in the making, when the name is one.
long PartialOwner(const std::string& name) {
  const size_t prefix = sizeof kPartialPrefix - 1, suffix = sizeof kPartialSuffix - 1;
  if (name.size() <= prefix + 9 + suffix || name.compare(0, prefix, kPartialPrefix) != 0 ||
      name.compare(name.size() - suffix, suffix, kPartialSuffix) != 0)
    return 0;
  std::string middle = name.substr(prefix, name.size() - prefix - suffix);
  size_t dash = middle.size() - 9;
  if (middle[dash] != '-' || middle.find_first_not_of("0123456789abcdef", dash + 1) != std::string::npos ||
      dash > 9 || middle.find_first_not_of("0123456789") != dash)
    return 0;
  return std::stol(middle.substr(0, dash));
}

// Stores in the making whose process is gone: killed while making them.
void RemoveAbandonedPartials(const std::string& directory) {
  std::vector<std::string> abandoned;
  for (const std::string& name : fs::ListFolder(directory)) {
    long owner = PartialOwner(name);
    if (owner > 0 && fs::ProcessGone(owner)) abandoned.push_back(fs::Join(directory, name));
  }
  for (const std::string& path : abandoned) {
    StoreLog("removing " + path + ", left by a process that is gone");
    RemoveDatabaseFiles(path);
  }
}

}  // namespace

struct StoreFile::Shared {
  std::mutex mutex;
  std::vector<std::weak_ptr<StoreFile>> files;
  std::atomic<int> groups{0};  // connections with an open group
};

namespace {

// Every file this process has open, by the file's own identity (one file
// may have many paths). Never destroyed: connections may outlive static
// destruction.
struct ProcessFiles {
  std::mutex mutex;
  std::map<std::pair<uint64_t, uint64_t>, std::weak_ptr<StoreFile::Shared>> files;
};

void CommitAllGroups();

ProcessFiles& AllFiles() {
  static ProcessFiles* files = [] {
    auto* made = new ProcessFiles;
    // A process that ends normally loses nothing it wrote.
    std::atexit(CommitAllGroups);
    return made;
  }();
  return *files;
}

std::vector<std::shared_ptr<StoreFile>> Connections(StoreFile::Shared& shared) {
  std::vector<std::shared_ptr<StoreFile>> out;
  std::lock_guard<std::mutex> lock(shared.mutex);
  for (const std::weak_ptr<StoreFile>& weak : shared.files)
    if (std::shared_ptr<StoreFile> file = weak.lock()) out.push_back(std::move(file));
  return out;
}

void CommitAllGroups() {
  std::vector<std::shared_ptr<StoreFile::Shared>> all;
  {
    ProcessFiles& files = AllFiles();
    std::lock_guard<std::mutex> lock(files.mutex);
    for (const auto& [key, weak] : files.files)
      if (std::shared_ptr<StoreFile::Shared> shared = weak.lock()) all.push_back(std::move(shared));
  }
  for (const std::shared_ptr<StoreFile::Shared>& shared : all)
    for (const std::shared_ptr<StoreFile>& file : Connections(*shared))
      if (FAILED(file->CommitGroup())) StoreLog("cannot commit " + file->path() + " at exit");
}

}  // namespace

void StoreLog(const std::string& line) {
  std::u16string text = ToUtf16("Corvane store: " + line + "\n");
  OutputDebugStringW(reinterpret_cast<LPCWSTR>(text.c_str()));
}

void SqliteCloser::operator()(sqlite3* db) const { sqlite3_close_v2(db); }
void StmtCloser::operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }

HRESULT SqliteResult(int rc) {
  switch (rc & 0xFF) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE:
      return S_OK;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return MAPI_E_BUSY;
    case SQLITE_NOMEM:
      return MAPI_E_NOT_ENOUGH_MEMORY;
    case SQLITE_FULL:
      return MAPI_E_NOT_ENOUGH_DISK;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      return MAPI_E_CORRUPT_STORE;
    case SQLITE_READONLY:
    case SQLITE_PERM:
      return MAPI_E_NO_ACCESS;
    case SQLITE_IOERR:
    case SQLITE_CANTOPEN:
      return MAPI_E_DISK_ERROR;
    default:
      return MAPI_E_CALL_FAILED;
  }
}

FILETIME NowFileTime() {
  FILETIME ft{};
  GetSystemTimeAsFileTime(&ft);
  return ft;
}

StoreFile::~StoreFile() {
  // Closing a connection would roll its open group back.
  if (group_ && FAILED(CommitGroup())) StoreLog("cannot commit " + path_ + " as it closes");
}

HRESULT StoreFile::Register(const std::shared_ptr<StoreFile>& file) {
  std::pair<uint64_t, uint64_t> id;
  if (!fs::FileIdentity(file->path_, &id)) return MAPI_E_NOT_FOUND;
  std::shared_ptr<Shared> shared;
  {
    ProcessFiles& all = AllFiles();
    std::lock_guard<std::mutex> lock(all.mutex);
    std::erase_if(all.files, [](const auto& entry) { return entry.second.expired(); });
    std::weak_ptr<Shared>& slot = all.files[id];
    shared = slot.lock();
    if (!shared) {
      shared = std::make_shared<Shared>();
      slot = shared;
    }
  }
  file->shared_ = shared;  // before other connections can find the file
  std::lock_guard<std::mutex> lock(shared->mutex);
  std::erase_if(shared->files, [](const std::weak_ptr<StoreFile>& weak) { return weak.expired(); });
  shared->files.push_back(file);
  return S_OK;
}

void StoreFile::CommitOthers() {
  for (const std::shared_ptr<StoreFile>& other : Connections(*shared_))
    if (other.get() != this && other->group_ && FAILED(other->CommitGroup()))
      StoreLog("cannot commit " + other->path_ + " for another connection");
}

std::unique_lock<std::recursive_mutex> StoreFile::Enter() {
  if (shared_ && shared_->groups.load() > (group_ ? 1 : 0)) CommitOthers();
  return std::unique_lock<std::recursive_mutex>(mutex_);
}

HRESULT StoreFile::CommitGroup() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return depth_ > 0 ? S_OK : EndGroup();
}

HRESULT StoreFile::EndGroup() {
  if (!group_) return S_OK;
  HRESULT hr = Exec("COMMIT");
  if (FAILED(hr)) sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
  group_ = false;
  --shared_->groups;
  return hr;
}

HRESULT StoreFile::Error(int rc, const char* what) {
  StoreLog(std::string(what) + " failed on " + path_ + ": " + (db_ ? sqlite3_errmsg(db_.get()) : sqlite3_errstr(rc)));
  return SqliteResult(rc);
}

HRESULT StoreFile::OpenDb(const std::string& posixPath, bool create, DbPtr* out) {
  sqlite3* raw = nullptr;
  int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX | (create ? SQLITE_OPEN_CREATE : 0);
  int rc = sqlite3_open_v2(posixPath.c_str(), &raw, flags, nullptr);
  DbPtr db(raw);
  if (rc != SQLITE_OK) {
    StoreLog("cannot open " + posixPath + ": " + sqlite3_errstr(rc));
    return rc == SQLITE_CANTOPEN ? MAPI_E_NOT_FOUND : MAPI_E_CORRUPT_STORE;
  }
  rc = sqlite3_busy_timeout(db.get(), kBusyTimeoutMs);
  if (rc != SQLITE_OK) return SqliteResult(rc);
  // In WAL mode NORMAL still survives a killed process; only a power loss
  // may drop the last commits.
  // A copy commits once per message; checkpointing every 32 MiB of log
  // rather than every 4 writes each hot page into the file once, not many
  // times, and syncs less often.
  rc = sqlite3_exec(db.get(), "PRAGMA synchronous=NORMAL; PRAGMA wal_autocheckpoint=8192", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) {
    StoreLog("cannot configure " + posixPath + ": " + sqlite3_errstr(rc));
    return MAPI_E_CORRUPT_STORE;
  }
  *out = std::move(db);
  return S_OK;
}

StoreFile::Stmt::~Stmt() {
  if (!stmt_) return;
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
}

HRESULT StoreFile::Prepare(const char* sql, Stmt* stmt) {
  StmtPtr& cached = statements_[sql];
  if (!cached) {
    sqlite3_stmt* raw = nullptr;
    int rc = sqlite3_prepare_v3(db_.get(), sql, -1, SQLITE_PREPARE_PERSISTENT, &raw, nullptr);
    cached.reset(raw);
    if (rc != SQLITE_OK) return Error(rc, "prepare");
  }
  stmt->stmt_ = cached.get();
  return S_OK;
}

HRESULT StoreFile::Exec(const char* sql) {
  int rc = sqlite3_exec(db_.get(), sql, nullptr, nullptr, nullptr);
  return rc == SQLITE_OK ? S_OK : Error(rc, sql);
}

HRESULT StoreFile::Step(sqlite3_stmt* stmt, bool* row) {
  int rc = sqlite3_step(stmt);
  if (rc == SQLITE_ROW) {
    if (row) *row = true;
    return S_OK;
  }
  if (rc == SQLITE_DONE) {
    if (row) *row = false;
    return S_OK;
  }
  return Error(rc, "step");
}

HRESULT StoreFile::Create(const std::string& posixPath, std::shared_ptr<StoreFile>* out) {
  if (FileExists(posixPath)) return MAPI_E_COLLISION;
  std::shared_ptr<StoreFile> file(new StoreFile());
  file->path_ = posixPath;
  HRESULT hr = OpenDb(posixPath, true, &file->db_);
  if (FAILED(hr)) return hr == MAPI_E_NOT_FOUND ? MAPI_E_DISK_ERROR : hr;
  hr = Register(file);
  if (FAILED(hr)) return MAPI_E_DISK_ERROR;
  std::random_device random;
  for (size_t i = 0; i < sizeof file->uid_.ab; i += 4) {
    uint32_t r = random();
    std::memcpy(file->uid_.ab + i, &r, 4);
  }
  char pragmas[160];
  std::snprintf(pragmas, sizeof pragmas, "PRAGMA journal_mode=WAL; PRAGMA application_id=%d; PRAGMA user_version=%d;",
                kApplicationId, kSchemaVersion);
  hr = file->Exec(pragmas);
  if (FAILED(hr)) return hr;
  {
    Transaction txn(*file);
    if (FAILED(txn.status())) return txn.status();
    hr = file->Exec(kSchema);
    if (FAILED(hr)) return hr;
    Stmt stmt;
    hr = file->Prepare("INSERT INTO meta(key, value) VALUES('uid', ?1)", &stmt);
    if (FAILED(hr)) return hr;
    if (sqlite3_bind_blob(stmt.get(), 1, file->uid_.ab, sizeof file->uid_.ab, SQLITE_TRANSIENT) != SQLITE_OK)
      return file->Error(SQLITE_ERROR, "bind");
    hr = file->Step(stmt.get(), nullptr);
    if (FAILED(hr)) return hr;
    NodeId node = 0;
    hr = file->NewNode(0, NodeKind::Store, 0, &node);
    if (FAILED(hr)) return hr;
    if (node != kStoreNode) return MAPI_E_CALL_FAILED;
    hr = file->NewNode(kStoreNode, NodeKind::Folder, 0, &node);
    if (FAILED(hr)) return hr;
    if (node != kRootNode) return MAPI_E_CALL_FAILED;
    hr = txn.Commit();
    if (FAILED(hr)) return hr;
  }
  // A new file holds its schema at once.
  hr = file->CommitGroup();
  if (FAILED(hr)) return hr;
  *out = std::move(file);
  return S_OK;
}

HRESULT StoreFile::Open(const std::string& posixPath, std::shared_ptr<StoreFile>* out) {
  if (!FileExists(posixPath)) return MAPI_E_NOT_FOUND;
  auto refuse = [&](const std::string& why) {
    StoreLog("refusing " + posixPath + ": " + why);
    return MAPI_E_CORRUPT_STORE;
  };
  if (!HeaderMatchesSize(posixPath)) return refuse("not a store file or truncated");
  std::shared_ptr<StoreFile> file(new StoreFile());
  file->path_ = posixPath;
  // Its first read below commits the process's other connections' groups.
  if (FAILED(Register(file))) return MAPI_E_NOT_FOUND;
  HRESULT hr = OpenDb(posixPath, false, &file->db_);
  if (FAILED(hr)) return hr == MAPI_E_NOT_FOUND ? hr : refuse("cannot be opened");
  auto pragmaInt = [&](const char* sql, int* value) {
    StmtPtr stmt;
    sqlite3_stmt* raw = nullptr;
    int rc = sqlite3_prepare_v2(file->db_.get(), sql, -1, &raw, nullptr);
    stmt.reset(raw);
    if (rc != SQLITE_OK) return false;
    if (sqlite3_step(stmt.get()) != SQLITE_ROW) return false;
    *value = sqlite3_column_int(stmt.get(), 0);
    return true;
  };
  int appId = 0, version = 0;
  if (!pragmaInt("PRAGMA application_id", &appId)) return refuse("not a database");
  if (appId != kApplicationId) return refuse("not a store file");
  if (!pragmaInt("PRAGMA user_version", &version)) return refuse("not a database");
  if (version != kSchemaVersion && version != 1 && version != 2)
    return refuse("schema version " + std::to_string(version));
  if (version != kSchemaVersion) {
    hr = file->Upgrade();
    if (FAILED(hr)) return hr == MAPI_E_BUSY ? hr : refuse("schema version " + std::to_string(version) + " cannot be upgraded");
  }
  StmtPtr stmt;
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(file->db_.get(), "SELECT value FROM meta WHERE key = 'uid'", -1, &raw, nullptr) != SQLITE_OK)
    return refuse("damaged");
  stmt.reset(raw);
  if (sqlite3_step(stmt.get()) != SQLITE_ROW) return refuse("damaged (no UID)");
  std::string uid = Blob(stmt.get(), 0);
  if (uid.size() != sizeof file->uid_.ab) return refuse("damaged (UID)");
  std::memcpy(file->uid_.ab, uid.data(), uid.size());
  stmt.reset();
  // The two nodes every store has must be there and readable.
  NodeInfo info;
  if (FAILED(file->GetNode(kRootNode, &info)) || info.kind != NodeKind::Folder) return refuse("damaged (no root)");
  ULONG count = 0;
  if (FAILED(file->CountChildren(kRootNode, NodeKind::Folder, &count))) return refuse("damaged");
  *out = std::move(file);
  return S_OK;
}

std::string StoreFile::EntryId(NodeId node) const {
  std::string id(kEntryIdSize, '\0');
  std::memcpy(&id[4], uid_.ab, 16);
  for (int i = 0; i < 4; ++i) id[20 + i] = static_cast<char>((node >> (8 * i)) & 0xFF);
  return id;
}

HRESULT StoreFile::ParseEntryId(const void* bytes, size_t size, NodeId* node) const {
  if (!bytes || size != kEntryIdSize) return MAPI_E_INVALID_ENTRYID;
  const auto* b = static_cast<const unsigned char*>(bytes);
  if (std::memcmp(b + 4, uid_.ab, 16) != 0) return MAPI_E_INVALID_ENTRYID;
  *node = NodeId(b[20]) | (NodeId(b[21]) << 8) | (NodeId(b[22]) << 16) | (NodeId(b[23]) << 24);
  return S_OK;
}

// ---- transactions ----

StoreFile::Transaction::Transaction(StoreFile& file) : file_(file), lock_(file.Enter()) {
  outer_ = file_.depth_ == 0;
  if (outer_) {
    if (!file_.group_) {
      status_ = file_.Exec("BEGIN IMMEDIATE");
      if (FAILED(status_)) {
        done_ = true;
        return;
      }
      file_.group_ = true;
      ++file_.shared_->groups;
      file_.groupStart_ = std::chrono::steady_clock::now();
      file_.groupBytes_ = 0;
    }
    // The change can be undone alone, leaving the group's earlier ones.
    status_ = file_.Exec("SAVEPOINT change");
    if (FAILED(status_)) {
      done_ = true;
      return;
    }
  }
  ++file_.depth_;
}

StoreFile::Transaction::~Transaction() {
  if (done_) return;
  --file_.depth_;
  // A failed inner part aborts the whole change: the outer undoes it.
  if (outer_) Undo();
}

void StoreFile::Transaction::Undo() {
  sqlite3_exec(file_.db_.get(), "ROLLBACK TO change; RELEASE change", nullptr, nullptr, nullptr);
  // An error may have ended the whole transaction: the group is gone then.
  if (file_.group_ && sqlite3_get_autocommit(file_.db_.get())) {
    file_.group_ = false;
    --file_.shared_->groups;
  }
}

HRESULT StoreFile::Transaction::Commit() {
  if (done_) return FAILED(status_) ? status_ : MAPI_E_CALL_FAILED;
  done_ = true;
  --file_.depth_;
  if (!outer_) return S_OK;
  HRESULT hr = file_.Exec("RELEASE change");
  if (FAILED(hr)) {
    Undo();
    return hr;
  }
  if (std::chrono::steady_clock::now() - file_.groupStart_ >= kGroupTime || file_.groupBytes_ >= kGroupBytes)
    return file_.EndGroup();
  return S_OK;
}

// ---- nodes ----

HRESULT StoreFile::GetNode(NodeId node, NodeInfo* info) {
  auto lock = Enter();
  return LoadNode(node, info, nullptr);
}

HRESULT StoreFile::Corrupt(NodeId node, const char* what) {
  StoreLog(std::string(what) + " of node " + std::to_string(node) + " cannot be read in " + path_);
  return MAPI_E_CORRUPT_STORE;
}

HRESULT StoreFile::LoadNode(NodeId node, NodeInfo* info, Entries* entries) {
  Stmt stmt;
  // The properties are read only when asked for.
  HRESULT hr = entries ? Prepare("SELECT parent, kind, num, props FROM objects WHERE id = ?1", &stmt)
                       : Prepare("SELECT parent, kind, num FROM objects WHERE id = ?1", &stmt);
  if (FAILED(hr)) return hr;
  if (sqlite3_bind_int64(stmt.get(), 1, node) != SQLITE_OK) return Error(SQLITE_ERROR, "bind");
  bool row = false;
  hr = Step(stmt.get(), &row);
  if (FAILED(hr)) return hr;
  if (!row) return MAPI_E_NOT_FOUND;
  info->id = node;
  info->parent = static_cast<NodeId>(sqlite3_column_int64(stmt.get(), 0));
  info->kind = static_cast<NodeKind>(sqlite3_column_int(stmt.get(), 1));
  info->num = sqlite3_column_int(stmt.get(), 2);
  if (entries && !DecodeEntries(sqlite3_column_blob(stmt.get(), 3), static_cast<size_t>(sqlite3_column_bytes(stmt.get(), 3)),
                     entries))
    return Corrupt(node, "the properties");
  return S_OK;
}

HRESULT StoreFile::LoadApart(NodeId node, ApartValues* out) {
  out->clear();
  Stmt stmt;
  HRESULT hr = Prepare("SELECT propid, value FROM apart WHERE object = ?1 ORDER BY propid", &stmt);
  if (FAILED(hr)) return hr;
  if (sqlite3_bind_int64(stmt.get(), 1, node) != SQLITE_OK) return Error(SQLITE_ERROR, "bind");
  for (;;) {
    bool row = false;
    hr = Step(stmt.get(), &row);
    if (FAILED(hr)) return hr;
    if (!row) return S_OK;
    out->emplace_back(static_cast<ULONG>(sqlite3_column_int64(stmt.get(), 0)), Blob(stmt.get(), 1));
  }
}

HRESULT StoreFile::ToRow(NodeId node, const Entries& entries, size_t maxValueBytes, Row* out) {
  out->clear();
  out->reserve(entries.size());
  ApartValues apart;
  bool apartRead = false;
  for (const Entry& e : entries) {
    if (!(e.flags & kEntryApart)) {
      if (!maxValueBytes || e.value.size() <= maxValueBytes) out->push_back(OwnedProp{e.tag, e.value});
      continue;
    }
    if (maxValueBytes) continue;
    if (!apartRead) {
      HRESULT hr = LoadApart(node, &apart);
      if (FAILED(hr)) return hr;
      apartRead = true;
    }
    auto at = std::lower_bound(apart.begin(), apart.end(), PROP_ID(e.tag),
                               [](const auto& a, ULONG id) { return a.first < id; });
    if (at == apart.end() || at->first != PROP_ID(e.tag)) return Corrupt(node, "a value kept apart");
    OwnedProp prop{e.tag, {}};
    if (!(e.flags & kEntryDeflated))
      prop.data = at->second;
    else if (!Unpack(at->second.data(), at->second.size(), &prop.data))
      return Corrupt(node, "a packed value");
    out->push_back(std::move(prop));
  }
  return S_OK;
}

HRESULT StoreFile::AdjustCount(NodeId parent, int kind, int delta) {
  Stmt stmt;
  HRESULT hr = Prepare(
      "INSERT INTO counts(parent, kind, n) VALUES(?1, ?2, max(?3, 0))"
      " ON CONFLICT(parent, kind) DO UPDATE SET n = max(n + ?3, 0)",
      &stmt);
  if (FAILED(hr)) return hr;
  if (sqlite3_bind_int64(stmt.get(), 1, parent) != SQLITE_OK || sqlite3_bind_int(stmt.get(), 2, kind) != SQLITE_OK ||
      sqlite3_bind_int(stmt.get(), 3, delta) != SQLITE_OK)
    return Error(SQLITE_ERROR, "bind");
  return Step(stmt.get(), nullptr);
}

HRESULT StoreFile::PutIndex(NodeId parent, NodeId node, const Entries& entries) {
  Stmt stmt;
  HRESULT hr = Prepare("INSERT OR REPLACE INTO contents(parent, id, cols) VALUES(?1, ?2, ?3)", &stmt);
  if (FAILED(hr)) return hr;
  const std::string cols = IndexColumns(entries);
  if (sqlite3_bind_int64(stmt.get(), 1, parent) != SQLITE_OK || sqlite3_bind_int64(stmt.get(), 2, node) != SQLITE_OK ||
      sqlite3_bind_blob(stmt.get(), 3, cols.data(), static_cast<int>(cols.size()), SQLITE_STATIC) != SQLITE_OK)
    return Error(SQLITE_ERROR, "bind");
  return Step(stmt.get(), nullptr);
}

HRESULT StoreFile::InsertNode(NodeId parent, NodeKind kind, LONG num, const std::string* name, const Entries& entries,
                              const ApartValues& apart, NodeId* out) {
  Transaction txn(*this);
  if (FAILED(txn.status())) return txn.status();
  const std::string props = EncodeEntries(entries);
  groupBytes_ += 64 + props.size();
  Stmt stmt;
  HRESULT hr = Prepare("INSERT INTO objects(parent, kind, num, name, props) VALUES(?1, ?2, ?3, ?4, ?5)", &stmt);
  if (FAILED(hr)) return hr;
  if (sqlite3_bind_int64(stmt.get(), 1, parent) != SQLITE_OK ||
      sqlite3_bind_int(stmt.get(), 2, static_cast<int>(kind)) != SQLITE_OK ||
      sqlite3_bind_int(stmt.get(), 3, num) != SQLITE_OK ||
      (name ? sqlite3_bind_text(stmt.get(), 4, name->data(), static_cast<int>(name->size()), SQLITE_STATIC)
            : sqlite3_bind_null(stmt.get(), 4)) != SQLITE_OK ||
      sqlite3_bind_blob(stmt.get(), 5, props.data(), static_cast<int>(props.size()), SQLITE_STATIC) != SQLITE_OK)
    return Error(SQLITE_ERROR, "bind");
  hr = Step(stmt.get(), nullptr);
  if (FAILED(hr)) return hr;
  sqlite3_int64 id = sqlite3_last_insert_rowid(db_.get());
  if (id <= 0 || id > 0xFFFFFFFFll) return MAPI_E_TOO_BIG;
  const NodeId node = static_cast<NodeId>(id);
  if (!apart.empty()) {
    Stmt put;
    hr = Prepare("INSERT OR REPLACE INTO apart(object, propid, value) VALUES(?1, ?2, ?3)", &put);
    if (FAILED(hr)) return hr;
    for (const auto& [propId, value] : apart) {
      groupBytes_ += value.size();
      sqlite3_reset(put.get());
      if (sqlite3_bind_int64(put.get(), 1, node) != SQLITE_OK || sqlite3_bind_int64(put.get(), 2, propId) != SQLITE_OK ||
          sqlite3_bind_blob(put.get(), 3, value.data(), static_cast<int>(value.size()), SQLITE_STATIC) != SQLITE_OK)
        return Error(SQLITE_ERROR, "bind");
      hr = Step(put.get(), nullptr);
      if (FAILED(hr)) return hr;
    }
  }
  hr = AdjustCount(parent, static_cast<int>(kind), 1);
  if (SUCCEEDED(hr) && kind == NodeKind::Message) {
    hr = PutIndex(parent, node, entries);
    if (SUCCEEDED(hr) && IsUnread(entries)) hr = AdjustCount(parent, kUnreadKind, 1);
  }
  if (FAILED(hr)) return hr;
  *out = node;
  return txn.Commit();
}

HRESULT StoreFile::NewNode(NodeId parent, NodeKind kind, LONG num, NodeId* out) {
  return InsertNode(parent, kind, num, nullptr, Entries{}, ApartValues{}, out);
}

HRESULT StoreFile::DeleteTree(NodeId node) {
  Transaction txn(*this);
  if (FAILED(txn.status())) return txn.status();
  NodeInfo top;
  Entries entries;
  HRESULT hr = LoadNode(node, &top, &entries);
  if (hr == MAPI_E_NOT_FOUND) return txn.Commit();  // nothing to remove
  if (FAILED(hr)) return hr;
  // Walk the subtree through the children index, then drop rows by id.
  std::vector<std::pair<NodeId, NodeId>> all{{node, top.parent}};  // node, parent
  {
    Stmt stmt;
    hr = Prepare("SELECT id FROM objects WHERE parent = ?1", &stmt);
    if (FAILED(hr)) return hr;
    for (size_t i = 0; i < all.size(); ++i) {
      sqlite3_reset(stmt.get());
      if (sqlite3_bind_int64(stmt.get(), 1, all[i].first) != SQLITE_OK) return Error(SQLITE_ERROR, "bind");
      for (;;) {
        bool row = false;
        hr = Step(stmt.get(), &row);
        if (FAILED(hr)) return hr;
        if (!row) break;
        all.emplace_back(static_cast<NodeId>(sqlite3_column_int64(stmt.get(), 0)), all[i].first);
      }
    }
  }
  Stmt delApart, delObject, delCounts, delIndex;
  hr = Prepare("DELETE FROM apart WHERE object = ?1", &delApart);
  if (SUCCEEDED(hr)) hr = Prepare("DELETE FROM objects WHERE id = ?1", &delObject);
  if (SUCCEEDED(hr)) hr = Prepare("DELETE FROM counts WHERE parent = ?1", &delCounts);
  if (SUCCEEDED(hr)) hr = Prepare("DELETE FROM contents WHERE parent = ?2 AND id = ?1", &delIndex);
  if (FAILED(hr)) return hr;
  for (const auto& [id, parent] : all) {
    for (sqlite3_stmt* stmt : {delApart.get(), delObject.get(), delCounts.get(), delIndex.get()}) {
      sqlite3_reset(stmt);
      if (sqlite3_bind_int64(stmt, 1, id) != SQLITE_OK ||
          (stmt == delIndex.get() && sqlite3_bind_int64(stmt, 2, parent) != SQLITE_OK))
        return Error(SQLITE_ERROR, "bind");
      hr = Step(stmt, nullptr);
      if (FAILED(hr)) return hr;
    }
  }
  hr = AdjustCount(top.parent, static_cast<int>(top.kind), -1);
  if (SUCCEEDED(hr) && top.kind == NodeKind::Message && IsUnread(entries))
    hr = AdjustCount(top.parent, kUnreadKind, -1);
  if (FAILED(hr)) return hr;
  return txn.Commit();
}

HRESULT StoreFile::Children(NodeId parent, NodeKind kind, std::vector<NodeInfo>* out) {
  auto lock = Enter();
  out->clear();
  Stmt stmt;
  HRESULT hr = Prepare("SELECT id, num FROM objects WHERE parent = ?1 AND kind = ?2 ORDER BY id", &stmt);
  if (FAILED(hr)) return hr;
  if (sqlite3_bind_int64(stmt.get(), 1, parent) != SQLITE_OK ||
      sqlite3_bind_int(stmt.get(), 2, static_cast<int>(kind)) != SQLITE_OK)
    return Error(SQLITE_ERROR, "bind");
  for (;;) {
    bool row = false;
    hr = Step(stmt.get(), &row);
    if (FAILED(hr)) return hr;
    if (!row) return S_OK;
    NodeInfo info;
    info.id = static_cast<NodeId>(sqlite3_column_int64(stmt.get(), 0));
    info.parent = parent;
    info.kind = kind;
    info.num = sqlite3_column_int(stmt.get(), 1);
    out->push_back(info);
  }
}

HRESULT StoreFile::CountChildren(NodeId parent, NodeKind kind, ULONG* count) {
  auto lock = Enter();
  Stmt stmt;
  HRESULT hr = Prepare("SELECT n FROM counts WHERE parent = ?1 AND kind = ?2", &stmt);
  if (FAILED(hr)) return hr;
  if (sqlite3_bind_int64(stmt.get(), 1, parent) != SQLITE_OK ||
      sqlite3_bind_int(stmt.get(), 2, static_cast<int>(kind)) != SQLITE_OK)
    return Error(SQLITE_ERROR, "bind");
  bool row = false;
  hr = Step(stmt.get(), &row);
  if (FAILED(hr)) return hr;
  const sqlite3_int64 n = row ? sqlite3_column_int64(stmt.get(), 0) : 0;
  *count = static_cast<ULONG>(std::clamp<sqlite3_int64>(n, 0, 0xFFFFFFFF));
  return S_OK;
}

HRESULT StoreFile::CountUnread(NodeId folder, ULONG* count) {
  return CountChildren(folder, static_cast<NodeKind>(kUnreadKind), count);
}

HRESULT StoreFile::SetName(NodeId node, const std::u16string& name) {
  Transaction txn(*this);
  if (FAILED(txn.status())) return txn.status();
  Stmt stmt;
  HRESULT hr = Prepare("UPDATE objects SET name = ?2 WHERE id = ?1", &stmt);
  if (FAILED(hr)) return hr;
  std::string utf8 = ToUtf8(name);
  if (sqlite3_bind_int64(stmt.get(), 1, node) != SQLITE_OK ||
      sqlite3_bind_text(stmt.get(), 2, utf8.data(), static_cast<int>(utf8.size()), SQLITE_TRANSIENT) != SQLITE_OK)
    return Error(SQLITE_ERROR, "bind");
  hr = Step(stmt.get(), nullptr);
  if (FAILED(hr)) return hr;
  return txn.Commit();
}

HRESULT StoreFile::FindChildFolder(NodeId parent, const std::u16string& name, NodeId* out) {
  auto lock = Enter();
  Stmt stmt;
  HRESULT hr =
      Prepare("SELECT id FROM objects WHERE parent = ?1 AND kind = 1 AND name = ?2 ORDER BY id LIMIT 1", &stmt);
  if (FAILED(hr)) return hr;
  std::string utf8 = ToUtf8(name);
  if (sqlite3_bind_int64(stmt.get(), 1, parent) != SQLITE_OK ||
      sqlite3_bind_text(stmt.get(), 2, utf8.data(), static_cast<int>(utf8.size()), SQLITE_TRANSIENT) != SQLITE_OK)
    return Error(SQLITE_ERROR, "bind");
  bool row = false;
  hr = Step(stmt.get(), &row);
  if (FAILED(hr)) return hr;
  if (!row) return MAPI_E_NOT_FOUND;
  *out = static_cast<NodeId>(sqlite3_column_int64(stmt.get(), 0));
  return S_OK;
}

// ---- upgrade ----

HRESULT StoreFile::Upgrade() {
  HRESULT hr = Exec("BEGIN IMMEDIATE");
  if (FAILED(hr)) return hr;
  bool upgraded = false;
  auto body = [this, &upgraded]() -> HRESULT {
    // Another process may have upgraded the file since it was looked at.
    Stmt version;
    HRESULT hr = Prepare("PRAGMA user_version", &version);
    if (FAILED(hr)) return hr;
    bool row = false;
    hr = Step(version.get(), &row);
    if (FAILED(hr)) return hr;
    if (row && sqlite3_column_int(version.get(), 0) == kSchemaVersion) return S_OK;
    upgraded = true;
    hr = Exec(kApartTable "ALTER TABLE objects ADD COLUMN props BLOB NOT NULL DEFAULT x'';" kIndexTables);
    if (FAILED(hr)) return hr;
    // Each node's property rows become its packed row; values that belong
    // apart and are not there yet move there.
    Stmt rows, update, putApart;
    hr = Prepare("SELECT object, tag, value FROM props ORDER BY object, propid", &rows);
    if (SUCCEEDED(hr)) hr = Prepare("UPDATE objects SET props = ?2 WHERE id = ?1", &update);
    if (SUCCEEDED(hr)) hr = Prepare("INSERT OR REPLACE INTO apart(object, propid, value) VALUES(?1, ?2, ?3)", &putApart);
    if (FAILED(hr)) return hr;
    Entries entries;
    NodeId node = 0;
    auto flush = [&]() -> HRESULT {
      if (entries.empty()) return S_OK;
      const std::string packed = EncodeEntries(entries);
      sqlite3_reset(update.get());
      if (sqlite3_bind_int64(update.get(), 1, node) != SQLITE_OK ||
          sqlite3_bind_blob(update.get(), 2, packed.data(), static_cast<int>(packed.size()), SQLITE_STATIC) !=
              SQLITE_OK)
        return Error(SQLITE_ERROR, "bind");
      entries.clear();
      return Step(update.get(), nullptr);
    };
    for (;;) {
      hr = Step(rows.get(), &row);
      if (FAILED(hr)) return hr;
      if (!row) break;
      const NodeId object = static_cast<NodeId>(sqlite3_column_int64(rows.get(), 0));
      if (object != node) {
        hr = flush();
        if (FAILED(hr)) return hr;
        node = object;
      }
      const sqlite3_int64 stored = sqlite3_column_int64(rows.get(), 1);
      Entry e{static_cast<ULONG>(stored & 0xFFFFFFFF), 0, Blob(rows.get(), 2)};
      if (!entries.empty() && PROP_ID(entries.back().tag) >= PROP_ID(e.tag)) return Corrupt(object, "a property row");
      const bool packed = stored & kOldPackedBit;
      if (stored & kOldApartBit) {
        e.flags = kEntryApart | (packed ? kEntryDeflated : 0);
        e.value.clear();
      } else if (packed || e.value.size() >= kApartFrom) {
        e.flags = kEntryApart | (packed ? kEntryDeflated : 0);
        sqlite3_reset(putApart.get());
        if (sqlite3_bind_int64(putApart.get(), 1, object) != SQLITE_OK ||
            sqlite3_bind_int64(putApart.get(), 2, PROP_ID(e.tag)) != SQLITE_OK ||
            sqlite3_bind_blob(putApart.get(), 3, e.value.data(), static_cast<int>(e.value.size()), SQLITE_STATIC) !=
                SQLITE_OK)
          return Error(SQLITE_ERROR, "bind");
        hr = Step(putApart.get(), nullptr);
        if (FAILED(hr)) return hr;
        e.value.clear();
      }
      entries.push_back(std::move(e));
    }
    hr = flush();
    if (FAILED(hr)) return hr;
    hr = Exec("INSERT INTO counts(parent, kind, n) SELECT parent, kind, count(*) FROM objects GROUP BY parent, kind");
    if (FAILED(hr)) return hr;
    Stmt messages;
    hr = Prepare("SELECT id, parent, props FROM objects WHERE kind = 2", &messages);
    if (FAILED(hr)) return hr;
    std::map<NodeId, int> unread;
    for (;;) {
      hr = Step(messages.get(), &row);
      if (FAILED(hr)) return hr;
      if (!row) break;
      const NodeId id = static_cast<NodeId>(sqlite3_column_int64(messages.get(), 0));
      const NodeId parent = static_cast<NodeId>(sqlite3_column_int64(messages.get(), 1));
      if (!DecodeEntries(sqlite3_column_blob(messages.get(), 2),
                         static_cast<size_t>(sqlite3_column_bytes(messages.get(), 2)), &entries))
        return Corrupt(id, "the properties");
      hr = PutIndex(parent, id, entries);
      if (FAILED(hr)) return hr;
      if (IsUnread(entries)) ++unread[parent];
    }
    for (const auto& [parent, n] : unread) {
      hr = AdjustCount(parent, kUnreadKind, n);
      if (FAILED(hr)) return hr;
    }
    return S_OK;
  };
  hr = body();
  // A table with prepared statements cannot be dropped: those of the
  // upgrade go first.
  statements_.clear();
  if (SUCCEEDED(hr) && upgraded) {
    char pragma[80];
    std::snprintf(pragma, sizeof pragma, "DROP TABLE props; PRAGMA user_version=%d", kSchemaVersion);
    hr = Exec(pragma);
  }
  if (SUCCEEDED(hr)) hr = Exec("COMMIT");
  if (FAILED(hr)) sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
  return hr;
}

// ---- properties ----

HRESULT StoreFile::ReadProps(NodeId node, Row* out) {
  auto lock = Enter();
  out->clear();
  NodeInfo info;
  Entries entries;
  HRESULT hr = LoadNode(node, &info, &entries);
  if (hr == MAPI_E_NOT_FOUND) return S_OK;  // a node without a row has no properties
  if (FAILED(hr)) return hr;
  return ToRow(node, entries, 0, out);
}

HRESULT StoreFile::NodeRows(sqlite3_stmt* stmt, NodeId parent, NodeKind kind, const std::vector<ULONG>* propIds,
                            size_t maxValueBytes, std::vector<std::pair<NodeInfo, Row>>* out) {
  Entries entries;
  for (;;) {
    bool row = false;
    HRESULT hr = Step(stmt, &row);
    if (FAILED(hr)) return hr;
    if (!row) return S_OK;
    NodeInfo info;
    info.id = static_cast<NodeId>(sqlite3_column_int64(stmt, 0));
    info.parent = parent;
    info.kind = kind;
    info.num = sqlite3_column_int(stmt, 1);
    if (!DecodeEntries(sqlite3_column_blob(stmt, 2), static_cast<size_t>(sqlite3_column_bytes(stmt, 2)), &entries))
      return Corrupt(info.id, "the properties");
    if (propIds)
      std::erase_if(entries, [propIds](const Entry& e) {
        return std::find(propIds->begin(), propIds->end(), PROP_ID(e.tag)) == propIds->end();
      });
    out->emplace_back(info, Row{});
    hr = ToRow(info.id, entries, maxValueBytes, &out->back().second);
    if (FAILED(hr)) return hr;
  }
}

HRESULT StoreFile::ReadChildrenProps(NodeId parent, NodeKind kind, std::vector<std::pair<NodeInfo, Row>>* out,
                                     size_t maxValueBytes) {
  auto lock = Enter();
  out->clear();
  Stmt stmt;
  HRESULT hr = Prepare("SELECT id, num, props FROM objects WHERE parent = ?1 AND kind = ?2 ORDER BY id", &stmt);
  if (FAILED(hr)) return hr;
  if (sqlite3_bind_int64(stmt.get(), 1, parent) != SQLITE_OK ||
      sqlite3_bind_int(stmt.get(), 2, static_cast<int>(kind)) != SQLITE_OK)
    return Error(SQLITE_ERROR, "bind");
  return NodeRows(stmt.get(), parent, kind, nullptr, maxValueBytes, out);
}

HRESULT StoreFile::ReadChildrenColumns(NodeId parent, NodeKind kind, const std::vector<ULONG>& propIds,
                                       size_t maxValueBytes, std::vector<std::pair<NodeInfo, Row>>* out) {
  auto lock = Enter();
  out->clear();
  // The index holds every value of its columns that is in a message's row,
  // and those are all a table reads of them (values apart are left out).
  const bool indexed = kind == NodeKind::Message && maxValueBytes >= kApartFrom - 1 &&
                       std::all_of(propIds.begin(), propIds.end(), IsIndexed);
  Stmt stmt;
  HRESULT hr = indexed ? Prepare("SELECT id, 0, cols FROM contents WHERE parent = ?1 AND ?2 = 2 ORDER BY id", &stmt)
                       : Prepare("SELECT id, num, props FROM objects WHERE parent = ?1 AND kind = ?2 ORDER BY id",
                                 &stmt);
  if (FAILED(hr)) return hr;
  if (sqlite3_bind_int64(stmt.get(), 1, parent) != SQLITE_OK ||
      sqlite3_bind_int(stmt.get(), 2, static_cast<int>(kind)) != SQLITE_OK)
    return Error(SQLITE_ERROR, "bind");
  return NodeRows(stmt.get(), parent, kind, &propIds, maxValueBytes, out);
}

HRESULT StoreFile::WriteProps(NodeId node, const Row& props, const std::vector<ULONG>& deletedIds) {
  Transaction txn(*this);
  if (FAILED(txn.status())) return txn.status();
  NodeInfo info;
  Entries entries;
  HRESULT hr = LoadNode(node, &info, &entries);
  if (FAILED(hr)) return hr;
  const bool wasUnread = IsUnread(entries);
  Stmt putApart, dropApart;
  hr = Prepare("INSERT OR REPLACE INTO apart(object, propid, value) VALUES(?1, ?2, ?3)", &putApart);
  if (SUCCEEDED(hr)) hr = Prepare("DELETE FROM apart WHERE object = ?1 AND propid = ?2", &dropApart);
  if (FAILED(hr)) return hr;
  auto apartStep = [&](sqlite3_stmt* stmt, ULONG propId, const std::string* value) -> HRESULT {
    sqlite3_reset(stmt);
    if (sqlite3_bind_int64(stmt, 1, node) != SQLITE_OK || sqlite3_bind_int64(stmt, 2, propId) != SQLITE_OK ||
        (value &&
         sqlite3_bind_blob(stmt, 3, value->data(), static_cast<int>(value->size()), SQLITE_STATIC) != SQLITE_OK))
      return Error(SQLITE_ERROR, "bind");
    return Step(stmt, nullptr);
  };
  for (const OwnedProp& prop : props) {
    const ULONG propId = PROP_ID(prop.tag);
    Entry entry{prop.tag, 0, {}};
    std::string packed;
    const bool deflated = Pack(prop.data, &packed);
    groupBytes_ += (deflated ? packed.size() : prop.data.size()) + 16;
    auto at = FindEntry(entries, propId);
    const bool wasApart = at != entries.end() && (at->flags & kEntryApart);
    if (deflated || prop.data.size() >= kApartFrom) {
      entry.flags = kEntryApart | (deflated ? kEntryDeflated : 0);
      hr = apartStep(putApart.get(), propId, deflated ? &packed : &prop.data);
    } else {
      entry.value = prop.data;
      // A value in the row leaves no older one apart behind.
      if (wasApart) hr = apartStep(dropApart.get(), propId, nullptr);
    }
    if (FAILED(hr)) return hr;
    if (at != entries.end())
      *at = std::move(entry);
    else
      entries.insert(std::lower_bound(entries.begin(), entries.end(), propId,
                                      [](const Entry& e, ULONG id) { return PROP_ID(e.tag) < id; }),
                     std::move(entry));
  }
  for (ULONG propId : deletedIds) {
    auto at = FindEntry(entries, propId);
    if (at == entries.end()) continue;
    if (at->flags & kEntryApart) {
      hr = apartStep(dropApart.get(), propId, nullptr);
      if (FAILED(hr)) return hr;
    }
    entries.erase(at);
  }
  const std::string packedRow = EncodeEntries(entries);
  Stmt update;
  hr = Prepare("UPDATE objects SET props = ?2 WHERE id = ?1", &update);
  if (FAILED(hr)) return hr;
  if (sqlite3_bind_int64(update.get(), 1, node) != SQLITE_OK ||
      sqlite3_bind_blob(update.get(), 2, packedRow.data(), static_cast<int>(packedRow.size()), SQLITE_STATIC) !=
          SQLITE_OK)
    return Error(SQLITE_ERROR, "bind");
  hr = Step(update.get(), nullptr);
  if (FAILED(hr)) return hr;
  if (info.kind == NodeKind::Message) {
    hr = PutIndex(info.parent, node, entries);
    const bool unread = IsUnread(entries);
    if (SUCCEEDED(hr) && unread != wasUnread) hr = AdjustCount(info.parent, kUnreadKind, unread ? 1 : -1);
    if (FAILED(hr)) return hr;
  }
  return txn.Commit();
}

HRESULT StoreFile::CopyTree(NodeId node, StoreFile& dst, NodeId dstParent, NodeId* out) {
  // Read the subtree first, then write it: the two files are never locked
  // together, so copies in opposite directions cannot deadlock.
  std::vector<TreeEntry> tree;
  HRESULT hr = ReadTree(node, &tree);
  if (FAILED(hr)) return hr;
  Transaction txn(dst);
  if (FAILED(txn.status())) return txn.status();
  std::vector<NodeId> copies(tree.size(), 0);
  for (size_t i = 0; i < tree.size(); ++i) {
    const TreeEntry& e = tree[i];
    NodeId parent = i == 0 ? dstParent : copies[e.parentIndex];
    // Values move as they are stored: nothing is unpacked and packed again.
    hr = dst.InsertNode(parent, e.info.kind, e.info.num, e.named ? &e.name : nullptr, e.entries, e.apart, &copies[i]);
    if (FAILED(hr)) return hr;
  }
  hr = txn.Commit();
  if (FAILED(hr)) return hr;
  if (out) *out = copies[0];
  return S_OK;
}

HRESULT StoreFile::ReadTree(NodeId node, std::vector<TreeEntry>* out) {
  auto lock = Enter();
  out->clear();
  TreeEntry first;
  HRESULT hr = LoadNode(node, &first.info, &first.entries);
  if (FAILED(hr)) return hr;
  {
    Stmt name;
    hr = Prepare("SELECT name FROM objects WHERE id = ?1 AND name IS NOT NULL", &name);
    if (FAILED(hr)) return hr;
    if (sqlite3_bind_int64(name.get(), 1, node) != SQLITE_OK) return Error(SQLITE_ERROR, "bind");
    hr = Step(name.get(), &first.named);
    if (FAILED(hr)) return hr;
    if (first.named) first.name = Blob(name.get(), 0);
  }
  out->push_back(std::move(first));
  // One query per node for its children of every kind (in kind order);
  // recipient rows have none.
  Stmt stmt;
  hr = Prepare("SELECT id, kind, num, name, props FROM objects WHERE parent = ?1 ORDER BY kind, id", &stmt);
  if (FAILED(hr)) return hr;
  for (size_t i = 0; i < out->size(); ++i) {
    const NodeId parent = (*out)[i].info.id;
    if ((*out)[i].info.kind == NodeKind::Recip) continue;
    sqlite3_reset(stmt.get());
    if (sqlite3_bind_int64(stmt.get(), 1, parent) != SQLITE_OK) return Error(SQLITE_ERROR, "bind");
    for (;;) {
      bool row = false;
      hr = Step(stmt.get(), &row);
      if (FAILED(hr)) return hr;
      if (!row) break;
      TreeEntry e;
      e.info.id = static_cast<NodeId>(sqlite3_column_int64(stmt.get(), 0));
      e.info.parent = parent;
      e.info.kind = static_cast<NodeKind>(sqlite3_column_int(stmt.get(), 1));
      e.info.num = sqlite3_column_int(stmt.get(), 2);
      e.named = sqlite3_column_type(stmt.get(), 3) != SQLITE_NULL;
      if (e.named) e.name = Blob(stmt.get(), 3);
      if (!DecodeEntries(sqlite3_column_blob(stmt.get(), 4), static_cast<size_t>(sqlite3_column_bytes(stmt.get(), 4)),
                         &e.entries))
        return Corrupt(e.info.id, "the properties");
      e.parentIndex = i;
      out->push_back(std::move(e));
    }
  }
  // The values kept apart, read as they are stored.
  for (TreeEntry& e : *out) {
    if (std::none_of(e.entries.begin(), e.entries.end(), [](const Entry& x) { return x.flags & kEntryApart; }))
      continue;
    hr = LoadApart(e.info.id, &e.apart);
    if (FAILED(hr)) return hr;
    // Only the values of its entries, each one there.
    std::erase_if(e.apart, [&](const auto& a) {
      auto x = FindEntry(e.entries, a.first);
      return x == e.entries.end() || !(x->flags & kEntryApart);
    });
    const auto apartEntries = std::count_if(e.entries.begin(), e.entries.end(),
                                            [](const Entry& x) { return (x.flags & kEntryApart) != 0; });
    if (static_cast<size_t>(apartEntries) != e.apart.size()) return Corrupt(e.info.id, "a value kept apart");
  }
  return S_OK;
}

// ---- receive folders ----

HRESULT StoreFile::SetReceiveFolder(const std::string& messageClass, NodeId folder) {
  Transaction txn(*this);
  if (FAILED(txn.status())) return txn.status();
  Stmt stmt;
  HRESULT hr = folder ? Prepare("INSERT OR REPLACE INTO receive(class, folder) VALUES(?1, ?2)", &stmt)
                      : Prepare("DELETE FROM receive WHERE class = ?1", &stmt);
  if (FAILED(hr)) return hr;
  if (sqlite3_bind_text(stmt.get(), 1, messageClass.data(), static_cast<int>(messageClass.size()),
                        SQLITE_TRANSIENT) != SQLITE_OK ||
      (folder && sqlite3_bind_int64(stmt.get(), 2, folder) != SQLITE_OK))
    return Error(SQLITE_ERROR, "bind");
  hr = Step(stmt.get(), nullptr);
  if (FAILED(hr)) return hr;
  return txn.Commit();
}

HRESULT StoreFile::GetReceiveFolder(const std::string& messageClass, NodeId* folder, std::string* explicitClass) {
  auto lock = Enter();
  // The longest registered class that is the given class or a dotted prefix of it.
  std::string candidate = messageClass;
  Stmt stmt;
  HRESULT hr = Prepare("SELECT folder, class FROM receive WHERE class = ?1", &stmt);
  if (FAILED(hr)) return hr;
  for (;;) {
    sqlite3_reset(stmt.get());
    if (sqlite3_bind_text(stmt.get(), 1, candidate.data(), static_cast<int>(candidate.size()), SQLITE_TRANSIENT) !=
        SQLITE_OK)
      return Error(SQLITE_ERROR, "bind");
    bool row = false;
    hr = Step(stmt.get(), &row);
    if (FAILED(hr)) return hr;
    if (row) {
      *folder = static_cast<NodeId>(sqlite3_column_int64(stmt.get(), 0));
      if (explicitClass) {
        const unsigned char* text = sqlite3_column_text(stmt.get(), 1);
        *explicitClass = text ? reinterpret_cast<const char*>(text) : "";
      }
      return S_OK;
    }
    if (candidate.empty()) return MAPI_E_NOT_FOUND;
    size_t dot = candidate.rfind('.');
    candidate = dot == std::string::npos ? std::string() : candidate.substr(0, dot);
  }
}

NewStoreName::NewStoreName(const std::string& posixPath) : path_(posixPath) {
  std::string directory = fs::DirectoryOf(posixPath);
  RemoveAbandonedPartials(directory);
  char tag[16];
  std::snprintf(tag, sizeof tag, "%08x", static_cast<unsigned>(std::random_device()()));
  partial_ = fs::Join(directory, kPartialPrefix + std::to_string(fs::CurrentProcess()) + "-" + tag + kPartialSuffix);
}

NewStoreName::~NewStoreName() {
  if (!published_) RemoveDatabaseFiles(partial_);
}

HRESULT NewStoreName::Check() const {
  return fs::Exists(path_) ? MAPI_E_COLLISION : S_OK;
}

HRESULT NewStoreName::Publish() {
  uint64_t walSize = 0;
  if (fs::FileSize(partial_ + "-wal", &walSize)) {
    StoreLog("cannot name " + path_ + ": " + partial_ + " is still open");
    return MAPI_E_CALL_FAILED;
  }
  std::string error;
  int named = fs::NameNewFile(partial_, path_, &error);
  if (named == 1) return MAPI_E_COLLISION;
  if (named != 0) {
    StoreLog("cannot name " + path_ + ": " + error);
    return MAPI_E_DISK_ERROR;
  }
  published_ = true;
  RemoveDatabaseFiles(partial_);  // only the name: the store is the path's now
  // The new name outlasts a power cut only once its directory is written.
  if (!fs::SyncFolder(fs::DirectoryOf(path_), &error)) StoreLog("cannot sync the folder of " + path_ + ": " + error);
  return S_OK;
}

}  // namespace standin::mapi
