// The DLLs load beside their host, every flat export resolves, Init2 on a
// machine whose messaging subsystem was never set up answers 0 and leaves the
// registry as it was, and the log file written through the real C library has
// the Linux build's shape: a byte-order mark, CRLF line ends, the banners and
// the 12-hour time.
#include <regex>
#include <string>

#include "wincheck.h"

namespace wincheck {
namespace {

const wchar_t kSubsystemKey[] = L"SOFTWARE\\Microsoft\\Windows Messaging Subsystem";
const wchar_t kProfilesKey[] = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows Messaging Subsystem\\Profiles";

std::wstring LogFile() { return ProgramFolder() + L"Logs\\wincheck.log"; }

struct KeyShape {
  bool exists = false;
  DWORD subkeys = 0, values = 0;
  bool operator==(const KeyShape&) const = default;
};

KeyShape ShapeOf(HKEY root, const wchar_t* path) {
  KeyShape shape;
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return shape;
  shape.exists = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &shape.subkeys, nullptr, nullptr, &shape.values,
                                  nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
  RegCloseKey(key);
  return shape;
}

bool HasValue(HKEY root, const wchar_t* path, const wchar_t* name) {
  return RegGetValueW(root, path, name, RRF_RT_ANY, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

bool ResolvesAll(HMODULE module, std::initializer_list<const char*> names) {
  for (const char* name : names)
    if (!GetProcAddress(module, name)) return false;
  return true;
}

}  // namespace

void PrepareLogSettings() {
  const char settings[] = "[log section]\r\nlevel=0\r\nmedia=8\r\nmaxsize=1\r\nfile=wincheck.log\r\n";
  HANDLE file = CreateFileW((ProgramFolder() + L"corvane.ini").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0;
  WINCHECK(file != INVALID_HANDLE_VALUE && WriteFile(file, settings, sizeof settings - 1, &written, nullptr) &&
               written == sizeof settings - 1,
           "the log settings are written beside the program");
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  DeleteFileW(LogFile().c_str());
  DeleteFileW((LogFile() + L".bk").c_str());
}

void CheckLoadingAndInit(HMODULE full, HMODULE compact) {
  WINCHECK(ResolvesAll(full, {"Init2", "Term2", "IsInstalledOutlook", "SafeQuit", "GetOutlookPstW2",
                              "GetOutlookPstW2CallBack", "FreeArray2", "SyncMessageW2", "AttatchPSTFileW2",
                              "BackupMessageW2", "CollectMessageW2", "BOutlookConfig", "ROutlookConfig"}),
           "every flat export of corvane.dll resolves");
  WINCHECK(ResolvesAll(compact, {"Init2", "Term2", "IsInstalledOutlook", "GetOutlookPstW2", "GetOutlookPstW2CallBack",
                                 "FreeArray2", "SyncMessageW2"}),
           "every flat export of corvane_compact.dll resolves");

  WINCHECK(!HasValue(HKEY_LOCAL_MACHINE, kSubsystemKey, L"MAPIX"), "the fresh machine has no MAPIX");
  KeyShape subsystem = ShapeOf(HKEY_LOCAL_MACHINE, kSubsystemKey);
  for (HMODULE module : {full, compact}) {
    auto init = Export<int (*)()>(module, "Init2");
    auto term = Export<void (*)()>(module, "Term2");
    auto installed = Export<int (*)()>(module, "IsInstalledOutlook");
    WINCHECK(init && init() == 0, "Init2 without MAPIX answers 0");
    if (module == full) {
      // Its banners and nothing else: MAPI was never asked to start.
      std::string log = ReadBytes(LogFile());
      size_t lines = 0;
      for (size_t at = log.find("\r\n"); at != std::string::npos; at = log.find("\r\n", at + 2)) ++lines;
      WINCHECK(lines == 2 && log.find(": <!-------------Init------------------->\r\n") != std::string::npos,
               "Init2 without MAPIX logs its banners only");
    }
    WINCHECK(installed && installed() == 0, "no mail client is installed");
    if (term) term();
  }
  WINCHECK(ShapeOf(HKEY_LOCAL_MACHINE, kSubsystemKey) == subsystem, "Init2 leaves the subsystem key as it was");
  WINCHECK(!HasValue(HKEY_LOCAL_MACHINE, kSubsystemKey, L"MAPIX"), "Init2 writes no MAPIX");
  WINCHECK(!ShapeOf(HKEY_CURRENT_USER, kProfilesKey).exists, "Init2 makes no profile");
}

void CheckLogFile() {
  std::string bytes = ReadBytes(LogFile());
  WINCHECK(bytes.rfind("\xEF\xBB\xBF", 0) == 0, "the log starts with a byte-order mark");
  WINCHECK(bytes.find("\xEF\xBB\xBF", 3) == std::string::npos, "the log holds one byte-order mark");
  WINCHECK(bytes.size() > 5 && bytes.compare(bytes.size() - 2, 2, "\r\n") == 0, "the log ends with a line end");
  bool crlf = true;
  for (size_t i = bytes.find('\n'); i != std::string::npos; i = bytes.find('\n', i + 1))
    if (i == 0 || bytes[i - 1] != '\r') crlf = false;
  WINCHECK(crlf, "every line of the log ends in CRLF");

  // Every line: a level, an optional position, the thread and the 12-hour time.
  const std::regex line(
      "(INFO|WARNING|ERROR|FATAL): (File:'[^']*' Line: [0-9]+;  )?thread--0x[0-9a-f]{4,} "
      "(0[0-9]|1[0-2]):[0-5][0-9]:[0-5][0-9]\\.[0-9]{3}(AM|PM)  [01][0-9]-[0-3][0-9]-[0-9]{4}: .*");
  size_t lines = 0, shaped = 0;
  std::string text = bytes.substr(bytes.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0);
  for (size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    ++lines;
    if (std::regex_match(text.substr(start, end - start), line)) ++shaped;
  }
  WINCHECK(lines > 0 && shaped == lines, "every log line has the level, thread and time of the file format");
  WINCHECK(text.find(": <!-------------Init------------------->\r\n") != std::string::npos, "Init's banner is logged");
  WINCHECK(std::regex_search(text, std::regex(": ---------C:\\\\users\\\\[^\\\\\r]+\\\\AppData\\\\Roaming\r\n")),
           "the session banner names the user's application-data folder");
}

}  // namespace wincheck
