// What the framework takes from the platform beneath it besides the Win32 API:
// narrow text, case mapping and the fault seam. The stand-in's own services
// answer on Linux (platform/standin.cpp), the real platform's on Windows
// (platform/windows.cpp). Internal to the framework library.
#pragma once

#include <afx.h>

#include <cstdint>
#include <string>

namespace fw {

using WString = std::basic_string<WCHAR>;

// Narrow text as the platform reads it: UTF-8 on the stand-in, the ANSI code
// page on Windows.
WString Widen(const char* text, size_t length);

WCHAR UpperCase(WCHAR c);
WCHAR LowerCase(WCHAR c);
// Ordinal comparison ignoring case: <0, 0 or >0. Neither text is null.
int CompareNoCase(LPCWSTR a, LPCWSTR b);

// The stand-in's fault seam, through which tests fail a framework call with a
// code; it never fires on Windows.
bool TakeFault(const char* call, int32_t* code);

}  // namespace fw
