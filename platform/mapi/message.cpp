#include "store.h"

#include <algorithm>
#include <cstring>

namespace standin::mapi {

const std::vector<ULONG> kRecipientColumns = {PR_ROWID, PR_DISPLAY_NAME_W, PR_EMAIL_ADDRESS_W, PR_ADDRTYPE_W,
                                              PR_RECIPIENT_TYPE, PR_INSTANCE_KEY};
const std::vector<ULONG> kAttachmentColumns = {PR_ATTACH_NUM, PR_ATTACH_METHOD, PR_ATTACH_LONG_FILENAME_W,
                                               PR_ATTACH_SIZE, PR_INSTANCE_KEY};

size_t RowSize(const Row& row) {
  size_t size = 0;
  for (const OwnedProp& p : row)
    if (!IsComputedProp(p.tag)) size += p.data.size() + 8;
  return size;
}

namespace {

bool IsMessageIid(LPCIID iid) { return !iid || *iid == IID_IMessage || *iid == IID_IMAPIProp || *iid == IID_IUnknown; }

}  // namespace

// ---- IAttach ----

AttachObj::AttachObj(MessageObj* message, LONG num, Row props, bool modify)
    : message_(message), num_(num), props_(std::move(props)), modify_(modify) {
  message_->AddRef();
}

AttachObj::~AttachObj() { message_->Release(); }

bool AttachObj::Supports(REFIID riid) const { return riid == IID_IAttachment || riid == IID_IMAPIProp; }

STDMETHODIMP AttachObj::GetLastError(HRESULT, ULONG, LPMAPIERROR*) {
  MAPI_FAULT_POINT("IAttach::GetLastError");
  return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP AttachObj::SaveChanges(ULONG) {
  MAPI_FAULT_POINT("IAttach::SaveChanges");
  if (!modify_) return MAPI_E_NO_ACCESS;
  message_->StoreAttach(num_, props_);  // written with the message's own save
  return S_OK;
}

STDMETHODIMP AttachObj::GetProps(LPSPropTagArray tags, ULONG, ULONG* count, LPSPropValue* out) {
  MAPI_FAULT_POINT("IAttach::GetProps");
  Row row = props_;
  PutProp(&row, MakeLong(PR_ATTACH_NUM, num_));
  PutProp(&row, MakeLong(PR_ATTACH_SIZE, static_cast<LONG>(RowSize(props_))));
  PutProp(&row, MakeLong(PR_OBJECT_TYPE, MAPI_ATTACH));
  return PropsFromRow(row, tags, count, out);
}

STDMETHODIMP AttachObj::GetPropList(ULONG, LPSPropTagArray* out) {
  MAPI_FAULT_POINT("IAttach::GetPropList");
  return PropListFromRow(props_, out);
}

STDMETHODIMP AttachObj::OpenProperty(ULONG, LPCIID, ULONG, ULONG, LPUNKNOWN*) {
  MAPI_FAULT_POINT("IAttach::OpenProperty");
  return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP AttachObj::SetProps(ULONG count, LPSPropValue values, LPSPropProblemArray* problems) {
  MAPI_FAULT_POINT("IAttach::SetProps");
  if (problems) *problems = nullptr;
  if (!values && count) return MAPI_E_INVALID_PARAMETER;
  if (!modify_) return MAPI_E_NO_ACCESS;
  std::vector<SPropProblem> found;
  Row accepted;
  AcceptProps(count, values, IsComputedProp, &accepted, &found);
  for (OwnedProp& prop : accepted) PutProp(&props_, Normalized(std::move(prop)));
  return MakeProblems(found, problems);
}

STDMETHODIMP AttachObj::DeleteProps(LPSPropTagArray tags, LPSPropProblemArray* problems) {
  MAPI_FAULT_POINT("IAttach::DeleteProps");
  if (problems) *problems = nullptr;
  if (!tags) return MAPI_E_INVALID_PARAMETER;
  if (!modify_) return MAPI_E_NO_ACCESS;
  for (ULONG i = 0; i < tags->cValues; ++i) RemoveProp(&props_, PROP_ID(tags->aulPropTag[i]));
  return S_OK;
}

STDMETHODIMP AttachObj::CopyTo(ULONG, LPCIID, LPSPropTagArray, ULONG_PTR, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                               LPSPropProblemArray*) {
  MAPI_FAULT_POINT("IAttach::CopyTo");
  return MAPI_E_NO_SUPPORT;
}
STDMETHODIMP AttachObj::CopyProps(LPSPropTagArray, ULONG_PTR, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                                  LPSPropProblemArray*) {
  MAPI_FAULT_POINT("IAttach::CopyProps");
  return MAPI_E_NO_SUPPORT;
}
STDMETHODIMP AttachObj::GetNamesFromIDs(LPSPropTagArray*, LPGUID, ULONG, ULONG*, LPMAPINAMEID**) {
  MAPI_FAULT_POINT("IAttach::GetNamesFromIDs");
  return MAPI_E_NO_SUPPORT;
}
STDMETHODIMP AttachObj::GetIDsFromNames(ULONG, LPMAPINAMEID*, ULONG, LPSPropTagArray*) {
  MAPI_FAULT_POINT("IAttach::GetIDsFromNames");
  return MAPI_E_NO_SUPPORT;
}

// ---- IMessage ----

HRESULT MessageObj::Load(std::shared_ptr<StoreFile> file, NodeId folder, NodeId node, bool modify,
                         MessageObj** out) {
  std::unique_ptr<MessageObj> message(new MessageObj());
  message->file_ = std::move(file);
  message->folder_ = folder;
  message->node_ = node;
  message->modify_ = modify;
  if (node) {
    StoreFile& f = *message->file_;
    HRESULT hr = f.ReadProps(node, &message->props_);
    if (FAILED(hr)) return hr;
    std::vector<std::pair<NodeInfo, Row>> recips;
    hr = f.ReadChildrenProps(node, NodeKind::Recip, &recips);
    if (FAILED(hr)) return hr;
    for (auto& [info, row] : recips) {
      message->nextRowId_ = std::max(message->nextRowId_, info.num + 1);
      PutProp(&row, MakeLong(PR_ROWID, info.num));
      message->recips_.push_back(std::move(row));
    }
    std::vector<std::pair<NodeInfo, Row>> attachs;
    hr = f.ReadChildrenProps(node, NodeKind::Attach, &attachs);
    if (FAILED(hr)) return hr;
    for (auto& [info, row] : attachs) {
      message->nextAttach_ = std::max(message->nextAttach_, info.num + 1);
      message->attachs_.push_back(Attachment{info.num, info.id, std::move(row), false});
    }
  }
  *out = message.release();
  return S_OK;
}

bool MessageObj::Supports(REFIID riid) const { return riid == IID_IMessage || riid == IID_IMAPIProp; }

Row MessageObj::FullRow() const {
  Row row = props_;
  if (node_) AddIdentityProps(*file_, node_, folder_, MAPI_MESSAGE, &row);
  else PutProp(&row, MakeLong(PR_OBJECT_TYPE, MAPI_MESSAGE));
  size_t size = RowSize(props_);
  for (const Row& r : recips_) size += RowSize(r);
  for (const Attachment& a : attachs_) size += RowSize(a.props);
  RemoveProp(&row, PROP_ID(PR_MESSAGE_SIZE));
  RemoveProp(&row, PROP_ID(PR_HASATTACH));
  PutProp(&row, MakeLong(PR_MESSAGE_SIZE, static_cast<LONG>(std::min<size_t>(size, 0x7FFFFFFF))));
  PutProp(&row, MakeBool(PR_HASATTACH, !attachs_.empty()));
  return row;
}

void MessageObj::Put(const Row& props, bool noReplace, std::vector<SPropProblem>* problems) {
  for (size_t i = 0; i < props.size(); ++i) {
    const OwnedProp& prop = props[i];
    if (IsComputedProp(prop.tag)) {
      if (problems) problems->push_back({static_cast<ULONG>(i), prop.tag, MAPI_E_COMPUTED});
      continue;
    }
    if (noReplace && std::any_of(props_.begin(), props_.end(),
                                 [&](const OwnedProp& p) { return PROP_ID(p.tag) == PROP_ID(prop.tag); }))
      continue;
    PutProp(&props_, Normalized(prop));
    changed_.insert(PROP_ID(prop.tag));
    deleted_.erase(PROP_ID(prop.tag));
  }
}

void MessageObj::StoreAttach(LONG num, const Row& props) {
  for (Attachment& a : attachs_)
    if (a.num == num) {
      a.props = props;
      a.dirty = true;
      return;
    }
  attachs_.push_back(Attachment{num, 0, props, true});
}

STDMETHODIMP MessageObj::GetLastError(HRESULT, ULONG, LPMAPIERROR*) {
  MAPI_FAULT_POINT("IMessage::GetLastError");
  return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP MessageObj::SaveChanges(ULONG) {
  MAPI_FAULT_POINT("IMessage::SaveChanges");
  if (!modify_) return MAPI_E_NO_ACCESS;
  bool created = node_ == 0;
  // Times are stamped only where the caller set none: copies keep theirs.
  FILETIME now = NowFileTime();
  Row stamped = props_;
  std::set<ULONG> changed = changed_;
  if (!FindProp(stamped, PR_CREATION_TIME)) {
    PutProp(&stamped, MakeSysTime(PR_CREATION_TIME, now));
    changed.insert(PROP_ID(PR_CREATION_TIME));
  }
  if (!changed_.count(PROP_ID(PR_LAST_MODIFICATION_TIME)) || !FindProp(stamped, PR_LAST_MODIFICATION_TIME)) {
    PutProp(&stamped, MakeSysTime(PR_LAST_MODIFICATION_TIME, now));
    changed.insert(PROP_ID(PR_LAST_MODIFICATION_TIME));
  }
  StoreFile::Transaction txn(*file_);
  if (FAILED(txn.status())) return txn.status();
  NodeId node = node_;
  HRESULT hr = S_OK;
  if (created) {
    NodeInfo folder;
    hr = file_->GetNode(folder_, &folder);
    if (FAILED(hr)) return hr == MAPI_E_NOT_FOUND ? MAPI_E_OBJECT_DELETED : hr;
    hr = file_->NewNode(folder_, NodeKind::Message, 0, &node);
    if (FAILED(hr)) return hr;
  } else {
    NodeInfo info;
    hr = file_->GetNode(node, &info);
    if (FAILED(hr)) return hr == MAPI_E_NOT_FOUND ? MAPI_E_OBJECT_DELETED : hr;
  }
  Row written;
  for (const OwnedProp& p : stamped)
    if (created || changed.count(PROP_ID(p.tag))) written.push_back(p);
  hr = file_->WriteProps(node, written, created ? std::vector<ULONG>{} : std::vector<ULONG>(deleted_.begin(), deleted_.end()));
  if (FAILED(hr)) return hr;
  if (recipsDirty_ || created) {
    std::vector<NodeInfo> old;
    hr = file_->Children(node, NodeKind::Recip, &old);
    for (size_t i = 0; SUCCEEDED(hr) && i < old.size(); ++i) hr = file_->DeleteTree(old[i].id);
    for (size_t i = 0; SUCCEEDED(hr) && i < recips_.size(); ++i) {
      const OwnedProp* rowId = FindProp(recips_[i], PR_ROWID);
      LONG num = static_cast<LONG>(i);
      if (rowId && rowId->data.size() == 4) std::memcpy(&num, rowId->data.data(), 4);
      NodeId r = 0;
      hr = file_->NewNode(node, NodeKind::Recip, num, &r);
      Row stored;
      for (const OwnedProp& p : recips_[i])
        if (PROP_ID(p.tag) != PROP_ID(PR_ROWID)) stored.push_back(p);
      if (SUCCEEDED(hr)) hr = file_->WriteProps(r, stored);
    }
    if (FAILED(hr)) return hr;
  }
  for (NodeId gone : deletedAttachs_) {
    hr = file_->DeleteTree(gone);
    if (FAILED(hr)) return hr;
  }
  std::vector<NodeId> newAttachNodes(attachs_.size(), 0);
  for (size_t i = 0; i < attachs_.size(); ++i) {
    const Attachment& a = attachs_[i];
    newAttachNodes[i] = a.node;
    if (!a.dirty && a.node) continue;
    if (a.node) {
      hr = file_->DeleteTree(a.node);
      if (FAILED(hr)) return hr;
    }
    hr = file_->NewNode(node, NodeKind::Attach, a.num, &newAttachNodes[i]);
    if (SUCCEEDED(hr)) hr = file_->WriteProps(newAttachNodes[i], a.props);
    if (FAILED(hr)) return hr;
  }
  // Size and attachment flag are kept with the message so tables read them.
  NodeId saveNode = node_;
  node_ = node;
  Row full = FullRow();
  node_ = saveNode;
  hr = file_->WriteProps(node, Row{*FindProp(full, PR_MESSAGE_SIZE), *FindProp(full, PR_HASATTACH)});
  if (SUCCEEDED(hr)) hr = txn.Commit();
  if (FAILED(hr)) return hr;
  // Committed: the object now mirrors the file.
  node_ = node;
  props_ = std::move(stamped);
  changed_.clear();
  deleted_.clear();
  recipsDirty_ = false;
  deletedAttachs_.clear();
  for (size_t i = 0; i < attachs_.size(); ++i) {
    attachs_[i].node = newAttachNodes[i];
    attachs_[i].dirty = false;
  }
  return S_OK;
}

STDMETHODIMP MessageObj::GetProps(LPSPropTagArray tags, ULONG, ULONG* count, LPSPropValue* out) {
  MAPI_FAULT_POINT("IMessage::GetProps");
  return PropsFromRow(FullRow(), tags, count, out);
}

STDMETHODIMP MessageObj::GetPropList(ULONG, LPSPropTagArray* out) {
  MAPI_FAULT_POINT("IMessage::GetPropList");
  return PropListFromRow(FullRow(), out);
}

STDMETHODIMP MessageObj::OpenProperty(ULONG, LPCIID, ULONG, ULONG, LPUNKNOWN*) {
  MAPI_FAULT_POINT("IMessage::OpenProperty");
  return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP MessageObj::SetProps(ULONG count, LPSPropValue values, LPSPropProblemArray* problems) {
  MAPI_FAULT_POINT("IMessage::SetProps");
  if (problems) *problems = nullptr;
  if (!values && count) return MAPI_E_INVALID_PARAMETER;
  if (!modify_) return MAPI_E_NO_ACCESS;
  std::vector<SPropProblem> found;
  Row props;
  AcceptProps(count, values, IsComputedProp, &props, &found);
  Put(props, false, nullptr);
  return MakeProblems(found, problems);
}

STDMETHODIMP MessageObj::DeleteProps(LPSPropTagArray tags, LPSPropProblemArray* problems) {
  MAPI_FAULT_POINT("IMessage::DeleteProps");
  if (problems) *problems = nullptr;
  if (!tags) return MAPI_E_INVALID_PARAMETER;
  if (!modify_) return MAPI_E_NO_ACCESS;
  for (ULONG i = 0; i < tags->cValues; ++i) {
    ULONG id = PROP_ID(tags->aulPropTag[i]);
    if (RemoveProp(&props_, id)) {
      deleted_.insert(id);
      changed_.erase(id);
    }
  }
  return S_OK;
}

// Properties, recipients and attachments onto another message. Excluding
// IID_IMessage leaves recipients and attachments behind, as do
// PR_MESSAGE_RECIPIENTS and PR_MESSAGE_ATTACHMENTS in the excluded list.
STDMETHODIMP MessageObj::CopyTo(ULONG ciidExclude, LPCIID rgiidExclude, LPSPropTagArray exclude, ULONG_PTR,
                                LPMAPIPROGRESS, LPCIID iid, LPVOID dest, ULONG flags, LPSPropProblemArray* problems) {
  MAPI_FAULT_POINT("IMessage::CopyTo");
  if (problems) *problems = nullptr;
  if (!dest) return MAPI_E_INVALID_PARAMETER;
  if (!IsMessageIid(iid)) return MAPI_E_INTERFACE_NOT_SUPPORTED;
  auto* target = dynamic_cast<MessageObj*>(static_cast<IMessage*>(dest));
  if (!target) return MAPI_E_INTERFACE_NOT_SUPPORTED;
  if (target == this) return MAPI_E_NO_ACCESS;
  if (!target->modify_) return MAPI_E_NO_ACCESS;
  if (ciidExclude && !rgiidExclude) return MAPI_E_INVALID_PARAMETER;
  bool subObjects = true;
  for (ULONG i = 0; i < ciidExclude; ++i)
    if (rgiidExclude[i] == IID_IMessage) subObjects = false;
  Row copy;
  for (const OwnedProp& p : props_)
    if (!IsComputedProp(p.tag) && !TagListed(exclude, p.tag)) copy.push_back(p);
  target->Put(copy, (flags & MAPI_NOREPLACE) != 0, nullptr);
  if (subObjects && !TagListed(exclude, PR_MESSAGE_RECIPIENTS)) {
    target->recips_ = recips_;
    target->nextRowId_ = nextRowId_;
    target->recipsDirty_ = true;
  }
  if (subObjects && !TagListed(exclude, PR_MESSAGE_ATTACHMENTS)) {
    for (const Attachment& a : target->attachs_)
      if (a.node) target->deletedAttachs_.push_back(a.node);
    target->attachs_.clear();
    for (const Attachment& a : attachs_) target->attachs_.push_back(Attachment{a.num, 0, a.props, true});
    target->nextAttach_ = nextAttach_;
  }
  return S_OK;
}

STDMETHODIMP MessageObj::CopyProps(LPSPropTagArray, ULONG_PTR, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                                   LPSPropProblemArray*) {
  MAPI_FAULT_POINT("IMessage::CopyProps");
  return MAPI_E_NO_SUPPORT;
}
STDMETHODIMP MessageObj::GetNamesFromIDs(LPSPropTagArray*, LPGUID, ULONG, ULONG*, LPMAPINAMEID**) {
  MAPI_FAULT_POINT("IMessage::GetNamesFromIDs");
  return MAPI_E_NO_SUPPORT;
}
STDMETHODIMP MessageObj::GetIDsFromNames(ULONG, LPMAPINAMEID*, ULONG, LPSPropTagArray*) {
  MAPI_FAULT_POINT("IMessage::GetIDsFromNames");
  return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP MessageObj::GetAttachmentTable(ULONG, LPMAPITABLE* out) {
  MAPI_FAULT_POINT("IMessage::GetAttachmentTable");
  if (!out) return MAPI_E_INVALID_PARAMETER;
  std::vector<Row> rows;
  for (const Attachment& a : attachs_) {
    Row row = a.props;
    PutProp(&row, MakeLong(PR_ATTACH_NUM, a.num));
    PutProp(&row, MakeLong(PR_ATTACH_SIZE, static_cast<LONG>(RowSize(a.props))));
    PutProp(&row, MakeBinary(PR_INSTANCE_KEY, &a.num, sizeof a.num));
    rows.push_back(std::move(row));
  }
  *out = NewRowTable(std::move(rows), kAttachmentColumns, "IMAPITable");
  return *out ? S_OK : MAPI_E_NOT_ENOUGH_MEMORY;
}

STDMETHODIMP MessageObj::OpenAttach(ULONG num, LPCIID, ULONG flags, LPATTACH* out) {
  MAPI_FAULT_POINT("IMessage::OpenAttach");
  if (!out) return MAPI_E_INVALID_PARAMETER;
  *out = nullptr;
  for (const Attachment& a : attachs_)
    if (a.num == static_cast<LONG>(num)) {
      *out = new AttachObj(this, a.num, a.props, modify_ && (flags & (MAPI_MODIFY | MAPI_BEST_ACCESS)));
      return S_OK;
    }
  return MAPI_E_NOT_FOUND;
}

STDMETHODIMP MessageObj::CreateAttach(LPCIID, ULONG, ULONG* num, LPATTACH* out) {
  MAPI_FAULT_POINT("IMessage::CreateAttach");
  if (!num || !out) return MAPI_E_INVALID_PARAMETER;
  if (!modify_) return MAPI_E_NO_ACCESS;
  *num = static_cast<ULONG>(nextAttach_++);
  *out = new AttachObj(this, static_cast<LONG>(*num), Row{}, true);
  return S_OK;
}

STDMETHODIMP MessageObj::DeleteAttach(ULONG num, ULONG_PTR, LPMAPIPROGRESS, ULONG) {
  MAPI_FAULT_POINT("IMessage::DeleteAttach");
  if (!modify_) return MAPI_E_NO_ACCESS;
  for (auto it = attachs_.begin(); it != attachs_.end(); ++it)
    if (it->num == static_cast<LONG>(num)) {
      if (it->node) deletedAttachs_.push_back(it->node);
      attachs_.erase(it);
      return S_OK;
    }
  return MAPI_E_NOT_FOUND;
}

STDMETHODIMP MessageObj::GetRecipientTable(ULONG, LPMAPITABLE* out) {
  MAPI_FAULT_POINT("IMessage::GetRecipientTable");
  if (!out) return MAPI_E_INVALID_PARAMETER;
  std::vector<Row> rows;
  for (const Row& r : recips_) {
    Row row = r;
    if (const OwnedProp* id = FindProp(r, PR_ROWID)) PutProp(&row, MakeBinary(PR_INSTANCE_KEY, id->data.data(), 4));
    rows.push_back(std::move(row));
  }
  *out = NewRowTable(std::move(rows), kRecipientColumns, "IMAPITable");
  return *out ? S_OK : MAPI_E_NOT_ENOUGH_MEMORY;
}

STDMETHODIMP MessageObj::ModifyRecipients(ULONG flags, LPADRLIST mods) {
  MAPI_FAULT_POINT("IMessage::ModifyRecipients");
  if (!mods) return MAPI_E_INVALID_PARAMETER;
  if (!modify_) return MAPI_E_NO_ACCESS;
  auto rowIdOf = [](const ADRENTRY& entry, LONG* id) {
    for (ULONG i = 0; i < entry.cValues; ++i)
      if (entry.rgPropVals[i].ulPropTag == PR_ROWID) {
        *id = entry.rgPropVals[i].Value.l;
        return true;
      }
    return false;
  };
  auto toRow = [](const ADRENTRY& entry, Row* row) {
    for (ULONG i = 0; i < entry.cValues; ++i) {
      OwnedProp prop;
      if (PROP_TYPE(entry.rgPropVals[i].ulPropTag) == PT_ERROR) continue;
      if (!ToOwned(entry.rgPropVals[i], &prop)) return false;
      PutProp(row, Normalized(std::move(prop)));
    }
    return true;
  };
  std::vector<Row> result = (flags & (MODRECIP_ADD | MODRECIP_MODIFY | MODRECIP_REMOVE)) ? recips_ : std::vector<Row>{};
  LONG next = (flags & (MODRECIP_ADD | MODRECIP_MODIFY | MODRECIP_REMOVE)) ? nextRowId_ : 0;
  for (ULONG e = 0; e < mods->cEntries; ++e) {
    const ADRENTRY& entry = mods->aEntries[e];
    if (entry.cValues && !entry.rgPropVals) return MAPI_E_INVALID_PARAMETER;
    if (flags & (MODRECIP_MODIFY | MODRECIP_REMOVE)) {
      LONG id = 0;
      if (!rowIdOf(entry, &id)) return MAPI_E_INVALID_PARAMETER;
      auto it = std::find_if(result.begin(), result.end(), [&](const Row& r) {
        const OwnedProp* p = FindProp(r, PR_ROWID);
        LONG have = -1;
        if (p && p->data.size() == 4) std::memcpy(&have, p->data.data(), 4);
        return have == id;
      });
      if (it == result.end()) return MAPI_E_NOT_FOUND;
      if (flags & MODRECIP_REMOVE) {
        result.erase(it);
      } else {
        Row row;
        if (!toRow(entry, &row)) return MAPI_E_INVALID_TYPE;
        PutProp(&row, MakeLong(PR_ROWID, id));
        *it = std::move(row);
      }
      continue;
    }
    Row row;
    if (!toRow(entry, &row)) return MAPI_E_INVALID_TYPE;
    PutProp(&row, MakeLong(PR_ROWID, next++));
    result.push_back(std::move(row));
  }
  recips_ = std::move(result);
  nextRowId_ = next;
  recipsDirty_ = true;
  return S_OK;
}

STDMETHODIMP MessageObj::SubmitMessage(ULONG) {
  MAPI_FAULT_POINT("IMessage::SubmitMessage");
  return MAPI_E_NO_SUPPORT;
}
STDMETHODIMP MessageObj::SetReadFlag(ULONG) {
  MAPI_FAULT_POINT("IMessage::SetReadFlag");
  return MAPI_E_NO_SUPPORT;
}

}  // namespace standin::mapi
