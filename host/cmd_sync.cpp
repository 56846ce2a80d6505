// corvane sync: chosen folders of two stores brought into step in both
// directions; nothing is deleted and nothing is copied twice.
#include <filesystem>

#include <CLI/CLI.hpp>

#include "Sync.h"

namespace host {

std::vector<OLCATALOGDATA> SyncSelection(COutlookFacade& facade, const StoreRef& source, const StoreRef& destination,
                                         const std::vector<std::string>& names, const std::vector<std::string>& kinds) {
  // The top of a store is no folder of its own here: its pseudo-record is
  // left out, as the two stores' folders are matched by name.
  std::vector<OLCATALOGDATA> both;
  auto addFrom = [&](const std::vector<OLCATALOGDATA>& records) {
    for (const OLCATALOGDATA& r : records) {
      if (r.nType == OLFOLDER_ROOT) continue;
      bool known = false;
      for (const OLCATALOGDATA& b : both) known = known || SameNoCase(NameView(b), NameView(r));
      if (!known) both.push_back(r);
    }
  };
  addFrom(ListFolders(facade, source, {}));
  addFrom(ListFolders(facade, destination, {}));
  std::string label = (source.displayName.empty() ? source.path : source.displayName) + " or " +
                      (destination.displayName.empty() ? destination.path : destination.displayName);
  return ChooseFolders(both, names, kinds, label);
}

Outcome Sync(COutlookFacade& facade, const StoreRef& source, const StoreRef& destination,
             std::vector<OLCATALOGDATA> folders, const std::string& label) {
  return RunOperation(facade, label, [&] {
    return facade.SyncMessage(source.libPath.c_str(), destination.libPath.c_str(), folders.data(),
                              static_cast<ULONG>(folders.size()));
  });
}

namespace {

void RunSync(const std::string& sourceArg, const std::string& destArg, const std::vector<std::string>& names,
             const std::vector<std::string>& kinds) {
  LibrarySession library;
  Facade facade;
  StoreRef source = ResolveStore(*facade, sourceArg);
  StoreRef destination = ResolveStore(*facade, destArg);
  std::error_code ec;
  if (std::filesystem::equivalent(FsPath(source.path), FsPath(destination.path), ec))
    throw UsageError("the two stores are one and the same file");
  // Both sides are written to: a store that is only read is refused before anything runs.
  for (const StoreRef* store : {&source, &destination})
    if (StoreFileReadOnly(store->path))
      throw UsageError((store->displayName.empty() ? store->path : store->displayName) +
                       " is a read-only store: it can be listed and backed up, not synchronised");
  std::vector<OLCATALOGDATA> chosen = SyncSelection(*facade, source, destination, names, kinds);
  if (chosen.empty()) throw UsageError("the two stores have no folders to synchronise");

  Outcome o = Sync(*facade, source, destination, chosen, "sync");
  std::string from = source.displayName.empty() ? source.path : source.displayName;
  std::string to = destination.displayName.empty() ? destination.path : destination.displayName;
  if (GlobalOptions().json) {
    nlohmann::json folders = nlohmann::json::array();
    for (const OLCATALOGDATA& r : chosen) folders.push_back(RecordJson(r));
    PrintJson(OutcomeJson(o, {{"operation", "sync"},
                              {"source", source.path},
                              {"destination", destination.path},
                              {"folders", folders}}));
  } else if (o.ok) {
    std::string list;
    for (const OLCATALOGDATA& r : chosen) list += (list.empty() ? "" : ", ") + RecordName(r);
    Out("Synchronised " + from + " and " + to + "\n  folders:  " + list +
        "\n  messages: " + MessagesText(o, "checked on both sides") + "\n");
  }
  ThrowUnlessOk(o, "synchronisation of " + from + " and " + to);
}

}  // namespace

void AddSyncCommand(CLI::App& app) {
  static std::string source, destination;
  static std::vector<std::string> names, kinds;
  CLI::App* cmd = app.add_subcommand("sync", "bring folders of two existing stores into step, both ways");
  cmd->add_option("source", source, "a store file, or the display name of a store of the profile")->required();
  cmd->add_option("destination", destination, "another existing store, named the same ways")->required();
  cmd->add_option("-f,--folder", names, "a top-level folder to synchronise, by name (repeatable; default: all)")
      ->type_name("NAME");
  cmd->add_option("-k,--kind", kinds, "top-level folders to synchronise, by kind: " + KindNames() + " (repeatable)")
      ->type_name("KIND");
  AddCommonOptions(*cmd, true);
  cmd->callback([] { RunSync(source, destination, names, kinds); });
}

}  // namespace host
