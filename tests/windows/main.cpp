#include <cstdio>
#include <cwchar>

#include "wincheck.h"

namespace wincheck {
namespace {
int g_failed = 0;
int g_run = 0;
}  // namespace

void Check(bool ok, const char* what, const char* file, int line) {
  ++g_run;
  if (ok) return;
  ++g_failed;
  std::printf("FAILED %s:%d: %s\n", file, line, what);
}

int RunProgram(const std::wstring& commandLine) {
  std::wstring line = commandLine;  // CreateProcessW may write into it
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return -1;
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = static_cast<DWORD>(-1);
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(code);
}

std::wstring ProgramFolder() {
  wchar_t path[MAX_PATH] = {};
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, n);
  return folder.substr(0, folder.rfind(L'\\') + 1);
}

std::string ReadBytes(const std::wstring& path) {
  std::string bytes;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return bytes;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
  CloseHandle(file);
  return bytes;
}

}  // namespace wincheck

int wmain(int argc, wchar_t** argv) {
  if (argc == 4 && std::wcscmp(argv[1], L"--hold-mutex") == 0) return wincheck::HoldOperationMutex(argv[2], argv[3]);
  if (argc == 4 && std::wcscmp(argv[1], L"--hold-mutex-until") == 0)
    return wincheck::HoldOperationMutexUntil(argv[2], argv[3]);

  wincheck::CheckGuard();
  wincheck::CheckPlatformExtras();

  // The log settings go beside this program before the library loads them.
  wincheck::PrepareLogSettings();
  HMODULE full = LoadLibraryW(L"corvane.dll");
  HMODULE compact = LoadLibraryW(L"corvane_compact.dll");
  WINCHECK(full != nullptr, "corvane.dll loads");
  WINCHECK(compact != nullptr, "corvane_compact.dll loads");
  if (full && compact) {
    wincheck::CheckLoadingAndInit(full, compact);
    wincheck::CheckAccounts(full);
    wincheck::CheckOperationMutex(full);
    wincheck::CheckConfiguration(full);
  }
  if (compact) FreeLibrary(compact);
  if (full) FreeLibrary(full);
  wincheck::CheckLogFile();

  std::printf("wincheck: %d of %d checks failed\n", wincheck::g_failed, wincheck::g_run);
  std::fflush(stdout);
  return wincheck::g_failed ? 1 : 0;
}
