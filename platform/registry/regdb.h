// The registry database of the platform root: HKEY_LOCAL_MACHINE and
// HKEY_CURRENT_USER in one SQLite file ("registry.db") shared by every process
// of the root.
//
// Contract: every function here runs with the registry lock held (Session takes
// it). A database failure throws DbFailure carrying the Win32 code the calling
// Reg* function returns; nothing else in the registry throws it. Writes happen
// inside one Transaction(kWrite) (BEGIN IMMEDIATE), multi-statement reads inside
// one Transaction(kRead), so other processes never see half a change.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

#include <windows.h>

namespace standin::reg {

using KeyId = int64_t;
// The two roots exist in every database under fixed ids.
inline constexpr KeyId kMachineKey = 1;  // HKEY_LOCAL_MACHINE
inline constexpr KeyId kUserKey = 2;     // HKEY_CURRENT_USER

// "CVRG": tells our database from any other SQLite file.
inline constexpr int32_t kApplicationId = 0x43565247;
inline constexpr int32_t kSchemaVersion = 1;

struct DbFailure {
  LONG code;
};

// One prepared statement of the connection's cache; reset when the wrapper dies.
class Stmt {
 public:
  // inUse: the cache's busy flag, cleared on destruction; null for a private
  // statement, finalized on destruction.
  Stmt(sqlite3_stmt* s, bool* inUse) : s_(s), inUse_(inUse) {}
  ~Stmt();
  Stmt(Stmt&& other) noexcept : s_(other.s_), inUse_(other.inUse_) { other.s_ = nullptr; }
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;

  Stmt& Bind(int i, int64_t v);
  // Bytes as a BLOB; an empty view binds a zero-length BLOB, never NULL.
  Stmt& BindBytes(int i, std::string_view bytes);
  // Runs one step: true when a row is there, false when done.
  bool Step();
  // Runs to completion; for statements without rows.
  void Run();

  int64_t Int(int col) const { return sqlite3_column_int64(s_, col); }
  bool IsNull(int col) const { return sqlite3_column_type(s_, col) == SQLITE_NULL; }
  std::string Bytes(int col) const;
  // A BLOB holding UTF-16LE code units.
  std::u16string Utf16(int col) const;

 private:
  sqlite3_stmt* s_;
  bool* inUse_;
};

class Database {
 public:
  // Makes sure the connection is open on the current root's database: reopens
  // when the root changed or the file was replaced. Throws DbFailure.
  void Ensure();
  // Closes the connection; the next Ensure opens it again.
  void Close();
  // Names the open database: keys opened under another generation belong to
  // another database.
  uint64_t generation() const { return generation_; }

  Stmt Prepare(const char* sql);
  void Exec(const char* sql);
  // Maps a failed SQLite result to a Win32 code, tells the debugger what went
  // wrong with the file, and throws.
  [[noreturn]] void Throw(int rc);
  sqlite3* handle() const { return db_; }

 private:
  struct CachedStmt {
    sqlite3_stmt* stmt;
    bool inUse;
  };
  void OpenAt(const std::string& path);
  void CheckSchema();
  void CreateSchema();
  int64_t QueryInt(const char* sql);
  [[noreturn]] void Refuse(LONG code, const std::string& reason);

  sqlite3* db_ = nullptr;
  bool broken_ = false;  // reopen before the next use
  std::string path_;
  uint64_t dev_ = 0, ino_ = 0;
  std::string instance_;
  uint64_t generation_ = 0;
  std::unordered_map<std::string, uint64_t> generations_;
  // Keyed by the SQL text's address: every caller passes a literal.
  std::unordered_map<const char*, CachedStmt> cache_;
  std::string lastReport_;
};

// The registry lock and the connection of this process.
std::mutex& RegistryMutex();
Database& Db();

class Transaction {
 public:
  enum Kind { kRead, kWrite };
  explicit Transaction(Kind kind);
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  void Commit();

 private:
  bool open_ = false;
};

// The current time as a FILETIME count, for last-write times.
int64_t Now();

}  // namespace standin::reg
