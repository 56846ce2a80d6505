#include "outlookconfig/OlProAcc.h"

#include <shellapi.h>
#include <shlobj.h>
#include <wcrt.h>
#include <winreg.h>
#include <winuser.h>

#include <initializer_list>
#include <vector>

#include "outlookconfig/AccountKeys.h"
#include "outlookconfig/ConfigFiles.h"
#include "owners/ScopedOwner.h"
#include "support/Log.h"
#include "support/softwareversion.h"

#define OLPROACC_UNIT TEXT(".\\outlookconfig\\OlProAcc")

namespace {

const WCHAR kRegistryEditor[] = TEXT("regedit.exe");
// Where a configuration restore in progress is marked, and the value of the
// profile it imports that ties the profile to the mark.
const WCHAR kRestoreMarkKey[] = TEXT("Software\\Corvane");
const WCHAR kRestoreMarkValue[] = TEXT("Configuration restore");
const WCHAR kRestoreFileValue[] = TEXT("Configuration restore file");
const WCHAR kRestoreTokenValue[] = TEXT("Configuration restore token");
const WCHAR kRestoreLeftValue[] = TEXT("Configuration restore left");
const WCHAR kProfileTokenValue[] = TEXT("Corvane restore token");
// Deepest key below the profile that its fingerprint follows.
constexpr int kFingerprintDepth = 16;
// However large the registry, the editor is done well within this; a backup
// must not be reported before its file is complete.
constexpr DWORD kEditorWaitMs = 120000;
// Largest registry script read for the profile's key.
constexpr LONGLONG kScriptBytes = 256LL << 20;
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

// Writes a text value of the restore's mark into key: 0, or the error, logged.
LSTATUS SetMarkText(HKEY key, LPCWSTR name, LPCWSTR text) {
  LSTATUS status = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                                  static_cast<DWORD>((wcslen(text) + 1) * sizeof(WCHAR)));
  if (status != ERROR_SUCCESS)
    LogMessageAt(LOG_ERROR, OLPROACC_UNIT, __LINE__, TEXT("Could not mark the restore, ERROR: %d"), status);
  return status;
}

// A text value of the restore's mark.
LSTATUS SetMarkValue(LPCWSTR name, LPCWSTR text) {
  CScopedRegKey key;
  LSTATUS status = RegCreateKeyExW(HKEY_CURRENT_USER, kRestoreMarkKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                   key.Put(), nullptr);
  if (status != ERROR_SUCCESS) {
    LogMessageAt(LOG_ERROR, OLPROACC_UNIT, __LINE__, TEXT("Could not mark the restore, ERROR: %d"), status);
    return status;
  }
  return SetMarkText(key.Get(), name, text);
}

// A text value of up to MAX_PATH - 1 characters: 0, ERROR_FILE_NOT_FOUND when
// the key or the value is missing, or the error.
LSTATUS ReadText(HKEY root, LPCWSTR path, LPCWSTR name, WCHAR (&text)[MAX_PATH]) {
  CScopedRegKey key;
  LSTATUS status = RegOpenKeyExW(root, path, 0, KEY_QUERY_VALUE, key.Put());
  if (status != ERROR_SUCCESS) return status;
  DWORD type = 0, size = sizeof(text) - sizeof(WCHAR);
  text[0] = 0;
  status = RegQueryValueExW(key.Get(), name, nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
  if (status == ERROR_SUCCESS && type != REG_SZ) return ERROR_INVALID_DATA;
  if (status == ERROR_SUCCESS) text[size / sizeof(WCHAR)] = 0;
  return status;
}

// Deletes values of a key; a value or key that is not there is no error. 0,
// or the first error, logged.
LSTATUS DeleteMarkValues(HKEY root, LPCWSTR path, std::initializer_list<LPCWSTR> names) {
  CScopedRegKey key;
  LSTATUS status = RegOpenKeyExW(root, path, 0, KEY_SET_VALUE, key.Put());
  for (LPCWSTR name : names) {
    if (status != ERROR_SUCCESS) break;
    status = RegDeleteValueW(key.Get(), name);
    if (status == ERROR_FILE_NOT_FOUND) status = ERROR_SUCCESS;
  }
  if (status == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
  if (status != ERROR_SUCCESS)
    LogMessageAt(LOG_ERROR, OLPROACC_UNIT, __LINE__, TEXT("Could not clear the restore mark, ERROR: %d"), status);
  return status;
}

// A token no other restore has: the time and the process.
void NewToken(WCHAR (&token)[MAX_PATH]) {
  FILETIME now = {};
  GetSystemTimeAsFileTime(&now);
  _snwprintf_s(token, _TRUNCATE, TEXT("%08X%08X-%X"), now.dwHighDateTime, now.dwLowDateTime, GetCurrentProcessId());
}

// Adds the bytes to a 64-bit FNV-1a hash.
void Mix(ULONGLONG& hash, const void* bytes, size_t size) {
  for (size_t i = 0; i < size; ++i) {
    hash ^= static_cast<const BYTE*>(bytes)[i];
    hash *= 0x100000001B3ULL;
  }
}

// Hashes every value and subkey below key, in the registry's order.
LSTATUS Fingerprint(HKEY key, int depth, ULONGLONG& hash) {
  if (depth > kFingerprintDepth) return ERROR_INVALID_DATA;
  std::vector<BYTE> data(4096);
  WCHAR name[256];
  for (DWORD i = 0;; ++i) {
    DWORD chars = ARRAYSIZE(name), type = 0, size = static_cast<DWORD>(data.size());
    LSTATUS status = RegEnumValueW(key, i, name, &chars, nullptr, &type, data.data(), &size);
    if (status == ERROR_MORE_DATA && size > data.size()) {
      data.resize(size);
      --i;
      continue;
    }
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status != ERROR_SUCCESS) return status;
    Mix(hash, name, chars * sizeof(WCHAR));
    Mix(hash, &type, sizeof(type));
    Mix(hash, data.data(), size);
  }
  for (DWORD i = 0;; ++i) {
    DWORD chars = ARRAYSIZE(name);
    LSTATUS status = RegEnumKeyExW(key, i, name, &chars, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
    if (status != ERROR_SUCCESS) return status;
    Mix(hash, TEXT("\\"), sizeof(WCHAR));
    Mix(hash, name, chars * sizeof(WCHAR));
    CScopedRegKey sub;
    status = RegOpenKeyExW(key, name, 0, KEY_READ, sub.Put());
    if (status == ERROR_SUCCESS) status = Fingerprint(sub.Get(), depth + 1, hash);
    if (status != ERROR_SUCCESS) return status;
  }
}

// The profile "Outlook" as text of its fingerprint: 0, or the error.
LSTATUS ProfileFingerprint(WCHAR (&text)[MAX_PATH]) {
  CScopedRegKey key;
  LSTATUS status = RegOpenKeyExW(HKEY_CURRENT_USER, OUTLOOK_PROFILE_KEY, 0, KEY_READ, key.Put());
  ULONGLONG hash = 0xCBF29CE484222325ULL;
  if (status == ERROR_SUCCESS) status = Fingerprint(key.Get(), 0, hash);
  if (status == ERROR_SUCCESS)
    _snwprintf_s(text, _TRUNCATE, TEXT("%08X%08X"), static_cast<DWORD>(hash >> 32), static_cast<DWORD>(hash));
  return status;
}

// Marks the restore of file, with a new token.
LSTATUS MarkConfigRestore(LPCWSTR file) {
  WCHAR token[MAX_PATH] = {};
  NewToken(token);
  // How an earlier run left its profile is not this run's to know (an empty
  // note says nothing); the file it made stays its own.
  if (LSTATUS status = SetMarkValue(kRestoreLeftValue, TEXT(""))) return status;
  if (LSTATUS status = SetMarkValue(kRestoreTokenValue, token)) return status;
  return SetMarkValue(kRestoreMarkValue, file);
}

// Whether the profile "Outlook" holds nothing but the mark's token.
bool HoldsOnlyTheToken() {
  CScopedRegKey key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, OUTLOOK_PROFILE_KEY, 0, KEY_READ, key.Put()) != ERROR_SUCCESS) return false;
  DWORD subkeys = 0, values = 0;
  return RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                          nullptr, nullptr) == ERROR_SUCCESS &&
         subkeys == 0 && values == 1;
}

// Whether the registry script holds the key of the profile "Outlook", as a
// saved configuration does (a Unicode script, or one of plain text).
bool NamesOutlookProfile(LPCWSTR file) {
  CScopedHandle handle(CreateFileW(file, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size = {};
  if (!handle || !GetFileSizeEx(handle.Get(), &size) || size.QuadPart <= 0 || size.QuadPart > kScriptBytes)
    return false;
  std::vector<BYTE> bytes(static_cast<size_t>(size.QuadPart));
  DWORD read = 0;
  if (!ReadFile(handle.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) ||
      read != bytes.size())
    return false;
  std::basic_string<WCHAR> text;
  if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) text += static_cast<WCHAR>(bytes[i] | (bytes[i + 1] << 8));
  } else {
    for (BYTE b : bytes) text += static_cast<WCHAR>(b);
  }
  const std::basic_string<WCHAR> header = std::basic_string<WCHAR>(TEXT("[HKEY_CURRENT_USER\\")) + OUTLOOK_PROFILE_KEY + TEXT("]");
  for (size_t at = text.find(TEXT('[')); at != std::basic_string<WCHAR>::npos; at = text.find(TEXT('['), at + 1))
    if (_wcsnicmp(text.c_str() + at, header.c_str(), header.size()) == 0) return true;
  return false;
}

// Makes the profile key with the mark's token, for the editor to import into:
// whatever it brings, whole or in part, carries the token. 0, or the error.
LSTATUS TieProfileToMark() {
  WCHAR token[MAX_PATH] = {};
  LSTATUS status = ReadText(HKEY_CURRENT_USER, kRestoreMarkKey, kRestoreTokenValue, token);
  CScopedRegKey profile;
  if (status == ERROR_SUCCESS)
    status = RegCreateKeyExW(HKEY_CURRENT_USER, OUTLOOK_PROFILE_KEY, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                             profile.Put(), nullptr);
  if (status == ERROR_SUCCESS) return SetMarkText(profile.Get(), kProfileTokenValue, token);
  LogMessageAt(LOG_ERROR, OLPROACC_UNIT, __LINE__, TEXT("Could not mark the restore, ERROR: %d"), status);
  return status;
}

// Ends an editor that outlived its wait: what it writes after this is not
// wanted. One that has just ended needs no ending.
void EndEditor(HANDLE process) {
  if (!TerminateProcess(process, 1) && WaitForSingleObject(process, 0) != WAIT_OBJECT_0)
    LogMessageAt(LOG_ERROR, OLPROACC_UNIT, __LINE__, TEXT("Could not end the registry editor. error:%d"),
                 GetLastError());
}

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
  // Without the editor's process there is no knowing when the file is whole.
  if (!process) return ExportFailed(ERROR_INVALID_HANDLE);
  if (WaitForSingleObject(process.Get(), kEditorWaitMs) != WAIT_OBJECT_0) {
    EndEditor(process.Get());
    return ExportFailed(WAIT_TIMEOUT);
  }
  DWORD exitCode = 0;
  if (!GetExitCodeProcess(process.Get(), &exitCode)) return ExportFailed(static_cast<int>(GetLastError()));
  if (exitCode != 0) return ExportFailed(static_cast<int>(exitCode));
  if (!IsNonEmptyFile(file)) return ExportFailed(ERROR_FILE_NOT_FOUND);
  return 0;
}

int ImportProfiles(LPCWSTR file, bool* ran) {
  if (OpenOutlookProfile() == ERROR_SUCCESS) {
    LogMessageAt(LOG_INFO, OLPROACC_UNIT, __LINE__, TEXT("Outlook configuration is already exist"));
    return CONFIG_PROFILE_EXISTS;
  }
  if (!file) return ERROR_INVALID_PARAMETER;
  // Nothing is imported from a file that is no saved configuration.
  if (!NamesOutlookProfile(file)) {
    LogMessageAt(LOG_ERROR, OLPROACC_UNIT, __LINE__,
                 TEXT("The profile Outlook is not in the imported configuration: %s, ERROR: %d"), file,
                 ERROR_FILE_NOT_FOUND);
    return ERROR_INVALID_DATA;
  }
  if (LSTATUS status = MarkConfigRestore(file)) return status;
  *ran = true;
  if (LSTATUS status = TieProfileToMark()) return status;
  int result = ImportRegistryFile(file);
  // An editor that brought nothing leaves no profile and no mark behind.
  if (result != 0 && HoldsOnlyTheToken()) {
    LSTATUS status = RegDeleteKeyW(HKEY_CURRENT_USER, OUTLOOK_PROFILE_KEY);
    if (status == ERROR_SUCCESS) status = ClearConfigRestoreMark();
    if (status != ERROR_SUCCESS)
      LogMessageAt(LOG_ERROR, OLPROACC_UNIT, __LINE__, TEXT("Could not remove the key made for the restore, ERROR: %d"),
                   status);
  }
  return result;
}

LSTATUS FindOutlookProfile() { return OpenOutlookProfile(); }

LSTATUS ReadConfigRestoreMark(ConfigRestoreMark* state) {
  *state = ConfigRestoreMark::kNone;
  WCHAR token[MAX_PATH] = {}, carried[MAX_PATH] = {}, left[MAX_PATH] = {};
  LSTATUS status = ReadText(HKEY_CURRENT_USER, kRestoreMarkKey, kRestoreMarkValue, token);
  if (status == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
  if (status != ERROR_SUCCESS) return status;
  *state = ConfigRestoreMark::kStale;
  // A mark without a token names no profile: none is taken for its own.
  status = ReadText(HKEY_CURRENT_USER, kRestoreMarkKey, kRestoreTokenValue, token);
  if (status == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
  if (status == ERROR_SUCCESS) status = ReadText(HKEY_CURRENT_USER, OUTLOOK_PROFILE_KEY, kProfileTokenValue, carried);
  if (status == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
  if (status != ERROR_SUCCESS) return status;
  if (lstrcmpW(token, carried) != 0) return ERROR_SUCCESS;
  // A restore that failed after its import noted how it left the profile;
  // changed since, it is the user's. A killed one noted nothing.
  status = ReadText(HKEY_CURRENT_USER, kRestoreMarkKey, kRestoreLeftValue, left);
  if (status == ERROR_FILE_NOT_FOUND || (status == ERROR_SUCCESS && !left[0])) {
    *state = ConfigRestoreMark::kInterrupted;
    return ERROR_SUCCESS;
  }
  WCHAR now[MAX_PATH] = {};
  if (status == ERROR_SUCCESS) status = ProfileFingerprint(now);
  if (status != ERROR_SUCCESS) return status;
  if (lstrcmpW(left, now) == 0) *state = ConfigRestoreMark::kInterrupted;
  return ERROR_SUCCESS;
}

LSTATUS NoteConfigRestoreLeft() {
  WCHAR now[MAX_PATH] = {};
  LSTATUS status = ProfileFingerprint(now);
  // No profile came: nothing to note.
  if (status == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
  if (status == ERROR_SUCCESS) status = SetMarkValue(kRestoreLeftValue, now);
  return status;
}

LSTATUS ClearConfigRestoreMark() {
  // The profile's token first: a mark left without it names no profile.
  if (LSTATUS status = DeleteMarkValues(HKEY_CURRENT_USER, OUTLOOK_PROFILE_KEY, {kProfileTokenValue})) return status;
  return DeleteMarkValues(HKEY_CURRENT_USER, kRestoreMarkKey,
                          {kRestoreLeftValue, kRestoreFileValue, kRestoreTokenValue, kRestoreMarkValue});
}

LSTATUS MarkConfigRestoreFile(LPCWSTR file) { return SetMarkValue(kRestoreFileValue, file); }

bool IsConfigRestoreFile(LPCWSTR file) {
  WCHAR marked[MAX_PATH] = {};
  return ReadText(HKEY_CURRENT_USER, kRestoreMarkKey, kRestoreFileValue, marked) == ERROR_SUCCESS && marked[0] &&
         lstrcmpiW(marked, file) == 0;
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
    EndEditor(process.Get());
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
