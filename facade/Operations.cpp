// The parameter log, the file test and the destination naming that the
// listing, backup and synchronise operations share.
#include "facade/Operations.h"

#include <shlwapi.h>
#include <windows.h>

#include "MAPIPack/MAPIStore.h"
#include "support/Log.h"
#include "support/OutlookTrivial.h"

namespace {

// Parts of a split destination.
constexpr size_t kPartChars = 256;
// Numbers tried after a made-up name before the search for a free one gives up.
constexpr int kMaxNameNumber = 99999;

}  // namespace

void LogOperationParameters(LPCWSTR title, ULONG count, LPCWSTR source, LPCWSTR destination,
                            const OLCATALOGDATA* records) {
  LogMessage(LOG_INFO, title);
  LogMessage(LOG_INFO, TEXT("Source: %s, Destination: %s, And Count: %d"), source ? source : TEXT(""),
             destination ? destination : TEXT(""), count);
  if (!records) return;
  for (ULONG i = 0; i < count; ++i) {
    // The host's name field need not be terminated.
    WCHAR name[OLCATALOG_NAME_CHARS + 1] = {};
    wcsncpy_s(name, records[i].szName, OLCATALOG_NAME_CHARS);
    LogMessage(LOG_INFO, TEXT("\tindex:%d, name:%s, and type:%d"), i, name, records[i].nType);
  }
}

bool IsExistingFile(LPCWSTR path) {
  // A pattern would find some other file, and a device is none; it names none.
  if (!path || !*path || HasWildcard(path) || NamesDevice(path)) return false;
  WIN32_FIND_DATAW data;
  CScopedFind find(FindFirstFileW(path, &data));
  if (!find) return false;
  return (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool IsWholeString(const CString& text) { return wcslen(text) == static_cast<size_t>(text.GetLength()); }

int NormalizeBackupDestination(CString& destination) {
  // Only the text before a NUL would be used: another file than the one named.
  if (!IsWholeString(destination)) return 0;
  WCHAR modulePath[MAX_PATH] = {};
  DWORD length = GetModuleFileNameW(nullptr, modulePath, MAX_PATH);
  // A cut path would name another folder.
  if (length == 0 || length >= MAX_PATH) return 0;
  destination.Trim();

  bool madeUp = false;
  if (destination.IsEmpty()) {
    destination = modulePath;
    madeUp = true;
  }
  if (destination.GetLength() >= MAX_PATH || HasWildcard(destination) || NamesDevice(destination)) return 0;
  int used = destination.GetLength();
  if (used >= 4 && _wcsicmp(destination.GetString() + used - 4, TEXT(".pst")) == 0) return 1;

  WCHAR drive[kPartChars], dir[kPartChars], fname[kPartChars], ext[kPartChars];
  if (_wsplitpath_s(destination, drive, dir, fname, ext) != 0) return 0;
  WCHAR pattern[MAX_PATH];
  if (_wmakepath_s(pattern, drive, dir, TEXT("*"), TEXT("*")) != 0) return 0;
  WIN32_FIND_DATAW data;
  if (!CScopedFind(FindFirstFileW(pattern, &data))) return 0;

  WCHAR base[kPartChars];
  if (fname[0] == 0) {
    // A folder: the store is named after the host executable, extension and all.
    WCHAR unused[kPartChars], moduleName[kPartChars], moduleExt[kPartChars];
    if (_wsplitpath_s(modulePath, unused, unused, moduleName, moduleExt) != 0) return 0;
    if (_snwprintf_s(base, kPartChars, kPartChars - 1, TEXT("%s%s"), moduleName, moduleExt) < 0) return 0;
    madeUp = true;
  } else {
    wcscpy_s(base, fname);
  }

  WCHAR path[MAX_PATH];
  if (_wmakepath_s(path, drive, dir, base, TEXT("pst")) != 0) return 0;
  if (madeUp && PathFileExistsW(path)) {
    int number = 1;
    for (;; ++number) {
      if (number > kMaxNameNumber) return 0;
      WCHAR numbered[kPartChars];
      if (_snwprintf_s(numbered, kPartChars, kPartChars - 1, TEXT("%s%d"), base, number) < 0) return 0;
      if (_wmakepath_s(path, drive, dir, numbered, TEXT("pst")) != 0) return 0;
      if (!PathFileExistsW(path)) break;
    }
  }
  destination = path;
  return 1;
}

void CCopyRun::End(int result) {
  m_tempProfile.Remove();
  if (result != COPY_SUCCEEDED) LogMessage(LOG_ERROR, TEXT("occured a error:%d"), result);
}

int CLastErrorKeeper::HandBack(int result) {
  // The compact build answers only whether the copy succeeded.
  if constexpr (kHandsBackResultCode) {
    SetLastError(static_cast<DWORD>(result));
    m_handedBack = true;
  }
  return result == COPY_SUCCEEDED ? 1 : 0;
}

int ImpAnswer(int result) {
  if constexpr (kHandsBackResultCode)
    return result;
  else
    return result == COPY_SUCCEEDED ? 1 : 0;
}

void TerminateNames(OLCATALOGDATA* records, ULONG count) {
  for (ULONG i = 0; i < count; ++i) {
    records[i].szName[OLCATALOG_NAME_CHARS - 1] = 0;
    records[i].szClass[OLCATALOG_NAME_CHARS - 1] = 0;
  }
}

bool IsUsableWorkingProfile(LPCWSTR name, std::initializer_list<LPCWSTR> holders) {
  if (!name || !*name) {
    LogMessage(LOG_ERROR, TEXT("The working profile name is empty."));
    return false;
  }
  bool taken = lstrcmpiW(name, OUTLOOK_PROFILE_NAME) == 0;
  for (LPCWSTR holder : holders) taken = taken || (holder && lstrcmpiW(name, holder) == 0);
  if (taken) LogMessage(LOG_ERROR, TEXT("The working profile cannot be the profile %s"), name);
  return !taken;
}

bool CTempProfile::Make(bool deletionMustSucceed) {
  if (!deletionMustSucceed)
    m_admin.DeleteProfile(m_name);
  else if (m_admin.CountProfiles(m_name) > 0 && !m_admin.DeleteProfile(m_name))
    return false;
  m_made = m_admin.CreateProfile(m_name) != 0;
  return m_made;
}

void CTempProfile::Remove() {
  if (m_made) m_admin.DeleteProfile(m_name);
  m_made = false;
}

bool ListSubFolders(CMAPIFolder& folder, std::unique_ptr<OLCATALOGDATA[]>& records, ULONG* count) {
  OLCATALOGDATA* listed = nullptr;
  *count = 0;
  int ok = folder.GetCategory(count, &listed);
  records.reset(listed);
  if (!records) *count = 0;
  return ok != 0;
}

bool CTempProfile::AttachUnheldPair(bool deletionMustSucceed, LPCWSTR source, LPCWSTR sourceName, LPCWSTR destination,
                                    LPCWSTR destinationName, CStoreHolders& holders) {
  if (holders.sourceProfile.IsEmpty() || holders.destProfile.IsEmpty()) {
    if (!IsUsableWorkingProfile(m_name, {holders.sourceProfile, holders.destProfile}) || !Make(deletionMustSucceed))
      return false;
  }
  return AttachUnheld(destination, destinationName, holders.destProfile, holders.destStoreName) &&
         AttachUnheld(source, sourceName, holders.sourceProfile, holders.sourceStoreName);
}

bool CStoreHolders::Find(CMAPIProfile& profile, LPCWSTR tempProfileName, LPCWSTR source, LPCWSTR destination) {
  if (!profile.FindProfileOfPSTFile(source, sourceProfile, sourceStoreName, tempProfileName)) return false;
  return !IsExistingFile(destination) ||
         profile.FindProfileOfPSTFile(destination, destProfile, destStoreName, tempProfileName);
}

bool CTempProfile::AttachUnheld(LPCWSTR path, LPCWSTR displayName, CString& profile, CString& storeName) {
  if (!profile.IsEmpty()) return true;
  if (!m_admin.AttachPSTFileToProfile(path, m_name, displayName)) return false;
  profile = m_name;
  storeName = displayName;
  return true;
}

bool COpenedStores::Open(const CString& sourceProfile, const CString& sourceStoreName, const CString& destProfile,
                         const CString& destStoreName, MapiMode mode) {
  if (!destSession.Logon(destProfile, mode)) return false;
  destStore.Attach(destSession.OpenStoreByName(destStoreName));
  if (!sourceSession.Logon(sourceProfile, mode)) return false;
  sourceStore.Attach(sourceSession.OpenStoreByName(sourceStoreName));
  return destStore && sourceStore;
}

bool COpenedStores::ListTopFolders() {
  sourceSubtree.Attach(CMAPIStore(sourceStore.Get()).OpenIPMSubtree());
  destSubtree.Attach(CMAPIStore(destStore.Get()).OpenIPMSubtree());
  if (!sourceSubtree || !destSubtree) return false;
  CMAPIFolder sourceTop(sourceSubtree.Get());
  CMAPIFolder destTop(destSubtree.Get());
  bool listedSource = ListSubFolders(sourceTop, sourceFolders, &sourceCount);
  bool listedDest = ListSubFolders(destTop, destFolders, &destCount);
  return listedSource && listedDest;
}
