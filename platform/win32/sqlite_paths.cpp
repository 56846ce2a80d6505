// SQLite in a process of this platform names database files the platform's
// way, as its Windows build does: "Z:\a\b.db" (UTF-8) opens /a/b.db, and a
// drive this machine does not have cannot be opened. A name without a drive or
// a backslash is a POSIX name and passes unchanged, so the stand-in's own
// databases are opened as before. The default file system of SQLite is
// wrapped once, when this library is loaded; only the naming of the main file
// changes, every derived name (journal, WAL) follows from it.
//
// The files of a database opened by a platform name are written as SQLite's
// Windows build writes them, through WriteFile and FlushFileBuffers: each
// write and sync passes that call's fault point, so a test can fail a
// database write, or stop the process in it, as it would any file write.
//
// SQLite's waits (a busy time-out retried) go through the fault seam as
// "sqlite3_vfs::xSleep": while it is armed a wait returns at once as if its
// time had passed, so that a time-out of a minute runs out without a test
// waiting for it.
#include <sqlite3.h>
#include <standin/fault.h>

#include <mutex>
#include <set>
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

// The full POSIX names of the databases opened by a platform name.
std::mutex g_namesLock;
std::set<std::string>* g_platformNames = new std::set<std::string>;

bool IsPlatformDatabase(const char* name) {
  if (!name) return false;
  std::string file(name);
  for (const char* suffix : {"-journal", "-wal"}) {
    size_t n = std::char_traits<char>::length(suffix);
    if (file.size() > n && file.compare(file.size() - n, n, suffix) == 0) {
      file.resize(file.size() - n);
      break;
    }
  }
  std::lock_guard<std::mutex> guard(g_namesLock);
  return g_platformNames->count(file) != 0;
}

int FullPathname(sqlite3_vfs*, const char* name, int size, char* out) {
  if (!IsWindowsName(name)) return g_posixVfs->xFullPathname(g_posixVfs, name, size, out);
  std::string posix = standin::ToPosixPath(standin::ToUtf16(name));
  if (posix.empty()) return SQLITE_CANTOPEN;
  int rc = g_posixVfs->xFullPathname(g_posixVfs, posix.c_str(), size, out);
  if (rc == SQLITE_OK) {
    std::lock_guard<std::mutex> guard(g_namesLock);
    g_platformNames->insert(out);
  }
  return rc;
}

// A file of the default file system, seen through the platform's calls when
// it belongs to a database opened by a platform name.
struct PlatformFile {
  sqlite3_file base;
  sqlite3_file* real;  // the default file system's file, right after this
  bool platform;
};

sqlite3_file* Real(sqlite3_file* f) { return reinterpret_cast<PlatformFile*>(f)->real; }
const sqlite3_io_methods* RealIo(sqlite3_file* f) { return Real(f)->pMethods; }

int Write(sqlite3_file* f, const void* data, int amount, sqlite3_int64 offset) {
  int32_t code;
  if (reinterpret_cast<PlatformFile*>(f)->platform && standin::TakeFault("WriteFile", &code)) return SQLITE_IOERR_WRITE;
  return RealIo(f)->xWrite(Real(f), data, amount, offset);
}

int Sync(sqlite3_file* f, int flags) {
  int32_t code;
  if (reinterpret_cast<PlatformFile*>(f)->platform && standin::TakeFault("FlushFileBuffers", &code))
    return SQLITE_IOERR_FSYNC;
  return RealIo(f)->xSync(Real(f), flags);
}

const sqlite3_io_methods g_platformIo = {
    3,
    [](sqlite3_file* f) { return RealIo(f)->xClose(Real(f)); },
    [](sqlite3_file* f, void* data, int amount, sqlite3_int64 offset) {
      return RealIo(f)->xRead(Real(f), data, amount, offset);
    },
    Write,
    [](sqlite3_file* f, sqlite3_int64 size) { return RealIo(f)->xTruncate(Real(f), size); },
    Sync,
    [](sqlite3_file* f, sqlite3_int64* size) { return RealIo(f)->xFileSize(Real(f), size); },
    [](sqlite3_file* f, int lock) { return RealIo(f)->xLock(Real(f), lock); },
    [](sqlite3_file* f, int lock) { return RealIo(f)->xUnlock(Real(f), lock); },
    [](sqlite3_file* f, int* out) { return RealIo(f)->xCheckReservedLock(Real(f), out); },
    [](sqlite3_file* f, int op, void* arg) { return RealIo(f)->xFileControl(Real(f), op, arg); },
    [](sqlite3_file* f) { return RealIo(f)->xSectorSize(Real(f)); },
    [](sqlite3_file* f) { return RealIo(f)->xDeviceCharacteristics(Real(f)); },
    [](sqlite3_file* f, int region, int size, int extend, void volatile** out) {
      return RealIo(f)->xShmMap(Real(f), region, size, extend, out);
    },
    [](sqlite3_file* f, int offset, int n, int flags) { return RealIo(f)->xShmLock(Real(f), offset, n, flags); },
    [](sqlite3_file* f) { RealIo(f)->xShmBarrier(Real(f)); },
    [](sqlite3_file* f, int remove) { return RealIo(f)->xShmUnmap(Real(f), remove); },
    [](sqlite3_file* f, sqlite3_int64 offset, int amount, void** out) {
      return RealIo(f)->xFetch(Real(f), offset, amount, out);
    },
    [](sqlite3_file* f, sqlite3_int64 offset, void* page) { return RealIo(f)->xUnfetch(Real(f), offset, page); },
};

const sqlite3_io_methods g_platformIoV1 = [] {
  sqlite3_io_methods methods = g_platformIo;
  methods.iVersion = 1;
  return methods;
}();

int Open(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags, int* outFlags) {
  PlatformFile* p = reinterpret_cast<PlatformFile*>(file);
  p->real = reinterpret_cast<sqlite3_file*>(p + 1);
  p->platform = IsPlatformDatabase(name);
  int rc = g_posixVfs->xOpen(g_posixVfs, name, p->real, flags, outFlags);
  // SQLite closes a file whose methods are set, even after a failed open;
  // methods older than version 3 have no shared memory to pass on.
  const sqlite3_io_methods* real = p->real->pMethods;
  p->base.pMethods = !real ? nullptr : real->iVersion >= 3 ? &g_platformIo : &g_platformIoV1;
  return rc;
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
    // The wrapper handles the methods of the default file system's version 3.
    if (g_posixVfs->iVersion >= 3) {
      g_platformVfs.szOsFile = static_cast<int>(sizeof(PlatformFile)) + g_posixVfs->szOsFile;
      g_platformVfs.xOpen = Open;
    }
    g_platformVfs.xSleep = Sleep;
    sqlite3_vfs_register(&g_platformVfs, 1);
  }
} g_registration;

}  // namespace
