// Module paths and the command line of the process.
#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <fstream>
#include <iterator>
#include <mutex>

#include "internal.h"

using namespace standin;

namespace {

std::string ExecutablePath() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  return std::string(buf, static_cast<size_t>(n));
}

// Taken out of the environment as the process starts, so that a program this
// one starts by other means does not inherit a command line that is not its own.
std::string TakePassedCommandLine() {
  const char* env = std::getenv("CORVANE_COMMAND_LINE");
  if (!env) return {};
  std::string line = env;
  unsetenv("CORVANE_COMMAND_LINE");
  return line;
}
const std::string g_passedCommandLine = TakePassedCommandLine();

}  // namespace

extern "C" {

// Null names the executable of the process; another handle names the shared
// object that contains that address (as HINSTANCE values are load addresses).
DWORD WINAPI GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size) {
  if (FaultedWithLastError("GetModuleFileNameW")) return 0;
  std::string path;
  if (!module) {
    path = ExecutablePath();
  } else {
    Dl_info info{};
    if (dladdr(module, &info) && info.dli_fname) {
      char real[PATH_MAX];
      path = realpath(info.dli_fname, real) ? real : info.dli_fname;
    }
  }
  if (path.empty()) return Fail(ERROR_MOD_NOT_FOUND), 0;
  std::u16string w = ToWindowsPath(path);
  if (!buffer || size == 0) return Fail(ERROR_INSUFFICIENT_BUFFER), 0;
  // The platform cuts the path, terminates it and reports ERROR_INSUFFICIENT_BUFFER.
  if (w.size() >= size) {
    std::copy(w.begin(), w.begin() + (size - 1), buffer);
    buffer[size - 1] = 0;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
  }
  std::copy(w.begin(), w.end(), buffer);
  buffer[w.size()] = 0;
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(w.size());
}

// The command line as one string: CORVANE_COMMAND_LINE when the parent passed it
// (CreateProcessW does), else the arguments quoted by the platform's rules.
LPWSTR WINAPI GetCommandLineW(void) {
  static std::u16string line;
  static std::once_flag once;
  std::call_once(once, [] {
    if (!g_passedCommandLine.empty()) {
      line = ToUtf16(g_passedCommandLine);
      return;
    }
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t start = 0;
    bool first = true;
    while (start < all.size()) {
      size_t end = all.find('\0', start);
      if (end == std::string::npos) end = all.size();
      std::u16string arg = ToUtf16(all.substr(start, end - start));
      start = end + 1;
      if (!first) line += u' ';
      first = false;
      if (!arg.empty() && arg.find_first_of(u" \t\"") == std::u16string::npos) {
        line += arg;
        continue;
      }
      line += u'"';
      size_t slashes = 0;
      for (char16_t c : arg) {
        if (c == u'\\') {
          ++slashes;
          continue;
        }
        line.append(c == u'"' ? slashes * 2 + 1 : slashes, u'\\');
        slashes = 0;
        line += c;
      }
      line.append(slashes * 2, u'\\');
      line += u'"';
    }
  });
  return line.data();
}

}  // extern "C"
