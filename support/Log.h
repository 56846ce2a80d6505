// The diagnostic log. Where lines go (file, console, debugger output) and from
// which level on is fixed once, at load, by the settings file "corvane.ini"
// beside the host executable; without it nothing is logged. Logging never
// fails towards its callers.
//
// Thread safety: any thread may log. The active settings are written only while
// the library is being loaded, so composing reads them without a lock; only the
// append to the log file is serialised.
#pragma once

#include <wcrt.h>
#include <windows.h>

enum LogLevel { LOG_INFO = 0, LOG_WARNING = 1, LOG_ERROR = 2, LOG_FATAL = 3 };

#define LOG_MEDIA_DEBUGGER 2
#define LOG_MEDIA_CONSOLE 4
#define LOG_MEDIA_FILE 8

// A composed line is at most LOG_LINE_CHARS - 1 characters.
constexpr size_t LOG_LINE_CHARS = 4096;

#if defined(CORVANE_COMPACT)
// The compact build has no log: every entry point is empty, nothing reads a
// settings file, and CheckHResult only tells whether the call succeeded.
inline bool LogWouldWrite(int, LPCWSTR) { return false; }
template <class... Args>
void LogMessageAt(int, LPCWSTR, int, LPCWSTR, const Args&...) {}
template <class... Args>
void LogMessage(int, LPCWSTR, const Args&...) {}
inline bool CheckHResult(HRESULT hr, LPCWSTR, LPCWSTR, int) { return hr == 0; }
inline void LogSkippedStep(LPCWSTR, HRESULT) {}
inline void LoadLogSettings() {}
#else

// The active settings, and the shape that carries freshly read ones.
struct LogSettings {
  bool bShowTime;
  int nLevel;
  int nMedia;
  WCHAR szLogFile[MAX_PATH];
};

extern LogSettings g_logSettings;

// The part of composing that does not depend on the caller's values: the level's
// tag, the source position (when file is not null) and the time prefix. Returns
// the number of characters written into line (capacity LOG_LINE_CHARS).
size_t LogBeginLine(WCHAR* line, int level, LPCWSTR file, int lineNo);
// Sends a finished line to each selected medium.
void WriteLogLine(LPCWSTR line);
// Writes the thread and time prefix for the given thread number and UTC time.
int FormatLogTimestamp(WCHAR* out, size_t cap, DWORD threadId, const SYSTEMTIME& utc);

inline bool LogWouldWrite(int level, LPCWSTR format) {
  return level >= g_logSettings.nLevel && g_logSettings.nMedia != 0 && format != nullptr;
}

// A format with a '%' anywhere is formatted with the values; any other format is
// written as it stands and the values are ignored.
template <class... Args>
void LogMessageAt(int level, LPCWSTR file, int lineNo, LPCWSTR format, const Args&... args) {
  if (!LogWouldWrite(level, format)) return;
  WCHAR line[LOG_LINE_CHARS] = {};
  size_t used = LogBeginLine(line, level, file, lineNo);
  if (wcschr(format, TEXT('%')))
    _snwprintf_s(line + used, LOG_LINE_CHARS - used, _TRUNCATE, format, args...);
  else
    wcsncpy_s(line + used, LOG_LINE_CHARS - used, format, _TRUNCATE);
  WriteLogLine(line);
}

template <class... Args>
void LogMessage(int level, LPCWSTR format, const Args&... args) {
  LogMessageAt(level, nullptr, 0, format, args...);
}

// True when hr is exactly 0. Anything else, warnings included, is logged as a
// failed call with its text, the code and the thread's last error.
bool CheckHResult(HRESULT hr, LPCWSTR callText, LPCWSTR file, int lineNo);
// The notice for a step of a call chain that is not run because an earlier
// step failed.
void LogSkippedStep(LPCWSTR callText, HRESULT hr);

// Reads "corvane.ini" and applies it; run once while the library is loaded.
void LoadLogSettings();
// Sets the log file aside (".bk") when it has reached maxSize MiB.
void RotateLogFile(int maxSize, LPCWSTR path);
// Makes the settings active, unless their log folder does not exist.
void ApplyLogSettings(const LogSettings& settings);
#endif  // CORVANE_COMPACT
