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
