// What Debian's pffexport, a reader of personal-folders files independent of
// the stand-in, exports from a real file: its folders, the items in each and
// their subjects and attached files.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "common/fresh_root.h"

namespace testing_support {

inline const char kPffExport[] = "/usr/bin/pffexport";

// The real personal-folders files of the test data, by name.
inline std::vector<std::filesystem::path> RealStoreFiles() {
  std::vector<std::filesystem::path> files;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(TestData() / "pst", ec))
    if (entry.path().extension() == ".pst") files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  return files;
}

struct ExportedItem {
  std::string subject;
  std::vector<std::string> files;  // attached files' names, sorted
  bool operator<(const ExportedItem& o) const { return std::tie(subject, files) < std::tie(o.subject, o.files); }
  bool operator==(const ExportedItem& o) const { return subject == o.subject && files == o.files; }
};
// Folder path below the top of the tree ("" the top, "Inbox/Projects") -> its
// items, sorted.
using ExportedTree = std::map<std::string, std::vector<ExportedItem>>;

inline void PrintTo(const ExportedItem& item, std::ostream* os) {
  *os << "{" << item.subject;
  for (const std::string& f : item.files) *os << ", " << f;
  *os << "}";
}

// Exports file into folder (which must not hold an export yet), with more
// options if given; the export's top folder.
inline std::filesystem::path PffExport(const std::string& file, const std::string& folder,
                                       std::vector<std::string> options = {}) {
  std::vector<std::string> argv = {kPffExport, "-q", "-t", folder + "/pff"};
  argv.insert(argv.end(), options.begin(), options.end());
  argv.push_back(file);
  ChildResult run = RunChild(argv);
  EXPECT_EQ(run.exitCode, 0) << run.output;
  return std::filesystem::path(folder + "/pff.export");
}

namespace detail {

inline std::string SubjectOf(const std::filesystem::path& item) {
  static const std::regex subject("^Subject:\\s*(.*)$");
  for (const auto& entry : std::filesystem::directory_iterator(item)) {
    if (entry.path().extension() != ".txt") continue;
    std::string text = ReadFileBytes(entry.path().string());
    size_t start = 0;
    while (start < text.size()) {
      size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      std::smatch m;
      std::string line = text.substr(start, end - start);
      if (std::regex_match(line, m, subject)) return m[1];
      start = end + 1;
    }
  }
  return "";
}

inline void Walk(const std::filesystem::path& folder, const std::string& path, ExportedTree& out) {
  static const std::regex itemName("^[A-Za-z]+[0-9]{5}$");
  static const std::regex fileName("^[0-9]+_(.*)$");
  out[path];
  std::vector<std::filesystem::path> children;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    if (entry.is_directory()) children.push_back(entry.path());
  for (const std::filesystem::path& child : children) {
    std::string name = child.filename().string();
    if (!std::regex_match(name, itemName)) {
      Walk(child, path.empty() ? name : path + "/" + name, out);
      continue;
    }
    ExportedItem item{detail::SubjectOf(child), {}};
    std::error_code ec;
    for (const auto& a : std::filesystem::directory_iterator(child / "Attachments", ec)) {
      std::smatch m;
      std::string file = a.path().filename().string();
      if (a.is_regular_file() && std::regex_match(file, m, fileName)) item.files.push_back(m[1]);
    }
    std::sort(item.files.begin(), item.files.end());
    out[path].push_back(item);
  }
  std::sort(out[path].begin(), out[path].end());
}

}  // namespace detail

// The tree below the export's folder named top (the file's top of its
// personal folders).
inline ExportedTree ExportedFolders(const std::filesystem::path& exported, const std::string& top) {
  ExportedTree out;
  EXPECT_TRUE(std::filesystem::is_directory(exported / top)) << exported / top;
  if (std::filesystem::is_directory(exported / top)) detail::Walk(exported / top, "", out);
  return out;
}

// Where things lie in a real file's bytes, read straight from its two B-trees
// (for tests that damage one block or page): the root page of the block tree,
// and the offset and size of the block holding node nid's data ({0, 0} when
// the trees do not hold it).
struct FileSpan {
  uint64_t offset = 0, size = 0;
};
namespace detail {
inline uint64_t Le(const std::string& b, uint64_t at, int size) {
  uint64_t v = 0;
  for (int i = size; i-- > 0;) v = (v << 8) | static_cast<unsigned char>(b.at(at + i));
  return v;
}
// Every leaf entry of the tree whose root page is at page, as its first three words.
inline void Leaves(const std::string& b, uint64_t page, bool unicode, std::vector<std::array<uint64_t, 3>>& out) {
  const int w = unicode ? 8 : 4;
  const uint64_t area = unicode ? 488 : 496;
  const uint64_t count = Le(b, page + area, 1), size = Le(b, page + area + 2, 1), level = Le(b, page + area + 3, 1);
  for (uint64_t i = 0; i < count; ++i) {
    uint64_t e = page + i * size;
    if (level > 0)
      Leaves(b, Le(b, e + 2 * w, w), unicode, out);
    else
      out.push_back({Le(b, e, w), Le(b, e + w, w), Le(b, e + 2 * w, w)});
  }
}
}  // namespace detail
inline FileSpan BlockTreeRoot(const std::string& bytes) {
  bool unicode = detail::Le(bytes, 10, 2) >= 23;
  return {unicode ? detail::Le(bytes, 0xF0, 8) : detail::Le(bytes, 0xC4, 4), 512};
}
// The nodes of the file's messages (those whose type bits say "message").
inline std::vector<uint32_t> MessageNodes(const std::string& bytes) {
  bool unicode = detail::Le(bytes, 10, 2) >= 23;
  std::vector<std::array<uint64_t, 3>> nodes;
  detail::Leaves(bytes, unicode ? detail::Le(bytes, 0xE0, 8) : detail::Le(bytes, 0xBC, 4), unicode, nodes);
  std::vector<uint32_t> out;
  for (const auto& n : nodes)
    if ((n[0] & 0x1F) == 0x04) out.push_back(static_cast<uint32_t>(n[0]));
  return out;
}
inline FileSpan NodeDataBlock(const std::string& bytes, uint32_t nid) {
  bool unicode = detail::Le(bytes, 10, 2) >= 23;
  std::vector<std::array<uint64_t, 3>> nodes, blocks;
  detail::Leaves(bytes, unicode ? detail::Le(bytes, 0xE0, 8) : detail::Le(bytes, 0xBC, 4), unicode, nodes);
  detail::Leaves(bytes, BlockTreeRoot(bytes).offset, unicode, blocks);
  for (const auto& n : nodes)
    if (static_cast<uint32_t>(n[0]) == nid)
      for (const auto& b : blocks)
        if ((b[0] & ~uint64_t{1}) == (n[1] & ~uint64_t{1})) return {b[1], b[2] & 0xFFFF};
  return {};
}

// The byte substitution of files written with compressible encoding (crypt
// method 1 in the header): a data block holds kCompressible[b] for byte b.
inline constexpr std::array<uint8_t, 256> kCompressible = {
    0x41, 0x36, 0x13, 0x62, 0xA8, 0x21, 0x6E, 0xBB, 0xF4, 0x16, 0xCC, 0x04, 0x7F, 0x64, 0xE8, 0x5D,
    0x1E, 0xF2, 0xCB, 0x2A, 0x74, 0xC5, 0x5E, 0x35, 0xD2, 0x95, 0x47, 0x9E, 0x96, 0x2D, 0x9A, 0x88,
    0x4C, 0x7D, 0x84, 0x3F, 0xDB, 0xAC, 0x31, 0xB6, 0x48, 0x5F, 0xF6, 0xC4, 0xD8, 0x39, 0x8B, 0xE7,
    0x23, 0x3B, 0x38, 0x8E, 0xC8, 0xC1, 0xDF, 0x25, 0xB1, 0x20, 0xA5, 0x46, 0x60, 0x4E, 0x9C, 0xFB,
    0xAA, 0xD3, 0x56, 0x51, 0x45, 0x7C, 0x55, 0x00, 0x07, 0xC9, 0x2B, 0x9D, 0x85, 0x9B, 0x09, 0xA0,
    0x8F, 0xAD, 0xB3, 0x0F, 0x63, 0xAB, 0x89, 0x4B, 0xD7, 0xA7, 0x15, 0x5A, 0x71, 0x66, 0x42, 0xBF,
    0x26, 0x4A, 0x6B, 0x98, 0xFA, 0xEA, 0x77, 0x53, 0xB2, 0x70, 0x05, 0x2C, 0xFD, 0x59, 0x3A, 0x86,
    0x7E, 0xCE, 0x06, 0xEB, 0x82, 0x78, 0x57, 0xC7, 0x8D, 0x43, 0xAF, 0xB4, 0x1C, 0xD4, 0x5B, 0xCD,
    0xE2, 0xE9, 0x27, 0x4F, 0xC3, 0x08, 0x72, 0x80, 0xCF, 0xB0, 0xEF, 0xF5, 0x28, 0x6D, 0xBE, 0x30,
    0x4D, 0x34, 0x92, 0xD5, 0x0E, 0x3C, 0x22, 0x32, 0xE5, 0xE4, 0xF9, 0x9F, 0xC2, 0xD1, 0x0A, 0x81,
    0x12, 0xE1, 0xEE, 0x91, 0x83, 0x76, 0xE3, 0x97, 0xE6, 0x61, 0x8A, 0x17, 0x79, 0xA4, 0xB7, 0xDC,
    0x90, 0x7A, 0x5C, 0x8C, 0x02, 0xA6, 0xCA, 0x69, 0xDE, 0x50, 0x1A, 0x11, 0x93, 0xB9, 0x52, 0x87,
    0x58, 0xFC, 0xED, 0x1D, 0x37, 0x49, 0x1B, 0x6A, 0xE0, 0x29, 0x33, 0x99, 0xBD, 0x6C, 0xD9, 0x94,
    0xF3, 0x40, 0x54, 0x6F, 0xF0, 0xC6, 0x73, 0xB8, 0xD6, 0x3E, 0x65, 0x18, 0x44, 0x1F, 0xDD, 0x67,
    0x10, 0xF1, 0x0C, 0x19, 0xEC, 0xAE, 0x03, 0xA1, 0x14, 0x7B, 0xA9, 0x0B, 0xFF, 0xF8, 0xA3, 0xC0,
    0xA2, 0x01, 0xF7, 0x2E, 0xBC, 0x24, 0x68, 0x75, 0x0D, 0xFE, 0xBA, 0x2F, 0xB5, 0xD0, 0xDA, 0x3D,
};

// Replaces, in the compressibly encoded data block at block, the first run of
// the bytes was by now (as long) and writes the block's new checksum; false
// when the block holds no such run.
inline bool ReplaceInBlock(std::string& whole, FileSpan block, const std::string& was, const std::string& now) {
  auto encode = [](std::string text) {
    for (char& c : text) c = static_cast<char>(kCompressible[static_cast<unsigned char>(c)]);
    return text;
  };
  std::string data = whole.substr(block.offset, block.size);
  size_t at = data.find(encode(was));
  if (at == std::string::npos || was.size() != now.size()) return false;
  whole.replace(block.offset + at, now.size(), encode(now));
  uint32_t crc = 0;
  for (uint64_t i = 0; i < block.size; ++i) {
    crc ^= static_cast<unsigned char>(whole[block.offset + i]);
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  bool unicode = detail::Le(whole, 10, 2) >= 23;
  uint64_t trailer = unicode ? 16 : 12;
  uint64_t at_crc = block.offset + (block.size + trailer + 63) / 64 * 64 - trailer + (unicode ? 4 : 8);
  for (int i = 0; i < 4; ++i) whole[at_crc + i] = static_cast<char>((crc >> (8 * i)) & 0xFF);
  return true;
}

// Whether pffinfo reports a password on the file.
inline bool HasPassword(const std::string& file) {
  ChildResult run = RunChild({"/usr/bin/pffinfo", file});
  EXPECT_EQ(run.exitCode, 0) << run.output;
  return run.output.find("Password checksum:\t0x") != std::string::npos;
}

}  // namespace testing_support
