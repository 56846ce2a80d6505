// The host on Windows: the user's paths are the platform's own, UTF-8 in the
// host and UTF-16 for the library; Ctrl-C through the console's handler.
#include "Machine.h"

#include <io.h>

#include <cerrno>
#include <climits>

#include <CLI/CLI.hpp>

namespace host {

WString W(std::string_view text) {
  if (text.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  WString wide(n > 0 ? n : 0, L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
  return wide;
}

std::string U(WStringView text) {
  if (text.empty()) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string narrow(n > 0 ? n : 0, '\0');
  if (n > 0)
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(), n, nullptr, nullptr);
  return narrow;
}

std::string U(LPCWSTR text) { return text ? U(WStringView(text)) : std::string(); }

WString PlatformPath(const std::string& absolutePath) {
  WString path = W(absolutePath);
  for (WCHAR& c : path)
    if (c == L'/') c = L'\\';
  return path;
}

std::string PosixPath(WStringView platformPath) { return U(platformPath); }

bool SameNoCase(WStringView a, WStringView b) {
  return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) ==
         CSTR_EQUAL;
}

std::string MachineFolder() { return {}; }

std::string NotInstalled() {
  return "the mail client is not installed on this machine (its messaging subsystem is not set up in the registry)";
}

bool HoldsPathSeparator(const std::string& argument) { return argument.find_first_of("/\\:") != std::string::npos; }

bool StoreFileReadOnly(const std::string& path) {
  DWORD attributes = GetFileAttributesW(W(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

void AddMachineOptions(CLI::App&) {}

const char kMachineNote[] =
    "\nThe demo and --root belong to the Linux build: they make and choose machines of its stand-in platform.";

const char kProgramSuffix[] = ".exe";

std::string ThisProgramFolder() {
  WCHAR self[MAX_PATH] = {};
  DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return {};
  std::string path = U(WStringView(self, n));
  size_t slash = path.rfind('\\');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

namespace {

// One argument as the C runtime splits a command line: quoted when it holds
// a space, a tab or a quote, with quotes and the backslashes before them
// escaped.
void AppendArgument(WString& line, const WString& argument) {
  if (!line.empty()) line += L' ';
  if (!argument.empty() && argument.find_first_of(L" \t\"") == WString::npos) {
    line += argument;
    return;
  }
  line += L'"';
  size_t backslashes = 0;
  for (WCHAR c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    line.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    line += c;
  }
  line.append(backslashes * 2, L'\\');
  line += L'"';
}

}  // namespace

int RunInstead(const std::string& program, char** argv) {
  WString path = W(program);
  WString line;
  AppendArgument(line, path);
  for (char** arg = argv + 1; *arg; ++arg) AppendArgument(line, W(*arg));
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(path.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
    errno = GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND ? ENOENT : EACCES;
    return -1;
  }
  CloseHandle(process.hThread);
  DWORD code = 0;
  const bool ended = WaitForSingleObject(process.hProcess, INFINITE) == WAIT_OBJECT_0 &&
                     GetExitCodeProcess(process.hProcess, &code);
  const DWORD error = GetLastError();
  CloseHandle(process.hProcess);
  if (!ended) {
    SetLastError(error);
    errno = EIO;
    return -1;
  }
  // A program ended by an exception has the exception's code as its status,
  // which must not read as "could not run".
  return code > static_cast<DWORD>(INT_MAX) ? 1 : static_cast<int>(code);
}

namespace {
void (*g_onFirst)() = nullptr;
volatile LONG g_presses = 0;
bool g_installed = false;

BOOL WINAPI OnConsoleControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  // The second press is left to the default handler, which ends the program.
  if (InterlockedIncrement(&g_presses) > 1) return FALSE;
  if (g_onFirst) g_onFirst();
  return TRUE;
}
}  // namespace

bool CatchInterrupts(void (*onFirst)()) {
  g_onFirst = onFirst;
  g_presses = 0;
  g_installed = SetConsoleCtrlHandler(OnConsoleControl, TRUE) != FALSE;
  return g_installed;
}

void ReleaseInterrupts() {
  if (g_installed) SetConsoleCtrlHandler(OnConsoleControl, FALSE);
  g_installed = false;
}

void WriteErrorNow(const char* text, size_t size) {
  int ignored = _write(2, text, static_cast<unsigned>(size));
  (void)ignored;
}

bool IsTerminal(FILE* stream) { return _isatty(_fileno(stream)) != 0; }

bool TerminalShowsUtf8() { return GetConsoleOutputCP() == CP_UTF8; }

}  // namespace host
