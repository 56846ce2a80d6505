// A host for the store-file tests: a second process working on a store file.
//   storehost copy <store> <times>   copies every message of folder "Src" into
//                                    "Dst" (both below the IPM subtree), one
//                                    CopyMessages per message, <times> rounds
//                                    (0: until killed); prints "copied <n>",
//                                    and "saved <n>" once the store's
//                                    SaveChanges has committed them (every
//                                    25 copies)
//   storehost write <store> <n>      saves <n> messages into the Inbox,
//                                    printing "wrote <i>" after each, and
//                                    exits without releasing the store
//   storehost create <store> <name>  makes a new store named <name>
// Exit status 0 when done, 1 when a call failed (with the result printed).
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <mapix.h>
#include <mapiutil.h>
#include <standin/root.h>
#include <wcrt.h>

#include "../../platform/mapi/core.h"

namespace {

struct Releaser {
  void operator()(IUnknown* p) const {
    if (p) p->Release();
  }
};
template <class T>
using Held = std::unique_ptr<T, Releaser>;

int Fail(const char* what, HRESULT hr) {
  std::printf("%s failed 0x%08X\n", what, static_cast<unsigned>(hr));
  std::fflush(stdout);
  return 1;
}

HRESULT OpenById(IMsgStore* store, const SPropValue* id, IMAPIFolder** out) {
  ULONG type = 0;
  IUnknown* unk = nullptr;
  HRESULT hr = store->OpenEntry(id ? id->Value.bin.cb : 0, id ? reinterpret_cast<LPENTRYID>(id->Value.bin.lpb) : nullptr,
                                nullptr, MAPI_MODIFY, &type, &unk);
  if (FAILED(hr)) return hr;
  *out = static_cast<IMAPIFolder*>(unk);
  return S_OK;
}

HRESULT Named(IMAPIFolder* parent, const char16_t* name, IMAPIFolder** out) {
  std::u16string n(name);
  return parent->CreateFolder(FOLDER_GENERIC, reinterpret_cast<LPWSTR>(n.data()), nullptr, nullptr,
                              MAPI_UNICODE | OPEN_IF_EXISTS, out);
}

int Copy(IMsgStore* store, long times) {
  LPSPropValue subtreeId = nullptr;
  HRESULT hr = HrGetOneProp(store, PR_IPM_SUBTREE_ENTRYID, &subtreeId);
  if (FAILED(hr)) return Fail("HrGetOneProp", hr);
  IMAPIFolder* raw = nullptr;
  hr = OpenById(store, subtreeId, &raw);
  MAPIFreeBuffer(subtreeId);
  if (FAILED(hr)) return Fail("OpenEntry", hr);
  Held<IMAPIFolder> subtree(raw);
  if (FAILED(hr = Named(subtree.get(), u"Src", &raw))) return Fail("CreateFolder", hr);
  Held<IMAPIFolder> src(raw);
  if (FAILED(hr = Named(subtree.get(), u"Dst", &raw))) return Fail("CreateFolder", hr);
  Held<IMAPIFolder> dst(raw);
  LPMAPITABLE table = nullptr;
  if (FAILED(hr = src->GetContentsTable(0, &table))) return Fail("GetContentsTable", hr);
  Held<IMAPITable> hold(table);
  SizedSPropTagArray(1, cols) = {1, {PR_ENTRYID}};
  LPSRowSet rows = nullptr;
  if (FAILED(hr = HrQueryAllRows(table, reinterpret_cast<LPSPropTagArray>(&cols), nullptr, nullptr, 0, &rows)))
    return Fail("HrQueryAllRows", hr);
  std::vector<std::string> ids;
  for (ULONG i = 0; i < rows->cRows; ++i)
    ids.emplace_back(reinterpret_cast<char*>(rows->aRow[i].lpProps[0].Value.bin.lpb),
                     rows->aRow[i].lpProps[0].Value.bin.cb);
  FreeProws(rows);
  long copied = 0;
  for (long round = 0; times == 0 || round < times; ++round) {
    for (std::string& id : ids) {
      SBinary bin{static_cast<ULONG>(id.size()), reinterpret_cast<LPBYTE>(id.data())};
      ENTRYLIST list{1, &bin};
      hr = src->CopyMessages(&list, nullptr, dst.get(), 0, nullptr, 0);
      if (hr != S_OK) return Fail("CopyMessages", hr);
      std::printf("copied %ld\n", ++copied);
      if (copied % 25 == 0) {
        if (FAILED(hr = store->SaveChanges(KEEP_OPEN_READWRITE))) return Fail("SaveChanges", hr);
        std::printf("saved %ld\n", copied);
      }
      std::fflush(stdout);
    }
  }
  return 0;
}

int Write(IMsgStore* store, long count) {
  ULONG cb = 0;
  LPENTRYID id = nullptr;
  HRESULT hr = store->GetReceiveFolder(nullptr, 0, &cb, &id, nullptr);
  if (FAILED(hr)) return Fail("GetReceiveFolder", hr);
  ULONG type = 0;
  IUnknown* unk = nullptr;
  hr = store->OpenEntry(cb, id, nullptr, MAPI_MODIFY, &type, &unk);
  MAPIFreeBuffer(id);
  if (FAILED(hr)) return Fail("OpenEntry", hr);
  Held<IMAPIFolder> inbox(static_cast<IMAPIFolder*>(unk));
  for (long i = 0; i < count; ++i) {
    LPMESSAGE raw = nullptr;
    if (FAILED(hr = inbox->CreateMessage(nullptr, 0, &raw))) return Fail("CreateMessage", hr);
    Held<IMessage> message(raw);
    std::u16string subject = standin::ToUtf16("message " + std::to_string(i));
    SPropValue v{};
    v.ulPropTag = PR_SUBJECT_W;
    v.Value.lpszW = reinterpret_cast<LPWSTR>(subject.data());
    if (FAILED(hr = message->SetProps(1, &v, nullptr))) return Fail("SetProps", hr);
    if (FAILED(hr = message->SaveChanges(0))) return Fail("SaveChanges", hr);
    std::printf("wrote %ld\n", i + 1);
    std::fflush(stdout);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: storehost copy|write <store> <n> | create <store> <name>\n");
    return 2;
  }
  std::string command = argv[1];
  if (command == "create") {
    HRESULT hr = standin::mapi::CreateStoreFile(standin::ToWindowsPath(argv[2]), standin::ToUtf16(argv[3]));
    return FAILED(hr) ? Fail("CreateStoreFile", hr) : 0;
  }
  long n = std::strtol(argv[3], nullptr, 10);
  LPMDB raw = nullptr;
  HRESULT hr = standin::mapi::OpenStoreFile(standin::ToWindowsPath(argv[2]), u"Host", MDB_WRITE, &raw);
  if (FAILED(hr)) return Fail("OpenStoreFile", hr);
  Held<IMsgStore> store(raw);
  if (command == "copy") return Copy(store.get(), n);
  if (command == "write") {
    // Left to the process's exit, which commits what it holds; held from a
    // static so that a leak check at exit takes it for kept, not lost.
    static LPMDB kept = store.release();
    return Write(kept, n);
  }
  return 2;
}
