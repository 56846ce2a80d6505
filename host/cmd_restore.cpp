// corvane restore: a collection folder's store copied back into the profile
// "Outlook": into its default store, or, when the profile holds none, into a
// new "restore.pst" in the user's application-data folder that is attached
// as "QorDestination".
#include <shlobj.h>

#include <CLI/CLI.hpp>

#include "Collect.h"

namespace host {

namespace {

const char kCatalog[] = "mail.db3";
const char kRestoredName[] = "QorDestination";

// Where the library restores when the profile holds no store.
std::string FallbackDestination() {
  WCHAR folder[MAX_PATH] = {};
  if (!SHGetSpecialFolderPathW(nullptr, folder, CSIDL_APPDATA, FALSE)) return "";
  return UserPath(folder) + "/restore.pst";
}

}  // namespace

RestoreResult Restore(COutlookFacade& facade, const std::string& folder) {
  RestoreResult result;
  CString dir(CollectionFolder(folder).c_str());
  std::vector<StoreRef> stores = ProfileStores(facade);
  bool fallback = stores.empty();
  result.destination = fallback ? FallbackDestination() : stores.front().path;
  result.outcome = RunOperation(facade, "restore", [&] { return facade.AutoRestoreMessage(dir); });
  if (fallback && result.outcome.ok)
    for (const StoreRef& s : ProfileStores(facade))
      result.attached = result.attached || (s.path == result.destination && s.displayName == kRestoredName);
  return result;
}

namespace {

void RunRestore(const std::string& folder) {
  CollectionFolder(folder);
  std::string collection = AbsolutePath(folder);
  if (!IsRegularFile(JoinPath(collection, kCatalog)))
    throw UsageError("no catalog " + std::string(kCatalog) + " in " + collection + ": not a collection folder");

  LibrarySession library;
  Facade facade;
  RestoreResult result = Restore(*facade, folder);
  const Outcome& o = result.outcome;
  if (GlobalOptions().json) {
    PrintJson(OutcomeJson(o, {{"operation", "restore"},
                              {"collection", collection},
                              {"destination", result.destination},
                              {"attached", result.attached}}));
  } else if (o.ok) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f", o.seconds);
    std::string attached =
        result.attached ? "\n  attached to the profile \"Outlook\" as \"" + std::string(kRestoredName) + "\"" : "";
    Out("Restored the collection in " + collection + " into " + result.destination + attached +
        "\n  messages: " + std::to_string(o.done) + " checked (those already there are not copied again), " +
        seconds + " s\n");
  }
  ThrowUnlessOk(o, "restore from " + collection);
}

}  // namespace

void AddRestoreCommand(CLI::App& app) {
  static std::string folder;
  CLI::App* cmd = app.add_subcommand(
      "restore", "copy a collection back: into the profile's default store, or a new attached store when it has none");
  cmd->add_option("folder", folder, "the collection folder (with outlook.pst and mail.db3)")
      ->type_name("DIR")
      ->required();
  AddCommonOptions(*cmd, true);
  cmd->callback([] { RunRestore(folder); });
}

}  // namespace host
