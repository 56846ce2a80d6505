// Clocks. The system clock can be replaced for tests (standin::SetSystemTimeOverride
// or CORVANE_FAKE_TIME in the environment).
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "internal.h"

namespace {

std::mutex g_clockLock;
bool g_overridden = false;
SYSTEMTIME g_override{};

constexpr uint64_t kEpochDifference = 116444736000000000ull;  // 1601-01-01 to 1970-01-01 in 100 ns

bool FakeTimeFromEnvironment(SYSTEMTIME* st) {
  const char* env = std::getenv("CORVANE_FAKE_TIME");
  if (!env) return false;
  unsigned y, mo, d, h, mi, s, ms = 0;
  if (std::sscanf(env, "%u-%u-%u %u:%u:%u.%u", &y, &mo, &d, &h, &mi, &s, &ms) < 6 || y > 30827) return false;
  SYSTEMTIME fake{static_cast<WORD>(y), static_cast<WORD>(mo), 0, static_cast<WORD>(d), static_cast<WORD>(h),
                  static_cast<WORD>(mi), static_cast<WORD>(s), static_cast<WORD>(ms)};
  // A value that names no time leaves the real clock in charge.
  FILETIME ft;
  if (!SystemTimeToFileTime(&fake, &ft)) return false;
  return FileTimeToSystemTime(&ft, st);  // fills the weekday
}

// The replaced clock, if any, as UTC.
bool OverriddenTime(SYSTEMTIME* st) {
  {
    std::lock_guard<std::mutex> guard(g_clockLock);
    if (g_overridden) {
      *st = g_override;
      return true;
    }
  }
  return FakeTimeFromEnvironment(st);
}

bool IsLeapYear(unsigned y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

unsigned DaysInMonth(unsigned y, unsigned m) {
  static const unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeapYear(y) ? 29 : days[m - 1];
}

void ToSystemTime(const struct timespec& ts, bool local, SYSTEMTIME* st) {
  struct tm tm {};
  time_t secs = ts.tv_sec;
  if (local) localtime_r(&secs, &tm);
  else gmtime_r(&secs, &tm);
  st->wYear = static_cast<WORD>(tm.tm_year + 1900);
  st->wMonth = static_cast<WORD>(tm.tm_mon + 1);
  st->wDayOfWeek = static_cast<WORD>(tm.tm_wday);
  st->wDay = static_cast<WORD>(tm.tm_mday);
  st->wHour = static_cast<WORD>(tm.tm_hour);
  st->wMinute = static_cast<WORD>(tm.tm_min);
  st->wSecond = static_cast<WORD>(tm.tm_sec);
  st->wMilliseconds = static_cast<WORD>(ts.tv_nsec / 1000000);
}

}  // namespace

namespace standin {
void SetSystemTimeOverride(const SYSTEMTIME* time) {
  std::lock_guard<std::mutex> guard(g_clockLock);
  g_overridden = time != nullptr;
  if (time) g_override = *time;
}
}  // namespace standin

extern "C" {

void WINAPI GetSystemTime(LPSYSTEMTIME st) {
  if (OverriddenTime(st)) return;
  struct timespec ts {};
  clock_gettime(CLOCK_REALTIME, &ts);
  ToSystemTime(ts, false, st);
}

// The same clock as GetSystemTime, in the time zone of the process.
void WINAPI GetLocalTime(LPSYSTEMTIME st) {
  struct timespec ts {};
  SYSTEMTIME utc;
  FILETIME ft;
  if (OverriddenTime(&utc) && SystemTimeToFileTime(&utc, &ft)) {
    uint64_t ticks = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    int64_t rel = static_cast<int64_t>(ticks) - static_cast<int64_t>(kEpochDifference);
    int64_t secs = rel >= 0 ? rel / 10000000 : -((-rel + 9999999) / 10000000);
    ts.tv_sec = static_cast<time_t>(secs);
    ts.tv_nsec = static_cast<long>((rel - secs * 10000000) * 100);
  } else {
    clock_gettime(CLOCK_REALTIME, &ts);
  }
  ToSystemTime(ts, true, st);
}

void WINAPI GetSystemTimeAsFileTime(LPFILETIME ft) {
  SYSTEMTIME st;
  GetSystemTime(&st);
  SystemTimeToFileTime(&st, ft);
}

BOOL WINAPI SystemTimeToFileTime(const SYSTEMTIME* st, LPFILETIME ft) {
  if (!st || !ft || st->wMonth < 1 || st->wMonth > 12 || st->wDay < 1 || st->wDay > 31 || st->wHour > 23 ||
      st->wMinute > 59 || st->wSecond > 59 || st->wMilliseconds > 999 || st->wYear < 1601 || st->wYear > 30827 ||
      st->wDay > DaysInMonth(st->wYear, st->wMonth))
    return standin::Fail(ERROR_INVALID_PARAMETER);
  struct tm tm {};
  tm.tm_year = st->wYear - 1900;
  tm.tm_mon = st->wMonth - 1;
  tm.tm_mday = st->wDay;
  tm.tm_hour = st->wHour;
  tm.tm_min = st->wMinute;
  tm.tm_sec = st->wSecond;
  int64_t secs = timegm(&tm);
  uint64_t ticks = static_cast<uint64_t>(secs * 10000000ll + st->wMilliseconds * 10000ll) + kEpochDifference;
  ft->dwLowDateTime = static_cast<DWORD>(ticks);
  ft->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return TRUE;
}

BOOL WINAPI FileTimeToSystemTime(const FILETIME* ft, LPSYSTEMTIME st) {
  if (!ft || !st) return standin::Fail(ERROR_INVALID_PARAMETER);
  uint64_t ticks = (static_cast<uint64_t>(ft->dwHighDateTime) << 32) | ft->dwLowDateTime;
  if (ticks >= 0x8000000000000000ull) return standin::Fail(ERROR_INVALID_PARAMETER);
  int64_t rel = static_cast<int64_t>(ticks) - static_cast<int64_t>(kEpochDifference);
  int64_t secs = rel >= 0 ? rel / 10000000 : -((-rel + 9999999) / 10000000);
  int64_t rem = rel - secs * 10000000;
  struct timespec ts {static_cast<time_t>(secs), static_cast<long>(rem * 100)};
  ToSystemTime(ts, false, st);
  return TRUE;
}

LONG WINAPI CompareFileTime(const FILETIME* a, const FILETIME* b) {
  uint64_t x = (static_cast<uint64_t>(a->dwHighDateTime) << 32) | a->dwLowDateTime;
  uint64_t y = (static_cast<uint64_t>(b->dwHighDateTime) << 32) | b->dwLowDateTime;
  return x < y ? -1 : x > y ? 1 : 0;
}

ULONGLONG WINAPI GetTickCount64(void) {
  struct timespec ts {};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<ULONGLONG>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

DWORD WINAPI GetTickCount(void) { return static_cast<DWORD>(GetTickCount64()); }

void WINAPI Sleep(DWORD ms) {
  struct timespec ts {static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000};
  while (nanosleep(&ts, &ts) != 0) {
  }
}

}  // extern "C"
