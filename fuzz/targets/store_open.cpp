// Store-file open: a store file whose bytes are the input opened as a message
// store, and what a backup reads of it walked: the store's properties, the
// folder tree, each folder's contents, each message's properties, recipients
// and attachments (a bounded number of objects).
#include <mapiutil.h>
#include <mapix.h>

#include <string>

#include "core.h"
#include "fuzz_target.h"
#include "owners/MapiOwners.h"
#include "owners/ScopedOwner.h"

namespace {

constexpr int kMaxObjects = 64;

void ReadAllProps(IMAPIProp* object) {
  ULONG count = 0;
  CMapiBuffer<SPropValue> props;
  object->GetProps(nullptr, MAPI_UNICODE, &count, props.Put());
}

void ReadTable(IMAPITable* table, CRowSet* rows) {
  HrQueryAllRows(table, nullptr, nullptr, nullptr, 0, rows->Put());
}

// The object a table row names by its entry identifier, when it is of the
// kind the row's table lists (a hostile file can name a folder as a message).
template <class T>
bool OpenRow(IMsgStore* store, const SRow& row, ULONG kind, CInterfacePtr<T>* out) {
  LPSPropValue id = PpropFindProp(row.lpProps, row.cValues, PR_ENTRYID);
  if (!id) return false;
  ULONG type = 0;
  CInterfacePtr<IUnknown> object;
  if (FAILED(store->OpenEntry(id->Value.bin.cb, reinterpret_cast<LPENTRYID>(id->Value.bin.lpb), nullptr, 0, &type,
                              object.Put())) ||
      !object || type != kind)
    return false;
  out->Attach(static_cast<T*>(object.Detach()));
  return true;
}

void WalkMessage(IMessage* message) {
  ReadAllProps(message);
  CInterfacePtr<IMAPITable> table;
  CRowSet rows;
  if (SUCCEEDED(message->GetRecipientTable(MAPI_UNICODE, table.Put()))) ReadTable(table.Get(), &rows);
  if (FAILED(message->GetAttachmentTable(MAPI_UNICODE, table.Put()))) return;
  ReadTable(table.Get(), &rows);
  for (ULONG i = 0; i < rows.Count(); ++i) {
    LPSPropValue num = PpropFindProp(rows->aRow[i].lpProps, rows->aRow[i].cValues, PR_ATTACH_NUM);
    if (!num) continue;
    CInterfacePtr<IAttach> attach;
    if (SUCCEEDED(message->OpenAttach(num->Value.l, nullptr, 0, attach.Put()))) ReadAllProps(attach.Get());
  }
}

void WalkFolder(IMsgStore* store, IMAPIFolder* folder, int depth, int* budget) {
  if (depth > 16 || --*budget < 0) return;
  ReadAllProps(folder);
  CInterfacePtr<IMAPITable> table;
  CRowSet rows;
  if (SUCCEEDED(folder->GetContentsTable(MAPI_UNICODE, table.Put()))) {
    ReadTable(table.Get(), &rows);
    for (ULONG i = 0; i < rows.Count() && --*budget >= 0; ++i) {
      CInterfacePtr<IMessage> message;
      if (OpenRow(store, rows->aRow[i], MAPI_MESSAGE, &message)) WalkMessage(message.Get());
    }
  }
  if (FAILED(folder->GetHierarchyTable(MAPI_UNICODE, table.Put()))) return;
  ReadTable(table.Get(), &rows);
  for (ULONG i = 0; i < rows.Count(); ++i) {
    CInterfacePtr<IMAPIFolder> child;
    if (OpenRow(store, rows->aRow[i], MAPI_FOLDER, &child)) WalkFolder(store, child.Get(), depth + 1, budget);
  }
}

}  // namespace

int FuzzOne(const uint8_t* data, size_t size) {
  fuzzing::InputRoot root;
  std::string file = root.File("input.pst");
  fuzzing::WriteBytes(file, std::string_view(reinterpret_cast<const char*>(data), size));
  CInterfacePtr<IMsgStore> store;
  if (FAILED(standin::mapi::OpenStoreFile(fuzzing::WindowsPath(file), u"Personal Folders", 0, store.Put()))) return 0;
  ReadAllProps(store.Get());
  ULONG type = 0;
  CInterfacePtr<IMAPIFolder> top;
  if (FAILED(store->OpenEntry(0, nullptr, nullptr, 0, &type, top.PutAs<IUnknown>()))) return 0;
  int budget = kMaxObjects;
  WalkFolder(store.Get(), top.Get(), 0, &budget);
  return 0;
}
