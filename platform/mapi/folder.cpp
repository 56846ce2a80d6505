#include "store.h"

#include <algorithm>
#include <cstring>

#include <wcrt.h>

namespace standin::mapi {

const std::vector<ULONG> kHierarchyColumns = {PR_ENTRYID, PR_DISPLAY_NAME_W, PR_CONTENT_COUNT, PR_SUBFOLDERS,
                                              PR_CONTAINER_CLASS_W, PR_INSTANCE_KEY};
const std::vector<ULONG> kContentsColumns = {PR_ENTRYID, PR_SUBJECT_W, PR_MESSAGE_CLASS_W, PR_MESSAGE_SIZE,
                                             PR_CREATION_TIME, PR_LAST_MODIFICATION_TIME, PR_INSTANCE_KEY};


namespace {

// Computed folder properties beside the stored ones.
HRESULT AddFolderProps(StoreFile& file, NodeId node, NodeId parent, Row* row) {
  AddIdentityProps(file, node, parent, MAPI_FOLDER, row);
  PutProp(row, MakeLong(PR_FOLDER_TYPE, node == kRootNode ? FOLDER_ROOT : FOLDER_GENERIC));
  ULONG messages = 0, unread = 0, folders = 0;
  HRESULT hr = file.CountChildren(node, NodeKind::Message, &messages);
  if (SUCCEEDED(hr)) hr = file.CountUnread(node, &unread);
  if (SUCCEEDED(hr)) hr = file.CountChildren(node, NodeKind::Folder, &folders);
  if (FAILED(hr)) return hr;
  PutProp(row, MakeLong(PR_CONTENT_COUNT, static_cast<LONG>(messages)));
  PutProp(row, MakeLong(PR_CONTENT_UNREAD, static_cast<LONG>(unread)));
  PutProp(row, MakeBool(PR_SUBFOLDERS, folders != 0));
  PutProp(row, MakeLong(PR_ACCESS, 0x3F));
  return S_OK;
}

FolderObj* OurFolder(LPCIID iid, void* dest) {
  if (!dest || (iid && *iid != IID_IMAPIFolder)) return nullptr;
  return dynamic_cast<FolderObj*>(static_cast<IMAPIFolder*>(dest));
}

}  // namespace

FolderObj::FolderObj(std::shared_ptr<StoreFile> file, NodeId node, NodeId parent, bool modify)
    : file_(std::move(file)), node_(node), parent_(parent), modify_(modify) {}

bool FolderObj::Supports(REFIID riid) const {
  return riid == IID_IMAPIFolder || riid == IID_IMAPIContainer || riid == IID_IMAPIProp;
}

HRESULT FolderObj::FullRow(Row* row) {
  HRESULT hr = file_->ReadProps(node_, row);
  if (FAILED(hr)) return hr;
  return AddFolderProps(*file_, node_, parent_, row);
}

HRESULT FolderObj::WriteProps(const Row& props, std::vector<SPropProblem>* problems, bool noReplace) {
  (void)problems;
  StoreFile::Transaction txn(*file_);
  if (FAILED(txn.status())) return txn.status();
  Row existing;
  if (noReplace) {
    HRESULT hr = file_->ReadProps(node_, &existing);
    if (FAILED(hr)) return hr;
  }
  Row written;
  for (const OwnedProp& prop : props) {
    bool present = false;
    for (const OwnedProp& e : existing) present = present || PROP_ID(e.tag) == PROP_ID(prop.tag);
    if (present) continue;
    written.push_back(prop);
    if (PROP_ID(prop.tag) == PROP_ID(PR_DISPLAY_NAME_W)) {
      HRESULT hr = file_->SetName(node_, WideOf(prop));
      if (FAILED(hr)) return hr;
    }
  }
  HRESULT hr = file_->WriteProps(node_, written);
  if (FAILED(hr)) return hr;
  return txn.Commit();
}

STDMETHODIMP FolderObj::GetLastError(HRESULT, ULONG, LPMAPIERROR*) {
  MAPI_FAULT_POINT("IMAPIFolder::GetLastError");
  return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP FolderObj::SaveChanges(ULONG) {
  MAPI_FAULT_POINT("IMAPIFolder::SaveChanges");
  return S_OK;  // folder properties are written through as they are set
}

STDMETHODIMP FolderObj::GetProps(LPSPropTagArray tags, ULONG, ULONG* count, LPSPropValue* out) {
  MAPI_FAULT_POINT("IMAPIFolder::GetProps");
  Row row;
  HRESULT hr = FullRow(&row);
  if (FAILED(hr)) return hr == MAPI_E_NOT_FOUND ? MAPI_E_OBJECT_DELETED : hr;
  return PropsFromRow(row, tags, count, out);
}

STDMETHODIMP FolderObj::GetPropList(ULONG, LPSPropTagArray* out) {
  MAPI_FAULT_POINT("IMAPIFolder::GetPropList");
  Row row;
  HRESULT hr = FullRow(&row);
  if (FAILED(hr)) return hr;
  return PropListFromRow(row, out);
}

STDMETHODIMP FolderObj::OpenProperty(ULONG, LPCIID, ULONG, ULONG, LPUNKNOWN*) {
  MAPI_FAULT_POINT("IMAPIFolder::OpenProperty");
  return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP FolderObj::SetProps(ULONG count, LPSPropValue values, LPSPropProblemArray* problems) {
  MAPI_FAULT_POINT("IMAPIFolder::SetProps");
  if (problems) *problems = nullptr;
  if (!values && count) return MAPI_E_INVALID_PARAMETER;
  if (!modify_) return MAPI_E_NO_ACCESS;
  std::vector<SPropProblem> found;
  Row accepted, props;
  AcceptProps(count, values, IsComputedProp, &accepted, &found);
  for (OwnedProp& prop : accepted) PutProp(&props, Normalized(std::move(prop)));
  HRESULT hr = WriteProps(props, &found, false);
  if (FAILED(hr)) return hr;
  return MakeProblems(found, problems);
}

STDMETHODIMP FolderObj::DeleteProps(LPSPropTagArray tags, LPSPropProblemArray* problems) {
  MAPI_FAULT_POINT("IMAPIFolder::DeleteProps");
  if (problems) *problems = nullptr;
  if (!tags) return MAPI_E_INVALID_PARAMETER;
  if (!modify_) return MAPI_E_NO_ACCESS;
  return DeleteStoredProps(*file_, node_, tags);
}

// A folder onto another: its properties, then (unless PR_CONTAINER_CONTENTS
// or PR_CONTAINER_HIERARCHY is excluded) copies of its messages and of its
// sub-folders; a sub-folder whose name the target already has is merged.
STDMETHODIMP FolderObj::CopyTo(ULONG, LPCIID, LPSPropTagArray exclude, ULONG_PTR, LPMAPIPROGRESS, LPCIID iid,
                               LPVOID dest, ULONG flags, LPSPropProblemArray* problems) {
  MAPI_FAULT_POINT("IMAPIFolder::CopyTo");
  if (problems) *problems = nullptr;
  if (!dest) return MAPI_E_INVALID_PARAMETER;
  FolderObj* target = OurFolder(iid, dest);
  if (!target) return MAPI_E_INTERFACE_NOT_SUPPORTED;
  if (!target->modify_) return MAPI_E_NO_ACCESS;
  if (&target->file() == file_.get()) {
    // Never into itself or below itself.
    for (NodeId at = target->node();;) {
      if (at == node_) return MAPI_E_FOLDER_CYCLE;
      NodeInfo info;
      HRESULT hr = file_->GetNode(at, &info);
      if (FAILED(hr)) return hr;
      if (info.kind != NodeKind::Folder || at == kRootNode) break;
      at = info.parent;
    }
  }
  Row stored;
  HRESULT hr = file_->ReadProps(node_, &stored);
  if (FAILED(hr)) return hr;
  Row copy;
  for (const OwnedProp& p : stored)
    if (!IsComputedProp(p.tag) && !TagListed(exclude, p.tag)) copy.push_back(p);
  hr = target->WriteProps(copy, nullptr, (flags & MAPI_NOREPLACE) != 0);
  if (FAILED(hr)) return hr;
  return CopyChildren(node_, target->file(), target->node(), !TagListed(exclude, PR_CONTAINER_CONTENTS),
                      !TagListed(exclude, PR_CONTAINER_HIERARCHY));
}

HRESULT FolderObj::CopyChildren(NodeId from, StoreFile& dst, NodeId to, bool contents, bool hierarchy) {
  HRESULT hr = S_OK;
  if (contents) {
    std::vector<NodeInfo> messages;
    hr = file_->Children(from, NodeKind::Message, &messages);
    if (FAILED(hr)) return hr;
    for (const NodeInfo& m : messages) {
      hr = file_->CopyTree(m.id, dst, to, nullptr);
      if (FAILED(hr)) return hr;
    }
  }
  if (!hierarchy) return S_OK;
  std::vector<std::pair<NodeInfo, Row>> folders;
  hr = file_->ReadChildrenProps(from, NodeKind::Folder, &folders);
  if (FAILED(hr)) return hr;
  for (const auto& [info, props] : folders) {
    const OwnedProp* name = FindProp(props, PR_DISPLAY_NAME_W);
    NodeId existing = 0;
    hr = name ? dst.FindChildFolder(to, WideOf(*name), &existing) : MAPI_E_NOT_FOUND;
    if (hr == MAPI_E_NOT_FOUND) {
      hr = file_->CopyTree(info.id, dst, to, nullptr);
      if (FAILED(hr)) return hr;
      continue;
    }
    if (FAILED(hr)) return hr;
    if (existing == info.id && &dst == file_.get()) continue;
    hr = CopyChildren(info.id, dst, existing, true, true);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

STDMETHODIMP FolderObj::CopyProps(LPSPropTagArray, ULONG_PTR, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                                  LPSPropProblemArray*) {
  MAPI_FAULT_POINT("IMAPIFolder::CopyProps");
  return MAPI_E_NO_SUPPORT;
}
STDMETHODIMP FolderObj::GetNamesFromIDs(LPSPropTagArray*, LPGUID, ULONG, ULONG*, LPMAPINAMEID**) {
  MAPI_FAULT_POINT("IMAPIFolder::GetNamesFromIDs");
  return MAPI_E_NO_SUPPORT;
}
STDMETHODIMP FolderObj::GetIDsFromNames(ULONG, LPMAPINAMEID*, ULONG, LPSPropTagArray*) {
  MAPI_FAULT_POINT("IMAPIFolder::GetIDsFromNames");
  return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP FolderObj::GetContentsTable(ULONG flags, LPMAPITABLE* out) {
  MAPI_FAULT_POINT("IMAPIFolder::GetContentsTable");
  if (!out) return MAPI_E_INVALID_PARAMETER;
  *out = nullptr;
  // Rows are read when first asked for, with the columns asked for by then.
  std::shared_ptr<StoreFile> file = file_;
  const NodeId folder = node_;
  const bool associated = (flags & MAPI_ASSOCIATED) != 0;  // no associated contents are kept
  auto load = [file, folder, associated](const std::vector<ULONG>* columns, std::vector<Row>* rows) -> HRESULT {
    rows->clear();
    if (associated) return S_OK;
    std::vector<std::pair<NodeInfo, Row>> messages;
    std::vector<ULONG> ids;
    if (columns)
      for (ULONG tag : *columns) ids.push_back(PROP_ID(tag));
    HRESULT hr = columns ? file->ReadChildrenColumns(folder, NodeKind::Message, ids, kMaxTableValueBytes, &messages)
                         : file->ReadChildrenProps(folder, NodeKind::Message, &messages, kMaxTableValueBytes);
    if (FAILED(hr)) return hr;
    rows->reserve(messages.size());
    for (auto& [info, row] : messages) {
      AddIdentityProps(*file, info.id, folder, MAPI_MESSAGE, &row);
      if (columns) {  // a large folder's rows keep only what was asked for
        std::erase_if(row, [&ids](const OwnedProp& p) {
          return std::find(ids.begin(), ids.end(), PROP_ID(p.tag)) == ids.end();
        });
        row.shrink_to_fit();
      }
      rows->push_back(std::move(row));
    }
    return S_OK;
  };
  LPMAPITABLE table = NewLoadedRowTable(std::move(load), kContentsColumns, "IMAPITable");
  if (!table) return MAPI_E_NOT_ENOUGH_MEMORY;
  *out = table;
  return S_OK;
}

STDMETHODIMP FolderObj::GetHierarchyTable(ULONG flags, LPMAPITABLE* out) {
  MAPI_FAULT_POINT("IMAPIFolder::GetHierarchyTable");
  if (!out) return MAPI_E_INVALID_PARAMETER;
  *out = nullptr;
  std::vector<Row> rows;
  // Depth-first, parents before children; CONVENIENT_DEPTH walks the subtree.
  struct Pending {
    NodeId node;
    LONG depth;
  };
  std::vector<Pending> stack{{node_, 0}};
  while (!stack.empty()) {
    Pending at = stack.back();
    stack.pop_back();
    std::vector<std::pair<NodeInfo, Row>> folders;
    HRESULT hr = file_->ReadChildrenProps(at.node, NodeKind::Folder, &folders);
    if (FAILED(hr)) return hr;
    std::vector<Pending> next;
    for (auto& [info, row] : folders) {
      hr = AddFolderProps(*file_, info.id, at.node, &row);
      if (FAILED(hr)) return hr;
      PutProp(&row, MakeLong(PROP_TAG(PT_LONG, 0x3005) /*PR_DEPTH*/, at.depth));
      rows.push_back(std::move(row));
      if (flags & CONVENIENT_DEPTH) next.push_back({info.id, at.depth + 1});
    }
    stack.insert(stack.end(), next.rbegin(), next.rend());
  }
  LPMAPITABLE table = NewRowTable(std::move(rows), kHierarchyColumns, "IMAPITable");
  if (!table) return MAPI_E_NOT_ENOUGH_MEMORY;
  *out = table;
  return S_OK;
}

STDMETHODIMP FolderObj::OpenEntry(ULONG cb, LPENTRYID id, LPCIID iid, ULONG flags, ULONG* objType, LPUNKNOWN* out) {
  MAPI_FAULT_POINT("IMAPIFolder::OpenEntry");
  if (!out) return MAPI_E_INVALID_PARAMETER;
  *out = nullptr;
  NodeId node = node_;
  if (cb || id) {
    HRESULT hr = file_->ParseEntryId(id, cb, &node);
    if (FAILED(hr)) return hr;
  }
  if ((flags & MAPI_MODIFY) && !modify_) return MAPI_E_NO_ACCESS;
  if (!modify_) flags &= ~(MAPI_MODIFY | MAPI_BEST_ACCESS);
  return OpenNode(file_, node, iid, flags, objType, out);
}

STDMETHODIMP FolderObj::SetSearchCriteria(LPSRestriction, LPENTRYLIST, ULONG) {
  MAPI_FAULT_POINT("IMAPIFolder::SetSearchCriteria");
  return MAPI_E_NO_SUPPORT;
}
STDMETHODIMP FolderObj::GetSearchCriteria(ULONG, LPSRestriction*, LPENTRYLIST*, ULONG*) {
  MAPI_FAULT_POINT("IMAPIFolder::GetSearchCriteria");
  return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP FolderObj::CreateMessage(LPCIID iid, ULONG flags, LPMESSAGE* out) {
  MAPI_FAULT_POINT("IMAPIFolder::CreateMessage");
  if (!out) return MAPI_E_INVALID_PARAMETER;
  *out = nullptr;
  if (iid && *iid != IID_IMessage && *iid != IID_IMAPIProp && *iid != IID_IUnknown)
    return MAPI_E_INTERFACE_NOT_SUPPORTED;
  if (flags & MAPI_ASSOCIATED) return MAPI_E_NO_SUPPORT;
  if (!modify_) return MAPI_E_NO_ACCESS;
  MessageObj* message = nullptr;
  HRESULT hr = MessageObj::Load(file_, node_, 0, true, &message);
  if (FAILED(hr)) return hr;
  *out = message;
  return S_OK;
}

STDMETHODIMP FolderObj::CopyMessages(LPENTRYLIST list, LPCIID iid, LPVOID dest, ULONG_PTR, LPMAPIPROGRESS progress,
                                     ULONG flags) {
  MAPI_FAULT_POINT("IMAPIFolder::CopyMessages");
  if (!list || !dest) return MAPI_E_INVALID_PARAMETER;
  FolderObj* target = OurFolder(iid, dest);
  if (!target) return MAPI_E_INTERFACE_NOT_SUPPORTED;
  if (!target->modify_ || ((flags & MAPI_MOVE) && !modify_)) return MAPI_E_NO_ACCESS;
  bool partial = false;
  for (ULONG i = 0; i < list->cValues; ++i) {
    NodeId node = 0;
    NodeInfo info;
    HRESULT hr = file_->ParseEntryId(list->lpbin[i].lpb, list->lpbin[i].cb, &node);
    if (SUCCEEDED(hr)) hr = file_->GetNode(node, &info);
    if (FAILED(hr) || info.kind != NodeKind::Message || info.parent != node_) {
      partial = true;  // MAPI goes on with the rest and reports a partial result
      continue;
    }
    if ((flags & MAPI_MOVE) && &target->file() == file_.get()) {
      // Within one file the move is one transaction.
      StoreFile::Transaction txn(*file_);
      if (FAILED(txn.status())) return txn.status();
      hr = file_->CopyTree(node, *file_, target->node(), nullptr);
      if (SUCCEEDED(hr)) hr = file_->DeleteTree(node);
      if (SUCCEEDED(hr)) hr = txn.Commit();
      if (FAILED(hr)) return hr;
    } else {
      hr = file_->CopyTree(node, target->file(), target->node(), nullptr);
      if (FAILED(hr)) return hr;
      if (flags & MAPI_MOVE) {
        hr = file_->DeleteTree(node);
        if (FAILED(hr)) return hr;
      }
    }
    if (progress) {
      hr = progress->Progress(i + 1, i + 1, list->cValues);
      if (hr == MAPI_E_USER_CANCEL) return hr;
    }
  }
  return partial ? MAPI_W_PARTIAL_COMPLETION : S_OK;
}

STDMETHODIMP FolderObj::DeleteMessages(LPENTRYLIST list, ULONG_PTR, LPMAPIPROGRESS progress, ULONG) {
  MAPI_FAULT_POINT("IMAPIFolder::DeleteMessages");
  if (!list) return MAPI_E_INVALID_PARAMETER;
  if (!modify_) return MAPI_E_NO_ACCESS;
  bool partial = false;
  for (ULONG i = 0; i < list->cValues; ++i) {
    NodeId node = 0;
    NodeInfo info;
    HRESULT hr = file_->ParseEntryId(list->lpbin[i].lpb, list->lpbin[i].cb, &node);
    if (SUCCEEDED(hr)) hr = file_->GetNode(node, &info);
    if (FAILED(hr) || info.kind != NodeKind::Message || info.parent != node_) {
      partial = true;
      continue;
    }
    hr = file_->DeleteTree(node);
    if (FAILED(hr)) return hr;
    if (progress) progress->Progress(i + 1, i + 1, list->cValues);
  }
  return partial ? MAPI_W_PARTIAL_COMPLETION : S_OK;
}

STDMETHODIMP FolderObj::CreateFolder(ULONG type, LPWSTR name, LPWSTR comment, LPCIID iid, ULONG flags,
                                     LPMAPIFOLDER* out) {
  MAPI_FAULT_POINT("IMAPIFolder::CreateFolder");
  if (!out || !name) return MAPI_E_INVALID_PARAMETER;
  *out = nullptr;
  if (type != FOLDER_GENERIC) return MAPI_E_NO_SUPPORT;
  if (iid && *iid != IID_IMAPIFolder && *iid != IID_IMAPIContainer && *iid != IID_IMAPIProp && *iid != IID_IUnknown)
    return MAPI_E_INTERFACE_NOT_SUPPORTED;
  if (!modify_) return MAPI_E_NO_ACCESS;
  auto text = [&](LPWSTR s) {
    if (!s) return std::u16string();
    if (flags & MAPI_UNICODE) return std::u16string(reinterpret_cast<const char16_t*>(s));
    return ToUtf16(reinterpret_cast<const char*>(s));
  };
  std::u16string folderName = text(name);
  if (folderName.empty()) return MAPI_E_INVALID_PARAMETER;
  StoreFile::Transaction txn(*file_);
  if (FAILED(txn.status())) return txn.status();
  NodeId node = 0;
  HRESULT hr = file_->FindChildFolder(node_, folderName, &node);
  if (SUCCEEDED(hr)) {
    if (!(flags & OPEN_IF_EXISTS)) return MAPI_E_COLLISION;
    hr = txn.Commit();
    if (FAILED(hr)) return hr;
    *out = new FolderObj(file_, node, node_, true);
    return S_OK;
  }
  if (hr != MAPI_E_NOT_FOUND) return hr;
  hr = file_->NewNode(node_, NodeKind::Folder, 0, &node);
  if (FAILED(hr)) return hr;
  hr = file_->WriteProp(node, MakeUnicode(PR_DISPLAY_NAME_W, folderName));
  if (SUCCEEDED(hr)) hr = file_->SetName(node, folderName);
  std::u16string note = text(comment);
  if (SUCCEEDED(hr) && !note.empty()) hr = file_->WriteProp(node, MakeUnicode(PR_COMMENT_W, note));
  if (SUCCEEDED(hr)) hr = txn.Commit();
  if (FAILED(hr)) return hr;
  *out = new FolderObj(file_, node, node_, true);
  return S_OK;
}

STDMETHODIMP FolderObj::CopyFolder(ULONG, LPENTRYID, LPCIID, LPVOID, LPWSTR, ULONG_PTR, LPMAPIPROGRESS, ULONG) {
  MAPI_FAULT_POINT("IMAPIFolder::CopyFolder");
  return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP FolderObj::DeleteFolder(ULONG cb, LPENTRYID id, ULONG_PTR, LPMAPIPROGRESS, ULONG flags) {
  MAPI_FAULT_POINT("IMAPIFolder::DeleteFolder");
  if (!modify_) return MAPI_E_NO_ACCESS;
  NodeId node = 0;
  HRESULT hr = file_->ParseEntryId(id, cb, &node);
  if (FAILED(hr)) return hr;
  NodeInfo info;
  hr = file_->GetNode(node, &info);
  if (FAILED(hr)) return hr;
  if (info.kind != NodeKind::Folder || info.parent != node_) return MAPI_E_NOT_FOUND;
  ULONG folders = 0, messages = 0;
  hr = file_->CountChildren(node, NodeKind::Folder, &folders);
  if (SUCCEEDED(hr)) hr = file_->CountChildren(node, NodeKind::Message, &messages);
  if (FAILED(hr)) return hr;
  if (folders && !(flags & DEL_FOLDERS)) return MAPI_E_HAS_FOLDERS;
  if (messages && !(flags & DEL_MESSAGES)) return MAPI_E_HAS_MESSAGES;
  return file_->DeleteTree(node);
}

STDMETHODIMP FolderObj::SetReadFlags(LPENTRYLIST, ULONG_PTR, LPMAPIPROGRESS, ULONG) {
  MAPI_FAULT_POINT("IMAPIFolder::SetReadFlags");
  return MAPI_E_NO_SUPPORT;
}
STDMETHODIMP FolderObj::GetMessageStatus(ULONG, LPENTRYID, ULONG, ULONG*) {
  MAPI_FAULT_POINT("IMAPIFolder::GetMessageStatus");
  return MAPI_E_NO_SUPPORT;
}
STDMETHODIMP FolderObj::SetMessageStatus(ULONG, LPENTRYID, ULONG, ULONG, ULONG*) {
  MAPI_FAULT_POINT("IMAPIFolder::SetMessageStatus");
  return MAPI_E_NO_SUPPORT;
}
STDMETHODIMP FolderObj::SaveContentsSort(LPSSortOrderSet, ULONG) {
  MAPI_FAULT_POINT("IMAPIFolder::SaveContentsSort");
  return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP FolderObj::EmptyFolder(ULONG_PTR, LPMAPIPROGRESS, ULONG) {
  MAPI_FAULT_POINT("IMAPIFolder::EmptyFolder");
  if (!modify_) return MAPI_E_NO_ACCESS;
  StoreFile::Transaction txn(*file_);
  if (FAILED(txn.status())) return txn.status();
  for (NodeKind kind : {NodeKind::Message, NodeKind::Folder}) {
    std::vector<NodeInfo> children;
    HRESULT hr = file_->Children(node_, kind, &children);
    if (FAILED(hr)) return hr;
    for (const NodeInfo& child : children) {
      hr = file_->DeleteTree(child.id);
      if (FAILED(hr)) return hr;
    }
  }
  return txn.Commit();
}

}  // namespace standin::mapi
