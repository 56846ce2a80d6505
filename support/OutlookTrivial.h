// Small helpers shared by the operations.
#pragma once

#include <windows.h>

// Logs the current user's roaming application-data folder; opens every
// operation's log.
void LogSessionBanner();

// A name that stays inside the folder it is appended to: no separator, drive,
// wildcard or control character. The platform drops a trailing dot or blank,
// so "..", "..." and "x." are refused with them.
bool IsPlainFileName(LPCWSTR name);

// Whether the path holds a wildcard ("*" or "?"): a pattern, not a name.
bool HasWildcard(LPCWSTR path);

// Whether a name of the path is one of the platform's devices ("CON", "nul.pst",
// "COM1 .txt"), or the path is in the device namespace ("\\\\.\\pipe\\x",
// "\\\\?\\C:\\x"): such a path opens a device, never a file of a folder.
bool NamesDevice(LPCWSTR path);
