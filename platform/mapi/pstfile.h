// A personal-folders file written by the mail client itself, read through
// libpff. It is only ever read: the objects over it refuse every write.
//
// Opening walks the whole folder tree and every folder's list of messages, so
// a damaged or cut-off file is refused at once rather than half-way through a
// copy. Damage confined to single messages is not the file's: such a message
// stays listed (when its identity can be read) and fails its own reads; every
// message or property left out is logged with its folder and position. The
// file's checksums, which libpff leaves unchecked, are checked here: those of
// the B-trees and the folders at open, a message's when it is read. Entry identifiers have the stand-in's 24-byte shape (4 flag bytes, the
// store's UID, the node number), the node number being the file's own node
// identifier of the folder or message.
//
// Thread safety: libpff is not; every call into it holds the file's mutex.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core.h"
#include "pstblocks.h"

typedef intptr_t libpff_file_t;

namespace standin::mapi {

class PstFile {
 public:
  // Whether the file starts with the personal-folders header magic.
  static bool HasMagic(const std::string& posixPath);
  // MAPI_E_NOT_FOUND for a missing file; MAPI_E_CORRUPT_STORE, logged with
  // the reason, for one that cannot be read whole; MAPI_E_NO_ACCESS, logged,
  // for one protected by a password.
  static HRESULT Open(const std::string& posixPath, std::shared_ptr<PstFile>* out);
  ~PstFile();

  const MAPIUID& uid() const { return uid_; }
  const std::string& path() const { return path_; }
  uint32_t root() const { return root_; }

  std::string EntryId(uint32_t node) const;
  // MAPI_E_INVALID_ENTRYID when malformed or of another store.
  HRESULT ParseEntryId(const void* bytes, size_t size, uint32_t* node) const;

  struct Folder {
    uint32_t parent = 0;
    std::string name;
    std::vector<uint32_t> folders;
    std::vector<uint32_t> messages;
  };
  // Null when node is no folder of the file.
  const Folder* FindFolder(uint32_t node) const;
  // The folder holding a message; 0 when node is no message of the file.
  uint32_t MessageFolder(uint32_t node) const;

  // The message store's own properties (special folders, record key, name).
  HRESULT StoreProps(Row* row);
  // A folder's or message's stored properties; those that cannot be read are
  // left out and logged. MAPI_E_CORRUPT_DATA, logged, for an item that cannot
  // be read at all. A table's row reads only the properties of ids (all when
  // null) whose values hold at most maxValueBytes (any when 0).
  HRESULT ItemProps(uint32_t node, Row* row, const std::vector<ULONG>* ids = nullptr, size_t maxValueBytes = 0);
  // A message's recipient rows and attachment rows (attachment data included);
  // MAPI_E_CORRUPT_DATA, logged, when one of them cannot be read.
  HRESULT MessageParts(uint32_t node, std::vector<Row>* recips, std::vector<Row>* attachs);

 private:
  PstFile() = default;
  HRESULT Walk(void* folderItem, uint32_t parent, int depth);
  // What node is, for the log: "reading <path>: folder 'Inbox', item 3".
  std::string Where(uint32_t node) const;
  // Whether node's blocks pass their checksums; logged when not.
  HRESULT CheckBlocks(uint32_t node);

  libpff_file_t* file_ = nullptr;
  std::unique_ptr<PstBlocks> blocks_;
  std::string path_;
  MAPIUID uid_{};
  uint32_t root_ = 0;
  std::map<uint32_t, Folder> folders_;
  struct Placed {
    uint32_t folder;
    int position;  // in the folder's own list, from 1
  };
  std::map<uint32_t, Placed> messages_;
  // The code page of 8-bit text where an item names none: the store's own,
  // else the one the file's writers default to; libpff decodes with
  // pffCodePage_, the store's where it knows it.
  uint32_t codePage_ = 1252, pffCodePage_ = 1252;
  std::mutex mutex_;
};

// A real file opened as a read-only message store.
HRESULT OpenPstStore(const std::string& posixPath, const std::u16string& displayName, LPMDB* out);

}  // namespace standin::mapi
