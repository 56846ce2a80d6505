// corvane list: the stores of the profile "Outlook", their display names and
// sizes.
#include <CLI/CLI.hpp>

#include "Host.h"
#include "Library.h"

namespace host {

void ListCommand() {
  LibrarySession library;
  if (!COutlookFacade::IsInstalledOutlook())
    throw OperationFailed(NotInstalled());
  Facade facade;
  std::vector<StoreRef> stores = ProfileStores(*facade);
  long long total = TotalSize(*facade, stores);

  if (GlobalOptions().json) {
    nlohmann::json out = {{"profile", "Outlook"}, {"totalSize", total}, {"stores", nlohmann::json::array()}};
    for (const StoreRef& s : stores)
      out["stores"].push_back({{"name", s.displayName}, {"path", s.path}, {"size", FileSize(s.path)}});
    PrintJson(out);
    return;
  }
  if (stores.empty()) {
    Out("The profile \"Outlook\" holds no store.\n");
    return;
  }
  size_t nameWidth = 4, pathWidth = 4;
  for (const StoreRef& s : stores) {
    nameWidth = std::max(nameWidth, s.displayName.size());
    pathWidth = std::max(pathWidth, s.path.size());
  }
  std::string text = "Stores of the profile \"Outlook\": " + std::to_string(stores.size()) + ", " + HumanSize(total) +
                     " in all\n";
  for (const StoreRef& s : stores) {
    char line[1024];
    std::snprintf(line, sizeof line, "  %-*s  %-*s  %9s\n", static_cast<int>(nameWidth), s.displayName.c_str(),
                  static_cast<int>(pathWidth), s.path.c_str(), HumanSize(FileSize(s.path)).c_str());
    text += line;
  }
  Out(text);
}

void AddListCommand(CLI::App& app) {
  CLI::App* cmd = app.add_subcommand("list", "list the stores of the profile \"Outlook\" with their sizes");
  AddCommonOptions(*cmd, false);
  cmd->callback(ListCommand);
}

}  // namespace host
