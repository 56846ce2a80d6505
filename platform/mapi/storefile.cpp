#include "storefile.h"

#include <sqlite3.h>
#include <zlib.h>

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
// 2: large values may be packed. Version 1 files hold none and are read as
// they are; opening one marks it version 2, so that older readers refuse it
// once it may hold packed values.
constexpr int kSchemaVersion = 2;
constexpr int kBusyTimeoutMs = 15000;

// Large values live apart from the property rows, so that the rows of many
// messages (what tables read) sit densely on few pages.
#define kApartTable                                                                                             \
  "CREATE TABLE IF NOT EXISTS apart(object INTEGER NOT NULL, propid INTEGER NOT NULL, value BLOB NOT NULL," \
  " PRIMARY KEY(object, propid));"

const char* const kSchema =
    "CREATE TABLE meta(key TEXT PRIMARY KEY, value BLOB NOT NULL);"
    "CREATE TABLE objects(id INTEGER PRIMARY KEY AUTOINCREMENT, parent INTEGER NOT NULL,"
    " kind INTEGER NOT NULL, num INTEGER NOT NULL DEFAULT 0, name TEXT COLLATE NOCASE);"
    "CREATE INDEX objects_children ON objects(parent, kind, id);"
    "CREATE INDEX objects_names ON objects(parent, name) WHERE name IS NOT NULL;"
    "CREATE TABLE props(object INTEGER NOT NULL, propid INTEGER NOT NULL, tag INTEGER NOT NULL,"
    " value BLOB NOT NULL, PRIMARY KEY(object, propid)) WITHOUT ROWID;"
    "CREATE TABLE receive(class TEXT PRIMARY KEY COLLATE NOCASE, folder INTEGER NOT NULL);" kApartTable;

std::string Blob(sqlite3_stmt* stmt, int col) {
  const void* data = sqlite3_column_blob(stmt, col);
  int size = sqlite3_column_bytes(stmt, col);
  return data ? std::string(static_cast<const char*>(data), static_cast<size_t>(size)) : std::string();
}

// Values this large are kept deflated when that makes them smaller; the stored
// tag then carries kPackedBit above its 32 bits.
constexpr size_t kPackFrom = 512;
constexpr sqlite3_int64 kPackedBit = sqlite3_int64(1) << 32;
// Packed values, and values of kApartFrom bytes or more, are kept in the
// table apart; their property row holds an empty value and this flag.
constexpr size_t kApartFrom = 1024;
constexpr sqlite3_int64 kApartBit = sqlite3_int64(1) << 33;

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
  if (version != kSchemaVersion && version != 1) return refuse("schema version " + std::to_string(version));
  if (version == 1) {
    char pragma[320];
    std::snprintf(pragma, sizeof pragma, kApartTable "PRAGMA user_version=%d", kSchemaVersion);
    if (sqlite3_exec(file->db_.get(), pragma, nullptr, nullptr, nullptr) != SQLITE_OK)
      return refuse("schema version 1 cannot be marked " + std::to_string(kSchemaVersion));
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
  Stmt stmt;
  HRESULT hr = Prepare("SELECT parent, kind, num FROM objects WHERE id = ?1", &stmt);
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
  return S_OK;
}

HRESULT StoreFile::NewNode(NodeId parent, NodeKind kind, LONG num, NodeId* out) {
  Transaction txn(*this);
  if (FAILED(txn.status())) return txn.status();
  groupBytes_ += 64;
  Stmt stmt;
  HRESULT hr = Prepare("INSERT INTO objects(parent, kind, num) VALUES(?1, ?2, ?3)", &stmt);
  if (FAILED(hr)) return hr;
  if (sqlite3_bind_int64(stmt.get(), 1, parent) != SQLITE_OK ||
      sqlite3_bind_int(stmt.get(), 2, static_cast<int>(kind)) != SQLITE_OK ||
      sqlite3_bind_int(stmt.get(), 3, num) != SQLITE_OK)
    return Error(SQLITE_ERROR, "bind");
  hr = Step(stmt.get(), nullptr);
  if (FAILED(hr)) return hr;
  sqlite3_int64 id = sqlite3_last_insert_rowid(db_.get());
  if (id <= 0 || id > 0xFFFFFFFFll) return MAPI_E_TOO_BIG;
  *out = static_cast<NodeId>(id);
  return txn.Commit();
}

HRESULT StoreFile::DeleteTree(NodeId node) {
  Transaction txn(*this);
  if (FAILED(txn.status())) return txn.status();
  // Walk the subtree through the children index, then drop rows by id.
  std::vector<NodeId> all{node};
  {
    Stmt stmt;
    HRESULT hr = Prepare("SELECT id FROM objects WHERE parent = ?1", &stmt);
    if (FAILED(hr)) return hr;
    for (size_t i = 0; i < all.size(); ++i) {
      sqlite3_reset(stmt.get());
      if (sqlite3_bind_int64(stmt.get(), 1, all[i]) != SQLITE_OK) return Error(SQLITE_ERROR, "bind");
      for (;;) {
        bool row = false;
        hr = Step(stmt.get(), &row);
        if (FAILED(hr)) return hr;
        if (!row) break;
        all.push_back(static_cast<NodeId>(sqlite3_column_int64(stmt.get(), 0)));
      }
    }
  }
  Stmt delProps, delApart, delObject;
  HRESULT hr = Prepare("DELETE FROM props WHERE object = ?1", &delProps);
  if (FAILED(hr)) return hr;
  hr = Prepare("DELETE FROM apart WHERE object = ?1", &delApart);
  if (FAILED(hr)) return hr;
  hr = Prepare("DELETE FROM objects WHERE id = ?1", &delObject);
  if (FAILED(hr)) return hr;
  for (NodeId id : all) {
    for (sqlite3_stmt* stmt : {delProps.get(), delApart.get(), delObject.get()}) {
      sqlite3_reset(stmt);
      if (sqlite3_bind_int64(stmt, 1, id) != SQLITE_OK) return Error(SQLITE_ERROR, "bind");
      hr = Step(stmt, nullptr);
      if (FAILED(hr)) return hr;
    }
  }
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
  HRESULT hr = Prepare("SELECT count(*) FROM objects WHERE parent = ?1 AND kind = ?2", &stmt);
  if (FAILED(hr)) return hr;
  if (sqlite3_bind_int64(stmt.get(), 1, parent) != SQLITE_OK ||
      sqlite3_bind_int(stmt.get(), 2, static_cast<int>(kind)) != SQLITE_OK)
    return Error(SQLITE_ERROR, "bind");
  bool row = false;
  hr = Step(stmt.get(), &row);
  if (FAILED(hr)) return hr;
  *count = row ? static_cast<ULONG>(sqlite3_column_int64(stmt.get(), 0)) : 0;
  return S_OK;
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

// ---- properties ----

// A property row's value, fetched from the table apart when it lives there.
#define kApartValue                                                                                        \
  "CASE WHEN p.tag & 8589934592 THEN (SELECT a.value FROM apart a WHERE a.object = p.object AND a.propid =" \
  " p.propid) ELSE p.value END"

HRESULT StoreFile::Decode(sqlite3_stmt* stmt, int tagColumn, OwnedProp* out) {
  sqlite3_int64 stored = sqlite3_column_int64(stmt, tagColumn) & ~kApartBit;
  out->tag = static_cast<ULONG>(stored & 0xFFFFFFFF);
  if (!(stored & kPackedBit)) {
    out->data = Blob(stmt, tagColumn + 1);
    return S_OK;
  }
  if (Unpack(sqlite3_column_blob(stmt, tagColumn + 1), static_cast<size_t>(sqlite3_column_bytes(stmt, tagColumn + 1)),
             &out->data))
    return S_OK;
  StoreLog("a value cannot be unpacked in " + path_);
  return MAPI_E_CORRUPT_STORE;
}

HRESULT StoreFile::ReadProps(NodeId node, Row* out) {
  auto lock = Enter();
  out->clear();
  Stmt stmt;
  HRESULT hr = Prepare("SELECT p.tag, " kApartValue " FROM props p WHERE p.object = ?1 ORDER BY p.propid", &stmt);
  if (FAILED(hr)) return hr;
  if (sqlite3_bind_int64(stmt.get(), 1, node) != SQLITE_OK) return Error(SQLITE_ERROR, "bind");
  for (;;) {
    bool row = false;
    hr = Step(stmt.get(), &row);
    if (FAILED(hr)) return hr;
    if (!row) return S_OK;
    out->emplace_back();
    hr = Decode(stmt.get(), 0, &out->back());
    if (FAILED(hr)) return hr;
  }
}

HRESULT StoreFile::ChildRows(sqlite3_stmt* stmt, NodeId parent, NodeKind kind, size_t reserve,
                             std::vector<std::pair<NodeInfo, Row>>* out) {
  for (;;) {
    bool row = false;
    HRESULT hr = Step(stmt, &row);
    if (FAILED(hr)) return hr;
    if (!row) return S_OK;
    NodeId id = static_cast<NodeId>(sqlite3_column_int64(stmt, 0));
    if (out->empty() || out->back().first.id != id) {
      NodeInfo info;
      info.id = id;
      info.parent = parent;
      info.kind = kind;
      info.num = sqlite3_column_int(stmt, 1);
      out->emplace_back(info, Row{});
      out->back().second.reserve(reserve);
    }
    if (sqlite3_column_type(stmt, 2) != SQLITE_NULL) {
      out->back().second.emplace_back();
      hr = Decode(stmt, 2, &out->back().second.back());
      if (FAILED(hr)) return hr;
    }
  }
}

HRESULT StoreFile::ReadChildrenProps(NodeId parent, NodeKind kind, std::vector<std::pair<NodeInfo, Row>>* out,
                                     size_t maxValueBytes) {
  auto lock = Enter();
  out->clear();
  Stmt stmt;
  // The size of a value is known without reading it: larger ones cost nothing.
  HRESULT hr = maxValueBytes
                   ? Prepare("SELECT o.id, o.num, p.tag, p.value FROM objects o LEFT JOIN props p ON p.object = o.id"
                             " AND p.tag < 4294967296 AND length(p.value) <= ?3"
                             " WHERE o.parent = ?1 AND o.kind = ?2 ORDER BY o.id, p.propid",
                             &stmt)
                   : Prepare("SELECT o.id, o.num, p.tag, " kApartValue
                             " FROM objects o LEFT JOIN props p ON p.object = o.id"
                             " WHERE o.parent = ?1 AND o.kind = ?2 ORDER BY o.id, p.propid",
                             &stmt);
  if (FAILED(hr)) return hr;
  if (sqlite3_bind_int64(stmt.get(), 1, parent) != SQLITE_OK ||
      sqlite3_bind_int(stmt.get(), 2, static_cast<int>(kind)) != SQLITE_OK ||
      (maxValueBytes && sqlite3_bind_int64(stmt.get(), 3, static_cast<sqlite3_int64>(maxValueBytes)) != SQLITE_OK))
    return Error(SQLITE_ERROR, "bind");
  return ChildRows(stmt.get(), parent, kind, 0, out);
}

HRESULT StoreFile::ReadChildrenColumns(NodeId parent, NodeKind kind, const std::vector<ULONG>& propIds,
                                       size_t maxValueBytes, std::vector<std::pair<NodeInfo, Row>>* out) {
  if (propIds.size() > kMaxColumnIds || !maxValueBytes) return ReadChildrenProps(parent, kind, out, maxValueBytes);
  auto lock = Enter();
  out->clear();
  Stmt stmt;
  // "+": one seek per message, then its few rows in order, rather than one
  // seek per wanted property.
  HRESULT hr = Prepare(
      "SELECT o.id, o.num, p.tag, p.value FROM objects o LEFT JOIN props p ON p.object = o.id"
      " AND +p.propid IN (?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11) AND p.tag < 4294967296 AND length(p.value) <= ?3"
      " WHERE o.parent = ?1 AND o.kind = ?2 ORDER BY o.id, p.propid",
      &stmt);
  if (FAILED(hr)) return hr;
  bool bound = sqlite3_bind_int64(stmt.get(), 1, parent) == SQLITE_OK &&
               sqlite3_bind_int(stmt.get(), 2, static_cast<int>(kind)) == SQLITE_OK &&
               sqlite3_bind_int64(stmt.get(), 3, static_cast<sqlite3_int64>(maxValueBytes)) == SQLITE_OK;
  for (size_t i = 0; bound && i < kMaxColumnIds; ++i)
    bound = sqlite3_bind_int64(stmt.get(), static_cast<int>(4 + i), i < propIds.size() ? propIds[i] : -1) == SQLITE_OK;
  if (!bound) return Error(SQLITE_ERROR, "bind");
  return ChildRows(stmt.get(), parent, kind, propIds.size() + 8 /* and the identity tables add */, out);
}

HRESULT StoreFile::WriteProp(NodeId node, const OwnedProp& prop) {
  std::string packed;
  if (Pack(prop.data, &packed)) return WriteStored(node, prop.tag | kPackedBit, packed);
  return WriteStored(node, prop.tag, prop.data);
}

HRESULT StoreFile::WriteStored(NodeId node, int64_t tag, const std::string& value) {
  Transaction txn(*this);
  if (FAILED(txn.status())) return txn.status();
  groupBytes_ += value.size() + 32;  // the row's own bytes besides the value, roughly
  const bool apart = (tag & kPackedBit) || value.size() >= kApartFrom;
  const sqlite3_int64 propId = PROP_ID(static_cast<ULONG>(tag & 0xFFFFFFFF));
  Stmt stmt;
  HRESULT hr = Prepare("INSERT OR REPLACE INTO props(object, propid, tag, value) VALUES(?1, ?2, ?3, ?4)", &stmt);
  if (FAILED(hr)) return hr;
  if (sqlite3_bind_int64(stmt.get(), 1, node) != SQLITE_OK || sqlite3_bind_int64(stmt.get(), 2, propId) != SQLITE_OK ||
      sqlite3_bind_int64(stmt.get(), 3, apart ? tag | kApartBit : tag) != SQLITE_OK ||
      sqlite3_bind_blob(stmt.get(), 4, apart ? "" : value.data(), apart ? 0 : static_cast<int>(value.size()),
                        SQLITE_STATIC) != SQLITE_OK)
    return Error(SQLITE_ERROR, "bind");
  hr = Step(stmt.get(), nullptr);
  if (FAILED(hr)) return hr;
  // A value that lives in the row leaves no older one apart behind.
  Stmt other;
  hr = apart ? Prepare("INSERT OR REPLACE INTO apart(object, propid, value) VALUES(?1, ?2, ?3)", &other)
             : Prepare("DELETE FROM apart WHERE object = ?1 AND propid = ?2", &other);
  if (FAILED(hr)) return hr;
  if (sqlite3_bind_int64(other.get(), 1, node) != SQLITE_OK ||
      sqlite3_bind_int64(other.get(), 2, propId) != SQLITE_OK ||
      (apart &&
       sqlite3_bind_blob(other.get(), 3, value.data(), static_cast<int>(value.size()), SQLITE_STATIC) != SQLITE_OK))
    return Error(SQLITE_ERROR, "bind");
  hr = Step(other.get(), nullptr);
  if (FAILED(hr)) return hr;
  return txn.Commit();
}

HRESULT StoreFile::DeleteProp(NodeId node, ULONG propId) {
  Transaction txn(*this);
  if (FAILED(txn.status())) return txn.status();
  for (const char* sql : {"DELETE FROM props WHERE object = ?1 AND propid = ?2",
                          "DELETE FROM apart WHERE object = ?1 AND propid = ?2"}) {
    Stmt stmt;
    HRESULT hr = Prepare(sql, &stmt);
    if (FAILED(hr)) return hr;
    if (sqlite3_bind_int64(stmt.get(), 1, node) != SQLITE_OK || sqlite3_bind_int64(stmt.get(), 2, propId) != SQLITE_OK)
      return Error(SQLITE_ERROR, "bind");
    hr = Step(stmt.get(), nullptr);
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
    hr = dst.NewNode(parent, e.info.kind, e.info.num, &copies[i]);
    if (FAILED(hr)) return hr;
    // Values move as they are stored: nothing is unpacked and packed again.
    for (const StoredProp& prop : e.props) {
      hr = dst.WriteStored(copies[i], prop.tag, prop.value);
      if (FAILED(hr)) return hr;
      if (e.info.kind == NodeKind::Folder && prop.tag == PR_DISPLAY_NAME_W) {
        std::u16string name(prop.value.size() / 2, u'\0');
        std::memcpy(name.data(), prop.value.data(), name.size() * 2);
        hr = dst.SetName(copies[i], name);
        if (FAILED(hr)) return hr;
      }
    }
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
  HRESULT hr = GetNode(node, &first.info);
  if (FAILED(hr)) return hr;
  {
    Stmt stmt;
    hr = Prepare("SELECT p.tag, " kApartValue " FROM props p WHERE p.object = ?1 ORDER BY p.propid", &stmt);
    if (FAILED(hr)) return hr;
    if (sqlite3_bind_int64(stmt.get(), 1, node) != SQLITE_OK) return Error(SQLITE_ERROR, "bind");
    for (;;) {
      bool row = false;
      hr = Step(stmt.get(), &row);
      if (FAILED(hr)) return hr;
      if (!row) break;
      first.props.push_back(StoredProp{sqlite3_column_int64(stmt.get(), 0) & ~kApartBit, Blob(stmt.get(), 1)});
    }
  }
  out->push_back(std::move(first));
  // One query per node for its children of every kind (in kind order);
  // recipient rows have none.
  Stmt stmt;
  hr = Prepare(
      "SELECT o.id, o.kind, o.num, p.tag, " kApartValue " FROM objects o LEFT JOIN props p ON p.object = o.id"
      " WHERE o.parent = ?1 ORDER BY o.kind, o.id, p.propid",
      &stmt);
  if (FAILED(hr)) return hr;
  for (size_t i = 0; i < out->size(); ++i) {
    const NodeId parent = (*out)[i].info.id;
    if ((*out)[i].info.kind == NodeKind::Recip) continue;
    sqlite3_reset(stmt.get());
    if (sqlite3_bind_int64(stmt.get(), 1, parent) != SQLITE_OK) return Error(SQLITE_ERROR, "bind");
    const size_t first = out->size();
    for (;;) {
      bool row = false;
      hr = Step(stmt.get(), &row);
      if (FAILED(hr)) return hr;
      if (!row) break;
      NodeId id = static_cast<NodeId>(sqlite3_column_int64(stmt.get(), 0));
      if (out->size() == first || out->back().info.id != id) {
        TreeEntry e;
        e.info.id = id;
        e.info.parent = parent;
        e.info.kind = static_cast<NodeKind>(sqlite3_column_int(stmt.get(), 1));
        e.info.num = sqlite3_column_int(stmt.get(), 2);
        e.parentIndex = i;
        out->push_back(std::move(e));
      }
      if (sqlite3_column_type(stmt.get(), 3) != SQLITE_NULL)
        out->back().props.push_back(StoredProp{sqlite3_column_int64(stmt.get(), 3) & ~kApartBit, Blob(stmt.get(), 4)});
    }
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
