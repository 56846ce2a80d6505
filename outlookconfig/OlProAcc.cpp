#include "outlookconfig/OlProAcc.h"

#include <shellapi.h>
#include <shlobj.h>
#include <wcrt.h>
#include <winreg.h>
#include <winuser.h>

#include "outlookconfig/AccountKeys.h"
#include "outlookconfig/ConfigFiles.h"
#include "owners/ScopedOwner.h"
#include "support/Log.h"
#include "support/softwareversion.h"

#define OLPROACC_UNIT TEXT(".\\outlookconfig\\OlProAcc")

namespace {

const WCHAR kRegistryEditor[] = TEXT("regedit.exe");
// Where a configuration restore in progress is marked.
const WCHAR kRestoreMarkKey[] = TEXT("Software\\Corvane");
const WCHAR kRestoreMarkValue[] = TEXT("Configuration restore");
const WCHAR kRestoreFileValue[] = TEXT("Configuration restore file");
// However large the registry, the editor is done well within this; a backup
// must not be reported before its file is complete.
constexpr DWORD kEditorWaitMs = 120000;
// Longest command line the editor is given.
constexpr size_t kParameterChars = 2 * MAX_PATH + 32;

// The Windows folder, where the editor lives and runs; empty when unknown.
void WindowsFolder(WCHAR (&folder)[MAX_PATH]) {
  if (!SHGetSpecialFolderPathW(nullptr, folder, CSIDL_WINDOWS, FALSE)) folder[0] = 0;
}

// Whether the profile "Outlook" is in the registry: 0, or the error of opening it.
LSTATUS OpenOutlookProfile() {
  CScopedRegKey key;
  return RegOpenKeyExW(HKEY_CURRENT_USER, OUTLOOK_PROFILE_KEY, 0, KEY_QUERY_VALUE, key.Put());
}

// A key below HKEY_LOCAL_MACHINE; a failure is logged.
LSTATUS OpenMachineKey(LPCWSTR path, REGSAM access, CScopedRegKey& key) {
  LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, access, key.Put());
  if (status != ERROR_SUCCESS)
    LogMessageAt(LOG_ERROR, OLPROACC_UNIT, __LINE__, TEXT("Could not open the key: %s, ERROR: %d"), path, status);
  return status;
}

// A value of the restore's mark: a file name.
LSTATUS SetMarkValue(LPCWSTR name, LPCWSTR file) {
  CScopedRegKey key;
  LSTATUS status = RegCreateKeyExW(HKEY_CURRENT_USER, kRestoreMarkKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                   key.Put(), nullptr);
  if (status == ERROR_SUCCESS)
    status = RegSetValueExW(key.Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(file),
                            static_cast<DWORD>((wcslen(file) + 1) * sizeof(WCHAR)));
  if (status != ERROR_SUCCESS)
    LogMessageAt(LOG_ERROR, OLPROACC_UNIT, __LINE__, TEXT("Could not mark the restore, ERROR: %d"), status);
  return status;
}

// The mark holds the profiles file being restored.
LSTATUS MarkConfigRestore(LPCWSTR file) { return SetMarkValue(kRestoreMarkValue, file); }

int ExportFailed(int error) {
  LogMessageAt(LOG_ERROR, OLPROACC_UNIT, __LINE__, TEXT("Export regisry failed. error:%d"), error);
  return error;
}

}  // namespace

int ExportProfiles(LPCWSTR file) {
  if (LSTATUS status = OpenOutlookProfile()) return status;
  WCHAR key[MAX_PATH] = {};
  _snwprintf_s(key, _TRUNCATE, TEXT("HKEY_CURRENT_USER\\%s"), PROFILES_KEY);
  return ExportRegistryKey(key, file);
}

int ExportRegistryKey(LPCWSTR key, LPCWSTR file) {
  if (!key || !file) return ExportFailed(ERROR_INVALID_PARAMETER);
  WCHAR parameters[kParameterChars] = {};
  if (_snwprintf_s(parameters, _TRUNCATE, TEXT(" /e \"%s\" \"%s\""), file, key) < 0)
    return ExportFailed(ERROR_FILENAME_EXCED_RANGE);
  WCHAR folder[MAX_PATH] = {};
  WindowsFolder(folder);

  // The extended form hands back the editor's process, to wait for.
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
  info.lpVerb = TEXT("open");
  info.lpFile = kRegistryEditor;
  info.lpParameters = parameters;
  info.lpDirectory = folder[0] ? folder : nullptr;
  info.nShow = SW_HIDE;
  BOOL started = ShellExecuteExW(&info);
  CScopedHandle process(info.hProcess);
  INT_PTR startResult = reinterpret_cast<INT_PTR>(info.hInstApp);
  if (!started || startResult <= 32) {
    // A start error of 0 (out of resources) must not read as success.
    int error = startResult > 0 && startResult <= 32 ? static_cast<int>(startResult) : SE_ERR_OOM;
    return ExportFailed(error);
  }
  if (process) {
    DWORD wait = WaitForSingleObject(process.Get(), kEditorWaitMs);
    if (wait != WAIT_OBJECT_0) {
      // What it writes after this is not wanted; an editor that has just
      // ended needs no ending.
      if (!TerminateProcess(process.Get(), 1) && WaitForSingleObject(process.Get(), 0) != WAIT_OBJECT_0)
        LogMessageAt(LOG_ERROR, OLPROACC_UNIT, __LINE__, TEXT("Could not end the registry editor. error:%d"),
                     GetLastError());
      return ExportFailed(WAIT_TIMEOUT);
    }
    DWORD exitCode = 0;
    if (!GetExitCodeProcess(process.Get(), &exitCode)) return ExportFailed(static_cast<int>(GetLastError()));
    if (exitCode != 0) return ExportFailed(static_cast<int>(exitCode));
  }
  if (!IsNonEmptyFile(file)) return ExportFailed(ERROR_FILE_NOT_FOUND);
  return 0;
}

int ImportProfiles(LPCWSTR file) {
  if (OpenOutlookProfile() == ERROR_SUCCESS) {
    LogMessageAt(LOG_INFO, OLPROACC_UNIT, __LINE__, TEXT("Outlook configuration is already exist"));
    return CONFIG_PROFILE_EXISTS;
  }
  if (!file) return ERROR_INVALID_PARAMETER;
  if (LSTATUS status = MarkConfigRestore(file)) return status;
  if (int result = ImportRegistryFile(file)) return result;
  // The editor's own word is not taken: what it imported must hold the
  // profile, or the file was no saved configuration.
  if (LSTATUS status = OpenOutlookProfile()) {
    LogMessageAt(LOG_ERROR, OLPROACC_UNIT, __LINE__,
                 TEXT("The profile Outlook is not in the imported configuration: %s, ERROR: %d"), file ? file : TEXT(""),
                 status);
    return ERROR_INVALID_DATA;
  }
  return 0;
}

bool IsConfigRestoreMarked() {
  CScopedRegKey key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kRestoreMarkKey, 0, KEY_QUERY_VALUE, key.Put()) != ERROR_SUCCESS) return false;
  return RegQueryValueExW(key.Get(), kRestoreMarkValue, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

void ClearConfigRestoreMark() {
  CScopedRegKey key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kRestoreMarkKey, 0, KEY_SET_VALUE, key.Put()) != ERROR_SUCCESS) return;
  for (LPCWSTR name : {kRestoreFileValue, kRestoreMarkValue}) {
    LSTATUS status = RegDeleteValueW(key.Get(), name);
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
      LogMessageAt(LOG_ERROR, OLPROACC_UNIT, __LINE__, TEXT("Could not clear the restore mark, ERROR: %d"), status);
  }
}

LSTATUS MarkConfigRestoreFile(LPCWSTR file) { return SetMarkValue(kRestoreFileValue, file); }

bool IsConfigRestoreFile(LPCWSTR file) {
  CScopedRegKey key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kRestoreMarkKey, 0, KEY_QUERY_VALUE, key.Put()) != ERROR_SUCCESS) return false;
  WCHAR marked[MAX_PATH] = {};
  DWORD type = 0, size = sizeof(marked) - sizeof(WCHAR);
  if (RegQueryValueExW(key.Get(), kRestoreFileValue, nullptr, &type, reinterpret_cast<BYTE*>(marked), &size) !=
          ERROR_SUCCESS ||
      type != REG_SZ)
    return false;
  return lstrcmpiW(marked, file) == 0;
}

int ImportRegistryFile(LPCWSTR file) {
  WCHAR program[MAX_PATH] = {};
  WindowsFolder(program);
  size_t length = wcslen(program);
  if (length > 0 && program[length - 1] != TEXT('\\')) wcscat_s(program, TEXT("\\"));
  WCHAR commandLine[kParameterChars] = {};
  if (!file || wcscat_s(program, kRegistryEditor) != 0 ||
      _snwprintf_s(commandLine, _TRUNCATE, TEXT(" /s \"%s\""), file) < 0) {
    LogMessageAt(LOG_ERROR, OLPROACC_UNIT, __LINE__, TEXT("Create processs failed. error:%d"),
                 ERROR_FILENAME_EXCED_RANGE);
    return ERROR_FILENAME_EXCED_RANGE;
  }

  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessW(program, commandLine, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
    DWORD error = GetLastError();
    LogMessageAt(LOG_ERROR, OLPROACC_UNIT, __LINE__, TEXT("Create processs failed. error:%d"), error);
    return static_cast<int>(error);
  }
  CScopedHandle process(pi.hProcess), thread(pi.hThread);
  DWORD wait = WaitForSingleObject(process.Get(), kEditorWaitMs);
  if (wait != WAIT_OBJECT_0) {
    DWORD error = GetLastError();
    LogMessageAt(LOG_ERROR, OLPROACC_UNIT, __LINE__, TEXT("Wait for single object for process failed. error:%d"),
                 error);
    // A time-out sets no error, and must not read as success.
    return static_cast<int>(error ? error : WAIT_TIMEOUT);
  }
  DWORD exitCode = 0;
  if (!GetExitCodeProcess(process.Get(), &exitCode)) return static_cast<int>(GetLastError());
  if (exitCode != 0) {
    LogMessageAt(LOG_ERROR, OLPROACC_UNIT, __LINE__, TEXT("The registry editor failed. exit code:%d"), exitCode);
    return static_cast<int>(exitCode);
  }
  return 0;
}

void GetOutlook10AccountsKey(WCHAR (&path)[MAX_PATH]) {
  if (IsRunningUnderWow64()) {
    LogMessageAt(LOG_INFO, OLPROACC_UNIT, __LINE__, TEXT("Run under 64bi os."));
    wcscpy_s(path, TEXT("Software\\Wow6432node\\"));
  } else {
    wcscpy_s(path, TEXT("Software\\"));
  }
  wcscat_s(path, TEXT("Microsoft\\Office\\Outlook\\Outlook 10 Accounts"));
}

int SaveOutlook10Accounts(LPCWSTR file) {
  WCHAR path[MAX_PATH] = {};
  GetOutlook10AccountsKey(path);
  return SaveKeyToFile(path, file);
}

int SaveKeyToFile(LPCWSTR path, LPCWSTR file) {
  CScopedRegKey key;
  LSTATUS status = OpenMachineKey(path, KEY_ALL_ACCESS, key);
  if (status != ERROR_SUCCESS) return status;
  status = RegSaveKeyExW(key.Get(), file, nullptr, REG_LATEST_FORMAT);
  key.Reset();
  if (status != ERROR_SUCCESS)
    LogMessageAt(LOG_ERROR, OLPROACC_UNIT, __LINE__, TEXT("Could not save the key: %s, ERROR: %d"), path, status);
  else
    LogMessageAt(LOG_INFO, OLPROACC_UNIT, __LINE__, TEXT("save The Path is: %s"), path);
  return 0;
}

int RestoreOutlook10Accounts(LPCWSTR file) {
  ClearDeliveryEntryIDs();
  WCHAR path[MAX_PATH] = {};
  GetOutlook10AccountsKey(path);
  CScopedRegKey key;
  LSTATUS status = RegCreateKeyW(HKEY_LOCAL_MACHINE, path, key.Put());
  if (status != ERROR_SUCCESS) {
    LogMessageAt(LOG_ERROR, OLPROACC_UNIT, __LINE__, TEXT("RegCreateKey failed, Error:%d"), status);
    return status;
  }
  key.Reset();
  return RestoreKeyFromFile(path, file);
}

int RestoreKeyFromFile(LPCWSTR path, LPCWSTR file) {
  CScopedRegKey key;
  LSTATUS status = OpenMachineKey(path, KEY_QUERY_VALUE, key);
  if (status != ERROR_SUCCESS) return status;
  status = RegRestoreKeyW(key.Get(), file, REG_FORCE_RESTORE);
  key.Reset();
  if (status != ERROR_SUCCESS) {
    LogMessageAt(LOG_ERROR, OLPROACC_UNIT, __LINE__, TEXT("Could not Load the key: %s, ERROR: %d"), path, status);
    return status;
  }
  LogMessageAt(LOG_INFO, OLPROACC_UNIT, __LINE__, TEXT("restore The Path is: %s"), path);
  return 0;
}
