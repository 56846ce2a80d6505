// Merging a contacts folder: a contact is recognised by its
// given name, surname and creation time. A contact already found among the
// destination's items is skipped (with a progress step) when that copy is not
// older, and replaced when it is; any other contact is copied.
//
// Matching: the item is the first destination row in table order for which
// CompareContactRows is non-zero. It is found through a hashed index over the destination rows read at the start
// (CFirstRowIndex keeps the first row of each key); the key (given name,
// surname, creation time) is equal exactly when CompareContactRows is non-zero,
// and the older/newer decision is then taken on the row found.
//
// Replacement order: the replacement is created, copied and saved first, and the older destination
// item is deleted only after the new one has been saved. If the replacement
// fails, the older copy stays in place instead of being lost.
#include "MAPIPack/ContactFolder.h"

#include <cstdint>

#include "MAPIPack/MAPIHelpers.h"
#include "MAPIPack/MAPIProgress.h"
#include "MAPIPack/RowIndex.h"
#include "support/PropTrival.h"

namespace {

constexpr LPCWSTR kUnit = TEXT(".\\MAPIPack\\ContactFolder");

// Source positions of the log lines; the log vocabulary depends on them.
constexpr int kLineSourceTable = 140;
constexpr int kLineDestinTable = 141;
constexpr int kLineSourceRows = 150;
constexpr int kLineDestinRows = 156;
constexpr int kLineTablesFailed = 159;
constexpr int kLineDeleteOlder = 186;
constexpr int kLineOpenSource = 198;
constexpr int kLineCreate = 199;
constexpr int kLineCopy = 209;
constexpr int kLineSave = 210;
constexpr int kLineCopyFailed = 215;
constexpr int kLineCanceled = 224;

enum {
  ePR_GIVEN_NAME,
  ePR_SURNAME,
  ePR_LAST_MODIFICATION_TIME,
  ePR_CREATION_TIME,
  ePR_MESSAGE_SIZE,
  ePR_ENTRYID,
  eCONTENTCOLUMNS
};

enum { eDifferent = 0, eSameNotOlder = 1, eSameOlder = 2 };

uint64_t TimeValue(const SPropValue& value) {
  return (static_cast<uint64_t>(value.Value.ft.dwHighDateTime) << 32) | value.Value.ft.dwLowDateTime;
}

// Two names read through GetValidString: both absent are equal, one absent is a
// difference, present names are compared code unit by code unit.
bool SameName(const SPropValue& a, const SPropValue& b) {
  LPCWSTR x = GetValidString(&a);
  LPCWSTR y = GetValidString(&b);
  if (!x || !y) return !x && !y;
  for (;; ++x, ++y) {
    if (*x != *y) return false;
    if (!*x) return true;
  }
}

bool SameTime(const SPropValue& a, const SPropValue& b) { return TimeValue(a) == TimeValue(b); }

// The older/newer decision for a destination row that names the source's item.
int Decide(const SRow& sourceRow, const SRow& destinRow) {
  return TimeValue(destinRow.lpProps[ePR_LAST_MODIFICATION_TIME]) <
                 TimeValue(sourceRow.lpProps[ePR_LAST_MODIFICATION_TIME])
             ? eSameOlder
             : eSameNotOlder;
}

std::u16string ContactKey(const SRow& row) {
  return CRowKey()
      .Text(row.lpProps[ePR_GIVEN_NAME])
      .Text(row.lpProps[ePR_SURNAME])
      .Time(row.lpProps[ePR_CREATION_TIME])
      .Key();
}

}  // namespace

int CompareContactRows(ULONG si, ULONG di, const SRowSet* sourceRows, const SRowSet* destinRows) {
  if (!sourceRows || !destinRows || si >= sourceRows->cRows || di >= destinRows->cRows) return eDifferent;
  const SRow& s = sourceRows->aRow[si];
  const SRow& d = destinRows->aRow[di];
  if (!SameName(s.lpProps[ePR_GIVEN_NAME], d.lpProps[ePR_GIVEN_NAME])) return eDifferent;
  if (!SameName(s.lpProps[ePR_SURNAME], d.lpProps[ePR_SURNAME])) return eDifferent;
  if (!SameTime(s.lpProps[ePR_CREATION_TIME], d.lpProps[ePR_CREATION_TIME])) return eDifferent;
  return Decide(s, d);
}

int MergeContactFolder(IMAPIFolder* sourceFolder, IMAPIFolder* destinationFolder, IMAPIProgress* progress) {
  SizedSPropTagArray(eCONTENTCOLUMNS, CONTENTCOLUMNS) = {
      eCONTENTCOLUMNS,
      {PR_GIVEN_NAME_W, PR_SURNAME_W, PR_LAST_MODIFICATION_TIME, PR_CREATION_TIME, PR_MESSAGE_SIZE, PR_ENTRYID}};
  // Filled in on every call.
  SizedSPropTagArray(2, EXCLUDEPROP) = {2, {PR_ENTRYID, PR_ACCESS}};

  CHResultChain chain(kUnit);
  // Both tables are held until the end of the merge.
  CMapiPtr<IMAPITable> sourceContentTablePtr;
  CMapiPtr<IMAPITable> destinContentTablePtr;
  CRowSetPtr sourceContentRows;
  CRowSetPtr destinContentRows;

  chain.Step(TEXT("sourceFolder->GetContentsTable(0, &sourceContentTablePtr)"), kLineSourceTable,
             [&] { return sourceFolder->GetContentsTable(0, &sourceContentTablePtr); });
  chain.Step(TEXT("destinationFolder->GetContentsTable(0, &destinContentTablePtr)"), kLineDestinTable,
             [&] { return destinationFolder->GetContentsTable(0, &destinContentTablePtr); });
  chain.Step(
      TEXT("HrQueryAllRows(sourceContentTablePtr, (LPSPropTagArray)&CONTENTCOLUMNS, 0, 0, 0, &sourceContentRows)"),
      kLineSourceRows, [&] {
        return HrQueryAllRows(sourceContentTablePtr, (LPSPropTagArray)&CONTENTCOLUMNS, 0, 0, 0, &sourceContentRows);
      });
  chain.Step(
      TEXT("HrQueryAllRows(destinContentTablePtr, (LPSPropTagArray)&CONTENTCOLUMNS, 0, 0, 0, &destinContentRows)"),
      kLineDestinRows, [&] {
        return HrQueryAllRows(destinContentTablePtr, (LPSPropTagArray)&CONTENTCOLUMNS, 0, 0, 0, &destinContentRows);
      });
  if (chain.Result() != S_OK) {
    LogMessageAt(LOG_ERROR, kUnit, kLineTablesFailed, TEXT("GetContentTable or HrQueryAllRows failed. error: %d"),
                 static_cast<int>(GetLastError()));
    return HResultCode(chain.Result());
  }

  // The destination as read at the start: new items are never matched.
  const CFirstRowIndex destinIndex(destinContentRows.p, ContactKey);

  int result = COPY_SUCCEEDED;
  CMapiPtr<IMessage> sMsgPtr;
  CMapiPtr<IMessage> dMsgPtr;
  for (ULONG si = 0; si < sourceContentRows.Count(); ++si) {
    if (IsProgressCancelled(progress) || result == COPY_FAILED) break;

    const SRow& sourceRow = sourceContentRows->aRow[si];
    const ULONG di = destinIndex.Find(ContactKey(sourceRow));
    const int match = di == CFirstRowIndex::npos ? eDifferent : Decide(sourceRow, destinContentRows->aRow[di]);

    // A contact whose destination copy is not older is skipped, but still makes
    // a progress step.
    if (match != eSameNotOlder) {
      sMsgPtr.Release();
      dMsgPtr.Release();

      ULONG dwObjType = 0;
      chain.Step(TEXT("sourceFolder->OpenEntry(sourceContentRows->aRow[si].lpProps[ePR_ENTRYID].Value.bin.cb, "
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
      chain.Step(
          TEXT("sMsgPtr->CopyTo(0, 0, (LPSPropTagArray)&EXCLUDEPROP, 0, 0, (LPCIID)&IID_IMessage, dMsgPtr, 0, 0)"),
          kLineCopy, [&] {
            // A warning from the open or the create may come without an
            // object: that fails the step instead of crashing it.
            if (!sMsgPtr || !dMsgPtr) return static_cast<HRESULT>(E_POINTER);
            return sMsgPtr->CopyTo(0, 0, (LPSPropTagArray)&EXCLUDEPROP, 0, 0, (LPCIID)&IID_IMessage, dMsgPtr, 0, 0);
          });
      if (dMsgPtr)
        chain.Step(TEXT("dMsgPtr->SaveChanges(FORCE_SAVE)"), kLineSave,
                   [&] { return dMsgPtr->SaveChanges(FORCE_SAVE); });
      if (match == eSameOlder) {
        // Only now that the replacement is saved does the older copy go; after
        // a failed step above this is skipped and the older copy stays.
        const SBinary* olderID = RowEntryID(destinContentRows->aRow[di], ePR_ENTRYID);
        SBinary older = olderID ? *olderID : SBinary{};
        ENTRYLIST el = {1, &older};
        chain.Step(TEXT("destinationFolder->DeleteMessages(&el, 0,0,0)"), kLineDeleteOlder, [&] {
          // Without its identifier the older copy cannot go: both stay.
          if (!olderID) return static_cast<HRESULT>(MAPI_E_INVALID_ENTRYID);
          return destinationFolder->DeleteMessages(&el, 0, 0, 0);
        });
      }
      if (chain.Failed()) {
        LogMessageAt(LOG_ERROR, kUnit, kLineCopyFailed, TEXT("Copy message failed.error:%d, HRESULT:0x%4x"),
                     static_cast<int>(GetLastError()), static_cast<unsigned>(chain.Result()));
        result = COPY_FAILED;
      }
    }

    if (progress && FAILED(progress->Progress(1, 0, 0))) {
      LogMessageAt(LOG_INFO, kUnit, kLineCanceled, TEXT("User canceled."));
      result = COPY_CANCELLED;
    }
  }
  return result;
}
