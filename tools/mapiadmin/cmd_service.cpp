// mapiadmin service add|list|remove: message services of a profile.
#include <algorithm>
#include <cstring>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "services.h"

namespace mapiadmin {

namespace {

std::string Narrow(const SPropValue& v) {
  if (PROP_TYPE(v.ulPropTag) == PT_UNICODE && v.Value.lpszW) return U(v.Value.lpszW);
  if (PROP_TYPE(v.ulPropTag) == PT_STRING8 && v.Value.lpszA) return v.Value.lpszA;
  return {};
}

std::string PstPathOf(IMsgServiceAdmin* services, std::vector<BYTE>& uid) {
  CInterfacePtr<IProfSect> section;
  if (uid.size() != sizeof(MAPIUID) ||
      FAILED(services->OpenProfileSection(reinterpret_cast<LPMAPIUID>(uid.data()), nullptr, 0, section.Put())))
    return {};
  return U(GetString(section.Get(), PR_PST_PATH_W));
}

std::string Hex(const std::vector<BYTE>& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (BYTE b : bytes) out += {digits[b >> 4], digits[b & 15]};
  return out;
}

const char* ServiceFor(const std::string& type) {
  if (type == "pst") return "MSUPST MS";
  if (type == "pst-ansi") return "MSPST MS";
  if (type == "contab") return "CONTAB";
  if (type == "imap") return "INTERSTOR";
  throw Failure("unknown service type '" + type + "' (pst, pst-ansi, contab, imap)");
}

}  // namespace

std::vector<ServiceInfo> ListServices(IMsgServiceAdmin* services) {
  CInterfacePtr<IMAPITable> table;
  Check(services->GetMsgServiceTable(0, table.Put()), "listing services");
  SizedSPropTagArray(4, columns) = {4, {PR_SERVICE_NAME_A, PR_DISPLAY_NAME_A, PR_SERVICE_UID, PR_RESOURCE_FLAGS}};
  CRowSet rows;
  Check(HrQueryAllRows(table.Get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0, rows.Put()),
        "listing services");
  std::vector<ServiceInfo> out;
  for (ULONG i = 0; i < rows.Count(); ++i) {
    const SPropValue* p = rows->aRow[i].lpProps;
    ServiceInfo s;
    s.serviceName = Narrow(p[0]);
    s.displayName = Narrow(p[1]);
    if (PROP_TYPE(p[2].ulPropTag) == PT_BINARY) s.uid.assign(p[2].Value.bin.lpb, p[2].Value.bin.lpb + p[2].Value.bin.cb);
    if (PROP_TYPE(p[3].ulPropTag) == PT_LONG) s.resourceFlags = p[3].Value.l;
    s.pstPath = PstPathOf(services, s.uid);
    out.push_back(std::move(s));
  }
  return out;
}

ServiceInfo AddService(IMsgServiceAdmin* services, const std::string& serviceName, const std::string& displayName,
                       const std::string& pstPath) {
  std::vector<ServiceInfo> before = ListServices(services);
  // Service names go to the subsystem as narrow text.
  std::string service = serviceName, display = displayName;
  Check(services->CreateMsgService(reinterpret_cast<LPWSTR>(service.data()), reinterpret_cast<LPWSTR>(display.data()),
                                   0, 0),
        "adding service " + serviceName);
  std::vector<ServiceInfo> after = ListServices(services);
  auto added = std::find_if(after.begin(), after.end(), [&](const ServiceInfo& s) {
    return std::none_of(before.begin(), before.end(), [&](const ServiceInfo& b) { return b.uid == s.uid; });
  });
  if (added == after.end()) throw Failure("the new service " + serviceName + " does not show in the profile");
  if (!pstPath.empty()) {
    std::u16string path = W(pstPath), name = W(displayName);
    SPropValue props[2] = {};
    props[0].ulPropTag = PR_PST_PATH_W;
    props[0].Value.lpszW = path.data();
    props[1].ulPropTag = PR_DISPLAY_NAME_W;
    props[1].Value.lpszW = name.data();
    HRESULT hr = services->ConfigureMsgService(reinterpret_cast<LPMAPIUID>(added->uid.data()), 0, 0, 2, props);
    if (FAILED(hr)) {
      services->DeleteMsgService(reinterpret_cast<LPMAPIUID>(added->uid.data()));
      Check(hr, "configuring the store file " + pstPath);
    }
    added->pstPath = PstPathOf(services, added->uid);
  }
  return *added;
}

void AddServiceCommand(CLI::App& app) {
  CLI::App* cmd = app.add_subcommand("service", "add, list or remove the message services of a profile");
  cmd->require_subcommand(1);
  static std::string profile, type, name, path;
  static bool makeDefault = false, json = false;

  CLI::App* add = cmd->add_subcommand("add", "add a service (pst, pst-ansi, contab, imap)");
  add->add_option("profile", profile, "profile name")->required();
  add->add_option("--type", type, "pst, pst-ansi, contab or imap")->required();
  add->add_option("--name", name, "display name");
  add->add_option("--path", path, "store file of a pst service (made when missing)");
  add->add_flag("--default", makeDefault, "make the store the profile's default store");
  add->callback([] {
    const char* service = ServiceFor(type);
    if ((type == "pst" || type == "pst-ansi") && path.empty()) throw Failure("a pst service needs --path");
    MapiSubsystem mapi;
    CInterfacePtr<IProfAdmin> admin = OpenProfileAdmin();
    CInterfacePtr<IMsgServiceAdmin> services = OpenServiceAdmin(admin.Get(), profile);
    ServiceInfo added = AddService(services.Get(), service, name.empty() ? service : name, path);
    if (makeDefault) {
      CInterfacePtr<IProfSect> section;
      Check(services->OpenProfileSection(reinterpret_cast<LPMAPIUID>(added.uid.data()), nullptr, MAPI_MODIFY,
                                         section.Put()),
            "opening the service's profile section");
      SPropValue flags = {};
      flags.ulPropTag = PR_RESOURCE_FLAGS;
      flags.Value.l = added.resourceFlags | SERVICE_DEFAULT_STORE;
      SetProps(section.Get(), {flags}, "making the store the default");
      Check(section->SaveChanges(0), "saving the profile section");
    }
    Print(Hex(added.uid) + "\n");
  });

  CLI::App* list = cmd->add_subcommand("list", "list the services of a profile");
  list->add_option("profile", profile, "profile name")->required();
  list->add_flag("--json", json, "print JSON");
  list->callback([] {
    MapiSubsystem mapi;
    CInterfacePtr<IProfAdmin> admin = OpenProfileAdmin();
    CInterfacePtr<IMsgServiceAdmin> services = OpenServiceAdmin(admin.Get(), profile);
    nlohmann::json out = nlohmann::json::array();
    for (const ServiceInfo& s : ListServices(services.Get())) {
      out.push_back({{"service", s.serviceName},
                     {"displayName", s.displayName},
                     {"uid", Hex(s.uid)},
                     {"default", (s.resourceFlags & SERVICE_DEFAULT_STORE) != 0},
                     {"path", s.pstPath}});
      if (!json)
        Print(s.serviceName + "\t" + s.displayName + "\t" + Hex(s.uid) +
              ((s.resourceFlags & SERVICE_DEFAULT_STORE) ? "\tdefault" : "") +
              (s.pstPath.empty() ? "" : "\t" + s.pstPath) + "\n");
    }
    if (json) Print(out.dump(2) + "\n");
  });

  CLI::App* remove = cmd->add_subcommand("remove", "remove a service by its display name");
  remove->add_option("profile", profile, "profile name")->required();
  remove->add_option("--name", name, "display name")->required();
  remove->callback([] {
    MapiSubsystem mapi;
    CInterfacePtr<IProfAdmin> admin = OpenProfileAdmin();
    CInterfacePtr<IMsgServiceAdmin> services = OpenServiceAdmin(admin.Get(), profile);
    for (ServiceInfo& s : ListServices(services.Get())) {
      if (standin::CompareNoCase(W(s.displayName), W(name)) != 0) continue;
      Check(services->DeleteMsgService(reinterpret_cast<LPMAPIUID>(s.uid.data())), "removing service '" + name + "'");
      return;
    }
    throw Failure("profile '" + profile + "' has no service named '" + name + "'");
  });
}

}  // namespace mapiadmin
