// corvane tree: the folder tree of a store, one level or all of it, walked
// through the library's catalog listing level by level.
#include <CLI/CLI.hpp>

#include "Host.h"

namespace host {

namespace {

struct Node {
  OLCATALOGDATA record;
  std::vector<Node> children;
};

// The folders below path; with all, every level below them too. The "root"
// record only says that the top folder holds messages: it is kept at the top
// level and left out below, where the listing repeats it.
std::vector<Node> Walk(COutlookFacade& facade, const StoreRef& store, std::vector<OLCATALOGDATA>& path, bool all) {
  std::vector<Node> nodes;
  for (const OLCATALOGDATA& r : ListFolders(facade, store, path)) {
    if (r.nType == OLFOLDER_ROOT && !path.empty()) continue;
    Node node{r, {}};
    if (all && r.nType != OLFOLDER_ROOT) {
      path.push_back(r);
      node.children = Walk(facade, store, path, all);
      path.pop_back();
    }
    nodes.push_back(std::move(node));
  }
  return nodes;
}

nlohmann::json TreeJson(const std::vector<Node>& nodes) {
  nlohmann::json out = nlohmann::json::array();
  for (const Node& n : nodes) {
    nlohmann::json folder = RecordJson(n.record);
    folder["folders"] = TreeJson(n.children);
    out.push_back(std::move(folder));
  }
  return out;
}

void PrintTree(const std::vector<Node>& nodes, const std::string& indent, std::string& text) {
  for (size_t i = 0; i < nodes.size(); ++i) {
    const Node& n = nodes[i];
    bool last = i + 1 == nodes.size();
    std::string name = n.record.nType == OLFOLDER_ROOT ? "(top of the store: holds messages)" : RecordName(n.record);
    std::string line = indent + (last ? "`-- " : "|-- ") + name;
    std::string detail;
    if (n.record.nType != OLFOLDER_NORMAL && n.record.nType != OLFOLDER_ROOT) detail = KindName(n.record.nType);
    std::string cls = RecordClass(n.record);
    if (!cls.empty() && cls != "IPF.Note") detail += (detail.empty() ? "" : ", ") + cls;
    if (!detail.empty()) {
      if (line.size() < 36) line.append(36 - line.size(), ' ');
      line += "  [" + detail + "]";
    }
    text += line + "\n";
    PrintTree(n.children, indent + (last ? "    " : "|   "), text);
  }
}

}  // namespace

void TreeCommand(const std::string& storeArg, const std::string& folderPath, bool all) {
  LibrarySession library;
  Facade facade;
  StoreRef store = ResolveStore(*facade, storeArg);
  std::vector<OLCATALOGDATA> path = ResolveFolderPath(*facade, store, folderPath);
  std::vector<Node> nodes = Walk(*facade, store, path, all);
  std::string label = store.displayName.empty() ? store.path : store.displayName;

  if (GlobalOptions().json) {
    PrintJson({{"store", store.displayName}, {"path", store.path}, {"folder", folderPath}, {"folders", TreeJson(nodes)}});
    return;
  }
  std::string text = label + (folderPath.empty() ? "" : " / " + folderPath) +
                     (store.displayName.empty() ? "\n" : "  (" + store.path + ")\n");
  if (nodes.empty()) text += "    (no folders)\n";
  PrintTree(nodes, "", text);
  Out(text);
}

void AddTreeCommand(CLI::App& app) {
  static std::string store, folder;
  static bool all = false;
  CLI::App* cmd = app.add_subcommand("tree", "show the folder tree of a store");
  cmd->add_option("store", store, "a store file, or the display name of a store of the profile")->required();
  cmd->add_option("folder", folder, "a folder path inside the store, such as Inbox/Projects (default: the top)");
  cmd->add_flag("-a,--all", all, "the whole tree below, not only one level");
  AddCommonOptions(*cmd, false);
  cmd->callback([] { TreeCommand(store, folder, all); });
}

}  // namespace host
