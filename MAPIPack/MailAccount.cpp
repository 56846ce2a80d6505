// The message services of the profile "Outlook", classified by
// service name.
#include "MAPIPack/MailAccount.h"

#include <mapiutil.h>
#include <mapix.h>
#include <wcrt.h>

#include <cstring>
#include <string>

#include "MAPIPack/MAPIHelpers.h"
#include "support/Log.h"
#include "support/TextConvert.h"
#include "support/PropTrival.h"

#define ACCOUNT_UNIT TEXT(".\\MAPIPack\\MailAccount")

namespace {

struct AccountTypeEntry {
  WCHAR name[16];
  int kind;
};

const AccountTypeEntry kAccountTypes[] = {
    {TEXT("CONTAB"), ACCOUNT_TYPE_NONE},
    {TEXT("MSPST MS"), ACCOUNT_TYPE_PST},
    {TEXT("MSUPST MS"), ACCOUNT_TYPE_PST},
    {TEXT("INTERSTOR"), ACCOUNT_TYPE_IMAP},
};

constexpr ULONG kSectionFlags = MAPI_MODIFY | MAPI_FORCE_ACCESS;

SizedSPropTagArray(2, g_tcColumns) = {2, {PR_SERVICE_NAME_W, PR_SERVICE_UID}};
SizedSPropTagArray(1, g_proColumn) = {1, {PR_PROVIDER_UID}};
enum { TC_PR_SERVICE_NAME, TC_PR_SERVICE_UID };
enum { PR_PR_PROVIDER_UID };

// The service name of a row when it is a readable wide string (an unreadable
// one is logged by GetValidString).
LPCWSTR ServiceNameOf(const SRow& row) {
  if (!row.lpProps || row.cValues <= TC_PR_SERVICE_NAME) return nullptr;
  return GetValidString(&row.lpProps[TC_PR_SERVICE_NAME]);
}

// A PST path value as wide text: a readable narrow string converted from the
// ANSI code page, or a readable wide one as it is.
bool PathText(const SPropValue* value, std::basic_string<WCHAR>* out) {
  if (!value) return false;
  ULONG type = PROP_TYPE(value->ulPropTag);
  if (type == PT_UNICODE) {
    if (!value->Value.lpszW || IsBadStringPtrW(value->Value.lpszW, static_cast<UINT_PTR>(-1))) return false;
    *out = value->Value.lpszW;
    return true;
  }
  if (type != PT_STRING8 || !IsReadableNarrow(value->Value.lpszA)) return false;
  *out = WideText(value->Value.lpszA, CP_ACP);
  return true;
}

// The service administration of "Outlook" (wide name, MAPI_UNICODE).
ULONG GetFlag() { return MAPI_UNICODE; }

struct OutlookServices {
  CInterfacePtr<IProfAdmin> profAdminPtr;
  CInterfacePtr<IMsgServiceAdmin> serviceAdminPtr;

  void Open(CHResultChain& chain) {
    WCHAR szName[] = OUTLOOK_PROFILE_NAME;
    CHAIN_OBTAIN(chain, "MAPIAdminProfiles(0, &profAdminPtr)", profAdminPtr, MAPIAdminProfiles(0, profAdminPtr.Put()));
    CHAIN_OBTAIN(chain, "profAdminPtr->AdminServices((LPTSTR)szName, NULL, 0, GetFlag(), &serviceAdminPtr)",
                 serviceAdminPtr, profAdminPtr->AdminServices(szName, nullptr, 0, GetFlag(), serviceAdminPtr.Put()));
  }
};

// The service rows of "Outlook" as GetProfilePSTFiles and DeleteIMAPServices
// read them.
void ReadServiceRows(CHResultChain& chain, OutlookServices& services, CInterfacePtr<IMAPITable>& tablePtr,
                     CRowSet& pRowSet) {
  services.Open(chain);
  CHAIN_OBTAIN(chain, "serviceAdminPtr->GetMsgServiceTable(0, &tablePtr)", tablePtr,
               services.serviceAdminPtr->GetMsgServiceTable(0, tablePtr.Put()));
  CHAIN_OBTAIN(chain, "HrQueryAllRows(tablePtr, (LPSPropTagArray)&g_tcColumns, NULL, NULL, 0, &pRowSet)", pRowSet,
               HrQueryAllRows(tablePtr.Get(), Tags(g_tcColumns), nullptr, nullptr, 0, pRowSet.Put()));
}

}  // namespace

int GetAccountType(LPCWSTR serviceName) {
  if (serviceName) {
    for (const AccountTypeEntry& entry : kAccountTypes)
      if (lstrcmpiW(serviceName, entry.name) == 0) return entry.kind;
  }
  LogMessageAt(LOG_WARNING, ACCOUNT_UNIT, __LINE__, TEXT("Get a new account type: %s"),
               serviceName ? serviceName : TEXT(""));
  return ACCOUNT_TYPE_UNKNOWN;
}

int GetServiceStoreInfo(IMsgServiceAdmin* serviceAdmin, IProviderAdmin* providerAdmin, std::vector<CString>& path,
                        std::vector<CString>& displayName) {
  if (!serviceAdmin || !providerAdmin) return HResultCode(MAPI_E_INVALID_PARAMETER);
  IMsgServiceAdmin* pMsgsaPtr = serviceAdmin;
  IProviderAdmin* pProviderAdmin = providerAdmin;
  CHResultChain chain(ACCOUNT_UNIT);
  CInterfacePtr<IMAPITable> tablePtr;
  CRowSet pRowSet;
  CInterfacePtr<IProfSect> profSectPtr;
  CHAIN_OBTAIN(chain, "pProviderAdmin->GetProviderTable(0, &tablePtr)", tablePtr,
               pProviderAdmin->GetProviderTable(0, tablePtr.Put()));
  CHAIN_OBTAIN(chain, "HrQueryAllRows(tablePtr, (LPSPropTagArray)&g_proColumn, 0, 0, 0, &pRowSet)", pRowSet,
               HrQueryAllRows(tablePtr.Get(), Tags(g_proColumn), nullptr, nullptr, 0, pRowSet.Put()));
  LPMAPIUID providerUid = pRowSet.Count() ? UidOf(pRowSet->aRow[0], PR_PR_PROVIDER_UID) : nullptr;
  // A service without a provider has no section to open.
  CHAIN_OBTAIN(chain,
               "pMsgsaPtr->OpenProfileSection( (LPMAPIUID)pRowSet->aRow[0].lpProps[PR_PR_PROVIDER_UID].Value.bin."
               "lpb, 0, MAPI_MODIFY | 0X00080000, &profSectPtr)",
               profSectPtr,
               providerUid ? pMsgsaPtr->OpenProfileSection(providerUid, nullptr, kSectionFlags, profSectPtr.Put())
                           : MAPI_E_NOT_FOUND);
  if (chain.Failed()) return HResultCode(chain.Result());

  // Not logged: a service that is no PST file has no path.
  CMapiBuffer<SPropValue> pathValue;
  HRESULT hr = Obtained(HrGetOneProp(profSectPtr.Get(), PR_PST_PATH_A, pathValue.Put()), pathValue);
  if (FAILED(hr)) return HResultCode(hr);
  CMapiBuffer<SPropValue> nameValue;
  hr = Obtained(HrGetOneProp(profSectPtr.Get(), PR_DISPLAY_NAME_W, nameValue.Put()), nameValue);
  if (FAILED(hr)) return HResultCode(hr);
  std::basic_string<WCHAR> pathText;
  LPCWSTR name = GetValidString(nameValue.Get());
  if (!PathText(pathValue.Get(), &pathText) || !name) return HResultCode(MAPI_E_NOT_FOUND);
  path.push_back(CString(pathText.c_str()));
  displayName.push_back(CString(name));
  return 0;
}

int CollectAccountTypes(int* mask) {
  if (!mask) return HResultCode(MAPI_E_INVALID_PARAMETER);
  CHResultChain chain(ACCOUNT_UNIT);
  OutlookServices services;
  services.Open(chain);
  CInterfacePtr<IMAPITable> proTablePtr;
  CRowSet pRows;
  CHAIN_OBTAIN(chain, "serviceAdminPtr->GetMsgServiceTable(0, &proTablePtr)", proTablePtr,
               services.serviceAdminPtr->GetMsgServiceTable(0, proTablePtr.Put()));
  CHAIN_OBTAIN(chain, "HrQueryAllRows(proTablePtr, (LPSPropTagArray)&g_tcColumns, 0, 0, 0, &pRows)", pRows,
               HrQueryAllRows(proTablePtr.Get(), Tags(g_tcColumns), nullptr, nullptr, 0, pRows.Put()));
  if (chain.Failed()) return HResultCode(chain.Result());
  for (ULONG i = 0; i < pRows.Count(); ++i) {
    LPCWSTR name = ServiceNameOf(pRows->aRow[i]);
    // A service without a readable name is of an unrecognised kind.
    *mask |= name ? GetAccountType(name) : ACCOUNT_TYPE_UNKNOWN;
  }
  return 0;
}

int GetProfilePSTFiles(std::vector<CString>& paths, std::vector<CString>& displayNames) {
  CHResultChain chain(ACCOUNT_UNIT);
  OutlookServices services;
  CInterfacePtr<IMAPITable> tablePtr;
  CRowSet pRowSet;
  ReadServiceRows(chain, services, tablePtr, pRowSet);
  if (chain.Failed()) return HResultCode(chain.Result());
  for (ULONG i = 0; i < pRowSet.Count(); ++i) {
    const SRow& row = pRowSet->aRow[i];
    LPCWSTR name = ServiceNameOf(row);
    LPMAPIUID serviceUid = UidOf(row, TC_PR_SERVICE_UID);
    if (!name || !serviceUid || !IsPSTOrNeutralAccount(GetAccountType(name))) continue;
    CInterfacePtr<IProviderAdmin> providerAdminPtr;
    CHAIN_OBTAIN(chain,
                 "serviceAdminPtr->AdminProviders( (LPMAPIUID)pRowSet->aRow[i].lpProps[TC_PR_SERVICE_UID].Value."
                 "bin.lpb, 0, &providerAdminPtr)",
                 providerAdminPtr, services.serviceAdminPtr->AdminProviders(serviceUid, 0, providerAdminPtr.Put()));
    if (chain.Failed()) continue;
    std::vector<CString> path;
    std::vector<CString> displayName;
    if (GetServiceStoreInfo(services.serviceAdminPtr.Get(), providerAdminPtr.Get(), path, displayName) == 0 && !path.empty() &&
        !displayName.empty()) {
      paths.push_back(path[0]);
      displayNames.push_back(displayName[0]);
    }
  }
  return FailureCode(chain.Result());
}

int DeleteIMAPServices() {
  CHResultChain chain(ACCOUNT_UNIT);
  OutlookServices services;
  CInterfacePtr<IMAPITable> tablePtr;
  CRowSet pRowSet;
  ReadServiceRows(chain, services, tablePtr, pRowSet);
  if (chain.Failed()) return HResultCode(chain.Result());
  for (ULONG i = 0; i < pRowSet.Count(); ++i) {
    const SRow& row = pRowSet->aRow[i];
    LPCWSTR name = ServiceNameOf(row);
    LPMAPIUID serviceUid = UidOf(row, TC_PR_SERVICE_UID);
    if (!name || !serviceUid || !IsUnsupportedAccount(GetAccountType(name))) continue;
    LogMessageAt(LOG_INFO, ACCOUNT_UNIT, __LINE__, TEXT("Delete the IMAP account."));
    CHAIN_STEP(chain,
               "serviceAdminPtr->DeleteMsgService( (LPMAPIUID)pRowSet->aRow[i].lpProps[TC_PR_SERVICE_UID].Value."
               "bin.lpb)",
               services.serviceAdminPtr->DeleteMsgService(serviceUid));
  }
  return FailureCode(chain.Result());
}
