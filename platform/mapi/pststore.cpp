// The MAPI objects over a real personal-folders file: a store, its folders,
// messages and attachments, all read-only. Copies out of it go through the
// target's own interface (CreateMessage, SetProps, ModifyRecipients,
// CreateAttach, CreateFolder), so any store can receive them.
#include "owners/MapiOwners.h"
#include "pstfile.h"
#include "store.h"

#include <algorithm>
#include <cstring>

#include <standin/root.h>
#include <wcrt.h>

namespace standin::mapi {

namespace {

// The file's own node identifier of its message store.
constexpr uint32_t kStoreNid = 0x21;
constexpr ULONG kReadOnlySupportMask = 0x00000001 /*ENTRYID_UNIQUE*/ | 0x00000002 /*READONLY*/ |
                                       0x00000200 /*MV_PROPS_OK*/ | 0x00001000 /*RESTRICTION_OK*/ |
                                       0x00040000 /*UNICODE_OK*/;
constexpr LONG kReadAccess = 0x2;  // MAPI_ACCESS_READ

void AddPstIdentity(const PstFile& file, uint32_t node, uint32_t parent, ULONG objectType, Row* row) {
  AddIdentityProps(file.uid(), [&](NodeId n) { return file.EntryId(n); }, kStoreNid, node, parent, objectType, row);
}

// What a copy may carry of an object's properties.
Row CopyableProps(const Row& row, const SPropTagArray* exclude) {
  Row copy;
  for (const OwnedProp& p : row)
    if (!IsComputedProp(p.tag) && !TagListed(exclude, p.tag)) copy.push_back(p);
  return copy;
}

// Sets props on target through its own SetProps; problems with single
// properties are the target's to report, not a failed copy.
HRESULT SetAll(IMAPIProp* target, const Row& props) {
  if (props.empty()) return S_OK;
  CMapiBuffer<SPropValue> values;
  ULONG count = 0;
  HRESULT hr = BuildPropArray(props, nullptr, &count, values.Put());
  if (FAILED(hr)) return hr;
  CMapiBuffer<SPropProblemArray> problems;
  hr = target->SetProps(count, values.Get(), problems.Put());
  return FAILED(hr) ? hr : S_OK;
}

HRESULT ReadOnlyTable(std::vector<Row> rows, const std::vector<ULONG>& columns, LPMAPITABLE* out) {
  if (!out) return MAPI_E_INVALID_PARAMETER;
  *out = NewRowTable(std::move(rows), columns, "IMAPITable");
  return *out ? S_OK : MAPI_E_NOT_ENOUGH_MEMORY;
}

std::string Point(const char* iface, const char* method) { return std::string(iface) + "::" + method; }

// IMAPIProp over a row computed on demand; every write is refused.
template <class I>
class PstProp : public ComObject<I> {
 public:
  STDMETHODIMP GetLastError(HRESULT, ULONG, LPMAPIERROR*) override {
    MAPI_FAULT_POINT(Point(iface_, "GetLastError").c_str());
    return MAPI_E_NO_SUPPORT;
  }
  STDMETHODIMP SaveChanges(ULONG) override {
    MAPI_FAULT_POINT(Point(iface_, "SaveChanges").c_str());
    return MAPI_E_NO_ACCESS;
  }
  STDMETHODIMP GetProps(LPSPropTagArray tags, ULONG, ULONG* count, LPSPropValue* out) override {
    MAPI_FAULT_POINT(Point(iface_, "GetProps").c_str());
    Row row;
    HRESULT hr = FullRow(&row);
    if (FAILED(hr)) return hr;
    return PropsFromRow(row, tags, count, out);
  }
  STDMETHODIMP GetPropList(ULONG, LPSPropTagArray* out) override {
    MAPI_FAULT_POINT(Point(iface_, "GetPropList").c_str());
    Row row;
    HRESULT hr = FullRow(&row);
    if (FAILED(hr)) return hr;
    return PropListFromRow(row, out);
  }
  STDMETHODIMP OpenProperty(ULONG, LPCIID, ULONG, ULONG, LPUNKNOWN*) override {
    MAPI_FAULT_POINT(Point(iface_, "OpenProperty").c_str());
    return MAPI_E_NO_SUPPORT;
  }
  STDMETHODIMP SetProps(ULONG, LPSPropValue, LPSPropProblemArray* problems) override {
    MAPI_FAULT_POINT(Point(iface_, "SetProps").c_str());
    if (problems) *problems = nullptr;
    return MAPI_E_NO_ACCESS;
  }
  STDMETHODIMP DeleteProps(LPSPropTagArray, LPSPropProblemArray* problems) override {
    MAPI_FAULT_POINT(Point(iface_, "DeleteProps").c_str());
    if (problems) *problems = nullptr;
    return MAPI_E_NO_ACCESS;
  }
  STDMETHODIMP CopyTo(ULONG, LPCIID, LPSPropTagArray, ULONG_PTR, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                      LPSPropProblemArray*) override {
    MAPI_FAULT_POINT(Point(iface_, "CopyTo").c_str());
    return MAPI_E_NO_SUPPORT;
  }
  STDMETHODIMP CopyProps(LPSPropTagArray, ULONG_PTR, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                         LPSPropProblemArray*) override {
    MAPI_FAULT_POINT(Point(iface_, "CopyProps").c_str());
    return MAPI_E_NO_SUPPORT;
  }
  STDMETHODIMP GetNamesFromIDs(LPSPropTagArray*, LPGUID, ULONG, ULONG*, LPMAPINAMEID**) override {
    MAPI_FAULT_POINT(Point(iface_, "GetNamesFromIDs").c_str());
    return MAPI_E_NO_SUPPORT;
  }
  STDMETHODIMP GetIDsFromNames(ULONG, LPMAPINAMEID*, ULONG, LPSPropTagArray*) override {
    MAPI_FAULT_POINT(Point(iface_, "GetIDsFromNames").c_str());
    return MAPI_E_NO_SUPPORT;
  }

 protected:
  PstProp(std::shared_ptr<PstFile> file, const char* iface) : file_(std::move(file)), iface_(iface) {}
  virtual HRESULT FullRow(Row* row) = 0;

  std::shared_ptr<PstFile> file_;
  const char* iface_;
};

HRESULT OpenPstNode(const std::shared_ptr<PstFile>& file, uint32_t node, LPCIID iid, ULONG* objType,
                    LPUNKNOWN* out);

class PstAttach final : public PstProp<IAttach> {
 public:
  PstAttach(std::shared_ptr<PstFile> file, Row props) : PstProp(std::move(file), "IAttach"), props_(std::move(props)) {}

  // The stored properties only, as the stand-in's own attachments list theirs.
  STDMETHODIMP GetPropList(ULONG, LPSPropTagArray* out) override {
    MAPI_FAULT_POINT("IAttach::GetPropList");
    return PropListFromRow(CopyableProps(props_, nullptr), out);
  }

 protected:
  bool Supports(REFIID riid) const override { return riid == IID_IAttachment || riid == IID_IMAPIProp; }
  HRESULT FullRow(Row* row) override {
    *row = props_;
    PutProp(row, MakeLong(PR_ATTACH_SIZE, static_cast<LONG>(RowSize(props_))));
    PutProp(row, MakeLong(PR_OBJECT_TYPE, MAPI_ATTACH));
    return S_OK;
  }

 private:
  Row props_;
};

class PstMessage final : public PstProp<IMessage> {
 public:
  static HRESULT Load(const std::shared_ptr<PstFile>& file, uint32_t node, PstMessage** out) {
    std::unique_ptr<PstMessage> message(new PstMessage(file, node));
    HRESULT hr = file->ItemProps(node, &message->props_);
    if (SUCCEEDED(hr)) hr = file->MessageParts(node, &message->recips_, &message->attachs_);
    if (FAILED(hr)) return hr;
    *out = message.release();
    return S_OK;
  }

  STDMETHODIMP CopyTo(ULONG ciidExclude, LPCIID rgiidExclude, LPSPropTagArray exclude, ULONG_PTR, LPMAPIPROGRESS,
                      LPCIID iid, LPVOID dest, ULONG, LPSPropProblemArray* problems) override {
    MAPI_FAULT_POINT("IMessage::CopyTo");
    if (problems) *problems = nullptr;
    if (!dest) return MAPI_E_INVALID_PARAMETER;
    if (iid && *iid != IID_IMessage && *iid != IID_IMAPIProp && *iid != IID_IUnknown)
      return MAPI_E_INTERFACE_NOT_SUPPORTED;
    if (ciidExclude && !rgiidExclude) return MAPI_E_INVALID_PARAMETER;
    auto* target = static_cast<IMessage*>(dest);
    bool subObjects = true;
    for (ULONG i = 0; i < ciidExclude; ++i)
      if (rgiidExclude[i] == IID_IMessage) subObjects = false;
    HRESULT hr = SetAll(target, CopyableProps(props_, exclude));
    if (FAILED(hr)) return hr;
    if (subObjects && !TagListed(exclude, PR_MESSAGE_RECIPIENTS) && !recips_.empty()) {
      std::vector<Row> rows;
      for (const Row& r : recips_) {
        rows.push_back(r);
        RemoveProp(&rows.back(), PROP_ID(PR_ROWID));
      }
      std::vector<const Row*> pointers;
      for (const Row& r : rows) pointers.push_back(&r);
      CRowSet set;
      hr = BuildRowSet(pointers, nullptr, set.Put());
      if (FAILED(hr)) return hr;
      hr = target->ModifyRecipients(0, reinterpret_cast<LPADRLIST>(set.Get()));
      if (FAILED(hr)) return hr;
    }
    if (subObjects && !TagListed(exclude, PR_MESSAGE_ATTACHMENTS))
      for (const Row& a : attachs_) {
        ULONG num = 0;
        CInterfacePtr<IAttach> attach;
        hr = target->CreateAttach(nullptr, 0, &num, attach.Put());
        if (SUCCEEDED(hr)) hr = SetAll(attach.Get(), CopyableProps(a, nullptr));
        if (SUCCEEDED(hr)) hr = attach->SaveChanges(0);
        if (FAILED(hr)) return hr;
      }
    return S_OK;
  }

  STDMETHODIMP GetAttachmentTable(ULONG, LPMAPITABLE* out) override {
    MAPI_FAULT_POINT("IMessage::GetAttachmentTable");
    std::vector<Row> rows;
    for (const Row& a : attachs_) {
      Row row = a;
      PutProp(&row, MakeLong(PR_ATTACH_SIZE, static_cast<LONG>(RowSize(a))));
      const OwnedProp* num = FindProp(a, PR_ATTACH_NUM);
      if (num) PutProp(&row, MakeBinary(PR_INSTANCE_KEY, num->data.data(), num->data.size()));
      rows.push_back(std::move(row));
    }
    return ReadOnlyTable(std::move(rows), kAttachmentColumns, out);
  }
  STDMETHODIMP OpenAttach(ULONG num, LPCIID, ULONG, LPATTACH* out) override {
    MAPI_FAULT_POINT("IMessage::OpenAttach");
    if (!out) return MAPI_E_INVALID_PARAMETER;
    *out = nullptr;
    if (num >= attachs_.size()) return MAPI_E_NOT_FOUND;
    *out = new PstAttach(file_, attachs_[num]);
    return S_OK;
  }
  STDMETHODIMP CreateAttach(LPCIID, ULONG, ULONG*, LPATTACH*) override {
    MAPI_FAULT_POINT("IMessage::CreateAttach");
    return MAPI_E_NO_ACCESS;
  }
  STDMETHODIMP DeleteAttach(ULONG, ULONG_PTR, LPMAPIPROGRESS, ULONG) override {
    MAPI_FAULT_POINT("IMessage::DeleteAttach");
    return MAPI_E_NO_ACCESS;
  }
  STDMETHODIMP GetRecipientTable(ULONG, LPMAPITABLE* out) override {
    MAPI_FAULT_POINT("IMessage::GetRecipientTable");
    std::vector<Row> rows = recips_;
    for (Row& r : rows) {
      const OwnedProp* id = FindProp(r, PR_ROWID);
      if (id) PutProp(&r, MakeBinary(PR_INSTANCE_KEY, id->data.data(), id->data.size()));
    }
    return ReadOnlyTable(std::move(rows), kRecipientColumns, out);
  }
  STDMETHODIMP ModifyRecipients(ULONG, LPADRLIST) override {
    MAPI_FAULT_POINT("IMessage::ModifyRecipients");
    return MAPI_E_NO_ACCESS;
  }
  STDMETHODIMP SubmitMessage(ULONG) override {
    MAPI_FAULT_POINT("IMessage::SubmitMessage");
    return MAPI_E_NO_ACCESS;
  }
  STDMETHODIMP SetReadFlag(ULONG) override {
    MAPI_FAULT_POINT("IMessage::SetReadFlag");
    return MAPI_E_NO_ACCESS;
  }

  // The message's row as its folder's contents table shows it.
  Row TableRow() const {
    Row row;
    const_cast<PstMessage*>(this)->FullRow(&row);
    return row;
  }

 protected:
  bool Supports(REFIID riid) const override { return riid == IID_IMessage || riid == IID_IMAPIProp; }
  HRESULT FullRow(Row* row) override {
    *row = props_;
    AddPstIdentity(*file_, node_, file_->MessageFolder(node_), MAPI_MESSAGE, row);
    // The size is the one the file states, which its contents table shows
    // without reading the message whole; counted as the stand-in's own
    // stores count only where the file states none.
    if (!FindProp(props_, PR_MESSAGE_SIZE)) {
      size_t size = RowSize(props_);
      for (const Row& r : recips_) size += RowSize(r);
      for (const Row& a : attachs_) size += RowSize(a);
      PutProp(row, MakeLong(PR_MESSAGE_SIZE, static_cast<LONG>(std::min<size_t>(size, 0x7FFFFFFF))));
    }
    PutProp(row, MakeBool(PR_HASATTACH, !attachs_.empty()));
    PutProp(row, MakeLong(PR_ACCESS, kReadAccess));
    return S_OK;
  }

 private:
  PstMessage(std::shared_ptr<PstFile> file, uint32_t node) : PstProp(std::move(file), "IMessage"), node_(node) {}
  uint32_t node_;
  Row props_;
  std::vector<Row> recips_;
  std::vector<Row> attachs_;
};

// What a contents table's row of message node shows beyond its stored
// values, as its open message does: attachments as its flags say, and the
// size the file states (where it states none, the message is read whole to
// count it).
void AddTableState(const std::shared_ptr<PstFile>& file, uint32_t node, const std::vector<ULONG>* columns, Row* row) {
  auto asked = [columns](ULONG tag) {
    return !columns || std::find(columns->begin(), columns->end(), tag) != columns->end();
  };
  const OwnedProp* flags = FindProp(*row, PR_MESSAGE_FLAGS);
  PutProp(row, MakeBool(PR_HASATTACH, flags && flags->data.size() == 4 &&
                                          (flags->data[0] & static_cast<char>(MSGFLAG_HASATTACH)) != 0));
  PutProp(row, MakeLong(PR_ACCESS, kReadAccess));
  PstMessage* message = nullptr;
  if (!FindProp(*row, PR_MESSAGE_SIZE) && asked(PR_MESSAGE_SIZE) && SUCCEEDED(PstMessage::Load(file, node, &message))) {
    CInterfacePtr<IMessage> owner(message);
    Row whole = message->TableRow();
    if (const OwnedProp* size = FindProp(whole, PR_MESSAGE_SIZE)) PutProp(row, *size);
  }
}

class PstFolder final : public PstProp<IMAPIFolder> {
 public:
  PstFolder(std::shared_ptr<PstFile> file, uint32_t node) : PstProp(std::move(file), "IMAPIFolder"), node_(node) {}

  // Props, then (unless excluded) the messages and, merged by name, the
  // sub-folders, as the stand-in's own folders copy.
  STDMETHODIMP CopyTo(ULONG, LPCIID, LPSPropTagArray exclude, ULONG_PTR, LPMAPIPROGRESS, LPCIID iid, LPVOID dest,
                      ULONG, LPSPropProblemArray* problems) override {
    MAPI_FAULT_POINT("IMAPIFolder::CopyTo");
    if (problems) *problems = nullptr;
    if (!dest) return MAPI_E_INVALID_PARAMETER;
    if (iid && *iid != IID_IMAPIFolder) return MAPI_E_INTERFACE_NOT_SUPPORTED;
    return CopyInto(static_cast<IMAPIFolder*>(dest), exclude);
  }

  STDMETHODIMP GetContentsTable(ULONG flags, LPMAPITABLE* out) override {
    MAPI_FAULT_POINT("IMAPIFolder::GetContentsTable");
    if (!out) return MAPI_E_INVALID_PARAMETER;
    *out = nullptr;
    if (!file_->FindFolder(node_)) return MAPI_E_OBJECT_DELETED;
    // Rows are read when first asked for: of each message only its small
    // values, and only the columns asked for by then.
    std::shared_ptr<PstFile> file = file_;
    const uint32_t node = node_;
    const bool associated = (flags & MAPI_ASSOCIATED) != 0;  // associated contents are not carried
    auto load = [file, node, associated](const std::vector<ULONG>* columns, std::vector<Row>* rows) -> HRESULT {
      rows->clear();
      const PstFile::Folder* folder = file->FindFolder(node);
      if (!folder) return MAPI_E_OBJECT_DELETED;
      if (associated) return S_OK;
      std::vector<ULONG> ids;
      if (columns) {
        for (ULONG tag : *columns) ids.push_back(PROP_ID(tag));
        ids.push_back(PROP_ID(PR_MESSAGE_FLAGS));  // whether it has attachments
      }
      for (uint32_t m : folder->messages) {
        Row row;
        // A message that cannot be read is listed by its identity alone and
        // fails its own open, so that a copy goes on with the rest.
        if (SUCCEEDED(file->ItemProps(m, &row, columns ? &ids : nullptr, kMaxTableValueBytes)))
          AddTableState(file, m, columns, &row);
        else
          row.clear();
        AddPstIdentity(*file, m, node, MAPI_MESSAGE, &row);
        rows->push_back(std::move(row));
      }
      return S_OK;
    };
    *out = NewLoadedRowTable(std::move(load), kContentsColumns, "IMAPITable");
    return *out ? S_OK : MAPI_E_NOT_ENOUGH_MEMORY;
  }

  STDMETHODIMP GetHierarchyTable(ULONG flags, LPMAPITABLE* out) override {
    MAPI_FAULT_POINT("IMAPIFolder::GetHierarchyTable");
    if (!out) return MAPI_E_INVALID_PARAMETER;
    *out = nullptr;
    std::vector<Row> rows;
    struct Pending {
      uint32_t node;
      LONG depth;
    };
    std::vector<Pending> stack{{node_, 0}};
    while (!stack.empty()) {
      Pending at = stack.back();
      stack.pop_back();
      const PstFile::Folder* folder = file_->FindFolder(at.node);
      if (!folder) return MAPI_E_OBJECT_DELETED;
      std::vector<Pending> next;
      for (uint32_t sub : folder->folders) {
        Row row;
        HRESULT hr = FolderRow(sub, &row);
        if (FAILED(hr)) return hr;
        PutProp(&row, MakeLong(PROP_TAG(PT_LONG, 0x3005) /*PR_DEPTH*/, at.depth));
        rows.push_back(std::move(row));
        if (flags & CONVENIENT_DEPTH) next.push_back({sub, at.depth + 1});
      }
      stack.insert(stack.end(), next.rbegin(), next.rend());
    }
    return ReadOnlyTable(std::move(rows), kHierarchyColumns, out);
  }

  STDMETHODIMP OpenEntry(ULONG cb, LPENTRYID id, LPCIID iid, ULONG, ULONG* objType, LPUNKNOWN* out) override {
    MAPI_FAULT_POINT("IMAPIFolder::OpenEntry");
    if (!out) return MAPI_E_INVALID_PARAMETER;
    *out = nullptr;
    uint32_t node = node_;
    if (cb || id) {
      HRESULT hr = file_->ParseEntryId(id, cb, &node);
      if (FAILED(hr)) return hr;
    }
    return OpenPstNode(file_, node, iid, objType, out);
  }
  STDMETHODIMP SetSearchCriteria(LPSRestriction, LPENTRYLIST, ULONG) override {
    MAPI_FAULT_POINT("IMAPIFolder::SetSearchCriteria");
    return MAPI_E_NO_SUPPORT;
  }
  STDMETHODIMP GetSearchCriteria(ULONG, LPSRestriction*, LPENTRYLIST*, ULONG*) override {
    MAPI_FAULT_POINT("IMAPIFolder::GetSearchCriteria");
    return MAPI_E_NO_SUPPORT;
  }
  STDMETHODIMP CreateMessage(LPCIID, ULONG, LPMESSAGE* out) override {
    MAPI_FAULT_POINT("IMAPIFolder::CreateMessage");
    if (out) *out = nullptr;
    return MAPI_E_NO_ACCESS;
  }

  STDMETHODIMP CopyMessages(LPENTRYLIST list, LPCIID iid, LPVOID dest, ULONG_PTR, LPMAPIPROGRESS progress,
                            ULONG flags) override {
    MAPI_FAULT_POINT("IMAPIFolder::CopyMessages");
    if (!list || !dest) return MAPI_E_INVALID_PARAMETER;
    if (iid && *iid != IID_IMAPIFolder) return MAPI_E_INTERFACE_NOT_SUPPORTED;
    if (flags & MAPI_MOVE) return MAPI_E_NO_ACCESS;  // a move would delete here
    auto* target = static_cast<IMAPIFolder*>(dest);
    bool partial = false;
    for (ULONG i = 0; i < list->cValues; ++i) {
      uint32_t node = 0;
      if (FAILED(file_->ParseEntryId(list->lpbin[i].lpb, list->lpbin[i].cb, &node)) ||
          file_->MessageFolder(node) != node_) {
        partial = true;  // MAPI goes on with the rest and reports a partial result
        continue;
      }
      HRESULT hr = CopyMessage(node, target);
      if (FAILED(hr)) return hr;
      if (progress) {
        hr = progress->Progress(i + 1, i + 1, list->cValues);
        if (hr == MAPI_E_USER_CANCEL) return hr;
      }
    }
    return partial ? MAPI_W_PARTIAL_COMPLETION : S_OK;
  }

  STDMETHODIMP DeleteMessages(LPENTRYLIST, ULONG_PTR, LPMAPIPROGRESS, ULONG) override {
    MAPI_FAULT_POINT("IMAPIFolder::DeleteMessages");
    return MAPI_E_NO_ACCESS;
  }
  STDMETHODIMP CreateFolder(ULONG, LPWSTR, LPWSTR, LPCIID, ULONG, LPMAPIFOLDER* out) override {
    MAPI_FAULT_POINT("IMAPIFolder::CreateFolder");
    if (out) *out = nullptr;
    return MAPI_E_NO_ACCESS;
  }
  STDMETHODIMP CopyFolder(ULONG, LPENTRYID, LPCIID, LPVOID, LPWSTR, ULONG_PTR, LPMAPIPROGRESS, ULONG) override {
    MAPI_FAULT_POINT("IMAPIFolder::CopyFolder");
    return MAPI_E_NO_SUPPORT;
  }
  STDMETHODIMP DeleteFolder(ULONG, LPENTRYID, ULONG_PTR, LPMAPIPROGRESS, ULONG) override {
    MAPI_FAULT_POINT("IMAPIFolder::DeleteFolder");
    return MAPI_E_NO_ACCESS;
  }
  STDMETHODIMP SetReadFlags(LPENTRYLIST, ULONG_PTR, LPMAPIPROGRESS, ULONG) override {
    MAPI_FAULT_POINT("IMAPIFolder::SetReadFlags");
    return MAPI_E_NO_ACCESS;
  }
  STDMETHODIMP GetMessageStatus(ULONG, LPENTRYID, ULONG, ULONG*) override {
    MAPI_FAULT_POINT("IMAPIFolder::GetMessageStatus");
    return MAPI_E_NO_SUPPORT;
  }
  STDMETHODIMP SetMessageStatus(ULONG, LPENTRYID, ULONG, ULONG, ULONG*) override {
    MAPI_FAULT_POINT("IMAPIFolder::SetMessageStatus");
    return MAPI_E_NO_ACCESS;
  }
  STDMETHODIMP SaveContentsSort(LPSSortOrderSet, ULONG) override {
    MAPI_FAULT_POINT("IMAPIFolder::SaveContentsSort");
    return MAPI_E_NO_ACCESS;
  }
  STDMETHODIMP EmptyFolder(ULONG_PTR, LPMAPIPROGRESS, ULONG) override {
    MAPI_FAULT_POINT("IMAPIFolder::EmptyFolder");
    return MAPI_E_NO_ACCESS;
  }

 protected:
  bool Supports(REFIID riid) const override {
    return riid == IID_IMAPIFolder || riid == IID_IMAPIContainer || riid == IID_IMAPIProp;
  }
  HRESULT FullRow(Row* row) override { return FolderRow(node_, row); }

 private:
  HRESULT FolderRow(uint32_t node, Row* row) {
    const PstFile::Folder* folder = file_->FindFolder(node);
    if (!folder) return MAPI_E_OBJECT_DELETED;
    HRESULT hr = file_->ItemProps(node, row);
    if (FAILED(hr)) return hr;
    bool root = node == file_->root();
    AddPstIdentity(*file_, node, root ? node : folder->parent, MAPI_FOLDER, row);
    PutProp(row, MakeLong(PR_FOLDER_TYPE, root ? FOLDER_ROOT : FOLDER_GENERIC));
    // What the file holds, not what its counters claim.
    PutProp(row, MakeLong(PR_CONTENT_COUNT, static_cast<LONG>(folder->messages.size())));
    PutProp(row, MakeBool(PR_SUBFOLDERS, !folder->folders.empty()));
    PutProp(row, MakeLong(PR_ACCESS, kReadAccess));
    return S_OK;
  }

  HRESULT CopyMessage(uint32_t node, IMAPIFolder* target) {
    PstMessage* loaded = nullptr;
    HRESULT hr = PstMessage::Load(file_, node, &loaded);
    if (FAILED(hr)) return hr;
    CInterfacePtr<IMessage> source(loaded);
    CInterfacePtr<IMessage> copy;
    hr = target->CreateMessage(nullptr, 0, copy.Put());
    if (SUCCEEDED(hr)) hr = source->CopyTo(0, nullptr, nullptr, 0, nullptr, &IID_IMessage, copy.Get(), 0, nullptr);
    if (SUCCEEDED(hr)) hr = copy->SaveChanges(0);
    return hr;
  }

  HRESULT CopyInto(IMAPIFolder* target, const SPropTagArray* exclude) {
    Row row;
    HRESULT hr = file_->ItemProps(node_, &row);
    if (SUCCEEDED(hr)) hr = SetAll(target, CopyableProps(row, exclude));
    if (FAILED(hr)) return hr;
    const PstFile::Folder* folder = file_->FindFolder(node_);
    if (!folder) return MAPI_E_OBJECT_DELETED;
    if (!TagListed(exclude, PR_CONTAINER_CONTENTS))
      for (uint32_t m : folder->messages) {
        hr = CopyMessage(m, target);
        if (FAILED(hr)) return hr;
      }
    if (TagListed(exclude, PR_CONTAINER_HIERARCHY)) return S_OK;
    for (uint32_t sub : folder->folders) {
      Row props;
      hr = file_->ItemProps(sub, &props);
      if (FAILED(hr)) return hr;
      const OwnedProp* name = FindProp(props, PR_DISPLAY_NAME_W);
      std::u16string text = name ? WideOf(*name) : std::u16string();
      CInterfacePtr<IMAPIFolder> created;
      hr = target->CreateFolder(FOLDER_GENERIC, reinterpret_cast<LPWSTR>(text.data()), nullptr, nullptr,
                                MAPI_UNICODE | OPEN_IF_EXISTS, created.Put());
      if (FAILED(hr)) return hr;
      CInterfacePtr<PstFolder> child(new PstFolder(file_, sub));
      hr = child->CopyInto(created.Get(), nullptr);
      if (FAILED(hr)) return hr;
    }
    return S_OK;
  }

  uint32_t node_;
};

class PstStore final : public PstProp<IMsgStore> {
 public:
  PstStore(std::shared_ptr<PstFile> file, std::u16string displayName)
      : PstProp(std::move(file), "IMsgStore"), displayName_(std::move(displayName)) {}

  STDMETHODIMP Advise(ULONG, LPENTRYID, ULONG, LPMAPIADVISESINK, ULONG_PTR*) override {
    MAPI_FAULT_POINT("IMsgStore::Advise");
    return MAPI_E_NO_SUPPORT;
  }
  STDMETHODIMP Unadvise(ULONG_PTR) override {
    MAPI_FAULT_POINT("IMsgStore::Unadvise");
    return MAPI_E_NO_SUPPORT;
  }
  STDMETHODIMP CompareEntryIDs(ULONG cb1, LPENTRYID id1, ULONG cb2, LPENTRYID id2, ULONG, ULONG* result) override {
    MAPI_FAULT_POINT("IMsgStore::CompareEntryIDs");
    if (!result) return MAPI_E_INVALID_PARAMETER;
    uint32_t a = 0, b = 0;
    HRESULT hr = file_->ParseEntryId(id1, cb1, &a);
    if (SUCCEEDED(hr)) hr = file_->ParseEntryId(id2, cb2, &b);
    if (FAILED(hr)) return hr;
    *result = a == b ? TRUE : FALSE;
    return S_OK;
  }
  // MAPI_MODIFY is not refused here: the objects handed out refuse every write
  // themselves, and a reader that asks for write access can still read.
  STDMETHODIMP OpenEntry(ULONG cb, LPENTRYID id, LPCIID iid, ULONG, ULONG* objType, LPUNKNOWN* out) override {
    MAPI_FAULT_POINT("IMsgStore::OpenEntry");
    if (!out) return MAPI_E_INVALID_PARAMETER;
    *out = nullptr;
    uint32_t node = file_->root();
    if (cb || id) {
      HRESULT hr = file_->ParseEntryId(id, cb, &node);
      if (FAILED(hr)) return hr;
    }
    return OpenPstNode(file_, node, iid, objType, out);
  }
  STDMETHODIMP SetReceiveFolder(LPWSTR, ULONG, ULONG, LPENTRYID) override {
    MAPI_FAULT_POINT("IMsgStore::SetReceiveFolder");
    return MAPI_E_NO_ACCESS;
  }
  // The file keeps no receive folders libpff reads; the IPM subtree's
  // "Inbox" receives everything.
  STDMETHODIMP GetReceiveFolder(LPWSTR, ULONG flags, ULONG* cb, LPENTRYID* id, LPWSTR* explicitClass) override {
    MAPI_FAULT_POINT("IMsgStore::GetReceiveFolder");
    if (!cb || !id) return MAPI_E_INVALID_PARAMETER;
    *cb = 0;
    *id = nullptr;
    if (explicitClass) *explicitClass = nullptr;
    uint32_t inbox = 0;
    HRESULT hr = FindInbox(&inbox);
    if (FAILED(hr)) return hr;
    std::string entry = file_->EntryId(inbox);
    CMapiBuffer<ENTRYID> block;
    hr = MAPIAllocateBuffer(static_cast<ULONG>(entry.size()), reinterpret_cast<void**>(block.Put()));
    if (FAILED(hr)) return hr;
    std::memcpy(block.Get(), entry.data(), entry.size());
    if (explicitClass) {
      void* text = nullptr;
      hr = MAPIAllocateMore((flags & MAPI_UNICODE) ? 2 : 1, block.Get(), &text);
      if (FAILED(hr)) return hr;
      std::memset(text, 0, (flags & MAPI_UNICODE) ? 2 : 1);
      *explicitClass = static_cast<LPWSTR>(text);
    }
    *cb = static_cast<ULONG>(entry.size());
    *id = block.Detach();
    return S_OK;
  }
  STDMETHODIMP GetReceiveFolderTable(ULONG, LPMAPITABLE*) override {
    MAPI_FAULT_POINT("IMsgStore::GetReceiveFolderTable");
    return MAPI_E_NO_SUPPORT;
  }
  STDMETHODIMP StoreLogoff(ULONG*) override {
    MAPI_FAULT_POINT("IMsgStore::StoreLogoff");
    return MAPI_E_NO_SUPPORT;
  }
  STDMETHODIMP AbortSubmit(ULONG, LPENTRYID, ULONG) override {
    MAPI_FAULT_POINT("IMsgStore::AbortSubmit");
    return MAPI_E_NO_ACCESS;
  }
  STDMETHODIMP GetOutgoingQueue(ULONG, LPMAPITABLE*) override {
    MAPI_FAULT_POINT("IMsgStore::GetOutgoingQueue");
    return MAPI_E_NO_SUPPORT;
  }
  STDMETHODIMP SetLockState(LPMESSAGE, ULONG) override {
    MAPI_FAULT_POINT("IMsgStore::SetLockState");
    return MAPI_E_NO_ACCESS;
  }
  STDMETHODIMP FinishedMsg(ULONG, ULONG, LPENTRYID) override {
    MAPI_FAULT_POINT("IMsgStore::FinishedMsg");
    return MAPI_E_NO_ACCESS;
  }
  STDMETHODIMP NotifyNewMail(void*) override {
    MAPI_FAULT_POINT("IMsgStore::NotifyNewMail");
    return MAPI_E_NO_SUPPORT;
  }

 protected:
  bool Supports(REFIID riid) const override { return riid == IID_IMsgStore || riid == IID_IMAPIProp; }

  HRESULT FullRow(Row* row) override {
    Row stored;
    HRESULT hr = file_->StoreProps(&stored);
    if (FAILED(hr)) return hr;
    // Special folders are named only while the tree has them.
    LONG mask = 0;
    for (const OwnedProp& p : stored) {
      bool special = false;
      for (const SpecialFolderBit& b : kSpecialFolderBits) {
        if (p.tag != b.tag) continue;
        special = true;
        uint32_t node = 0;
        if (SUCCEEDED(file_->ParseEntryId(p.data.data(), p.data.size(), &node)) && file_->FindFolder(node)) {
          std::string id = file_->EntryId(node);
          PutProp(row, MakeBinary(b.tag, id.data(), id.size()));
          mask |= b.bit;
        }
      }
      if (!special && !IsComputedProp(p.tag)) PutProp(row, p);
    }
    uint32_t inbox = 0;
    if (SUCCEEDED(FindInbox(&inbox))) mask |= 0x2;
    std::string id = file_->EntryId(kStoreNid);
    PutProp(row, MakeBinary(PR_ENTRYID, id.data(), id.size()));
    PutProp(row, MakeBinary(PR_STORE_ENTRYID, id.data(), id.size()));
    PutProp(row, MakeBinary(PR_RECORD_KEY, file_->uid().ab, sizeof file_->uid().ab));
    PutProp(row, MakeBinary(PR_STORE_RECORD_KEY, file_->uid().ab, sizeof file_->uid().ab));
    PutProp(row, MakeLong(PR_OBJECT_TYPE, MAPI_STORE));
    PutProp(row, MakeLong(PR_STORE_SUPPORT_MASK, static_cast<LONG>(kReadOnlySupportMask)));
    PutProp(row, MakeLong(PR_VALID_FOLDER_MASK, mask));
    PutProp(row, MakeLong(PR_ACCESS_LEVEL, 0));  // read-only
    if (!displayName_.empty() || !FindProp(*row, PR_DISPLAY_NAME_W))
      PutProp(row, MakeUnicode(PR_DISPLAY_NAME_W, displayName_));
    PutProp(row, MakeUnicode(PR_PST_PATH_W, ToWindowsPath(file_->path())));
    return S_OK;
  }

 private:
  HRESULT FindInbox(uint32_t* out) {
    Row stored;
    HRESULT hr = file_->StoreProps(&stored);
    if (FAILED(hr)) return hr;
    const OwnedProp* subtree = FindProp(stored, PR_IPM_SUBTREE_ENTRYID);
    uint32_t node = 0;
    const PstFile::Folder* folder = nullptr;
    if (!subtree || FAILED(file_->ParseEntryId(subtree->data.data(), subtree->data.size(), &node)) ||
        !(folder = file_->FindFolder(node)))
      return MAPI_E_NOT_FOUND;
    for (uint32_t sub : folder->folders) {
      Row props;
      hr = file_->ItemProps(sub, &props);
      if (FAILED(hr)) return hr;
      const OwnedProp* name = FindProp(props, PR_DISPLAY_NAME_W);
      if (name && ToUtf8(WideOf(*name)) == "Inbox") {
        *out = sub;
        return S_OK;
      }
    }
    return MAPI_E_NOT_FOUND;
  }

  std::u16string displayName_;
};

HRESULT OpenPstNode(const std::shared_ptr<PstFile>& file, uint32_t node, LPCIID iid, ULONG* objType,
                    LPUNKNOWN* out) {
  if (file->FindFolder(node)) {
    if (iid && *iid != IID_IMAPIFolder && *iid != IID_IMAPIContainer && *iid != IID_IMAPIProp && *iid != IID_IUnknown)
      return MAPI_E_INTERFACE_NOT_SUPPORTED;
    *out = static_cast<IMAPIFolder*>(new PstFolder(file, node));
    if (objType) *objType = MAPI_FOLDER;
    return S_OK;
  }
  if (file->MessageFolder(node)) {
    if (iid && *iid != IID_IMessage && *iid != IID_IMAPIProp && *iid != IID_IUnknown)
      return MAPI_E_INTERFACE_NOT_SUPPORTED;
    PstMessage* message = nullptr;
    HRESULT hr = PstMessage::Load(file, node, &message);
    if (FAILED(hr)) return hr;
    *out = static_cast<IMessage*>(message);
    if (objType) *objType = MAPI_MESSAGE;
    return S_OK;
  }
  return MAPI_E_NOT_FOUND;
}

}  // namespace

HRESULT OpenPstStore(const std::string& posixPath, const std::u16string& displayName, LPMDB* out) {
  std::shared_ptr<PstFile> file;
  HRESULT hr = PstFile::Open(posixPath, &file);
  if (FAILED(hr)) return hr;
  *out = new PstStore(std::move(file), displayName);
  return S_OK;
}

}  // namespace standin::mapi
