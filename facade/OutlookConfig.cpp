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
  if (!files.ClearTemporary(1)) return LogDeleteFailed(285, files.Temporary(1));
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
  if (!files.ClearTemporary(0)) return LogDeleteFailed(266, files.Temporary(0));
  if (int result = WriteConfigFiles(files)) return result;
  size_t failed = 0;
  if (!files.Commit(&failed)) return LogDeleteFailed(failed == 0 ? 266 : 285, files.Final(failed));
  return 0;
}

// A restore that was interrupted left a profile "Outlook" that is not the
// user's, imported in part or not tidied: it goes, to be restored again.
bool RemoveInterruptedProfile() {
  CMAPIProfile profile;
  int existing = profile.CountProfiles(OUTLOOK_PROFILE_NAME);
  if (existing < 0) return false;
  if (existing == 0) return true;
  LogMessageAt(LOG_INFO, FACADE2_UNIT, __LINE__, TEXT("Removing the profile of an interrupted restore: %s"),
               OUTLOOK_PROFILE_NAME);
  return profile.DeleteProfile(OUTLOOK_PROFILE_NAME) != 0;
}

// The registry part of the restore: the profiles, then the account list.
int RestoreRegistry(LPCWSTR szPath) {
  WCHAR file[MAX_PATH] = {};
  if (!OpenConfigFile(szPath, {TEXT("<!---ROutlookConfig-->"), 305, 317}, file)) return kConfigFailed;
  if (!PathFileExistsW(file)) {
    LogMessageAt(LOG_ERROR, FACADE2_UNIT, 322, TEXT("The file is not exist: %s"), file);
    return kConfigFailed;
  }
  CPrivilegeScope privilege;
  if (!privilege.Enable(TEXT("SeRestorePrivilege"))) return kConfigFailed;
  if (IsConfigRestoreMarked() && !RemoveInterruptedProfile()) return kConfigFailed;
  if (int result = ImportProfiles(file)) return result;
  WCHAR hiveFile[MAX_PATH] = {};
  if (!ReplaceFileName(file, kHiveFileName, hiveFile)) return kConfigFailed;
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
// default store at a fresh file of this user's. Only the default-store steps
// decide the result.
int TidyRestoredProfile() {
  DeleteIMAPServices();
  DeleteNonPOP3Accounts();
  WCHAR pst[MAX_PATH] = {};
  DefaultPSTFile(pst);
  // A file this restore makes is its own: done again after an interruption,
  // the restore sets it up as it would have the first time.
  bool ownFile = pst[0] && IsConfigRestoreFile(pst);
  if (!ownFile && pst[0] && !PathFileExistsW(pst)) ownFile = MarkConfigRestoreFile(pst) == ERROR_SUCCESS;
  int result = Guarded([&] { return SetOulookDefaultFile(pst, ownFile); });
  if (result == 0) result = DeleteMinorFile();
  return result;
}

}  // namespace

extern "C" {

int BOutlookConfig(LPCWSTR szPath) {
  return Guarded([&] { return BackupConfiguration(szPath); });
}

int ROutlookConfig(LPCWSTR szPath) {
  bool faulted = false;
  int result = Guarded([&] { return RestoreRegistry(szPath); }, &faulted);
  if (faulted) LogMessageAt(LOG_ERROR, FACADE2_UNIT, 373, TEXT("occured a crash in ROutlookConfig"));
  // Nothing is tidied when nothing was restored, or a profile was there already.
  if (result == 0) result = Guarded([] { return TidyRestoredProfile(); });
  // Only a restore that went through loses its mark; after any other end the
  // next restore starts over.
  if (result == 0) ClearConfigRestoreMark();
  return result == CONFIG_PROFILE_EXISTS ? 0 : result;
}

}  // extern "C"
