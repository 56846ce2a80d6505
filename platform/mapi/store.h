// The MAPI objects over a store file: IMsgStore, IMAPIFolder, IMessage and
// IAttach. Folders and the store write through at once (each change atomic,
// in the connection's group); a message keeps its changes in memory until
// SaveChanges. The store's SaveChanges and its release commit the group.
#pragma once

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <mapiguid.h>

#include "storefile.h"

namespace standin::mapi {

// Properties computed from the tree, never stored by SetProps nor copied.
bool IsComputedProp(ULONG tag);
// The special folders a store names, with the bit each sets in the store's
// valid-folder mask.
struct SpecialFolderBit {
  ULONG tag;
  LONG bit;
};
extern const SpecialFolderBit kSpecialFolderBits[7];
// GetProps over a row: requested columns (or all), missing ones as PT_ERROR
// with MAPI_W_ERRORS_RETURNED.
HRESULT PropsFromRow(const Row& row, LPSPropTagArray tags, ULONG* count, LPSPropValue* out);
HRESULT PropListFromRow(const Row& row, LPSPropTagArray* out);
// Puts prop into row, replacing a value with the same id.
void PutProp(Row* row, OwnedProp prop);
bool RemoveProp(Row* row, ULONG propId);
// Narrow strings are kept wide, so that both widths can be read back.
OwnedProp Normalized(OwnedProp prop);
// A problem array with one entry per failed index (null when none).
HRESULT MakeProblems(const std::vector<SPropProblem>& problems, LPSPropProblemArray* out);
// What a SetProps may keep of its values: those refused(tag) turns down are
// MAPI_E_COMPUTED problems, types that cannot be kept MAPI_E_INVALID_TYPE ones.
void AcceptProps(ULONG count, const SPropValue* values, bool (*refused)(ULONG tag), Row* accepted,
                 std::vector<SPropProblem>* problems);
// DeleteProps of an object whose properties are written at once: one transaction.
HRESULT DeleteStoredProps(StoreFile& file, NodeId node, const SPropTagArray* tags);
bool TagListed(const SPropTagArray* tags, ULONG tag);
std::u16string WideOf(const OwnedProp& prop);

// The default columns of the stores' tables.
extern const std::vector<ULONG> kHierarchyColumns;
extern const std::vector<ULONG> kContentsColumns;
// Contents tables carry no large values (bodies, raw bytes): the rows of a
// large folder stay small, and reading them touches no overflow pages.
// Subjects, names, classes, times and sizes always fit.
constexpr size_t kMaxTableValueBytes = 1024;
extern const std::vector<ULONG> kRecipientColumns;
extern const std::vector<ULONG> kAttachmentColumns;
// What a row counts toward PR_MESSAGE_SIZE and PR_ATTACH_SIZE.
size_t RowSize(const Row& row);

// Properties every object of a store answers about itself.
void AddIdentityProps(const StoreFile& file, NodeId node, NodeId parent, ULONG objectType, Row* row);
// The same for any store whose entry identifiers entryId makes.
void AddIdentityProps(const MAPIUID& uid, const std::function<std::string(NodeId)>& entryId, NodeId storeNode,
                      NodeId node, NodeId parent, ULONG objectType, Row* row);

class StoreObj;

class FolderObj final : public ComObject<IMAPIFolder> {
 public:
  FolderObj(std::shared_ptr<StoreFile> file, NodeId node, NodeId parent, bool modify);
  StoreFile& file() { return *file_; }
  NodeId node() const { return node_; }

  // IMAPIProp
  STDMETHODIMP GetLastError(HRESULT, ULONG, LPMAPIERROR*) override;
  STDMETHODIMP SaveChanges(ULONG ulFlags) override;
  STDMETHODIMP GetProps(LPSPropTagArray, ULONG, ULONG*, LPSPropValue*) override;
  STDMETHODIMP GetPropList(ULONG, LPSPropTagArray*) override;
  STDMETHODIMP OpenProperty(ULONG, LPCIID, ULONG, ULONG, LPUNKNOWN*) override;
  STDMETHODIMP SetProps(ULONG, LPSPropValue, LPSPropProblemArray*) override;
  STDMETHODIMP DeleteProps(LPSPropTagArray, LPSPropProblemArray*) override;
  STDMETHODIMP CopyTo(ULONG, LPCIID, LPSPropTagArray, ULONG_PTR, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                      LPSPropProblemArray*) override;
  STDMETHODIMP CopyProps(LPSPropTagArray, ULONG_PTR, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                         LPSPropProblemArray*) override;
  STDMETHODIMP GetNamesFromIDs(LPSPropTagArray*, LPGUID, ULONG, ULONG*, LPMAPINAMEID**) override;
  STDMETHODIMP GetIDsFromNames(ULONG, LPMAPINAMEID*, ULONG, LPSPropTagArray*) override;
  // IMAPIContainer
  STDMETHODIMP GetContentsTable(ULONG, LPMAPITABLE*) override;
  STDMETHODIMP GetHierarchyTable(ULONG, LPMAPITABLE*) override;
  STDMETHODIMP OpenEntry(ULONG, LPENTRYID, LPCIID, ULONG, ULONG*, LPUNKNOWN*) override;
  STDMETHODIMP SetSearchCriteria(LPSRestriction, LPENTRYLIST, ULONG) override;
  STDMETHODIMP GetSearchCriteria(ULONG, LPSRestriction*, LPENTRYLIST*, ULONG*) override;
  // IMAPIFolder
  STDMETHODIMP CreateMessage(LPCIID, ULONG, LPMESSAGE*) override;
  STDMETHODIMP CopyMessages(LPENTRYLIST, LPCIID, LPVOID, ULONG_PTR, LPMAPIPROGRESS, ULONG) override;
  STDMETHODIMP DeleteMessages(LPENTRYLIST, ULONG_PTR, LPMAPIPROGRESS, ULONG) override;
  STDMETHODIMP CreateFolder(ULONG, LPWSTR, LPWSTR, LPCIID, ULONG, LPMAPIFOLDER*) override;
  STDMETHODIMP CopyFolder(ULONG, LPENTRYID, LPCIID, LPVOID, LPWSTR, ULONG_PTR, LPMAPIPROGRESS, ULONG) override;
  STDMETHODIMP DeleteFolder(ULONG, LPENTRYID, ULONG_PTR, LPMAPIPROGRESS, ULONG) override;
  STDMETHODIMP SetReadFlags(LPENTRYLIST, ULONG_PTR, LPMAPIPROGRESS, ULONG) override;
  STDMETHODIMP GetMessageStatus(ULONG, LPENTRYID, ULONG, ULONG*) override;
  STDMETHODIMP SetMessageStatus(ULONG, LPENTRYID, ULONG, ULONG, ULONG*) override;
  STDMETHODIMP SaveContentsSort(LPSSortOrderSet, ULONG) override;
  STDMETHODIMP EmptyFolder(ULONG_PTR, LPMAPIPROGRESS, ULONG) override;

 protected:
  bool Supports(REFIID riid) const override;

 private:
  HRESULT FullRow(Row* row);
  HRESULT WriteProps(const Row& props, std::vector<SPropProblem>* problems, bool noReplace);
  HRESULT CopyChildren(NodeId from, StoreFile& dst, NodeId to, bool contents, bool hierarchy);

  std::shared_ptr<StoreFile> file_;
  NodeId node_;
  NodeId parent_;
  bool modify_;
};

class MessageObj;

class AttachObj final : public ComObject<IAttach> {
 public:
  AttachObj(MessageObj* message, LONG num, Row props, bool modify);
  ~AttachObj() override;

  STDMETHODIMP GetLastError(HRESULT, ULONG, LPMAPIERROR*) override;
  STDMETHODIMP SaveChanges(ULONG ulFlags) override;
  STDMETHODIMP GetProps(LPSPropTagArray, ULONG, ULONG*, LPSPropValue*) override;
  STDMETHODIMP GetPropList(ULONG, LPSPropTagArray*) override;
  STDMETHODIMP OpenProperty(ULONG, LPCIID, ULONG, ULONG, LPUNKNOWN*) override;
  STDMETHODIMP SetProps(ULONG, LPSPropValue, LPSPropProblemArray*) override;
  STDMETHODIMP DeleteProps(LPSPropTagArray, LPSPropProblemArray*) override;
  STDMETHODIMP CopyTo(ULONG, LPCIID, LPSPropTagArray, ULONG_PTR, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                      LPSPropProblemArray*) override;
  STDMETHODIMP CopyProps(LPSPropTagArray, ULONG_PTR, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                         LPSPropProblemArray*) override;
  STDMETHODIMP GetNamesFromIDs(LPSPropTagArray*, LPGUID, ULONG, ULONG*, LPMAPINAMEID**) override;
  STDMETHODIMP GetIDsFromNames(ULONG, LPMAPINAMEID*, ULONG, LPSPropTagArray*) override;

 protected:
  bool Supports(REFIID riid) const override;

 private:
  MessageObj* message_;
  LONG num_;
  Row props_;
  bool modify_;
};

class MessageObj final : public ComObject<IMessage> {
 public:
  // node 0: a new message that is written into folder at its first save.
  static HRESULT Load(std::shared_ptr<StoreFile> file, NodeId folder, NodeId node, bool modify, MessageObj** out);

  STDMETHODIMP GetLastError(HRESULT, ULONG, LPMAPIERROR*) override;
  STDMETHODIMP SaveChanges(ULONG ulFlags) override;
  STDMETHODIMP GetProps(LPSPropTagArray, ULONG, ULONG*, LPSPropValue*) override;
  STDMETHODIMP GetPropList(ULONG, LPSPropTagArray*) override;
  STDMETHODIMP OpenProperty(ULONG, LPCIID, ULONG, ULONG, LPUNKNOWN*) override;
  STDMETHODIMP SetProps(ULONG, LPSPropValue, LPSPropProblemArray*) override;
  STDMETHODIMP DeleteProps(LPSPropTagArray, LPSPropProblemArray*) override;
  STDMETHODIMP CopyTo(ULONG, LPCIID, LPSPropTagArray, ULONG_PTR, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                      LPSPropProblemArray*) override;
  STDMETHODIMP CopyProps(LPSPropTagArray, ULONG_PTR, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                         LPSPropProblemArray*) override;
  STDMETHODIMP GetNamesFromIDs(LPSPropTagArray*, LPGUID, ULONG, ULONG*, LPMAPINAMEID**) override;
  STDMETHODIMP GetIDsFromNames(ULONG, LPMAPINAMEID*, ULONG, LPSPropTagArray*) override;
  STDMETHODIMP GetAttachmentTable(ULONG, LPMAPITABLE*) override;
  STDMETHODIMP OpenAttach(ULONG, LPCIID, ULONG, LPATTACH*) override;
  STDMETHODIMP CreateAttach(LPCIID, ULONG, ULONG*, LPATTACH*) override;
  STDMETHODIMP DeleteAttach(ULONG, ULONG_PTR, LPMAPIPROGRESS, ULONG) override;
  STDMETHODIMP GetRecipientTable(ULONG, LPMAPITABLE*) override;
  STDMETHODIMP ModifyRecipients(ULONG, LPADRLIST) override;
  STDMETHODIMP SubmitMessage(ULONG) override;
  STDMETHODIMP SetReadFlag(ULONG) override;

  // From an open attachment's SaveChanges.
  void StoreAttach(LONG num, const Row& props);

 protected:
  bool Supports(REFIID riid) const override;

 private:
  struct Attachment {
    LONG num = 0;
    NodeId node = 0;  // 0 until written
    Row props;
    bool dirty = false;
  };
  MessageObj() = default;
  // Sets stored properties the way SetProps does; problems for computed ones.
  void Put(const Row& props, bool noReplace, std::vector<SPropProblem>* problems);
  Row FullRow() const;

  std::shared_ptr<StoreFile> file_;
  NodeId folder_ = 0;
  NodeId node_ = 0;
  bool modify_ = false;
  Row props_;
  std::set<ULONG> changed_;  // property ids set since the last save
  std::set<ULONG> deleted_;
  std::vector<Row> recips_;
  bool recipsDirty_ = false;
  LONG nextRowId_ = 0;
  std::vector<Attachment> attachs_;
  std::vector<NodeId> deletedAttachs_;
  LONG nextAttach_ = 0;
};

class StoreObj final : public ComObject<IMsgStore> {
 public:
  StoreObj(std::shared_ptr<StoreFile> file, std::u16string displayName, bool modify);
  ~StoreObj() override;
  const std::shared_ptr<StoreFile>& file() const { return file_; }

  STDMETHODIMP GetLastError(HRESULT, ULONG, LPMAPIERROR*) override;
  STDMETHODIMP SaveChanges(ULONG ulFlags) override;
  STDMETHODIMP GetProps(LPSPropTagArray, ULONG, ULONG*, LPSPropValue*) override;
  STDMETHODIMP GetPropList(ULONG, LPSPropTagArray*) override;
  STDMETHODIMP OpenProperty(ULONG, LPCIID, ULONG, ULONG, LPUNKNOWN*) override;
  STDMETHODIMP SetProps(ULONG, LPSPropValue, LPSPropProblemArray*) override;
  STDMETHODIMP DeleteProps(LPSPropTagArray, LPSPropProblemArray*) override;
  STDMETHODIMP CopyTo(ULONG, LPCIID, LPSPropTagArray, ULONG_PTR, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                      LPSPropProblemArray*) override;
  STDMETHODIMP CopyProps(LPSPropTagArray, ULONG_PTR, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                         LPSPropProblemArray*) override;
  STDMETHODIMP GetNamesFromIDs(LPSPropTagArray*, LPGUID, ULONG, ULONG*, LPMAPINAMEID**) override;
  STDMETHODIMP GetIDsFromNames(ULONG, LPMAPINAMEID*, ULONG, LPSPropTagArray*) override;
  STDMETHODIMP Advise(ULONG, LPENTRYID, ULONG, LPMAPIADVISESINK, ULONG_PTR*) override;
  STDMETHODIMP Unadvise(ULONG_PTR) override;
  STDMETHODIMP CompareEntryIDs(ULONG, LPENTRYID, ULONG, LPENTRYID, ULONG, ULONG*) override;
  STDMETHODIMP OpenEntry(ULONG, LPENTRYID, LPCIID, ULONG, ULONG*, LPUNKNOWN*) override;
  STDMETHODIMP SetReceiveFolder(LPWSTR, ULONG, ULONG, LPENTRYID) override;
  STDMETHODIMP GetReceiveFolder(LPWSTR, ULONG, ULONG*, LPENTRYID*, LPWSTR*) override;
  STDMETHODIMP GetReceiveFolderTable(ULONG, LPMAPITABLE*) override;
  STDMETHODIMP StoreLogoff(ULONG*) override;
  STDMETHODIMP AbortSubmit(ULONG, LPENTRYID, ULONG) override;
  STDMETHODIMP GetOutgoingQueue(ULONG, LPMAPITABLE*) override;
  STDMETHODIMP SetLockState(LPMESSAGE, ULONG) override;
  STDMETHODIMP FinishedMsg(ULONG, ULONG, LPENTRYID) override;
  STDMETHODIMP NotifyNewMail(void*) override;

 protected:
  bool Supports(REFIID riid) const override;

 private:
  HRESULT FullRow(Row* row);

  std::shared_ptr<StoreFile> file_;
  std::u16string displayName_;
  bool modify_;
};

// Opens a node of file as the object MAPI hands out for it.
HRESULT OpenNode(const std::shared_ptr<StoreFile>& file, NodeId node, LPCIID iid, ULONG flags, ULONG* objType,
                 LPUNKNOWN* out);

}  // namespace standin::mapi
