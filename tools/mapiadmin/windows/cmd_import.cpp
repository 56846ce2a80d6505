// mapiadmin import on Windows: reading real mail needs GMime, which the
// Windows build has not. The command is there, and says so.
#include <CLI/CLI.hpp>

#include "mapiadmin.h"

namespace mapiadmin {

void AddImportCommand(CLI::App& app) {
  CLI::App* cmd = app.add_subcommand("import", "import .eml and mbox files (on Linux only)");
  cmd->allow_extras();
  cmd->callback([] { throw Failure("importing mail needs the Linux build: this one reads no .eml or mbox files"); });
}

}  // namespace mapiadmin
