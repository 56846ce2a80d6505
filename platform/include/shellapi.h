// Shell execution: starts a program as CreateProcessW does.
#pragma once

#include "winbase.h"

// Results of 32 or less are errors (SE_ERR_*); larger ones mean the program started.
#define SE_ERR_FNF 2
#define SE_ERR_PNF 3
#define SE_ERR_ACCESSDENIED 5
#define SE_ERR_OOM 8
#define SE_ERR_SHARE 26
#define SE_ERR_ASSOCINCOMPLETE 27
#define SE_ERR_NOASSOC 31
#define SE_ERR_DLLNOTFOUND 32
#ifndef ERROR_NO_ASSOCIATION
#define ERROR_NO_ASSOCIATION 1155L
#endif
#define SEE_MASK_DEFAULT 0x00000000
#define SEE_MASK_NOCLOSEPROCESS 0x00000040
#define SEE_MASK_NOASYNC 0x00000100
#define SEE_MASK_FLAG_NO_UI 0x00000400

typedef struct _SHELLEXECUTEINFOW {
  DWORD cbSize;
  ULONG fMask;
  HWND hwnd;
  LPCWSTR lpVerb;
  LPCWSTR lpFile;
  LPCWSTR lpParameters;
  LPCWSTR lpDirectory;
  int nShow;
  HINSTANCE hInstApp;
  void* lpIDList;
  LPCWSTR lpClass;
  HKEY hkeyClass;
  DWORD dwHotKey;
  HANDLE hIcon;
  HANDLE hProcess;
} SHELLEXECUTEINFOW, *LPSHELLEXECUTEINFOW;

// Verbs "open" (or null) start the file as a program with the parameters; the
// child's command line is the program's full path in quotes, a space and the
// parameters. The file is searched for as CreateProcessW searches. The machine
// has no file associations: a file that is not a program, a folder and any
// other verb give SE_ERR_NOASSOC; a ".exe" that is not a program gives
// ERROR_BAD_FORMAT. Success is a value above 32.
WINBASEAPI HINSTANCE WINAPI ShellExecuteW(HWND hwnd, LPCWSTR verb, LPCWSTR file, LPCWSTR parameters,
                                          LPCWSTR directory, INT show);
// With SEE_MASK_NOCLOSEPROCESS, hProcess receives a handle to the started
// process: the way to wait for it.
WINBASEAPI BOOL WINAPI ShellExecuteExW(SHELLEXECUTEINFOW* info);

namespace standin {
// The stand-in's own administration, for tests: a new handle to the process that
// the last successful ShellExecuteW of this process started (null when none),
// since ShellExecuteW itself returns no handle. Close it with CloseHandle.
STANDIN_API HANDLE LastShellExecuteProcess();
}  // namespace standin
