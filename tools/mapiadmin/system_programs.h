// What the admin tool does differently per system: the machine it arranges,
// the programs and registrations an install adds, and what the Windows build
// leaves out. One side per system (system_programs.cpp for the Linux
// stand-in, windows/system_programs.cpp for Windows).
#pragma once

#include <string>

namespace CLI {
class App;
}

namespace mapiadmin {

// --root: the platform root to arrange. The Windows build arranges the machine
// it runs on and refuses it.
void UsePlatformRoot(const std::string& root);
// What `install` reports as the machine it installed into.
std::string InstalledWhere();

// On the stand-in: puts the registry editor into the root's Windows folder as
// "regedit.exe", where programs start it. The editor is built into "windows/"
// beside the admin tool; the root gets a link to it, so that it runs with the
// shared objects it was built with. On Windows: registers the MAPI subsystem
// beside the tool (mapi32.dll) as the default mail client's, as a mail
// client's setup does. Throws a Failure when that cannot be done.
void InstallSystemPrograms();

// Whether the account manager's in-process server is built for this system
// (it is not for Windows: there `install` makes only the account keys).
bool HasAccountManager();

}  // namespace mapiadmin
