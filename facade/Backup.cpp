// Backup: copies the selected folders of a source store into a destination
// store, creating the destination when needed and copying only what it lacks.
#include <memory>
#include <vector>

#include "facade/Boundary.h"
#include "MAPIPack/MAPIFolder.h"
#include "MAPIPack/MAPIHelpers.h"
#include "MAPIPack/MAPIProfile.h"
#include "MAPIPack/MAPIProgress.h"
#include "MAPIPack/MAPIStore.h"
#include "MAPIPack/MAPIWrapper.h"
#include "facade/Operations.h"
#include "facade/OutlookFacade.h"
#include "support/AutoMutex.h"
#include "support/Log.h"
#include "support/OutlookTrivial.h"

namespace {

const WCHAR kUnit[] = TEXT(".\\facade\\OutlookFacade");

// Another reference to a folder that is already held.
IMAPIFolder* Share(IMAPIFolder* folder) {
  if (folder) folder->AddRef();
  return folder;
}

bool MatchesByKind(const OLCATALOGDATA& selected, const OLCATALOGDATA& listed) {
  LONG kind = selected.nType;
  if (kind >= OLFOLDER_INBOX && kind <= OLFOLDER_DELETED) return listed.nType == kind;
  if (kind >= OLFOLDER_CALENDAR && kind <= OLFOLDER_CONFIG)
    return listed.nType == kind && lstrcmpiW(listed.szName, selected.szName) == 0;
  return wcscmp(listed.szName, selected.szName) == 0;
}

const OLCATALOGDATA* FindMatch(const OLCATALOGDATA& selected, const OLCATALOGDATA* listed, ULONG count) {
  for (ULONG i = 0; i < count; ++i)
    if (MatchesByKind(selected, listed[i])) return &listed[i];
  return nullptr;
}

// The validation's error record as one line of text.
void LogValidationError(HRESULT hr, const MAPIERROR& error) {
  WCHAR description[LOG_LINE_CHARS];
  _snwprintf_s(description, LOG_LINE_CHARS, _TRUNCATE,
               TEXT("ulVersion = 0x%4x,lpszError = %s,lpszComponent = %s, ulLowLevelError = 0x%4x, ulContext = 0x%4x"),
               error.ulVersion, error.lpszError ? error.lpszError : TEXT(""),
               error.lpszComponent ? error.lpszComponent : TEXT(""), error.ulLowLevelError, error.ulContext);
  LogMessage(LOG_ERROR, TEXT("HrValidateIPMSubtree failed, Error:%ld, Description:%s"), hr, description);
}

}  // namespace

int COutlookFacade::BackupMessage(LPCWSTR source, CString& destination, OLCATALOGDATA* records, ULONG count,
                                  int mode) {
  return RunWithoutThrowing(0, [&] {
    WCHAR szSource[MAX_PATH] = {};
    // A path that does not fit is refused whole rather than cut to another one.
    bool sourceFits = source && wcscpy_s(szSource, source) == 0;
    LogOperationParameters(TEXT("<---Backup message parameter.--->"), count, source, destination, records);
    LogSessionBanner();
    if (!sourceFits || !IsExistingFile(szSource)) return 0;
    if (count && !records) return 0;
    if (!NormalizeBackupDestination(destination)) return 0;
    TerminateNames(records, count);

    int result = COPY_SUCCEEDED;
    {
      AutoMutex mutex;
      if (mutex.Acquire() != 0) return 0;

      CMAPIProfile profile;
      CString sourceProfile, sourceStoreName, destProfile, destStoreName;
      if (!profile.FindProfileOfPSTFile(szSource, sourceProfile, sourceStoreName)) return 0;
      if (IsExistingFile(destination) && !profile.FindProfileOfPSTFile(destination, destProfile, destStoreName))
        return 0;
      LogMessage(LOG_INFO, TEXT("source pro: %s, dest pro: %s: default:%s"), sourceProfile.GetString(),
                 destProfile.GetString(), m_szProfileName);

      CTempProfile tempProfile(profile, m_szProfileName);
      if (sourceProfile.IsEmpty() || destProfile.IsEmpty()) {
        if (!tempProfile.Make(false)) return 0;
      }
      // The destination goes first: attaching a path that names no file makes the store.
      if (!tempProfile.AttachUnheld(destination, destination, destProfile, destStoreName)) return 0;
      if (!tempProfile.AttachUnheld(szSource, szSource, sourceProfile, sourceStoreName)) return 0;

      result = BackupMessageImp(records, count, sourceProfile, destProfile, sourceStoreName, destStoreName, mode);
      tempProfile.Remove();
      if (result != COPY_SUCCEEDED) LogMessage(LOG_ERROR, TEXT("occured a error:%d"), result);
    }
    // Set once the mutex is released, so that nothing after it overwrites the code.
    SetLastError(static_cast<DWORD>(result));
    return result == COPY_SUCCEEDED ? 1 : 0;
  });
}

int COutlookFacade::BackupMessageImp(OLCATALOGDATA* records, ULONG count, const CString& sourceProfile,
                                     const CString& destProfile, const CString& sourceStoreName,
                                     const CString& destStoreName, int mode) {
  // Declared so that the stores go before the sessions, the source side first.
  CMAPIWrapper destSession;
  CMAPIWrapper sourceSession;
  CMapiPtr<IMsgStore> destinationStorePtr;
  CMapiPtr<IMsgStore> sourceStorePtr;

  if (!destSession.Logon(destProfile, mode)) return COPY_SETUP_FAILED;
  destinationStorePtr.p = destSession.OpenStoreByName(destStoreName);
  if (!sourceSession.Logon(sourceProfile, mode)) return COPY_SETUP_FAILED;
  sourceStorePtr.p = sourceSession.OpenStoreByName(sourceStoreName);
  if (!destinationStorePtr || !sourceStorePtr || !m_progressPtr) return COPY_SETUP_FAILED;

  // The destination gets the standard folders; a tree that cannot be completed
  // is still used when it has the mail folders.
  CHResultChain chain(kUnit);
  bool validationFailed = false;
  ULONG lowLevelError = 0;
  chain.Step(TEXT("HrValidateIPMSubtree(destinationStorePtr, MAPI_FULL_IPM_TREE | MAPI_FORCE_CREATE, 0, 0, &lpErr)"),
             __LINE__, [&] {
               CMapiBuffer<MAPIERROR> errorPtr;
               HRESULT hr = HrValidateIPMSubtree(destinationStorePtr, MAPI_FULL_IPM_TREE | MAPI_FORCE_CREATE, nullptr,
                                                 nullptr, &errorPtr);
               if (FAILED(hr) && errorPtr) {
                 LogValidationError(hr, *errorPtr);
                 validationFailed = true;
                 lowLevelError = errorPtr->ulLowLevelError;
               }
               return hr;
             });
  chain.Step(TEXT("destinationStorePtr->SaveChanges(FORCE_SAVE)"), __LINE__,
             [&] { return destinationStorePtr->SaveChanges(FORCE_SAVE); });

  CMAPIStore sourceStore(sourceStorePtr);
  CMAPIStore destStore(destinationStorePtr);
  CMapiPtr<IMAPIFolder> sourceSubtree(sourceStore.OpenIPMSubtree());
  CMapiPtr<IMAPIFolder> destSubtree(destStore.OpenIPMSubtree());
  if (!sourceSubtree || !destSubtree) return COPY_SETUP_FAILED;

  CMAPIFolder sourceTop(sourceSubtree);
  CMAPIFolder destTop(destSubtree);
  ULONG sourceCount = 0, destCount = 0;
  std::unique_ptr<OLCATALOGDATA[]> sourceFolders, destFolders;
  bool listedSource = ListSubFolders(sourceTop, sourceFolders, &sourceCount);
  bool listedDest = ListSubFolders(destTop, destFolders, &destCount);
  if (!listedSource || !listedDest) return COPY_SETUP_FAILED;

  sourceStore.ClassifyFolders(sourceFolders.get(), sourceCount);
  destStore.ClassifyFolders(destFolders.get(), destCount);
  CMAPIStore::ApplyFolderClasses(records, count);

  if (validationFailed) {
    bool hasMailFolders = false;
    for (ULONG i = 0; i < destCount; ++i)
      if (destFolders[i].nType >= OLFOLDER_INBOX && destFolders[i].nType <= OLFOLDER_DELETED) hasMailFolders = true;
    // Nothing can be copied into such a tree. A record without a low-level
    // error still fails the backup, with the validation's own code.
    if (!hasMailFolders) {
      if (lowLevelError) return static_cast<int>(lowLevelError);
      int code = HResultCode(chain.Result());
      return code ? code : COPY_SETUP_FAILED;
    }
  }

  std::vector<std::unique_ptr<CFolderPair>> pairs;
  for (ULONG i = 0; i < count; ++i) {
    const OLCATALOGDATA& selected = records[i];
    LogMessage(LOG_INFO, TEXT("folder name: %s"), selected.szName);
    auto pair = std::make_unique<CFolderPair>();
    if (selected.nType == OLFOLDER_ROOT) {
      pair->source.p = Share(sourceSubtree);
      pair->destination.p = Share(destSubtree);
      pair->type = OLFOLDER_ROOT;
      pairs.push_back(std::move(pair));
      continue;
    }
    const OLCATALOGDATA* sourceMatch = FindMatch(selected, sourceFolders.get(), sourceCount);
    const OLCATALOGDATA* destMatch = FindMatch(selected, destFolders.get(), destCount);
    if (!sourceMatch) continue;
    pair->source.p = sourceStore.OpenCatalogFolder(*sourceMatch);
    if (!pair->source) continue;
    if (!destMatch) {
      LogMessage(LOG_INFO, TEXT("Destination create folder for the %s"), selected.szName);
      pair->destination.p = destTop.CreateSubFolder(selected);
    } else {
      if (selected.nType >= OLFOLDER_CALENDAR && selected.nType <= OLFOLDER_CONFIG)
        LogMessage(LOG_INFO, TEXT("folder name: %s,and Destination folder name: %s"), selected.szName,
                   destMatch->szName);
      LogMessage(LOG_INFO, TEXT("Destination open folder for the %s"), destMatch->szName);
      pair->destination.p = destStore.OpenCatalogFolder(*destMatch);
    }
    if (!pair->destination) continue;
    pair->type = sourceMatch->nType;
    pairs.push_back(std::move(pair));
  }

  ULONG total = 0;
  for (const auto& pair : pairs) {
    CMAPIFolder folder(pair->source);
    total += pair->type == OLFOLDER_ROOT ? folder.GetContentCount() : folder.GetTotalContentCount(sourceStorePtr);
  }
  ULONG minimum = 0, flags = MAPI_TOP_LEVEL;
  CheckHResult(m_progressPtr->SetLimits(&minimum, &total, &flags), TEXT("m_progressPtr->SetLimits(&ulMin, &ulMax, &ulFlags)"),
               kUnit, __LINE__);

  int result = COPY_SUCCEEDED;
  for (const auto& pair : pairs) {
    if (IsProgressCancelled(m_progressPtr) || result == COPY_FAILED) break;
    CMAPIFolder folder(pair->source, pair->type);
    // The store's top folder brings only its own messages.
    int outcome = folder.ProcessFolder(sourceStorePtr, destinationStorePtr, pair->destination,
                                       pair->type == OLFOLDER_ROOT ? 0 : 1, m_progressPtr);
    if (outcome != COPY_SUCCEEDED) result = outcome;
  }

  CheckHResult(destinationStorePtr->SaveChanges(FORCE_SAVE), TEXT("destinationStorePtr->SaveChanges(FORCE_SAVE)"),
               kUnit, __LINE__);
  return result;
}
