// Message services of a profile, as the admin tool reads and adds them.
#pragma once

#include <string>
#include <vector>

#include "mapiadmin.h"

namespace mapiadmin {

struct ServiceInfo {
  std::string serviceName;  // "MSUPST MS", "CONTAB", ...
  std::string displayName;
  std::vector<BYTE> uid;
  LONG resourceFlags = 0;
  std::string pstPath;  // personal-folders services only
};

std::vector<ServiceInfo> ListServices(IMsgServiceAdmin* services);
// Adds a service; for personal folders also configures path and display name,
// which makes the store file when there is none. Returns the new service.
ServiceInfo AddService(IMsgServiceAdmin* services, const std::string& serviceName, const std::string& displayName,
                       const std::string& pstPath);

}  // namespace mapiadmin
