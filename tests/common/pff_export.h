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

// Whether pffinfo reports a password on the file.
inline bool HasPassword(const std::string& file) {
  ChildResult run = RunChild({"/usr/bin/pffinfo", file});
  EXPECT_EQ(run.exitCode, 0) << run.output;
  return run.output.find("Password checksum:\t0x") != std::string::npos;
}

}  // namespace testing_support
