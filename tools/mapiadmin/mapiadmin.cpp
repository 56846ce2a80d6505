#include "mapiadmin.h"

#include <cstdio>

#include <mapiguid.h>

namespace mapiadmin {

namespace {
std::string HexCode(HRESULT hr) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(hr));
  return buf;
}
}  // namespace

Failure::Failure(const std::string& what, HRESULT hr)
    : std::runtime_error(hr == E_FAIL ? what : what + " (" + HexCode(hr) + ")"), hr(hr) {}

void Check(HRESULT hr, const std::string& what) {
  if (FAILED(hr)) throw Failure(what + " failed", hr);
}

std::u16string W(const std::string& text) { return standin::ToUtf16(text); }
std::string U(std::u16string_view text) { return standin::ToUtf8(text); }

MapiSubsystem::MapiSubsystem() {
  MAPIINIT_0 init = {MAPI_INIT_VERSION, 0};
  Check(MAPIInitialize(&init), "starting MAPI (is the mail client installed? run 'mapiadmin install')");
}
MapiSubsystem::~MapiSubsystem() { MAPIUninitialize(); }

CInterfacePtr<IProfAdmin> OpenProfileAdmin() {
  CInterfacePtr<IProfAdmin> admin;
  Check(MAPIAdminProfiles(0, admin.Put()), "opening the profile administration");
  return admin;
}

CInterfacePtr<IMsgServiceAdmin> OpenServiceAdmin(IProfAdmin* admin, const std::string& profile) {
  CInterfacePtr<IMsgServiceAdmin> services;
  std::u16string name = W(profile);
  Check(admin->AdminServices(name.data(), nullptr, 0, MAPI_UNICODE, services.Put()),
        "opening the services of profile '" + profile + "'");
  return services;
}

CInterfacePtr<IMAPISession> Logon(const std::string& profile) {
  CInterfacePtr<IMAPISession> session;
  std::u16string name = W(profile);
  Check(MAPILogonEx(0, name.data(), nullptr, MAPI_EXTENDED | MAPI_NEW_SESSION | MAPI_EXPLICIT_PROFILE | MAPI_UNICODE,
                    session.Put()),
        "logging on to profile '" + profile + "'");
  return session;
}

CInterfacePtr<IMsgStore> OpenStoreByName(IMAPISession* session, const std::string& displayName) {
  CInterfacePtr<IMAPITable> table;
  Check(session->GetMsgStoresTable(0, table.Put()), "listing the stores");
  SizedSPropTagArray(2, columns) = {2, {PR_DISPLAY_NAME_W, PR_ENTRYID}};
  CRowSet rows;
  Check(HrQueryAllRows(table.Get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0, rows.Put()),
        "reading the store table");
  std::u16string wanted = W(displayName);
  for (ULONG i = 0; i < rows.Count(); ++i) {
    const SPropValue* props = rows->aRow[i].lpProps;
    if (PROP_TYPE(props[0].ulPropTag) != PT_UNICODE || PROP_TYPE(props[1].ulPropTag) != PT_BINARY) continue;
    if (standin::CompareNoCase(props[0].Value.lpszW, wanted) != 0) continue;
    CInterfacePtr<IMsgStore> store;
    Check(session->OpenMsgStore(0, props[1].Value.bin.cb, reinterpret_cast<LPENTRYID>(props[1].Value.bin.lpb),
                                nullptr, MAPI_BEST_ACCESS | MDB_ONLINE, store.Put()),
          "opening store '" + displayName + "'");
    return store;
  }
  throw Failure("the profile has no store named '" + displayName + "'");
}

CInterfacePtr<IMAPIFolder> OpenIpmSubtree(IMsgStore* store) {
  CMapiBuffer<SPropValue> subtree;
  Check(HrGetOneProp(store, PR_IPM_SUBTREE_ENTRYID, subtree.Put()), "reading the store's folder tree");
  ULONG type = 0;
  CInterfacePtr<IMAPIFolder> folder;
  Check(store->OpenEntry(subtree->Value.bin.cb, reinterpret_cast<LPENTRYID>(subtree->Value.bin.lpb), &IID_IMAPIFolder,
                         MAPI_BEST_ACCESS, &type, folder.PutAs<IUnknown>()),
        "opening the store's folder tree");
  return folder;
}

CInterfacePtr<IMAPIFolder> OpenFolderPath(IMsgStore* store, const std::string& path, bool create) {
  CInterfacePtr<IMAPIFolder> folder = OpenIpmSubtree(store);
  size_t start = 0;
  while (start < path.size()) {
    size_t slash = path.find('/', start);
    if (slash == std::string::npos) slash = path.size();
    std::string part = path.substr(start, slash - start);
    start = slash + 1;
    if (part.empty()) continue;
    std::u16string name = W(part);
    CInterfacePtr<IMAPIFolder> child;
    if (create) {
      Check(folder->CreateFolder(FOLDER_GENERIC, name.data(), nullptr, nullptr, OPEN_IF_EXISTS | MAPI_UNICODE,
                                 child.Put()),
            "making folder '" + part + "'");
    } else {
      CInterfacePtr<IMAPITable> table;
      Check(folder->GetHierarchyTable(MAPI_UNICODE, table.Put()), "listing folders");
      SizedSPropTagArray(2, columns) = {2, {PR_DISPLAY_NAME_W, PR_ENTRYID}};
      CRowSet rows;
      Check(HrQueryAllRows(table.Get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0, rows.Put()),
            "listing folders");
      for (ULONG i = 0; i < rows.Count() && !child; ++i) {
        const SPropValue* props = rows->aRow[i].lpProps;
        if (PROP_TYPE(props[0].ulPropTag) != PT_UNICODE || standin::CompareNoCase(props[0].Value.lpszW, name) != 0)
          continue;
        ULONG type = 0;
        Check(folder->OpenEntry(props[1].Value.bin.cb, reinterpret_cast<LPENTRYID>(props[1].Value.bin.lpb),
                                &IID_IMAPIFolder, MAPI_BEST_ACCESS, &type, child.PutAs<IUnknown>()),
              "opening folder '" + part + "'");
      }
      if (!child) throw Failure("the store has no folder '" + path + "'");
    }
    folder = std::move(child);
  }
  return folder;
}

std::u16string GetString(IMAPIProp* object, ULONG tag) {
  CMapiBuffer<SPropValue> value;
  if (FAILED(HrGetOneProp(object, tag, value.Put())) || PROP_TYPE(value->ulPropTag) != PT_UNICODE ||
      !value->Value.lpszW)
    return {};
  return value->Value.lpszW;
}

void SetProps(IMAPIProp* object, std::vector<SPropValue> values, const std::string& what) {
  CMapiBuffer<SPropProblemArray> problems;
  Check(object->SetProps(static_cast<ULONG>(values.size()), values.data(), problems.Put()), what);
  if (problems.Get() && problems->cProblem > 0) {
    char tag[16];
    std::snprintf(tag, sizeof tag, "0x%08X", static_cast<unsigned>(problems->aProblem[0].ulPropTag));
    throw Failure(what + " failed: property " + tag + " was refused", problems->aProblem[0].scode);
  }
}

SPropValue UnicodeValue(ULONG tag, const std::u16string& text) {
  SPropValue v = {};
  v.ulPropTag = tag;
  v.Value.lpszW = const_cast<LPWSTR>(text.c_str());
  return v;
}

SPropValue BinaryValue(ULONG tag, const std::string& bytes) {
  SPropValue v = {};
  v.ulPropTag = tag;
  v.Value.bin.cb = static_cast<ULONG>(bytes.size());
  v.Value.bin.lpb = reinterpret_cast<LPBYTE>(const_cast<char*>(bytes.data()));
  return v;
}

SPropValue LongValue(ULONG tag, LONG value) {
  SPropValue v = {};
  v.ulPropTag = tag;
  v.Value.l = value;
  return v;
}

SPropValue TimeValue(ULONG tag, const FILETIME& ft) {
  SPropValue v = {};
  v.ulPropTag = tag;
  v.Value.ft = ft;
  return v;
}

void Print(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
}

}  // namespace mapiadmin
