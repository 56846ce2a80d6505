// The flat exports, for hosts that cannot use the exported class. Each
// operation builds a facade of its own for the call.
#pragma once

#include <windows.h>

#include "OutlookFacade.h"

// Called once per store by GetOutlookPstW2CallBack; the strings live only
// during the call.
typedef int (*LPPSTENUMCALLBACK)(LPCWSTR pstPath, LPCWSTR displayName, void* context);

#define FLAT_STRING_CHARS 260

extern "C" {
CORVANE_FACADE_API int Init2();
CORVANE_FACADE_API void Term2();
CORVANE_FACADE_API int IsInstalledOutlook();

CORVANE_FACADE_API int GetOutlookPstW2(LPWSTR* pstPaths, LPWSTR* displayNames, ULONG* count);
CORVANE_FACADE_API int GetOutlookPstW2CallBack(LPPSTENUMCALLBACK callback, void* context);
CORVANE_FACADE_API void FreeArray2(LPWSTR* strings, ULONG count);
CORVANE_FACADE_API int SyncMessageW2(LPCWSTR profileName, LPCWSTR source, LPCWSTR destination, const LONG* types,
                                     LPCWSTR* names, ULONG count);
#if !defined(CORVANE_COMPACT)
// The full build only.
CORVANE_FACADE_API void SafeQuit();
CORVANE_FACADE_API int AttatchPSTFileW2(LPCWSTR szPath, LPCWSTR szDisplayName);
CORVANE_FACADE_API int BackupMessageW2();
CORVANE_FACADE_API int CollectMessageW2();

// The mail client's configuration saved into a folder ("olconfig.reg" and
// "oaconnect.reg") or to a named ".reg" file, and restored from there for a
// user without a profile "Outlook": 0 done, 1 bad input or a failed step, 100
// a fault inside, any other value the error code of the failed step.
CORVANE_FACADE_API int BOutlookConfig(LPCWSTR szPath);
CORVANE_FACADE_API int ROutlookConfig(LPCWSTR szPath);
#endif
}
