#include "support/softwareversion.h"

#include "support/Log.h"

namespace {
typedef BOOL(WINAPI* LPFN_ISWOW64PROCESS)(HANDLE, PBOOL);
}

bool IsRunningUnderWow64() {
  // Looked up at run time: versions without WOW64 lack the export.
  HMODULE kernel = GetModuleHandleW(TEXT("kernel32"));
  FARPROC proc = kernel ? GetProcAddress(kernel, "IsWow64Process") : nullptr;
  if (!proc) return false;
  auto isWow64Process = reinterpret_cast<LPFN_ISWOW64PROCESS>(reinterpret_cast<void (*)()>(proc));
  BOOL wow64 = FALSE;
  if (!isWow64Process(GetCurrentProcess(), &wow64)) {
    LogMessageAt(LOG_ERROR, TEXT(".\\softwareversion"), 58, TEXT("Call IsWow64Process API failed."));
    return false;
  }
  return wow64 != FALSE;
}
