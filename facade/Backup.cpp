// Backup: copies the selected folders of a source store into a destination
// store, creating the destination when needed and copying only what it lacks.
#include <utility>
#include <vector>

#include "MAPIPack/MAPIFolder.h"
#include "MAPIPack/MAPIHelpers.h"
#include "MAPIPack/MAPIProfile.h"
#include "MAPIPack/MAPIProgress.h"
#include "MAPIPack/MAPIStore.h"
#include "MAPIPack/MAPIWrapper.h"
#include "facade/Boundary.h"
#include "facade/Operations.h"
#include "facade/OutlookFacade.h"
#include "support/AutoMutex.h"
#include "support/Log.h"
#include "support/OutlookTrivial.h"

namespace {

const WCHAR kUnit[] = TEXT(".\\facade\\OutlookFacade");

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

// What a failed validation's error record said.
struct CValidationRecord {
  bool failed = false;  // negative, with a record
  ULONG lowLevelError = 0;
};

// Completes the standard folder tree of a store; a failure that comes with an
// error record is logged with it, before the chain logs the call.
HRESULT ValidateTree(IMsgStore* store, CValidationRecord& validation) {
  CMapiBuffer<MAPIERROR> errorPtr;
  HRESULT hr = HrValidateIPMSubtree(store, MAPI_FULL_IPM_TREE | MAPI_FORCE_CREATE, nullptr, nullptr, errorPtr.Put());
  if (FAILED(hr) && errorPtr) {
    LogValidationError(hr, *errorPtr.Get());
    validation.failed = true;
    validation.lowLevelError = errorPtr->ulLowLevelError;
  }
  return hr;
}

// The copy between the two stores (BackupMessageImp): 0, or a copy result code.
// *copying tells whether it came as far as copying folders.
int CopyIntoDestination(IMAPIProgress* progress, OLCATALOGDATA* records, ULONG count, const CString& sourceProfile,
                        const CString& destProfile, const CString& sourceStoreName, const CString& destStoreName,
                        MapiMode mode,
                        bool* copying = nullptr) {
  COpenedStores stores;
  if (!stores.Open(sourceProfile, sourceStoreName, destProfile, destStoreName, mode) || (kHasProgress && !progress))
    return COPY_SETUP_FAILED;
  IMsgStore* destinationStorePtr = stores.destStore.Get();
  IMsgStore* sourceStorePtr = stores.sourceStore.Get();

  // The destination gets the standard folders; a tree that cannot be completed
  // is still used when it has the mail folders.
  CHResultChain chain(kUnit);
  CValidationRecord validation;
  CHAIN_STEP(chain, "HrValidateIPMSubtree(destinationStorePtr, MAPI_FULL_IPM_TREE | MAPI_FORCE_CREATE, 0, 0, &lpErr)",
             ValidateTree(destinationStorePtr, validation));
  CHAIN_STEP(chain, "destinationStorePtr->SaveChanges(FORCE_SAVE)", destinationStorePtr->SaveChanges(FORCE_SAVE));

  if (!stores.ListTopFolders()) return COPY_SETUP_FAILED;
  CMAPIStore sourceStore(sourceStorePtr);
  CMAPIStore destStore(destinationStorePtr);
  sourceStore.ClassifyFolders(stores.sourceFolders.get(), stores.sourceCount);
  destStore.ClassifyFolders(stores.destFolders.get(), stores.destCount);
  CMAPIStore::ApplyFolderClasses(records, count);

  if (validation.failed) {
    bool hasMailFolders = false;
    for (ULONG i = 0; i < stores.destCount; ++i)
      if (stores.destFolders[i].nType >= OLFOLDER_INBOX && stores.destFolders[i].nType <= OLFOLDER_DELETED)
        hasMailFolders = true;
    // Nothing can be copied into such a tree. A record without a low-level
    // error still fails the backup, with the validation's own code.
    if (!hasMailFolders) {
      if (validation.lowLevelError) return static_cast<int>(validation.lowLevelError);
      int code = HResultCode(chain.Result());
      return code ? code : COPY_SETUP_FAILED;
    }
  }

  CMAPIFolder destTop(stores.destSubtree.Get());
  std::vector<CFolderPair> pairs;
  for (ULONG i = 0; i < count; ++i) {
    const OLCATALOGDATA& selected = records[i];
    LogMessage(LOG_INFO, TEXT("folder name: %s"), selected.szName);
    CFolderPair pair;
    if (selected.nType == OLFOLDER_ROOT) {
      pair.source = ShareInterface(stores.sourceSubtree.Get());
      pair.destination = ShareInterface(stores.destSubtree.Get());
      pair.type = OLFOLDER_ROOT;
      pairs.push_back(std::move(pair));
      continue;
    }
    const OLCATALOGDATA* sourceMatch = FindMatch(selected, stores.sourceFolders.get(), stores.sourceCount);
    const OLCATALOGDATA* destMatch = FindMatch(selected, stores.destFolders.get(), stores.destCount);
    if (!sourceMatch) continue;
    pair.source.Attach(sourceStore.OpenCatalogFolder(*sourceMatch));
    if (!pair.source) continue;
    if (!destMatch) {
      LogMessage(LOG_INFO, TEXT("Destination create folder for the %s"), selected.szName);
      pair.destination.Attach(destTop.CreateSubFolder(selected));
    } else {
      if (selected.nType >= OLFOLDER_CALENDAR && selected.nType <= OLFOLDER_CONFIG)
        LogMessage(LOG_INFO, TEXT("folder name: %s,and Destination folder name: %s"), selected.szName,
                   destMatch->szName);
      LogMessage(LOG_INFO, TEXT("Destination open folder for the %s"), destMatch->szName);
      pair.destination.Attach(destStore.OpenCatalogFolder(*destMatch));
    }
    if (!pair.destination) continue;
    pair.type = sourceMatch->nType;
    pairs.push_back(std::move(pair));
  }

  ULONG total = 0;
  for (const CFolderPair& pair : pairs) {
    CMAPIFolder folder(pair.source.Get());
    total += pair.type == OLFOLDER_ROOT ? folder.GetContentCount() : folder.GetTotalContentCount(sourceStorePtr);
  }
  ULONG minimum = 0, flags = MAPI_TOP_LEVEL;
  if (progress)
    CheckHResult(progress->SetLimits(&minimum, &total, &flags),
                 TEXT("m_progressPtr->SetLimits(&ulMin, &ulMax, &ulFlags)"), kUnit, __LINE__);

  int result = COPY_SUCCEEDED;
  if (copying) *copying = true;
  for (const CFolderPair& pair : pairs) {
    if (IsProgressCancelled(progress) || (kStopsAtFailedCopy && result == COPY_FAILED)) break;
    CMAPIFolder folder(pair.source.Get(), pair.type);
    // The store's top folder brings only its own messages.
    int outcome = folder.ProcessFolder(sourceStorePtr, destinationStorePtr, pair.destination.Get(),
                                       pair.type == OLFOLDER_ROOT ? 0 : 1, progress);
    if (outcome != COPY_SUCCEEDED) result = outcome;
  }

  CheckHResult(destinationStorePtr->SaveChanges(FORCE_SAVE), TEXT("destinationStorePtr->SaveChanges(FORCE_SAVE)"),
               kUnit, __LINE__);
  return result;
}

// BackupMessage: settles the destination, finds or attaches both stores and
// runs the copy; 1 when it succeeded, else 0.
int RunBackup(LPCWSTR tempProfile, IMAPIProgress* progress, LPCWSTR source, CString& destination,
              OLCATALOGDATA* records, ULONG count, MapiMode mode) {
  return RunWithoutThrowing(0, [&] {
    CLastErrorKeeper lastError;
    WCHAR szSource[MAX_PATH] = {};
    // A path that does not fit is refused whole rather than cut to another one.
    bool sourceFits = source && wcscpy_s(szSource, source) == 0;
    LogOperationParameters(TEXT("<---Backup message parameter.--->"), count, source, destination, records);
    LogSessionBanner();
    if (!sourceFits || !IsExistingFile(szSource)) return 0;
    if (count && !records) return 0;
    if (!NormalizeBackupDestination(destination)) return 0;
    TerminateNames(records, count);

    // A store this run makes is removed again when nothing was copied into it
    // (the source could not be opened, say): a failed backup leaves no file.
    const bool made = !IsExistingFile(destination);
    bool attached = false, copying = false;
    int result = COPY_SUCCEEDED;
    {
      CCopyRun run(tempProfile);
      if (!run.Begin(szSource, destination)) return 0;
      LogMessage(LOG_INFO, TEXT("source pro: %s, dest pro: %s: default:%s"), run.holders.sourceProfile.GetString(),
                 run.holders.destProfile.GetString(), tempProfile);
      // Stores attached to the temporary profile are named by their paths; the
      // compact build attaches and names them as synchronise does.
      attached = kBackupAttachesAsSync
                     ? run.AttachUnheld(true, szSource, kSourceStoreName, destination, kDestinationStoreName)
                     : run.AttachUnheld(false, szSource, szSource, destination, destination);
      if (attached) {
        result = CopyIntoDestination(progress, records, count, run.holders.sourceProfile, run.holders.destProfile,
                                     run.holders.sourceStoreName, run.holders.destStoreName, mode, &copying);
        run.End(result);
      }
    }
    if (made && !copying && IsExistingFile(destination) && !DeleteFileW(destination))
      LogMessage(LOG_ERROR, TEXT("Could not delete the unused store: %s, error:%d"), destination.GetString(),
                 static_cast<int>(GetLastError()));
    if (!attached) return 0;
    return lastError.HandBack(result);
  });
}

}  // namespace

#if defined(CORVANE_COMPACT)
// ---- The compact build: no logon-mode argument, always the normal logon. ----
int COutlookFacade::BackupMessage(LPCWSTR source, CString& destination, OLCATALOGDATA* records, ULONG count) {
  return RunBackup(m_szProfileName, m_progressPtr.Get(), source, destination, records, count, MAPI_MODE_NORMAL);
}

int COutlookFacade::BackupMessageImp(OLCATALOGDATA* records, ULONG count, const CString& sourceProfile,
                                     const CString& destProfile, const CString& sourceStoreName,
                                     const CString& destStoreName) {
  return RunWithoutThrowing(ImpAnswer(COPY_SETUP_FAILED), [&] {
    return ImpAnswer(CopyIntoDestination(m_progressPtr.Get(), records, count, sourceProfile, destProfile,
                                         sourceStoreName, destStoreName, MAPI_MODE_NORMAL));
  });
}
#else
int COutlookFacade::BackupMessage(LPCWSTR source, CString& destination, OLCATALOGDATA* records, ULONG count, int mode) {
  return RunBackup(m_szProfileName, m_progressPtr.Get(), source, destination, records, count, mode);
}

int COutlookFacade::BackupMessageImp(OLCATALOGDATA* records, ULONG count, const CString& sourceProfile,
                                     const CString& destProfile, const CString& sourceStoreName,
                                     const CString& destStoreName, int mode) {
  return RunWithoutThrowing(ImpAnswer(COPY_SETUP_FAILED), [&] {
    return ImpAnswer(CopyIntoDestination(m_progressPtr.Get(), records, count, sourceProfile, destProfile,
                                         sourceStoreName, destStoreName, mode));
  });
}
#endif  // CORVANE_COMPACT
