// Times as the admin tool reads and writes them: ISO 8601 in UTC.
#pragma once

#include <string>

#include <windows.h>

namespace mapiadmin {

// "2026-03-04T13:05:09Z" (seconds optional, "T" or a space); false when unreadable.
bool ParseIsoTime(const std::string& text, FILETIME* out);
std::string FormatIsoTime(const FILETIME& time);
FILETIME Now();

}  // namespace mapiadmin
