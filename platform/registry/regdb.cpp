#include "regdb.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <standin/registry.h>
#include <standin/root.h>

#include "regnames.h"

namespace standin::reg {
namespace {

// Long enough for another process's transaction; locks of a process that died
// are released by the system.
constexpr int kBusyTimeoutMs = 15000;

const char* const kSchema = R"sql(
CREATE TABLE keys (
  id       INTEGER PRIMARY KEY AUTOINCREMENT,
  parent   INTEGER,
  name     BLOB NOT NULL,
  fold     BLOB NOT NULL,
  class    BLOB NOT NULL DEFAULT x'',
  volatile INTEGER NOT NULL DEFAULT 0,
  readonly INTEGER NOT NULL DEFAULT 0,
  written  INTEGER NOT NULL
);
CREATE UNIQUE INDEX keys_by_parent ON keys(parent, fold);
CREATE TABLE vals (
  key  INTEGER NOT NULL,
  fold BLOB NOT NULL,
  seq  INTEGER NOT NULL,
  name BLOB NOT NULL,
  type INTEGER NOT NULL,
  data BLOB NOT NULL,
  PRIMARY KEY (key, fold)
) WITHOUT ROWID;
CREATE INDEX vals_in_order ON vals(key, seq);
CREATE TABLE machine (instance BLOB NOT NULL);
INSERT INTO machine(instance) VALUES (randomblob(16));
)sql";

std::string CodeName(LONG code) {
  switch (code) {
    case ERROR_BADDB: return "ERROR_BADDB";
    case ERROR_REGISTRY_CORRUPT: return "ERROR_REGISTRY_CORRUPT";
    case ERROR_REGISTRY_IO_FAILED: return "ERROR_REGISTRY_IO_FAILED";
    case ERROR_DISK_FULL: return "ERROR_DISK_FULL";
    case ERROR_ACCESS_DENIED: return "ERROR_ACCESS_DENIED";
    case ERROR_OUTOFMEMORY: return "ERROR_OUTOFMEMORY";
    default: return "error " + std::to_string(code);
  }
}

}  // namespace

// ---- statements ----

Stmt::~Stmt() {
  if (!s_) return;
  if (!inUse_) {
    sqlite3_finalize(s_);
    return;
  }
  sqlite3_reset(s_);
  sqlite3_clear_bindings(s_);
  *inUse_ = false;
}

Stmt& Stmt::Bind(int i, int64_t v) {
  sqlite3_bind_int64(s_, i, v);
  return *this;
}

Stmt& Stmt::BindBytes(int i, std::string_view bytes) {
  sqlite3_bind_blob64(s_, i, bytes.empty() ? "" : bytes.data(), bytes.size(), SQLITE_TRANSIENT);
  return *this;
}

bool Stmt::Step() {
  int rc = sqlite3_step(s_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  Db().Throw(rc);
}

void Stmt::Run() {
  while (Step()) {
  }
}

std::string Stmt::Bytes(int col) const {
  const void* p = sqlite3_column_blob(s_, col);
  int n = sqlite3_column_bytes(s_, col);
  return p && n > 0 ? std::string(static_cast<const char*>(p), static_cast<size_t>(n)) : std::string();
}

std::u16string Stmt::Utf16(int col) const { return NameFromBytes(Bytes(col)); }

// ---- the connection ----

std::mutex& RegistryMutex() {
  static std::mutex* m = new std::mutex;
  return *m;
}

Database& Db() {
  static Database* db = new Database;
  return *db;
}

void Database::Ensure() {
  std::string path = RegistryDatabasePath();
  if (db_ && !broken_ && path == path_) {
    struct stat st {};
    if (stat(path.c_str(), &st) == 0 && static_cast<uint64_t>(st.st_dev) == dev_ &&
        static_cast<uint64_t>(st.st_ino) == ino_)
      return;
  }
  Close();
  OpenAt(path);
}

void Database::Close() {
  for (auto& [sql, entry] : cache_) sqlite3_finalize(entry.stmt);
  cache_.clear();
  if (db_) sqlite3_close_v2(db_);
  db_ = nullptr;
  broken_ = false;
}

namespace {

// Held while a process opens the database: the first opener makes the schema
// and switches to WAL, and other processes must not look in between.
class OpenLock {
 public:
  explicit OpenLock(const std::string& dbPath) {
    fd_ = open((dbPath + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd_ >= 0)
      while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
      }
  }
  ~OpenLock() {
    if (fd_ >= 0) close(fd_);
  }
  OpenLock(const OpenLock&) = delete;
  OpenLock& operator=(const OpenLock&) = delete;

 private:
  int fd_ = -1;
};

}  // namespace

void Database::OpenAt(const std::string& path) {
  path_ = path;
  OpenLock lock(path);
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                           nullptr);
  if (rc != SQLITE_OK) {
    std::string why = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    sqlite3_close_v2(db);
    Refuse(rc == SQLITE_NOMEM ? ERROR_OUTOFMEMORY : ERROR_REGISTRY_IO_FAILED, "cannot be opened (" + why + ")");
  }
  db_ = db;
  sqlite3_extended_result_codes(db_, 1);
  sqlite3_busy_timeout(db_, kBusyTimeoutMs);
  try {
    CheckSchema();
  } catch (const DbFailure&) {
    Close();
    throw;
  }
  struct stat st {};
  if (stat(path.c_str(), &st) == 0) {
    dev_ = static_cast<uint64_t>(st.st_dev);
    ino_ = static_cast<uint64_t>(st.st_ino);
  }
  // Keys opened in another database (another root, a file made anew) name other
  // keys; the database's own instance id tells them apart.
  generation_ = generations_.emplace(path + '#' + instance_, generations_.size() + 1).first->second;
  lastReport_.clear();
}

int64_t Database::QueryInt(const char* sql) {
  Stmt s = Prepare(sql);
  return s.Step() ? s.Int(0) : 0;
}

void Database::CheckSchema() {
  int64_t appId = QueryInt("PRAGMA application_id");
  int64_t version = QueryInt("PRAGMA user_version");
  if (appId == 0 && version == 0 && QueryInt("SELECT count(*) FROM sqlite_master") == 0) {
    Exec("PRAGMA journal_mode=WAL");
    CreateSchema();
    appId = QueryInt("PRAGMA application_id");
    version = QueryInt("PRAGMA user_version");
  }
  if (static_cast<int32_t>(appId) != kApplicationId) {
    char id[16];
    snprintf(id, sizeof id, "0x%08x", static_cast<unsigned>(appId));
    Refuse(ERROR_BADDB, std::string("is not a registry database (application id ") + id + ")");
  }
  if (version != kSchemaVersion)
    Refuse(ERROR_BADDB, "has registry schema version " + std::to_string(version) + ", this build reads version " +
                            std::to_string(kSchemaVersion));
  Exec("PRAGMA journal_mode=WAL");
  Exec("PRAGMA synchronous=NORMAL");
  {
    Stmt check = Prepare("PRAGMA quick_check(1)");
    std::string verdict = check.Step() ? check.Bytes(0) : std::string("no verdict");
    if (verdict != "ok") Refuse(ERROR_BADDB, "is damaged (" + verdict + ")");
  }
  if (QueryInt("SELECT count(*) FROM keys WHERE id IN (1, 2) AND parent IS NULL") != 2)
    Refuse(ERROR_BADDB, "has lost its root keys");
  Stmt instance = Prepare("SELECT instance FROM machine");
  if (!instance.Step()) Refuse(ERROR_BADDB, "has lost its instance id");
  instance_ = instance.Bytes(0);
}

void Database::CreateSchema() {
  Transaction t(Transaction::kWrite);
  // Another process may have won the race to create it.
  if (QueryInt("PRAGMA user_version") != 0 || QueryInt("SELECT count(*) FROM sqlite_master") != 0) return;
  Exec(kSchema);
  int64_t now = Now();
  auto add = [&](int64_t id, int64_t parent, std::u16string_view name) {
    Stmt s = Prepare("INSERT INTO keys(id, parent, name, fold, written) VALUES (?1, ?2, ?3, ?4, ?5)");
    s.Bind(1, id).BindBytes(3, NameBytes(name)).BindBytes(4, FoldedName(name)).Bind(5, now);
    if (parent) s.Bind(2, parent);
    s.Run();
  };
  add(kMachineKey, 0, u"MACHINE");
  add(kUserKey, 0, u"USER");
  add(3, kMachineKey, u"SOFTWARE");
  add(4, 3, u"Classes");
  add(5, kUserKey, u"Software");
  Exec(("PRAGMA application_id=" + std::to_string(kApplicationId)).c_str());
  Exec(("PRAGMA user_version=" + std::to_string(kSchemaVersion)).c_str());
  t.Commit();
}

Stmt Database::Prepare(const char* sql) {
  auto it = cache_.find(sql);
  if (it == cache_.end()) {
    sqlite3_stmt* s = nullptr;
    int rc = sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &s, nullptr);
    if (rc != SQLITE_OK) Throw(rc);
    it = cache_.emplace(sql, CachedStmt{s, false}).first;
  }
  if (it->second.inUse) {
    // The cached one is busy further up the stack: use a private copy.
    sqlite3_stmt* s = nullptr;
    int rc = sqlite3_prepare_v2(db_, sql, -1, &s, nullptr);
    if (rc != SQLITE_OK) Throw(rc);
    return Stmt(s, nullptr);
  }
  it->second.inUse = true;
  return Stmt(it->second.stmt, &it->second.inUse);
}

void Database::Exec(const char* sql) {
  int rc = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) Throw(rc);
}

void Database::Throw(int rc) {
  std::string detail = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
  switch (rc & 0xFF) {
    case SQLITE_NOTADB: broken_ = true; Refuse(ERROR_BADDB, "is not a registry database (" + detail + ")");
    case SQLITE_CORRUPT: broken_ = true; Refuse(ERROR_BADDB, "is damaged (" + detail + ")");
    case SQLITE_FULL: Refuse(ERROR_DISK_FULL, "cannot grow: the disk is full");
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      Refuse(ERROR_REGISTRY_IO_FAILED,
             "stayed locked by another process for " + std::to_string(kBusyTimeoutMs / 1000) + " seconds");
    case SQLITE_IOERR:
    case SQLITE_CANTOPEN: broken_ = true; Refuse(ERROR_REGISTRY_IO_FAILED, "cannot be read or written (" + detail + ")");
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH: Refuse(ERROR_ACCESS_DENIED, "may not be written (" + detail + ")");
    case SQLITE_NOMEM: throw DbFailure{ERROR_OUTOFMEMORY};
    default: broken_ = true; Refuse(ERROR_BADDB, "cannot be used (" + detail + ")");
  }
}

void Database::Refuse(LONG code, const std::string& reason) {
  // One line per distinct trouble, not one per call.
  std::string line = "registry: " + path_ + " " + reason + "; registry calls fail with " + CodeName(code) + "\n";
  if (line != lastReport_) {
    lastReport_ = line;
    OutputDebugStringW(ToUtf16(line).c_str());
  }
  throw DbFailure{code};
}

// ---- transactions ----

Transaction::Transaction(Kind kind) {
  Db().Exec(kind == kWrite ? "BEGIN IMMEDIATE" : "BEGIN");
  open_ = true;
}

Transaction::~Transaction() {
  if (open_ && Db().handle()) sqlite3_exec(Db().handle(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void Transaction::Commit() {
  Db().Exec("COMMIT");
  open_ = false;
}

int64_t Now() {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  return static_cast<int64_t>(static_cast<uint64_t>(ft.dwHighDateTime) << 32 | ft.dwLowDateTime);
}

}  // namespace standin::reg

namespace standin {

std::string RegistryDatabasePath() { return RootPath("registry.db"); }

}  // namespace standin
