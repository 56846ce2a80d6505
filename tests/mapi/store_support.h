// Helpers of the store-file tests: scoped MAPI holders and small readers.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include <mapix.h>
#include <mapiutil.h>
#include <standin/fault.h>
#include <wcrt.h>

#include "../../platform/mapi/store.h"
#include "common/fresh_root.h"

namespace store_test {

struct Releaser {
  void operator()(IUnknown* p) const {
    if (p) p->Release();
  }
};
template <class T>
using Held = std::unique_ptr<T, Releaser>;

struct BufferFree {
  void operator()(void* p) const {
    if (p) MAPIFreeBuffer(p);
  }
};
using PropsHeld = std::unique_ptr<SPropValue, BufferFree>;
struct RowsFree {
  void operator()(LPSRowSet rows) const {
    if (rows) FreeProws(rows);
  }
};
using RowsHeld = std::unique_ptr<SRowSet, RowsFree>;

inline std::u16string U(const std::string& s) { return standin::ToUtf16(s); }
inline LPWSTR W(std::u16string& s) { return reinterpret_cast<LPWSTR>(s.data()); }
inline std::string Narrow(LPCWSTR s) { return s ? standin::ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(s))) : ""; }

inline LPENTRYID Eid(std::string& bytes) { return reinterpret_cast<LPENTRYID>(bytes.data()); }

inline Held<IMsgStore> OpenStore(const std::string& path, HRESULT* result = nullptr) {
  LPMDB store = nullptr;
  HRESULT hr = standin::mapi::OpenStoreFile(U(path), u"Personal Folders", MDB_WRITE, &store);
  if (result) *result = hr;
  return Held<IMsgStore>(store);
}

inline std::string BinProp(IMAPIProp* object, ULONG tag) {
  LPSPropValue value = nullptr;
  if (FAILED(HrGetOneProp(object, tag, &value))) return "";
  PropsHeld hold(value);
  return std::string(reinterpret_cast<const char*>(value->Value.bin.lpb), value->Value.bin.cb);
}

inline Held<IMAPIFolder> OpenFolder(IMsgStore* store, std::string entryId, ULONG flags = MAPI_MODIFY) {
  ULONG type = 0;
  IUnknown* unk = nullptr;
  HRESULT hr = store->OpenEntry(static_cast<ULONG>(entryId.size()), entryId.empty() ? nullptr : Eid(entryId), nullptr,
                                flags, &type, &unk);
  if (FAILED(hr) || type != MAPI_FOLDER) {
    if (unk) unk->Release();
    return nullptr;
  }
  return Held<IMAPIFolder>(static_cast<IMAPIFolder*>(unk));
}

inline Held<IMAPIFolder> CreateFolder(IMAPIFolder* parent, const std::string& name, ULONG flags = MAPI_UNICODE,
                                      HRESULT* result = nullptr) {
  std::u16string wide = U(name);
  LPMAPIFOLDER folder = nullptr;
  HRESULT hr = parent->CreateFolder(FOLDER_GENERIC, W(wide), nullptr, nullptr, flags, &folder);
  if (result) *result = hr;
  return Held<IMAPIFolder>(folder);
}

inline Held<IMAPIFolder> Inbox(IMsgStore* store) {
  ULONG cb = 0;
  LPENTRYID id = nullptr;
  if (FAILED(store->GetReceiveFolder(nullptr, 0, &cb, &id, nullptr))) return nullptr;
  std::string bytes(reinterpret_cast<const char*>(id), cb);
  MAPIFreeBuffer(id);
  return OpenFolder(store, bytes);
}

// All rows of a table with the given columns.
inline RowsHeld QueryAll(LPMAPITABLE table, std::vector<ULONG> columns) {
  std::vector<ULONG> buffer(columns.size() + 1);
  buffer[0] = static_cast<ULONG>(columns.size());
  std::copy(columns.begin(), columns.end(), buffer.begin() + 1);
  LPSRowSet rows = nullptr;
  HRESULT hr = HrQueryAllRows(table, reinterpret_cast<LPSPropTagArray>(buffer.data()), nullptr, nullptr, 0, &rows);
  EXPECT_EQ(hr, S_OK);
  return RowsHeld(rows);
}

inline RowsHeld Contents(IMAPIFolder* folder, std::vector<ULONG> columns) {
  LPMAPITABLE table = nullptr;
  if (FAILED(folder->GetContentsTable(0, &table))) return nullptr;
  Held<IMAPITable> hold(table);
  return QueryAll(table, std::move(columns));
}

inline RowsHeld Hierarchy(IMAPIFolder* folder, std::vector<ULONG> columns) {
  LPMAPITABLE table = nullptr;
  if (FAILED(folder->GetHierarchyTable(0, &table))) return nullptr;
  Held<IMAPITable> hold(table);
  return QueryAll(table, std::move(columns));
}

inline SPropValue Unicode(ULONG tag, std::u16string& text) {
  SPropValue v{};
  v.ulPropTag = tag;
  v.Value.lpszW = W(text);
  return v;
}

inline SPropValue Time(ULONG tag, uint64_t value) {
  SPropValue v{};
  v.ulPropTag = tag;
  v.Value.ft.dwLowDateTime = static_cast<DWORD>(value);
  v.Value.ft.dwHighDateTime = static_cast<DWORD>(value >> 32);
  return v;
}

inline uint64_t TimeOf(const SPropValue& v) {
  return (uint64_t(v.Value.ft.dwHighDateTime) << 32) | v.Value.ft.dwLowDateTime;
}

// A saved message with a subject, a body, two recipients and one attachment.
inline HRESULT MakeMessage(IMAPIFolder* folder, const std::string& subject, std::string* entryId = nullptr) {
  LPMESSAGE raw = nullptr;
  HRESULT hr = folder->CreateMessage(nullptr, 0, &raw);
  if (FAILED(hr)) return hr;
  Held<IMessage> message(raw);
  std::u16string s = U(subject), body = U("Body of " + subject), cls = u"IPM.Note";
  SPropValue props[] = {Unicode(PR_SUBJECT_W, s), Unicode(PR_BODY_W, body), Unicode(PR_MESSAGE_CLASS_W, cls)};
  hr = message->SetProps(3, props, nullptr);
  if (FAILED(hr)) return hr;
  std::u16string n1 = u"Ann", n2 = u"Bob", a1 = u"ann@example.com", a2 = u"bob@example.com";
  SPropValue r1[] = {Unicode(PR_DISPLAY_NAME_W, n1), Unicode(PR_EMAIL_ADDRESS_W, a1), {}};
  SPropValue r2[] = {Unicode(PR_DISPLAY_NAME_W, n2), Unicode(PR_EMAIL_ADDRESS_W, a2), {}};
  r1[2].ulPropTag = PR_RECIPIENT_TYPE;
  r1[2].Value.l = MAPI_TO;
  r2[2].ulPropTag = PR_RECIPIENT_TYPE;
  r2[2].Value.l = MAPI_CC;
  struct {
    ULONG cEntries;
    ADRENTRY aEntries[2];
  } list = {2, {{0, 3, r1}, {0, 3, r2}}};
  hr = message->ModifyRecipients(MODRECIP_ADD, reinterpret_cast<LPADRLIST>(&list));
  if (FAILED(hr)) return hr;
  ULONG num = 0;
  LPATTACH att = nullptr;
  hr = message->CreateAttach(nullptr, 0, &num, &att);
  if (FAILED(hr)) return hr;
  Held<IAttach> attach(att);
  std::u16string file = u"note.txt";
  std::string data = "attachment data of " + subject;
  SPropValue ap[3] = {Unicode(PR_ATTACH_LONG_FILENAME_W, file), {}, {}};
  ap[1].ulPropTag = PR_ATTACH_DATA_BIN;
  ap[1].Value.bin.cb = static_cast<ULONG>(data.size());
  ap[1].Value.bin.lpb = reinterpret_cast<LPBYTE>(data.data());
  ap[2].ulPropTag = PR_ATTACH_METHOD;
  ap[2].Value.l = ATTACH_BY_VALUE;
  hr = attach->SetProps(3, ap, nullptr);
  if (SUCCEEDED(hr)) hr = attach->SaveChanges(0);
  if (SUCCEEDED(hr)) hr = message->SaveChanges(KEEP_OPEN_READWRITE);
  if (SUCCEEDED(hr) && entryId) *entryId = BinProp(message.get(), PR_ENTRYID);
  return hr;
}

inline std::string StorePath(const std::string& root, const std::string& name = "mail.pst") {
  return root + "/" + name;
}

}  // namespace store_test
