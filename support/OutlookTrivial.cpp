#include "support/OutlookTrivial.h"

#include <shlobj.h>

#include "support/Log.h"

void LogSessionBanner() {
  const WCHAR format[] = TEXT("---------%s");
  // The folder is looked up only for a line that is written.
  if (!LogWouldWrite(LOG_INFO, format)) return;
  WCHAR folder[MAX_PATH] = {};
  // Without the folder the line shows an empty one.
  if (!SHGetSpecialFolderPathW(nullptr, folder, CSIDL_APPDATA, FALSE)) folder[0] = 0;
  LogMessageAt(LOG_INFO, TEXT(".\\OutlookTrivial"), 36, format, folder);
}

bool IsPlainFileName(LPCWSTR name) {
  if (!name || !*name) return false;
  size_t length = wcslen(name);
  if (name[length - 1] == TEXT('.') || name[length - 1] == TEXT(' ')) return false;
  for (const WCHAR* c = name; *c; ++c)
    if (*c < 0x20 || wcschr(TEXT("\\/:*?\"<>|"), *c)) return false;
  return true;
}

bool HasWildcard(LPCWSTR path) { return path && (wcschr(path, TEXT('*')) || wcschr(path, TEXT('?'))); }

namespace {

bool IsDeviceName(const WCHAR* name, size_t length) {
  // The device is named by what comes before the first dot, blanks dropped.
  size_t stem = 0;
  while (stem < length && name[stem] != TEXT('.')) ++stem;
  while (stem > 0 && name[stem - 1] == TEXT(' ')) --stem;
  static const WCHAR* const kDevices[] = {TEXT("CON"), TEXT("PRN"), TEXT("AUX"), TEXT("NUL"), TEXT("CONIN$"),
                                          TEXT("CONOUT$")};
  for (const WCHAR* device : kDevices)
    if (wcslen(device) == stem && _wcsnicmp(name, device, stem) == 0) return true;
  // COM1 to COM9 and LPT1 to LPT9.
  return stem == 4 && (_wcsnicmp(name, TEXT("COM"), 3) == 0 || _wcsnicmp(name, TEXT("LPT"), 3) == 0) &&
         name[3] >= TEXT('1') && name[3] <= TEXT('9');
}

}  // namespace

bool NamesDevice(LPCWSTR path) {
  if (!path) return false;
  // "\\.\" and "\\?\" reach devices and pipes, and pass every other check.
  auto separator = [](WCHAR c) { return c == TEXT('\\') || c == TEXT('/'); };
  if (separator(path[0]) && separator(path[1]) && (path[2] == TEXT('.') || path[2] == TEXT('?')) && separator(path[3]))
    return true;
  const WCHAR* start = path;
  for (const WCHAR* c = path;; ++c) {
    if (*c == 0 || *c == TEXT('\\') || *c == TEXT('/') || *c == TEXT(':')) {
      if (IsDeviceName(start, static_cast<size_t>(c - start))) return true;
      if (*c == 0) return false;
      start = c + 1;
    }
  }
}
