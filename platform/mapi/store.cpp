#include "owners/MapiOwners.h"
#include "pstfile.h"
#include "store.h"

#include <cstring>
#include <functional>
#include <optional>

#include <standin/mapi.h>
#include <standin/root.h>
#include <wcrt.h>

namespace standin::mapi {

namespace {

constexpr ULONG kStoreSupportMask = 0x00000001 /*ENTRYID_UNIQUE*/ | 0x00000008 /*MODIFY_OK*/ |
                                    0x00000010 /*CREATE_OK*/ | 0x00000020 /*ATTACH_OK*/ |
                                    0x00000200 /*MV_PROPS_OK*/ | 0x00001000 /*RESTRICTION_OK*/ |
                                    0x00040000 /*UNICODE_OK*/;

bool IsWriteAccess(ULONG flags) { return (flags & (MAPI_MODIFY | MAPI_BEST_ACCESS)) != 0; }

}  // namespace

// ---- shared helpers ----

const SpecialFolderBit kSpecialFolderBits[7] = {
    {PR_IPM_SUBTREE_ENTRYID, 0x1},   {PR_IPM_OUTBOX_ENTRYID, 0x4}, {PR_IPM_WASTEBASKET_ENTRYID, 0x8},
    {PR_IPM_SENTMAIL_ENTRYID, 0x10}, {PR_VIEWS_ENTRYID, 0x20},     {PR_COMMON_VIEWS_ENTRYID, 0x40},
    {PR_FINDER_ENTRYID, 0x80}};

bool IsComputedProp(ULONG tag) {
  switch (PROP_ID(tag)) {
    case PROP_ID(PR_ENTRYID):
    case PROP_ID(PR_PARENT_ENTRYID):
    case PROP_ID(PR_RECORD_KEY):
    case PROP_ID(PR_INSTANCE_KEY):
    case PROP_ID(PR_STORE_RECORD_KEY):
    case PROP_ID(PR_STORE_ENTRYID):
    case PROP_ID(PR_OBJECT_TYPE):
    case PROP_ID(PR_FOLDER_TYPE):
    case PROP_ID(PR_CONTENT_COUNT):
    case PROP_ID(PR_SUBFOLDERS):
    case PROP_ID(PR_MESSAGE_SIZE):
    case PROP_ID(PR_HASATTACH):
    case PROP_ID(PR_ACCESS):
    case PROP_ID(PR_ACCESS_LEVEL):
    case PROP_ID(PR_ATTACH_NUM):
    case PROP_ID(PR_ATTACH_SIZE):
    case PROP_ID(PR_ROW_TYPE):
      return true;
    default:
      return false;
  }
}

HRESULT PropsFromRow(const Row& row, LPSPropTagArray tags, ULONG* count, LPSPropValue* out) {
  if (!count || !out) return MAPI_E_INVALID_PARAMETER;
  HRESULT hr = BuildPropArray(row, tags, count, out);
  if (FAILED(hr)) return hr;
  for (ULONG i = 0; i < *count; ++i)
    if (PROP_TYPE((*out)[i].ulPropTag) == PT_ERROR && (!tags || PROP_TYPE(tags->aulPropTag[i]) != PT_ERROR))
      return MAPI_W_ERRORS_RETURNED;
  return S_OK;
}

HRESULT PropListFromRow(const Row& row, LPSPropTagArray* out) {
  if (!out) return MAPI_E_INVALID_PARAMETER;
  void* block = nullptr;
  HRESULT hr = MAPIAllocateBuffer(static_cast<ULONG>(CbNewSPropTagArray(row.size())), &block);
  if (FAILED(hr)) return hr;
  auto* tags = static_cast<LPSPropTagArray>(block);
  tags->cValues = static_cast<ULONG>(row.size());
  for (size_t i = 0; i < row.size(); ++i) tags->aulPropTag[i] = row[i].tag;
  *out = tags;
  return S_OK;
}

void PutProp(Row* row, OwnedProp prop) {
  for (OwnedProp& p : *row)
    if (PROP_ID(p.tag) == PROP_ID(prop.tag)) {
      p = std::move(prop);
      return;
    }
  row->push_back(std::move(prop));
}

bool RemoveProp(Row* row, ULONG propId) {
  for (auto it = row->begin(); it != row->end(); ++it)
    if (PROP_ID(it->tag) == propId) {
      row->erase(it);
      return true;
    }
  return false;
}

OwnedProp Normalized(OwnedProp prop) {
  if (PROP_TYPE(prop.tag) == PT_STRING8)
    return MakeUnicode(CHANGE_PROP_TYPE(prop.tag, PT_UNICODE), ToUtf16(prop.data));
  return prop;
}

void AcceptProps(ULONG count, const SPropValue* values, bool (*refused)(ULONG tag), Row* accepted,
                 std::vector<SPropProblem>* problems) {
  for (ULONG i = 0; i < count; ++i) {
    OwnedProp prop;
    if (refused(values[i].ulPropTag))
      problems->push_back({i, values[i].ulPropTag, MAPI_E_COMPUTED});
    else if (!ToOwned(values[i], &prop))
      problems->push_back({i, values[i].ulPropTag, MAPI_E_INVALID_TYPE});
    else
      accepted->push_back(std::move(prop));
  }
}

HRESULT DeleteStoredProps(StoreFile& file, NodeId node, const SPropTagArray* tags) {
  std::vector<ULONG> ids;
  for (ULONG i = 0; i < tags->cValues; ++i) ids.push_back(PROP_ID(tags->aulPropTag[i]));
  return file.WriteProps(node, Row{}, ids);
}

HRESULT MakeProblems(const std::vector<SPropProblem>& problems, LPSPropProblemArray* out) {
  if (!out) return S_OK;
  *out = nullptr;
  if (problems.empty()) return S_OK;
  void* block = nullptr;
  size_t size = offsetof(SPropProblemArray, aProblem) + problems.size() * sizeof(SPropProblem);
  HRESULT hr = MAPIAllocateBuffer(static_cast<ULONG>(size), &block);
  if (FAILED(hr)) return hr;
  auto* array = static_cast<LPSPropProblemArray>(block);
  array->cProblem = static_cast<ULONG>(problems.size());
  for (size_t i = 0; i < problems.size(); ++i) array->aProblem[i] = problems[i];
  *out = array;
  return S_OK;
}

bool TagListed(const SPropTagArray* tags, ULONG tag) {
  if (!tags) return false;
  for (ULONG i = 0; i < tags->cValues; ++i) {
    ULONG t = tags->aulPropTag[i];
    if (PROP_ID(t) == PROP_ID(tag) && (PROP_TYPE(t) == PT_UNSPECIFIED || PROP_TYPE(t) == PROP_TYPE(tag) ||
                                       ((PROP_TYPE(t) == PT_STRING8 || PROP_TYPE(t) == PT_UNICODE) &&
                                        (PROP_TYPE(tag) == PT_STRING8 || PROP_TYPE(tag) == PT_UNICODE))))
      return true;
  }
  return false;
}

std::u16string WideOf(const OwnedProp& prop) {
  if (PROP_TYPE(prop.tag) == PT_STRING8) return ToUtf16(prop.data);
  std::u16string text(prop.data.size() / 2, u'\0');
  std::memcpy(text.data(), prop.data.data(), text.size() * 2);
  return text;
}

void AddIdentityProps(const MAPIUID& uid, const std::function<std::string(NodeId)>& entryId, NodeId storeNode,
                      NodeId node, NodeId parent, ULONG objectType, Row* row) {
  std::string id = entryId(node);
  PutProp(row, MakeBinary(PR_ENTRYID, id.data(), id.size()));
  PutProp(row, MakeBinary(PR_RECORD_KEY, id.data(), id.size()));
  if (parent) {
    std::string pid = entryId(parent);
    PutProp(row, MakeBinary(PR_PARENT_ENTRYID, pid.data(), pid.size()));
  }
  PutProp(row, MakeBinary(PR_INSTANCE_KEY, &node, sizeof node));
  PutProp(row, MakeBinary(PR_STORE_RECORD_KEY, uid.ab, sizeof uid.ab));
  std::string sid = entryId(storeNode);
  PutProp(row, MakeBinary(PR_STORE_ENTRYID, sid.data(), sid.size()));
  PutProp(row, MakeLong(PR_OBJECT_TYPE, static_cast<LONG>(objectType)));
}

void AddIdentityProps(const StoreFile& file, NodeId node, NodeId parent, ULONG objectType, Row* row) {
  AddIdentityProps(file.uid(), [&](NodeId n) { return file.EntryId(n); }, kStoreNode, node, parent, objectType, row);
}

HRESULT OpenNode(const std::shared_ptr<StoreFile>& file, NodeId node, LPCIID iid, ULONG flags, ULONG* objType,
                 LPUNKNOWN* out) {
  NodeInfo info;
  HRESULT hr = file->GetNode(node, &info);
  if (FAILED(hr)) return hr;
  bool modify = IsWriteAccess(flags);
  IUnknown* object = nullptr;
  ULONG type = 0;
  if (info.kind == NodeKind::Folder) {
    if (iid && *iid != IID_IMAPIFolder && *iid != IID_IMAPIContainer && *iid != IID_IMAPIProp && *iid != IID_IUnknown)
      return MAPI_E_INTERFACE_NOT_SUPPORTED;
    object = static_cast<IMAPIFolder*>(new FolderObj(file, node, node == kRootNode ? kRootNode : info.parent, modify));
    type = MAPI_FOLDER;
  } else if (info.kind == NodeKind::Message) {
    if (iid && *iid != IID_IMessage && *iid != IID_IMAPIProp && *iid != IID_IUnknown)
      return MAPI_E_INTERFACE_NOT_SUPPORTED;
    MessageObj* message = nullptr;
    hr = MessageObj::Load(file, info.parent, node, modify, &message);
    if (FAILED(hr)) return hr;
    object = static_cast<IMessage*>(message);
    type = MAPI_MESSAGE;
  } else {
    return MAPI_E_NOT_FOUND;
  }
  if (objType) *objType = type;
  *out = object;
  return S_OK;
}

// ---- IMsgStore ----

StoreObj::StoreObj(std::shared_ptr<StoreFile> file, std::u16string displayName, bool modify)
    : file_(std::move(file)), displayName_(std::move(displayName)), modify_(modify) {}

StoreObj::~StoreObj() {
  // Folders and messages opened from the store may live on; what was written
  // through the store so far is committed now.
  if (FAILED(file_->CommitGroup())) StoreLog("cannot commit " + file_->path() + " as its store is released");
}

bool StoreObj::Supports(REFIID riid) const { return riid == IID_IMsgStore || riid == IID_IMAPIProp; }

HRESULT StoreObj::FullRow(Row* row) {
  HRESULT hr = file_->ReadProps(kStoreNode, row);
  if (FAILED(hr)) return hr;
  std::string id = file_->EntryId(kStoreNode);
  PutProp(row, MakeBinary(PR_ENTRYID, id.data(), id.size()));
  PutProp(row, MakeBinary(PR_STORE_ENTRYID, id.data(), id.size()));
  PutProp(row, MakeBinary(PR_RECORD_KEY, file_->uid().ab, sizeof file_->uid().ab));
  PutProp(row, MakeBinary(PR_STORE_RECORD_KEY, file_->uid().ab, sizeof file_->uid().ab));
  PutProp(row, MakeLong(PR_OBJECT_TYPE, MAPI_STORE));
  PutProp(row, MakeLong(PR_STORE_SUPPORT_MASK, static_cast<LONG>(kStoreSupportMask)));
  if (!displayName_.empty() || !FindProp(*row, PR_DISPLAY_NAME_W))
    PutProp(row, MakeUnicode(PR_DISPLAY_NAME_W, displayName_));
  // A personal-folders store names its own file, unless one was written.
  if (!FindProp(*row, PR_PST_PATH_W)) PutProp(row, MakeUnicode(PR_PST_PATH_W, ToWindowsPath(file_->path())));
  // Which special folders the store names (and that still exist).
  LONG mask = 0;
  for (const SpecialFolderBit& b : kSpecialFolderBits) {
    const OwnedProp* p = FindProp(*row, b.tag);
    NodeId node = 0;
    NodeInfo info;
    if (p && SUCCEEDED(file_->ParseEntryId(p->data.data(), p->data.size(), &node)) &&
        SUCCEEDED(file_->GetNode(node, &info)))
      mask |= b.bit;
  }
  NodeId inbox = 0;
  NodeInfo info;
  if (SUCCEEDED(file_->GetReceiveFolder("", &inbox, nullptr)) && SUCCEEDED(file_->GetNode(inbox, &info)))
    mask |= 0x2;
  PutProp(row, MakeLong(PR_VALID_FOLDER_MASK, mask));
  return S_OK;
}

STDMETHODIMP StoreObj::GetLastError(HRESULT, ULONG, LPMAPIERROR*) {
  MAPI_FAULT_POINT("IMsgStore::GetLastError");
  return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP StoreObj::SaveChanges(ULONG) {
  MAPI_FAULT_POINT("IMsgStore::SaveChanges");
  // Store properties are written through as they are set; saving commits
  // everything written through this store so far.
  return file_->CommitGroup();
}

STDMETHODIMP StoreObj::GetProps(LPSPropTagArray tags, ULONG, ULONG* count, LPSPropValue* out) {
  MAPI_FAULT_POINT("IMsgStore::GetProps");
  Row row;
  HRESULT hr = FullRow(&row);
  if (FAILED(hr)) return hr;
  return PropsFromRow(row, tags, count, out);
}

STDMETHODIMP StoreObj::GetPropList(ULONG, LPSPropTagArray* out) {
  MAPI_FAULT_POINT("IMsgStore::GetPropList");
  Row row;
  HRESULT hr = FullRow(&row);
  if (FAILED(hr)) return hr;
  return PropListFromRow(row, out);
}

STDMETHODIMP StoreObj::OpenProperty(ULONG, LPCIID, ULONG, ULONG, LPUNKNOWN*) {
  MAPI_FAULT_POINT("IMsgStore::OpenProperty");
  return MAPI_E_NO_SUPPORT;
}

namespace {
// The store's masks describe the stand-in itself and are not the caller's to set.
bool IsStoreComputedProp(ULONG tag) {
  return IsComputedProp(tag) || PROP_ID(tag) == PROP_ID(PR_STORE_SUPPORT_MASK) ||
         PROP_ID(tag) == PROP_ID(PR_VALID_FOLDER_MASK);
}
}  // namespace

STDMETHODIMP StoreObj::SetProps(ULONG count, LPSPropValue values, LPSPropProblemArray* problems) {
  MAPI_FAULT_POINT("IMsgStore::SetProps");
  if (problems) *problems = nullptr;
  if (!values && count) return MAPI_E_INVALID_PARAMETER;
  if (!modify_) return MAPI_E_NO_ACCESS;
  std::vector<SPropProblem> found;
  Row accepted;
  AcceptProps(count, values, IsStoreComputedProp, &accepted, &found);
  StoreFile::Transaction txn(*file_);
  if (FAILED(txn.status())) return txn.status();
  for (OwnedProp& prop : accepted) {
    HRESULT hr = file_->WriteProp(kStoreNode, Normalized(std::move(prop)));
    if (FAILED(hr)) return hr;
  }
  HRESULT hr = txn.Commit();
  if (FAILED(hr)) return hr;
  return MakeProblems(found, problems);
}

STDMETHODIMP StoreObj::DeleteProps(LPSPropTagArray tags, LPSPropProblemArray* problems) {
  MAPI_FAULT_POINT("IMsgStore::DeleteProps");
  if (problems) *problems = nullptr;
  if (!tags) return MAPI_E_INVALID_PARAMETER;
  if (!modify_) return MAPI_E_NO_ACCESS;
  return DeleteStoredProps(*file_, kStoreNode, tags);
}

STDMETHODIMP StoreObj::CopyTo(ULONG, LPCIID, LPSPropTagArray, ULONG_PTR, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                              LPSPropProblemArray*) {
  MAPI_FAULT_POINT("IMsgStore::CopyTo");
  return MAPI_E_NO_SUPPORT;
}
STDMETHODIMP StoreObj::CopyProps(LPSPropTagArray, ULONG_PTR, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                                 LPSPropProblemArray*) {
  MAPI_FAULT_POINT("IMsgStore::CopyProps");
  return MAPI_E_NO_SUPPORT;
}
STDMETHODIMP StoreObj::GetNamesFromIDs(LPSPropTagArray*, LPGUID, ULONG, ULONG*, LPMAPINAMEID**) {
  MAPI_FAULT_POINT("IMsgStore::GetNamesFromIDs");
  return MAPI_E_NO_SUPPORT;
}
STDMETHODIMP StoreObj::GetIDsFromNames(ULONG, LPMAPINAMEID*, ULONG, LPSPropTagArray*) {
  MAPI_FAULT_POINT("IMsgStore::GetIDsFromNames");
  return MAPI_E_NO_SUPPORT;
}
STDMETHODIMP StoreObj::Advise(ULONG, LPENTRYID, ULONG, LPMAPIADVISESINK, ULONG_PTR*) {
  MAPI_FAULT_POINT("IMsgStore::Advise");
  return MAPI_E_NO_SUPPORT;
}
STDMETHODIMP StoreObj::Unadvise(ULONG_PTR) {
  MAPI_FAULT_POINT("IMsgStore::Unadvise");
  return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP StoreObj::CompareEntryIDs(ULONG cb1, LPENTRYID id1, ULONG cb2, LPENTRYID id2, ULONG, ULONG* result) {
  MAPI_FAULT_POINT("IMsgStore::CompareEntryIDs");
  if (!result) return MAPI_E_INVALID_PARAMETER;
  NodeId a = 0, b = 0;
  HRESULT hr = file_->ParseEntryId(id1, cb1, &a);
  if (FAILED(hr)) return hr;
  hr = file_->ParseEntryId(id2, cb2, &b);
  if (FAILED(hr)) return hr;
  *result = a == b ? TRUE : FALSE;
  return S_OK;
}

STDMETHODIMP StoreObj::OpenEntry(ULONG cb, LPENTRYID id, LPCIID iid, ULONG flags, ULONG* objType, LPUNKNOWN* out) {
  MAPI_FAULT_POINT("IMsgStore::OpenEntry");
  if (!out) return MAPI_E_INVALID_PARAMETER;
  *out = nullptr;
  NodeId node = kRootNode;
  if (cb || id) {
    HRESULT hr = file_->ParseEntryId(id, cb, &node);
    if (FAILED(hr)) return hr;
  }
  if ((flags & MAPI_MODIFY) && !modify_) return MAPI_E_NO_ACCESS;
  if (!modify_) flags &= ~(MAPI_MODIFY | MAPI_BEST_ACCESS);
  return OpenNode(file_, node, iid, flags, objType, out);
}

STDMETHODIMP StoreObj::SetReceiveFolder(LPWSTR messageClass, ULONG flags, ULONG cb, LPENTRYID id) {
  MAPI_FAULT_POINT("IMsgStore::SetReceiveFolder");
  if (!modify_) return MAPI_E_NO_ACCESS;
  std::string cls;
  if (messageClass)
    cls = (flags & MAPI_UNICODE) ? ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(messageClass)))
                                 : std::string(reinterpret_cast<const char*>(messageClass));
  if (cls == "IPM") cls.clear();  // IPM is the default class
  NodeId node = 0;
  if (cb || id) {
    HRESULT hr = file_->ParseEntryId(id, cb, &node);
    if (FAILED(hr)) return hr;
    NodeInfo info;
    hr = file_->GetNode(node, &info);
    if (FAILED(hr)) return hr;
    if (info.kind != NodeKind::Folder) return MAPI_E_INVALID_ENTRYID;
  }
  return file_->SetReceiveFolder(cls, node);
}

STDMETHODIMP StoreObj::GetReceiveFolder(LPWSTR messageClass, ULONG flags, ULONG* cb, LPENTRYID* id,
                                        LPWSTR* explicitClass) {
  MAPI_FAULT_POINT("IMsgStore::GetReceiveFolder");
  if (!cb || !id) return MAPI_E_INVALID_PARAMETER;
  *cb = 0;
  *id = nullptr;
  if (explicitClass) *explicitClass = nullptr;
  std::string cls;
  if (messageClass)
    cls = (flags & MAPI_UNICODE) ? ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(messageClass)))
                                 : std::string(reinterpret_cast<const char*>(messageClass));
  if (cls == "IPM") cls.clear();
  NodeId node = 0;
  std::string matched;
  HRESULT hr = file_->GetReceiveFolder(cls, &node, &matched);
  if (FAILED(hr)) return hr;
  std::string entry = file_->EntryId(node);
  void* block = nullptr;
  hr = MAPIAllocateBuffer(static_cast<ULONG>(entry.size()), &block);
  if (FAILED(hr)) return hr;
  std::memcpy(block, entry.data(), entry.size());
  if (explicitClass) {
    void* text = nullptr;
    if (flags & MAPI_UNICODE) {
      std::u16string wide = ToUtf16(matched);
      hr = MAPIAllocateMore(static_cast<ULONG>((wide.size() + 1) * 2), block, &text);
      if (SUCCEEDED(hr)) std::memcpy(text, wide.c_str(), (wide.size() + 1) * 2);
    } else {
      hr = MAPIAllocateMore(static_cast<ULONG>(matched.size() + 1), block, &text);
      if (SUCCEEDED(hr)) std::memcpy(text, matched.c_str(), matched.size() + 1);
    }
    if (FAILED(hr)) {
      MAPIFreeBuffer(block);
      return hr;
    }
    *explicitClass = static_cast<LPWSTR>(text);
  }
  *cb = static_cast<ULONG>(entry.size());
  *id = static_cast<LPENTRYID>(block);
  return S_OK;
}

STDMETHODIMP StoreObj::GetReceiveFolderTable(ULONG, LPMAPITABLE*) {
  MAPI_FAULT_POINT("IMsgStore::GetReceiveFolderTable");
  return MAPI_E_NO_SUPPORT;
}
STDMETHODIMP StoreObj::StoreLogoff(ULONG*) {
  MAPI_FAULT_POINT("IMsgStore::StoreLogoff");
  return MAPI_E_NO_SUPPORT;
}
STDMETHODIMP StoreObj::AbortSubmit(ULONG, LPENTRYID, ULONG) {
  MAPI_FAULT_POINT("IMsgStore::AbortSubmit");
  return MAPI_E_NO_SUPPORT;
}
STDMETHODIMP StoreObj::GetOutgoingQueue(ULONG, LPMAPITABLE*) {
  MAPI_FAULT_POINT("IMsgStore::GetOutgoingQueue");
  return MAPI_E_NO_SUPPORT;
}
STDMETHODIMP StoreObj::SetLockState(LPMESSAGE, ULONG) {
  MAPI_FAULT_POINT("IMsgStore::SetLockState");
  return MAPI_E_NO_SUPPORT;
}
STDMETHODIMP StoreObj::FinishedMsg(ULONG, ULONG, LPENTRYID) {
  MAPI_FAULT_POINT("IMsgStore::FinishedMsg");
  return MAPI_E_NO_SUPPORT;
}
STDMETHODIMP StoreObj::NotifyNewMail(void*) {
  MAPI_FAULT_POINT("IMsgStore::NotifyNewMail");
  return MAPI_E_NO_SUPPORT;
}

// ---- the contracts with profiles and sessions ----

STANDIN_API HRESULT CreateStoreFile(const std::u16string& path, const std::u16string& displayName) {
  std::string posix = ToPosixPath(path);
  if (posix.empty()) return MAPI_E_NOT_FOUND;
  NewStoreName name(posix);
  HRESULT hr = name.Check();
  if (FAILED(hr)) return hr;
  {
    std::shared_ptr<StoreFile> file;
    hr = StoreFile::Create(name.partial(), &file);
    if (FAILED(hr)) return hr;
    CInterfacePtr<IMsgStore> store(new StoreObj(std::move(file), displayName, true));
    CMapiBuffer<MAPIERROR> err;
    hr = HrValidateIPMSubtree(store.Get(), MAPI_FULL_IPM_TREE | MAPI_FORCE_CREATE, nullptr, nullptr, err.Put());
    if (SUCCEEDED(hr) && !displayName.empty()) {
      SPropValue display{};
      display.ulPropTag = PR_DISPLAY_NAME_W;
      display.Value.lpszW = const_cast<LPWSTR>(reinterpret_cast<LPCWSTR>(displayName.c_str()));
      hr = store->SetProps(1, &display, nullptr);
    }
    if (FAILED(hr)) return hr;
  }  // the store is closed here: only a closed file moves with its contents
  return name.Publish();
}

STANDIN_API HRESULT OpenStoreFile(const std::u16string& path, const std::u16string& displayName, ULONG flags,
                                  LPMDB* out) {
  if (!out) return MAPI_E_INVALID_PARAMETER;
  *out = nullptr;
  std::string posix = ToPosixPath(path);
  if (posix.empty()) return MAPI_E_NOT_FOUND;
  // A file the mail client itself wrote is only ever read.
  if (PstFile::HasMagic(posix)) return OpenPstStore(posix, displayName, out);
  std::shared_ptr<StoreFile> file;
  HRESULT hr = StoreFile::Open(posix, &file);
  if (FAILED(hr)) return hr;
  (void)flags;  // store files are always opened for writing, as a personal-folders provider does
  *out = new StoreObj(std::move(file), displayName, true);
  return S_OK;
}

STANDIN_API HRESULT ReadStoreUid(const std::u16string& path, MAPIUID* uid) {
  if (!uid) return MAPI_E_INVALID_PARAMETER;
  std::string posix = ToPosixPath(path);
  if (posix.empty()) return MAPI_E_NOT_FOUND;
  if (PstFile::HasMagic(posix)) {
    std::shared_ptr<PstFile> pst;
    HRESULT hr = PstFile::Open(posix, &pst);
    if (FAILED(hr)) return hr;
    *uid = pst->uid();
    return S_OK;
  }
  std::shared_ptr<StoreFile> file;
  HRESULT hr = StoreFile::Open(posix, &file);
  if (FAILED(hr)) return hr;
  *uid = file->uid();
  return S_OK;
}

}  // namespace standin::mapi

namespace standin {

struct StoreBatch::State {
  std::shared_ptr<mapi::StoreFile> file;
  std::optional<mapi::StoreFile::Transaction> txn;
};

StoreBatch::StoreBatch(IMsgStore* store) {
  auto* ours = dynamic_cast<mapi::StoreObj*>(store);
  if (!ours) {
    status_ = MAPI_E_INVALID_PARAMETER;
    return;
  }
  state_ = new State{ours->file(), std::nullopt};
  state_->txn.emplace(*state_->file);
  status_ = state_->txn->status();
}

StoreBatch::~StoreBatch() { delete state_; }

HRESULT StoreBatch::Commit() {
  if (FAILED(status_)) return status_;
  HRESULT hr = state_->txn->Commit();
  state_->txn.reset();
  if (SUCCEEDED(hr)) hr = state_->file->CommitGroup();
  state_->txn.emplace(*state_->file);
  status_ = FAILED(hr) ? hr : state_->txn->status();
  return hr;
}

}  // namespace standin
