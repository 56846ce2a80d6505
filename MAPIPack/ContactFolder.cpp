// Merging a contacts folder: a contact is recognised by its given name,
// surname and creation time (the first destination item in table order with
// the same three). A destination copy that is not older is left alone but
// still makes a progress step; an older one is replaced; any other contact is
// copied. The key is equal exactly when CompareContactRows is non-zero, and
// the older/newer decision is then taken on the row found.
#include "MAPIPack/ContactFolder.h"

#include "MAPIPack/ItemMerge.h"
#include "MAPIPack/MAPIHelpers.h"
#include "support/PropTrival.h"

namespace {

constexpr LPCWSTR kUnit = TEXT(".\\MAPIPack\\ContactFolder");

// Source positions of the log lines; the log vocabulary depends on them.
constexpr int kLineSourceTable = 140;
constexpr int kLineDestinTable = 141;
constexpr int kLineSourceRows = 150;
constexpr int kLineDestinRows = 156;
constexpr int kLineTablesFailed = 159;

enum {
  ePR_GIVEN_NAME,
  ePR_SURNAME,
  ePR_LAST_MODIFICATION_TIME,
  ePR_CREATION_TIME,
  ePR_MESSAGE_SIZE,
  ePR_ENTRYID,
  eCONTENTCOLUMNS
};
SizedSPropTagArray(eCONTENTCOLUMNS, CONTENTCOLUMNS) = {
    eCONTENTCOLUMNS,
    {PR_GIVEN_NAME_W, PR_SURNAME_W, PR_LAST_MODIFICATION_TIME, PR_CREATION_TIME, PR_MESSAGE_SIZE, PR_ENTRYID}};
SizedSPropTagArray(2, EXCLUDEPROP) = {2, {PR_ENTRYID, PR_ACCESS}};

enum { eDifferent = 0, eSameNotOlder = 1, eSameOlder = 2 };

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

CRowKeyText ContactKey(const SRow& row) {
  return CRowKey()
      .Text(row.lpProps[ePR_GIVEN_NAME])
      .Text(row.lpProps[ePR_SURNAME])
      .Time(row.lpProps[ePR_CREATION_TIME])
      .Key();
}

const CMergeRules kContactRules = {
    kUnit,
    ContactKey,
    ePR_LAST_MODIFICATION_TIME,
    ePR_ENTRYID,
    Tags(EXCLUDEPROP),
    true,  // a skipped contact still makes a progress step
    true,  // the save step runs only when a message was made
    {TEXT("sourceFolder->OpenEntry(sourceContentRows->aRow[si].lpProps[ePR_ENTRYID].Value.bin.cb, "
          "(LPENTRYID)sourceContentRows->aRow[si].lpProps[ePR_ENTRYID].Value.bin.lpb, 0, MAPI_MODIFY | "
          "MAPI_NO_CACHE, &dwObjType, (IUnknown**)&sMsgPtr)"),
     198},
    {TEXT("destinationFolder->CreateMessage(0, 0, &dMsgPtr)"), 199},
    {TEXT("sMsgPtr->CopyTo(0, 0, (LPSPropTagArray)&EXCLUDEPROP, 0, 0, (LPCIID)&IID_IMessage, dMsgPtr, 0, 0)"), 209},
    {TEXT("dMsgPtr->SaveChanges(FORCE_SAVE)"), 210},
    {TEXT("destinationFolder->DeleteMessages(&el, 0,0,0)"), 186},
    215,  // "Copy message failed..."
    224,  // "User canceled."
};

}  // namespace

int CompareContactRows(ULONG si, ULONG di, const SRowSet* sourceRows, const SRowSet* destinRows) {
  if (!sourceRows || !destinRows || si >= sourceRows->cRows || di >= destinRows->cRows) return eDifferent;
  const SRow& s = sourceRows->aRow[si];
  const SRow& d = destinRows->aRow[di];
  if (!SameName(s.lpProps[ePR_GIVEN_NAME], d.lpProps[ePR_GIVEN_NAME])) return eDifferent;
  if (!SameName(s.lpProps[ePR_SURNAME], d.lpProps[ePR_SURNAME])) return eDifferent;
  if (MergeTimeValue(s.lpProps[ePR_CREATION_TIME]) != MergeTimeValue(d.lpProps[ePR_CREATION_TIME])) return eDifferent;
  return MergeTimeValue(d.lpProps[ePR_LAST_MODIFICATION_TIME]) < MergeTimeValue(s.lpProps[ePR_LAST_MODIFICATION_TIME])
             ? eSameOlder
             : eSameNotOlder;
}

int MergeContactFolder(IMAPIFolder* sourceFolder, IMAPIFolder* destinationFolder, IMAPIProgress* progress) {
  // Both tables are held until the end of the merge.
  CHResultChain chain(kUnit);
  CInterfacePtr<IMAPITable> sourceContentTablePtr;
  CInterfacePtr<IMAPITable> destinContentTablePtr;
  CRowSet sourceContentRows;
  CRowSet destinContentRows;
  CHAIN_STEP_AT(chain, kLineSourceTable, "sourceFolder->GetContentsTable(0, &sourceContentTablePtr)",
                sourceFolder->GetContentsTable(0, sourceContentTablePtr.Put()));
  CHAIN_STEP_AT(chain, kLineDestinTable, "destinationFolder->GetContentsTable(0, &destinContentTablePtr)",
                destinationFolder->GetContentsTable(0, destinContentTablePtr.Put()));
  CHAIN_STEP_AT(
      chain, kLineSourceRows,
      "HrQueryAllRows(sourceContentTablePtr, (LPSPropTagArray)&CONTENTCOLUMNS, 0, 0, 0, &sourceContentRows)",
      HrQueryAllRows(sourceContentTablePtr.Get(), Tags(CONTENTCOLUMNS), nullptr, nullptr, 0, sourceContentRows.Put()));
  CHAIN_STEP_AT(
      chain, kLineDestinRows,
      "HrQueryAllRows(destinContentTablePtr, (LPSPropTagArray)&CONTENTCOLUMNS, 0, 0, 0, &destinContentRows)",
      HrQueryAllRows(destinContentTablePtr.Get(), Tags(CONTENTCOLUMNS), nullptr, nullptr, 0, destinContentRows.Put()));
  if (chain.Result() != S_OK) {
    LogMessageAt(LOG_ERROR, kUnit, kLineTablesFailed, TEXT("GetContentTable or HrQueryAllRows failed. error: %d"),
                 static_cast<int>(GetLastError()));
    return HResultCode(chain.Result());
  }
  return MergeItems(kContactRules, sourceFolder, destinationFolder, progress, sourceContentRows.Get(),
                    destinContentRows.Get());
}
