#include "Host.h"

#include <winreg.h>

#include <cstdio>
#include <filesystem>

#include <CLI/CLI.hpp>

#include "Library.h"
#include "owners/ScopedOwner.h"

namespace host {

Options& GlobalOptions() {
  static Options options;
  return options;
}

std::filesystem::path FsPath(const std::string& path) {
  return std::filesystem::path(std::u8string(path.begin(), path.end()));
}

std::string Utf8(const std::filesystem::path& path) {
  std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

std::string JoinPath(const std::string& folder, const std::string& name) { return Utf8(FsPath(folder) / FsPath(name)); }

std::string AbsolutePath(const std::string& path) {
  std::error_code ec;
  std::filesystem::path full = std::filesystem::absolute(FsPath(path), ec);
  if (ec) throw UsageError("cannot make sense of the path '" + path + "'");
  std::string text = Utf8(full.lexically_normal());
  if (text.size() > 1 && (text.back() == '/' || text.back() == '\\') && text[text.size() - 2] != ':') text.pop_back();
  return text;
}

WString LibraryPath(const std::string& posixPath) { return PlatformPath(AbsolutePath(posixPath)); }

std::string UserPath(LPCWSTR libraryPath) {
  if (!libraryPath) return {};
  std::string posix = PosixPath(WStringView(libraryPath));
  return posix.empty() ? U(libraryPath) : posix;
}


bool IsRegularFile(const std::string& posixPath) {
  std::error_code ec;
  return std::filesystem::is_regular_file(FsPath(posixPath), ec);
}

bool IsDirectory(const std::string& posixPath) {
  std::error_code ec;
  return std::filesystem::is_directory(FsPath(posixPath), ec);
}

long long FileSize(const std::string& posixPath) {
  std::error_code ec;
  auto size = std::filesystem::file_size(FsPath(posixPath), ec);
  return ec ? -1 : static_cast<long long>(size);
}

std::string HumanSize(long long bytes) {
  if (bytes < 0) return "?";
  static const char* units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
  double value = static_cast<double>(bytes);
  int unit = 0;
  while (value >= 1024 && unit < 4) {
    value /= 1024;
    ++unit;
  }
  char text[32];
  if (unit == 0)
    std::snprintf(text, sizeof text, "%lld B", bytes);
  else
    std::snprintf(text, sizeof text, value < 10 ? "%.1f %s" : "%.0f %s", value, units[unit]);
  return text;
}

namespace {

// The folder of this program, as the platform names it ("Z:\...\bin").
WString ProgramFolder() {
  WCHAR exe[MAX_PATH] = {};
  DWORD n = GetModuleFileNameW(nullptr, exe, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return {};
  WString folder(exe, n);
  size_t slash = folder.rfind(TEXT('\\'));
  return slash == WString::npos ? WString() : folder.substr(0, slash);
}

struct LogTarget {
  bool on = false;
  int media = 0;
  std::string file;  // POSIX, when media carries the file
  std::string settings;  // POSIX path of corvane.ini
};

// Reads the settings with the same limits as the library does at load.
LogTarget ReadLogTarget() {
  LogTarget target;
  WString folder = ProgramFolder();
  if (folder.empty()) return target;
  WString ini = folder + TEXT("\\corvane.ini");
  target.settings = UserPath(ini.c_str());
  if (!IsRegularFile(target.settings)) return target;
  const WCHAR section[] = TEXT("log section");
  UINT level = GetPrivateProfileIntW(section, TEXT("level"), 4, ini.c_str());
  int media = static_cast<int>(GetPrivateProfileIntW(section, TEXT("media"), static_cast<INT>(-1), ini.c_str()));
  if (level > 3 || media < 0 || media > 14 || media == 0) return target;
  target.media = media;
  target.on = true;
  if (media & 8) {
    WCHAR name[MAX_PATH] = {};
    GetPrivateProfileStringW(section, TEXT("file"), TEXT(""), name, MAX_PATH, ini.c_str());
    if (name[0] == 0) {
      target.on = false;
      return target;
    }
    WString path = folder + TEXT("\\Logs\\") + name;
    target.file = UserPath(path.c_str());
  }
  return target;
}

}  // namespace

std::string LogFilePath() { return ReadLogTarget().file; }

std::string LogLocation() {
  LogTarget target = ReadLogTarget();
  if (!target.on)
    return "logging is off (a corvane.ini at " + (target.settings.empty() ? std::string("the program's folder") : target.settings) +
           " turns it on)";
  std::string where;
  if (!target.file.empty()) where = target.file;
  if (target.media & 4) where += std::string(where.empty() ? "" : ", ") + "the console";
  if (target.media & 2) where += std::string(where.empty() ? "" : ", ") + "the debugger output";
  return "log: " + where;
}

namespace {

const WCHAR kOutlookProfileKey[] =
    TEXT("Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows Messaging Subsystem\\Profiles\\Outlook");
// The library's own value in a profile it is restoring: not part of the
// profile, and cleared when that restore ends.
const WCHAR kRestoreTokenValue[] = TEXT("Corvane restore token");

void AppendKey(HKEY key, WString& out) {
  std::vector<BYTE> data(1 << 16);
  WCHAR name[256];
  for (DWORD i = 0;; ++i) {
    DWORD chars = ARRAYSIZE(name), type = 0, size = static_cast<DWORD>(data.size());
    if (RegEnumValueW(key, i, name, &chars, nullptr, &type, data.data(), &size) != ERROR_SUCCESS) break;
    if (lstrcmpiW(name, kRestoreTokenValue) == 0) continue;
    out += WString(name, chars) + TEXT("=") + WString(1, static_cast<WCHAR>(type)) +
           WString(reinterpret_cast<const WCHAR*>(data.data()), size / sizeof(WCHAR)) + TEXT("\n");
  }
  for (DWORD i = 0;; ++i) {
    DWORD chars = ARRAYSIZE(name);
    if (RegEnumKeyExW(key, i, name, &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    out += TEXT("[") + WString(name, chars) + TEXT("]\n");
    CScopedRegKey sub;
    if (RegOpenKeyExW(key, name, 0, KEY_READ, sub.Put()) == ERROR_SUCCESS) AppendKey(sub.Get(), out);
    out += TEXT("[-]\n");
  }
}

}  // namespace

bool HasOutlookProfile() {
  CScopedRegKey key;
  return RegOpenKeyExW(HKEY_CURRENT_USER, kOutlookProfileKey, 0, KEY_QUERY_VALUE, key.Put()) == ERROR_SUCCESS;
}

WString OutlookProfileText() {
  CScopedRegKey key;
  WString text;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kOutlookProfileKey, 0, KEY_READ, key.Put()) == ERROR_SUCCESS)
    AppendKey(key.Get(), text += TEXT("Outlook\n"));
  return text;
}

LibrarySession::LibrarySession() {
  if (StartLibrary() != 1) {
    // Without the mail client there is no MAPI to initialise; say so plainly.
    if (!COutlookFacade::IsInstalledOutlook()) throw OperationFailed(NotInstalled());
    throw OperationFailed("the library could not initialise MAPI (error " + std::to_string(GetLastError()) + "); " +
                          LogLocation());
  }
}

LibrarySession::~LibrarySession() { COutlookFacade::Term(); }

Facade::Facade() {
  WString name = W(GlobalOptions().workProfile);
  facade_.SetProfileName(name.c_str());
}

std::vector<StoreRef> ProfileStores(COutlookFacade& facade) {
  std::vector<CString> paths, names;
  facade.GetOutlookPst(paths, names);
  std::vector<StoreRef> stores;
  for (size_t i = 0; i < paths.size() && i < names.size(); ++i) {
    StoreRef s;
    s.libPath = WString(paths[i].GetString());
    s.path = UserPath(paths[i].GetString());
    s.displayName = U(names[i].GetString());
    stores.push_back(std::move(s));
  }
  return stores;
}

StoreRef ResolveStore(COutlookFacade& facade, const std::string& argument) {
  if (argument.empty()) throw UsageError("an empty store name");
  bool looksLikePath = HoldsPathSeparator(argument) ||
                       (argument.size() > 4 && SameNoCase(W(argument.substr(argument.size() - 4)), TEXT(".pst")));
  if (IsDirectory(argument)) throw UsageError("'" + argument + "' is a folder, not a store file");
  if (!IsRegularFile(argument) && looksLikePath) throw UsageError("no store file at '" + argument + "'");
  std::vector<StoreRef> stores = ProfileStores(facade);
  if (IsRegularFile(argument)) {
    std::string full = AbsolutePath(argument);
    // A file the profile holds is named as the profile names it, so that the
    // library opens it through that profile.
    std::error_code ec;
    for (const StoreRef& s : stores)
      if (!s.path.empty() && std::filesystem::equivalent(FsPath(s.path), FsPath(full), ec)) return s;
    return {full, LibraryPath(full), ""};
  }
  for (const StoreRef& s : stores)
    if (SameNoCase(W(s.displayName), W(argument))) {
      if (!IsRegularFile(s.path))
        throw UsageError("the store '" + s.displayName + "' names a file that does not exist: " + s.path);
      return s;
    }
  throw UsageError("no store file or store of the profile named '" + argument + "' (see corvane list)");
}

std::vector<OLCATALOGDATA> ListFolders(COutlookFacade& facade, const StoreRef& store,
                                       const std::vector<OLCATALOGDATA>& path) {
  CatalogArray records;
  int ok = path.empty() ? facade.GetCatalog(store.libPath.c_str(), records.Put(), records.Count())
                        : facade.GetSubCatalog(store.libPath.c_str(), path, records.Put(), records.Count());
  if (ok != 1) throw OperationFailed("listing the folders of " + store.path + " failed; " + LogLocation());
  return records.Records();
}

std::vector<OLCATALOGDATA> ResolveFolderPath(COutlookFacade& facade, const StoreRef& store,
                                             const std::string& folderPath) {
  std::vector<OLCATALOGDATA> path;
  std::string walked;
  size_t start = 0;
  while (start <= folderPath.size()) {
    size_t slash = folderPath.find('/', start);
    std::string part = folderPath.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    start = slash == std::string::npos ? folderPath.size() + 1 : slash + 1;
    if (part.empty()) continue;
    walked += (walked.empty() ? "" : "/") + part;
    std::vector<OLCATALOGDATA> level = ListFolders(facade, store, path);
    const OLCATALOGDATA* found = nullptr;
    for (const OLCATALOGDATA& r : level)
      if (r.nType != OLFOLDER_ROOT && SameNoCase(NameView(r), W(part))) {
        found = &r;
        break;
      }
    if (!found) throw UsageError("the store " + store.path + " has no folder '" + walked + "'");
    path.push_back(*found);
  }
  return path;
}

namespace {
const char* const kKindNames[] = {"folder", "inbox",    "outbox", "sent",    "deleted",
                                  "drafts", "junk",     "calendar", "contacts", "tasks",
                                  "notes",  "journal",  "homepage", "config",  "root"};
}

const char* KindName(LONG kind) {
  return kind >= 0 && kind <= OLFOLDER_ROOT ? kKindNames[kind] : "unknown";
}

std::optional<LONG> KindFromName(const std::string& name) {
  for (LONG k = 0; k <= OLFOLDER_ROOT; ++k)
    if (k != OLFOLDER_CONFIG && SameNoCase(W(name), W(kKindNames[k]))) return k;
  return std::nullopt;
}

std::string KindNames() {
  std::string out;
  for (LONG k = 1; k <= OLFOLDER_ROOT; ++k)
    if (k != OLFOLDER_CONFIG) out += std::string(out.empty() ? "" : ", ") + kKindNames[k];
  return out;
}

WStringView NameView(const OLCATALOGDATA& record) {
  return {record.szName, wcsnlen(record.szName, OLCATALOG_NAME_CHARS)};
}

std::string RecordName(const OLCATALOGDATA& record) { return U(NameView(record)); }

std::string RecordClass(const OLCATALOGDATA& record) {
  return U(WStringView(record.szClass, wcsnlen(record.szClass, OLCATALOG_NAME_CHARS)));
}

nlohmann::json RecordJson(const OLCATALOGDATA& record) {
  return {{"name", RecordName(record)}, {"kind", KindName(record.nType)}, {"type", record.nType},
          {"class", RecordClass(record)}};
}

std::vector<OLCATALOGDATA> ChooseFolders(const std::vector<OLCATALOGDATA>& topLevel,
                                         const std::vector<std::string>& names,
                                         const std::vector<std::string>& kinds, const std::string& storeLabel) {
  if (names.empty() && kinds.empty()) return topLevel;
  std::vector<OLCATALOGDATA> chosen;
  auto add = [&](const OLCATALOGDATA& r) {
    for (const OLCATALOGDATA& c : chosen)
      if (c.nType == r.nType && SameNoCase(NameView(c), NameView(r))) return;
    chosen.push_back(r);
  };
  for (const std::string& name : names) {
    if (name.find('/') != std::string::npos)
      throw UsageError("'" + name + "': only top-level folders can be chosen; their sub-folders come along");
    bool found = false;
    for (const OLCATALOGDATA& r : topLevel)
      if (SameNoCase(NameView(r), W(name))) {
        add(r);
        found = true;
        break;
      }
    if (!found) throw UsageError("the store " + storeLabel + " has no top-level folder '" + name + "'");
  }
  for (const std::string& kindName : kinds) {
    std::optional<LONG> kind = KindFromName(kindName);
    if (!kind) throw UsageError("unknown folder kind '" + kindName + "' (" + KindNames() + ")");
    bool found = false;
    for (const OLCATALOGDATA& r : topLevel)
      if (r.nType == *kind) {
        add(r);
        found = true;
      }
    if (!found) throw UsageError("the store " + storeLabel + " has no folder of the kind '" + kindName + "'");
  }
  return chosen;
}

std::string ResultCodeText(int code) {
  switch (code) {
    case 0: return "0 (success)";
    case -1: return "-1 (cancelled)";
    case 1: return "1 (a session, store or folder listing could not be set up)";
    case 112: return "112 (a message or folder could not be copied)";
    default: {
      char text[64];
      std::snprintf(text, sizeof text, "%d (MAPI error 0x%04X)", code, static_cast<unsigned>(code) & 0xFFFF);
      return text;
    }
  }
}

void AddCommonOptions(CLI::App& app, bool progress) {
  Options& options = GlobalOptions();
  AddMachineOptions(app);
  app.add_flag("--json", options.json, "print the result as JSON");
  if (progress) app.add_flag("-q,--quiet", options.quiet, "show no progress");
  app.add_option("--work-profile", options.workProfile,
                 "name of the temporary profile the library works in (default: QorILantheTemp)")
      ->type_name("NAME")
      ->check([](const std::string& value) {
        return value.empty() || value.size() >= FACADE_PROFILE_NAME_CHARS ? std::string("a name of 1 to 49 characters")
                                                                          : std::string();
      });
}

void Out(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

void PrintJson(const nlohmann::json& value) { Out(value.dump(2) + "\n"); }

}  // namespace host
