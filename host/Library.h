// The library build this host is made against. The same host sources make two
// programs: corvane on the full library and corvane-compact on the compact
// one. The few calls in which the builds differ are made here; the rest of the
// host asks the constants below instead of testing the build.
#pragma once

#include <string>
#include <vector>

#include "Host.h"

namespace host {

#if defined(CORVANE_COMPACT)
inline constexpr bool kCompactLibrary = true;
#else
inline constexpr bool kCompactLibrary = false;
#endif
// The full build reports progress, stops when asked and leaves a result code
// in the thread's last error; the compact build does none of these.
inline constexpr bool kLibraryReportsProgress = !kCompactLibrary;

// "full" or "compact".
const char* LibraryName();

// Init, as the build names it: 1 when the library is ready.
int StartLibrary();
// BackupMessage, in the normal logon mode where the build has one.
int BackupThroughLibrary(COutlookFacade& facade, LPCWSTR source, CString& destination,
                         std::vector<OLCATALOGDATA>& folders);
// The size of the profile's stores: the library's own sum where it has one.
long long TotalSize(COutlookFacade& facade, const std::vector<StoreRef>& stores);
// Makes a function the facade's progress sink; the compact build has none.
void AttachProgressSink(COutlookFacade& facade, int (*onStep)(ULONG, ULONG, void*), void* context);

// Honours --library full|compact anywhere before "--": when the other build
// is chosen, the command line is run by the program of that build, beside
// this one, in place of this process. Returns -1 to go on here (the option
// taken out of argv), or the exit code when it cannot.
int ChooseLibrary(int& argc, char** argv);

// The commands only the full build has; the compact program names them so
// that it can say so.
const std::vector<std::string>& FullLibraryCommands();

}  // namespace host
