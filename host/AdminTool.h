// The stand-in's admin tool, run as a child process to arrange the demo's
// machine: the library itself never arranges anything.
#pragma once

#include <string>
#include <vector>

namespace host {

// Runs the admin tool that sits beside this program with args, in this
// process's environment (and so its platform root); returns what it printed.
// A tool that fails throws OperationFailed with its own words.
std::string RunAdminTool(const std::vector<std::string>& args);

// The folder of this program (POSIX).
std::string ProgramDirectory();

}  // namespace host
