// mapiadmin install: puts the stand-in mail client into the platform root.
#include <CLI/CLI.hpp>
#include <standin/mapi.h>

#include "mapiadmin.h"
#include "system_programs.h"

namespace mapiadmin {

void AddInstallCommand(CLI::App& app) {
  CLI::App* cmd = app.add_subcommand("install", "install the mail client and its profile \"Outlook\"");
  cmd->callback([] {
    Check(standin::InstallMailClient(), "installing the mail client");
    InstallSystemPrograms();
    InstallAccounts();
    Print("installed into " + InstalledWhere() + "\n");
  });
}

}  // namespace mapiadmin
