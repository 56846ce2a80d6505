// Path helpers on Windows paths (backslash separated, buffers of MAX_PATH).
#pragma once

#include "winbase.h"

WINBASEAPI BOOL WINAPI PathFileExistsW(LPCWSTR path);
WINBASEAPI BOOL WINAPI PathIsDirectoryW(LPCWSTR path);
WINBASEAPI BOOL WINAPI PathIsRelativeW(LPCWSTR path);
// Joins more onto path (a MAX_PATH buffer) with one backslash; FALSE when the
// result would not fit, leaving path unchanged.
WINBASEAPI BOOL WINAPI PathAppendW(LPWSTR path, LPCWSTR more);
WINBASEAPI LPWSTR WINAPI PathCombineW(LPWSTR dest, LPCWSTR dir, LPCWSTR file);
WINBASEAPI LPWSTR WINAPI PathAddBackslashW(LPWSTR path);
WINBASEAPI void WINAPI PathRemoveBackslashW(LPWSTR path);
WINBASEAPI BOOL WINAPI PathRemoveFileSpecW(LPWSTR path);
WINBASEAPI void WINAPI PathStripPathW(LPWSTR path);
WINBASEAPI LPWSTR WINAPI PathFindFileNameW(LPCWSTR path);
WINBASEAPI LPWSTR WINAPI PathFindExtensionW(LPCWSTR path);
WINBASEAPI void WINAPI PathRemoveExtensionW(LPWSTR path);
WINBASEAPI BOOL WINAPI PathRenameExtensionW(LPWSTR path, LPCWSTR ext);
