// The library's export table is exactly its documented surface.
#include <cstdio>
#include <set>
#include <string>

#include "common/fresh_root.h"

namespace testing_support {
namespace {

// Defined dynamic symbols of a shared object (version nodes left out).
std::set<std::string> DynamicExports(const std::string& path) {
  std::set<std::string> names;
  std::string command = "nm -D --defined-only '" + path + "' 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return names;
  char line[4096];
  while (fgets(line, sizeof line, pipe)) {
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    size_t space = text.rfind(' ');
    std::string kind = space != std::string::npos && space >= 2 ? text.substr(space - 1, 1) : "";
    if (kind == "A") continue;  // version definitions
    names.insert(space == std::string::npos ? text : text.substr(space + 1));
  }
  pclose(pipe);
  return names;
}

// What the library documents as its exports, today.
const std::set<std::string> kDocumentedExports = {};

TEST(ExportTable, TheLibraryExportsOnlyItsDocumentedSurface) {
  std::set<std::string> exported = DynamicExports(BuiltProgram("libcorvane.so"));
  EXPECT_EQ(exported, kDocumentedExports);
}

}  // namespace
}  // namespace testing_support
