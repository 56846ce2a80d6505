// Merging a calendar folder: an item is recognised by its creation time (the
// first destination item in table order with the same creation time). A
// destination copy that is not older is left alone, without a progress step;
// an older one is replaced; any other item is copied.
#include "MAPIPack/CalendarFolder.h"

#include "MAPIPack/ItemMerge.h"
#include "MAPIPack/MAPIHelpers.h"

namespace {

constexpr LPCWSTR kUnit = TEXT(".\\MAPIPack\\CalendarFolder");

// Source positions of the log lines; the log vocabulary depends on them.
constexpr int kLineSourceTable = 100;
constexpr int kLineSourceRows = 106;
constexpr int kLineDestinTable = 109;
constexpr int kLineDestinRows = 115;
constexpr int kLineTablesFailed = 119;

enum { ePR_LAST_MODIFICATION_TIME, ePR_CREATION_TIME, ePR_ENTRYID, eCONTENTCOLUMNS };
SizedSPropTagArray(eCONTENTCOLUMNS, CONTENTCOLUMNS) = {eCONTENTCOLUMNS,
                                                       {PR_LAST_MODIFICATION_TIME, PR_CREATION_TIME, PR_ENTRYID}};
SizedSPropTagArray(3, EXCLUDEPROP) = {3, {PR_ENTRYID, PR_ACCESS, PR_ACCESS_LEVEL}};

CRowKeyText CalendarKey(const SRow& row) { return CRowKey().Time(row.lpProps[ePR_CREATION_TIME]).Key(); }

const CMergeRules kCalendarRules = {
    kUnit,
    CalendarKey,
    ePR_LAST_MODIFICATION_TIME,
    ePR_ENTRYID,
    Tags(EXCLUDEPROP),
    false,  // a skipped item makes no progress step
    false,  // the save step runs even without a message (and fails)
    {TEXT("sourceFolder->OpenEntry( sourceContentRows->aRow[si].lpProps[ePR_ENTRYID].Value.bin.cb, "
          "(LPENTRYID)sourceContentRows->aRow[si].lpProps[ePR_ENTRYID].Value.bin.lpb, 0, MAPI_MODIFY | "
          "MAPI_NO_CACHE, &dwObjType, (IUnknown**)&sMsgPtr)"),
     159},
    {TEXT("destinationFolder->CreateMessage(0, 0, &dMsgPtr)"), 164},
    {TEXT("sMsgPtr->CopyTo(0, 0, (LPSPropTagArray)&EXCLUDEPROP, 0, 0, (LPCIID)&IID_IMessage, dMsgPtr, 0, 0)"), 175},
    {TEXT("dMsgPtr->SaveChanges(FORCE_SAVE)"), 176},
    {TEXT("destinationFolder->DeleteMessages(&elist, 0, 0 ,0)"), 162},
    179,  // "Copy message failed..."
    186,  // "User canceled."
};

}  // namespace

int MergeCalendarFolder(IMAPIFolder* sourceFolder, IMAPIFolder* destinationFolder, IMAPIProgress* progress) {
  // Each side's table is read and released before the other's.
  CHResultChain chain(kUnit);
  CInterfacePtr<IMAPITable> tablePtr;
  CRowSet sourceContentRows;
  CRowSet destinContentRows;
  CHAIN_STEP_AT(chain, kLineSourceTable, "sourceFolder->GetContentsTable(0, &tablePtr)",
                sourceFolder->GetContentsTable(0, tablePtr.Put()));
  CHAIN_STEP_AT(chain, kLineSourceRows,
                "HrQueryAllRows(tablePtr, (LPSPropTagArray)&CONTENTCOLUMNS, 0, 0, 0, &sourceContentRows)",
                HrQueryAllRows(tablePtr.Get(), Tags(CONTENTCOLUMNS), nullptr, nullptr, 0, sourceContentRows.Put()));
  tablePtr.Reset();
  CHAIN_STEP_AT(chain, kLineDestinTable, "destinationFolder->GetContentsTable(0, &tablePtr)",
                destinationFolder->GetContentsTable(0, tablePtr.Put()));
  CHAIN_STEP_AT(chain, kLineDestinRows,
                "HrQueryAllRows(tablePtr, (LPSPropTagArray)&CONTENTCOLUMNS, 0, 0, 0, &destinContentRows)",
                HrQueryAllRows(tablePtr.Get(), Tags(CONTENTCOLUMNS), nullptr, nullptr, 0, destinContentRows.Put()));
  tablePtr.Reset();
  if (chain.Result() != S_OK) {
    LogMessageAt(LOG_ERROR, kUnit, kLineTablesFailed, TEXT("GetContentTable or HrQueryAllRows failed. error: %d"),
                 static_cast<int>(GetLastError()));
    return HResultCode(chain.Result());
  }
  return MergeItems(kCalendarRules, sourceFolder, destinationFolder, progress, sourceContentRows.Get(),
                    destinContentRows.Get());
}
