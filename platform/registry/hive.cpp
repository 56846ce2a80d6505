#include "hive.h"

#include <fcntl.h>
#include <hivex.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>

#include "internal.h"
#include "regnames.h"

namespace standin::reg {
namespace {

static_assert(sizeof(hive_type) == sizeof(int32_t), "hive value types are 32-bit in the file");

constexpr size_t kBaseBlockSize = 0x1000;  // cell offsets count from here
constexpr uint32_t kBinSize = 0x1000;
constexpr uint32_t kNoCell = 0xFFFFFFFF;
constexpr uint32_t kChecksumAt = 0x1FC;
constexpr int kMaxDepth = 512;  // the platform's limit on key nesting
constexpr size_t kMaxKeys = 1000000;
constexpr uint16_t kKeyCompressedName = 0x0020;
constexpr uint16_t kValueCompressedName = 0x0001;
// nk and vk field offsets, counted from the cell's signature.
constexpr size_t kNkFlags = 0x02, kNkSubKeyCount = 0x14, kNkSubKeyList = 0x1C, kNkNameLen = 0x48, kNkName = 0x4C;
constexpr size_t kVkNameLen = 0x02, kVkFlags = 0x10, kVkName = 0x14;

// ---- little-endian fields ----

uint32_t Get32(const std::string& b, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(b[at + static_cast<size_t>(i)]);
  return v;
}
uint16_t Get16(const std::string& b, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8);
}
void Put32(std::string& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + static_cast<size_t>(i)] = static_cast<char>(v >> (8 * i));
}
void Put16(std::string& b, size_t at, uint16_t v) {
  b[at] = static_cast<char>(v);
  b[at + 1] = static_cast<char>(v >> 8);
}
void Put64(std::string& b, size_t at, uint64_t v) {
  Put32(b, at, static_cast<uint32_t>(v));
  Put32(b, at + 4, static_cast<uint32_t>(v >> 32));
}
void Append16(std::string& b, uint16_t v) {
  b.append(2, '\0');
  Put16(b, b.size() - 2, v);
}
void Append32(std::string& b, uint32_t v) {
  b.append(4, '\0');
  Put32(b, b.size() - 4, v);
}
uint32_t Align8(size_t n) { return static_cast<uint32_t>((n + 7) & ~size_t{7}); }

// XOR of the base block's first 127 double words, never 0 or -1.
uint32_t Checksum(const std::string& b) {
  uint32_t x = 0;
  for (size_t i = 0; i < kChecksumAt; i += 4) x ^= Get32(b, i);
  if (x == 0xFFFFFFFF) return 0xFFFFFFFE;
  return x == 0 ? 1 : x;
}

// ---- the security every saved key carries ----

std::string Sid(std::initializer_list<uint32_t> subAuthorities) {
  std::string s;
  s.push_back(1);
  s.push_back(static_cast<char>(subAuthorities.size()));
  s.append(5, '\0');
  s.push_back(5);  // NT authority
  for (uint32_t sub : subAuthorities) Append32(s, sub);
  return s;
}

// Self-relative: SYSTEM and Administrators full control, Users read, inherited by
// subkeys; owned by Administrators.
std::string KeySecurity() {
  const std::string system = Sid({18}), admins = Sid({32, 544}), users = Sid({32, 545});
  std::string aces;
  auto allow = [&](uint32_t mask, const std::string& sid) {
    aces.push_back(0);  // ACCESS_ALLOWED_ACE_TYPE
    aces.push_back(2);  // CONTAINER_INHERIT_ACE
    Append16(aces, static_cast<uint16_t>(8 + sid.size()));
    Append32(aces, mask);
    aces += sid;
  };
  allow(0xF003F, system);  // KEY_ALL_ACCESS
  allow(0xF003F, admins);
  allow(0x20019, users);  // KEY_READ
  std::string acl;
  acl.push_back(2);  // ACL_REVISION
  acl.push_back(0);
  Append16(acl, static_cast<uint16_t>(8 + aces.size()));
  Append16(acl, 3);
  Append16(acl, 0);
  acl += aces;
  std::string sd;
  sd.push_back(1);
  sd.push_back(0);
  Append16(sd, 0x8004);  // SE_SELF_RELATIVE | SE_DACL_PRESENT
  const uint32_t dacl = 20, owner = dacl + static_cast<uint32_t>(acl.size());
  Append32(sd, owner);
  Append32(sd, owner + static_cast<uint32_t>(admins.size()));
  Append32(sd, 0);
  Append32(sd, dacl);
  return sd + acl + admins + system;
}

// A name as a key or value cell stores it: Latin-1 ("compressed") when every
// character fits, UTF-16LE otherwise.
std::string CellName(std::u16string_view name, bool* compressed) {
  *compressed = std::all_of(name.begin(), name.end(), [](char16_t c) { return c <= 0xFF; });
  if (!*compressed) return NameBytes(name);
  std::string out;
  for (char16_t c : name) out.push_back(static_cast<char>(c));
  return out;
}

std::u16string DecodeCellName(std::string_view bytes, bool compressed) {
  if (!compressed) return NameFromBytes(bytes);
  std::u16string out;
  for (char c : bytes) out.push_back(static_cast<char16_t>(static_cast<uint8_t>(c)));
  return out;
}

// A hive with nothing but its root key: the base block, one bin holding the
// root's nk cell, its sk cell and one free cell for the rest.
std::string EmptyHive(int64_t now, std::u16string_view rootName, std::u16string_view fileName) {
  std::string b(kBaseBlockSize + kBinSize, '\0');
  std::memcpy(&b[0], "regf", 4);
  Put32(b, 0x04, 1);  // primary and secondary sequence numbers agree: complete
  Put32(b, 0x08, 1);
  Put64(b, 0x0C, static_cast<uint64_t>(now));
  Put32(b, 0x14, 1);  // version 1.3: large values are single cells, as hivex writes them
  Put32(b, 0x18, 3);
  Put32(b, 0x1C, 0);  // primary file
  Put32(b, 0x20, 1);  // direct memory load
  Put32(b, 0x24, 0x20);
  Put32(b, 0x28, kBinSize);
  Put32(b, 0x2C, 1);
  std::u16string_view tail = fileName.size() > 31 ? fileName.substr(fileName.size() - 31) : fileName;
  for (size_t i = 0; i < tail.size(); ++i) Put16(b, 0x30 + 2 * i, tail[i]);
  Put32(b, kChecksumAt, Checksum(b));

  const size_t bin = kBaseBlockSize;
  std::memcpy(&b[bin], "hbin", 4);
  Put32(b, bin + 0x04, 0);
  Put32(b, bin + 0x08, kBinSize);
  Put64(b, bin + 0x14, static_cast<uint64_t>(now));

  bool compressed = false;
  std::string name = CellName(rootName, &compressed);
  const std::string sd = KeySecurity();
  const size_t nk = bin + 0x20;
  const uint32_t nkSize = Align8(4 + kNkName + name.size());
  const size_t sk = nk + nkSize;
  const uint32_t skSize = Align8(4 + 0x14 + sd.size());
  const size_t freeCell = sk + skSize;

  Put32(b, nk, static_cast<uint32_t>(-static_cast<int32_t>(nkSize)));
  const size_t k = nk + 4;
  std::memcpy(&b[k], "nk", 2);
  Put16(b, k + kNkFlags, static_cast<uint16_t>(0x000C | (compressed ? kKeyCompressedName : 0)));  // hive entry, no delete
  Put64(b, k + 0x04, static_cast<uint64_t>(now));
  Put32(b, k + kNkSubKeyList, kNoCell);
  Put32(b, k + 0x20, kNoCell);  // volatile subkeys
  Put32(b, k + 0x28, kNoCell);  // values
  Put32(b, k + 0x2C, static_cast<uint32_t>(sk - kBaseBlockSize));
  Put32(b, k + 0x30, kNoCell);  // class
  Put16(b, k + kNkNameLen, static_cast<uint16_t>(name.size()));
  std::memcpy(&b[k + kNkName], name.data(), name.size());

  Put32(b, sk, static_cast<uint32_t>(-static_cast<int32_t>(skSize)));
  std::memcpy(&b[sk + 4], "sk", 2);
  Put32(b, sk + 4 + 0x04, static_cast<uint32_t>(sk - kBaseBlockSize));  // the only sk: its own neighbour
  Put32(b, sk + 4 + 0x08, static_cast<uint32_t>(sk - kBaseBlockSize));
  Put32(b, sk + 4 + 0x0C, 1);
  Put32(b, sk + 4 + 0x10, static_cast<uint32_t>(sd.size()));
  std::memcpy(&b[sk + 4 + 0x14], sd.data(), sd.size());

  Put32(b, freeCell, static_cast<uint32_t>(kBaseBlockSize + kBinSize - freeCell));
  return b;
}

void Report(const char* call, const std::string& path, const std::string& why) {
  OutputDebugStringW(ToUtf16(std::string(call) + ": " + path + " " + why + "\n").c_str());
}

LONG FromErrno(int err) {
  if (err == ENOSPC) return ERROR_DISK_FULL;
  if (err == ENOMEM) return ERROR_OUTOFMEMORY;
  return static_cast<LONG>(ErrorFromErrno(err));
}

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
template <class T>
using Malloced = std::unique_ptr<T, FreeDeleter>;

class Hive {
 public:
  explicit Hive(hive_h* h) : h_(h) {}
  ~Hive() {
    if (h_) hivex_close(h_);
  }
  Hive(const Hive&) = delete;
  Hive& operator=(const Hive&) = delete;
  hive_h* get() const { return h_; }
  // hivex_close frees the handle even when it fails.
  int Close() {
    hive_h* h = h_;
    h_ = nullptr;
    return hivex_close(h);
  }

 private:
  hive_h* h_;
};

// A scratch file, removed when the object dies.
class TempFile {
 public:
  ~TempFile() {
    if (!path_.empty()) unlink(path_.c_str());
  }
  // mkstemp in the folder; returns the open descriptor or -1 (errno set).
  int Create(const std::string& folder, const std::string& stem) {
    std::string tmpl = folder + "/." + stem + ".XXXXXX";
    int fd = mkstemp(tmpl.data());
    if (fd >= 0) path_ = tmpl;
    return fd;
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

bool WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = pwrite(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

LONG ReadWholeFile(const std::string& path, std::string* out) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return FromErrno(errno);
  struct stat st {};
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    close(fd);
    return ERROR_ACCESS_DENIED;
  }
  std::string bytes;
  char buf[65536];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int err = errno;
      close(fd);
      return FromErrno(err);
    }
    if (n == 0) break;
    bytes.append(buf, static_cast<size_t>(n));
    if (bytes.size() > 0x7FFFFFFFu) break;  // larger than any hive can be
  }
  close(fd);
  *out = std::move(bytes);
  return ERROR_SUCCESS;
}

// ---- saving ----

struct NamePatch {
  size_t cell;  // file offset of the cell, as hivex hands it out
  std::u16string name;
};

// hivex takes names as C strings: an embedded NUL travels as U+0001 and is put
// back into the cell afterwards.
std::string HivexName(std::u16string_view name, bool* hasNul) {
  std::u16string copy(name);
  *hasNul = false;
  for (char16_t& c : copy)
    if (c == 0) c = 1, *hasNul = true;
  return ToUtf8(copy);
}

class HiveWriter {
 public:
  explicit HiveWriter(hive_h* h) : h_(h) {}

  bool Add(hive_node_h node, const KeyTree& tree) {
    if (!AddValues(node, tree.values)) return false;
    for (const KeyTree& child : tree.children) {
      bool hasNul = false;
      std::string name = HivexName(child.name, &hasNul);
      hive_node_h c = hivex_node_add_child(h_, node, name.c_str());
      if (!c) return false;
      if (hasNul) keyPatches.push_back({c, child.name});
      if (!Add(c, child)) return false;
    }
    return true;
  }

  std::vector<NamePatch> keyPatches, valuePatches;

 private:
  bool AddValues(hive_node_h node, const std::vector<ValueRow>& values) {
    std::vector<std::string> names;
    std::vector<bool> nul;
    for (const ValueRow& v : values) {
      bool hasNul = false;
      names.push_back(HivexName(v.name, &hasNul));
      nul.push_back(hasNul);
    }
    std::vector<hive_set_value> set(values.size());
    for (size_t i = 0; i < values.size(); ++i) {
      set[i].key = names[i].data();
      set[i].len = values[i].data.size();
      set[i].value = const_cast<char*>(values[i].data.data());
      // Any type number is stored as given; copied so no out-of-range enum is formed.
      int32_t type = static_cast<int32_t>(values[i].type);
      std::memcpy(&set[i].t, &type, sizeof type);
    }
    if (hivex_node_set_values(h_, node, set.size(), set.data(), 0) != 0) return false;
    if (std::find(nul.begin(), nul.end(), true) == nul.end()) return true;
    Malloced<hive_value_h> written(hivex_node_values(h_, node));
    if (!written) return false;
    for (size_t i = 0; written.get()[i]; ++i) {
      hive_value_h v = written.get()[i];
      Malloced<char> key(hivex_value_key(h_, v));
      if (!key) return false;
      std::string stored(key.get(), hivex_value_key_len(h_, v));
      for (size_t j = 0; j < values.size(); ++j)
        if (nul[j] && names[j] == stored) valuePatches.push_back({v, values[j].name});
    }
    return true;
  }

  hive_h* h_;
};

// Cell access for the fix-up pass, bounds-checked against the file.
class CellView {
 public:
  explicit CellView(std::string& b) : b_(b) {}
  // File offset of a cell's signature, when the whole span lies in the file.
  bool At(size_t cell, const char* sig, size_t span, size_t* data) const {
    if (cell < kBaseBlockSize || cell + 4 + span > b_.size() || b_.compare(cell + 4, 2, sig) != 0) return false;
    *data = cell + 4;
    return true;
  }
  std::string& bytes() { return b_; }

 private:
  std::string& b_;
};

bool PatchName(CellView& v, const NamePatch& p, const char* sig, size_t lenAt, size_t flagsAt, uint16_t compressedBit,
               size_t nameAt) {
  size_t d = 0;
  if (!v.At(p.cell, sig, nameAt, &d)) return false;
  std::string& b = v.bytes();
  bool compressed = (Get16(b, d + flagsAt) & compressedBit) != 0;
  bool fits = false;
  std::string name = CellName(p.name, &fits);
  if (!compressed) name = NameBytes(p.name);
  else if (!fits) return false;
  if (Get16(b, d + lenAt) != name.size() || d + nameAt + name.size() > b.size()) return false;
  std::memcpy(&b[d + nameAt], name.data(), name.size());
  return true;
}

bool KeyName(CellView& v, size_t cell, std::u16string* name) {
  size_t d = 0;
  if (!v.At(cell, "nk", kNkName, &d)) return false;
  const std::string& b = v.bytes();
  size_t len = Get16(b, d + kNkNameLen);
  if (d + kNkName + len > b.size()) return false;
  *name = DecodeCellName(std::string_view(b).substr(d + kNkName, len), (Get16(b, d + kNkFlags) & kKeyCompressedName) != 0);
  return true;
}

// The lh hash: the upper-cased name folded with 37 as multiplier.
uint32_t NameHash(std::u16string_view name) {
  uint32_t h = 0;
  for (char16_t c : name) h = h * 37 + FoldCase(c);
  return h;
}

// Puts every subkey list below the key into the platform's order (upper-cased
// code units), which lookups in the platform rely on; hivex keeps its own order.
bool SortSubKeyLists(CellView& v, size_t cell, int depth, std::set<size_t>* seen) {
  size_t d = 0;
  if (depth > kMaxDepth || !seen->insert(cell).second || !v.At(cell, "nk", kNkName, &d)) return false;
  std::string& b = v.bytes();
  uint32_t count = Get32(b, d + kNkSubKeyCount), list = Get32(b, d + kNkSubKeyList);
  if (count == 0 || list == kNoCell) return true;

  std::vector<size_t> leaves;
  size_t l = 0;
  if (v.At(kBaseBlockSize + list, "ri", 4, &l)) {
    size_t n = Get16(b, l + 2);
    if (l + 4 + 4 * n > b.size()) return false;
    for (size_t i = 0; i < n; ++i) leaves.push_back(kBaseBlockSize + Get32(b, l + 4 + 4 * i));
  } else {
    leaves.push_back(kBaseBlockSize + list);
  }

  struct Slot {
    size_t at;
    size_t stride;
    char kind;
  };
  struct Entry {
    uint32_t cell;
    std::u16string name;
    std::string fold;
  };
  std::vector<Slot> slots;
  std::vector<Entry> entries;
  for (size_t leaf : leaves) {
    size_t ld = 0;
    char kind = v.At(leaf, "lh", 4, &ld) ? 'h' : v.At(leaf, "lf", 4, &ld) ? 'f' : v.At(leaf, "li", 4, &ld) ? 'i' : 0;
    if (!kind) return false;
    size_t stride = kind == 'i' ? 4 : 8, n = Get16(b, ld + 2);
    if (ld + 4 + stride * n > b.size()) return false;
    for (size_t i = 0; i < n; ++i) {
      size_t at = ld + 4 + stride * i;
      Entry e{Get32(b, at), {}, {}};
      if (!KeyName(v, kBaseBlockSize + e.cell, &e.name)) return false;
      e.fold = FoldedName(e.name);
      slots.push_back({at, stride, kind});
      entries.push_back(std::move(e));
    }
  }
  std::stable_sort(entries.begin(), entries.end(), [](const Entry& x, const Entry& y) { return x.fold < y.fold; });
  for (size_t i = 0; i < slots.size(); ++i) {
    const Slot& s = slots[i];
    const Entry& e = entries[i];
    Put32(b, s.at, e.cell);
    if (s.kind == 'h') {
      Put32(b, s.at + 4, NameHash(e.name));
    } else if (s.kind == 'f') {
      for (size_t j = 0; j < 4; ++j) b[s.at + 4 + j] = j < e.name.size() ? static_cast<char>(e.name[j]) : '\0';
    }
  }
  for (const Entry& e : entries)
    if (!SortSubKeyLists(v, kBaseBlockSize + e.cell, depth + 1, seen)) return false;
  return true;
}

bool FixUp(std::string& bytes, const std::vector<NamePatch>& keys, const std::vector<NamePatch>& values) {
  CellView v(bytes);
  for (const NamePatch& p : keys)
    if (!PatchName(v, p, "nk", kNkNameLen, kNkFlags, kKeyCompressedName, kNkName)) return false;
  for (const NamePatch& p : values)
    if (!PatchName(v, p, "vk", kVkNameLen, kVkFlags, kValueCompressedName, kVkName)) return false;
  if (bytes.size() < kBaseBlockSize) return false;
  std::set<size_t> seen;
  return SortSubKeyLists(v, kBaseBlockSize + Get32(bytes, 0x24), 0, &seen);
}

// ---- loading ----

struct Refusal {
  LONG code;
  std::string why;
};

// The layout checks done before hivex sees the file: base block, checksum,
// sequence numbers and the chain of bins.
std::optional<Refusal> CheckLayout(const std::string& b) {
  if (b.size() < 4 || b.compare(0, 4, "regf") != 0)
    return Refusal{ERROR_NOT_REGISTRY_FILE, b.empty() ? "is empty" : "is not a registry hive (no \"regf\" signature)"};
  if (b.size() < kBaseBlockSize + kBinSize)
    return Refusal{ERROR_REGISTRY_CORRUPT, "is truncated (" + std::to_string(b.size()) + " bytes)"};
  uint32_t stored = Get32(b, kChecksumAt), computed = Checksum(b);
  if (stored != computed) {
    char text[96];
    snprintf(text, sizeof text, "has a damaged base block (checksum 0x%08x, expected 0x%08x)", stored, computed);
    return Refusal{ERROR_REGISTRY_CORRUPT, text};
  }
  uint32_t major = Get32(b, 0x14), minor = Get32(b, 0x18);
  if (major != 1 || minor < 2 || minor > 6)
    return Refusal{ERROR_NOT_REGISTRY_FILE,
                   "has hive format version " + std::to_string(major) + "." + std::to_string(minor) + ", not 1.2-1.6"};
  if (Get32(b, 0x1C) != 0) return Refusal{ERROR_NOT_REGISTRY_FILE, "is a hive log, not a hive"};
  if (Get32(b, 0x04) != Get32(b, 0x08))
    return Refusal{ERROR_REGISTRY_CORRUPT, "was not written completely (its sequence numbers differ)"};
  uint32_t binsSize = Get32(b, 0x28);
  if (binsSize == 0 || binsSize % kBinSize != 0 || kBaseBlockSize + binsSize > b.size())
    return Refusal{ERROR_REGISTRY_CORRUPT, "is truncated (the header promises " + std::to_string(binsSize) +
                                               " bytes of bins, the file holds " +
                                               std::to_string(b.size() - kBaseBlockSize) + ")"};
  for (uint32_t off = 0; off < binsSize;) {
    size_t at = kBaseBlockSize + off;
    uint32_t size = Get32(b, at + 8);
    if (b.compare(at, 4, "hbin") != 0 || Get32(b, at + 4) != off || size < kBinSize || size % kBinSize != 0 ||
        size > binsSize - off)
      return Refusal{ERROR_REGISTRY_CORRUPT, "has a damaged hive bin at offset " + std::to_string(at)};
    off += size;
  }
  uint32_t root = Get32(b, 0x24);
  if (root >= binsSize - 8 || static_cast<int32_t>(Get32(b, kBaseBlockSize + root)) >= 0 ||
      b.compare(kBaseBlockSize + root + 4, 2, "nk") != 0)
    return Refusal{ERROR_REGISTRY_CORRUPT, "has no root key"};
  return std::nullopt;
}

class HiveReader {
 public:
  explicit HiveReader(hive_h* h) : h_(h) {}

  std::optional<Refusal> Read(hive_node_h node, int depth, KeyTree* out) {
    if (depth > kMaxDepth) return Corrupt("nests keys deeper than " + std::to_string(kMaxDepth) + " levels");
    if (!seen_.insert(node).second) return Corrupt("has a key that contains itself");
    if (++keys_ > kMaxKeys) return Corrupt("has more than " + std::to_string(kMaxKeys) + " keys");
    Malloced<char> name(hivex_node_name(h_, node));
    if (!name) return Failed("a key name");
    out->name = ToUtf16(std::string_view(name.get(), hivex_node_name_len(h_, node)));
    int64_t stamp = hivex_node_timestamp(h_, node);
    out->written = stamp > 0 ? stamp : 0;
    if (depth > 0) {
      if (out->name.empty()) return Corrupt("has a key without a name");
      if (out->name.find(u'\\') != std::u16string::npos) return Corrupt("has a key name with a backslash");
      if (out->name.size() > kMaxKeyNameChars) return Corrupt("has a key name longer than 255 characters");
    }

    Malloced<hive_value_h> values(hivex_node_values(h_, node));
    if (!values) return Failed("the values of " + ToUtf8(out->name));
    std::set<std::string> valueNames;
    for (size_t i = 0; values.get()[i]; ++i) {
      hive_value_h v = values.get()[i];
      Malloced<char> key(hivex_value_key(h_, v));
      if (!key) return Failed("a value name");
      ValueRow row;
      row.name = ToUtf16(std::string_view(key.get(), hivex_value_key_len(h_, v)));
      hive_type type;
      size_t len = 0;
      Malloced<char> data(hivex_value_value(h_, v, &type, &len));
      if (!data) return Failed("the data of value " + ToUtf8(row.name));
      int32_t rawType = 0;
      std::memcpy(&rawType, &type, sizeof rawType);
      row.type = static_cast<DWORD>(rawType);
      row.data.assign(data.get(), len);
      if (row.name.size() > kMaxValueNameChars) return Corrupt("has a value name longer than 16383 characters");
      if (!valueNames.insert(FoldedName(row.name)).second) return Corrupt("has two values of one name");
      out->values.push_back(std::move(row));
    }

    Malloced<hive_node_h> children(hivex_node_children(h_, node));
    if (!children) return Failed("the subkeys of " + ToUtf8(out->name));
    std::set<std::string> childNames;
    for (size_t i = 0; children.get()[i]; ++i) {
      KeyTree child;
      if (auto refusal = Read(children.get()[i], depth + 1, &child)) return refusal;
      if (!childNames.insert(FoldedName(child.name)).second) return Corrupt("has two subkeys of one name");
      out->children.push_back(std::move(child));
    }
    return std::nullopt;
  }

 private:
  static Refusal Corrupt(const std::string& why) { return Refusal{ERROR_REGISTRY_CORRUPT, why}; }
  static Refusal Failed(const std::string& what) {
    return Refusal{ERROR_REGISTRY_CORRUPT, "cannot be read at " + what + " (" + std::strerror(errno) + ")"};
  }

  hive_h* h_;
  std::set<hive_node_h> seen_;
  size_t keys_ = 0;
};

}  // namespace

DWORD KeySecuritySize() { return static_cast<DWORD>(KeySecurity().size()); }

LONG SaveHive(const std::string& path, const KeyTree& tree) {
  const char* call = "RegSaveKeyExW";
  struct stat st {};
  if (lstat(path.c_str(), &st) == 0) return ERROR_ALREADY_EXISTS;
  std::filesystem::path target(path);
  std::string folder = target.has_parent_path() ? target.parent_path().string() : std::string(".");
  if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return ERROR_PATH_NOT_FOUND;

  // hivex builds the hive in a file of the system's temporary folder; the
  // finished bytes are then written under the name, as the system creates
  // the file there: a process killed meanwhile leaves nothing of its own in
  // the caller's folder beyond that file.
  TempFile temp;
  std::error_code ec;
  std::string scratch = std::filesystem::temp_directory_path(ec).string();
  int fd = temp.Create(scratch.empty() ? std::string("/tmp") : scratch, "hive");
  if (fd < 0) return FromErrno(errno);
  std::string empty = EmptyHive(Now(), tree.name.empty() ? std::u16string_view(u"ROOT") : tree.name,
                                ToUtf16(target.filename().string()));
  bool written = WriteAll(fd, empty);
  int err = errno;
  close(fd);
  if (!written) return FromErrno(err);

  std::vector<NamePatch> keyPatches, valuePatches;
  {
    Hive hive(hivex_open(temp.path().c_str(), HIVEX_OPEN_WRITE));
    if (!hive.get()) {
      Report(call, path, std::string("cannot be started: hivex refused the empty hive (") + std::strerror(errno) + ")");
      return ERROR_REGISTRY_IO_FAILED;
    }
    HiveWriter writer(hive.get());
    if (!writer.Add(hivex_root(hive.get()), tree) || hivex_commit(hive.get(), nullptr, 0) != 0) {
      err = errno;
      Report(call, path, std::string("cannot be written (hivex: ") + std::strerror(err) + ")");
      return err == ENOSPC ? ERROR_DISK_FULL : err == ENOMEM ? ERROR_OUTOFMEMORY : ERROR_REGISTRY_IO_FAILED;
    }
    if (hive.Close() != 0) return FromErrno(errno);
    keyPatches = std::move(writer.keyPatches);
    valuePatches = std::move(writer.valuePatches);
  }

  std::string bytes;
  if (LONG rc = ReadWholeFile(temp.path(), &bytes)) return rc;
  if (!FixUp(bytes, keyPatches, valuePatches)) {
    Report(call, path, "cannot be finished: the hive hivex wrote has an unexpected layout");
    return ERROR_REGISTRY_IO_FAILED;
  }
  // Never over an existing file, even one made since the check above.
  fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return errno == EEXIST ? ERROR_ALREADY_EXISTS : FromErrno(errno);
  written = WriteAll(fd, bytes) && fsync(fd) == 0;
  err = errno;
  close(fd);
  if (!written) {
    unlink(path.c_str());
    return FromErrno(err);
  }
  int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
  return ERROR_SUCCESS;
}

LONG LoadHive(const std::string& path, KeyTree* tree) {
  const char* call = "RegRestoreKeyW";
  std::string bytes;
  if (LONG rc = ReadWholeFile(path, &bytes)) return rc;
  if (auto refusal = CheckLayout(bytes)) {
    Report(call, path, refusal->why);
    return refusal->code;
  }
  // hivex parses a private copy, so what it reads is what was checked.
  TempFile copy;
  std::error_code ec;
  std::string folder = std::filesystem::temp_directory_path(ec).string();
  int fd = copy.Create(folder.empty() ? std::string("/tmp") : folder, "hive");
  if (fd < 0) return FromErrno(errno);
  bool written = WriteAll(fd, bytes);
  int err = errno;
  close(fd);
  if (!written) return FromErrno(err);
  bytes.clear();
  bytes.shrink_to_fit();

  Hive hive(hivex_open(copy.path().c_str(), 0));
  if (!hive.get()) {
    Report(call, path, std::string("is damaged (hivex: ") + std::strerror(errno) + ")");
    return ERROR_REGISTRY_CORRUPT;
  }
  HiveReader reader(hive.get());
  KeyTree result;
  hive_node_h root = hivex_root(hive.get());
  std::optional<Refusal> refusal;
  if (root) refusal = reader.Read(root, 0, &result);
  else refusal = Refusal{ERROR_REGISTRY_CORRUPT, "has no root key"};
  if (refusal) {
    Report(call, path, refusal->why);
    return refusal->code;
  }
  *tree = std::move(result);
  return ERROR_SUCCESS;
}

}  // namespace standin::reg
