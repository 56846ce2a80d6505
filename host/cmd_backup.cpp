// corvane backup: chosen folders of a store into a destination store, made
// when missing and brought up to date incrementally when it exists.
#include <filesystem>

#include <CLI/CLI.hpp>

#include "Backup.h"
#include "Library.h"
#include "Operation.h"

namespace host {

namespace {

bool EndsWithPst(const std::string& path) {
  return path.size() > 4 && SameNoCase(W(path.substr(path.size() - 4)), TEXT(".pst"));
}

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code ec;
  if (std::filesystem::equivalent(FsPath(a), FsPath(b), ec)) return true;
  return SameNoCase(W(AbsolutePath(a)), W(AbsolutePath(b)));
}

std::string FolderList(const std::vector<OLCATALOGDATA>& records) {
  std::string text;
  for (const OLCATALOGDATA& r : records)
    text += (text.empty() ? "" : ", ") + (r.nType == OLFOLDER_ROOT ? std::string("(top)") : RecordName(r));
  return text;
}

}  // namespace

WString BackupDestination(COutlookFacade& facade, const std::string& argument, const StoreRef& source) {
  if (argument.empty()) throw UsageError("an empty destination");
  if (IsDirectory(argument)) return LibraryPath(argument) + TEXT("\\");  // the library names a store file in it
  std::string full = AbsolutePath(argument);
  std::string folder = Utf8(FsPath(full).parent_path());
  if (!IsDirectory(folder)) throw UsageError("the destination's folder does not exist: " + folder);
  if (!EndsWithPst(full)) throw UsageError("the destination must be a .pst file or an existing folder: " + argument);
  if (FileSize(full) >= 0 && !IsRegularFile(full)) throw UsageError("the destination is not a file: " + full);
  if (SameFile(full, source.path)) throw UsageError("the destination is the source store itself");
  // A store the profile holds is named as the profile names it.
  for (const StoreRef& s : ProfileStores(facade))
    if (!s.path.empty() && SameFile(s.path, full)) return s.libPath;
  return LibraryPath(full);
}

BackupResult Backup(COutlookFacade& facade, const StoreRef& source, const WString& destination,
                    std::vector<OLCATALOGDATA> folders, const std::string& label) {
  BackupResult result;
  CString settled(destination.c_str());
  result.outcome = RunOperation(facade, label, [&] {
    return BackupThroughLibrary(facade, source.libPath.c_str(), settled, folders);
  });
  result.destination = UserPath(settled.GetString());
  return result;
}

namespace {

void RunBackup(const std::string& sourceArg, const std::string& destArg, const std::vector<std::string>& names,
               const std::vector<std::string>& kinds) {
  LibrarySession library;
  Facade facade;
  StoreRef source = ResolveStore(*facade, sourceArg);
  WString destination = BackupDestination(*facade, destArg, source);
  std::string label = source.displayName.empty() ? source.path : source.displayName;
  std::vector<OLCATALOGDATA> chosen = ChooseFolders(ListFolders(*facade, source, {}), names, kinds, label);
  if (chosen.empty()) throw UsageError("the store " + label + " has no folders to back up");

  BackupResult result = Backup(*facade, source, destination, chosen, "backup");
  const Outcome& o = result.outcome;
  if (GlobalOptions().json) {
    nlohmann::json folders = nlohmann::json::array();
    for (const OLCATALOGDATA& r : chosen) folders.push_back(RecordJson(r));
    PrintJson(OutcomeJson(o, {{"operation", "backup"},
                              {"source", source.path},
                              {"destination", result.destination},
                              {"folders", folders}}));
  } else if (o.ok) {
    Out("Backed up " + label + " into " + result.destination + "\n  folders:  " + FolderList(chosen) +
        "\n  messages: " + MessagesText(o, "checked (those already there are not copied again)") + "\n");
  }
  ThrowUnlessOk(o, "backup of " + label);
}

}  // namespace

void AddBackupCommand(CLI::App& app) {
  static std::string source, destination;
  static std::vector<std::string> names, kinds;
  CLI::App* cmd = app.add_subcommand(
      "backup", "back up folders of a store into a destination store, copying only what it lacks");
  cmd->add_option("source", source, "a store file, or the display name of a store of the profile")->required();
  cmd->add_option("destination", destination,
                  "a .pst file (made when missing) or an existing folder (a new store file is named in it)")
      ->required();
  cmd->add_option("-f,--folder", names, "a top-level folder to back up, by name (repeatable; default: all)")
      ->type_name("NAME");
  cmd->add_option("-k,--kind", kinds, "top-level folders to back up, by kind: " + KindNames() + " (repeatable)")
      ->type_name("KIND");
  AddCommonOptions(*cmd, true);
  cmd->callback([] { RunBackup(source, destination, names, kinds); });
}

}  // namespace host
