#include "pstfile.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>

#include <libpff.h>

#include "store.h"

namespace standin::mapi {

namespace {

constexpr char kMagic[4] = {'!', 'B', 'D', 'N'};
// Folder trees deeper than this are taken for a loop in a damaged file.
constexpr int kMaxDepth = 256;
// The message store's checksum of its password; absent or 0 without one.
constexpr ULONG kPasswordChecksum = PROP_TAG(PT_LONG, 0x67FF);

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

// One record entry as an owned property; false for what the stand-in keeps
// no counterpart of (named properties, objects, multi-valued data).
bool EntryToProp(libpff_record_entry_t* entry, OwnedProp* out) {
  uint32_t id = 0, type = 0;
  if (libpff_record_entry_get_entry_type(entry, &id, nullptr) != 1 ||
      libpff_record_entry_get_value_type(entry, &type, nullptr) != 1)
    return false;
  if (id >= 0x8000 || (type & MV_FLAG)) return false;  // named ids are the file's own
  ULONG tag = PROP_TAG(type, id);
  size_t size = 0;
  if (libpff_record_entry_get_data_size(entry, &size, nullptr) != 1) return false;
  std::string data(size, '\0');
  if (size && libpff_record_entry_get_data(entry, reinterpret_cast<uint8_t*>(data.data()), size, nullptr) != 1)
    return false;
  switch (type) {
    case PT_STRING8:
    case PT_UNICODE: {
      // Narrow text is read in the file's code page; both are kept wide.
      size_t units = 0;
      std::u16string text;
      if (size) {
        if (libpff_record_entry_get_data_as_utf16_string_size(entry, &units, nullptr) != 1 || units == 0)
          return false;
        text.assign(units, u'\0');
        if (libpff_record_entry_get_data_as_utf16_string(entry, reinterpret_cast<uint16_t*>(text.data()), units,
                                                         nullptr) != 1)
          return false;
        text.resize(std::char_traits<char16_t>::length(text.c_str()));
      }
      // The subject keeps its prefix's length ahead of it: "\x01<n>".
      if (id == PROP_ID(PR_SUBJECT_W) && text.size() >= 2 && text[0] == 0x01) text.erase(0, 2);
      *out = MakeUnicode(CHANGE_PROP_TYPE(tag, PT_UNICODE), text);
      return true;
    }
    case PT_BOOLEAN: {
      uint8_t value = 0;
      if (libpff_record_entry_get_data_as_boolean(entry, &value, nullptr) != 1) return false;
      *out = MakeBool(tag, value != 0);
      return true;
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
    default:
      return false;
  }
  out->tag = tag;
  out->data = std::move(data);
  return true;
}

HRESULT ReadRecordSet(libpff_item_t* item, int index, Row* row) {
  RecordSetPtr set;
  if (libpff_item_get_record_set_by_index(item, index, set.Put(), nullptr) != 1) return MAPI_E_CORRUPT_STORE;
  int count = 0;
  if (libpff_record_set_get_number_of_entries(set.Get(), &count, nullptr) != 1) return MAPI_E_CORRUPT_STORE;
  for (int i = 0; i < count; ++i) {
    RecordEntryPtr entry;
    if (libpff_record_set_get_entry_by_index(set.Get(), i, entry.Put(), nullptr) != 1) return MAPI_E_CORRUPT_STORE;
    OwnedProp prop;
    if (EntryToProp(entry.Get(), &prop)) PutProp(row, std::move(prop));
  }
  return S_OK;
}

HRESULT ReadItem(libpff_item_t* item, Row* row) {
  int sets = 0;
  if (libpff_item_get_number_of_record_sets(item, &sets, nullptr) != 1) return MAPI_E_CORRUPT_STORE;
  return sets > 0 ? ReadRecordSet(item, 0, row) : S_OK;
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
  int messages = 0;
  if (libpff_folder_get_number_of_sub_messages(item, &messages, nullptr) != 1) return MAPI_E_CORRUPT_STORE;
  for (int i = 0; i < messages; ++i) {
    ItemPtr message;
    uint32_t mid = 0;
    if (libpff_folder_get_sub_message(item, i, message.Put(), nullptr) != 1 ||
        libpff_item_get_identifier(message.Get(), &mid, nullptr) != 1)
      return MAPI_E_CORRUPT_STORE;
    folders_[id].messages.push_back(mid);
    messages_[mid] = id;
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
  return it == messages_.end() ? 0 : it->second;
}

HRESULT PstFile::StoreProps(Row* row) {
  std::lock_guard<std::mutex> lock(mutex_);
  ItemPtr store;
  if (libpff_file_get_message_store(file_, store.Put(), nullptr) != 1) return MAPI_E_CORRUPT_STORE;
  return ReadItem(store.Get(), row);
}

HRESULT PstFile::ItemProps(uint32_t node, Row* row) {
  std::lock_guard<std::mutex> lock(mutex_);
  ItemPtr item;
  if (libpff_file_get_item_by_identifier(file_, node, item.Put(), nullptr) != 1) return MAPI_E_CORRUPT_STORE;
  return ReadItem(item.Get(), row);
}

HRESULT PstFile::MessageParts(uint32_t node, std::vector<Row>* recips, std::vector<Row>* attachs) {
  std::lock_guard<std::mutex> lock(mutex_);
  ItemPtr item;
  if (libpff_file_get_item_by_identifier(file_, node, item.Put(), nullptr) != 1) return MAPI_E_CORRUPT_STORE;
  ItemPtr recipients;
  int found = libpff_message_get_recipients(item.Get(), recipients.Put(), nullptr);
  if (found < 0) return MAPI_E_CORRUPT_STORE;
  if (found == 1) {
    int sets = 0;
    if (libpff_item_get_number_of_record_sets(recipients.Get(), &sets, nullptr) != 1) return MAPI_E_CORRUPT_STORE;
    for (int i = 0; i < sets; ++i) {
      Row row;
      HRESULT hr = ReadRecordSet(recipients.Get(), i, &row);
      if (FAILED(hr)) return hr;
      PutProp(&row, MakeLong(PR_ROWID, i));
      recips->push_back(std::move(row));
    }
  }
  int count = 0;
  if (libpff_message_get_number_of_attachments(item.Get(), &count, nullptr) != 1) return MAPI_E_CORRUPT_STORE;
  for (int i = 0; i < count; ++i) {
    ItemPtr attachment;
    if (libpff_message_get_attachment(item.Get(), i, attachment.Put(), nullptr) != 1) return MAPI_E_CORRUPT_STORE;
    Row row;
    HRESULT hr = ReadItem(attachment.Get(), &row);
    if (FAILED(hr)) return hr;
    PutProp(&row, MakeLong(PR_ATTACH_NUM, i));
    attachs->push_back(std::move(row));
  }
  return S_OK;
}

}  // namespace standin::mapi
