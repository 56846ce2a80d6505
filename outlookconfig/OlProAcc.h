// The mail client's configuration in the registry, to and from files: the
// user's MAPI profiles as a registry script written and read by the system's
// registry editor, and the machine's account-list key as a hive file.
//
// Results: 0 for success, else a Win32 error, the editor's start error or
// CONFIG_PROFILE_EXISTS, as each operation says.
#pragma once

#include <windows.h>

// ImportProfiles: a profile "Outlook" exists already and was left alone.
#define CONFIG_PROFILE_EXISTS (-100)

// Exports the whole profiles key into file: 0; the error of opening the
// profile "Outlook" (nothing is exported without it); or the editor's failure.
int ExportProfiles(LPCWSTR file);
// Imports file unless a profile "Outlook" exists (CONFIG_PROFILE_EXISTS): 0, the
// error of marking the restore or of running the editor, or ERROR_INVALID_DATA
// when the file holds no profile "Outlook" (nothing is imported). The restore
// is marked (*ran tells it was) and the profile key made with the mark's token
// before the editor imports into it.
int ImportProfiles(LPCWSTR file, bool* ran);
// 0 when the profile "Outlook" is in the registry, else the error of opening it
// (ERROR_FILE_NOT_FOUND: there is none).
LSTATUS FindOutlookProfile();

// A configuration restore is marked in the user's registry from before its
// import until it has gone through. The mark holds a token that the profile it
// imports carries too and, when the restore ended in a failure after the
// import, a fingerprint of the profile as it was left. A profile "Outlook" is
// what an interrupted restore left only while it carries the token and, if a
// fingerprint was noted, is unchanged since: one the user made or used since
// is the user's.
enum class ConfigRestoreMark {
  kNone,         // no restore is marked
  kInterrupted,  // the profile "Outlook" is the one the marked restore left
  kStale,        // the mark names no profile that is there as it was left
};
// What the mark says: 0, or the error of reading the registry.
LSTATUS ReadConfigRestoreMark(ConfigRestoreMark* state);
// Notes the profile as a failed restore leaves it: 0 or the error.
LSTATUS NoteConfigRestoreLeft();
// Takes the token out of the profile and clears the mark: 0 or the error.
LSTATUS ClearConfigRestoreMark();
// The default store file that the marked restore is about to make; a
// restore done again knows it for its own.
LSTATUS MarkConfigRestoreFile(LPCWSTR file);
bool IsConfigRestoreFile(LPCWSTR file);

// Runs the registry editor to export key ("HKEY_CURRENT_USER\...") into file
// and waits for it: 0 when it ended well and the file holds the export; the
// start error (at most 32); ERROR_INVALID_HANDLE when the start gave no process
// to wait for; the editor's exit code; WAIT_TIMEOUT (the editor is ended); or
// ERROR_FILE_NOT_FOUND when it wrote nothing.
int ExportRegistryKey(LPCWSTR key, LPCWSTR file);
// Runs the registry editor to import file silently and waits for it: 0, the
// error of starting or waiting for it (an editor past its time is ended), or
// the editor's exit code when it did not end well (an editor that died left
// part of the file imported).
int ImportRegistryFile(LPCWSTR file);

// The account-list key to and from a hive file.
int SaveOutlook10Accounts(LPCWSTR file);
int RestoreOutlook10Accounts(LPCWSTR file);
// A key below HKEY_LOCAL_MACHINE saved to a hive file: 0, or the error of
// opening it (a failed save is logged and still answers 0).
int SaveKeyToFile(LPCWSTR path, LPCWSTR file);
// A key below HKEY_LOCAL_MACHINE replaced by a hive file: 0, or the error of
// opening it or of the restore.
int RestoreKeyFromFile(LPCWSTR path, LPCWSTR file);
// The account-list key's path below HKEY_LOCAL_MACHINE, in the branch of a
// 32-bit process on 64-bit Windows when this is one.
void GetOutlook10AccountsKey(WCHAR (&path)[MAX_PATH]);
