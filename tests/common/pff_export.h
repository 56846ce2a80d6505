// What Debian's pffexport, a reader of personal-folders files independent of
// the stand-in, exports from a real file: its folders, the items in each and
// their subjects and attached files.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
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

// Whether pffinfo reports a password on the file.
inline bool HasPassword(const std::string& file) {
  ChildResult run = RunChild({"/usr/bin/pffinfo", file});
  EXPECT_EQ(run.exitCode, 0) << run.output;
  return run.output.find("Password checksum:\t0x") != std::string::npos;
}

}  // namespace testing_support
