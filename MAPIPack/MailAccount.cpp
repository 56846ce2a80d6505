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
bool PathText(const SPropValue* value, std::u16string* out) {
  if (!value) return false;
  ULONG type = PROP_TYPE(value->ulPropTag);
  if (type == PT_UNICODE) {
    if (!value->Value.lpszW || IsBadStringPtrW(value->Value.lpszW, static_cast<UINT_PTR>(-1))) return false;
    *out = value->Value.lpszW;
    return true;
  }
  if (type != PT_STRING8 || !IsReadableNarrow(value->Value.lpszA)) return false;
  int needed = MultiByteToWideChar(CP_ACP, 0, value->Value.lpszA, -1, nullptr, 0);
  if (needed <= 0) return false;
  std::u16string text(static_cast<size_t>(needed), u'\0');
  if (MultiByteToWideChar(CP_ACP, 0, value->Value.lpszA, -1, text.data(), needed) <= 0) return false;
  text.resize(std::char_traits<char16_t>::length(text.c_str()));
  *out = std::move(text);
  return true;
}

// The service administration of "Outlook" (wide name, MAPI_UNICODE).
ULONG GetFlag() { return MAPI_UNICODE; }

struct OutlookServices {
  CMapiPtr<IProfAdmin> profAdminPtr;
  CMapiPtr<IMsgServiceAdmin> serviceAdminPtr;

  void Open(CHResultChain& chain) {
    WCHAR szName[] = OUTLOOK_PROFILE_NAME;
    chain.Step(TEXT("MAPIAdminProfiles(0, &profAdminPtr)"), __LINE__,
               [&] { return Obtained(MAPIAdminProfiles(0, &profAdminPtr), profAdminPtr.p); });
    chain.Step(TEXT("profAdminPtr->AdminServices((LPTSTR)szName, NULL, 0, GetFlag(), &serviceAdminPtr)"), __LINE__,
               [&] {
                 return Obtained(profAdminPtr->AdminServices(szName, nullptr, 0, GetFlag(), &serviceAdminPtr),
                                 serviceAdminPtr.p);
               });
  }
};

// The service rows of "Outlook" as GetProfilePSTFiles and DeleteIMAPServices
// read them.
void ReadServiceRows(CHResultChain& chain, OutlookServices& services, CMapiPtr<IMAPITable>& tablePtr,
                     CRowSetPtr& pRowSet) {
  services.Open(chain);
  chain.Step(TEXT("serviceAdminPtr->GetMsgServiceTable(0, &tablePtr)"), __LINE__,
             [&] { return Obtained(services.serviceAdminPtr->GetMsgServiceTable(0, &tablePtr), tablePtr.p); });
  chain.Step(TEXT("HrQueryAllRows(tablePtr, (LPSPropTagArray)&g_tcColumns, NULL, NULL, 0, &pRowSet)"), __LINE__, [&] {
    return Obtained(HrQueryAllRows(tablePtr, Tags(g_tcColumns), nullptr, nullptr, 0, &pRowSet), pRowSet.p);
  });
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
  CMapiPtr<IMAPITable> tablePtr;
  CRowSetPtr pRowSet;
  CMapiPtr<IProfSect> profSectPtr;
  chain.Step(TEXT("pProviderAdmin->GetProviderTable(0, &tablePtr)"), __LINE__,
             [&] { return Obtained(pProviderAdmin->GetProviderTable(0, &tablePtr), tablePtr.p); });
  chain.Step(TEXT("HrQueryAllRows(tablePtr, (LPSPropTagArray)&g_proColumn, 0, 0, 0, &pRowSet)"), __LINE__, [&] {
    return Obtained(HrQueryAllRows(tablePtr, Tags(g_proColumn), nullptr, nullptr, 0, &pRowSet), pRowSet.p);
  });
  LPMAPIUID providerUid = pRowSet.Count() ? UidOf(pRowSet->aRow[0], PR_PR_PROVIDER_UID) : nullptr;
  chain.Step(TEXT("pMsgsaPtr->OpenProfileSection( (LPMAPIUID)pRowSet->aRow[0].lpProps[PR_PR_PROVIDER_UID].Value.bin."
                  "lpb, 0, MAPI_MODIFY | 0X00080000, &profSectPtr)"),
             __LINE__, [&] {
               if (!providerUid) return MAPI_E_NOT_FOUND;  // a service without a provider
               return Obtained(pMsgsaPtr->OpenProfileSection(providerUid, nullptr, kSectionFlags, &profSectPtr),
                               profSectPtr.p);
             });
  if (chain.Failed()) return HResultCode(chain.Result());

  // Not logged: a service that is no PST file has no path.
  CMapiBuffer<SPropValue> pathValue;
  HRESULT hr = Obtained(HrGetOneProp(profSectPtr.p, PR_PST_PATH_A, &pathValue), pathValue.p);
  if (FAILED(hr)) return HResultCode(hr);
  CMapiBuffer<SPropValue> nameValue;
  hr = Obtained(HrGetOneProp(profSectPtr.p, PR_DISPLAY_NAME_W, &nameValue), nameValue.p);
  if (FAILED(hr)) return HResultCode(hr);
  std::u16string pathText;
  LPCWSTR name = GetValidString(nameValue.p);
  if (!PathText(pathValue.p, &pathText) || !name) return HResultCode(MAPI_E_NOT_FOUND);
  path.push_back(CString(pathText.c_str()));
  displayName.push_back(CString(name));
  return 0;
}

int CollectAccountTypes(int* mask) {
  if (!mask) return HResultCode(MAPI_E_INVALID_PARAMETER);
  CHResultChain chain(ACCOUNT_UNIT);
  OutlookServices services;
  services.Open(chain);
  CMapiPtr<IMAPITable> proTablePtr;
  CRowSetPtr pRows;
  chain.Step(TEXT("serviceAdminPtr->GetMsgServiceTable(0, &proTablePtr)"), __LINE__, [&] {
    return Obtained(services.serviceAdminPtr->GetMsgServiceTable(0, &proTablePtr), proTablePtr.p);
  });
  chain.Step(TEXT("HrQueryAllRows(proTablePtr, (LPSPropTagArray)&g_tcColumns, 0, 0, 0, &pRows)"), __LINE__, [&] {
    return Obtained(HrQueryAllRows(proTablePtr, Tags(g_tcColumns), nullptr, nullptr, 0, &pRows), pRows.p);
  });
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
  CMapiPtr<IMAPITable> tablePtr;
  CRowSetPtr pRowSet;
  ReadServiceRows(chain, services, tablePtr, pRowSet);
  if (chain.Failed()) return HResultCode(chain.Result());
  for (ULONG i = 0; i < pRowSet.Count(); ++i) {
    const SRow& row = pRowSet->aRow[i];
    LPCWSTR name = ServiceNameOf(row);
    LPMAPIUID serviceUid = UidOf(row, TC_PR_SERVICE_UID);
    if (!name || !serviceUid || !IsPSTOrNeutralAccount(GetAccountType(name))) continue;
    CMapiPtr<IProviderAdmin> providerAdminPtr;
    chain.Step(TEXT("serviceAdminPtr->AdminProviders( (LPMAPIUID)pRowSet->aRow[i].lpProps[TC_PR_SERVICE_UID].Value."
                    "bin.lpb, 0, &providerAdminPtr)"),
               __LINE__, [&] {
                 return Obtained(services.serviceAdminPtr->AdminProviders(serviceUid, 0, &providerAdminPtr),
                                 providerAdminPtr.p);
               });
    if (chain.Failed()) continue;
    std::vector<CString> path;
    std::vector<CString> displayName;
    if (GetServiceStoreInfo(services.serviceAdminPtr, providerAdminPtr, path, displayName) == 0 && !path.empty() &&
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
  CMapiPtr<IMAPITable> tablePtr;
  CRowSetPtr pRowSet;
  ReadServiceRows(chain, services, tablePtr, pRowSet);
  if (chain.Failed()) return HResultCode(chain.Result());
  for (ULONG i = 0; i < pRowSet.Count(); ++i) {
    const SRow& row = pRowSet->aRow[i];
    LPCWSTR name = ServiceNameOf(row);
    LPMAPIUID serviceUid = UidOf(row, TC_PR_SERVICE_UID);
    if (!name || !serviceUid || !IsUnsupportedAccount(GetAccountType(name))) continue;
    LogMessageAt(LOG_INFO, ACCOUNT_UNIT, __LINE__, TEXT("Delete the IMAP account."));
    chain.Step(TEXT("serviceAdminPtr->DeleteMsgService( (LPMAPIUID)pRowSet->aRow[i].lpProps[TC_PR_SERVICE_UID].Value."
                    "bin.lpb)"),
               __LINE__, [&] { return services.serviceAdminPtr->DeleteMsgService(serviceUid); });
  }
  return FailureCode(chain.Result());
}
