// Hostile input at the library's boundary, one row per input: the answer it
// must give, the log line that explains it where the call explains itself,
// and a machine left as it was (registry, profiles and every file of the
// root). The rows run in slices, each in a logged copy of this program on a
// fresh machine; each row opens with its own marker (a working profile name),
// which cuts the log into rows.
#include <cctype>
#include <cstdio>
#include <functional>
#include <set>

#include <objbase.h>
#include <standin/fault.h>
#include <standin/root.h>

#include "common/sqlite_cli.h"
#include "facade/facade_support.h"

namespace testing_support {
namespace {

// ---- the machine as text ----

void DumpKey(HKEY parent, const std::u16string& path, const std::string& shown, std::string& out) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(parent, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
  std::vector<BYTE> data(1 << 16);
  std::vector<WCHAR> name(16384);
  for (DWORD i = 0;; ++i) {
    DWORD chars = static_cast<DWORD>(name.size()), type = 0, size = static_cast<DWORD>(data.size());
    if (RegEnumValueW(key, i, name.data(), &chars, nullptr, &type, data.data(), &size) != ERROR_SUCCESS) break;
    out += shown + " " + N(name.data()) + " " + std::to_string(type) + " " +
           std::string(reinterpret_cast<const char*>(data.data()), size) + "\n";
  }
  std::vector<std::u16string> subkeys;
  for (DWORD i = 0;; ++i) {
    DWORD chars = static_cast<DWORD>(name.size());
    if (RegEnumKeyExW(key, i, name.data(), &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    subkeys.emplace_back(name.data());
  }
  RegCloseKey(key);
  for (const std::u16string& sub : subkeys)
    DumpKey(parent, path.empty() ? sub : path + u"\\" + sub, shown + "\\" + N(sub.c_str()), out);
}

// The registry (profiles included) and the files of the root; the library's
// logs, the logged copy's folder and the registry database's own file (its
// content is the dump) are left out.
std::string MachineText(bool registryOnly = false) {
  std::string out;
  DumpKey(HKEY_CURRENT_USER, u"", "HKCU", out);
  DumpKey(HKEY_LOCAL_MACHINE, u"", "HKLM", out);
  if (registryOnly) return out;
  const std::string root = standin::PlatformRoot();
  std::vector<std::string> files;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
    std::string rel = it->path().string().substr(root.size());
    std::string name = it->path().filename().string();
    if (it->is_directory() && (name == "Logs" || rel == "/host")) {
      it.disable_recursion_pending();
      continue;
    }
    if (name.rfind("registry.db", 0) == 0 || rel == "/debugger-output.txt") continue;
    if (!it->is_directory())
      files.push_back(rel + " " + std::to_string(std::hash<std::string>()(ReadFileBytes(it->path().string()))));
  }
  std::sort(files.begin(), files.end());
  for (const std::string& f : files) out += f + "\n";
  return out;
}

// What changed between two readings of the machine, a line each.
std::string Changes(const std::string& before, const std::string& after) {
  auto lines = [](const std::string& text) {
    std::multiset<std::string> set;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) set.insert(line.substr(0, 200));
    return set;
  };
  std::multiset<std::string> was = lines(before), is = lines(after);
  std::string out;
  for (const std::string& line : was)
    if (!is.count(line)) out += "- " + line + "\n";
  for (const std::string& line : is)
    if (!was.count(line)) out += "+ " + line + "\n";
  return out;
}

// ---- the machine the rows run on ----

std::string Root() { return standin::PlatformRoot(); }
std::u16string Win(const std::string& posix) {
  std::u16string w = u"Z:" + W(posix);
  std::replace(w.begin(), w.end(), u'/', u'\\');
  return w;
}
std::u16string RootWin(const std::string& rel) { return Win(Root() + "/" + rel); }

OLCATALOGDATA Inbox() {
  OLCATALOGDATA r{};
  r.nType = OLFOLDER_INBOX;
  wcscpy_s(r.szName, u"Inbox");
  return r;
}

// A path of exactly `length` characters below the root's deep folder: a file
// ("x…x.pst") or a folder ("f…f").
std::u16string Deep() { return RootWin("deep/" + std::string(40, 'd') + "/" + std::string(40, 'd') + "/" +
                                       std::string(40, 'd') + "/" + std::string(40, 'd') + "/" + std::string(40, 'd')); }
std::u16string LongFile(size_t length) {
  std::u16string deep = Deep() + u"\\";
  while (deep.size() + 60 < length) deep += std::u16string(40, u'e') + u"\\";
  return deep + std::u16string(length - deep.size() - 4, u'x') + u".pst";
}
std::u16string LongFolder(size_t length) {
  std::u16string deep = Deep() + u"\\";
  while (deep.size() + 60 < length) deep += std::u16string(40, u'e') + u"\\";
  return deep + std::u16string(length - deep.size(), u'f');
}
std::string Posix(const std::u16string& win) {
  std::string p = standin::ToUtf8(win.substr(2));
  std::replace(p.begin(), p.end(), '\\', '/');
  return p;
}

const size_t kLengths[] = {MAX_PATH, MAX_PATH + 1, 1000};

// ---- the rows ----

struct Row {
  std::string name;
  std::function<int()> run;
  int expected;
  std::u16string logLine;               // a line of the row's log ends so; a final "*": holds it
  std::function<void()> arrange = {};   // before the machine is read
  std::function<void()> undo = {};      // after it is read again
  bool registryOnly = false;            // the row changes files on purpose
};

// An operation that takes a path, and what it answers for one that is bad.
struct PathOperation {
  std::string name;
  std::function<int(const std::u16string&)> run;
  int refused;
  std::u16string logLine;  // "%p" stands for the path as the library reads it
};

// A bad path; `whole` when it names a file or folder that is there (only its
// length is wrong), so that an operation cannot take it for a missing one.
struct BadPath {
  std::string name;
  std::u16string path;
  bool whole = false;
  bool pattern = false;  // a wildcard or a device: no file of that name can be meant
};

int Backup(const std::u16string& source, const CString& destination) {
  COutlookFacade facade;
  CString out(destination);
  OLCATALOGDATA selection = Inbox();
  return facade.BackupMessage(source.c_str(), out, &selection, 1, 0);
}
int Sync(const std::u16string& source, const std::u16string& destination) {
  COutlookFacade facade;
  OLCATALOGDATA selection = Inbox();
  return facade.SyncMessage(source.c_str(), destination.c_str(), &selection, 1);
}
int Collect(const std::u16string& source, const CString& folder) {
  COutlookFacade facade;
  CString out(folder);
  OLCATALOGDATA selection = Inbox();
  return facade.CollectMessage(source.c_str(), out, &selection, 1);
}
int Restore(const CString& folder) {
  COutlookFacade facade;
  CString in(folder);
  return facade.AutoRestoreMessage(in);
}
int Catalog(const std::u16string& path) {
  COutlookFacade facade;
  OLCATALOGDATA* records = nullptr;
  DWORD count = 0;
  int result = facade.GetCatalog(path.c_str(), &records, &count);
  delete[] records;
  // A path that names no store lists nothing, and that is no failure.
  return result ? static_cast<int>(count) : -1;
}
// The host's string, embedded NULs and all.
CString Str(const std::u16string& s) { return CString(s.data(), static_cast<int>(s.size())); }

std::vector<PathOperation> PathOperations() {
  const std::u16string mail = RootWin("mail.pst"), loose = RootWin("loose.pst");
  return {
      {"backup source", [=](auto& p) { return Backup(p, Str(RootWin("backup\\out.pst"))); }, 0, u""},
      {"backup destination", [=](auto& p) { return Backup(mail, Str(p)); }, 0, u""},
      {"sync source", [=](auto& p) { return Sync(p, loose); }, 1, u""},
      {"sync destination", [=](auto& p) { return Sync(mail, p); }, 1, u""},
      {"collect source", [=](auto& p) { return Collect(p, Str(RootWin("gather"))); }, 0, u""},
      {"collect folder", [=](auto& p) { return Collect(mail, Str(p)); }, 0, u""},
      {"restore folder", [=](auto& p) { return Restore(Str(p)); }, 0, u""},
      {"catalog", [=](auto& p) { return Catalog(p); }, 0, u""},
      {"attach", [=](auto& p) { return AttatchPSTFileW2(p.c_str(), u"Hostile"); }, 1, u"Invalid path.%p"},
      {"config backup", [=](auto& p) { return BOutlookConfig(p.c_str()); }, 1, u""},
      {"config restore", [=](auto& p) { return ROutlookConfig(p.c_str()); }, 1, u""},
  };
}

std::vector<BadPath> BadPaths(bool folder, const std::string& ext) {
  std::vector<BadPath> paths;
  for (size_t length : kLengths)
    paths.push_back({std::to_string(length) + " characters", folder ? LongFolder(length) : LongFile(length), true});
  const std::u16string withNul = folder ? RootWin("gath") + std::u16string(1, u'\0') + u"er"
                                        : RootWin("mail") + std::u16string(1, u'\0') + u".pst";
  paths.push_back({"embedded NUL", withNul});
  for (std::string name : {"*.", "mai?.", "*", "gath?r", "CON", "NUL", "COM1", "con.", "LPT1.", "config\\nul."}) {
    if (name.back() == '.') name += ext;
    paths.push_back({name, RootWin(name), false, true});
  }
  // The device namespace, around a name that is there.
  const std::u16string ending = folder ? u"gather" : u"mail." + W(ext);
  paths.push_back({"pipe", u"\\\\.\\pipe\\" + ending, false, true});
  paths.push_back({"device namespace", u"\\\\?\\" + RootWin(N(ending.c_str())), false, true});
  paths.push_back({"missing drive", folder ? u"Q:\\gather" : u"Q:\\mail.pst"});
  paths.push_back({"missing drive root", u"Q:\\"});
  return paths;
}

// The copies (backup, synchronise, collect), or the other operations.
std::vector<Row> PathRows(bool copies) {
  std::vector<Row> rows;
  for (const PathOperation& op : PathOperations()) {
    const bool copy = op.name.rfind("backup", 0) == 0 || op.name.rfind("sync", 0) == 0 || op.name.rfind("collect", 0) == 0;
    if (copy != copies) continue;
    bool config = op.name.rfind("config", 0) == 0;
    bool folder = op.name == "collect folder" || op.name == "restore folder" || config;
    for (const BadPath& bad : BadPaths(folder, config ? "reg" : "pst")) {
      std::u16string shown(bad.path.c_str());  // what the library reads of it
      std::u16string line = op.logLine;
      // The configuration exports name what they refuse.
      if (config && bad.pattern) line = u"A invalid path: %p";
      if (size_t at = line.find(u"%p"); at != std::u16string::npos) line.replace(at, 2, shown);
      int expected = op.refused;
      // A path that names no file is nothing to synchronise, and a catalog of
      // nothing is empty; a path beyond the limit is an error.
      if (op.name.rfind("sync", 0) == 0 && bad.whole) expected = 0;
      if (op.name == "catalog" && bad.whole) expected = -1;
      std::u16string path = bad.path;
      // The host's own strings may carry a NUL after a name that is there.
      if (bad.name == "embedded NUL" && (op.name == "collect folder" || op.name == "restore folder")) {
        path = RootWin("gather") + std::u16string(1, u'\0') + u"\\elsewhere";
        line = u"The collection folder is invalid: " + RootWin("gather");
      }
      auto run = op.run;
      rows.push_back({op.name + ": " + bad.name, [run, path] { return run(path); }, expected, line});
    }
  }
  return rows;
}

// ---- working profile names ----

// A backup of the default store into a new file, under the working profile
// name: the temporary profile it needs is made and removed again.
std::vector<Row> ProfileNameRows() {
  std::vector<Row> rows;
  struct Name {
    std::string shown;
    std::u16string name;
    int expected;
    std::u16string logLine;
  };
  std::vector<Name> names = {
      {"empty", u"", 0, u"The working profile name is empty."},
      {"1 character", u"p", 1, u""},
      {"48 characters", std::u16string(48, u'p'), 1, u""},
      {"49 characters (the limit)", std::u16string(49, u'p'), 1, u""},
      {"50 characters", std::u16string(50, u'p'), 1, u""},
      {"51 characters", std::u16string(51, u'p'), 1, u""},
      {"48 characters and a pair cut at the limit", std::u16string(48, u'p') + u"\U0001F600", 1, u""},
      {"the client's profile", u"Outlook", 0, u"The working profile cannot be the profile Outlook"},
      {"the client's profile in other letters", u"OUTLOOK", 0, u"The working profile cannot be the profile OUTLOOK"},
  };
  for (size_t i = 0; i < names.size(); ++i) {
    const Name& n = names[i];
    std::u16string destination = RootWin("backup\\named-" + std::to_string(i) + ".pst");
    Row row{"working profile name: " + n.shown,
            [n, destination] {
              COutlookFacade facade;
              facade.SetProfileName(n.name.c_str());
              CString out(destination.c_str());
              OLCATALOGDATA selection = Inbox();
              return facade.BackupMessage(RootWin("mail.pst").c_str(), out, &selection, 1, 0);
            },
            n.expected, n.logLine};
    row.registryOnly = n.expected == 1;  // the backup makes its store
    rows.push_back(row);
  }
  return rows;
}

// ---- damaged store files ----

std::vector<Row> StoreFileRows() {
  // The store file "loose.pst" cut at each of its pages, then files that are
  // no store: another program's database, a folder.
  std::vector<std::pair<std::string, std::string>> stores;  // name, bytes ("" keeps the file as arranged)
  const std::string whole = ReadFileBytes(Root() + "/loose.pst");
  const size_t page = whole.size() > 17 ? (static_cast<unsigned char>(whole[16]) << 8 | static_cast<unsigned char>(whole[17])) : 0;
  for (size_t cut = 0; page && cut < whole.size(); cut += page)
    stores.push_back({"cut at page " + std::to_string(cut / page), whole.substr(0, cut)});
  stores.push_back({"another program's database", ""});
  stores.push_back({"a folder named like a store", ""});
  std::vector<Row> rows;
  const std::u16string mail = RootWin("mail.pst");
  for (size_t i = 0; i < stores.size(); ++i) {
    const std::string& name = stores[i].first;
    std::string file = i + 2 == stores.size() ? "other.pst" : i + 1 == stores.size() ? "folder.pst"
                                                                                  : "cut-" + std::to_string(i) + ".pst";
    std::u16string path = RootWin(file);
    std::string bytes = stores[i].second;
    auto arrange = [file, bytes, i, n = stores.size()] {
      if (i + 2 < n) WriteFileBytes(Root() + "/" + file, bytes);
    };
    std::u16string out = RootWin("backup\\from-" + std::to_string(i) + ".pst");
    // A folder names no store file: nothing to list or synchronise.
    const bool folder = file == "folder.pst";
    rows.push_back({"catalog of a store " + name, [path] { return Catalog(path); }, folder ? 0 : -1, u"", arrange});
    rows.push_back({"backup from a store " + name, [path, out] { return Backup(path, Str(out)); }, 0, u"", arrange});
    rows.push_back({"backup into a store " + name, [mail, path] { return Backup(mail, Str(path)); }, 0, u"", arrange});
    rows.push_back({"sync with a store " + name, [mail, path] { return Sync(mail, path); }, folder ? 1 : 0, u"", arrange});
    rows.push_back({"attach a store " + name, [path] { return AttatchPSTFileW2(path.c_str(), u"Damaged"); }, 1,
                    folder ? u"Invalid path." + path : u"", arrange});
  }
  return rows;
}

// ---- registry values the library reads ----

const std::u16string kProfiles =
    u"Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows Messaging Subsystem\\Profiles\\Outlook";
const std::u16string kSubsystem = u"SOFTWARE\\Microsoft\\Windows Messaging Subsystem";

struct RegValue {
  DWORD type = 0;
  std::string bytes;
};

// The sections of the profile "Outlook" that hold a value of that name.
std::vector<std::u16string> SectionsWith(const std::u16string& value) {
  std::vector<std::u16string> sections;
  HKEY profile = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kProfiles.c_str(), 0, KEY_READ, &profile) != ERROR_SUCCESS) return sections;
  WCHAR name[256];
  for (DWORD i = 0;; ++i) {
    DWORD chars = 256;
    if (RegEnumKeyExW(profile, i, name, &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    if (RegGetValueW(profile, name, value.c_str(), RRF_RT_ANY, nullptr, nullptr, nullptr) == ERROR_SUCCESS)
      sections.push_back(kProfiles + u"\\" + name);
  }
  RegCloseKey(profile);
  return sections;
}

bool ReadValue(HKEY root, const std::u16string& key, const std::u16string& name, RegValue& value) {
  DWORD size = 0;
  if (RegGetValueW(root, key.c_str(), name.c_str(), RRF_RT_ANY | RRF_NOEXPAND, &value.type, nullptr, &size) != ERROR_SUCCESS)
    return false;
  value.bytes.resize(size);
  return RegGetValueW(root, key.c_str(), name.c_str(), RRF_RT_ANY | RRF_NOEXPAND, &value.type, value.bytes.data(), &size) ==
         ERROR_SUCCESS;
}
void WriteValue(HKEY root, const std::u16string& key, const std::u16string& name, const RegValue& value) {
  HKEY opened = nullptr;
  ASSERT_EQ(RegOpenKeyExW(root, key.c_str(), 0, KEY_SET_VALUE, &opened), ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExW(opened, name.c_str(), 0, value.type, reinterpret_cast<const BYTE*>(value.bytes.data()),
                           static_cast<DWORD>(value.bytes.size())),
            ERROR_SUCCESS);
  RegCloseKey(opened);
}

std::string Utf16Bytes(const std::u16string& text) {
  return std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2);
}

// Replaces a value in every key that holds it for one row, and puts the old
// values back after it.
Row ValueRow(const std::string& name, HKEY root, std::function<std::vector<std::u16string>()> keys,
             const std::u16string& value, RegValue replacement, std::function<int()> run, int expected,
             std::u16string logLine = u"") {
  auto saved = std::make_shared<std::vector<std::pair<std::u16string, RegValue>>>();
  Row row{name, run, expected, logLine};
  row.arrange = [=] {
    for (const std::u16string& key : keys()) {
      RegValue old;
      ASSERT_TRUE(ReadValue(root, key, value, old));
      saved->push_back({key, old});
      WriteValue(root, key, value, replacement);
    }
    ASSERT_FALSE(saved->empty()) << name;
  };
  row.undo = [=] {
    for (const auto& [key, old] : *saved) WriteValue(root, key, value, old);
    saved->clear();
  };
  return row;
}

int ListedStores() {
  COutlookFacade facade;
  std::vector<CString> paths, names;
  facade.GetOutlookPst(paths, names);
  return static_cast<int>(paths.size());
}
int InitAgain() {
  int result = Init2();
  if (result) Term2();
  return result;
}

// The standard folders of a new store, as the listing of "mail.pst" gives them.
constexpr int kMailFolders = 11;

std::vector<Row> RegistryRows() {
  std::vector<Row> rows;
  struct Bad {
    std::string name;
    RegValue value;
  };
  const std::vector<Bad> bad = {
      {"a string", {REG_SZ, Utf16Bytes(u"Z:\\elsewhere.pst") + std::string(2, '\0')}},
      {"a number", {REG_DWORD, std::string("\x01\0\0\0", 4)}},
      {"empty", {REG_BINARY, ""}},
      {"1 byte", {REG_BINARY, "Z"}},
      {"3 bytes", {REG_BINARY, "Z\0:"}},
      {"17 bytes", {REG_BINARY, std::string(17, '\x7f')}},
      {"600 bytes unterminated", {REG_BINARY, std::string(600, 'a')}},
  };
  const std::u16string mail = RootWin("mail.pst");
  auto sectionsWith = [](std::u16string value) { return [value] { return SectionsWith(value); }; };
  for (const Bad& b : bad) {
    // The store path of the default store's sections, its service UID, the
    // profile's list of services.
    // A path however long is the store's own; none, or none that reads as text, lists nothing.
    rows.push_back(ValueRow("store path " + b.name + ": list", HKEY_CURRENT_USER, sectionsWith(u"001f6700"), u"001f6700",
                            b.value, ListedStores, b.value.bytes.size() == 600 ? 1 : 0));
    rows.push_back(ValueRow("store path " + b.name + ": catalog", HKEY_CURRENT_USER, sectionsWith(u"001f6700"),
                            u"001f6700", b.value, [mail] { return Catalog(mail); }, kMailFolders));
    rows.push_back(ValueRow("service uid " + b.name + ": list", HKEY_CURRENT_USER, sectionsWith(u"01023d0c"), u"01023d0c",
                            b.value, ListedStores, 0));
    rows.push_back(ValueRow("service list " + b.name + ": list", HKEY_CURRENT_USER, sectionsWith(u"01023d0e"),
                            u"01023d0e", b.value, ListedStores, 0));
    rows.push_back(ValueRow("provider uid " + b.name + ": list", HKEY_CURRENT_USER, sectionsWith(u"0102300c"),
                            u"0102300c", b.value, ListedStores, 0));
  }
  // "MAPIX" must read "1", whatever its type.
  const std::vector<std::pair<Bad, int>> mapix = {
      {{"a number", {REG_DWORD, std::string("\x01\0\0\0", 4)}}, 0},
      {{"empty", {REG_SZ, ""}}, 0},
      {{"\"10\"", {REG_SZ, Utf16Bytes(u"10") + std::string(2, '\0')}}, 0},
      {{"a long string", {REG_SZ, Utf16Bytes(std::u16string(300, u'1')) + std::string(2, '\0')}}, 0},
      {{"\"1\" as bytes", {REG_BINARY, Utf16Bytes(u"1")}}, 0},
      {{"\"1\" unterminated", {REG_SZ, Utf16Bytes(u"1")}}, 1},
  };
  for (const auto& [b, expected] : mapix)
    rows.push_back(ValueRow("MAPIX " + b.name, HKEY_LOCAL_MACHINE, [] { return std::vector<std::u16string>{kSubsystem}; },
                            u"MAPIX", b.value, InitAgain, expected,
                            // The library reads it whatever its type; MAPI itself wants a string.
                            b.value.type == REG_BINARY ? u"Initinalize MAPI library failed. error: *" : u""));
  return rows;
}

// ---- a catalog another process holds locked ----

// The collection's catalog held under an exclusive lock by the sqlite3
// program while the row runs; SQLite's waits are made to pass at once, so the
// minute of the busy time-out runs out without the row waiting for it.
Row LockedRow(const std::string& name, std::function<int()> run, bool registryOnly, const std::u16string& logLine) {
  auto holder = std::make_shared<std::unique_ptr<Child>>();
  const std::string catalog = Root() + "/gather/mail.db3";
  Row row{name, run, 0, logLine};
  row.registryOnly = registryOnly;
  // The holder waits out the polls below for its lock, then keeps it while
  // the flag file is there (a minute at most).
  const std::string flag = Root() + "/holding";
  row.arrange = [=] {
    WriteFileBytes(flag, "");
    *holder = std::make_unique<Child>(
        std::vector<std::string>{Sqlite3Program(), "-batch", catalog, ".timeout 10000", "BEGIN EXCLUSIVE;",
                                 ".shell for i in $(seq 600); do [ -e " + flag + " ] || break; sleep 0.1; done"});
    ASSERT_TRUE(WaitUntil([&] {
      int code = 0;
      Sqlite3(catalog, {"select count(*) from category;"}, &code);
      return code != 0;
    })) << (*holder)->Output();
    standin::ArmFault("sqlite3_vfs::xSleep", 0);
  };
  row.undo = [=] {
    standin::ClearFault("sqlite3_vfs::xSleep");
    fs::remove(flag);
    ChildResult done;
    EXPECT_TRUE((*holder)->Wait(20000, &done));
    holder->reset();
  };
  return row;
}

std::vector<Row> LockedRows() {
  const std::u16string mail = RootWin("mail.pst");
  // The query of the restore reports the code alone; the collected store is
  // written before its catalog, so only the catalog stays as it was there.
  return {
      LockedRow("restore from a locked catalog", [] { return Restore(Str(RootWin("gather"))); }, false,
                u"Catalog database failed, error:5, SQLITE_BUSY[5]: "),
      LockedRow("collect into a locked catalog", [mail] { return Collect(mail, Str(RootWin("gather"))); }, true,
                u"Catalog database failed, error:5, SQLITE_BUSY[5]: database is locked"),
  };
}

// The table in groups of rows.
std::vector<Row> GroupRows(const std::string& group) {
  if (group == "copy paths") return PathRows(true);
  if (group == "other paths") return PathRows(false);
  if (group == "profile names") return ProfileNameRows();
  if (group == "store files") return StoreFileRows();
  if (group == "registry values") return RegistryRows();
  if (group == "locked catalog") return LockedRows();
  ADD_FAILURE() << "no group " << group;
  return {};
}

// Each group runs in slices of rows, a logged copy of this program per slice,
// so that no copy runs long ("store files 2/4": the second of four slices).
constexpr size_t kSliceRows = 20;
const char* const kParts[] = {
    "copy paths 1/6",      "copy paths 2/6",      "copy paths 3/6",      "copy paths 4/6",  "copy paths 5/6",
    "copy paths 6/6",      "other paths 1/5",     "other paths 2/5",     "other paths 3/5", "other paths 4/5",
    "other paths 5/5",     "profile names 1/1",   "store files 1/4",     "store files 2/4", "store files 3/4",
    "store files 4/4",     "registry values 1/3", "registry values 2/3", "registry values 3/3",
    "locked catalog 1/1",
};

std::vector<Row> PartRows(const std::string& part) {
  size_t space = part.rfind(' ');
  unsigned slice = 0, slices = 0;
  if (space == std::string::npos || std::sscanf(part.c_str() + space + 1, "%u/%u", &slice, &slices) != 2 || !slice) {
    ADD_FAILURE() << "no part " << part;
    return {};
  }
  std::vector<Row> rows = GroupRows(part.substr(0, space));
  // The last slice takes no fewer rows than are left: none is skipped.
  EXPECT_TRUE(slice < slices || rows.size() <= slices * kSliceRows) << part << ": " << rows.size() << " rows";
  size_t first = (slice - 1) * kSliceRows;
  size_t end = slice == slices ? rows.size() : std::min(rows.size(), first + kSliceRows);
  return first < end ? std::vector<Row>(rows.begin() + first, rows.begin() + end) : std::vector<Row>();
}

// The rows run in the logged copy (FacadeScenario.DISABLED_Run).
std::u16string Marker(size_t i) { return u"hostile row " + W(std::to_string(i)); }

const char kPartVariable[] = "CORVANE_HOSTILE_PART";

FACADE_SCENARIO(HostileRows) {
  const char* part = std::getenv(kPartVariable);
  ASSERT_NE(part, nullptr);
  ASSERT_EQ(Init2(), 1);
  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
  std::vector<Row> rows = PartRows(part);
  for (size_t i = 0; i < rows.size(); ++i) {
    const Row& row = rows[i];
    COutlookFacade().SetProfileName(Marker(i).c_str());
    if (row.arrange) row.arrange();
    const std::string before = MachineText(row.registryOnly);
    int result = row.run();
    std::string changes = Changes(before, MachineText(row.registryOnly));
    EXPECT_EQ(result, row.expected) << row.name;
    EXPECT_EQ(changes, "") << row.name;
    if (row.undo) row.undo();
  }
  CoUninitialize();
  Term2();
}

class Hostile : public FacadeMachine, public ::testing::WithParamInterface<const char*> {
 protected:
  // The valid half of every call: the default store "mail.pst", a loose store,
  // a collection made of it, a saved configuration, the folders a bad path
  // stands beside.
  void SetUp() override {
    FacadeMachine::SetUp();
    AddPst("mail.pst", "Mail", true);
    LoosePst("loose.pst");
    for (const char* dir : {"backup", "gather", "config"}) fs::create_directories(RootFile(dir));
    CString folder(Win(RootFile("gather")).c_str());
    ASSERT_EQ(Collect(Win(RootFile("mail.pst")), folder), 1);
    ASSERT_EQ(BOutlookConfig(Win(RootFile("config")).c_str()), 0);
    ASSERT_NE(Sqlite3Program(), "") << "the sqlite3 program is missing (./setup.sh installs it)";
    Sqlite3(RootFile("other.pst"), {"create table notes(id integer primary key, body text);",
                                    "insert into notes(body) values('not mail');"});
    fs::create_directories(RootFile("folder.pst"));
    for (size_t length : kLengths) {
      fs::create_directories(Posix(LongFolder(length)));
      fs::copy_file(RootFile("loose.pst"), Posix(LongFile(length)));
    }
  }

  // Runs a part of the table in a logged copy; each row's log line is looked
  // for between its marker and the next.
  void RunPart(const std::string& part) {
    setenv(kPartVariable, part.c_str(), 1);
    std::vector<std::string> log = RunLogged(RootFile("host"), "HostileRows");
    unsetenv(kPartVariable);
    std::vector<Row> rows = PartRows(part);
    ASSERT_FALSE(rows.empty());
    std::vector<size_t> starts;
    for (size_t i = 0; i < rows.size(); ++i) {
      auto at = LinesEndingWith(log, "\tprofile name: " + N(Marker(i).c_str()));
      ASSERT_EQ(at.size(), 1u) << rows[i].name << " did not run";
      starts.push_back(at[0]);
    }
    starts.push_back(log.size());
    for (size_t i = 0; i < rows.size(); ++i) {
      // A refusal names what it refuses.
      std::vector<std::string> slice(log.begin() + starts[i], log.begin() + starts[i + 1]);
      EXPECT_TRUE(LinesEndingWith(slice, "invalid: ").empty()) << rows[i].name << ": a refusal names no path";
      if (rows[i].logLine.empty()) continue;
      // A line given with a final "*" goes on with what the platform says.
      std::string line = N(rows[i].logLine.c_str());
      const bool goesOn = line.back() == '*';
      if (goesOn) line.pop_back();
      bool found = false;
      for (size_t at = starts[i]; at < starts[i + 1]; ++at)
        found = found || (goesOn ? log[at].find(line) != std::string::npos
                                 : !LinesEndingWith({log[at]}, line).empty());
      EXPECT_TRUE(found) << rows[i].name << ": no line of the row is " << line;
    }
  }
};

TEST_P(Hostile, EachRowGivesItsAnswerAndLeavesTheMachineAsItWas) { RunPart(GetParam()); }

INSTANTIATE_TEST_SUITE_P(Table, Hostile, ::testing::ValuesIn(kParts), [](const auto& info) {
  std::string name;
  for (char c : std::string(info.param)) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return name;
});

}  // namespace
}  // namespace testing_support
