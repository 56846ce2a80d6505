// The standard folder tree of a personal-folders store, made through the
// store's own interfaces so that any IMsgStore of the stand-in can be checked.
#include <cstring>
#include <string>
#include <vector>

#include <wcrt.h>

#include "owners/MapiOwners.h"
#include "store.h"

namespace standin::mapi {

namespace {

struct Special {
  const char16_t* name;
  const char16_t* containerClass;  // null: mail (IPF.Note)
  bool full;                        // only with MAPI_FULL_IPM_TREE
};

enum SpecialIndex { kInbox, kOutbox, kSent, kDeleted, kCalendar, kContacts, kDrafts, kJournal, kNotes, kTasks, kJunk };

const Special kSpecials[] = {
    {u"Inbox", u"IPF.Note", false},         {u"Outbox", u"IPF.Note", false},
    {u"Sent Items", u"IPF.Note", false},    {u"Deleted Items", u"IPF.Note", false},
    {u"Calendar", u"IPF.Appointment", true}, {u"Contacts", u"IPF.Contact", true},
    {u"Drafts", u"IPF.Note", true},         {u"Journal", u"IPF.Journal", true},
    {u"Notes", u"IPF.StickyNote", true},    {u"Tasks", u"IPF.Task", true},
    {u"Junk E-mail", u"IPF.Note", true},
};
constexpr const char16_t* kSubtreeName = u"Top of Personal Folders";

HRESULT EntryIdOf(IMAPIProp* object, std::string* out) {
  SizedSPropTagArray(1, tags) = {1, {PR_ENTRYID}};
  ULONG count = 0;
  CMapiBuffer<SPropValue> hold;
  HRESULT hr = object->GetProps(reinterpret_cast<LPSPropTagArray>(&tags), 0, &count, hold.Put());
  if (FAILED(hr)) return hr;
  const SPropValue* values = hold.Get();
  if (count != 1 || values[0].ulPropTag != PR_ENTRYID) return MAPI_E_NOT_FOUND;
  out->assign(reinterpret_cast<const char*>(values[0].Value.bin.lpb), values[0].Value.bin.cb);
  return S_OK;
}

SPropValue BinaryValue(ULONG tag, std::string& bytes) {
  SPropValue v{};
  v.ulPropTag = tag;
  v.Value.bin.cb = static_cast<ULONG>(bytes.size());
  v.Value.bin.lpb = reinterpret_cast<LPBYTE>(bytes.data());
  return v;
}

// The error record of a failed validation. lowLevel is the provider's own
// error behind it; 0 when it has none to tell.
HRESULT FillError(HRESULT hr, const char* what, ULONG lowLevel, LPMAPIERROR* err) {
  if (!err) return hr;
  *err = nullptr;
  std::u16string text = ToUtf16(std::string("Cannot validate the folder tree: ") + what);
  std::u16string component = u"MAPI stand-in store";
  void* block = nullptr;
  if (FAILED(MAPIAllocateBuffer(sizeof(MAPIERROR), &block))) return hr;
  auto* record = static_cast<LPMAPIERROR>(block);
  std::memset(record, 0, sizeof *record);
  record->ulVersion = MAPI_ERROR_VERSION;
  record->ulLowLevelError = lowLevel;
  void* t = nullptr;
  void* c = nullptr;
  if (SUCCEEDED(MAPIAllocateMore(static_cast<ULONG>((text.size() + 1) * 2), block, &t)) &&
      SUCCEEDED(MAPIAllocateMore(static_cast<ULONG>((component.size() + 1) * 2), block, &c))) {
    std::memcpy(t, text.c_str(), (text.size() + 1) * 2);
    std::memcpy(c, component.c_str(), (component.size() + 1) * 2);
    record->lpszError = static_cast<LPWSTR>(t);
    record->lpszComponent = static_cast<LPWSTR>(c);
  }
  *err = record;
  return hr;
}

HRESULT OpenOrCreate(IMAPIFolder* parent, const char16_t* name, const char16_t* containerClass, IMAPIFolder** out) {
  std::u16string folderName(name);
  CInterfacePtr<IMAPIFolder> folder;
  HRESULT hr = parent->CreateFolder(FOLDER_GENERIC, reinterpret_cast<LPWSTR>(folderName.data()), nullptr, nullptr,
                                    MAPI_UNICODE | OPEN_IF_EXISTS, folder.Put());
  if (FAILED(hr)) return hr;
  if (containerClass) {
    SizedSPropTagArray(1, tags) = {1, {PR_CONTAINER_CLASS_W}};
    ULONG count = 0;
    CMapiBuffer<SPropValue> values;
    hr = folder->GetProps(reinterpret_cast<LPSPropTagArray>(&tags), 0, &count, values.Put());
    bool present = hr == S_OK && count == 1 && values && values->ulPropTag == PR_CONTAINER_CLASS_W;
    values.Reset();
    if (FAILED(hr)) return hr;
    if (!present) {
      std::u16string cls(containerClass);
      SPropValue v{};
      v.ulPropTag = PR_CONTAINER_CLASS_W;
      v.Value.lpszW = reinterpret_cast<LPWSTR>(cls.data());
      hr = folder->SetProps(1, &v, nullptr);
      if (FAILED(hr)) return hr;
    }
  }
  *out = folder.Detach();
  return S_OK;
}

HRESULT Validate(LPMDB store, ULONG flags, std::vector<OwnedProp>* storeProps, const char** step) {
  *step = "opening the root folder";
  ULONG type = 0;
  CInterfacePtr<IMAPIFolder> root;
  HRESULT hr = store->OpenEntry(0, nullptr, nullptr, MAPI_MODIFY, &type, root.PutAs<IUnknown>());
  if (FAILED(hr)) return hr;
  if (type != MAPI_FOLDER) return MAPI_E_INVALID_OBJECT;

  *step = "creating the IPM subtree";
  CInterfacePtr<IMAPIFolder> subtree;
  hr = OpenOrCreate(root.Get(), kSubtreeName, nullptr, subtree.Put());
  if (FAILED(hr)) return hr;
  std::string subtreeId;
  hr = EntryIdOf(subtree.Get(), &subtreeId);
  if (FAILED(hr)) return hr;

  std::string ids[std::size(kSpecials)];
  for (size_t i = 0; i < std::size(kSpecials); ++i) {
    if (kSpecials[i].full && !(flags & MAPI_FULL_IPM_TREE)) continue;
    *step = "creating a special folder";
    CInterfacePtr<IMAPIFolder> folder;
    hr = OpenOrCreate(subtree.Get(), kSpecials[i].name, kSpecials[i].containerClass, folder.Put());
    if (FAILED(hr)) return hr;
    hr = EntryIdOf(folder.Get(), &ids[i]);
    if (FAILED(hr)) return hr;
  }

  *step = "setting the store's folder properties";
  std::vector<SPropValue> values = {BinaryValue(PR_IPM_SUBTREE_ENTRYID, subtreeId),
                                    BinaryValue(PR_IPM_OUTBOX_ENTRYID, ids[kOutbox]),
                                    BinaryValue(PR_IPM_SENTMAIL_ENTRYID, ids[kSent]),
                                    BinaryValue(PR_IPM_WASTEBASKET_ENTRYID, ids[kDeleted])};
  hr = store->SetProps(static_cast<ULONG>(values.size()), values.data(), nullptr);
  if (FAILED(hr)) return hr;
  for (const SPropValue& v : values) {
    OwnedProp p;
    if (ToOwned(v, &p)) storeProps->push_back(p);
  }

  *step = "setting the receive folder";
  for (const char16_t* cls : {u"", u"IPM", u"IPC"}) {
    std::u16string c(cls);
    LPENTRYID target = reinterpret_cast<LPENTRYID>(cls[0] == u'\0' || c == u"IPM" ? ids[kInbox].data()
                                                                                : subtreeId.data());
    ULONG cb = static_cast<ULONG>(cls[0] == u'\0' || c == u"IPM" ? ids[kInbox].size() : subtreeId.size());
    hr = store->SetReceiveFolder(reinterpret_cast<LPWSTR>(c.data()), MAPI_UNICODE, cb, target);
    if (FAILED(hr)) return hr;
  }

  if (!(flags & MAPI_FULL_IPM_TREE)) return S_OK;
  // The special folders' entry identifiers on the Inbox and the root, as the
  // mail client keeps them; the fifth additional one is the junk folder.
  *step = "setting the special folders on the Inbox and the root";
  SBinary additional[5] = {{0, nullptr}, {0, nullptr}, {0, nullptr}, {0, nullptr},
                           {static_cast<ULONG>(ids[kJunk].size()), reinterpret_cast<LPBYTE>(ids[kJunk].data())}};
  SPropValue ren{};
  ren.ulPropTag = PR_ADDITIONAL_REN_ENTRYIDS;
  ren.Value.MVbin.cValues = 5;
  ren.Value.MVbin.lpbin = additional;
  std::vector<SPropValue> special = {BinaryValue(PR_IPM_APPOINTMENT_ENTRYID, ids[kCalendar]),
                                     BinaryValue(PR_IPM_CONTACT_ENTRYID, ids[kContacts]),
                                     BinaryValue(PR_IPM_JOURNAL_ENTRYID, ids[kJournal]),
                                     BinaryValue(PR_IPM_NOTE_ENTRYID, ids[kNotes]),
                                     BinaryValue(PR_IPM_TASK_ENTRYID, ids[kTasks]),
                                     BinaryValue(PR_IPM_DRAFTS_ENTRYID, ids[kDrafts]),
                                     ren};
  hr = root->SetProps(static_cast<ULONG>(special.size()), special.data(), nullptr);
  if (FAILED(hr)) return hr;
  CInterfacePtr<IMAPIFolder> inbox;
  hr = store->OpenEntry(static_cast<ULONG>(ids[kInbox].size()), reinterpret_cast<LPENTRYID>(ids[kInbox].data()),
                        nullptr, MAPI_MODIFY, &type, inbox.PutAs<IUnknown>());
  if (FAILED(hr)) return hr;
  hr = inbox->SetProps(static_cast<ULONG>(special.size()), special.data(), nullptr);
  if (FAILED(hr)) return hr;
  for (const SPropValue& v : special) {
    OwnedProp p;
    if (ToOwned(v, &p)) storeProps->push_back(p);
  }
  return S_OK;
}

}  // namespace

}  // namespace standin::mapi

MAPIAPI HRESULT STDMETHODCALLTYPE HrValidateIPMSubtree(LPMDB lpMDB, ULONG ulFlags, ULONG* lpcValues,
                                                       LPSPropValue* lppValues, LPMAPIERROR* lpperr) {
  using namespace standin::mapi;
  if (lpperr) *lpperr = nullptr;
  if (lppValues) *lppValues = nullptr;
  if (lpcValues) *lpcValues = 0;
  {
    int32_t code = 0;
    if (standin::TakeFault("HrValidateIPMSubtree", &code)) {
      HRESULT hr = static_cast<HRESULT>(code);
      return FAILED(hr) ? FillError(hr, "armed fault", 0, lpperr) : hr;
    }
  }
  if (!lpMDB) return MAPI_E_INVALID_PARAMETER;
  std::vector<OwnedProp> props;
  const char* step = "";
  HRESULT hr = Validate(lpMDB, ulFlags, &props, &step);
  if (FAILED(hr)) return FillError(hr, step, static_cast<ULONG>(hr), lpperr);
  if (lpcValues && lppValues) {
    Row row(props.begin(), props.end());
    hr = BuildPropArray(row, nullptr, lpcValues, lppValues);
    if (FAILED(hr)) return FillError(hr, "returning the folder values", static_cast<ULONG>(hr), lpperr);
  }
  return S_OK;
}
