// corvane config: the mail client's configuration (the user's MAPI profiles
// and the machine's account list) saved into two files, and restored from
// them for a user who has no profile "Outlook" yet: the profiles come back
// without their IMAP stores and accounts that are not POP3, and with the
// default store at a fresh file in the user's documents.
#include <objbase.h>

#include <filesystem>

#include <CLI/CLI.hpp>

#include "Config.h"
#include "facade/OutlookFacade2.h"

namespace host {

namespace {

namespace fs = std::filesystem;

const char kProfilesFile[] = "olconfig.reg";
const char kAccountsFile[] = "oaconnect.reg";

bool EndsWithReg(const std::string& path) {
  std::string extension = Utf8(FsPath(path).extension());
  return SameNoCase(W(extension), TEXT(".reg"));
}

ConfigFiles FilesOf(const std::string& profiles) {
  return {profiles, Utf8(FsPath(profiles).parent_path() / kAccountsFile)};
}

// The result codes of the configuration exports, in words.
std::string ResultText(int code, bool restoring) {
  std::string text = std::to_string(code) + " (";
  switch (code) {
    case 1:
      text += restoring ? "the files were refused, or the restore privilege could not be enabled"
                        : "there is no profile \"Outlook\" to save, the registry editor failed, or the backup "
                          "privilege is missing";
      break;
    case 100: text += "a fault inside the library stopped it"; break;
    case 101:
      text += "the profile \"Outlook\" is back with its default store, but an IMAP store or an account that is not "
              "POP3 could not be removed from it";
      break;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      text += restoring ? "the registry editor or a file was not found" : "the account list is not in the registry";
      break;
    case ERROR_ACCESS_DENIED: text += "access denied"; break;
    case ERROR_INVALID_DATA: text += "the profiles file holds no profile \"Outlook\""; break;
    case ERROR_PRIVILEGE_NOT_HELD: text += "the process does not hold the privilege"; break;
    default: text += "error of the registry or of the profile's services"; break;
  }
  return text + ")";
}

}  // namespace

ConfigFiles SaveTarget(const std::string& argument) {
  if (argument.empty()) throw UsageError("an empty path");
  std::string path = AbsolutePath(argument);
  if (IsDirectory(path)) return FilesOf(JoinPath(path, kProfilesFile));
  if (!EndsWithReg(path)) throw UsageError("the configuration file must end in .reg: " + path);
  std::string folder = Utf8(FsPath(path).parent_path());
  if (!IsDirectory(folder)) throw UsageError("the folder does not exist: " + folder);
  if (SameNoCase(W(Utf8(FsPath(path).filename())), W(kAccountsFile)))
    throw UsageError(std::string(kAccountsFile) + " is the name of the account list saved beside the profiles; "
                     "choose another name");
  return FilesOf(path);
}

ConfigFiles RestoreSource(const std::string& argument) {
  if (argument.empty()) throw UsageError("an empty path");
  std::string path = AbsolutePath(argument);
  if (IsDirectory(path)) {
    path = JoinPath(path, kProfilesFile);
    if (!IsRegularFile(path)) throw UsageError("no " + std::string(kProfilesFile) + " in " +
                                               Utf8(FsPath(path).parent_path()) + ": not a saved configuration");
  } else if (!IsRegularFile(path)) {
    throw UsageError("no saved configuration at " + path);
  } else if (!EndsWithReg(path)) {
    throw UsageError("the configuration file must end in .reg: " + path);
  }
  ConfigFiles files = FilesOf(path);
  if (!IsRegularFile(files.accounts))
    throw UsageError("no " + std::string(kAccountsFile) + " beside " + path + ": the account list saved with it is missing");
  return files;
}

void SaveConfig(const ConfigFiles& files) {
  WString path = LibraryPath(files.profiles);
  int code = BOutlookConfig(path.c_str());
  if (code != 0)
    throw OperationFailed("saving the configuration failed with result " + ResultText(code, false) +
                          "; files saved there earlier are unchanged; " + LogLocation());
}

bool RestoreConfig(const ConfigFiles& files) {
  // The library answers 0 as well when the user has a profile already: what
  // it restored shows in the profile, which a profile of the user's keeps
  // as it was, and a restore done again after an interruption changes.
  const WString before = OutlookProfileText();
  WString path = LibraryPath(files.profiles);
  int code = ROutlookConfig(path.c_str());
  if (code != 0)
    throw OperationFailed("restoring the configuration failed with result " + ResultText(code, true) + "; " +
                          LogLocation());
  return OutlookProfileText() != before;
}

ComApartment::ComApartment() {
  HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (FAILED(hr)) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
    throw OperationFailed(std::string("COM could not be initialised on this thread (") + code + ")");
  }
}

ComApartment::~ComApartment() { CoUninitialize(); }

namespace {

void RunSave(const std::string& argument) {
  ConfigFiles files = SaveTarget(argument);
  if (!COutlookFacade::IsInstalledOutlook()) throw OperationFailed(NotInstalled());
  SaveConfig(files);
  if (GlobalOptions().json) {
    PrintJson({{"operation", "config save"}, {"ok", true}, {"result", 0}, {"profiles", files.profiles},
               {"accounts", files.accounts}});
    return;
  }
  Out("Saved the configuration of the profile \"Outlook\"\n  profiles:     " + files.profiles +
      "\n  account list: " + files.accounts + "\n");
}

void RunRestore(const std::string& argument) {
  ConfigFiles files = RestoreSource(argument);
  LibrarySession library;
  ComApartment apartment;
  bool restored = RestoreConfig(files);
  Facade facade;
  std::vector<StoreRef> stores = restored ? ProfileStores(*facade) : std::vector<StoreRef>{};
  std::string defaultStore = stores.empty() ? "" : stores.front().path;
  if (GlobalOptions().json) {
    PrintJson({{"operation", "config restore"}, {"ok", true}, {"result", 0}, {"restored", restored},
               {"profiles", files.profiles}, {"accounts", files.accounts}, {"defaultStore", defaultStore}});
    return;
  }
  if (!restored) {
    Out("The profile \"Outlook\" exists for this user already: nothing was restored (a configuration is restored "
        "only for a user without one)\n");
    return;
  }
  Out("Restored the configuration from " + files.profiles + " and " + files.accounts +
      "\n  the profile \"Outlook\" is back, without IMAP stores and accounts that are not POP3\n  default store: " +
      (defaultStore.empty() ? std::string("none") : defaultStore) + "\n");
}

}  // namespace

void AddConfigCommand(CLI::App& app) {
  static std::string savePath, restorePath;
  CLI::App* cmd = app.add_subcommand(
      "config", "save the configuration of the profile \"Outlook\" (profiles and account list), or restore it");
  cmd->require_subcommand(1);
  AddCommonOptions(*cmd, false);
  CLI::App* save = cmd->add_subcommand(
      "save", "save the profiles into olconfig.reg and the account list into oaconnect.reg");
  save->add_option("path", savePath, "a folder, or the .reg file for the profiles (the account list goes beside it)")
      ->type_name("DIR|FILE")
      ->required();
  AddCommonOptions(*save, false);
  save->callback([] { RunSave(savePath); });
  CLI::App* restore = cmd->add_subcommand(
      "restore", "restore a saved configuration for a user without a profile \"Outlook\"");
  restore->add_option("path", restorePath, "the folder of a saved configuration, or its profiles file")
      ->type_name("DIR|FILE")
      ->required();
  AddCommonOptions(*restore, false);
  restore->callback([] { RunRestore(restorePath); });
}

}  // namespace host
