#include "pstfile.h"

#include <iconv.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>

#include <libpff.h>

#include <standin/fault.h>

#include "store.h"

namespace standin::mapi {

namespace {

constexpr char kMagic[4] = {'!', 'B', 'D', 'N'};
// Folder trees deeper than this are taken for a loop in a damaged file.
constexpr int kMaxDepth = 256;
// The message store's checksum of its password; absent or 0 without one.
constexpr ULONG kPasswordChecksum = PROP_TAG(PT_LONG, 0x67FF);
// A node identifier's low bits name its type; a folder's tables share its index.
constexpr uint32_t kNidTypeMask = 0x1F, kHierarchyTable = 0x0D, kContentsTable = 0x0E;
// The file's own node of its message store.
constexpr uint32_t kStoreNid = 0x21;

// A libpff error, freed on every path; Text() is its first line.
class PffError {
 public:
  PffError() = default;
  PffError(const PffError&) = delete;
  PffError& operator=(const PffError&) = delete;
  ~PffError() {
    if (error_) libpff_error_free(&error_);
  }
  libpff_error_t** Put() {
    if (error_) libpff_error_free(&error_);
    return &error_;
  }
  std::string Text() const {
    if (!error_) return "unreadable";
    char buffer[512] = {};
    if (libpff_error_sprint(error_, buffer, sizeof buffer) < 0) return "unreadable";
    std::string text(buffer);
    size_t end = text.find_first_of("\r\n");
    return end == std::string::npos ? text : text.substr(0, end);
  }

 private:
  libpff_error_t* error_ = nullptr;
};

template <class T, int (*Free)(T**, libpff_error_t**)>
class PffHandle {
 public:
  PffHandle() = default;
  PffHandle(const PffHandle&) = delete;
  PffHandle& operator=(const PffHandle&) = delete;
  ~PffHandle() {
    if (handle_) Free(&handle_, nullptr);
  }
  T** Put() {
    if (handle_) Free(&handle_, nullptr);
    return &handle_;
  }
  T* Get() const { return handle_; }

 private:
  T* handle_ = nullptr;
};
using ItemPtr = PffHandle<libpff_item_t, libpff_item_free>;
using RecordSetPtr = PffHandle<libpff_record_set_t, libpff_record_set_free>;
using RecordEntryPtr = PffHandle<libpff_record_entry_t, libpff_record_entry_free>;

// The fault seam at the reader's calls into libpff, named after the call: an
// armed call is taken for one that libpff refused.
bool Refused(const char* call) {
  int32_t code = 0;
  return ::standin::TakeFault(call, &code);
}

std::string Hex(uint32_t value, int digits = 8) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%0*X", digits, value);
  return text;
}

uint64_t ReadLe(const unsigned char* bytes, size_t size) {
  uint64_t value = 0;
  for (size_t i = size; i-- > 0;) value = (value << 8) | bytes[i];
  return value;
}

// The header names the file's end: a shorter file was cut off.
bool HeaderMatchesSize(const std::string& path, std::string* why) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    *why = "cannot be read";
    return false;
  }
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) {
    *why = "cannot be read";
    return false;
  }
  unsigned char header[0xC0] = {};
  size_t got = std::fread(header, 1, sizeof header, f);
  std::fclose(f);
  uint64_t version = got >= 12 ? ReadLe(header + 10, 2) : 0;
  bool unicode = version >= 23;
  size_t need = unicode ? 0xC0 : 0xAC;
  if (got < need || (version != 14 && version != 15 && !unicode)) {
    *why = "its header is incomplete or of an unknown version";
    return false;
  }
  uint64_t eof = unicode ? ReadLe(header + 0xB8, 8) : ReadLe(header + 0xA8, 4);
  if (static_cast<uint64_t>(st.st_size) < eof) {
    *why = "it is cut off: its header names " + std::to_string(eof) + " bytes, the file holds " +
           std::to_string(st.st_size);
    return false;
  }
  return true;
}

// The iconv name of a Windows code page.
std::string IconvName(uint32_t codePage) {
  switch (codePage) {
    case 65001: return "UTF-8";
    case 20127: return "ASCII";
    case 20866: return "KOI8-R";
    case 21866: return "KOI8-U";
    case 50220:
    case 50221:
    case 50222: return "ISO-2022-JP";
    case 50225: return "ISO-2022-KR";
    case 51932: return "EUC-JP";
    case 51936: return "GB2312";
    case 51949: return "EUC-KR";
    case 54936: return "GB18030";
    case 10000: return "MACINTOSH";
    default:
      if (codePage > 28590 && codePage <= 28606) return "ISO-8859-" + std::to_string(codePage - 28590);
      return "CP" + std::to_string(codePage);
  }
}

// The internet code pages that are 7-bit forms of a Windows code page: a
// client keeps such a message's 8-bit text in the Windows one.
uint32_t EightBitForm(uint32_t codePage) {
  switch (codePage) {
    case 50220:
    case 50221:
    case 50222: return 932;
    case 50225: return 949;
    case 50227:
    case 52936: return 936;
    default: return codePage;
  }
}

// 8-bit text of codePage, wide; nullopt when the code page is unknown here,
// the bytes are not of it, or a NUL inside says the value is not plain
// 8-bit text (libpff knows those quirks of the format).
std::optional<std::u16string> Widen(std::string bytes, uint32_t codePage) {
  while (!bytes.empty() && bytes.back() == '\0') bytes.pop_back();
  if (bytes.find('\0') != std::string::npos) return std::nullopt;
  if (std::any_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; }))
    codePage = EightBitForm(codePage);
  std::unique_ptr<void, int (*)(iconv_t)> cd(iconv_open("UTF-16LE", IconvName(codePage).c_str()), iconv_close);
  if (cd.get() == reinterpret_cast<iconv_t>(-1)) {
    cd.release();
    return std::nullopt;
  }
  std::string wide(bytes.size() * 4 + 16, '\0');
  char* in = bytes.data();
  char* out = wide.data();
  size_t inLeft = bytes.size(), outLeft = wide.size();
  if (iconv(cd.get(), &in, &inLeft, &out, &outLeft) == static_cast<size_t>(-1) ||
      iconv(cd.get(), nullptr, nullptr, &out, &outLeft) == static_cast<size_t>(-1))
    return std::nullopt;
  std::u16string text((wide.size() - outLeft) / 2, u'\0');
  for (size_t i = 0; i < text.size(); ++i)
    text[i] = static_cast<char16_t>(static_cast<unsigned char>(wide[2 * i]) |
                                    static_cast<unsigned char>(wide[2 * i + 1]) << 8);
  return text;
}

// The code page an item's 8-bit text is in: the one it names for its
// content, else its internet one, else fallback's.
uint32_t TextCodePage(libpff_record_set_t* set, uint32_t fallback) {
  for (ULONG tag : {PR_MESSAGE_CODEPAGE, PR_INTERNET_CPID}) {
    RecordEntryPtr entry;
    uint32_t value = 0;
    if (libpff_record_set_get_entry_by_type(set, PROP_ID(tag), PT_LONG, entry.Put(), 0, nullptr) == 1 &&
        libpff_record_entry_get_data_as_32bit_integer(entry.Get(), &value, nullptr) == 1 && value != 0)
      return value;
  }
  return fallback;
}

// How an item is read: the code pages 8-bit text is read with (the item's,
// or where it names none the fallback, and the one libpff decodes with), and
// for a table's row only the properties of ids (all when null) whose values
// hold at most maxValueBytes (any when 0).
struct ReadOptions {
  uint32_t fallback, pff;
  const std::vector<ULONG>* ids = nullptr;
  size_t maxValueBytes = 0;
};

enum class Entry { kKept, kSkipped, kUnreadable };

// One record entry as an owned property; kSkipped for what the stand-in keeps
// no counterpart of (named properties, objects, multi-valued data),
// kUnreadable, with *tag as far as known and *why, for what cannot be read.
Entry EntryToProp(libpff_record_entry_t* entry, const ReadOptions& options, uint32_t codePage, OwnedProp* out,
                  ULONG* tag, std::string* why) {
  PffError error;
  auto unreadable = [&] {
    *why = error.Text();
    return Entry::kUnreadable;
  };
  uint32_t id = 0, type = 0;
  if (libpff_record_entry_get_entry_type(entry, &id, error.Put()) != 1 ||
      libpff_record_entry_get_value_type(entry, &type, error.Put()) != 1)
    return unreadable();
  *tag = PROP_TAG(type, id);
  if (id >= 0x8000 || (type & MV_FLAG)) return Entry::kSkipped;  // named ids are the file's own
  if (options.ids && std::find(options.ids->begin(), options.ids->end(), id) == options.ids->end())
    return Entry::kSkipped;
  size_t size = 0;
  if (libpff_record_entry_get_data_size(entry, &size, error.Put()) != 1) return unreadable();
  if (options.maxValueBytes && size > options.maxValueBytes) return Entry::kSkipped;
  std::string data(size, '\0');
  if (size && (Refused("libpff_record_entry_get_data") ||
               libpff_record_entry_get_data(entry, reinterpret_cast<uint8_t*>(data.data()), size, error.Put()) != 1))
    return unreadable();
  switch (type) {
    case PT_STRING8:
    case PT_UNICODE: {
      // Narrow text is read in the item's code page; both are kept wide.
      size_t units = 0;
      std::optional<std::u16string> own;
      if (type == PT_STRING8 && codePage != options.pff) own = Widen(data, codePage);
      std::u16string text = own.value_or(std::u16string());
      if (size && !own) {
        if (libpff_record_entry_get_data_as_utf16_string_size(entry, &units, error.Put()) != 1 || units == 0)
          return unreadable();
        text.assign(units, u'\0');
        if (libpff_record_entry_get_data_as_utf16_string(entry, reinterpret_cast<uint16_t*>(text.data()), units,
                                                         error.Put()) != 1)
          return unreadable();
        text.resize(std::char_traits<char16_t>::length(text.c_str()));
      }
      // The subject keeps its prefix's length ahead of it: "\x01<n>".
      if (id == PROP_ID(PR_SUBJECT_W) && text.size() >= 2 && text[0] == 0x01) text.erase(0, 2);
      *out = MakeUnicode(CHANGE_PROP_TYPE(*tag, PT_UNICODE), text);
      return Entry::kKept;
    }
    case PT_BOOLEAN: {
      uint8_t value = 0;
      if (libpff_record_entry_get_data_as_boolean(entry, &value, error.Put()) != 1) return unreadable();
      *out = MakeBool(*tag, value != 0);
      return Entry::kKept;
    }
    case PT_I2:
      data.resize(2);
      break;
    case PT_LONG:
    case PT_R4:
    case PT_ERROR:
      data.resize(4);
      break;
    case PT_DOUBLE:
    case PT_APPTIME:
    case PT_CURRENCY:
    case PT_I8:
    case PT_SYSTIME:
      data.resize(8);
      break;
    case PT_CLSID:
      data.resize(16);
      break;
    case PT_BINARY:
      break;
    case PT_OBJECT:
    case PT_NULL:
    case 0x00FB:  // PT_SVREID
    case 0x00FD:  // PT_SRESTRICTION
    case 0x00FE:  // PT_ACTIONS
      return Entry::kSkipped;
    default:
      *why = "its type " + Hex(type, 4) + " is no property type";
      return Entry::kUnreadable;
  }
  out->tag = *tag;
  out->data = std::move(data);
  return Entry::kKept;
}

// The item's unreadable part is logged with where (what the item is, for the
// log); a property that cannot be read is left out, logged, and the rest read.
HRESULT ReadRecordSet(libpff_item_t* item, int index, const ReadOptions& options, Row* row, const std::string& where) {
  RecordSetPtr set;
  PffError error;
  int count = 0;
  if (libpff_item_get_record_set_by_index(item, index, set.Put(), error.Put()) != 1 ||
      libpff_record_set_get_number_of_entries(set.Get(), &count, error.Put()) != 1) {
    StoreLog(where + " cannot be read: " + error.Text());
    return MAPI_E_CORRUPT_DATA;
  }
  uint32_t codePage = TextCodePage(set.Get(), options.fallback);
  for (int i = 0; i < count; ++i) {
    RecordEntryPtr entry;
    OwnedProp prop;
    ULONG tag = 0;
    std::string why;
    Entry read = Entry::kUnreadable;
    if (Refused("libpff_record_set_get_entry_by_index") ||
        libpff_record_set_get_entry_by_index(set.Get(), i, entry.Put(), error.Put()) != 1)
      why = error.Text();
    else
      read = EntryToProp(entry.Get(), options, codePage, &prop, &tag, &why);
    if (read == Entry::kKept)
      PutProp(row, std::move(prop));
    else if (read == Entry::kUnreadable)
      StoreLog(where + ": property " + std::to_string(i + 1) + (tag ? " (" + Hex(tag) + ")" : std::string()) +
               " left out: " + why);
  }
  return S_OK;
}

HRESULT OpenItem(libpff_file_t* file, uint32_t node, ItemPtr* item, const std::string& where) {
  PffError error;
  if (Refused("libpff_file_get_item_by_identifier") ||
      libpff_file_get_item_by_identifier(file, node, item->Put(), error.Put()) != 1) {
    StoreLog(where + " cannot be read: " + error.Text());
    return MAPI_E_CORRUPT_DATA;
  }
  return S_OK;
}

HRESULT ReadItem(libpff_item_t* item, const ReadOptions& options, Row* row, const std::string& where) {
  int sets = 0;
  PffError error;
  if (libpff_item_get_number_of_record_sets(item, &sets, error.Put()) != 1) {
    StoreLog(where + " cannot be read: " + error.Text());
    return MAPI_E_CORRUPT_DATA;
  }
  return sets > 0 ? ReadRecordSet(item, 0, options, row, where) : S_OK;
}

}  // namespace

bool PstFile::HasMagic(const std::string& posixPath) {
  FILE* f = std::fopen(posixPath.c_str(), "rb");
  if (!f) return false;
  char magic[sizeof kMagic] = {};
  size_t got = std::fread(magic, 1, sizeof magic, f);
  std::fclose(f);
  return got == sizeof magic && std::memcmp(magic, kMagic, sizeof magic) == 0;
}

HRESULT PstFile::Open(const std::string& posixPath, std::shared_ptr<PstFile>* out) {
  struct stat st {};
  if (::stat(posixPath.c_str(), &st) != 0) return MAPI_E_NOT_FOUND;
  auto refuse = [&](const std::string& why) {
    StoreLog("refusing " + posixPath + ": not a readable personal-folders file: " + why);
    return MAPI_E_CORRUPT_STORE;
  };
  std::string why;
  if (!S_ISREG(st.st_mode)) return refuse("it is no regular file");
  if (!HeaderMatchesSize(posixPath, &why)) return refuse(why);
  std::shared_ptr<PstFile> file(new PstFile());
  file->path_ = posixPath;
  file->blocks_ = PstBlocks::Load(posixPath, &why);
  if (!file->blocks_) return refuse(why);
  PffError error;
  if (libpff_file_initialize(&file->file_, error.Put()) != 1) return refuse(error.Text());
  if (libpff_file_open(file->file_, posixPath.c_str(), LIBPFF_OPEN_READ, error.Put()) != 1) {
    libpff_file_free(&file->file_, nullptr);
    return refuse(error.Text());
  }
  Row store;
  HRESULT hr = file->StoreProps(&store);
  if (FAILED(hr)) return refuse("its message store cannot be read");
  // The client asks for a file's password before it opens it; nothing here
  // can ask, and a copy would carry the mail off unprotected.
  const OwnedProp* password = FindProp(store, kPasswordChecksum);
  if (password && password->data != std::string(4, '\0')) {
    StoreLog("refusing " + posixPath + ": it is protected by a password, which only the mail client asks for");
    return MAPI_E_NO_ACCESS;
  }
  // The store's record key is the UID its own entry identifiers carry.
  const OwnedProp* key = FindProp(store, PR_RECORD_KEY);
  if (!key || key->data.size() != sizeof file->uid_.ab) return refuse("its message store has no record key");
  std::memcpy(file->uid_.ab, key->data.data(), sizeof file->uid_.ab);
  // 8-bit text that names no code page is in the store's, where it names
  // one; libpff reads the folders' names with it where it knows it.
  for (ULONG tag : {PR_MESSAGE_CODEPAGE, PR_INTERNET_CPID}) {
    const OwnedProp* page = FindProp(store, tag);
    uint64_t named = page && page->data.size() == 4
                         ? ReadLe(reinterpret_cast<const unsigned char*>(page->data.data()), 4)
                         : 0;
    if (named == 0) continue;
    file->codePage_ = static_cast<uint32_t>(named);
    if (libpff_file_set_ascii_codepage(file->file_, static_cast<int>(file->codePage_), nullptr) == 1)
      file->pffCodePage_ = file->codePage_;
    break;
  }
  ItemPtr root;
  if (libpff_file_get_root_folder(file->file_, root.Put(), error.Put()) != 1) return refuse(error.Text());
  if (libpff_item_get_identifier(root.Get(), &file->root_, error.Put()) != 1) return refuse(error.Text());
  hr = file->Walk(root.Get(), file->root_, 0);
  if (FAILED(hr)) return refuse("its folder tree cannot be read");
  *out = std::move(file);
  return S_OK;
}

PstFile::~PstFile() {
  if (file_) {
    libpff_file_close(file_, nullptr);
    libpff_file_free(&file_, nullptr);
  }
}

HRESULT PstFile::Walk(void* folderItem, uint32_t parent, int depth) {
  auto* item = static_cast<libpff_item_t*>(folderItem);
  uint32_t id = 0;
  if (depth > kMaxDepth || libpff_item_get_identifier(item, &id, nullptr) != 1) return MAPI_E_CORRUPT_STORE;
  if (folders_.count(id)) return MAPI_E_CORRUPT_STORE;  // a folder below itself
  Folder& folder = folders_[id];
  folder.parent = parent;
  size_t size = 0;
  if (libpff_folder_get_utf8_name_size(item, &size, nullptr) == 1 && size > 1) {
    std::string name(size, '\0');
    if (libpff_folder_get_utf8_name(item, reinterpret_cast<uint8_t*>(name.data()), size, nullptr) == 1)
      folder.name = name.c_str();
  }
  // The folder's own node and its hierarchy and contents tables' nodes.
  for (uint32_t type : {0u, kHierarchyTable, kContentsTable})
    if (FAILED(CheckBlocks(type ? (id & ~kNidTypeMask) | type : id))) return MAPI_E_CORRUPT_STORE;
  // A message whose identity cannot be read is left out of its folder, the
  // rest listed; one that can, whatever else of it is unreadable, is listed
  // and fails its own open.
  int messages = 0;
  PffError error;
  if (libpff_folder_get_number_of_sub_messages(item, &messages, error.Put()) != 1) {
    StoreLog("reading " + path_ + ": the messages of folder '" + folder.name + "' cannot be listed: " + error.Text());
    messages = 0;
  }
  for (int i = 0; i < messages; ++i) {
    ItemPtr message;
    uint32_t mid = 0;
    if (Refused("libpff_folder_get_sub_message") ||
        libpff_folder_get_sub_message(item, i, message.Put(), error.Put()) != 1 ||
        libpff_item_get_identifier(message.Get(), &mid, error.Put()) != 1) {
      StoreLog("reading " + path_ + ": folder '" + folder.name + "', item " + std::to_string(i + 1) +
               " left out: it cannot be read: " + error.Text());
      continue;
    }
    folders_[id].messages.push_back(mid);
    messages_[mid] = {id, i + 1};
  }
  int subfolders = 0;
  if (libpff_folder_get_number_of_sub_folders(item, &subfolders, nullptr) != 1) return MAPI_E_CORRUPT_STORE;
  for (int i = 0; i < subfolders; ++i) {
    ItemPtr sub;
    uint32_t sid = 0;
    if (libpff_folder_get_sub_folder(item, i, sub.Put(), nullptr) != 1 ||
        libpff_item_get_identifier(sub.Get(), &sid, nullptr) != 1)
      return MAPI_E_CORRUPT_STORE;
    folders_[id].folders.push_back(sid);
    HRESULT hr = Walk(sub.Get(), id, depth + 1);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT PstFile::CheckBlocks(uint32_t node) {
  std::string why;
  if (blocks_->CheckNode(node, &why)) return S_OK;
  StoreLog(Where(node) + " cannot be read: " + why);
  return MAPI_E_CORRUPT_DATA;
}

std::string PstFile::Where(uint32_t node) const {
  std::string where = "reading " + path_ + ": ";
  if (auto folder = folders_.find(node); folder != folders_.end()) return where + "folder '" + folder->second.name + "'";
  auto message = messages_.find(node);
  if (message == messages_.end()) return where + "the message store";
  auto folder = folders_.find(message->second.folder);
  return where + "folder '" + (folder == folders_.end() ? std::string() : folder->second.name) + "', item " +
         std::to_string(message->second.position);
}

std::string PstFile::EntryId(uint32_t node) const {
  std::string id(kEntryIdSize, '\0');
  std::memcpy(&id[4], uid_.ab, sizeof uid_.ab);
  for (int i = 0; i < 4; ++i) id[20 + i] = static_cast<char>((node >> (8 * i)) & 0xFF);
  return id;
}

HRESULT PstFile::ParseEntryId(const void* bytes, size_t size, uint32_t* node) const {
  if (!bytes || size != kEntryIdSize) return MAPI_E_INVALID_ENTRYID;
  const auto* b = static_cast<const unsigned char*>(bytes);
  if (std::memcmp(b + 4, uid_.ab, sizeof uid_.ab) != 0) return MAPI_E_INVALID_ENTRYID;
  *node = static_cast<uint32_t>(ReadLe(b + 20, 4));
  return S_OK;
}

const PstFile::Folder* PstFile::FindFolder(uint32_t node) const {
  auto it = folders_.find(node);
  return it == folders_.end() ? nullptr : &it->second;
}

uint32_t PstFile::MessageFolder(uint32_t node) const {
  auto it = messages_.find(node);
  return it == messages_.end() ? 0 : it->second.folder;
}

HRESULT PstFile::StoreProps(Row* row) {
  std::lock_guard<std::mutex> lock(mutex_);
  ItemPtr store;
  PffError error;
  HRESULT hr = CheckBlocks(kStoreNid);
  if (FAILED(hr)) return hr;
  if (libpff_file_get_message_store(file_, store.Put(), error.Put()) != 1) {
    StoreLog(Where(0) + " cannot be read: " + error.Text());
    return MAPI_E_CORRUPT_STORE;
  }
  return ReadItem(store.Get(), {codePage_, pffCodePage_}, row, Where(0));
}

HRESULT PstFile::ItemProps(uint32_t node, Row* row, const std::vector<ULONG>* ids, size_t maxValueBytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  ItemPtr item;
  HRESULT hr = CheckBlocks(node);
  if (SUCCEEDED(hr)) hr = OpenItem(file_, node, &item, Where(node));
  return FAILED(hr) ? hr : ReadItem(item.Get(), {codePage_, pffCodePage_, ids, maxValueBytes}, row, Where(node));
}

HRESULT PstFile::MessageParts(uint32_t node, std::vector<Row>* recips, std::vector<Row>* attachs) {
  std::lock_guard<std::mutex> lock(mutex_);
  ItemPtr item;
  HRESULT hr = CheckBlocks(node);
  if (SUCCEEDED(hr)) hr = OpenItem(file_, node, &item, Where(node));
  if (FAILED(hr)) return hr;
  // A recipient or attachment that cannot be read fails the message: a copy
  // without it would pass for whole.
  std::string where = Where(node);
  PffError error;
  // The parts' text is in the message's code page where they name none.
  ReadOptions pages{codePage_, pffCodePage_};
  if (RecordSetPtr set; libpff_item_get_record_set_by_index(item.Get(), 0, set.Put(), nullptr) == 1)
    pages.fallback = TextCodePage(set.Get(), codePage_);
  auto unreadable = [&](const std::string& what) {
    StoreLog(where + ": " + what + " cannot be read: " + error.Text());
    return MAPI_E_CORRUPT_DATA;
  };
  ItemPtr recipients;
  int found = libpff_message_get_recipients(item.Get(), recipients.Put(), error.Put());
  if (found < 0) return unreadable("its recipients");
  if (found == 1) {
    int sets = 0;
    if (libpff_item_get_number_of_record_sets(recipients.Get(), &sets, error.Put()) != 1)
      return unreadable("its recipients");
    for (int i = 0; i < sets; ++i) {
      Row row;
      hr = ReadRecordSet(recipients.Get(), i, pages, &row, where + ", recipient " + std::to_string(i + 1));
      if (FAILED(hr)) return hr;
      PutProp(&row, MakeLong(PR_ROWID, i));
      recips->push_back(std::move(row));
    }
  }
  int count = 0;
  if (libpff_message_get_number_of_attachments(item.Get(), &count, error.Put()) != 1)
    return unreadable("its attachments");
  for (int i = 0; i < count; ++i) {
    ItemPtr attachment;
    std::string which = "attachment " + std::to_string(i + 1);
    if (libpff_message_get_attachment(item.Get(), i, attachment.Put(), error.Put()) != 1) return unreadable(which);
    Row row;
    hr = ReadItem(attachment.Get(), pages, &row, where + ", " + which);
    if (FAILED(hr)) return hr;
    PutProp(&row, MakeLong(PR_ATTACH_NUM, i));
    attachs->push_back(std::move(row));
  }
  return S_OK;
}

}  // namespace standin::mapi
