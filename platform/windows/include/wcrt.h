// The wide-character run-time functions for WCHAR text. On the stand-in,
// where WCHAR is char16_t, wcrt.h supplies them; on Windows WCHAR is wchar_t
// and they are the C library's own, so this header only brings in the C
// library's headers that declare them.
#pragma once

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <tchar.h>
#include <wchar.h>
#include <wctype.h>
