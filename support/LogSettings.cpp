// Loading the log settings from "corvane.ini", section "log section".
#include <shlobj.h>
#include <shlwapi.h>

#include "support/IniFileOperator.h"
#include "support/LogSettings.h"
#include "support/OutlookTrivial.h"

namespace {

const WCHAR kSection[] = TEXT("log section");

// The folder of the host executable with "Logs" appended.
bool LogFolder(WCHAR (&folder)[MAX_PATH]) {
  DWORD n = GetModuleFileNameW(nullptr, folder, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return false;
  WCHAR* slash = wcsrchr(folder, TEXT('\\'));
  if (!slash) return false;
  *slash = 0;
  return PathAppendW(folder, TEXT("Logs")) != FALSE;
}

}  // namespace

bool ReadLogSettings(LPCWSTR iniPath, LPCWSTR logFolder, LogSettings* settings, int* maxSize) {
  int level = static_cast<int>(GetPrivateProfileIntW(kSection, TEXT("level"), 4, iniPath));
  int media = static_cast<int>(GetPrivateProfileIntW(kSection, TEXT("media"), -1, iniPath));
  *maxSize = static_cast<int>(GetPrivateProfileIntW(kSection, TEXT("maxsize"), 1, iniPath));
  // Compared unsigned, so negative values fail too.
  if (static_cast<unsigned>(level) > LOG_FATAL || static_cast<unsigned>(media) > 14) return false;

  *settings = {true, level, media, {}};
  if (!(media & LOG_MEDIA_FILE)) return true;

  WCHAR fileName[MAX_PATH] = {};
  GetPrivateProfileStringW(kSection, TEXT("file"), TEXT(""), fileName, MAX_PATH, iniPath);
  // The log goes into the log folder and nowhere else: a name that would leave
  // it (or name a device or stream) is no log file name, as an empty one is not.
  if (!IsPlainFileName(fileName) || !logFolder) return false;
  WCHAR logPath[MAX_PATH] = {};
  if (wcscpy_s(logPath, logFolder) != 0) return false;
  if (!PathAppendW(logPath, fileName)) return false;  // too long: a cut name would be another file
  wcscpy_s(settings->szLogFile, logPath);
  return true;
}

void LoadLogSettings() {
  CIniFileOperator ini;
  if (!ini.Locate(TEXT("corvane.ini"))) return;
  WCHAR logFolder[MAX_PATH] = {};
  bool haveFolder = LogFolder(logFolder);
  LogSettings settings;
  int maxSize = 1;
  if (!ReadLogSettings(ini.GetFilePath(), haveFolder ? logFolder : nullptr, &settings, &maxSize)) return;
  if (settings.nMedia & LOG_MEDIA_FILE) {
    // An existing folder is no error; a folder that cannot be made stops the
    // settings below, when it is not found.
    SHCreateDirectory(nullptr, logFolder);
    RotateLogFile(maxSize, settings.szLogFile);
  }
  ApplyLogSettings(settings);
}

void RotateLogFile(int maxSize, LPCWSTR path) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW(path, &data);
  if (find == INVALID_HANDLE_VALUE) return;
  FindClose(find);
  // The whole size against maxSize MiB, so that a log of 2 GiB or more is set
  // aside too.
  int64_t size = (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  if (size < static_cast<int64_t>(maxSize) * 1048576) return;

  WCHAR backup[MAX_PATH];
  if (_snwprintf_s(backup, MAX_PATH, _TRUNCATE, TEXT("%s%s"), path, TEXT(".bk")) < 0) return;
  // Failures are silent: logging then goes on appending to the old file.
  if (PathFileExistsW(backup)) DeleteFileW(backup);
  MoveFileW(path, backup);
}

void ApplyLogSettings(const LogSettings& settings) {
  if (settings.nMedia & LOG_MEDIA_FILE) {
    WCHAR folder[MAX_PATH];
    if (wcscpy_s(folder, settings.szLogFile) != 0) return;
    WCHAR* slash = wcsrchr(folder, TEXT('\\'));
    if (!slash) return;
    *slash = 0;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(folder, &data);
    if (find == INVALID_HANDLE_VALUE) return;
    FindClose(find);
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return;
    wcscpy_s(g_logSettings.szLogFile, settings.szLogFile);
  }
  g_logSettings.nLevel = settings.nLevel;
  g_logSettings.nMedia = settings.nMedia;
  g_logSettings.bShowTime = settings.bShowTime;
}
