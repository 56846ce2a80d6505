// A store file: one SQLite database holding a tree of objects (folders,
// messages, attachments, recipient rows), each a row with its properties
// packed into it (large values apart), a contents index of the messages and
// the children counts of each node.
//
// Thread safety: one StoreFile is one connection; its calls are serialised by
// an internal mutex. Several StoreFiles (in one process or many) may use the
// same file at once; SQLite's locking (WAL, busy timeout) arbitrates.
//
// Durability: each change is atomic, and consecutive changes of a connection
// join one open transaction, the group, committed once it has run kGroupTime
// or holds kGroupBytes, on CommitGroup (a store released, a session logged
// off, a store's SaveChanges), before another connection of this process uses
// the same file, when the connection closes and at process exit. A process
// killed meanwhile loses the open group only: the file opens with every
// earlier commit. Other processes see the changes up to the last commit.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "core.h"

struct sqlite3;
struct sqlite3_stmt;

namespace standin::mapi {

enum class NodeKind : int { Store = 0, Folder = 1, Message = 2, Attach = 3, Recip = 4 };
using NodeId = uint32_t;

// Node numbers that every store file has.
constexpr NodeId kStoreNode = 1;
constexpr NodeId kRootNode = 2;
constexpr size_t kEntryIdSize = 24;

struct NodeInfo {
  NodeId id = 0;
  NodeId parent = 0;
  NodeKind kind = NodeKind::Folder;
  LONG num = 0;  // attachment number or recipient row id
};

// A property as a node's row keeps it: the value's bytes, or none when the
// value is kept apart (deflated or large).
struct PackedEntry {
  ULONG tag = 0;
  unsigned char flags = 0;
  std::string value;
};

struct SqliteCloser {
  void operator()(sqlite3* db) const;
};
struct StmtCloser {
  void operator()(sqlite3_stmt* stmt) const;
};
using DbPtr = std::unique_ptr<sqlite3, SqliteCloser>;
using StmtPtr = std::unique_ptr<sqlite3_stmt, StmtCloser>;

class STANDIN_API StoreFile {
 public:
  // posixPath must not exist yet (MAPI_E_COLLISION otherwise).
  static HRESULT Create(const std::string& posixPath, std::shared_ptr<StoreFile>* out);
  // MAPI_E_NOT_FOUND for a missing file; MAPI_E_CORRUPT_STORE for anything that
  // is not an intact store file of this schema version.
  static HRESULT Open(const std::string& posixPath, std::shared_ptr<StoreFile>* out);

  const MAPIUID& uid() const { return uid_; }
  const std::string& path() const { return path_; }

  // 4 flag bytes (0), the UID, the node number little-endian.
  std::string EntryId(NodeId node) const;
  // MAPI_E_INVALID_ENTRYID when malformed or of another store.
  HRESULT ParseEntryId(const void* bytes, size_t size, NodeId* node) const;

  // Commits the open group, if any, unless an explicit Transaction is still
  // open on this connection (its changes commit with it).
  HRESULT CommitGroup();
  // The group is committed once it has run this long or holds this many
  // bytes of values, checked as each change ends.
  static constexpr std::chrono::milliseconds kGroupTime{50};
  static constexpr size_t kGroupBytes = size_t(8) << 20;

  // An explicit transaction makes several calls one change: all of them or
  // none. Nested use is flat: only the outermost ends the change, which then
  // stays in the connection's group.
  class Transaction {
   public:
    explicit Transaction(StoreFile& file);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    HRESULT status() const { return status_; }
    HRESULT Commit();

   private:
    void Undo();
    StoreFile& file_;
    std::unique_lock<std::recursive_mutex> lock_;
    HRESULT status_ = S_OK;
    bool outer_ = false;
    bool done_ = false;
  };

  HRESULT GetNode(NodeId node, NodeInfo* info);
  HRESULT NewNode(NodeId parent, NodeKind kind, LONG num, NodeId* out);
  // Removes the node, everything below it and all their properties.
  HRESULT DeleteTree(NodeId node);
  HRESULT Children(NodeId parent, NodeKind kind, std::vector<NodeInfo>* out);
  // Counts kept as children come and go: never counted afresh.
  HRESULT CountChildren(NodeId parent, NodeKind kind, ULONG* count);
  // The messages of a folder whose flags do not say they were read.
  HRESULT CountUnread(NodeId folder, ULONG* count);
  // Folder names are kept beside the node for case-insensitive lookup.
  HRESULT SetName(NodeId node, const std::u16string& name);
  HRESULT FindChildFolder(NodeId parent, const std::u16string& name, NodeId* out);

  HRESULT ReadProps(NodeId node, Row* row);
  // All children of a kind with their properties, in creation order, read
  // with one query. With maxValueBytes, values larger than that are left out
  // unread (a table's rows need no bodies).
  HRESULT ReadChildrenProps(NodeId parent, NodeKind kind, std::vector<std::pair<NodeInfo, Row>>* out,
                            size_t maxValueBytes = 0);
  // The same with values of those property ids only, none larger than
  // maxValueBytes. Messages asked for columns their contents index holds
  // are read from the index alone.
  HRESULT ReadChildrenColumns(NodeId parent, NodeKind kind, const std::vector<ULONG>& propIds, size_t maxValueBytes,
                              std::vector<std::pair<NodeInfo, Row>>* out);
  // Replaces any values with the same property ids and removes those of
  // deletedIds, as one change of the node's row. MAPI_E_NOT_FOUND for no node.
  HRESULT WriteProps(NodeId node, const Row& props, const std::vector<ULONG>& deletedIds = {});
  HRESULT WriteProp(NodeId node, const OwnedProp& prop) { return WriteProps(node, Row{prop}); }
  HRESULT DeleteProp(NodeId node, ULONG propId) { return WriteProps(node, Row{}, {propId}); }

  // Copies a node with its subtree (properties included) below dstParent of
  // dst, which may be this file or another. dst's changes form one transaction.
  HRESULT CopyTree(NodeId node, StoreFile& dst, NodeId dstParent, NodeId* out);

  // Receive folders: message class (case-insensitive) -> folder.
  HRESULT SetReceiveFolder(const std::string& messageClass, NodeId folder);
  HRESULT GetReceiveFolder(const std::string& messageClass, NodeId* folder, std::string* explicitClass);

  ~StoreFile();

  // What the connections of this process to one file share.
  struct Shared;

 private:
  StoreFile() = default;
  // The connection's lock, taken once the groups of other connections of
  // this process to the same file are committed, so that it sees them and
  // can write.
  std::unique_lock<std::recursive_mutex> Enter();
  // Commits the groups of other connections of this process to this file.
  void CommitOthers();
  // Makes the file known to the process's other connections to it.
  static HRESULT Register(const std::shared_ptr<StoreFile>& file);
  // COMMIT of the open group; the mutex is held.
  HRESULT EndGroup();
  // A statement of the connection's cache, lent for one use: reset and its
  // bindings cleared when the use ends, so it holds no read lock afterwards.
  class Stmt {
   public:
    Stmt() = default;
    ~Stmt();
    Stmt(const Stmt&) = delete;
    Stmt& operator=(const Stmt&) = delete;
    sqlite3_stmt* get() const { return stmt_; }

   private:
    friend class StoreFile;
    sqlite3_stmt* stmt_ = nullptr;
  };
  static HRESULT OpenDb(const std::string& posixPath, bool create, DbPtr* db);
  // Statements are prepared once per connection; sql must be a literal (its
  // address is the key).
  HRESULT Prepare(const char* sql, Stmt* stmt);
  HRESULT Exec(const char* sql);
  HRESULT Step(sqlite3_stmt* stmt, bool* row);  // SQLITE_ROW -> true, DONE -> false
  HRESULT Error(int rc, const char* what);
  using Entries = std::vector<PackedEntry>;
  using ApartValues = std::vector<std::pair<ULONG, std::string>>;  // property id, stored bytes
  // MAPI_E_CORRUPT_STORE, logged.
  HRESULT Corrupt(NodeId node, const char* what);
  // A node's row, its properties too unless entries is null;
  // MAPI_E_NOT_FOUND when there is none.
  HRESULT LoadNode(NodeId node, NodeInfo* info, Entries* entries);
  HRESULT LoadApart(NodeId node, ApartValues* out);
  // The entries as properties. With maxValueBytes, values kept apart or
  // larger than that are left out; otherwise those apart are read.
  HRESULT ToRow(NodeId node, const Entries& entries, size_t maxValueBytes, Row* out);
  HRESULT InsertNode(NodeId parent, NodeKind kind, LONG num, const std::string* name, const Entries& entries,
                     const ApartValues& apart, NodeId* out);
  HRESULT AdjustCount(NodeId parent, int kind, int delta);
  HRESULT PutIndex(NodeId parent, NodeId node, const Entries& entries);
  // Rows of (id, num, props), a node each, read into out.
  HRESULT NodeRows(sqlite3_stmt* stmt, NodeId parent, NodeKind kind, const std::vector<ULONG>* propIds,
                   size_t maxValueBytes, std::vector<std::pair<NodeInfo, Row>>* out);
  // Versions 1 and 2 to this one, in the open transaction.
  HRESULT Upgrade();
  struct TreeEntry {
    NodeInfo info;
    bool named = false;
    std::string name;
    Entries entries;
    ApartValues apart;
    size_t parentIndex = 0;  // position of the parent in the list
  };
  // The node and everything below it, parents before children.
  HRESULT ReadTree(NodeId node, std::vector<TreeEntry>* out);

  DbPtr db_;
  std::unordered_map<const char*, StmtPtr> statements_;  // after db_: finalised before it closes
  std::string path_;
  MAPIUID uid_{};
  std::recursive_mutex mutex_;
  int depth_ = 0;
  // The file as the process knows it: the connections to it and how many of
  // them hold an open group.
  std::shared_ptr<Shared> shared_;
  std::atomic<bool> group_{false};
  std::chrono::steady_clock::time_point groupStart_;
  size_t groupBytes_ = 0;
};

// A new store file is made under a name of its own beside its path and moved
// to the path only once whole, so that a process killed while making it leaves
// no file there that cannot be opened. What such a process left is removed by
// the next creation beside the same path; what this one leaves unpublished
// goes when it is destroyed.
class STANDIN_API NewStoreName {
 public:
  explicit NewStoreName(const std::string& posixPath);
  ~NewStoreName();
  NewStoreName(const NewStoreName&) = delete;
  NewStoreName& operator=(const NewStoreName&) = delete;

  // MAPI_E_COLLISION when something has the path already.
  HRESULT Check() const;
  const std::string& partial() const { return partial_; }
  // Moves the finished file to the path, which must still be free
  // (MAPI_E_COLLISION). Every connection to it must be closed by then: the
  // write-ahead log is named after the file and would not follow it.
  HRESULT Publish();

 private:
  std::string path_;
  std::string partial_;
  bool published_ = false;
};

// Result of a SQLite code as MAPI reports it.
HRESULT SqliteResult(int rc);

// A line of the stores' debug log: "Corvane store: <line>".
void StoreLog(const std::string& line);

// The current time as a FILETIME.
FILETIME NowFileTime();

}  // namespace standin::mapi
