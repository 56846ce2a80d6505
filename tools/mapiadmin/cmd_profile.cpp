// mapiadmin profile create|delete|list
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "mapiadmin.h"

namespace mapiadmin {

namespace {

std::vector<std::string> ProfileNames(IProfAdmin* admin) {
  CInterfacePtr<IMAPITable> table;
  Check(admin->GetProfileTable(0, table.Put()), "listing profiles");
  SizedSPropTagArray(1, columns) = {1, {PR_DISPLAY_NAME_A}};
  CRowSet rows;
  Check(HrQueryAllRows(table.Get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0, rows.Put()),
        "listing profiles");
  std::vector<std::string> names;
  for (ULONG i = 0; i < rows.Count(); ++i)
    if (PROP_TYPE(rows->aRow[i].lpProps[0].ulPropTag) == PT_STRING8)
      names.emplace_back(rows->aRow[i].lpProps[0].Value.lpszA);
  return names;
}

}  // namespace

void AddProfileCommand(CLI::App& app) {
  CLI::App* cmd = app.add_subcommand("profile", "create, delete or list MAPI profiles");
  cmd->require_subcommand(1);

  static std::string name;
  CLI::App* create = cmd->add_subcommand("create", "create a profile");
  create->add_option("name", name, "profile name")->required();
  create->callback([] {
    MapiSubsystem mapi;
    CInterfacePtr<IProfAdmin> admin = OpenProfileAdmin();
    std::u16string w = W(name);
    Check(admin->CreateProfile(w.data(), nullptr, 0, MAPI_UNICODE), "creating profile '" + name + "'");
  });

  CLI::App* remove = cmd->add_subcommand("delete", "delete a profile");
  remove->add_option("name", name, "profile name")->required();
  remove->callback([] {
    MapiSubsystem mapi;
    CInterfacePtr<IProfAdmin> admin = OpenProfileAdmin();
    std::u16string w = W(name);
    Check(admin->DeleteProfile(w.data(), MAPI_UNICODE), "deleting profile '" + name + "'");
  });

  static bool json = false;
  CLI::App* list = cmd->add_subcommand("list", "list the profiles");
  list->add_flag("--json", json, "print JSON");
  list->callback([] {
    MapiSubsystem mapi;
    CInterfacePtr<IProfAdmin> admin = OpenProfileAdmin();
    std::vector<std::string> names = ProfileNames(admin.Get());
    if (json) {
      Print(nlohmann::json(names).dump(2) + "\n");
      return;
    }
    for (const auto& n : names) Print(n + "\n");
  });
}

}  // namespace mapiadmin
