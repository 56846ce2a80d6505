// Merging a calendar folder: a source item whose creation time
// is already found among the destination's items is skipped when that copy is
// not older, and replaced when it is; any other item is copied.
//
// Matching: the item is the first destination row in table order with an
// equal creation time. It is found through a hashed index over the destination rows
// read at the start (CFirstRowIndex keeps the first row of each key).
//
// Replacement order: the replacement is created, copied and saved first, and the
// older destination item is deleted only after the new one has been saved. If
// the replacement fails, the older copy stays in place instead of being lost.
#include "MAPIPack/CalendarFolder.h"

#include <cstdint>

#include "MAPIPack/MAPIHelpers.h"
#include "MAPIPack/MAPIProgress.h"
#include "MAPIPack/RowIndex.h"

namespace {

constexpr LPCWSTR kUnit = TEXT(".\\MAPIPack\\CalendarFolder");

// Source positions of the log lines; the log vocabulary depends on them.
constexpr int kLineSourceTable = 100;
constexpr int kLineSourceRows = 106;
constexpr int kLineDestinTable = 109;
constexpr int kLineDestinRows = 115;
constexpr int kLineTablesFailed = 119;
constexpr int kLineOpenSource = 159;
constexpr int kLineDeleteOlder = 162;
constexpr int kLineCreate = 164;
constexpr int kLineCopy = 175;
constexpr int kLineSave = 176;
constexpr int kLineCopyFailed = 179;
constexpr int kLineCanceled = 186;

enum { ePR_LAST_MODIFICATION_TIME, ePR_CREATION_TIME, ePR_ENTRYID, eCONTENTCOLUMNS };

uint64_t TimeValue(const SPropValue& value) {
  return (static_cast<uint64_t>(value.Value.ft.dwHighDateTime) << 32) | value.Value.ft.dwLowDateTime;
}

std::u16string CalendarKey(const SRow& row) { return CRowKey().Time(row.lpProps[ePR_CREATION_TIME]).Key(); }

}  // namespace

int MergeCalendarFolder(IMAPIFolder* sourceFolder, IMAPIFolder* destinationFolder, IMAPIProgress* progress) {
  SizedSPropTagArray(eCONTENTCOLUMNS, CONTENTCOLUMNS) = {
      eCONTENTCOLUMNS, {PR_LAST_MODIFICATION_TIME, PR_CREATION_TIME, PR_ENTRYID}};
  // Filled in on every call.
  SizedSPropTagArray(3, EXCLUDEPROP) = {3, {PR_ENTRYID, PR_ACCESS, PR_ACCESS_LEVEL}};

  CHResultChain chain(kUnit);
  CMapiPtr<IMAPITable> tablePtr;
  CRowSetPtr sourceContentRows;
  CRowSetPtr destinContentRows;

  chain.Step(TEXT("sourceFolder->GetContentsTable(0, &tablePtr)"), kLineSourceTable,
             [&] { return sourceFolder->GetContentsTable(0, &tablePtr); });
  chain.Step(TEXT("HrQueryAllRows(tablePtr, (LPSPropTagArray)&CONTENTCOLUMNS, 0, 0, 0, &sourceContentRows)"),
             kLineSourceRows, [&] {
               return HrQueryAllRows(tablePtr, (LPSPropTagArray)&CONTENTCOLUMNS, 0, 0, 0, &sourceContentRows);
             });
  tablePtr.Release();
  chain.Step(TEXT("destinationFolder->GetContentsTable(0, &tablePtr)"), kLineDestinTable,
             [&] { return destinationFolder->GetContentsTable(0, &tablePtr); });
  chain.Step(TEXT("HrQueryAllRows(tablePtr, (LPSPropTagArray)&CONTENTCOLUMNS, 0, 0, 0, &destinContentRows)"),
             kLineDestinRows, [&] {
               return HrQueryAllRows(tablePtr, (LPSPropTagArray)&CONTENTCOLUMNS, 0, 0, 0, &destinContentRows);
             });
  tablePtr.Release();
  if (chain.Result() != S_OK) {
    LogMessageAt(LOG_ERROR, kUnit, kLineTablesFailed, TEXT("GetContentTable or HrQueryAllRows failed. error: %d"),
                 static_cast<int>(GetLastError()));
    return HResultCode(chain.Result());
  }

  // The destination as read at the start: new items are never matched.
  const CFirstRowIndex destinIndex(destinContentRows.p, CalendarKey);

  int result = COPY_SUCCEEDED;
  CMapiPtr<IMessage> sMsgPtr;
  CMapiPtr<IMessage> dMsgPtr;
  for (ULONG si = 0; si < sourceContentRows.Count(); ++si) {
    if (IsProgressCancelled(progress) || result == COPY_FAILED) break;

    const SRow& sourceRow = sourceContentRows->aRow[si];
    const ULONG di = destinIndex.Find(CalendarKey(sourceRow));
    const bool replace = di != CFirstRowIndex::npos;
    if (replace) {
      const SRow& destinRow = destinContentRows->aRow[di];
      // The destination copy is not older: nothing to do, no progress step.
      if (TimeValue(destinRow.lpProps[ePR_LAST_MODIFICATION_TIME]) >=
          TimeValue(sourceRow.lpProps[ePR_LAST_MODIFICATION_TIME]))
        continue;
    }

    sMsgPtr.Release();
    dMsgPtr.Release();

    ULONG dwObjType = 0;
    chain.Step(TEXT("sourceFolder->OpenEntry( sourceContentRows->aRow[si].lpProps[ePR_ENTRYID].Value.bin.cb, "
                    "(LPENTRYID)sourceContentRows->aRow[si].lpProps[ePR_ENTRYID].Value.bin.lpb, 0, MAPI_MODIFY | "
                    "MAPI_NO_CACHE, &dwObjType, (IUnknown**)&sMsgPtr)"),
               kLineOpenSource, [&] {
                 // An item without a usable identifier cannot be opened: a failed copy.
                 const SBinary* entryID = RowEntryID(sourceRow, ePR_ENTRYID);
                 if (!entryID) return static_cast<HRESULT>(MAPI_E_INVALID_ENTRYID);
                 return sourceFolder->OpenEntry(entryID->cb, (LPENTRYID)entryID->lpb, 0, MAPI_MODIFY | MAPI_NO_CACHE,
                                                &dwObjType, sMsgPtr.PutUnknown());
               });
    chain.Step(TEXT("destinationFolder->CreateMessage(0, 0, &dMsgPtr)"), kLineCreate,
               [&] { return destinationFolder->CreateMessage(0, 0, &dMsgPtr); });
    chain.Step(TEXT("sMsgPtr->CopyTo(0, 0, (LPSPropTagArray)&EXCLUDEPROP, 0, 0, (LPCIID)&IID_IMessage, dMsgPtr, 0, 0)"),
               kLineCopy, [&] {
                 // A warning from the open or the create may come without an
                 // object: that fails the step instead of crashing it.
                 if (!sMsgPtr || !dMsgPtr) return static_cast<HRESULT>(E_POINTER);
                 return sMsgPtr->CopyTo(0, 0, (LPSPropTagArray)&EXCLUDEPROP, 0, 0, (LPCIID)&IID_IMessage, dMsgPtr, 0,
                                        0);
               });
    chain.Step(TEXT("dMsgPtr->SaveChanges(FORCE_SAVE)"), kLineSave, [&] {
      return dMsgPtr ? dMsgPtr->SaveChanges(FORCE_SAVE) : static_cast<HRESULT>(E_POINTER);
    });
    if (replace) {
      // Only now that the replacement is saved does the older copy go; after a
      // failed step above this is skipped and the older copy stays.
      const SBinary* olderID = RowEntryID(destinContentRows->aRow[di], ePR_ENTRYID);
      SBinary older = olderID ? *olderID : SBinary{};
      ENTRYLIST elist = {1, &older};
      chain.Step(TEXT("destinationFolder->DeleteMessages(&elist, 0, 0 ,0)"), kLineDeleteOlder, [&] {
        // Without its identifier the older copy cannot go: both stay.
        if (!olderID) return static_cast<HRESULT>(MAPI_E_INVALID_ENTRYID);
        return destinationFolder->DeleteMessages(&elist, 0, 0, 0);
      });
    }
    if (chain.Failed()) {
      LogMessageAt(LOG_ERROR, kUnit, kLineCopyFailed, TEXT("Copy message failed.error:%d, HRESULT:0x%4x"),
                   static_cast<int>(GetLastError()), static_cast<unsigned>(chain.Result()));
      result = COPY_FAILED;
    }

    if (progress && FAILED(progress->Progress(1, 0, 0))) {
      LogMessageAt(LOG_INFO, kUnit, kLineCanceled, TEXT("User canceled."));
      result = COPY_CANCELLED;
    }
  }
  return result;
}
