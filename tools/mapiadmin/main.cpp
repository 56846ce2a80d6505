// mapiadmin: installs the stand-in mail client into a platform root and
// arranges it — profiles, services, store files, mail, calendar items and
// contacts — and dumps stores so that people and tests can compare them.
#include <cstdio>

#include <CLI/CLI.hpp>

#include "mapiadmin.h"
#include "system_programs.h"

int main(int argc, char** argv) {
  CLI::App app{"Arranges the stand-in mail client of a platform root."};
  app.require_subcommand(1);
  std::string root;
  app.add_option("--root", root, "platform root (default: CORVANE_PLATFORM_ROOT)")
      ->each(mapiadmin::UsePlatformRoot);
  mapiadmin::AddInstallCommand(app);
  mapiadmin::AddProfileCommand(app);
  mapiadmin::AddServiceCommand(app);
  mapiadmin::AddStoreCommand(app);
  mapiadmin::AddImportCommand(app);
  mapiadmin::AddItemCommands(app);
  mapiadmin::AddDumpCommand(app);
  mapiadmin::AddExportCommand(app);
  mapiadmin::AddAccountCommand(app);
  mapiadmin::AddGenerateCommand(app);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : 2;
  } catch (const mapiadmin::Failure& e) {
    std::fprintf(stderr, "mapiadmin: %s\n", e.what());
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "mapiadmin: %s\n", e.what());
    return 1;
  }
  return 0;
}
