// SQLite in a process of this platform names database files the platform's
// way, as its Windows build does: "Z:\a\b.db" (UTF-8) opens /a/b.db, and a
// drive this machine does not have cannot be opened. A name without a drive or
// a backslash is a POSIX name and passes unchanged, so the stand-in's own
// databases are opened as before. The default file system of SQLite is
// wrapped once, when this library is loaded; only the naming of the main file
// changes, every derived name (journal, WAL) follows from it.
//
// SQLite's waits (a busy time-out retried) go through the fault seam as
// "sqlite3_vfs::xSleep": while it is armed a wait returns at once as if its
// time had passed, so that a time-out of a minute runs out without a test
// waiting for it.
#include <sqlite3.h>
#include <standin/fault.h>

#include <string>

#include "internal.h"

namespace {

sqlite3_vfs g_platformVfs;
sqlite3_vfs* g_posixVfs = nullptr;

bool IsWindowsName(const char* name) {
  if (!name) return false;
  bool drive = ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z')) && name[1] == ':';
  return drive || std::string(name).find('\\') != std::string::npos;
}

int FullPathname(sqlite3_vfs*, const char* name, int size, char* out) {
  if (!IsWindowsName(name)) return g_posixVfs->xFullPathname(g_posixVfs, name, size, out);
  std::string posix = standin::ToPosixPath(standin::ToUtf16(name));
  if (posix.empty()) return SQLITE_CANTOPEN;
  return g_posixVfs->xFullPathname(g_posixVfs, posix.c_str(), size, out);
}

int Sleep(sqlite3_vfs*, int microseconds) {
  int32_t code = 0;
  if (standin::TakeFault("sqlite3_vfs::xSleep", &code)) return microseconds;
  return g_posixVfs->xSleep(g_posixVfs, microseconds);
}

struct PlatformVfsRegistration {
  PlatformVfsRegistration() {
    g_posixVfs = sqlite3_vfs_find(nullptr);
    if (!g_posixVfs) return;
    g_platformVfs = *g_posixVfs;
    g_platformVfs.zName = "win32";
    g_platformVfs.xFullPathname = FullPathname;
    g_platformVfs.xSleep = Sleep;
    sqlite3_vfs_register(&g_platformVfs, 1);
  }
} g_registration;

}  // namespace
