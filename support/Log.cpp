#include "support/Log.h"

// Nothing is written anywhere until the settings file says otherwise.
LogSettings g_logSettings = {true, LOG_ERROR, 0, {}};

namespace {

const WCHAR kLevelTags[4][20] = {TEXT("INFO: "), TEXT("WARNING: "), TEXT("ERROR: "), TEXT("FATAL: ")};

// The log lock: a critical section plus an entry count, made at static
// initialisation and deleted at exit. Leaving releases only what was entered.
class LogLock {
 public:
  LogLock() { InitializeCriticalSection(&m_cs); }
  ~LogLock() { DeleteCriticalSection(&m_cs); }
  LogLock(const LogLock&) = delete;
  LogLock& operator=(const LogLock&) = delete;
  void Enter() {
    EnterCriticalSection(&m_cs);
    ++m_nEntries;
  }
  void Leave() {
    if (m_nEntries > 0) {
      --m_nEntries;
      LeaveCriticalSection(&m_cs);
    }
  }

 private:
  CRITICAL_SECTION m_cs;
  LONG m_nEntries = 0;
};

LogLock g_logLock;

void AppendLogFile(LPCWSTR line) {
  g_logLock.Enter();
  FILE* file = _tfopen(g_logSettings.szLogFile, TEXT("a+,ccs=UTF-8"));
  if (!file) {
    DWORD err = GetLastError();
    HRESULT hr = HRESULT_FROM_WIN32(err);
    LPWSTR text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, err, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPWSTR>(&text), 0,
                   nullptr);
    WCHAR notice[256];
    _snwprintf_s(notice, 256, _TRUNCATE, TEXT("_tfopen failed, hRes = 0x%08X, dwErr = 0x%08X = \"%s\"\n"), hr, err,
                 text ? text : TEXT(""));
    OutputDebugStringW(notice);
    if (text) LocalFree(text);
  } else {
    if (fputws(line, file) >= 0) fputws(TEXT("\n"), file);
    fclose(file);
  }
  g_logLock.Leave();
}

}  // namespace

int FormatLogTimestamp(WCHAR* out, size_t cap, DWORD threadId, const SYSTEMTIME& utc) {
  // Hours 0 to 12 keep their number with "AM"; 13 to 23 lose 12 and say "PM".
  int hour = utc.wHour;
  LPCWSTR half = TEXT("AM");
  if (hour > 12) {
    hour -= 12;
    half = TEXT("PM");
  }
  return _snwprintf_s(out, cap, _TRUNCATE, TEXT("thread--0x%04x %02d:%02d:%02d.%03d%s  %02d-%02d-%4d: "), threadId,
                      hour, utc.wMinute, utc.wSecond, utc.wMilliseconds, half, utc.wMonth, utc.wDay, utc.wYear);
}

size_t LogBeginLine(WCHAR* line, int level, LPCWSTR file, int lineNo) {
  wcsncpy_s(line, LOG_LINE_CHARS, kLevelTags[level], _TRUNCATE);
  size_t used = wcslen(line);
  if (file) {
    WCHAR position[520];
    _snwprintf_s(position, 520, _TRUNCATE, TEXT("File:'%s' Line: %d;  "), file, lineNo);
    wcsncpy_s(line + used, LOG_LINE_CHARS - used, position, _TRUNCATE);
    used = wcslen(line);
  }
  if (g_logSettings.bShowTime) {
    SYSTEMTIME now;
    GetSystemTime(&now);
    FormatLogTimestamp(line + used, LOG_LINE_CHARS - used, GetCurrentThreadId(), now);
    used = wcslen(line);
  }
  return used;
}

void WriteLogLine(LPCWSTR line) {
  if (g_logSettings.nMedia & LOG_MEDIA_FILE) AppendLogFile(line);
  if (g_logSettings.nMedia & LOG_MEDIA_CONSOLE) {
    fputws(line, stdout);
    fputws(TEXT("\n"), stdout);
  }
  if (g_logSettings.nMedia & LOG_MEDIA_DEBUGGER) OutputDebugStringW(line);
}

bool CheckHResult(HRESULT hr, LPCWSTR callText, LPCWSTR file, int lineNo) {
  if (hr == 0) return true;
  DWORD err = GetLastError();
  LogMessageAt(LOG_ERROR, file, lineNo, TEXT("%s failed, HRESULT:0x%4x,error:%d"), callText, hr, err);
  return false;
}

void LogSkippedStep(LPCWSTR callText, HRESULT hr) {
  LogMessage(LOG_INFO, TEXT("Skinnping %s because hRes = 0x%8x.\n"), callText, hr);
}
