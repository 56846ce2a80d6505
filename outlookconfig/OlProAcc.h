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
// when the profile is not there after the import. The restore is marked before
// the editor runs (see IsConfigRestoreMarked).
int ImportProfiles(LPCWSTR file);

// A configuration restore is marked in the user's registry from before its
// import until it has succeeded: a profile "Outlook" found with the mark is
// what an interrupted restore left, not a profile of the user's.
bool IsConfigRestoreMarked();
void ClearConfigRestoreMark();
// The default store file that the marked restore is about to make; a
// restore done again knows it for its own.
LSTATUS MarkConfigRestoreFile(LPCWSTR file);
bool IsConfigRestoreFile(LPCWSTR file);

// Runs the registry editor to export key ("HKEY_CURRENT_USER\...") into file
// and waits for it: 0 when it ended well and the file holds the export; the
// start error (at most 32); the editor's exit code; WAIT_TIMEOUT; or
// ERROR_FILE_NOT_FOUND when it wrote nothing.
int ExportRegistryKey(LPCWSTR key, LPCWSTR file);
// Runs the registry editor to import file silently and waits for it: 0, the
// error of starting or waiting for it, or the editor's exit code when it did
// not end well (an editor that died left part of the file imported).
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
