// corvane attach: a store file added to the profile "Outlook" under a display
// name; a file the profile already holds is attached once, under the new name.
#include <filesystem>

#include <CLI/CLI.hpp>

#include "Host.h"

namespace host {

namespace {

void RunAttach(const std::string& path, const std::string& name) {
  if (!IsRegularFile(path))
    throw UsageError(IsDirectory(path) ? "'" + path + "' is a folder, not a store file" : "no store file at '" + path + "'");
  std::string full = AbsolutePath(path);
  std::string shown = name.empty() ? Utf8(FsPath(full).stem()) : name;
  LibrarySession library;
  if (!COutlookFacade::IsInstalledOutlook())
    throw OperationFailed(NotInstalled());
  Facade facade;
  WString libPath = LibraryPath(full), display = W(shown);
  // The reverse of the other operations: 0 means attached.
  bool ok = facade->AttatchPSTFile(libPath.c_str(), display.c_str()) == 0;
  if (GlobalOptions().json)
    PrintJson({{"operation", "attach"}, {"ok", ok}, {"path", full}, {"name", shown}, {"profile", "Outlook"}});
  else if (ok)
    Out("Attached " + full + " to the profile \"Outlook\" as \"" + shown + "\"\n");
  if (!ok) throw OperationFailed("attaching " + full + " to the profile \"Outlook\" failed; " + LogLocation());
}

}  // namespace

void AddAttachCommand(CLI::App& app) {
  static std::string path, name;
  CLI::App* cmd = app.add_subcommand("attach", "attach a store file to the profile \"Outlook\"");
  cmd->add_option("path", path, "the store file")->required();
  cmd->add_option("-n,--name", name, "display name in the profile (default: the file's name without .pst)")
      ->type_name("NAME");
  AddCommonOptions(*cmd, false);
  cmd->callback([] { RunAttach(path, name); });
}

}  // namespace host
