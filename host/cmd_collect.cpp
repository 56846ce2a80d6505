// corvane collect: stores of the profile copied into a collection folder, as
// the one store "outlook.pst" beside its catalog "mail.db3" that a restore
// reads on another machine.
#include <filesystem>

#include <CLI/CLI.hpp>

#include "Collect.h"

namespace host {

namespace {

const char kCollectedStore[] = "outlook.pst";
const char kCatalog[] = "mail.db3";

std::string Label(const StoreRef& store) { return store.displayName.empty() ? store.path : store.displayName; }

// Adds the outcome of one store's collection to the run's.
void Add(Outcome& total, const Outcome& part) {
  if (!part.ok && total.ok) total.code = part.code;
  total.ok = total.ok && part.ok;
  total.cancelled = total.cancelled || part.cancelled;
  total.done += part.done;
  total.planned += part.planned;
  total.seconds += part.seconds;
}

}  // namespace

WString CollectionFolder(const std::string& argument) {
  if (argument.empty()) throw UsageError("an empty collection folder");
  if (IsRegularFile(argument)) throw UsageError("'" + argument + "' is a file, not a collection folder");
  if (!IsDirectory(argument)) throw UsageError("the collection folder does not exist: " + AbsolutePath(argument));
  return LibraryPath(argument);
}

CollectResult Collect(COutlookFacade& facade, const std::vector<CollectSource>& sources, const std::string& folder) {
  CollectResult result;
  result.outcome.ok = true;
  result.stores = nlohmann::json::array();
  result.collected = JoinPath(AbsolutePath(folder), kCollectedStore);
  WString libFolder = CollectionFolder(folder);
  for (const CollectSource& source : sources) {
    std::vector<OLCATALOGDATA> records = source.folders;
    CString path(libFolder.c_str());
    std::string label = sources.size() > 1 ? "collect " + Label(source.store) : "collect";
    Outcome o = RunOperation(facade, label, [&] {
      return facade.CollectMessage(source.store.libPath.c_str(), path, records.data(),
                                   static_cast<DWORD>(records.size()));
    });
    if (o.ok) result.collected = UserPath(path.GetString());
    nlohmann::json folders = nlohmann::json::array();
    for (const OLCATALOGDATA& r : source.folders) folders.push_back(RecordJson(r));
    result.stores.push_back(
        OutcomeJson(o, {{"source", source.store.path}, {"name", source.store.displayName}, {"folders", folders}}));
    Add(result.outcome, o);
    if (o.cancelled) break;
  }
  return result;
}

CollectResult CollectAll(COutlookFacade& facade, const std::string& folder) {
  CollectResult result;
  result.stores = nlohmann::json::array();
  result.collected = JoinPath(AbsolutePath(folder), kCollectedStore);
  CString dir(CollectionFolder(folder).c_str());
  for (const StoreRef& s : ProfileStores(facade)) result.stores.push_back({{"source", s.path}, {"name", s.displayName}});
  result.outcome = RunOperation(facade, "collect", [&] { return facade.AutoCollectMessage(dir); });
  return result;
}

namespace {

void RunCollect(std::vector<std::string> args, bool all, const std::vector<std::string>& names,
                const std::vector<std::string>& kinds) {
  if (args.empty()) throw UsageError("name the collection folder");
  std::string folder = args.back();
  args.pop_back();
  if (all && !args.empty()) throw UsageError("--all collects every store of the profile; name no store with it");
  if (!all && args.empty()) throw UsageError("name a store to collect and the collection folder, or use --all");
  if ((!names.empty() || !kinds.empty()) && (all || args.size() > 1))
    throw UsageError("--folder and --kind choose folders of a single store");
  CollectionFolder(folder);
  std::string collection = AbsolutePath(folder);

  LibrarySession library;
  Facade facade;
  CollectResult result;
  std::string what;
  if (all) {
    result = CollectAll(*facade, folder);
    what = "collection of the profile's stores";
  } else {
    std::vector<CollectSource> sources;
    for (const std::string& arg : args) {
      StoreRef store = ResolveStore(*facade, arg);
      std::error_code ec;
      if (std::filesystem::equivalent(FsPath(store.path), FsPath(collection) / kCollectedStore, ec))
        throw UsageError("the store " + Label(store) + " is the collection's own " + kCollectedStore);
      sources.push_back({store, ChooseFolders(ListFolders(*facade, store, {}), names, kinds, Label(store))});
      what += (what.empty() ? "collection of " : ", ") + Label(store);
    }
    result = Collect(*facade, sources, folder);
  }

  const Outcome& o = result.outcome;
  if (GlobalOptions().json) {
    PrintJson(OutcomeJson(o, {{"operation", "collect"},
                              {"collection", collection},
                              {"destination", result.collected},
                              {"catalog", JoinPath(collection, kCatalog)},
                              {"stores", result.stores}}));
  } else if (o.ok && result.stores.empty()) {
    Out("The profile \"Outlook\" holds no store; nothing was collected\n");
  } else if (o.ok) {
    std::string list;
    for (const nlohmann::json& s : result.stores) {
      std::string name = s.value("name", "");
      list += (list.empty() ? "" : ", ") + (name.empty() ? s.value("source", "") : name);
    }
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f", o.seconds);
    Out("Collected " + list + " into " + collection + "\n  store:    " + result.collected +
        "\n  catalog:  " + JoinPath(collection, kCatalog) + "\n  messages: " + std::to_string(o.done) +
        " checked (those already there are not copied again), " + seconds + " s\n");
  }
  ThrowUnlessOk(o, what);
}

}  // namespace

void AddCollectCommand(CLI::App& app) {
  static std::vector<std::string> args, names, kinds;
  static bool all = false;
  CLI::App* cmd = app.add_subcommand(
      "collect", "copy stores into a collection folder (outlook.pst and its catalog mail.db3) for a later restore");
  cmd->add_option("args", args,
                  "STORE... DIR: stores (files, or display names of stores of the profile), then the collection "
                  "folder; with --all only the folder")
      ->type_name("STORE... DIR")
      ->required();
  cmd->add_flag("-a,--all", all, "collect every store of the profile, each with all its folders");
  cmd->add_option("-f,--folder", names, "a top-level folder to collect, by name (repeatable; one store only)")
      ->type_name("NAME");
  cmd->add_option("-k,--kind", kinds, "top-level folders to collect, by kind: " + KindNames() + " (repeatable)")
      ->type_name("KIND");
  AddCommonOptions(*cmd, true);
  cmd->callback([] { RunCollect(args, all, names, kinds); });
}

}  // namespace host
