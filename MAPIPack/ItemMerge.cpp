#include "MAPIPack/ItemMerge.h"

#include "MAPIPack/MAPIHelpers.h"
#include "MAPIPack/MAPIProgress.h"
#include "MAPIPack/RowIndex.h"

ULONGLONG MergeTimeValue(const SPropValue& value) {
  return (static_cast<ULONGLONG>(value.Value.ft.dwHighDateTime) << 32) | value.Value.ft.dwLowDateTime;
}

int MergeItems(const CMergeRules& rules, IMAPIFolder* sourceFolder, IMAPIFolder* destinationFolder,
               IMAPIProgress* progress, const SRowSet* sourceRows, const SRowSet* destinRows) {
  // The destination as read at the start: new items are never matched.
  const CFirstRowIndex destinIndex(destinRows, rules.key);
  const ULONG sourceCount = sourceRows ? sourceRows->cRows : 0;

  CHResultChain chain(rules.unit);
  int result = COPY_SUCCEEDED;
  CInterfacePtr<IMessage> sMsgPtr;
  CInterfacePtr<IMessage> dMsgPtr;
  for (ULONG si = 0; si < sourceCount; ++si) {
    if (IsProgressCancelled(progress) || result == COPY_FAILED) break;

    const SRow& sourceRow = sourceRows->aRow[si];
    const ULONG di = destinIndex.Find(rules.key(sourceRow));
    const bool replace = di != CFirstRowIndex::npos;
    // The destination copy is not older: nothing to copy.
    const bool skip = replace && MergeTimeValue(destinRows->aRow[di].lpProps[rules.modifiedColumn]) >=
                                     MergeTimeValue(sourceRow.lpProps[rules.modifiedColumn]);
    if (skip && !rules.stepOnSkip) continue;

    if (!skip) {
      sMsgPtr.Reset();
      dMsgPtr.Reset();
      chain.Step(rules.open.text, rules.open.line, [&]() -> HRESULT {
        // An item without a usable identifier cannot be opened: a failed copy.
        const SBinary* entryID = RowEntryID(sourceRow, rules.entryIdColumn);
        if (!entryID) return MAPI_E_INVALID_ENTRYID;
        return OpenObjectById(sourceFolder, entryID->cb, reinterpret_cast<LPENTRYID>(entryID->lpb),
                              MAPI_MODIFY | MAPI_NO_CACHE, MAPI_MESSAGE, sMsgPtr);
      });
      chain.Step(rules.create.text, rules.create.line,
                 [&] { return destinationFolder->CreateMessage(nullptr, 0, dMsgPtr.Put()); });
      chain.Step(rules.copy.text, rules.copy.line, [&]() -> HRESULT {
        // A warning from the open or the create may come without an object:
        // that fails the step instead of crashing it.
        if (!sMsgPtr || !dMsgPtr) return E_POINTER;
        return sMsgPtr->CopyTo(0, nullptr, rules.excluded, 0, nullptr, &IID_IMessage, dMsgPtr.Get(), 0, nullptr);
      });
      if (dMsgPtr || !rules.saveOnlyCreated)
        chain.Step(rules.save.text, rules.save.line,
                   [&]() -> HRESULT { return dMsgPtr ? dMsgPtr->SaveChanges(FORCE_SAVE) : E_POINTER; });
      if (replace) {
        // Only now that the replacement is saved does the older copy go; after
        // a failed step above this is skipped and the older copy stays.
        const SBinary* olderID = RowEntryID(destinRows->aRow[di], rules.entryIdColumn);
        SBinary older = olderID ? *olderID : SBinary{};
        ENTRYLIST list = {1, &older};
        chain.Step(rules.deleteOlder.text, rules.deleteOlder.line, [&]() -> HRESULT {
          // Without its identifier the older copy cannot go: both stay.
          if (!olderID) return MAPI_E_INVALID_ENTRYID;
          return destinationFolder->DeleteMessages(&list, 0, nullptr, 0);
        });
      }
      if (chain.Failed()) {
        LogMessageAt(LOG_ERROR, rules.unit, rules.copyFailedLine, TEXT("Copy message failed.error:%d, HRESULT:0x%4x"),
                     static_cast<int>(GetLastError()), static_cast<unsigned>(chain.Result()));
        result = COPY_FAILED;
      }
    }

    if (progress && FAILED(progress->Progress(1, 0, 0))) {
      LogMessageAt(LOG_INFO, rules.unit, rules.canceledLine, TEXT("User canceled."));
      result = COPY_CANCELLED;
    }
  }
  return result;
}
