#include "service.h"

#include <wcrt.h>

#include <cstring>
#include <optional>

namespace standin::mapi {

using namespace profiles;

const MAPIUID kPstMdbProvider = {
    {0x4e, 0x49, 0x54, 0x41, 0xf9, 0xbf, 0xb8, 0x01, 0x00, 0xaa, 0x00, 0x37, 0xd9, 0x6e, 0x00, 0x00}};
const MAPIUID kUnicodePstMdbProvider = {
    {0x4e, 0x49, 0x54, 0x41, 0xf9, 0xbf, 0xb8, 0x01, 0x00, 0xaa, 0x00, 0x37, 0xd9, 0x6e, 0x00, 0x01}};
const MAPIUID kImapMdbProvider = {
    {0x4e, 0x49, 0x54, 0x41, 0xf9, 0xbf, 0xb8, 0x01, 0x00, 0xaa, 0x00, 0x37, 0xd9, 0x6e, 0x00, 0x02}};

namespace {

struct CatalogEntry {
  const char* name;
  const char* displayName;
  const char* dll;
  ULONG resourceType;  // of its one provider
  const MAPIUID* mdb;  // store kind, or null
  bool pst;
};

const CatalogEntry kCatalog[] = {
    {"MSUPST MS", "Personal Folders", "mspst.dll", MAPI_STORE_PROVIDER, &kUnicodePstMdbProvider, true},
    {"MSPST MS", "Personal Folders", "mspst.dll", MAPI_STORE_PROVIDER, &kPstMdbProvider, true},
    {"CONTAB", "Outlook Address Book", "contab.dll", MAPI_AB_PROVIDER, nullptr, false},
    {"INTERSTOR", "Internet Folders", "interstor.dll", MAPI_STORE_PROVIDER, &kImapMdbProvider, false},
};

const CatalogEntry* FindCatalog(std::u16string_view name) {
  for (const CatalogEntry& e : kCatalog)
    if (standin::CompareNoCase(standin::ToUtf16(e.name), name) == 0) return &e;
  return nullptr;
}

HRESULT ListServices(const std::u16string& profile, std::vector<MAPIUID>* uids) {
  Row list;
  HRESULT hr = ReadSection(profile, kServiceListSection, &list);
  if (hr == MAPI_E_NOT_FOUND) {
    uids->clear();
    return S_OK;
  }
  if (FAILED(hr)) return hr;
  *uids = RowUidList(list, PR_SERVICES);
  return S_OK;
}

HRESULT FindService(const std::u16string& profile, const MAPIUID* uid, Row* section) {
  if (!uid) return MAPI_E_INVALID_PARAMETER;
  std::vector<MAPIUID> uids;
  HRESULT hr = ListServices(profile, &uids);
  if (FAILED(hr)) return hr;
  for (const MAPIUID& u : uids)
    if (SameUid(u, *uid)) return ReadSection(profile, u, section);
  return MAPI_E_NOT_FOUND;
}

std::vector<MAPIUID> ProvidersOf(const Row& service) {
  std::vector<MAPIUID> all = RowUidList(service, PR_STORE_PROVIDERS);
  for (const MAPIUID& u : RowUidList(service, PR_AB_PROVIDERS)) all.push_back(u);
  return all;
}

bool IsStoreService(const Row& service) { return !RowUidList(service, PR_STORE_PROVIDERS).empty(); }

// Marks (or unmarks) a service and its store providers as the default store.
HRESULT MarkDefaultStore(const std::u16string& profile, const MAPIUID& serviceUid, bool isDefault) {
  Row service;
  HRESULT hr = ReadSection(profile, serviceUid, &service);
  if (FAILED(hr)) return hr;
  LONG flags = RowLong(service, PR_RESOURCE_FLAGS).value_or(0);
  flags = isDefault ? (flags | SERVICE_DEFAULT_STORE) : (flags & ~static_cast<LONG>(SERVICE_DEFAULT_STORE));
  hr = WriteSection(profile, serviceUid, {MakeLong(PR_RESOURCE_FLAGS, flags)});
  if (FAILED(hr)) return hr;
  for (const MAPIUID& p : RowUidList(service, PR_STORE_PROVIDERS)) {
    Row provider;
    hr = ReadSection(profile, p, &provider);
    if (FAILED(hr)) return hr;
    LONG pf = RowLong(provider, PR_RESOURCE_FLAGS).value_or(0);
    pf = isDefault ? (pf | STATUS_DEFAULT_STORE) : (pf & ~static_cast<LONG>(STATUS_DEFAULT_STORE));
    hr = WriteSection(profile, p, {MakeLong(PR_RESOURCE_FLAGS, pf)});
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

// A profile has one default store: the service (or store provider) marked as
// the default takes the mark from every other service and its providers.
HRESULT MakeSoleDefaultStore(const std::u16string& profile, const MAPIUID& section, const Row& written) {
  std::optional<LONG> flags = RowLong(written, PR_RESOURCE_FLAGS);
  if (!flags) return S_OK;
  std::vector<MAPIUID> services;
  HRESULT hr = ListServices(profile, &services);
  if (FAILED(hr)) return hr;
  // The service that section belongs to: itself, or the service of a store
  // provider.
  const MAPIUID* marked = nullptr;
  std::vector<Row> rows(services.size());
  for (size_t i = 0; i < services.size(); ++i) {
    hr = ReadSection(profile, services[i], &rows[i]);
    if (FAILED(hr)) return hr;
    if (SameUid(services[i], section) && (*flags & SERVICE_DEFAULT_STORE)) marked = &services[i];
    for (const MAPIUID& p : RowUidList(rows[i], PR_STORE_PROVIDERS))
      if (SameUid(p, section) && (*flags & STATUS_DEFAULT_STORE)) marked = &services[i];
  }
  if (!marked || !IsStoreService(rows[marked - services.data()])) return S_OK;
  for (size_t i = 0; i < services.size(); ++i) {
    hr = MarkDefaultStore(profile, services[i], &services[i] == marked);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

// ---- IProfSect ----

class ProfSect final : public ComObject<IProfSect> {
 public:
  ProfSect(std::u16string profile, const MAPIUID& uid, bool modify)
      : profile_(std::move(profile)), uid_(uid), modify_(modify) {}

  STDMETHODIMP GetLastError(HRESULT, ULONG, LPMAPIERROR*) override {
    MAPI_FAULT_POINT("IProfSect::GetLastError");
    return MAPI_E_NO_SUPPORT;
  }
  // Changes reach the registry as they are made; saving checks the section is
  // still there.
  STDMETHODIMP SaveChanges(ULONG) override {
    MAPI_FAULT_POINT("IProfSect::SaveChanges");
    if (!modify_) return MAPI_E_NO_ACCESS;
    return SectionExists(profile_, uid_);
  }
  STDMETHODIMP GetProps(LPSPropTagArray tags, ULONG, ULONG* count, LPSPropValue* props) override {
    MAPI_FAULT_POINT("IProfSect::GetProps");
    if (!count || !props) return MAPI_E_INVALID_PARAMETER;
    *count = 0;
    *props = nullptr;
    Row row;
    HRESULT hr = ReadSection(profile_, uid_, &row);
    if (FAILED(hr)) return hr;
    if (!tags) {
      std::vector<ULONG> all;
      for (const OwnedProp& p : row) all.push_back(p.tag);
      std::vector<ULONG> buf(all.size() + 1);
      buf[0] = static_cast<ULONG>(all.size());
      std::copy(all.begin(), all.end(), buf.begin() + 1);
      return BuildPropArray(row, reinterpret_cast<const SPropTagArray*>(buf.data()), count, props);
    }
    hr = BuildPropArray(WithBothStringForms(row), tags, count, props);
    if (FAILED(hr)) return hr;
    for (ULONG i = 0; i < *count; ++i)
      if (PROP_TYPE((*props)[i].ulPropTag) == PT_ERROR) return MAPI_W_ERRORS_RETURNED;
    return S_OK;
  }
  STDMETHODIMP GetPropList(ULONG, LPSPropTagArray* list) override {
    MAPI_FAULT_POINT("IProfSect::GetPropList");
    if (!list) return MAPI_E_INVALID_PARAMETER;
    *list = nullptr;
    Row row;
    HRESULT hr = ReadSection(profile_, uid_, &row);
    if (FAILED(hr)) return hr;
    void* block = nullptr;
    SCODE sc = MAPIAllocateBuffer(static_cast<ULONG>(sizeof(ULONG) * (row.size() + 1)), &block);
    if (FAILED(sc)) return sc;
    auto* tags = static_cast<LPSPropTagArray>(block);
    tags->cValues = static_cast<ULONG>(row.size());
    for (size_t i = 0; i < row.size(); ++i) tags->aulPropTag[i] = row[i].tag;
    *list = tags;
    return S_OK;
  }
  STDMETHODIMP OpenProperty(ULONG, LPCIID, ULONG, ULONG, LPUNKNOWN*) override {
    MAPI_FAULT_POINT("IProfSect::OpenProperty");
    return MAPI_E_NO_SUPPORT;
  }
  STDMETHODIMP SetProps(ULONG cValues, LPSPropValue values, LPSPropProblemArray* problems) override {
    MAPI_FAULT_POINT("IProfSect::SetProps");
    if (problems) *problems = nullptr;
    if (cValues && !values) return MAPI_E_INVALID_PARAMETER;
    if (!modify_) return MAPI_E_NO_ACCESS;
    Row row;
    for (ULONG i = 0; i < cValues; ++i) {
      if (PROP_TYPE(values[i].ulPropTag) == PT_ERROR) continue;  // MAPI ignores error values
      OwnedProp p;
      if (!ToOwned(values[i], &p)) return MAPI_E_INVALID_TYPE;
      row.push_back(std::move(p));
    }
    HRESULT hr = WriteSection(profile_, uid_, row);
    if (FAILED(hr)) return hr;
    return MakeSoleDefaultStore(profile_, uid_, row);
  }
  STDMETHODIMP DeleteProps(LPSPropTagArray tags, LPSPropProblemArray* problems) override {
    MAPI_FAULT_POINT("IProfSect::DeleteProps");
    if (problems) *problems = nullptr;
    if (!tags) return MAPI_E_INVALID_PARAMETER;
    if (!modify_) return MAPI_E_NO_ACCESS;
    std::vector<ULONG> list;
    for (ULONG i = 0; i < tags->cValues; ++i) {
      ULONG tag = tags->aulPropTag[i];
      list.push_back(tag);
      if (PROP_TYPE(tag) == PT_UNICODE) list.push_back(PROP_TAG(PT_STRING8, PROP_ID(tag)));
      if (PROP_TYPE(tag) == PT_STRING8) list.push_back(PROP_TAG(PT_UNICODE, PROP_ID(tag)));
    }
    return DeleteSectionProps(profile_, uid_, list);
  }
  STDMETHODIMP CopyTo(ULONG, LPCIID, LPSPropTagArray, ULONG_PTR, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                      LPSPropProblemArray*) override {
    MAPI_FAULT_POINT("IProfSect::CopyTo");
    return MAPI_E_NO_SUPPORT;
  }
  STDMETHODIMP CopyProps(LPSPropTagArray, ULONG_PTR, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                         LPSPropProblemArray*) override {
    MAPI_FAULT_POINT("IProfSect::CopyProps");
    return MAPI_E_NO_SUPPORT;
  }
  STDMETHODIMP GetNamesFromIDs(LPSPropTagArray*, LPGUID, ULONG, ULONG*, LPMAPINAMEID**) override {
    MAPI_FAULT_POINT("IProfSect::GetNamesFromIDs");
    return MAPI_E_NO_SUPPORT;
  }
  STDMETHODIMP GetIDsFromNames(ULONG, LPMAPINAMEID*, ULONG, LPSPropTagArray*) override {
    MAPI_FAULT_POINT("IProfSect::GetIDsFromNames");
    return MAPI_E_NO_SUPPORT;
  }

 protected:
  bool Supports(REFIID riid) const override { return riid == IID_IProfSect || riid == IID_IMAPIProp; }

 private:
  std::u16string profile_;
  MAPIUID uid_;
  bool modify_;
};

// ---- tables ----

std::vector<ULONG> ServiceColumns(ULONG flags) {
  bool wide = flags & MAPI_UNICODE;
  return {wide ? PR_DISPLAY_NAME_W : PR_DISPLAY_NAME_A, wide ? PR_SERVICE_NAME_W : PR_SERVICE_NAME_A, PR_SERVICE_UID,
          PR_RESOURCE_FLAGS};
}

std::vector<ULONG> ProviderColumns(ULONG flags) {
  bool wide = flags & MAPI_UNICODE;
  return {wide ? PR_DISPLAY_NAME_W : PR_DISPLAY_NAME_A, PR_PROVIDER_UID, PR_RESOURCE_TYPE, PR_SERVICE_UID};
}

HRESULT ProviderRows(const std::u16string& profile, const Row& service, std::vector<Row>* rows) {
  for (const MAPIUID& p : ProvidersOf(service)) {
    Row provider;
    HRESULT hr = ReadSection(profile, p, &provider);
    if (FAILED(hr)) return hr;
    rows->push_back(WithBothStringForms(provider));
  }
  return S_OK;
}

// ---- IProviderAdmin ----

class ProviderAdmin final : public ComObject<IProviderAdmin> {
 public:
  ProviderAdmin(std::u16string profile, const MAPIUID& service) : profile_(std::move(profile)), service_(service) {}

  STDMETHODIMP GetLastError(HRESULT, ULONG, LPMAPIERROR*) override {
    MAPI_FAULT_POINT("IProviderAdmin::GetLastError");
    return MAPI_E_NO_SUPPORT;
  }
  STDMETHODIMP GetProviderTable(ULONG flags, LPMAPITABLE* table) override {
    MAPI_FAULT_POINT("IProviderAdmin::GetProviderTable");
    if (!table) return MAPI_E_INVALID_PARAMETER;
    *table = nullptr;
    Row service;
    HRESULT hr = FindService(profile_, &service_, &service);
    if (FAILED(hr)) return hr;
    std::vector<Row> rows;
    hr = ProviderRows(profile_, service, &rows);
    if (FAILED(hr)) return hr;
    *table = NewRowTable(std::move(rows), ProviderColumns(flags));
    return *table ? S_OK : MAPI_E_NOT_ENOUGH_MEMORY;
  }
  STDMETHODIMP CreateProvider(LPWSTR, ULONG, LPSPropValue, ULONG_PTR, ULONG, MAPIUID*) override {
    MAPI_FAULT_POINT("IProviderAdmin::CreateProvider");
    return MAPI_E_NO_SUPPORT;
  }
  STDMETHODIMP DeleteProvider(LPMAPIUID) override {
    MAPI_FAULT_POINT("IProviderAdmin::DeleteProvider");
    return MAPI_E_NO_SUPPORT;
  }
  STDMETHODIMP OpenProfileSection(LPMAPIUID uid, LPCIID iid, ULONG flags, LPPROFSECT* out) override {
    MAPI_FAULT_POINT("IProviderAdmin::OpenProfileSection");
    return mapi::OpenProfileSection(profile_, uid, iid, flags, out);
  }

 protected:
  bool Supports(REFIID riid) const override { return riid == IID_IProviderAdmin; }

 private:
  std::u16string profile_;
  MAPIUID service_;
};

// ---- IMsgServiceAdmin ----

class ServiceAdmin final : public ComObject<IMsgServiceAdmin> {
 public:
  explicit ServiceAdmin(std::u16string profile) : profile_(std::move(profile)) {}

  STDMETHODIMP GetLastError(HRESULT, ULONG, LPMAPIERROR*) override {
    MAPI_FAULT_POINT("IMsgServiceAdmin::GetLastError");
    return MAPI_E_NO_SUPPORT;
  }

  STDMETHODIMP GetMsgServiceTable(ULONG flags, LPMAPITABLE* table) override {
    MAPI_FAULT_POINT("IMsgServiceAdmin::GetMsgServiceTable");
    if (!table) return MAPI_E_INVALID_PARAMETER;
    *table = nullptr;
    std::vector<MAPIUID> uids;
    HRESULT hr = ListServices(profile_, &uids);
    if (FAILED(hr)) return hr;
    std::vector<Row> rows;
    for (const MAPIUID& u : uids) {
      Row service;
      hr = ReadSection(profile_, u, &service);
      if (FAILED(hr)) return hr;
      rows.push_back(WithBothStringForms(service));
    }
    *table = NewRowTable(std::move(rows), ServiceColumns(flags));
    return *table ? S_OK : MAPI_E_NOT_ENOUGH_MEMORY;
  }

  STDMETHODIMP CreateMsgService(LPWSTR service, LPWSTR displayName, ULONG_PTR, ULONG flags) override {
    MAPI_FAULT_POINT("IMsgServiceAdmin::CreateMsgService");
    if (!service) return MAPI_E_INVALID_PARAMETER;
    const CatalogEntry* entry = FindCatalog(NameArg(service, flags));
    if (!entry) return MAPI_E_NOT_FOUND;
    std::u16string display = NameArg(displayName, flags);
    if (display.empty()) display = standin::ToUtf16(entry->displayName);

    std::vector<MAPIUID> services;
    HRESULT hr = ListServices(profile_, &services);
    if (FAILED(hr)) return hr;
    bool haveDefault = false;
    for (const MAPIUID& u : services) {
      Row s;
      hr = ReadSection(profile_, u, &s);
      if (FAILED(hr)) return hr;
      if (RowLong(s, PR_RESOURCE_FLAGS).value_or(0) & SERVICE_DEFAULT_STORE) haveDefault = true;
    }
    bool isStore = entry->resourceType == MAPI_STORE_PROVIDER;
    bool makeDefault = isStore && !haveDefault;

    MAPIUID serviceUid = NewUid();
    MAPIUID providerUid = NewUid();
    Row provider = {MakeBinary(PR_PROVIDER_UID, providerUid.ab, 16),
                    MakeBinary(PR_SERVICE_UID, serviceUid.ab, 16),
                    MakeString8(PR_SERVICE_NAME_A, entry->name),
                    MakeLong(PR_RESOURCE_TYPE, static_cast<LONG>(entry->resourceType)),
                    MakeLong(PR_RESOURCE_FLAGS, makeDefault ? static_cast<LONG>(STATUS_DEFAULT_STORE) : 0),
                    MakeUnicode(PR_DISPLAY_NAME_W, display),
                    MakeString8(PR_PROVIDER_DLL_NAME_A, entry->dll)};
    if (entry->mdb) provider.push_back(MakeBinary(PR_MDB_PROVIDER, entry->mdb->ab, 16));
    Row serviceRow = {MakeString8(PR_SERVICE_NAME_A, entry->name),
                      MakeBinary(PR_SERVICE_UID, serviceUid.ab, 16),
                      MakeUnicode(PR_DISPLAY_NAME_W, display),
                      MakeLong(PR_RESOURCE_FLAGS, makeDefault ? static_cast<LONG>(SERVICE_DEFAULT_STORE) : 0),
                      MakeString8(PR_SERVICE_DLL_NAME_A, entry->dll),
                      MakeUidList(isStore ? PR_STORE_PROVIDERS : PR_AB_PROVIDERS, {providerUid})};
    // The service joins the list last: until then it is only unreferenced sections.
    hr = WriteSection(profile_, providerUid, provider);
    if (SUCCEEDED(hr)) hr = WriteSection(profile_, serviceUid, serviceRow);
    if (SUCCEEDED(hr)) {
      services.push_back(serviceUid);
      hr = WriteSection(profile_, kServiceListSection, {MakeUidList(PR_SERVICES, services)});
    }
    if (FAILED(hr)) {
      (void)DeleteSection(profile_, providerUid);  // best effort: the failure is what the caller sees
      (void)DeleteSection(profile_, serviceUid);
    }
    return hr;
  }

  STDMETHODIMP DeleteMsgService(LPMAPIUID uid) override {
    MAPI_FAULT_POINT("IMsgServiceAdmin::DeleteMsgService");
    Row service;
    HRESULT hr = FindService(profile_, uid, &service);
    if (FAILED(hr)) return hr;
    std::vector<MAPIUID> services;
    hr = ListServices(profile_, &services);
    if (FAILED(hr)) return hr;
    std::vector<MAPIUID> rest;
    for (const MAPIUID& u : services)
      if (!SameUid(u, *uid)) rest.push_back(u);
    hr = WriteSection(profile_, kServiceListSection, {MakeUidList(PR_SERVICES, rest)});
    if (FAILED(hr)) return hr;
    for (const MAPIUID& p : ProvidersOf(service)) {
      hr = DeleteSection(profile_, p);
      if (FAILED(hr)) return hr;
    }
    hr = DeleteSection(profile_, *uid);
    if (FAILED(hr)) return hr;
    // The profile keeps a default store while it has a store service.
    if (!(RowLong(service, PR_RESOURCE_FLAGS).value_or(0) & SERVICE_DEFAULT_STORE)) return S_OK;
    for (const MAPIUID& u : rest) {
      Row s;
      hr = ReadSection(profile_, u, &s);
      if (FAILED(hr)) return hr;
      if (IsStoreService(s)) return MarkDefaultStore(profile_, u, true);
    }
    return S_OK;
  }

  STDMETHODIMP CopyMsgService(LPMAPIUID, LPWSTR, LPCIID, LPCIID, LPVOID, ULONG_PTR, ULONG) override {
    MAPI_FAULT_POINT("IMsgServiceAdmin::CopyMsgService");
    return MAPI_E_NO_SUPPORT;
  }
  STDMETHODIMP RenameMsgService(LPMAPIUID, ULONG, LPWSTR) override {
    MAPI_FAULT_POINT("IMsgServiceAdmin::RenameMsgService");
    return MAPI_E_NO_SUPPORT;
  }

  STDMETHODIMP ConfigureMsgService(LPMAPIUID uid, ULONG_PTR, ULONG, ULONG cValues, LPSPropValue values) override {
    MAPI_FAULT_POINT("IMsgServiceAdmin::ConfigureMsgService");
    if (cValues && !values) return MAPI_E_INVALID_PARAMETER;
    Row service;
    HRESULT hr = FindService(profile_, uid, &service);
    if (FAILED(hr)) return hr;
    Row given;
    for (ULONG i = 0; i < cValues; ++i) {
      if (PROP_TYPE(values[i].ulPropTag) == PT_ERROR) continue;
      OwnedProp p;
      if (!ToOwned(values[i], &p)) return MAPI_E_INVALID_TYPE;
      given.push_back(std::move(p));
    }
    std::optional<std::u16string> serviceName = RowText(service, PROP_ID(PR_SERVICE_NAME_A));
    const CatalogEntry* entry = serviceName ? FindCatalog(*serviceName) : nullptr;
    std::vector<MAPIUID> providers = ProvidersOf(service);

    if (entry && entry->pst && !providers.empty()) {
      Row store;
      hr = ReadSection(profile_, providers[0], &store);
      if (FAILED(hr)) return hr;
      std::optional<std::u16string> path = RowText(given, PROP_ID(PR_PST_PATH_W));
      if (!path) path = RowText(store, PROP_ID(PR_PST_PATH_W));
      if (!path || path->empty()) return MAPI_E_UNCONFIGURED;
      std::optional<std::u16string> display = RowText(given, PROP_ID(PR_DISPLAY_NAME_W));
      if (!display) display = RowText(store, PROP_ID(PR_DISPLAY_NAME_W));
      if (!display) display = standin::ToUtf16(entry->displayName);
      // A path that names no file gets a new store; an existing file must be one.
      MAPIUID storeUid;
      hr = ReadStoreUid(*path, &storeUid);
      if (hr == MAPI_E_NOT_FOUND) hr = CreateStoreFile(*path, *display);
      if (FAILED(hr)) return hr;
    }
    if (given.empty()) return S_OK;
    for (const MAPIUID& p : providers) {
      hr = WriteSection(profile_, p, given);
      if (FAILED(hr)) return hr;
    }
    return WriteSection(profile_, *uid, given);
  }

  STDMETHODIMP OpenProfileSection(LPMAPIUID uid, LPCIID iid, ULONG flags, LPPROFSECT* out) override {
    MAPI_FAULT_POINT("IMsgServiceAdmin::OpenProfileSection");
    return mapi::OpenProfileSection(profile_, uid, iid, flags, out);
  }
  STDMETHODIMP MsgServiceTransportOrder(ULONG, LPMAPIUID, ULONG) override {
    MAPI_FAULT_POINT("IMsgServiceAdmin::MsgServiceTransportOrder");
    return MAPI_E_NO_SUPPORT;
  }
  STDMETHODIMP AdminProviders(LPMAPIUID uid, ULONG, LPPROVIDERADMIN* out) override {
    MAPI_FAULT_POINT("IMsgServiceAdmin::AdminProviders");
    if (!out) return MAPI_E_INVALID_PARAMETER;
    *out = nullptr;
    Row service;
    HRESULT hr = FindService(profile_, uid, &service);
    if (FAILED(hr)) return hr;
    *out = new ProviderAdmin(profile_, *uid);
    return S_OK;
  }
  STDMETHODIMP SetPrimaryIdentity(LPMAPIUID, ULONG) override {
    MAPI_FAULT_POINT("IMsgServiceAdmin::SetPrimaryIdentity");
    return MAPI_E_NO_SUPPORT;
  }
  STDMETHODIMP GetProviderTable(ULONG flags, LPMAPITABLE* table) override {
    MAPI_FAULT_POINT("IMsgServiceAdmin::GetProviderTable");
    if (!table) return MAPI_E_INVALID_PARAMETER;
    *table = nullptr;
    std::vector<MAPIUID> uids;
    HRESULT hr = ListServices(profile_, &uids);
    if (FAILED(hr)) return hr;
    std::vector<Row> rows;
    for (const MAPIUID& u : uids) {
      Row service;
      hr = ReadSection(profile_, u, &service);
      if (SUCCEEDED(hr)) hr = ProviderRows(profile_, service, &rows);
      if (FAILED(hr)) return hr;
    }
    *table = NewRowTable(std::move(rows), ProviderColumns(flags));
    return *table ? S_OK : MAPI_E_NOT_ENOUGH_MEMORY;
  }

 protected:
  bool Supports(REFIID riid) const override { return riid == IID_IMsgServiceAdmin; }

 private:
  std::u16string profile_;
};

}  // namespace

LPSERVICEADMIN NewServiceAdmin(std::u16string profile) { return new ServiceAdmin(std::move(profile)); }

HRESULT OpenProfileSection(const std::u16string& profile, const MAPIUID* uid, LPCIID iid, ULONG flags,
                           LPPROFSECT* out) {
  if (!out || !uid) return MAPI_E_INVALID_PARAMETER;
  *out = nullptr;
  if (iid && *iid != IID_IProfSect && *iid != IID_IMAPIProp) return MAPI_E_INTERFACE_NOT_SUPPORTED;
  bool modify = flags & MAPI_MODIFY;
  HRESULT hr = SectionExists(profile, *uid);
  if (hr == MAPI_E_NOT_FOUND && modify) hr = WriteSection(profile, *uid, {});
  if (FAILED(hr)) return hr;
  *out = new ProfSect(profile, *uid, modify);
  return S_OK;
}

bool IsPstProvider(const Row& provider) {
  const OwnedProp* mdb = FindProp(provider, PR_MDB_PROVIDER);
  if (!mdb || mdb->data.size() != 16) return false;
  MAPIUID kind = UidFromBytes(mdb->data);
  return SameUid(kind, kPstMdbProvider) || SameUid(kind, kUnicodePstMdbProvider);
}

}  // namespace standin::mapi
