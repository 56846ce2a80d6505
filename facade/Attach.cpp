// Attaching a store file to the profile "Outlook" under a display name of the
// host's choice, replacing a service that already holds the same file.
#include <shlwapi.h>

#include "MAPIPack/MAPIHelpers.h"
#include "MAPIPack/MAPIProfile.h"
#include "facade/Boundary.h"
#include "facade/OutlookFacade.h"
#include "support/Log.h"
#include "support/OutlookTrivial.h"

// 0 when the file is attached, 1 when it is not.
int COutlookFacade::AttatchPSTFile(LPCWSTR szPath, LPCWSTR szDisplayName) {
  return RunWithoutThrowing(1, [&] {
    if (!szDisplayName) szDisplayName = TEXT("");
    LogMessage(LOG_INFO, TEXT("<---AttatchPSTFile--->"));
    LogMessage(LOG_INFO, TEXT("szPath: %s, and szDisplayName: %s"), szPath ? szPath : TEXT(""), szDisplayName);
    LogSessionBanner();
    // The profile keeps store paths in buffers of MAX_PATH characters: a longer
    // path could never be found there again, and would be attached twice. A
    // device or a folder is no store file.
    if (!szPath || wcsnlen(szPath, MAX_PATH) >= MAX_PATH || NamesDevice(szPath) || !PathFileExistsW(szPath) ||
        PathIsDirectoryW(szPath)) {
      LogMessage(LOG_ERROR, TEXT("Invalid path.%s"), szPath ? szPath : TEXT(""));
      return 1;
    }

    CMAPIProfile profile;
    LogMessage(LOG_INFO, TEXT(">>>>>>>>>>DeletePSTFileFromProfile"));
    if (!profile.DeletePSTFileFromProfile(szPath)) return 1;
    LogMessage(LOG_INFO, TEXT(">>>>>>>>>>AttachPSTFileToProfile"));
    if (!profile.AttachPSTFileToProfile(szPath, OUTLOOK_PROFILE_NAME, szDisplayName)) return 1;
    LogMessage(LOG_INFO, TEXT("<!---Quit AttatchPSTFile----->"));
    return 0;
  });
}
