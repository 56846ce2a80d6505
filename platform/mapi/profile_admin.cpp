// IProfAdmin and MAPIAdminProfiles.
#include <mapix.h>

#include "profile_store.h"
#include "service.h"

namespace standin::mapi {
namespace {

using namespace profiles;

class ProfAdmin final : public ComObject<IProfAdmin> {
 public:
  STDMETHODIMP GetLastError(HRESULT, ULONG, LPMAPIERROR*) override {
    MAPI_FAULT_POINT("IProfAdmin::GetLastError");
    return MAPI_E_NO_SUPPORT;
  }

  STDMETHODIMP GetProfileTable(ULONG flags, LPMAPITABLE* table) override {
    MAPI_FAULT_POINT("IProfAdmin::GetProfileTable");
    if (!table) return MAPI_E_INVALID_PARAMETER;
    *table = nullptr;
    std::vector<std::u16string> names;
    HRESULT hr = ListProfiles(&names);
    if (FAILED(hr)) return hr;
    std::u16string defaultName;
    hr = GetDefaultProfile(&defaultName);
    if (FAILED(hr)) return hr;
    std::vector<Row> rows;
    for (const std::u16string& name : names) {
      bool isDefault = !defaultName.empty() && standin::CompareNoCase(name, defaultName) == 0;
      rows.push_back({MakeUnicode(PR_DISPLAY_NAME_W, name), MakeString8(PR_DISPLAY_NAME_A, standin::ToUtf8(name)),
                      MakeBool(PR_DEFAULT_PROFILE, isDefault)});
    }
    bool wide = flags & MAPI_UNICODE;
    *table = NewRowTable(std::move(rows), {wide ? PR_DISPLAY_NAME_W : PR_DISPLAY_NAME_A, PR_DEFAULT_PROFILE});
    return *table ? S_OK : MAPI_E_NOT_ENOUGH_MEMORY;
  }

  STDMETHODIMP CreateProfile(LPWSTR name, LPWSTR, ULONG_PTR, ULONG flags) override {
    MAPI_FAULT_POINT("IProfAdmin::CreateProfile");
    if (!name) return MAPI_E_INVALID_PARAMETER;
    return profiles::CreateProfile(NameArg(name, flags));
  }

  STDMETHODIMP DeleteProfile(LPWSTR name, ULONG flags) override {
    MAPI_FAULT_POINT("IProfAdmin::DeleteProfile");
    if (!name) return MAPI_E_INVALID_PARAMETER;
    return profiles::DeleteProfile(NameArg(name, flags));
  }

  STDMETHODIMP ChangeProfilePassword(LPWSTR, LPWSTR, LPWSTR, ULONG) override {
    MAPI_FAULT_POINT("IProfAdmin::ChangeProfilePassword");
    return MAPI_E_NO_SUPPORT;
  }
  STDMETHODIMP CopyProfile(LPWSTR, LPWSTR, LPWSTR, ULONG_PTR, ULONG) override {
    MAPI_FAULT_POINT("IProfAdmin::CopyProfile");
    return MAPI_E_NO_SUPPORT;
  }
  STDMETHODIMP RenameProfile(LPWSTR, LPWSTR, LPWSTR, ULONG_PTR, ULONG) override {
    MAPI_FAULT_POINT("IProfAdmin::RenameProfile");
    return MAPI_E_NO_SUPPORT;
  }

  // A null name clears the default.
  STDMETHODIMP SetDefaultProfile(LPWSTR name, ULONG flags) override {
    MAPI_FAULT_POINT("IProfAdmin::SetDefaultProfile");
    return profiles::SetDefaultProfile(NameArg(name, flags));
  }

  STDMETHODIMP AdminServices(LPWSTR name, LPWSTR, ULONG_PTR, ULONG flags, LPSERVICEADMIN* out) override {
    MAPI_FAULT_POINT("IProfAdmin::AdminServices");
    if (!out || !name) return MAPI_E_INVALID_PARAMETER;
    *out = nullptr;
    std::u16string profile = NameArg(name, flags);
    HRESULT hr = ProfileExists(profile);
    if (FAILED(hr)) return hr;
    *out = NewServiceAdmin(std::move(profile));
    return S_OK;
  }

 protected:
  bool Supports(REFIID riid) const override { return riid == IID_IProfAdmin; }
};

}  // namespace
}  // namespace standin::mapi

MAPIAPI HRESULT STDMETHODCALLTYPE MAPIAdminProfiles(ULONG ulFlags, LPPROFADMIN* lppProfAdmin) {
  MAPI_FAULT_POINT("MAPIAdminProfiles");
  if (!lppProfAdmin) return MAPI_E_INVALID_PARAMETER;
  *lppProfAdmin = nullptr;
  if (ulFlags & ~static_cast<ULONG>(MAPI_UNICODE)) return MAPI_E_UNKNOWN_FLAGS;
  // Profile administration is part of an initialised subsystem.
  if (!standin::mapi::ClientInstalled() || !standin::mapi::SubsystemInitialized()) return MAPI_E_NOT_INITIALIZED;
  *lppProfAdmin = new standin::mapi::ProfAdmin();
  return S_OK;
}
