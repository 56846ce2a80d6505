#include "MAPIPack/MAPIStore.h"

#include <cstring>

#include "MAPIPack/MAPIHelpers.h"
#include "support/BuildVariant.h"
#include "support/PropTrival.h"

namespace {

const LPCWSTR kUnit = TEXT(".\\MAPIPack\\MAPIStore");
const ULONG kOpenFolderFlags = MAPI_MODIFY | MAPI_NO_CACHE;
const ULONG kJunkFolderIndex = 4;  // position of the junk folder among the additional identifiers

// The store's capacities for the texts it hands out, terminator included.
const int kDisplayNameChars = 256;

struct ClassKind {
  LPCWSTR szClass;
  LONG nType;
};
// In the order they are tried; the first equal class wins.
const ClassKind kClassKinds[] = {
    {TEXT("IPF.Appointment"), OLFOLDER_CALENDAR}, {TEXT("IPF.Contact"), OLFOLDER_CONTACTS},
    {TEXT("IPF.Task"), OLFOLDER_TASKS},           {TEXT("IPF.StickyNote"), OLFOLDER_NOTES},
    {TEXT("IPF.Journal"), OLFOLDER_JOURNAL},      {TEXT("IPF.Note.OutlookHomepage"), OLFOLDER_HOMEPAGE},
    {TEXT("IPF.Configuration"), OLFOLDER_CONFIG}, {TEXT("IPF.Note.SocialConnector.FeedItems"), OLFOLDER_CONFIG},
};

// One property of an object, read with GetProps; anything but exactly S_OK
// (a warning for a missing property included) is a failed read.
bool ReadOneProp(IMAPIProp* object, ULONG tag, CMapiBuffer<SPropValue>& value) {
  SizedSPropTagArray(1, tags) = {1, {tag}};
  ULONG count = 0;
  HRESULT hr = object->GetProps(Tags(tags), 0, &count, value.Put());
  if (hr != S_OK || count != 1 || !value || value->ulPropTag != tag) {
    value.Reset();
    return false;
  }
  return true;
}

// The record holds at most the first 24 bytes of an identifier; a longer one
// cannot be named again from the record, and an empty one would name the
// store's root folder instead of the recorded folder.
bool RecordCanOpen(const OLCATALOGDATA& record) {
  return record.cbEntryID > 0 && record.cbEntryID <= OLCATALOG_ENTRYID_BYTES;
}

bool RecordMatches(const OLCATALOGDATA& record, const SBinary& id) {
  return id.lpb && id.cb >= OLCATALOG_ENTRYID_BYTES &&
         std::memcmp(record.abEntryID, id.lpb, OLCATALOG_ENTRYID_BYTES) == 0;
}

void MarkFirstMatch(OLCATALOGDATA* records, ULONG count, const SBinary& id, LONG nType) {
  for (ULONG i = 0; i < count; ++i)
    if (RecordMatches(records[i], id)) {
      records[i].nType = nType;
      return;
    }
}

// A special folder that the store itself names by one of its properties.
void MarkByStoreProp(IMsgStore* store, OLCATALOGDATA* records, ULONG count, ULONG tag, LONG nType) {
  CMapiBuffer<SPropValue> value;
  if (ReadOneProp(store, tag, value)) MarkFirstMatch(records, count, value->Value.bin, nType);
}

// A special folder named on the Inbox, or else on the store's root folder:
// the value of a binary property, or one value of a multi-valued one.
void MarkByInboxProp(IMsgStore* store, OLCATALOGDATA* records, ULONG count, ULONG tag, ULONG mvIndex, LONG nType) {
  const OLCATALOGDATA* inbox = nullptr;
  for (ULONG i = 0; i < count && !inbox; ++i)
    if (records[i].nType == OLFOLDER_INBOX) inbox = &records[i];
  if (!inbox || !RecordCanOpen(*inbox)) return;
  CInterfacePtr<IMAPIFolder> inboxFolder;
  if (FAILED(OpenFolderById(store, inbox->cbEntryID, reinterpret_cast<LPENTRYID>(const_cast<BYTE*>(inbox->abEntryID)),
                            0, inboxFolder)))
    return;
  CMapiBuffer<SPropValue> value;
  if (!ReadOneProp(inboxFolder.Get(), tag, value)) {
    CInterfacePtr<IMAPIFolder> root;
    if (FAILED(OpenFolderById(store, 0, nullptr, 0, root))) return;
    if (!ReadOneProp(root.Get(), tag, value)) return;
  }
  if (PROP_TYPE(tag) & MV_FLAG) {
    if (value->Value.MVbin.cValues <= mvIndex || !value->Value.MVbin.lpbin) return;
    MarkFirstMatch(records, count, value->Value.MVbin.lpbin[mvIndex], nType);
  } else {
    MarkFirstMatch(records, count, value->Value.bin, nType);
  }
}

void MarkInbox(IMsgStore* store, OLCATALOGDATA* records, ULONG count) {
  ULONG cb = 0;
  CMapiBuffer<ENTRYID> id;
  if (store->GetReceiveFolder(nullptr, 0, &cb, id.Put(), nullptr) != S_OK || !id) return;
  SBinary bin = {cb, reinterpret_cast<LPBYTE>(id.Get())};
  MarkFirstMatch(records, count, bin, OLFOLDER_INBOX);
}

}  // namespace

CMAPIStore::CMAPIStore(IMsgStore* store) : m_storePtr(ShareInterface(store)) {}

CMAPIStore::~CMAPIStore() = default;

int CMAPIStore::GetStoreDisplayName(LPWSTR name) {
  if (!m_storePtr || !name) return 0;
  CMapiBuffer<SPropValue> value;
  if (!ReadOneProp(m_storePtr.Get(), PR_DISPLAY_NAME_W, value)) return 0;
  LPCWSTR text = GetValidString(value.Get());
  // A name that does not fit is refused rather than handed out cut short.
  if (!text || wcslen(text) >= static_cast<size_t>(kDisplayNameChars)) return 0;
  return wcscpy_s(name, kDisplayNameChars, text) == 0 ? 1 : 0;
}

int CMAPIStore::GetPSTFilePath(LPWSTR path) {
  if (!m_storePtr || !path) return 0;
  CMapiBuffer<SPropValue> value;
  if (!ReadOneProp(m_storePtr.Get(), PR_PST_PATH_A, value) || !value->Value.lpszA) return 0;
  // A path that does not fit would name another file: refused, not cut.
  int needed = MultiByteToWideChar(CP_THREAD_ACP, 0, value->Value.lpszA, -1, nullptr, 0);
  if (needed <= 0 || needed > MAX_PATH) return 0;
  return MultiByteToWideChar(CP_THREAD_ACP, 0, value->Value.lpszA, -1, path, MAX_PATH) > 0 ? 1 : 0;
}

IMAPIFolder* CMAPIStore::OpenIPMSubtree() {
  if (!m_storePtr) return nullptr;
  CMapiBuffer<SPropValue> value;
  if (!ReadOneProp(m_storePtr.Get(), PR_IPM_SUBTREE_ENTRYID, value)) return nullptr;
  CInterfacePtr<IMAPIFolder> folder;
  HRESULT hr = OpenFolderById(m_storePtr.Get(), value->Value.bin.cb, reinterpret_cast<LPENTRYID>(value->Value.bin.lpb),
                              kOpenFolderFlags, folder);
  if (FAILED(hr))
    LogMessageAt(LOG_ERROR, kUnit, __LINE__, TEXT("m_storePtr->OpenEntry, folder id: %d"),
                 static_cast<LONG>(PR_IPM_SUBTREE_ENTRYID));
  return folder.Detach();
}

IMAPIFolder* CMAPIStore::OpenCatalogFolder(OLCATALOGDATA record) {
  if (!m_storePtr || !RecordCanOpen(record)) return nullptr;
  CInterfacePtr<IMAPIFolder> folder;
  OpenFolderById(m_storePtr.Get(), record.cbEntryID, reinterpret_cast<LPENTRYID>(record.abEntryID), kOpenFolderFlags,
                 folder);
  return folder.Detach();
}

void CMAPIStore::ClassifyFolders(OLCATALOGDATA* records, ULONG count) {
  if (!m_storePtr || !records) return;
  for (ULONG i = 0; i < count; ++i) {
    // The field may come back from the host unterminated.
    WCHAR szClass[OLCATALOG_NAME_CHARS] = {};
    std::memcpy(szClass, records[i].szClass, sizeof(WCHAR) * (OLCATALOG_NAME_CHARS - 1));
    if (!szClass[0]) continue;
    for (const ClassKind& kind : kClassKinds)
      if (kind.nType <= kMaxFolderKind && lstrcmpiW(szClass, kind.szClass) == 0) {
        records[i].nType = kind.nType;
        break;
      }
  }
  // The identifier steps come after the classes: a folder named by the store
  // keeps the store's meaning whatever its class.
  IMsgStore* store = m_storePtr.Get();
  MarkByStoreProp(store, records, count, PR_IPM_OUTBOX_ENTRYID, OLFOLDER_OUTBOX);
  MarkInbox(store, records, count);
  MarkByStoreProp(store, records, count, PR_IPM_SENTMAIL_ENTRYID, OLFOLDER_SENTMAIL);
  MarkByStoreProp(store, records, count, PR_IPM_WASTEBASKET_ENTRYID, OLFOLDER_DELETED);
  MarkByInboxProp(store, records, count, PR_IPM_DRAFTS_ENTRYID, 0, OLFOLDER_DRAFTS);
  MarkByInboxProp(store, records, count, PR_ADDITIONAL_REN_ENTRYIDS, kJunkFolderIndex, OLFOLDER_JUNK);
}

void CMAPIStore::ApplyFolderClasses(OLCATALOGDATA* records, ULONG count) {
  if (!records) return;
  for (ULONG i = 0; i < count; ++i) {
    OLCATALOGDATA& record = records[i];
    std::memset(record.szClass, 0, sizeof record.szClass);
    LPCWSTR szClass = nullptr;
    switch (record.nType) {
      case OLFOLDER_CALENDAR: szClass = TEXT("IPF.Appointment"); break;
      case OLFOLDER_CONTACTS: szClass = TEXT("IPF.Contact"); break;
      case OLFOLDER_TASKS: szClass = TEXT("IPF.Task"); break;
      case OLFOLDER_NOTES: szClass = TEXT("IPF.StickyNote"); break;
      case OLFOLDER_JOURNAL: szClass = TEXT("IPF.Journal"); break;
      default: break;  // only the item-class folders carry a class forward
    }
    if (szClass) wcscpy_s(record.szClass, OLCATALOG_NAME_CHARS, szClass);
  }
}
