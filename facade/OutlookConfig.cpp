// The configuration exports: the mail client's profiles and its account list
// saved into two files, and restored from them for a user who has no profile
// "Outlook" yet. They belong to the flat exports, whose unit their log names.
#include <excpt.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <wcrt.h>

#include "Account/AccountManager.h"
#include "MAPIPack/MAPIHelpers.h"
#include "MAPIPack/MAPIProfile.h"
#include "MAPIPack/MailAccount.h"
#include "facade/Boundary.h"
#include "facade/OutlookFacade2.h"
#include "outlookconfig/ConfigFiles.h"
#include "outlookconfig/OlProAcc.h"
#include "support/Log.h"
#include "support/TokenAdapter.h"

#define FACADE2_UNIT TEXT(".\\OutlookFacade2")

namespace {

constexpr int kConfigFailed = 1;
constexpr int kConfigFault = 100;
// The profile was restored with its default store, but an IMAP store or an
// account that is not POP3 could not be removed from it.
constexpr int kConfigNotTidied = 101;

const WCHAR kHiveFileName[] = TEXT("oaconnect.reg");
const WCHAR kDefaultPSTFolder[] = TEXT("Outlook Files");
const WCHAR kDefaultPSTName[] = TEXT("Outlook.pst");

// Runs work under the structured-exception guard. A fault, or an exception of
// the language, ends it with kConfigFault; *faulted tells which it was. As
// with any such guard, what the work held at a fault is not given back.
template <class Work>
int Guarded(Work&& work, bool* faulted = nullptr) {
  LONG result = kConfigFault;
  DWORD exceptionCode = 0;
  BOOL returned = GuardStructured([&]() -> LONG { return RunWithoutThrowing(kConfigFault, work); }, &result,
                                  &exceptionCode);
  if (faulted) *faulted = !returned;
  return returned ? static_cast<int>(result) : kConfigFault;
}

// A privilege enabled for the span of one registry save or restore, put back
// on every way out.
class CPrivilegeScope {
 public:
  CPrivilegeScope() = default;
  ~CPrivilegeScope() { m_token.RestorePrivileges(); }
  CPrivilegeScope(const CPrivilegeScope&) = delete;
  CPrivilegeScope& operator=(const CPrivilegeScope&) = delete;
  bool Enable(LPCWSTR name) { return m_token.EnablePrivilege(name) == 0; }

 private:
  TokenAdapter m_token;
};

int LogDeleteFailed(int line, LPCWSTR file) {
  LogMessageAt(LOG_ERROR, FACADE2_UNIT, line, TEXT("Could not delete the file:%s,Error:%d"), file, GetLastError());
  return kConfigFailed;
}

// Writes the new pair under temporary names: 0, or the result of the step that
// failed (the temporaries are then removed with files).
int WriteConfigFiles(CReplacementFiles& files) {
  CPrivilegeScope privilege;
  if (!privilege.Enable(TEXT("SeBackupPrivilege"))) return kConfigFailed;
  if (ExportProfiles(files.Temporary(0)) != 0) return kConfigFailed;
  if (int result = SaveOutlook10Accounts(files.Temporary(1))) return result;
  // A save that failed is logged by the save; a pair without its hive is no
  // backup to keep.
  return files.IsWritten(1) ? 0 : kConfigFailed;
}

// Where each export logs its opening and its type check.
struct CConfigLines {
  LPCWSTR banner;
  int bannerLine;
  int typeLine;
};

// The opening lines and the checks both exports start with: the profiles
// file the argument names, which must be a ".reg" file.
bool OpenConfigFile(LPCWSTR szPath, const CConfigLines& lines, WCHAR (&file)[MAX_PATH]) {
  LogMessageAt(LOG_INFO, FACADE2_UNIT, lines.bannerLine, lines.banner);
  LogMessageAt(LOG_INFO, FACADE2_UNIT, lines.bannerLine + 1, TEXT("\tszPath is: %s"), szPath ? szPath : TEXT(""));
  if (!ResolveConfigFile(szPath, file)) return false;
  if (HasFileType(file, TEXT("reg"))) return true;
  LogMessageAt(LOG_ERROR, FACADE2_UNIT, lines.typeLine, TEXT("file type is invalid: %s"), file);
  return false;
}

int BackupConfiguration(LPCWSTR szPath) {
  WCHAR file[MAX_PATH] = {};
  if (!OpenConfigFile(szPath, {TEXT("<!---BOutlookConfig-->"), 242, 254}, file)) return kConfigFailed;
  // The hive goes beside the export, under its own name: an export of that
  // name would be overwritten by the hive.
  WCHAR hiveFile[MAX_PATH] = {};
  CReplacementFiles files;
  if (!HasExistingFolder(file) || !ReplaceFileName(file, kHiveFileName, hiveFile) || lstrcmpiW(hiveFile, file) == 0 ||
      !files.Add(file) || !files.Add(hiveFile)) {
    LogMessageAt(LOG_ERROR, FACADE2_UNIT, 259, TEXT("A invalid path: %s"), file);
    return kConfigFailed;
  }
  // The previous pair stays as it is until a complete new pair takes its place.
  size_t failed = 0;
  if (!files.Recover(&failed, true)) return LogDeleteFailed(failed == 0 ? 266 : 285, files.Final(failed));
  if (int result = WriteConfigFiles(files)) return result;
  if (!files.Commit(&failed)) return LogDeleteFailed(failed == 0 ? 266 : 285, files.Final(failed));
  return 0;
}

// A restore that was interrupted left a profile "Outlook" that is not the
// user's, imported in part or not tidied: it goes, to be restored again. A
// mark that names no such profile goes by itself.
bool ClearInterruptedRestore() {
  ConfigRestoreMark mark = ConfigRestoreMark::kNone;
  if (LSTATUS status = ReadConfigRestoreMark(&mark)) {
    LogMessageAt(LOG_ERROR, FACADE2_UNIT, __LINE__, TEXT("Could not read the restore mark, ERROR: %d"), status);
    return false;
  }
  if (mark == ConfigRestoreMark::kNone) return true;
  if (mark == ConfigRestoreMark::kStale) return ClearConfigRestoreMark() == ERROR_SUCCESS;
  LogMessageAt(LOG_INFO, FACADE2_UNIT, __LINE__, TEXT("Removing the profile of an interrupted restore: %s"),
               OUTLOOK_PROFILE_NAME);
  CMAPIProfile profile;
  if (!profile.DeleteProfile(OUTLOOK_PROFILE_NAME)) return false;
  // Only a profile that is gone is restored afresh.
  LSTATUS status = FindOutlookProfile();
  if (status == ERROR_FILE_NOT_FOUND) return true;
  LogMessageAt(LOG_ERROR, FACADE2_UNIT, __LINE__, TEXT("The profile of an interrupted restore stays: %s, ERROR: %d"),
               OUTLOOK_PROFILE_NAME, status);
  return false;
}

// The registry part of the restore: the profiles, then the account list.
// *imported tells whether the profiles' import ran.
int RestoreRegistry(LPCWSTR szPath, bool* imported) {
  WCHAR file[MAX_PATH] = {};
  if (!OpenConfigFile(szPath, {TEXT("<!---ROutlookConfig-->"), 305, 317}, file)) return kConfigFailed;
  // Both files are there, and of one save, before anything is imported.
  WCHAR hiveFile[MAX_PATH] = {};
  CReplacementFiles files;
  size_t failed = 0;
  if (!ReplaceFileName(file, kHiveFileName, hiveFile) || !files.Add(file) || !files.Add(hiveFile)) {
    LogMessageAt(LOG_ERROR, FACADE2_UNIT, 322, TEXT("The file is not exist: %s"), file);
    return kConfigFailed;
  }
  // A save running beside it keeps its temporaries.
  if (!files.Recover(&failed, false)) {
    LogMessageAt(LOG_ERROR, FACADE2_UNIT, __LINE__, TEXT("Could not complete the saved pair:%s,Error:%d"),
                 files.Final(failed), GetLastError());
    return kConfigFailed;
  }
  for (LPCWSTR needed : {static_cast<LPCWSTR>(file), static_cast<LPCWSTR>(hiveFile)}) {
    if (!PathFileExistsW(needed)) {
      LogMessageAt(LOG_ERROR, FACADE2_UNIT, 322, TEXT("The file is not exist: %s"), needed);
      return kConfigFailed;
    }
  }
  CPrivilegeScope privilege;
  if (!privilege.Enable(TEXT("SeRestorePrivilege"))) return kConfigFailed;
  if (!ClearInterruptedRestore()) return kConfigFailed;
  if (int result = ImportProfiles(file, imported)) return result;
  return RestoreOutlook10Accounts(hiveFile);
}

// "Outlook Files\Outlook.pst" in the user's documents, or "Outlook.pst" in the
// application-data folder when that folder cannot be made there.
void DefaultPSTFile(WCHAR (&pst)[MAX_PATH]) {
  WCHAR folder[MAX_PATH] = {};
  if (SHGetSpecialFolderPathW(nullptr, folder, CSIDL_PERSONAL, FALSE) && PathAppendW(folder, kDefaultPSTFolder)) {
    int created = SHCreateDirectoryExW(nullptr, folder, nullptr);
    if ((created == ERROR_SUCCESS || created == ERROR_ALREADY_EXISTS) && PathCombineW(pst, folder, kDefaultPSTName))
      return;
  }
  pst[0] = 0;
  if (!SHGetSpecialFolderPathW(nullptr, folder, CSIDL_APPDATA, FALSE) || !PathCombineW(pst, folder, kDefaultPSTName))
    pst[0] = 0;
}

int SetOulookDefaultFile(LPCWSTR szPath, bool madeByThisRestore) {
  LogMessageAt(LOG_INFO, FACADE2_UNIT, 392, TEXT("<!---SetOulookDefaultFile--->"));
  LogMessageAt(LOG_INFO, FACADE2_UNIT, 393, TEXT("szPath is: %s"), szPath);
  if (!HasFileType(szPath, TEXT("pst"))) {
    LogMessageAt(LOG_ERROR, FACADE2_UNIT, 398, TEXT("file type is invalid: %s"), szPath);
    return kConfigFailed;
  }
  if (!HasExistingFolder(szPath)) {
    LogMessageAt(LOG_ERROR, FACADE2_UNIT, 403, TEXT("A invalid path: %s"), szPath);
    return kConfigFailed;
  }
  CMAPIProfile profile;
  return profile.SetDefaultPSTFile(szPath, madeByThisRestore);
}

int DeleteMinorFile() {
  LogMessageAt(LOG_INFO, FACADE2_UNIT, 354, TEXT("<!--DeleteMinorFile-->"));
  CMAPIProfile profile;
  return profile.DeleteMinorPSTFiles();
}

// The restored profile tidied: no IMAP store, no account but POP3, and the
// default store at a fresh file of this user's. The default-store steps decide
// the result; after them, a tidy step that failed makes it kConfigNotTidied.
int TidyRestoredProfile() {
  bool tidied = true;
  if (int result = DeleteIMAPServices()) {
    LogMessageAt(LOG_ERROR, FACADE2_UNIT, __LINE__, TEXT("The IMAP stores could not be removed, error:%d"), result);
    tidied = false;
  }
  if (int result = DeleteNonPOP3Accounts()) {
    LogMessageAt(LOG_ERROR, FACADE2_UNIT, __LINE__, TEXT("The accounts that are not POP3 could not be removed, error:%d"),
                 result);
    tidied = false;
  }
  WCHAR pst[MAX_PATH] = {};
  DefaultPSTFile(pst);
  // A file this restore makes is its own: done again after an interruption,
  // the restore sets it up as it would have the first time.
  bool ownFile = pst[0] && IsConfigRestoreFile(pst);
  if (!ownFile && pst[0] && !PathFileExistsW(pst)) ownFile = MarkConfigRestoreFile(pst) == ERROR_SUCCESS;
  int result = Guarded([&] { return SetOulookDefaultFile(pst, ownFile); });
  if (result == 0) result = DeleteMinorFile();
  return result == 0 && !tidied ? kConfigNotTidied : result;
}

}  // namespace

extern "C" {

int BOutlookConfig(LPCWSTR szPath) {
  return Guarded([&] { return BackupConfiguration(szPath); });
}

int ROutlookConfig(LPCWSTR szPath) {
  bool faulted = false, imported = false;
  int result = Guarded([&] { return RestoreRegistry(szPath, &imported); }, &faulted);
  if (faulted) LogMessageAt(LOG_ERROR, FACADE2_UNIT, 373, TEXT("occured a crash in ROutlookConfig"));
  // Nothing is tidied when nothing was restored, or a profile was there already.
  if (result == 0) result = Guarded([] { return TidyRestoredProfile(); });
  if (result == CONFIG_PROFILE_EXISTS) return 0;
  // Only a restore that went through loses its mark. One that failed after
  // its import notes how it left the profile: the next restore starts over
  // unless the user has changed it since.
  if (result == 0) {
    if (LSTATUS status = ClearConfigRestoreMark()) result = static_cast<int>(status);
  } else if (imported && NoteConfigRestoreLeft() != ERROR_SUCCESS) {
    LogMessageAt(LOG_ERROR, FACADE2_UNIT, __LINE__, TEXT("Could not note the profile the restore left"));
  }
  return result;
}

}  // extern "C"
