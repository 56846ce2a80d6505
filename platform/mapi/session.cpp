// MAPILogonEx and IMAPISession.
//
// A store entry identifier in the session's store table is 36 bytes: four
// flag bytes (zero), kStoreWrapUid, then the UID of the store provider's
// section in the session's profile. OpenMsgStore takes it back and opens the
// store file that the section names.
#include "session.h"

#include <mapix.h>

#include <cstring>

#include "profile_store.h"
#include "service.h"
#include "store.h"

namespace standin::mapi {

const MAPIUID kStoreWrapUid = {
    {0x38, 0xa1, 0xbb, 0x10, 0x05, 0xe5, 0x10, 0x1a, 0xa1, 0xbb, 0x08, 0x00, 0x2b, 0x2a, 0x56, 0xc2}};

std::string MakeStoreEntryId(const MAPIUID& provider) {
  std::string id(4, '\0');
  id += profiles::UidBytes(kStoreWrapUid);
  id += profiles::UidBytes(provider);
  return id;
}

bool ParseStoreEntryId(const void* bytes, size_t size, MAPIUID* provider) {
  if (!bytes || size != kStoreEntryIdSize) return false;
  std::string id(static_cast<const char*>(bytes), size);
  if (id.compare(0, 4, std::string(4, '\0')) != 0) return false;
  if (!profiles::SameUid(profiles::UidFromBytes(id, 4), kStoreWrapUid)) return false;
  *provider = profiles::UidFromBytes(id, 20);
  return true;
}

namespace {

using namespace profiles;

class Session final : public ComObject<IMAPISession> {
 public:
  explicit Session(std::u16string profile) : profile_(std::move(profile)) {}

  STDMETHODIMP GetLastError(HRESULT, ULONG, LPMAPIERROR*) override {
    MAPI_FAULT_POINT("IMAPISession::GetLastError");
    return MAPI_E_NO_SUPPORT;
  }

  STDMETHODIMP GetMsgStoresTable(ULONG flags, LPMAPITABLE* table) override {
    MAPI_FAULT_POINT("IMAPISession::GetMsgStoresTable");
    if (!table) return MAPI_E_INVALID_PARAMETER;
    *table = nullptr;
    if (loggedOff_) return MAPI_E_END_OF_SESSION;
    std::vector<Row> rows;
    HRESULT hr = StoreRows(&rows);
    if (FAILED(hr)) return hr;
    bool wide = flags & MAPI_UNICODE;
    *table = NewRowTable(std::move(rows), {wide ? PR_DISPLAY_NAME_W : PR_DISPLAY_NAME_A, PR_ENTRYID, PR_RESOURCE_FLAGS,
                                           PR_DEFAULT_STORE, PR_MDB_PROVIDER});
    return *table ? S_OK : MAPI_E_NOT_ENOUGH_MEMORY;
  }

  STDMETHODIMP OpenMsgStore(ULONG_PTR, ULONG cbEntryID, LPENTRYID entryId, LPCIID iid, ULONG flags,
                            LPMDB* mdb) override {
    // An armed warning comes back with the store opened, as a provider's
    // partial success does; an armed error comes back alone.
    int32_t armed = 0;
    if (::standin::TakeFault("IMAPISession::OpenMsgStore", &armed)) {
      if (armed <= 0) return static_cast<HRESULT>(armed);
      HRESULT hr = OpenMsgStoreFile(cbEntryID, entryId, iid, flags, mdb);
      return SUCCEEDED(hr) ? static_cast<HRESULT>(armed) : hr;
    }
    return OpenMsgStoreFile(cbEntryID, entryId, iid, flags, mdb);
  }

  HRESULT OpenMsgStoreFile(ULONG cbEntryID, LPENTRYID entryId, LPCIID iid, ULONG flags, LPMDB* mdb) {
    if (!mdb) return MAPI_E_INVALID_PARAMETER;
    *mdb = nullptr;
    if (loggedOff_) return MAPI_E_END_OF_SESSION;
    if (iid && *iid != IID_IMsgStore && *iid != IID_IMAPIProp) return MAPI_E_INTERFACE_NOT_SUPPORTED;
    MAPIUID provider;
    if (!ParseStoreEntryId(entryId, cbEntryID, &provider)) return MAPI_E_INVALID_ENTRYID;
    Row section;
    HRESULT hr = ReadSection(profile_, provider, &section);
    if (FAILED(hr)) return hr;
    if (RowLong(section, PR_RESOURCE_TYPE).value_or(0) != static_cast<LONG>(MAPI_STORE_PROVIDER))
      return MAPI_E_INVALID_ENTRYID;
    // Only personal folders have a store behind them in the stand-in.
    if (!IsPstProvider(section)) return MAPI_E_FAILONEPROVIDER;
    std::optional<std::u16string> path = RowText(section, PROP_ID(PR_PST_PATH_W));
    if (!path || path->empty()) return MAPI_E_UNCONFIGURED;
    std::u16string display = RowText(section, PROP_ID(PR_DISPLAY_NAME_W)).value_or(u"");
    hr = OpenStoreFile(*path, display, flags, mdb);
    if (FAILED(hr)) return hr;
    if (auto* ours = dynamic_cast<StoreObj*>(*mdb)) {
      std::erase_if(stores_, [](const std::weak_ptr<StoreFile>& weak) { return weak.expired(); });
      stores_.push_back(ours->file());
    }
    return hr;
  }

  STDMETHODIMP OpenAddressBook(ULONG_PTR, LPCIID, ULONG, LPADRBOOK*) override {
    MAPI_FAULT_POINT("IMAPISession::OpenAddressBook");
    return MAPI_E_NO_SUPPORT;
  }

  STDMETHODIMP OpenProfileSection(LPMAPIUID uid, LPCIID iid, ULONG flags, LPPROFSECT* out) override {
    MAPI_FAULT_POINT("IMAPISession::OpenProfileSection");
    if (out) *out = nullptr;
    if (loggedOff_) return MAPI_E_END_OF_SESSION;
    return mapi::OpenProfileSection(profile_, uid, iid, flags, out);
  }

  STDMETHODIMP GetStatusTable(ULONG, LPMAPITABLE*) override {
    MAPI_FAULT_POINT("IMAPISession::GetStatusTable");
    return MAPI_E_NO_SUPPORT;
  }
  STDMETHODIMP OpenEntry(ULONG, LPENTRYID, LPCIID, ULONG, ULONG*, LPUNKNOWN*) override {
    MAPI_FAULT_POINT("IMAPISession::OpenEntry");
    return MAPI_E_NO_SUPPORT;
  }
  STDMETHODIMP CompareEntryIDs(ULONG, LPENTRYID, ULONG, LPENTRYID, ULONG, ULONG*) override {
    MAPI_FAULT_POINT("IMAPISession::CompareEntryIDs");
    return MAPI_E_NO_SUPPORT;
  }
  STDMETHODIMP Advise(ULONG, LPENTRYID, ULONG, LPMAPIADVISESINK, ULONG_PTR*) override {
    MAPI_FAULT_POINT("IMAPISession::Advise");
    return MAPI_E_NO_SUPPORT;
  }
  STDMETHODIMP Unadvise(ULONG_PTR) override {
    MAPI_FAULT_POINT("IMAPISession::Unadvise");
    return MAPI_E_NO_SUPPORT;
  }
  STDMETHODIMP MessageOptions(ULONG_PTR, ULONG, LPWSTR, LPMESSAGE) override {
    MAPI_FAULT_POINT("IMAPISession::MessageOptions");
    return MAPI_E_NO_SUPPORT;
  }
  STDMETHODIMP QueryDefaultMessageOpt(LPWSTR, ULONG, ULONG*, LPSPropValue*) override {
    MAPI_FAULT_POINT("IMAPISession::QueryDefaultMessageOpt");
    return MAPI_E_NO_SUPPORT;
  }
  STDMETHODIMP EnumAdrTypes(ULONG, ULONG*, LPWSTR**) override {
    MAPI_FAULT_POINT("IMAPISession::EnumAdrTypes");
    return MAPI_E_NO_SUPPORT;
  }
  STDMETHODIMP QueryIdentity(ULONG*, LPENTRYID*) override {
    MAPI_FAULT_POINT("IMAPISession::QueryIdentity");
    return MAPI_E_NO_SUPPORT;
  }

  STDMETHODIMP Logoff(ULONG_PTR, ULONG, ULONG) override {
    MAPI_FAULT_POINT("IMAPISession::Logoff");
    loggedOff_ = true;
    // What the session wrote is committed, whatever of it is still open.
    HRESULT result = S_OK;
    for (const std::weak_ptr<StoreFile>& weak : stores_)
      if (std::shared_ptr<StoreFile> file = weak.lock()) {
        HRESULT hr = file->CommitGroup();
        if (FAILED(hr) && SUCCEEDED(result)) result = hr;
      }
    stores_.clear();
    return result;
  }

  STDMETHODIMP SetDefaultStore(ULONG, ULONG, LPENTRYID) override {
    MAPI_FAULT_POINT("IMAPISession::SetDefaultStore");
    return MAPI_E_NO_SUPPORT;
  }

  STDMETHODIMP AdminServices(ULONG, LPSERVICEADMIN* out) override {
    MAPI_FAULT_POINT("IMAPISession::AdminServices");
    if (!out) return MAPI_E_INVALID_PARAMETER;
    *out = nullptr;
    if (loggedOff_) return MAPI_E_END_OF_SESSION;
    HRESULT hr = ProfileExists(profile_);
    if (FAILED(hr)) return hr;
    *out = NewServiceAdmin(profile_);
    return S_OK;
  }

  STDMETHODIMP ShowForm(ULONG_PTR, LPMDB, LPMAPIFOLDER, LPCIID, ULONG, LPMESSAGE, ULONG, ULONG, ULONG, ULONG,
                        LPWSTR) override {
    MAPI_FAULT_POINT("IMAPISession::ShowForm");
    return MAPI_E_NO_SUPPORT;
  }
  STDMETHODIMP PrepareForm(LPCIID, LPMESSAGE, ULONG*) override {
    MAPI_FAULT_POINT("IMAPISession::PrepareForm");
    return MAPI_E_NO_SUPPORT;
  }

 protected:
  bool Supports(REFIID riid) const override { return riid == IID_IMAPISession; }

 private:
  // One row per store provider, in the order of the profile's services.
  HRESULT StoreRows(std::vector<Row>* rows) const {
    Row list;
    HRESULT hr = ReadSection(profile_, kServiceListSection, &list);
    if (hr == MAPI_E_NOT_FOUND) return S_OK;
    if (FAILED(hr)) return hr;
    for (const MAPIUID& serviceUid : RowUidList(list, PR_SERVICES)) {
      Row service;
      hr = ReadSection(profile_, serviceUid, &service);
      if (FAILED(hr)) return hr;
      for (const MAPIUID& providerUid : RowUidList(service, PR_STORE_PROVIDERS)) {
        Row provider;
        hr = ReadSection(profile_, providerUid, &provider);
        if (FAILED(hr)) return hr;
        LONG flags = RowLong(provider, PR_RESOURCE_FLAGS).value_or(0);
        std::u16string display = RowText(provider, PROP_ID(PR_DISPLAY_NAME_W)).value_or(u"");
        std::string entryId = MakeStoreEntryId(providerUid);
        Row row = {MakeUnicode(PR_DISPLAY_NAME_W, display),
                   MakeString8(PR_DISPLAY_NAME_A, standin::ToUtf8(display)),
                   MakeBinary(PR_ENTRYID, entryId.data(), entryId.size()),
                   MakeBinary(PR_RECORD_KEY, providerUid.ab, 16),
                   MakeBinary(PR_PROVIDER_UID, providerUid.ab, 16),
                   MakeBinary(PR_SERVICE_UID, serviceUid.ab, 16),
                   MakeLong(PR_RESOURCE_FLAGS, flags),
                   MakeLong(PR_RESOURCE_TYPE, static_cast<LONG>(MAPI_STORE_PROVIDER)),
                   MakeLong(PR_OBJECT_TYPE, static_cast<LONG>(MAPI_STORE)),
                   MakeBool(PR_DEFAULT_STORE, (flags & STATUS_DEFAULT_STORE) != 0)};
        if (const OwnedProp* mdb = FindProp(provider, PR_MDB_PROVIDER)) row.push_back(*mdb);
        rows->push_back(std::move(row));
      }
    }
    return S_OK;
  }

  std::u16string profile_;
  bool loggedOff_ = false;
  std::vector<std::weak_ptr<StoreFile>> stores_;  // the store files it opened
};

}  // namespace
}  // namespace standin::mapi

// A named profile is used as named; an empty name with MAPI_USE_DEFAULT means
// the default profile. Every logon gets its own session.
MAPIAPI HRESULT STDMETHODCALLTYPE MAPILogonEx(ULONG_PTR, LPWSTR lpszProfileName, LPWSTR, ULONG ulFlags,
                                              LPMAPISESSION* lppSession) {
  MAPI_FAULT_POINT("MAPILogonEx");
  using namespace standin::mapi;
  if (!lppSession) return MAPI_E_INVALID_PARAMETER;
  *lppSession = nullptr;
  if (!SubsystemInitialized()) return MAPI_E_NOT_INITIALIZED;
  std::u16string name = profiles::NameArg(lpszProfileName, ulFlags);
  if (name.empty() && (ulFlags & MAPI_USE_DEFAULT)) {
    HRESULT hr = profiles::GetDefaultProfile(&name);
    if (FAILED(hr)) return hr;
  }
  if (name.empty()) return MAPI_E_LOGON_FAILED;
  HRESULT hr = profiles::ProfileExists(name);
  if (hr == MAPI_E_NOT_FOUND) return MAPI_E_LOGON_FAILED;
  if (FAILED(hr)) return hr;
  *lppSession = new Session(std::move(name));
  return S_OK;
}
