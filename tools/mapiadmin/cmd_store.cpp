// mapiadmin store create: makes an empty store file with the standard folders.
#include <shlwapi.h>

#include <CLI/CLI.hpp>

#include "services.h"

namespace mapiadmin {

void AddStoreCommand(CLI::App& app) {
  CLI::App* cmd = app.add_subcommand("store", "make store files");
  cmd->require_subcommand(1);
  static std::string path, name;
  CLI::App* create = cmd->add_subcommand("create", "make an empty store file");
  create->add_option("path", path, "store file to make")->required();
  create->add_option("--name", name, "display name")->default_val("Personal Folders");
  create->callback([] {
    WCHAR full[MAX_PATH];
    std::u16string given = W(path);
    if (!GetFullPathNameW(given.c_str(), MAX_PATH, full, nullptr)) throw Failure("bad path " + path);
    if (PathFileExistsW(full)) throw Failure(path + " already exists");
    // Made through a short-lived profile: configuring a personal-folders
    // service with a path that names no file makes the file.
    MapiSubsystem mapi;
    CInterfacePtr<IProfAdmin> admin = OpenProfileAdmin();
    std::string profile = "mapiadmin-store-" + std::to_string(GetCurrentProcessId());
    std::u16string wprofile = W(profile);
    Check(admin->CreateProfile(wprofile.data(), nullptr, 0, MAPI_UNICODE), "creating a working profile");
    try {
      CInterfacePtr<IMsgServiceAdmin> services = OpenServiceAdmin(admin.Get(), profile);
      AddService(services.Get(), "MSUPST MS", name, U(full));
    } catch (...) {
      admin->DeleteProfile(wprofile.data(), MAPI_UNICODE);
      throw;
    }
    Check(admin->DeleteProfile(wprofile.data(), MAPI_UNICODE), "removing the working profile");
    Print(U(full) + "\n");
  });
}

}  // namespace mapiadmin
