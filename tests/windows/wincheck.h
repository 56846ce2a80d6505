// The check program's one way to report: each failed check prints a line and
// is counted; the program fails when any did.
#pragma once

#include <windows.h>

#include <string>

#define WINCHECK(cond, what) ::wincheck::Check((cond), (what), __FILE__, __LINE__)

namespace wincheck {

void Check(bool ok, const char* what, const char* file, int line);

// Runs a command line of the system's programs (reg, regedit) and waits for
// it; its exit code, or -1 when it could not start.
int RunProgram(const std::wstring& commandLine);
// This program's folder, with a trailing backslash.
std::wstring ProgramFolder();
// A file's bytes; empty when it cannot be read.
std::string ReadBytes(const std::wstring& path);
// An export of a loaded library, as the given function type.
template <class F>
F Export(HMODULE module, const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// The check groups.
void CheckGuard();
void CheckPlatformExtras();
// The library's checks, on the DLLs beside this program; the log check reads
// what the others wrote, after the libraries were unloaded.
void PrepareLogSettings();
void CheckLoadingAndInit(HMODULE full, HMODULE compact);
void CheckAccounts(HMODULE full);
void CheckOperationMutex(HMODULE full);
void CheckConfiguration(HMODULE full);
void CheckLogFile();
// The second process of the mutex check: holds the operation mutex until told
// to end, then ends without releasing it.
int HoldOperationMutex(const wchar_t* ready, const wchar_t* end);
// Owns the operation mutex, makes readyFile, and releases the mutex once
// endFile exists (a minute at most): a holder a script can drive.
int HoldOperationMutexUntil(const wchar_t* readyFile, const wchar_t* endFile);

}  // namespace wincheck
