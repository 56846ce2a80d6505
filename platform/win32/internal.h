// Helpers shared by the stand-in's Win32 functions.
#pragma once

#include <string>

#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <windows.h>
#include <standin/fault.h>
#include <standin/root.h>

namespace standin {

// The Win32 error that matches a POSIX errno value.
DWORD ErrorFromErrno(int err);
// Sets the last error from errno and returns FALSE.
BOOL FailFromErrno();
// Sets the last error and returns FALSE.
inline BOOL Fail(DWORD err) {
  SetLastError(err);
  return FALSE;
}

// Fault injection for a function that fails by returning FALSE (or a null/invalid
// handle) with the armed code as its last error.
inline bool FaultedWithLastError(const char* call) {
  int32_t code;
  if (!TakeFault(call, &code)) return false;
  SetLastError(static_cast<DWORD>(code));
  return true;
}

// A Windows path argument as a POSIX path; false (ERROR_PATH_NOT_FOUND or
// ERROR_INVALID_PARAMETER set) when it names nothing on this machine.
bool PosixFromArg(LPCWSTR path, std::string* out);

// The directory part of the root for a special folder, e.g. "Users/<user>/Documents".
std::string UserName();

}  // namespace standin
