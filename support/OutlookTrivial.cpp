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
