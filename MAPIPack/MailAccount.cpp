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
#include "support/TextConvert.h"

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

SizedSPropTagArray(2, g_tcColumns) = {2, {PR_SERVICE_NAME_W, PR_SERVICE_UID}};
// The first provider's section, as this unit's log names its calls.
const CProviderSectionCalls kSectionCalls = {
    TEXT("pProviderAdmin->GetProviderTable(0, &tablePtr)"),
    TEXT("HrQueryAllRows(tablePtr, (LPSPropTagArray)&g_proColumn, 0, 0, 0, &pRowSet)"),
    TEXT("pMsgsaPtr->OpenProfileSection( (LPMAPIUID)pRowSet->aRow[0].lpProps[PR_PR_PROVIDER_UID].Value.bin.lpb, 0, "
         "MAPI_MODIFY | 0X00080000, &profSectPtr)")};
enum { TC_PR_SERVICE_NAME, TC_PR_SERVICE_UID };

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
  } else if (type != PT_STRING8 || !IsReadableNarrow(value->Value.lpszA) ||
             !WideText(value->Value.lpszA, CP_ACP, *out)) {
    return false;
  }
  // An empty path names no file; a long one is still the store's own path.
  return !out->empty();
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

// Reads the service rows of "Outlook" as GetProfilePSTFiles and
// DeleteIMAPServices read them, and hands each service with a readable name
// and UID whose kind is wanted to visit(chain, services, uid). Returns 0, or
// the low bits of the first failure.
template <class Wanted, class Visit>
int ForEachService(Wanted wanted, Visit visit) {
  CHResultChain chain(ACCOUNT_UNIT);
  OutlookServices services;
  CRowSet pRowSet;
  services.Open(chain);
  ReadServiceRows(chain, __LINE__,
                  {TEXT("serviceAdminPtr->GetMsgServiceTable(0, &tablePtr)"),
                   TEXT("HrQueryAllRows(tablePtr, (LPSPropTagArray)&g_tcColumns, NULL, NULL, 0, &pRowSet)")},
                  services.serviceAdminPtr.Get(), Tags(g_tcColumns), pRowSet);
  if (chain.Failed()) return HResultCode(chain.Result());
  for (ULONG i = 0; i < pRowSet.Count(); ++i) {
    const SRow& row = pRowSet->aRow[i];
    LPCWSTR name = ServiceNameOf(row);
    LPMAPIUID serviceUid = UidOf(row, TC_PR_SERVICE_UID);
    if (!name || !serviceUid || !wanted(GetAccountType(name))) continue;
    visit(chain, services, serviceUid);
  }
  return FailureCode(chain.Result());
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
  CHResultChain chain(ACCOUNT_UNIT);
  CRowSet pRowSet;
  bool listed = false;
  LPMAPIUID providerUid = FirstProviderUid(chain, __LINE__, kSectionCalls, providerAdmin, pRowSet, &listed);
  // A service without a provider fails the open: it has no section.
  CInterfacePtr<IProfSect> profSectPtr;
  OpenProviderSectionStep(chain, __LINE__, kSectionCalls, serviceAdmin, providerUid, profSectPtr);
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
  CRowSet pRows;
  ReadServiceRows(chain, __LINE__,
                  {TEXT("serviceAdminPtr->GetMsgServiceTable(0, &proTablePtr)"),
                   TEXT("HrQueryAllRows(proTablePtr, (LPSPropTagArray)&g_tcColumns, 0, 0, 0, &pRows)")},
                  services.serviceAdminPtr.Get(), Tags(g_tcColumns), pRows);
  if (chain.Failed()) return HResultCode(chain.Result());
  for (ULONG i = 0; i < pRows.Count(); ++i) {
    LPCWSTR name = ServiceNameOf(pRows->aRow[i]);
    // A service without a readable name is of an unrecognised kind.
    *mask |= name ? GetAccountType(name) : ACCOUNT_TYPE_UNKNOWN;
  }
  return 0;
}

int GetProfilePSTFiles(std::vector<CString>& paths, std::vector<CString>& displayNames) {
  return ForEachService(
      IsPSTOrNeutralAccount, [&](CHResultChain& chain, OutlookServices& services, LPMAPIUID serviceUid) {
        CInterfacePtr<IProviderAdmin> providerAdminPtr;
        CHAIN_OBTAIN(chain,
                     "serviceAdminPtr->AdminProviders( (LPMAPIUID)pRowSet->aRow[i].lpProps[TC_PR_SERVICE_UID].Value."
                     "bin.lpb, 0, &providerAdminPtr)",
                     providerAdminPtr, services.serviceAdminPtr->AdminProviders(serviceUid, 0, providerAdminPtr.Put()));
        if (chain.Failed()) return;
        std::vector<CString> path;
        std::vector<CString> displayName;
        if (GetServiceStoreInfo(services.serviceAdminPtr.Get(), providerAdminPtr.Get(), path, displayName) == 0 &&
            !path.empty() && !displayName.empty()) {
          paths.push_back(path[0]);
          displayNames.push_back(displayName[0]);
        }
      });
}

int DeleteIMAPServices() {
  return ForEachService(
      IsUnsupportedAccount, [](CHResultChain& chain, OutlookServices& services, LPMAPIUID serviceUid) {
        LogMessageAt(LOG_INFO, ACCOUNT_UNIT, __LINE__, TEXT("Delete the IMAP account."));
        CHAIN_STEP(chain,
                   "serviceAdminPtr->DeleteMsgService( (LPMAPIUID)pRowSet->aRow[i].lpProps[TC_PR_SERVICE_UID].Value."
                   "bin.lpb)",
                   services.serviceAdminPtr->DeleteMsgService(serviceUid));
      });
}
