// The host on the stand-in: POSIX paths for the user, the platform root for
// the machine, POSIX signals for Ctrl-C.
#include "Machine.h"

#include <signal.h>
#include <standin/root.h>
#include <unistd.h>
#include <wcrt.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include <CLI/CLI.hpp>

#include "Host.h"

namespace host {

WString W(std::string_view text) { return standin::ToUtf16(text); }
std::string U(WStringView text) { return standin::ToUtf8(text); }
std::string U(LPCWSTR text) { return text ? standin::ToUtf8(WStringView(text)) : std::string(); }

WString PlatformPath(const std::string& absolutePosixPath) { return standin::ToWindowsPath(absolutePosixPath); }
std::string PosixPath(WStringView platformPath) { return standin::ToPosixPath(platformPath); }

bool SameNoCase(WStringView a, WStringView b) { return standin::CompareNoCase(a, b) == 0; }

std::string MachineFolder() { return standin::PlatformRoot(); }

std::string NotInstalled() {
  return "the mail client is not installed on this machine (platform root " + MachineFolder() +
         "); corvane demo makes a sample machine, mapiadmin install a bare one";
}

bool HoldsPathSeparator(const std::string& argument) { return argument.find('/') != std::string::npos; }

bool StoreFileReadOnly(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  char magic[4] = {};
  bool real = std::fread(magic, 1, sizeof magic, f) == sizeof magic && std::memcmp(magic, "!BDN", 4) == 0;
  std::fclose(f);
  return real || access(path.c_str(), W_OK) != 0;
}

void AddMachineOptions(CLI::App& app) {
  app.add_option("--root",
                 "the platform root: the folder that is the machine (default: CORVANE_PLATFORM_ROOT); "
                 "the stand-in's, not in the Windows build")
      ->type_name("DIR")
      ->each([](const std::string& value) {
        if (value.empty()) throw CLI::ValidationError("--root", "an empty folder name");
        setenv("CORVANE_PLATFORM_ROOT", AbsolutePath(value).c_str(), 1);
      });
}

const char kMachineNote[] = "";
const char kProgramSuffix[] = "";

std::string ThisProgramFolder() {
  std::error_code ec;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : self.parent_path().string();
}

int RunInstead(const std::string& program, char** argv) {
  argv[0] = const_cast<char*>(program.c_str());
  execv(program.c_str(), argv);
  return -1;
}

namespace {
struct sigaction g_previous {};
bool g_installed = false;
void (*g_onFirst)() = nullptr;
void OnInterrupt(int) {
  if (g_onFirst) g_onFirst();
}
}  // namespace

bool CatchInterrupts(void (*onFirst)()) {
  g_onFirst = onFirst;
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  // The second press finds the default action again.
  action.sa_flags = SA_RESTART | SA_RESETHAND;
  g_installed = sigaction(SIGINT, &action, &g_previous) == 0;
  return g_installed;
}

void ReleaseInterrupts() {
  if (g_installed) sigaction(SIGINT, &g_previous, nullptr);
  g_installed = false;
}

void WriteErrorNow(const char* text, size_t size) {
  ssize_t ignored = ::write(STDERR_FILENO, text, size);
  (void)ignored;
}

bool IsTerminal(FILE* stream) { return isatty(fileno(stream)) != 0; }

bool TerminalShowsUtf8() {
  for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = std::getenv(name);
    if (value && *value) return std::strstr(value, "UTF-8") || std::strstr(value, "utf8") || std::strstr(value, "UTF8");
  }
  return false;
}

}  // namespace host
