// Synchronise: makes the selected folders exist in two stores and copies the
// messages each side lacks, first into the destination, then back.
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

// Exact name, and exact class when the selection names one; kinds play no part.
const OLCATALOGDATA* FindByNameAndClass(const OLCATALOGDATA& selected, const OLCATALOGDATA* listed, ULONG count) {
  for (ULONG i = 0; i < count; ++i) {
    if (wcscmp(listed[i].szName, selected.szName) != 0) continue;
    if (selected.szClass[0] && wcscmp(listed[i].szClass, selected.szClass) != 0) continue;
    return &listed[i];
  }
  return nullptr;
}

bool FitsPath(LPCWSTR path) { return path && wcsnlen(path, MAX_PATH) < MAX_PATH; }

// Validates the standard folder tree of a store and saves it; both must
// answer exactly zero.
bool PrepareStore(IMsgStore* store, LPCWSTR validateText, LPCWSTR saveText, int line) {
  if (!CheckHResult(HrValidateIPMSubtree(store, MAPI_FULL_IPM_TREE | MAPI_FORCE_CREATE, nullptr, nullptr, nullptr),
                    validateText, kUnit, line))
    return false;
  return CheckHResult(store->SaveChanges(FORCE_SAVE), saveText, kUnit, line);
}

// The synchronisation of the two stores (SyncMessageImp): 0, or a copy result
// code.
int SynchroniseStores(IMAPIProgress* progress, OLCATALOGDATA* records, ULONG count, const CString& sourceProfile,
                      const CString& destProfile, const CString& sourceStoreName, const CString& destStoreName) {
  COpenedStores stores;
  if (!stores.Open(sourceProfile, sourceStoreName, destProfile, destStoreName, MAPI_MODE_NORMAL) ||
      (kHasProgress && !progress))
    return COPY_SETUP_FAILED;
  IMsgStore* destinationStorePtr = stores.destStore.Get();
  IMsgStore* sourceStorePtr = stores.sourceStore.Get();

  // Both files get the full standard folder tree.
  if (!PrepareStore(destinationStorePtr,
                    TEXT("HrValidateIPMSubtree(destinationStorePtr, MAPI_FULL_IPM_TREE | MAPI_FORCE_CREATE, 0, 0, 0)"),
                    TEXT("destinationStorePtr->SaveChanges(FORCE_SAVE)"), __LINE__) ||
      !PrepareStore(sourceStorePtr,
                    TEXT("HrValidateIPMSubtree(sourceStorePtr, MAPI_FULL_IPM_TREE | MAPI_FORCE_CREATE, 0, 0, 0)"),
                    TEXT("sourceStorePtr->SaveChanges(FORCE_SAVE)"), __LINE__))
    return COPY_SETUP_FAILED;
  if (!stores.ListTopFolders()) return COPY_SETUP_FAILED;

  int result = COPY_SUCCEEDED;
  CMAPIStore::ApplyFolderClasses(records, count);

  CMAPIStore sourceStore(sourceStorePtr);
  CMAPIStore destStore(destinationStorePtr);
  CMAPIFolder sourceTop(stores.sourceSubtree.Get());
  CMAPIFolder destTop(stores.destSubtree.Get());
  std::vector<CFolderPair> pairs;
  for (ULONG i = 0; i < count; ++i) {
    const OLCATALOGDATA& selected = records[i];
    const OLCATALOGDATA* sourceMatch = FindByNameAndClass(selected, stores.sourceFolders.get(), stores.sourceCount);
    const OLCATALOGDATA* destMatch = FindByNameAndClass(selected, stores.destFolders.get(), stores.destCount);
    if (!sourceMatch && !destMatch) continue;
    CFolderPair pair;
    pair.source.Attach(sourceMatch ? sourceStore.OpenCatalogFolder(*sourceMatch) : sourceTop.CreateSubFolder(selected));
    pair.destination.Attach(destMatch ? destStore.OpenCatalogFolder(*destMatch) : destTop.CreateSubFolder(selected));
    if (!pair.source || !pair.destination) {
      result = COPY_SETUP_FAILED;
      continue;
    }
    pair.type = selected.nType;
    pairs.push_back(std::move(pair));
  }

  ULONG total = 0;
  for (const CFolderPair& pair : pairs) {
    total += CMAPIFolder(pair.source.Get()).GetTotalContentCount(sourceStorePtr);
    total += CMAPIFolder(pair.destination.Get()).GetTotalContentCount(destinationStorePtr);
  }
  ULONG minimum = 0, flags = MAPI_TOP_LEVEL;
  if (progress)
    CheckHResult(progress->SetLimits(&minimum, &total, &flags),
                 TEXT("m_progressPtr->SetLimits(&ulMin, &ulMax, &ulFlags)"), kUnit, __LINE__);

  for (const CFolderPair& pair : pairs) {
    if (IsProgressCancelled(progress)) break;
    CMAPIFolder forward(pair.source.Get(), pair.type);
    int outcome =
        forward.ProcessFolder(sourceStorePtr, destinationStorePtr, pair.destination.Get(), 1, progress);
    if (outcome != COPY_SUCCEEDED) result = outcome;
    CMAPIFolder backward(pair.destination.Get(), pair.type);
    outcome = backward.ProcessFolder(destinationStorePtr, sourceStorePtr, pair.source.Get(), 1, progress);
    if (outcome != COPY_SUCCEEDED) result = outcome;
  }
  return result;
}

}  // namespace

int COutlookFacade::SyncMessage(LPCWSTR source, LPCWSTR destination, OLCATALOGDATA* records, ULONG count) {
  return RunWithoutThrowing(0, [&] {
    CLastErrorKeeper lastError;
    LogOperationParameters(TEXT("<---synchronize message parameter.--->"), count, source, destination, records);
    LogSessionBanner();
    if (!IsExistingFile(source) || !IsExistingFile(destination)) return 1;
    // Paths beyond the platform's limit, or a selection without records, are refused.
    if (!FitsPath(source) || !FitsPath(destination) || (count && !records)) return 0;
    TerminateNames(records, count);

    int result = COPY_SUCCEEDED;
    {
      CCopyRun run(m_szProfileName);
      if (!run.Begin(source, destination)) return 0;
      if (!run.AttachUnheld(true, source, kSourceStoreName, destination, kDestinationStoreName)) return 0;
      result = SynchroniseStores(m_progressPtr.Get(), records, count, run.holders.sourceProfile,
                                 run.holders.destProfile, run.holders.sourceStoreName, run.holders.destStoreName);
      run.End(result);
    }
    return lastError.HandBack(result);
  });
}

int COutlookFacade::SyncMessageImp(OLCATALOGDATA* records, ULONG count, const CString& sourceProfile,
                                   const CString& destProfile, const CString& sourceStoreName,
                                   const CString& destStoreName) {
  return RunWithoutThrowing(ImpAnswer(COPY_SETUP_FAILED), [&] {
    return ImpAnswer(SynchroniseStores(m_progressPtr.Get(), records, count, sourceProfile, destProfile,
                                       sourceStoreName, destStoreName));
  });
}
