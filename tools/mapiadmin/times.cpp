#include "times.h"

#include <cstdio>

namespace mapiadmin {

bool ParseIsoTime(const std::string& text, FILETIME* out) {
  unsigned y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  char sep = 0;
  int n = std::sscanf(text.c_str(), "%4u-%2u-%2u%c%2u:%2u:%2u", &y, &mo, &d, &sep, &h, &mi, &s);
  if (n < 3 || (n > 3 && n < 6) || (n >= 4 && sep != 'T' && sep != ' ')) return false;
  SYSTEMTIME st = {static_cast<WORD>(y), static_cast<WORD>(mo), 0, static_cast<WORD>(d),
                   static_cast<WORD>(h), static_cast<WORD>(mi), static_cast<WORD>(s), 0};
  return SystemTimeToFileTime(&st, out) != FALSE;
}

std::string FormatIsoTime(const FILETIME& time) {
  SYSTEMTIME st;
  if (!FileTimeToSystemTime(&time, &st)) return "";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04u-%02u-%02uT%02u:%02u:%02uZ", st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute,
                st.wSecond);
  return buf;
}

FILETIME Now() {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  return ft;
}

}  // namespace mapiadmin
