#include "MAPIPack/MAPIFolder.h"

#include <cstring>
#include <memory>
#include <new>

#include "MAPIPack/CalendarFolder.h"
#include "MAPIPack/ContactFolder.h"
#include "MAPIPack/MAPIHelpers.h"
#include "MAPIPack/MAPIProgress.h"
#include "MAPIPack/RowIndex.h"
#include "support/BuildVariant.h"
#include "support/PropTrival.h"

namespace {

const LPCWSTR kUnit = TEXT(".\\MAPIPack\\MAPIFolder");
const ULONG kOpenFolderFlags = MAPI_MODIFY | MAPI_NO_CACHE;
// The container class written onto a new folder, terminator included.
const size_t kClassBufferChars = 100;

enum { eSubject, eLastModificationTime, eMessageSize, eContentEntryID, eContentColumns };
SizedSPropTagArray(eContentColumns, CONTENTCOLUMNS) = {
    eContentColumns, {PR_SUBJECT_W, PR_LAST_MODIFICATION_TIME, PR_MESSAGE_SIZE, PR_ENTRYID}};

enum { eDisplayName, eFolderEntryID, eFolderColumns };
SizedSPropTagArray(eFolderColumns, COLUMNS) = {eFolderColumns, {PR_DISPLAY_NAME_W, PR_ENTRYID}};

enum { eListEntryID, eListDisplayName, eListSubfolders, eListContainerClass, eListColumns };
SizedSPropTagArray(eListColumns, g_tcCategoryColumns) = {
    eListColumns, {PR_ENTRYID, PR_DISPLAY_NAME_W, PR_SUBFOLDERS, PR_CONTAINER_CLASS_W}};

SizedSPropTagArray(2, EXCLUDEPROP) = {2, {PR_ENTRYID, PR_ACCESS}};

LPCWSTR RowText(const SRow& row, ULONG column) {
  return column < row.cValues ? GetValidString(&row.lpProps[column]) : nullptr;
}

// Copies text into a fixed field of the record, cut to fit and terminated.
void CopyField(WCHAR (&field)[OLCATALOG_NAME_CHARS], LPCWSTR text) {
  std::memset(field, 0, sizeof field);
  if (text) wcsncpy_s(field, OLCATALOG_NAME_CHARS, text, _TRUNCATE);
}

// The messages of a folder name the same item when both halves of the
// modification time and the subject agree.
CRowKeyText ContentKey(const SRow& row) {
  CRowKey key;
  key.Time(row.lpProps[eLastModificationTime]).Text(row.lpProps[eSubject]);
  return key.Key();
}

bool Cancelled(IMAPIProgress* progress) { return progress && IsProgressCancelled(progress); }

// One progress step per message; a refused step means the user cancelled.
bool StepRefused(IMAPIProgress* progress) { return progress && FAILED(progress->Progress(1, 0, 0)); }

HRESULT CopyOneMessage(IMAPIFolder* sourceFolder, IMAPIFolder* destinationFolder, const SBinary* entryID) {
  if (!entryID) return MAPI_E_INVALID_ENTRYID;
  SBinary entry = *entryID;
  ENTRYLIST elist = {1, &entry};
  return sourceFolder->CopyMessages(&elist, nullptr, destinationFolder, 0, nullptr, 0);
}

// Opens a folder of a store from a row's identifier; no identifier, or one of
// no bytes (it would open the root), opens nothing.
HRESULT OpenFolderEntry(IMsgStore* store, const SBinary* entryID, CInterfacePtr<IMAPIFolder>& out) {
  if (!entryID || !entryID->cb) return MAPI_E_INVALID_ENTRYID;
  return OpenFolderById(store, entryID->cb, reinterpret_cast<LPENTRYID>(entryID->lpb), kOpenFolderFlags, out);
}

}  // namespace

CMAPIFolder::CMAPIFolder(IMAPIFolder* folder) : CMAPIFolder(folder, OLFOLDER_NORMAL) {}

CMAPIFolder::CMAPIFolder(IMAPIFolder* folder, int type) : m_folderPtr(ShareInterface(folder)), m_nType(type) {}

CMAPIFolder::~CMAPIFolder() = default;

ULONG CMAPIFolder::_getCreateFolderFlag() { return MAPI_UNICODE | OPEN_IF_EXISTS; }

int CMAPIFolder::GetCategory(ULONG* count, OLCATALOGDATA** records) {
  if (!count || !records) return 0;
  *count = 0;
  *records = nullptr;
  if (!m_folderPtr) return 0;
  CInterfacePtr<IMAPITable> table;
  if (m_folderPtr->GetHierarchyTable(0, table.Put()) != S_OK) return 0;
  CRowSet rows;
  if (HrQueryAllRows(table.Get(), Tags(g_tcCategoryColumns), nullptr, nullptr, 0, rows.Put()) != S_OK) {
    LogMessageAt(LOG_ERROR, kUnit, __LINE__, TEXT("CMAPIFolder::GetCategory HrQueryAllRows Failed."));
    // A level that could not be read is not an empty one: listing, backup and
    // synchronise report it instead of going on with nothing.
    return 0;
  }
  const ULONG n = rows.Count();
  if (n == 0) return 1;
  OLCATALOGDATA* out = new (std::nothrow) OLCATALOGDATA[n]();
  if (!out) return 0;
  for (ULONG i = 0; i < n; ++i) {
    const SRow& row = rows->aRow[i];
    OLCATALOGDATA& record = out[i];
    record.nType = OLFOLDER_NORMAL;
    // Names and classes longer than the record's fields are cut to fit.
    CopyField(record.szName, RowText(row, eListDisplayName));
    CopyField(record.szClass, RowText(row, eListContainerClass));
    if (const SBinary* id = RowEntryID(row, eListEntryID)) {
      record.cbEntryID = id->cb;
      if (id->lpb)
        std::memcpy(record.abEntryID, id->lpb, id->cb < OLCATALOG_ENTRYID_BYTES ? id->cb : OLCATALOG_ENTRYID_BYTES);
    }
  }
  *count = n;
  *records = out;
  return 1;
}

IMAPIFolder* CMAPIFolder::CreateSubFolder(const OLCATALOGDATA& folderData) {
  if (!m_folderPtr) return nullptr;
  // The record's fields may come back from the host unterminated.
  WCHAR szName[OLCATALOG_NAME_CHARS] = {};
  WCHAR szClass[kClassBufferChars] = {};
  std::memcpy(szName, folderData.szName, sizeof(WCHAR) * (OLCATALOG_NAME_CHARS - 1));
  std::memcpy(szClass, folderData.szClass, sizeof(WCHAR) * (OLCATALOG_NAME_CHARS - 1));

  CInterfacePtr<IMAPIFolder> subFolderPtr;
  HRESULT hr =
      m_folderPtr->CreateFolder(FOLDER_GENERIC, szName, nullptr, nullptr, _getCreateFolderFlag(), subFolderPtr.Put());
  if (hr != S_OK) {
    CheckHResult(hr,
                 TEXT("m_folderPtr->CreateFolder(FOLDER_GENERIC, (LPTSTR)folderData.szName, 0, NULL, "
                      "_getCreateFolderFlag(), &subFolderPtr)"),
                 kUnit, __LINE__);
    if (FAILED(hr)) {
      LogMessageAt(LOG_ERROR, kUnit, __LINE__, TEXT("Create sub folder failed, name: %s"), szName);
      return nullptr;
    }
    return subFolderPtr.Detach();
  }
  if (szClass[0] && subFolderPtr) {
    SPropValue value = {};
    value.ulPropTag = PR_CONTAINER_CLASS_W;
    value.Value.lpszW = szClass;
    // The folder is there either way; without its class it shows as mail.
    (void)HrSetOneProp(subFolderPtr.Get(), &value);
    (void)subFolderPtr->SaveChanges(FORCE_SAVE);
  }
  return subFolderPtr.Detach();
}

ULONG CMAPIFolder::GetContentCount() {
  if (!m_folderPtr) return 0;
  CMapiBuffer<SPropValue> value;
  if (FAILED(HrGetOneProp(m_folderPtr.Get(), PR_CONTENT_COUNT, value.Put())) || !value ||
      value->ulPropTag != PR_CONTENT_COUNT)
    return 0;
  return static_cast<ULONG>(value->Value.l);
}

ULONG CMAPIFolder::GetTotalContentCount(IMsgStore* store) {
  ULONG total = GetContentCount();
  if (!m_folderPtr || !store) return total;
  CMapiBuffer<SPropValue> subfolders;
  if (FAILED(HrGetOneProp(m_folderPtr.Get(), PR_SUBFOLDERS, subfolders.Put())) || !subfolders ||
      subfolders->ulPropTag != PR_SUBFOLDERS || !subfolders->Value.b)
    return total;
  ULONG count = 0;
  OLCATALOGDATA* listed = nullptr;
  GetCategory(&count, &listed);
  std::unique_ptr<OLCATALOGDATA[]> records(listed);
  for (ULONG i = 0; i < count; ++i) {
    // A record keeps only 24 bytes of its identifier: a longer one cannot be
    // opened again and adds nothing.
    if (records[i].cbEntryID == 0 || records[i].cbEntryID > OLCATALOG_ENTRYID_BYTES) continue;
    CInterfacePtr<IMAPIFolder> sub;
    if (OpenFolderById(store, records[i].cbEntryID, reinterpret_cast<LPENTRYID>(records[i].abEntryID), kOpenFolderFlags,
                       sub) != S_OK)
      continue;
    total += CMAPIFolder(sub.Get()).GetTotalContentCount(store);
  }
  return total;
}

int CMAPIFolder::ProcessFolder(IMsgStore* sourceStore, IMsgStore* destStore, IMAPIFolder* destFolder, int recurse,
                               IMAPIProgress* progress) {
  if (!m_folderPtr || !destFolder) return COPY_SETUP_FAILED;
  CMapiBuffer<SPropValue> name;
  HRESULT hr = HrGetOneProp(m_folderPtr.Get(), PR_DISPLAY_NAME_W, name.Put());
  if (FAILED(hr)) {
    LogMessageAt(LOG_ERROR, kUnit, __LINE__, TEXT("Could not processing the folder name. Error"));
  } else {
    LPCWSTR text = GetValidString(name.Get());
    LogMessageAt(LOG_INFO, kUnit, __LINE__, TEXT("Processing the folder, Name: %s, and type is %d"),
                 text ? text : TEXT(""), m_nType);
  }

  // The copier chosen for the selected folder serves its whole sub-tree.
  ItemCopier copier = CopyFolderContents;
  if constexpr (kHasItemMerges) {
    if (m_nType == OLFOLDER_CONTACTS)
      copier = MergeContactFolder;
    else if (m_nType == OLFOLDER_CALENDAR)
      copier = MergeCalendarFolder;
  }

  int result = copier(m_folderPtr.Get(), destFolder, progress);
  if (recurse) {
    int hierarchy =
        CopyFolderHierarchy(sourceStore, destStore, m_folderPtr.Get(), destFolder, progress, copier, recurse);
    if (hierarchy != COPY_SUCCEEDED) return hierarchy;
  }
  return result;
}

int CMAPIFolder::CopyFolderContents(IMAPIFolder* sourceFolder, IMAPIFolder* destinationFolder,
                                    IMAPIProgress* progress) {
  if (!sourceFolder || !destinationFolder) return COPY_SETUP_FAILED;
  CHResultChain chain(kUnit);
  CInterfacePtr<IMAPITable> sourceContentTablePtr;
  CInterfacePtr<IMAPITable> destinContentTablePtr;
  CRowSet sourceContentRows;
  CRowSet destinContentRows;
  CHAIN_STEP(chain, "sourceFolder->GetContentsTable(0, &sourceContentTablePtr)",
             sourceFolder->GetContentsTable(0, sourceContentTablePtr.Put()));
  CHAIN_STEP(chain, "destinationFolder->GetContentsTable(0, &destinContentTablePtr)",
             destinationFolder->GetContentsTable(0, destinContentTablePtr.Put()));
  CHAIN_STEP(
      chain, "HrQueryAllRows(sourceContentTablePtr, (LPSPropTagArray)&CONTENTCOLUMNS, 0, 0, 0, &sourceContentRows)",
      HrQueryAllRows(sourceContentTablePtr.Get(), Tags(CONTENTCOLUMNS), nullptr, nullptr, 0, sourceContentRows.Put()));
  // A table keeps the rows it read: let the source's go before the
  // destination's are read, so that a large folder is held twice, not four times.
  sourceContentTablePtr.Reset();
  CHAIN_STEP(
      chain, "HrQueryAllRows(destinContentTablePtr, (LPSPropTagArray)&CONTENTCOLUMNS, 0, 0, 0, &destinContentRows)",
      HrQueryAllRows(destinContentTablePtr.Get(), Tags(CONTENTCOLUMNS), nullptr, nullptr, 0, destinContentRows.Put()));
  destinContentTablePtr.Reset();
  if (chain.Result() != S_OK) return HResultCode(chain.Result());
  // The rows must carry the columns asked for; anything else is no table to compare.
  for (LPSRowSet rows : {sourceContentRows.Get(), destinContentRows.Get()})
    for (ULONG i = 0; rows && i < rows->cRows; ++i)
      if (rows->aRow[i].cValues < eContentColumns) return HResultCode(MAPI_E_INVALID_PARAMETER);

  // Each source row looks up its first duplicate in destination order once,
  // instead of scanning the destination.
  CFirstRowIndex duplicates(destinContentRows.Get(), ContentKey);
  int result = COPY_SUCCEEDED;
  for (ULONG si = 0; si < sourceContentRows.Count(); ++si) {
    if (Cancelled(progress) || (kStopsAtFailedCopy && result == COPY_FAILED)) break;
    const SRow& row = sourceContentRows->aRow[si];
    if (duplicates.Find(ContentKey(row)) == CFirstRowIndex::npos) {
      const SBinary* entryID = RowEntryID(row, eContentEntryID);
      HRESULT hr = CopyOneMessage(sourceFolder, destinationFolder, entryID);
      if (FAILED(hr) && kRetriesFailedCopy) hr = CopyOneMessage(sourceFolder, destinationFolder, entryID);
      if (FAILED(hr)) {
        LPCWSTR subject = RowText(row, eSubject);
        LogMessageAt(LOG_ERROR, kUnit, __LINE__, TEXT("Copy message failed.Name:%s, Error:%d,HRESULT:0x%4x"),
                     subject ? subject : TEXT(""), GetLastError(), hr);
        result = COPY_FAILED;
      }
    }
    if (StepRefused(progress)) {
      LogMessageAt(LOG_INFO, kUnit, __LINE__, TEXT("User canceled."));
      result = COPY_CANCELLED;
    }
  }
  return result;
}

int CMAPIFolder::CopyFolderHierarchy(IMsgStore* sourceStore, IMsgStore* destStore, IMAPIFolder* sourceFolder,
                                     IMAPIFolder* destinationFolder, IMAPIProgress* progress, ItemCopier copier,
                                     int recurse) {
  if (!sourceStore || !destStore || !sourceFolder || !destinationFolder) return COPY_SETUP_FAILED;
  if (!copier) copier = CopyFolderContents;
  CHResultChain chain(kUnit);
  CInterfacePtr<IMAPITable> tablePtr;
  CRowSet pSourceRows;
  CRowSet pDestinRows;
  CHAIN_STEP(chain, "sourceFolder->GetHierarchyTable(0, &tablePtr)",
             sourceFolder->GetHierarchyTable(0, tablePtr.Put()));
  CHAIN_STEP(chain, "HrQueryAllRows(tablePtr, (LPSPropTagArray)&COLUMNS, 0, 0, 0, &pSourceRows)",
             HrQueryAllRows(tablePtr.Get(), Tags(COLUMNS), nullptr, nullptr, 0, pSourceRows.Put()));
  CHAIN_STEP(chain, "destinationFolder->GetHierarchyTable(0, &tablePtr)",
             destinationFolder->GetHierarchyTable(0, tablePtr.Put()));
  CHAIN_STEP(chain, "HrQueryAllRows(tablePtr, (LPSPropTagArray)&COLUMNS, 0, 0, 0, &pDestinRows)",
             HrQueryAllRows(tablePtr.Get(), Tags(COLUMNS), nullptr, nullptr, 0, pDestinRows.Put()));
  tablePtr.Reset();
  if (chain.Result() != S_OK) return HResultCode(chain.Result());

  CFirstNameIndex destinNames(pDestinRows.Get(), [](const SRow& row) { return RowText(row, eDisplayName); });
  int result = COPY_SUCCEEDED;
  for (ULONG si = 0; si < pSourceRows.Count(); ++si) {
    if (Cancelled(progress) || (kStopsAtFailedCopy && result == COPY_FAILED)) break;
    const SRow& sourceRow = pSourceRows->aRow[si];
    LPCWSTR name = RowText(sourceRow, eDisplayName);
    LPWSTR szName = const_cast<LPWSTR>(name ? name : TEXT(""));
    const ULONG di = destinNames.Find(name);

    CInterfacePtr<IMAPIFolder> pSubSource;
    CInterfacePtr<IMAPIFolder> pSubDestin;
    CHResultChain steps(kUnit);
    CHAIN_STEP(steps,
               "pSourceStore->OpenEntry(pSourceRows->aRow[si].lpProps[1].Value.bin.cb, "
               "(LPENTRYID)pSourceRows->aRow[si].lpProps[1].Value.bin.lpb, 0, MAPI_MODIFY | MAPI_NO_CACHE, "
               "&ulTemp, (IUnknown**)&pSubSource)",
               OpenFolderEntry(sourceStore, RowEntryID(sourceRow, eFolderEntryID), pSubSource));
    if (di != CFirstNameIndex::npos) {
      CHAIN_STEP(steps,
                 "pDestinStore->OpenEntry(pDestinRows->aRow[di].lpProps[1].Value.bin.cb, "
                 "(LPENTRYID)pDestinRows->aRow[di].lpProps[1].Value.bin.lpb, 0, MAPI_MODIFY | MAPI_NO_CACHE, "
                 "&ulTemp, (IUnknown**)&pSubDestin)",
                 OpenFolderEntry(destStore, RowEntryID(pDestinRows->aRow[di], eFolderEntryID), pSubDestin));
    } else {
      CHAIN_STEP(steps,
                 "destinationFolder->CreateFolder(FOLDER_GENERIC, (LPTSTR)pSourceRows->aRow[si].lpProps[0]."
                 "Value.LPSZ, 0, NULL, _getCreateFolderFlag(), &pSubDestin)",
                 destinationFolder->CreateFolder(FOLDER_GENERIC, szName, nullptr, nullptr, _getCreateFolderFlag(),
                                                 pSubDestin.Put()));
      CHAIN_STEP(steps,
                 "pSubSource->CopyTo(0, 0, (LPSPropTagArray)&EXCLUDEPROP, 0, 0, (LPCIID)&IID_IMAPIFolder, "
                 "pSubDestin, 0, 0)",
                 !pSubSource || !pSubDestin ? MAPI_E_INVALID_OBJECT
                                            : pSubSource->CopyTo(0, nullptr, Tags(EXCLUDEPROP), 0, nullptr,
                                                                 &IID_IMAPIFolder, pSubDestin.Get(), 0, nullptr));
    }

    if (steps.Result() == S_OK && pSubSource && pSubDestin) {
      LogMessageAt(LOG_INFO, kUnit, __LINE__, TEXT("Processing the folder, Name:%s"), szName);
      int outcome = copier(pSubSource.Get(), pSubDestin.Get(), progress);
      if (recurse) {
        int deeper =
            CopyFolderHierarchy(sourceStore, destStore, pSubSource.Get(), pSubDestin.Get(), progress, copier, recurse);
        if (deeper != COPY_SUCCEEDED) outcome = deeper;
      }
      if (outcome != COPY_SUCCEEDED) result = outcome;
    } else {
      LogMessageAt(LOG_ERROR, kUnit, __LINE__, TEXT("Can not operate the folder, Name:%s, Error: %d"), szName,
                   HResultCode(steps.Result()));
      result = COPY_FAILED;
    }
    // The source side goes first.
    pSubSource.Reset();
    pSubDestin.Reset();
  }
  return result;
}
