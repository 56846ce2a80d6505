#include "MAPIPack/MAPIFolder.h"

#include <cstring>
#include <new>

#include "MAPIPack/CalendarFolder.h"
#include "MAPIPack/ContactFolder.h"
#include "MAPIPack/MAPIHelpers.h"
#include "MAPIPack/MAPIProgress.h"
#include "MAPIPack/RowIndex.h"
#include "support/PropTrival.h"

namespace {

const LPCWSTR kUnit = TEXT(".\\MAPIPack\\MAPIFolder");
const ULONG kOpenFolderFlags = MAPI_MODIFY | MAPI_NO_CACHE;
// The container class written onto a new folder, terminator included.
const size_t kClassBufferChars = 100;

enum { eSubject, eLastModificationTime, eMessageSize, eContentEntryID, eContentColumns };
const SizedSPropTagArray(eContentColumns, CONTENTCOLUMNS) = {
    eContentColumns, {PR_SUBJECT_W, PR_LAST_MODIFICATION_TIME, PR_MESSAGE_SIZE, PR_ENTRYID}};

enum { eDisplayName, eFolderEntryID, eFolderColumns };
const SizedSPropTagArray(eFolderColumns, COLUMNS) = {eFolderColumns, {PR_DISPLAY_NAME_W, PR_ENTRYID}};

enum { eListEntryID, eListDisplayName, eListSubfolders, eListContainerClass, eListColumns };
const SizedSPropTagArray(eListColumns, g_tcCategoryColumns) = {
    eListColumns, {PR_ENTRYID, PR_DISPLAY_NAME_W, PR_SUBFOLDERS, PR_CONTAINER_CLASS_W}};

const SizedSPropTagArray(2, EXCLUDEPROP) = {2, {PR_ENTRYID, PR_ACCESS}};

LPSPropTagArray Columns(const void* columns) {
  return reinterpret_cast<LPSPropTagArray>(const_cast<void*>(columns));
}

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
std::u16string ContentKey(const SRow& row) {
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

// Opens a folder of a store from a row's identifier; an object that is not a
// folder counts as not found.
HRESULT OpenFolderEntry(IMsgStore* store, const SBinary* entryID, IMAPIFolder** out) {
  *out = nullptr;
  if (!entryID || !entryID->cb) return MAPI_E_INVALID_ENTRYID;  // no identifier would open the root
  ULONG ulTemp = 0;
  CMapiPtr<IUnknown> object;
  HRESULT hr = store->OpenEntry(entryID->cb, reinterpret_cast<LPENTRYID>(entryID->lpb), nullptr, kOpenFolderFlags,
                                &ulTemp, &object);
  if (FAILED(hr)) return hr;
  if (!object.p || ulTemp != MAPI_FOLDER) return MAPI_E_NOT_FOUND;
  *out = static_cast<IMAPIFolder*>(object.Detach());
  return hr;
}

}  // namespace

CMAPIFolder::CMAPIFolder(IMAPIFolder* folder) : CMAPIFolder(folder, OLFOLDER_NORMAL) {}

CMAPIFolder::CMAPIFolder(IMAPIFolder* folder, int type) : m_folderPtr(folder), m_nType(type) {
  if (m_folderPtr) m_folderPtr->AddRef();
}

CMAPIFolder::~CMAPIFolder() {
  if (m_folderPtr) m_folderPtr->Release();
}

ULONG CMAPIFolder::_getCreateFolderFlag() { return MAPI_UNICODE | OPEN_IF_EXISTS; }

int CMAPIFolder::GetCategory(ULONG* count, OLCATALOGDATA** records) {
  if (!count || !records) return 0;
  *count = 0;
  *records = nullptr;
  if (!m_folderPtr) return 0;
  CMapiPtr<IMAPITable> table;
  if (m_folderPtr->GetHierarchyTable(0, &table) != S_OK) return 0;
  CRowSetPtr rows;
  if (HrQueryAllRows(table, Columns(&g_tcCategoryColumns), nullptr, nullptr, 0, &rows) != S_OK) {
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

  CMapiPtr<IMAPIFolder> subFolderPtr;
  HRESULT hr = m_folderPtr->CreateFolder(FOLDER_GENERIC, szName, nullptr, nullptr, _getCreateFolderFlag(),
                                         &subFolderPtr);
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
  if (szClass[0] && subFolderPtr.p) {
    SPropValue value = {};
    value.ulPropTag = PR_CONTAINER_CLASS_W;
    value.Value.lpszW = szClass;
    // The folder is there either way; without its class it shows as mail.
    (void)HrSetOneProp(subFolderPtr, &value);
    (void)subFolderPtr->SaveChanges(FORCE_SAVE);
  }
  return subFolderPtr.Detach();
}

ULONG CMAPIFolder::GetContentCount() {
  if (!m_folderPtr) return 0;
  CMapiBuffer<SPropValue> value;
  if (FAILED(HrGetOneProp(m_folderPtr, PR_CONTENT_COUNT, &value)) || !value.p ||
      value->ulPropTag != PR_CONTENT_COUNT)
    return 0;
  return static_cast<ULONG>(value->Value.l);
}

ULONG CMAPIFolder::GetTotalContentCount(IMsgStore* store) {
  ULONG total = GetContentCount();
  if (!m_folderPtr || !store) return total;
  CMapiBuffer<SPropValue> subfolders;
  if (FAILED(HrGetOneProp(m_folderPtr, PR_SUBFOLDERS, &subfolders)) || !subfolders.p ||
      subfolders->ulPropTag != PR_SUBFOLDERS || !subfolders->Value.b)
    return total;
  ULONG count = 0;
  OLCATALOGDATA* records = nullptr;
  GetCategory(&count, &records);
  for (ULONG i = 0; i < count; ++i) {
    // A record keeps only 24 bytes of its identifier: a longer one cannot be
    // opened again and adds nothing.
    if (records[i].cbEntryID == 0 || records[i].cbEntryID > OLCATALOG_ENTRYID_BYTES) continue;
    ULONG objType = 0;
    CMapiPtr<IUnknown> object;
    HRESULT hr = store->OpenEntry(records[i].cbEntryID, reinterpret_cast<LPENTRYID>(records[i].abEntryID), nullptr,
                                  kOpenFolderFlags, &objType, &object);
    if (hr != S_OK || !object.p || objType != MAPI_FOLDER) continue;
    CMAPIFolder sub(static_cast<IMAPIFolder*>(object.p));
    total += sub.GetTotalContentCount(store);
  }
  delete[] records;
  return total;
}

int CMAPIFolder::ProcessFolder(IMsgStore* sourceStore, IMsgStore* destStore, IMAPIFolder* destFolder, int recurse,
                               IMAPIProgress* progress) {
  if (!m_folderPtr || !destFolder) return COPY_SETUP_FAILED;
  CMapiBuffer<SPropValue> name;
  HRESULT hr = HrGetOneProp(m_folderPtr, PR_DISPLAY_NAME_W, &name);
  if (FAILED(hr)) {
    LogMessageAt(LOG_ERROR, kUnit, __LINE__, TEXT("Could not processing the folder name. Error"));
  } else {
    LPCWSTR text = GetValidString(name);
    LogMessageAt(LOG_INFO, kUnit, __LINE__, TEXT("Processing the folder, Name: %s, and type is %d"),
                 text ? text : TEXT(""), m_nType);
  }

  // The copier chosen for the selected folder serves its whole sub-tree.
  ItemCopier copier = CopyFolderContents;
  if (m_nType == OLFOLDER_CONTACTS)
    copier = MergeContactFolder;
  else if (m_nType == OLFOLDER_CALENDAR)
    copier = MergeCalendarFolder;

  int result = copier(m_folderPtr, destFolder, progress);
  if (recurse) {
    int hierarchy = CopyFolderHierarchy(sourceStore, destStore, m_folderPtr, destFolder, progress, copier, recurse);
    if (hierarchy != COPY_SUCCEEDED) return hierarchy;
  }
  return result;
}

int CMAPIFolder::CopyFolderContents(IMAPIFolder* sourceFolder, IMAPIFolder* destinationFolder,
                                    IMAPIProgress* progress) {
  if (!sourceFolder || !destinationFolder) return COPY_SETUP_FAILED;
  CHResultChain chain(kUnit);
  CMapiPtr<IMAPITable> sourceContentTablePtr;
  CMapiPtr<IMAPITable> destinContentTablePtr;
  CRowSetPtr sourceContentRows;
  CRowSetPtr destinContentRows;
  chain.Step(TEXT("sourceFolder->GetContentsTable(0, &sourceContentTablePtr)"), __LINE__,
             [&] { return sourceFolder->GetContentsTable(0, &sourceContentTablePtr); });
  chain.Step(TEXT("destinationFolder->GetContentsTable(0, &destinContentTablePtr)"), __LINE__,
             [&] { return destinationFolder->GetContentsTable(0, &destinContentTablePtr); });
  chain.Step(TEXT("HrQueryAllRows(sourceContentTablePtr, (LPSPropTagArray)&CONTENTCOLUMNS, 0, 0, 0, "
                  "&sourceContentRows)"),
             __LINE__, [&] {
               return HrQueryAllRows(sourceContentTablePtr, Columns(&CONTENTCOLUMNS), nullptr, nullptr, 0,
                                     &sourceContentRows);
             });
  chain.Step(TEXT("HrQueryAllRows(destinContentTablePtr, (LPSPropTagArray)&CONTENTCOLUMNS, 0, 0, 0, "
                  "&destinContentRows)"),
             __LINE__, [&] {
               return HrQueryAllRows(destinContentTablePtr, Columns(&CONTENTCOLUMNS), nullptr, nullptr, 0,
                                     &destinContentRows);
             });
  sourceContentTablePtr.Release();
  destinContentTablePtr.Release();
  if (chain.Result() != S_OK) return HResultCode(chain.Result());
  // The rows must carry the columns asked for; anything else is no table to compare.
  for (LPSRowSet rows : {sourceContentRows.p, destinContentRows.p})
    for (ULONG i = 0; rows && i < rows->cRows; ++i)
      if (rows->aRow[i].cValues < eContentColumns) return HResultCode(MAPI_E_INVALID_PARAMETER);

  // Each source row looks up its first duplicate in destination order once,
  // instead of scanning the destination.
  CFirstRowIndex duplicates(destinContentRows, ContentKey);
  int result = COPY_SUCCEEDED;
  for (ULONG si = 0; si < sourceContentRows.Count(); ++si) {
    if (Cancelled(progress) || result == COPY_FAILED) break;
    const SRow& row = sourceContentRows->aRow[si];
    if (duplicates.Find(ContentKey(row)) == CFirstRowIndex::npos) {
      const SBinary* entryID = RowEntryID(row, eContentEntryID);
      HRESULT hr = CopyOneMessage(sourceFolder, destinationFolder, entryID);
      if (FAILED(hr)) hr = CopyOneMessage(sourceFolder, destinationFolder, entryID);
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
  IMsgStore* pSourceStore = sourceStore;
  IMsgStore* pDestinStore = destStore;
  CHResultChain chain(kUnit);
  CMapiPtr<IMAPITable> tablePtr;
  CRowSetPtr pSourceRows;
  CRowSetPtr pDestinRows;
  chain.Step(TEXT("sourceFolder->GetHierarchyTable(0, &tablePtr)"), __LINE__,
             [&] { return sourceFolder->GetHierarchyTable(0, &tablePtr); });
  chain.Step(TEXT("HrQueryAllRows(tablePtr, (LPSPropTagArray)&COLUMNS, 0, 0, 0, &pSourceRows)"), __LINE__,
             [&] { return HrQueryAllRows(tablePtr, Columns(&COLUMNS), nullptr, nullptr, 0, &pSourceRows); });
  chain.Step(TEXT("destinationFolder->GetHierarchyTable(0, &tablePtr)"), __LINE__,
             [&] { return destinationFolder->GetHierarchyTable(0, &tablePtr); });
  chain.Step(TEXT("HrQueryAllRows(tablePtr, (LPSPropTagArray)&COLUMNS, 0, 0, 0, &pDestinRows)"), __LINE__,
             [&] { return HrQueryAllRows(tablePtr, Columns(&COLUMNS), nullptr, nullptr, 0, &pDestinRows); });
  tablePtr.Release();
  if (chain.Result() != S_OK) return HResultCode(chain.Result());

  CFirstNameIndex destinNames(pDestinRows, [](const SRow& row) { return RowText(row, eDisplayName); });
  int result = COPY_SUCCEEDED;
  for (ULONG si = 0; si < pSourceRows.Count(); ++si) {
    if (Cancelled(progress) || result == COPY_FAILED) break;
    const SRow& sourceRow = pSourceRows->aRow[si];
    LPCWSTR name = RowText(sourceRow, eDisplayName);
    LPWSTR szName = const_cast<LPWSTR>(name ? name : TEXT(""));
    const ULONG di = destinNames.Find(name);

    CMapiPtr<IMAPIFolder> pSubSource;
    CMapiPtr<IMAPIFolder> pSubDestin;
    CHResultChain steps(kUnit);
    steps.Step(TEXT("pSourceStore->OpenEntry(pSourceRows->aRow[si].lpProps[1].Value.bin.cb, "
                    "(LPENTRYID)pSourceRows->aRow[si].lpProps[1].Value.bin.lpb, 0, MAPI_MODIFY | MAPI_NO_CACHE, "
                    "&ulTemp, (IUnknown**)&pSubSource)"),
               __LINE__,
               [&] { return OpenFolderEntry(pSourceStore, RowEntryID(sourceRow, eFolderEntryID), &pSubSource); });
    if (di != CFirstNameIndex::npos) {
      steps.Step(TEXT("pDestinStore->OpenEntry(pDestinRows->aRow[di].lpProps[1].Value.bin.cb, "
                      "(LPENTRYID)pDestinRows->aRow[di].lpProps[1].Value.bin.lpb, 0, MAPI_MODIFY | MAPI_NO_CACHE, "
                      "&ulTemp, (IUnknown**)&pSubDestin)"),
                 __LINE__, [&] {
                   return OpenFolderEntry(pDestinStore, RowEntryID(pDestinRows->aRow[di], eFolderEntryID),
                                          &pSubDestin);
                 });
    } else {
      steps.Step(TEXT("destinationFolder->CreateFolder(FOLDER_GENERIC, (LPTSTR)pSourceRows->aRow[si].lpProps[0]."
                      "Value.LPSZ, 0, NULL, _getCreateFolderFlag(), &pSubDestin)"),
                 __LINE__, [&] {
                   return destinationFolder->CreateFolder(FOLDER_GENERIC, szName, nullptr, nullptr,
                                                          _getCreateFolderFlag(), &pSubDestin);
                 });
      steps.Step(TEXT("pSubSource->CopyTo(0, 0, (LPSPropTagArray)&EXCLUDEPROP, 0, 0, (LPCIID)&IID_IMAPIFolder, "
                      "pSubDestin, 0, 0)"),
                 __LINE__, [&]() -> HRESULT {
                   if (!pSubSource.p || !pSubDestin.p) return MAPI_E_INVALID_OBJECT;
                   return pSubSource->CopyTo(0, nullptr, Columns(&EXCLUDEPROP), 0, nullptr, &IID_IMAPIFolder,
                                             pSubDestin.p, 0, nullptr);
                 });
    }

    if (steps.Result() == S_OK && pSubSource.p && pSubDestin.p) {
      LogMessageAt(LOG_INFO, kUnit, __LINE__, TEXT("Processing the folder, Name:%s"), szName);
      int outcome = copier(pSubSource, pSubDestin, progress);
      if (recurse) {
        int deeper = CopyFolderHierarchy(sourceStore, destStore, pSubSource, pSubDestin, progress, copier, recurse);
        if (deeper != COPY_SUCCEEDED) outcome = deeper;
      }
      if (outcome != COPY_SUCCEEDED) result = outcome;
    } else {
      LogMessageAt(LOG_ERROR, kUnit, __LINE__, TEXT("Can not operate the folder, Name:%s, Error: %d"), szName,
                   HResultCode(steps.Result()));
      result = COPY_FAILED;
    }
    // The source side goes first.
    pSubSource.Release();
    pSubDestin.Release();
  }
  return result;
}
