// Text in the calling thread's ANSI code page (CP_THREAD_ACP) and back: the
// form in which names travel to MAPI profile administration and to the
// catalog database.
#pragma once

#include <windows.h>

#include <string>

// False, with the output left empty, when the text cannot be converted. A
// null text is the empty text.
bool ToThreadAnsi(LPCWSTR wide, std::string& narrow);
bool FromThreadAnsi(const char* narrow, std::basic_string<WCHAR>& wide);
