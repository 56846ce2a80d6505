// The platform's own programs that a machine's Windows folder holds.
#pragma once

namespace mapiadmin {

// Puts the registry editor into the root's Windows folder as "regedit.exe",
// where programs start it. The editor is built into "windows/" beside the
// admin tool; the root gets a link to it, so that it runs with the shared
// objects it was built with. Throws a Failure when that cannot be done.
void InstallSystemPrograms();

}  // namespace mapiadmin
