// Wide text to and from the narrow text of a code page (the thread's ANSI code
// page for names handed to MAPI and to the catalog database, the system's for
// store paths).
#pragma once

#include <windows.h>

#include <string>

// Into a buffer of outBytes bytes, terminator included. Text that does not fit
// is refused (false, the buffer left empty), never cut into other text. No text
// is the empty text.
bool NarrowInto(LPCWSTR wide, UINT codePage, char* out, int outBytes);
template <int N>
bool NarrowInto(LPCWSTR wide, UINT codePage, char (&out)[N]) {
  return NarrowInto(wide, codePage, out, N);
}

// As long as it needs to be. False, with the output left empty, when the text
// cannot be converted; no text is the empty text.
bool NarrowText(LPCWSTR wide, UINT codePage, std::string& out);
bool WideText(const char* narrow, UINT codePage, std::basic_string<WCHAR>& out);
