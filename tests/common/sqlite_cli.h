// The sqlite3 command-line program, an independent reader and writer of the
// database files the library makes.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "common/fresh_root.h"

namespace testing_support {

// The program's path from PATH; "" when it is not installed.
inline std::string Sqlite3Program() {
  const char* path = std::getenv("PATH");
  std::istringstream dirs(path ? path : "/usr/bin");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    std::string candidate = (dir.empty() ? "." : dir) + "/sqlite3";
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return "";
}

// Runs the program on a database file with commands and statements, one
// argument each; what it printed (standard output and errors).
inline std::string Sqlite3(const std::string& database, const std::vector<std::string>& commands,
                           int* exitCode = nullptr) {
  std::vector<std::string> argv = {Sqlite3Program(), "-batch", database};
  argv.insert(argv.end(), commands.begin(), commands.end());
  ChildResult r = RunChild(argv);
  if (exitCode) *exitCode = r.exitCode;
  return r.output;
}

}  // namespace testing_support
