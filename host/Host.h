// The corvane command line: pieces its commands share. Every operation goes
// through the library's exports (the exported class and the flat exports),
// exactly as a backup application loads and drives it.
#pragma once

#include <afx.h>
#include <windows.h>

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "Machine.h"
#include "facade/OutlookFacade.h"

namespace CLI {
class App;
}

namespace host {

// Exit codes of every command.
enum ExitCode { kExitOk = 0, kExitFailed = 1, kExitUsage = 2, kExitCancelled = 130 };

// Bad input found before the library is asked: one line, exit 2.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
// An operation that ran and failed: one line, exit 1.
class OperationFailed : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
// The user pressed Ctrl-C: exit 130.
class Cancelled : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Options every command shares.
struct Options {
  bool json = false;
  bool quiet = false;
  std::string workProfile = "QorILantheTemp";
  int progressLineStep = 1;  // percent between plain progress lines
};
Options& GlobalOptions();

// A user's path made absolute and lexically clean (POSIX).
std::string AbsolutePath(const std::string& path);
// The machine's own paths are UTF-8 text in the host; the file system library
// takes and gives them through these (on Windows it would otherwise use the
// ANSI code page).
std::filesystem::path FsPath(const std::string& path);
std::string Utf8(const std::filesystem::path& path);
// A file in a folder, with the machine's separator.
std::string JoinPath(const std::string& folder, const std::string& name);
// The library takes and gives platform paths ("Z:\a\b"); the user sees POSIX ones.
WString LibraryPath(const std::string& posixPath);
std::string UserPath(LPCWSTR libraryPath);
bool IsRegularFile(const std::string& posixPath);
bool IsDirectory(const std::string& posixPath);
long long FileSize(const std::string& posixPath);  // -1 when it cannot be read
// "1.4 MiB", "512 B"
std::string HumanSize(long long bytes);

// Where the library's log goes, read from "corvane.ini" beside this program as
// the library reads it: a sentence for people.
std::string LogLocation();
// The log file's path, or "" when the library writes no log file.
std::string LogFilePath();

// The library initialised for the life of the object (Init, then Term).
class LibrarySession {
 public:
  LibrarySession();
  ~LibrarySession();
  LibrarySession(const LibrarySession&) = delete;
  LibrarySession& operator=(const LibrarySession&) = delete;
};

// A facade with the host's working profile name set.
class Facade {
 public:
  Facade();
  COutlookFacade& operator*() { return facade_; }
  COutlookFacade* operator->() { return &facade_; }

 private:
  COutlookFacade facade_;
};

// One store of the profile "Outlook", or a store file named by the user.
struct StoreRef {
  std::string path;          // POSIX
  WString libPath;    // as the library names it
  std::string displayName;   // "" for a file no profile holds
};

// The stores of the profile, in the library's order.
std::vector<StoreRef> ProfileStores(COutlookFacade& facade);
// A store argument: a store file, or the display name of a store of the
// profile. Bad input throws UsageError.
StoreRef ResolveStore(COutlookFacade& facade, const std::string& argument);

// A record array handed out by the library; released with the library's
// array deallocator, which the host shares.
class CatalogArray {
 public:
  CatalogArray() = default;
  ~CatalogArray() { delete[] records_; }
  CatalogArray(const CatalogArray&) = delete;
  CatalogArray& operator=(const CatalogArray&) = delete;
  OLCATALOGDATA** Put() { return &records_; }
  DWORD* Count() { return &count_; }
  std::vector<OLCATALOGDATA> Records() const { return {records_, records_ + (records_ ? count_ : 0)}; }

 private:
  OLCATALOGDATA* records_ = nullptr;
  DWORD count_ = 0;
};

// The folders below path (empty: the top level) of a store.
std::vector<OLCATALOGDATA> ListFolders(COutlookFacade& facade, const StoreRef& store,
                                       const std::vector<OLCATALOGDATA>& path);
// Walks a "Inbox/Projects" path down from the top level; UsageError when the
// store lacks a part.
std::vector<OLCATALOGDATA> ResolveFolderPath(COutlookFacade& facade, const StoreRef& store,
                                             const std::string& folderPath);

// Folder kinds by name ("inbox", "calendar", ...), for choosing and showing.
const char* KindName(LONG kind);
std::optional<LONG> KindFromName(const std::string& name);
std::string KindNames();  // "inbox, outbox, ..." for help texts
WStringView NameView(const OLCATALOGDATA& record);
std::string RecordName(const OLCATALOGDATA& record);
std::string RecordClass(const OLCATALOGDATA& record);
nlohmann::json RecordJson(const OLCATALOGDATA& record);

// Chooses top-level records by name (case-insensitive) or kind; nothing chosen
// means every folder. A name or kind the store lacks throws UsageError.
std::vector<OLCATALOGDATA> ChooseFolders(const std::vector<OLCATALOGDATA>& topLevel,
                                         const std::vector<std::string>& names,
                                         const std::vector<std::string>& kinds, const std::string& storeLabel);

// The result code an operation left in the thread's last error, in words.
std::string ResultCodeText(int code);

// Output.
void Out(const std::string& text);
void PrintJson(const nlohmann::json& value);

// --root, --json, --quiet (when the command reports progress) and
// --work-profile, on the program and on each command.
void AddCommonOptions(CLI::App& app, bool progress);

// The listing commands, also shown by the demo.
void ListCommand();
void TreeCommand(const std::string& store, const std::string& folderPath, bool all);

// The commands, one file each.
void AddListCommand(CLI::App& app);
void AddTreeCommand(CLI::App& app);
void AddBackupCommand(CLI::App& app);
void AddSyncCommand(CLI::App& app);
void AddAttachCommand(CLI::App& app);
void AddCollectCommand(CLI::App& app);
void AddRestoreCommand(CLI::App& app);
void AddAccountsCommand(CLI::App& app);
void AddConfigCommand(CLI::App& app);
void AddDemoCommand(CLI::App& app);

}  // namespace host
