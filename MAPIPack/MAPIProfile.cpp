// Administration of MAPI profiles and of the message services in
// them.
#include "MAPIPack/MAPIProfile.h"

#include <mapiutil.h>
#include <mapix.h>
#include <wcrt.h>

#include <cstring>
#include <string>

#include "MAPIPack/MAPIHelpers.h"
#include "support/Log.h"
#include "support/PropTrival.h"
#include "support/TextConvert.h"

#define PROFILE_UNIT TEXT(".\\MAPIPack\\MAPIProfile")

namespace {

// Narrow names travel in a buffer of 256 bytes.
constexpr int kNameBytes = 256;
// PST paths read from a profile travel in a buffer of 260 bytes.
constexpr int kPathBytes = MAX_PATH;
// The personal-folders services, in the narrow form the service tables use.
char kUnicodePstService[] = "MSUPST MS";
char kAnsiPstService[] = "MSPST MS";
const WCHAR kPersonalFolders[] = TEXT("Personal Folders");
const WCHAR kAdminFailed[] = TEXT("Create profile administration object  failed.");
const WCHAR kServicesFailed[] = TEXT("Message service administration object can not get the access right.");

LPWSTR NarrowArg(const char* text) { return reinterpret_cast<LPWSTR>(const_cast<char*>(text)); }

// The name in the thread's ANSI code page, in the 256-byte buffer; a name that
// does not fit is refused, never cut. A null name is the empty name.
bool ToNarrowName(LPCWSTR wide, char (&out)[kNameBytes]) { return NarrowInto(wide, CP_THREAD_ACP, out); }

void LogNameTooLong(int line, LPCWSTR name) {
  LogMessageAt(LOG_ERROR, PROFILE_UNIT, line, TEXT("The profile name is too long. profile name:%s"),
               name ? name : TEXT(""));
}

// A PST path written to MAPI: the ANSI form, as long as it needs to be.
std::string ToAnsiPath(LPCWSTR wide) {
  std::string narrow;
  NarrowText(wide, CP_ACP, narrow);
  return narrow;
}

bool IsReadableWide(LPCWSTR s) { return s && !IsBadStringPtrW(s, static_cast<UINT_PTR>(-1)); }

// A string value read for a narrow property. PT_UNICODE passes the narrow type
// test too; such a value is read as the wide string it is.
struct StringValue {
  const char* narrow = nullptr;
  LPCWSTR wide = nullptr;
  bool Present() const { return narrow || wide; }
};

StringValue PresentString(const SPropValue* value) {
  StringValue out;
  if (!value) return out;
  ULONG type = PROP_TYPE(value->ulPropTag);
  if (type == PT_STRING8 && IsReadableNarrow(value->Value.lpszA)) out.narrow = value->Value.lpszA;
  if (type == PT_UNICODE && IsReadableWide(value->Value.lpszW)) out.wide = value->Value.lpszW;
  return out;
}

// A wide value counts when it is a readable PT_UNICODE string.
LPCWSTR PresentWide(const SPropValue* value) {
  if (!value || PROP_TYPE(value->ulPropTag) != PT_UNICODE) return nullptr;
  return IsReadableWide(value->Value.lpszW) ? value->Value.lpszW : nullptr;
}

enum class PathRead { Absent, TooLong, Read };

// A PST path value into a buffer of 260 wide characters: at most 259 bytes of
// narrow text (or 259 wide characters) are taken; a longer value is refused.
PathRead ReadPathValue(const SPropValue* value, UINT cp, WCHAR (&out)[MAX_PATH]) {
  StringValue text = PresentString(value);
  if (text.narrow) {
    if (std::strlen(text.narrow) >= static_cast<size_t>(kPathBytes)) return PathRead::TooLong;
    char buffer[kPathBytes] = {};
    std::memcpy(buffer, text.narrow, std::strlen(text.narrow));
    WCHAR wide[MAX_PATH] = {};
    if (buffer[0] && MultiByteToWideChar(cp, 0, buffer, -1, wide, MAX_PATH) <= 0) return PathRead::Absent;
    wcscpy_s(out, wide);
    return PathRead::Read;
  }
  if (text.wide) {
    if (static_cast<size_t>(lstrlenW(text.wide)) >= static_cast<size_t>(MAX_PATH)) return PathRead::TooLong;
    wcscpy_s(out, text.wide);
    return PathRead::Read;
  }
  return PathRead::Absent;
}

bool IsDefaultStore(const SRow& row, ULONG column) {
  if (!row.lpProps || column >= row.cValues) return false;
  const SPropValue& value = row.lpProps[column];
  return PROP_TYPE(value.ulPropTag) == PT_LONG && (static_cast<ULONG>(value.Value.l) & SERVICE_DEFAULT_STORE);
}

bool FileExists(LPCWSTR path) { return path && *path && GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES; }

// Column sets, with the names the call texts give them.
SizedSPropTagArray(1, g_profileColumns) = {1, {PR_DISPLAY_NAME_A}};
SizedSPropTagArray(1, g_uidColumns) = {1, {PR_SERVICE_UID}};
SizedSPropTagArray(3, g_pstServiceColumns) = {3, {PR_SERVICE_NAME_W, PR_SERVICE_UID, PR_RESOURCE_FLAGS}};
SizedSPropTagArray(2, g_deleteServiceColumns) = {2, {PR_SERVICE_NAME_W, PR_SERVICE_UID}};
SizedSPropTagArray(3, sptCols) = {3, {PR_SERVICE_NAME_A, PR_SERVICE_UID, PR_RESOURCE_FLAGS}};
enum { SVCNAME, SVCID, SVCFLAGS };

// The first provider's section, as this unit's log names its calls. The
// system's text names the section by the row's value and writes
// MAPI_FORCE_ACCESS as a number.
const CProviderSectionCalls kSectionCalls = {
    TEXT("pProviderAdmin->GetProviderTable(0, &tablePtr)"),
    TEXT("HrQueryAllRows(tablePtr, (LPSPropTagArray)&sptPrv, 0, 0, 0, &pRowSet)"),
    TEXT("pMsgsaPtr->OpenProfileSection((LPMAPIUID)pRowSet->aRow[0].lpProps[PROVIDERUID].Value.bin.lpb, 0, "
         "MAPI_MODIFY | 0X00080000, &profSectPtr)")};

// The profile section of a service's first provider, for the scans of
// GetPSTServices and DeletePSTFileFromProfile, which log nothing of their own.
// S_FALSE: the service has no provider (the scan goes on).
HRESULT OpenServiceSection(IMsgServiceAdmin* services, LPMAPIUID serviceUid, CInterfacePtr<IProfSect>& section) {
  CHResultChain chain(PROFILE_UNIT, CHResultChain::kQuiet);
  CInterfacePtr<IProviderAdmin> providerAdminPtr;
  CHAIN_OBTAIN(chain, "services->AdminProviders(serviceUid, 0, &providerAdminPtr)", providerAdminPtr,
               services->AdminProviders(serviceUid, 0, providerAdminPtr.Put()));
  if (chain.Failed()) return chain.Result();
  CRowSet pRowSet;
  bool listed = false;
  LPMAPIUID providerUid = FirstProviderUid(chain, __LINE__, kSectionCalls, providerAdminPtr.Get(), pRowSet, &listed);
  if (chain.Failed()) return chain.Result();
  if (!providerUid) return S_FALSE;
  return OpenProviderSectionStep(chain, __LINE__, kSectionCalls, services, providerUid, section);
}

// The profile section of the first provider, as steps of the caller's chain;
// false when the provider table was read and lists no provider.
bool OpenFirstSection(CHResultChain& chain, IProviderAdmin* pProviderAdmin, IMsgServiceAdmin* pMsgsaPtr,
                      CInterfacePtr<IProfSect>& profSectPtr) {
  CRowSet pRowSet;
  bool listed = false;
  LPMAPIUID providerUid = FirstProviderUid(chain, __LINE__, kSectionCalls, pProviderAdmin, pRowSet, &listed);
  if (!chain.Failed() && !listed) return false;
  OpenProviderSectionStep(chain, __LINE__, kSectionCalls, pMsgsaPtr, providerUid, profSectPtr);
  return true;
}

// SetDefaultPSTFile, step a.
int ConfigurePersonalFolders(IMsgServiceAdmin* pMsgsaPtr, LPMAPIUID pID, LPCWSTR path) {
  std::string narrowPath = ToAnsiPath(path);
  SPropValue props[2] = {};
  props[0].ulPropTag = PR_DISPLAY_NAME_W;
  props[0].Value.lpszW = const_cast<LPWSTR>(kPersonalFolders);
  props[1].ulPropTag = PR_PST_PATH_A;
  props[1].Value.lpszA = narrowPath.data();
  HRESULT hr = pMsgsaPtr->ConfigureMsgService(pID, 0, 0, 2, props);
  CheckHResult(hr, TEXT("pMsgsaPtr->ConfigureMsgService(pID, 0, 0, 2, props)"), PROFILE_UNIT, __LINE__);
  return FailureCode(hr);
}

// SetDefaultPSTFile, step b.
int SetDefaultStoragePath(IProviderAdmin* pProviderAdmin, IMsgServiceAdmin* pMsgsaPtr, LPCWSTR path) {
  CHResultChain chain(PROFILE_UNIT);
  CInterfacePtr<IProfSect> profSectPtr;
  if (!OpenFirstSection(chain, pProviderAdmin, pMsgsaPtr, profSectPtr)) return 1;
  std::basic_string<WCHAR> widePath(path ? path : TEXT(""));
  SPropValue sp = {};
  sp.ulPropTag = PR_PST_PATH_W;
  sp.Value.lpszW = widePath.data();
  CHAIN_STEP(chain, "HrSetOneProp(profSectPtr, &sp)", HrSetOneProp(profSectPtr.Get(), &sp));
  CHAIN_STEP(chain, "profSectPtr->SaveChanges(0)", profSectPtr->SaveChanges(0));
  LogMessageAt(LOG_INFO, PROFILE_UNIT, __LINE__, TEXT("Set Default storage:%s"), path ? path : TEXT(""));
  return FailureCode(chain.Result());
}

// GetDefaultPSTPath: the path of the default store's first provider.
int ReadPSTPath(IProviderAdmin* pProviderAdmin, IMsgServiceAdmin* pMsgsaPtr, LPWSTR path) {
  CHResultChain chain(PROFILE_UNIT);
  CInterfacePtr<IProfSect> profSectPtr;
  if (!OpenFirstSection(chain, pProviderAdmin, pMsgsaPtr, profSectPtr)) return 1;
  CMapiBuffer<SPropValue> sProp;
  CHAIN_OBTAIN(chain, "HrGetOneProp((IMAPIProp*)profSectPtr.p, PR_PST_PATH, &sProp)", sProp,
               HrGetOneProp(static_cast<IMAPIProp*>(profSectPtr.Get()), PR_PST_PATH_A, sProp.Put()));
  if (chain.Failed()) return HResultCode(chain.Result());
  WCHAR read[MAX_PATH] = {};
  switch (ReadPathValue(sProp.Get(), CP_ACP, read)) {
    case PathRead::TooLong: LogMessageAt(LOG_ERROR, PROFILE_UNIT, __LINE__, TEXT("The buffer is too small")); return 1;
    case PathRead::Read: wcscpy_s(path, MAX_PATH, read); return 0;
    case PathRead::Absent: return 0;
  }
  return 0;
}

// The administration objects of the fixed profile and its service table, as
// SetDefaultPSTFile, DeleteMinorPSTFiles and GetDefaultPSTPath start.
struct FixedProfileServices {
  CInterfacePtr<IProfAdmin> profAdminPtr;
  CInterfacePtr<IMsgServiceAdmin> msgSAPtr;
  CInterfacePtr<IMAPITable> msgSACTablePtr;

  void Open(CHResultChain& chain) {
    char szName2[kNameBytes];
    ToNarrowName(OUTLOOK_PROFILE_NAME, szName2);
    CHAIN_OBTAIN(chain, "MAPIAdminProfiles(0, &profAdminPtr)", profAdminPtr, MAPIAdminProfiles(0, profAdminPtr.Put()));
    CHAIN_OBTAIN(chain, "profAdminPtr->AdminServices((LPTSTR)szName2, 0, 0, 0, &msgSAPtr)", msgSAPtr,
                 profAdminPtr->AdminServices(NarrowArg(szName2), nullptr, 0, 0, msgSAPtr.Put()));
    CHAIN_OBTAIN(chain, "msgSAPtr->GetMsgServiceTable(0, &msgSACTablePtr)", msgSACTablePtr,
                 msgSAPtr->GetMsgServiceTable(0, msgSACTablePtr.Put()));
  }

  // For a row of the service table: when it is the default store, the step
  // that administers its providers; its UID, or null for any other row.
  LPMAPIUID AdminDefaultStore(CHResultChain& chain, const SRow& row, CInterfacePtr<IProviderAdmin>& providerAdminPtr) {
    LPMAPIUID serviceUid = UidOf(row, SVCID);
    if (!IsDefaultStore(row, SVCFLAGS) || !serviceUid) return nullptr;
    CHAIN_OBTAIN(chain,
                 "msgSAPtr->AdminProviders((LPMAPIUID)pRowSet->aRow[iIndex].lpProps[SVCID].Value.bin.lpb, 0, "
                 "&providerAdminPtr)",
                 providerAdminPtr, msgSAPtr->AdminProviders(serviceUid, 0, providerAdminPtr.Put()));
    return serviceUid;
  }
};

// Every row of the profile table, as steps of chain.
void ReadProfileRows(CHResultChain& chain, CRowSet& pRows) {
  CInterfacePtr<IProfAdmin> profAdminPtr;
  CInterfacePtr<IMAPITable> talbePtr;
  CHAIN_OBTAIN(chain, "MAPIAdminProfiles(0, &profAdminPtr)", profAdminPtr, MAPIAdminProfiles(0, profAdminPtr.Put()));
  CHAIN_OBTAIN(chain, "profAdminPtr->GetProfileTable(0, &talbePtr)", talbePtr,
               profAdminPtr->GetProfileTable(0, talbePtr.Put()));
  CHAIN_OBTAIN(chain, "HrQueryAllRows(talbePtr, (LPSPropTagArray)&COLUMNS, 0, 0, 0, &pRows)", pRows,
               HrQueryAllRows(talbePtr.Get(), Tags(g_profileColumns), nullptr, nullptr, 0, pRows.Put()));
}

// The profile administration and a profile's name in narrow form, as creating
// and deleting a profile start; false (logged) when either cannot be had.
bool AdminForProfile(LPCWSTR profileName, CInterfacePtr<IProfAdmin>& profAdminPtr, char (&szName2)[kNameBytes]) {
  CHResultChain chain(PROFILE_UNIT);
  CHAIN_OBTAIN(chain, "MAPIAdminProfiles(0, &profAdminPtr)", profAdminPtr, MAPIAdminProfiles(0, profAdminPtr.Put()));
  if (chain.Failed()) return false;
  if (ToNarrowName(profileName, szName2)) return true;
  LogNameTooLong(__LINE__, profileName);
  return false;
}

}  // namespace

int CMAPIProfile::CreateProfile(LPCWSTR profileName) {
  CInterfacePtr<IProfAdmin> profAdminPtr;
  char szName2[kNameBytes];
  if (!AdminForProfile(profileName, profAdminPtr, szName2)) return 0;
  LPCWSTR shown = profileName ? profileName : TEXT("");
  HRESULT hr = profAdminPtr->CreateProfile(NarrowArg(szName2), nullptr, 0, 0);
  if (hr == E_ACCESSDENIED) {
    LogMessageAt(LOG_INFO, PROFILE_UNIT, __LINE__, TEXT("The profile is already exist. profile name:%s"), shown);
    return 1;
  }
  if (FAILED(hr)) {
    LogMessageAt(LOG_ERROR, PROFILE_UNIT, __LINE__, TEXT("Can not create the profile. profile name:%s error:%d"), shown,
                 static_cast<int>(GetLastError()));
    return 0;
  }
  return 1;
}

int CMAPIProfile::DeleteProfile(LPCWSTR profileName) {
  CInterfacePtr<IProfAdmin> profAdminPtr;
  char szName2[kNameBytes];
  if (!AdminForProfile(profileName, profAdminPtr, szName2)) return 0;
  HRESULT hr = profAdminPtr->DeleteProfile(NarrowArg(szName2), 0);
  if (hr == MAPI_E_NOT_FOUND || !FAILED(hr)) return 1;
  LogMessageAt(LOG_ERROR, PROFILE_UNIT, __LINE__, TEXT("DeleteProfile Failed. name: %s error: %d"),
               profileName ? profileName : TEXT(""), static_cast<int>(GetLastError()));
  return 0;
}

int CMAPIProfile::CountProfiles(LPCWSTR profileName) {
  char szName2[kNameBytes];
  if (!ToNarrowName(profileName, szName2)) {
    LogNameTooLong(__LINE__, profileName);
    return 0;
  }
  CHResultChain chain(PROFILE_UNIT);
  CRowSet pRows;
  ReadProfileRows(chain, pRows);
  if (chain.Failed()) return 0;
  std::basic_string<WCHAR> wideName(profileName ? profileName : TEXT(""));
  int count = 0;
  for (ULONG i = 0; i < pRows.Count(); ++i) {
    const SRow& row = pRows->aRow[i];
    StringValue name = PresentString(row.cValues ? row.lpProps : nullptr);
    if (name.narrow && std::strcmp(name.narrow, szName2) == 0) ++count;
    if (name.wide && wideName == name.wide) ++count;
  }
  return count;
}

int CMAPIProfile::GetProfileNames(std::vector<CString>& names) {
  CHResultChain chain(PROFILE_UNIT, CHResultChain::kQuiet);
  CRowSet pRows;
  ReadProfileRows(chain, pRows);
  if (chain.Failed()) return 0;
  for (ULONG i = 0; i < pRows.Count(); ++i) {
    const SRow& row = pRows->aRow[i];
    StringValue name = PresentString(row.cValues ? row.lpProps : nullptr);
    std::basic_string<WCHAR> wide;
    if (name.narrow && WideText(name.narrow, CP_THREAD_ACP, wide)) names.push_back(CString(wide.c_str()));
    if (name.wide) names.push_back(CString(name.wide));
  }
  return 1;
}

int CMAPIProfile::AttachPSTFileToProfile(LPCWSTR pstPath, LPCWSTR profileName, LPCWSTR displayName) {
  char szName2[kNameBytes];
  if (!ToNarrowName(profileName, szName2)) {
    LogNameTooLong(__LINE__, profileName);
    return 0;
  }
  CHResultChain chain(PROFILE_UNIT);
  CInterfacePtr<IProfAdmin> profAdimPtr;
  CInterfacePtr<IMsgServiceAdmin> servicesAdminPtr;
  CRowSet pOldRows;
  CHAIN_OBTAIN(chain, "MAPIAdminProfiles(0, &profAdimPtr)", profAdimPtr, MAPIAdminProfiles(0, profAdimPtr.Put()));
  CHAIN_OBTAIN(chain, "profAdimPtr->AdminServices((LPTSTR)szName2, 0, 0, 0, &servicesAdminPtr)", servicesAdminPtr,
               profAdimPtr->AdminServices(NarrowArg(szName2), nullptr, 0, 0, servicesAdminPtr.Put()));
  ReadServiceRows(chain, __LINE__,
                  {TEXT("servicesAdminPtr->GetMsgServiceTable(0, &oldTablePtr)"),
                   TEXT("HrQueryAllRows(oldTablePtr, (LPSPropTagArray)&COLUMNS, 0,0,0,&pOldRows)")},
                  servicesAdminPtr.Get(), Tags(g_uidColumns), pOldRows);
  CHAIN_STEP(chain, "servicesAdminPtr->CreateMsgService((LPTSTR)pst, 0, 0, 0)",
             servicesAdminPtr->CreateMsgService(NarrowArg(kUnicodePstService), nullptr, 0, 0));
  CRowSet pRows;
  ReadServiceRows(chain, __LINE__,
                  {TEXT("servicesAdminPtr->GetMsgServiceTable(0, &tablePtr)"),
                   TEXT("HrQueryAllRows(tablePtr, (LPSPropTagArray)&COLUMNS, 0, 0, 0, &pRows)")},
                  servicesAdminPtr.Get(), Tags(g_uidColumns), pRows);

  // The new service: the first new row whose UID no old row has.
  MAPIUID newUID = {};
  bool found = false;
  if (!chain.Failed()) {
    for (ULONG i = 0; i < pRows.Count() && !found; ++i) {
      LPMAPIUID uid = UidOf(pRows->aRow[i], 0);
      if (!uid) continue;
      bool old = false;
      for (ULONG j = 0; j < pOldRows.Count() && !old; ++j) {
        LPMAPIUID oldUid = UidOf(pOldRows->aRow[j], 0);
        old = oldUid && std::memcmp(oldUid, uid, sizeof(MAPIUID)) == 0;
      }
      if (!old) {
        newUID = *uid;
        found = true;
      }
    }
    if (!found)
      LogMessageAt(LOG_ERROR, PROFILE_UNIT, __LINE__,
                   TEXT("The new message service is not in the service table. profile name:%s"),
                   profileName ? profileName : TEXT(""));
  }
  if (chain.Failed()) {
    chain.Step(TEXT("servicesAdminPtr->ConfigureMsgService(&newUID, 0, 0, 2, props)"), __LINE__,
               [] { return MAPI_E_CALL_FAILED; });  // not run: logged as skipped
    return 0;
  }
  if (!found) return 0;

  std::basic_string<WCHAR> display(displayName ? displayName : TEXT(""));
  std::string narrowPath = ToAnsiPath(pstPath);
  SPropValue props[2] = {};
  props[0].ulPropTag = PR_DISPLAY_NAME_W;
  props[0].Value.lpszW = display.data();
  props[1].ulPropTag = PR_PST_PATH_A;
  props[1].Value.lpszA = narrowPath.data();
  HRESULT hr = CHAIN_STEP(chain, "servicesAdminPtr->ConfigureMsgService(&newUID, 0, 0, 2, props)",
                          servicesAdminPtr->ConfigureMsgService(&newUID, 0, 0, 2, props));
  if (!FAILED(hr)) return 1;
  // A service without its store is of no use and would stay in the profile.
  if (FAILED(servicesAdminPtr->DeleteMsgService(&newUID)))
    LogMessageAt(LOG_ERROR, PROFILE_UNIT, __LINE__, TEXT("Can not delete the pst file: %s"), pstPath);
  return 0;
}

void CMAPIProfile::GetPSTServices(LPCWSTR profileName, std::vector<CString>& displayNames,
                                  std::vector<CString>& pstPaths) {
  CInterfacePtr<IProfAdmin> profAdminPtr;
  if (FAILED(Obtained(MAPIAdminProfiles(0, profAdminPtr.Put()), profAdminPtr))) {
    LogMessageAt(LOG_ERROR, PROFILE_UNIT, __LINE__, kAdminFailed);
    return;
  }
  char szName2[kNameBytes];
  CInterfacePtr<IMsgServiceAdmin> msgSAPtr;
  if (!ToNarrowName(profileName, szName2) ||
      FAILED(Obtained(profAdminPtr->AdminServices(NarrowArg(szName2), nullptr, 0, 0, msgSAPtr.Put()), msgSAPtr))) {
    LogMessageAt(LOG_ERROR, PROFILE_UNIT, __LINE__, kServicesFailed);
    return;
  }
  CHResultChain chain(PROFILE_UNIT, CHResultChain::kQuiet);
  CRowSet pRowSet;
  ReadServiceRows(chain, __LINE__,
                  {TEXT("msgSAPtr->GetMsgServiceTable(0, &tablePtr)"),
                   TEXT("HrQueryAllRows(tablePtr, (LPSPropTagArray)&COLUMNS, 0, 0, 0, &pRowSet)")},
                  msgSAPtr.Get(), Tags(g_pstServiceColumns), pRowSet);
  if (chain.Failed()) return;
  for (ULONG i = 0; i < pRowSet.Count(); ++i) {
    LPMAPIUID serviceUid = UidOf(pRowSet->aRow[i], 1);
    if (!serviceUid) continue;
    CInterfacePtr<IProfSect> section;
    HRESULT hr = OpenServiceSection(msgSAPtr.Get(), serviceUid, section);
    if (FAILED(hr)) return;
    if (hr == S_FALSE) continue;
    CMapiBuffer<SPropValue> pathValue;
    if (FAILED(Obtained(HrGetOneProp(section.Get(), PR_PST_PATH_A, pathValue.Put()), pathValue))) continue;
    WCHAR path[MAX_PATH] = {};
    PathRead read = ReadPathValue(pathValue.Get(), CP_THREAD_ACP, path);
    if (read == PathRead::TooLong)
      LogMessageAt(LOG_ERROR, PROFILE_UNIT, __LINE__, TEXT("The PST path of a service is too long; it is skipped."));
    if (read != PathRead::Read) continue;
    CMapiBuffer<SPropValue> nameValue;
    if (FAILED(Obtained(HrGetOneProp(section.Get(), PR_DISPLAY_NAME_W, nameValue.Put()), nameValue))) continue;
    LPCWSTR name = PresentWide(nameValue.Get());
    if (!name) continue;
    pstPaths.push_back(CString(path));
    displayNames.push_back(CString(name));
  }
}

int CMAPIProfile::FindProfileOfPSTFile(LPCWSTR pstPath, CString& profileName, CString& displayName,
                                       LPCWSTR skipped) {
  std::vector<CString> profiles;
  if (!GetProfileNames(profiles)) return 0;
  LPCWSTR wanted = pstPath ? pstPath : TEXT("");
  std::vector<CString> names;
  std::vector<CString> paths;
  for (const CString& profile : profiles) {
    if (skipped && profile.CompareNoCase(skipped) == 0) continue;
    GetPSTServices(profile, names, paths);
    for (size_t i = 0; i < paths.size() && i < names.size(); ++i) {
      CString path = paths[i];
      path.Trim();
      if (path.CompareNoCase(wanted) == 0) {
        profileName = profile;
        displayName = names[i];
        return 1;
      }
    }
  }
  return 1;
}

namespace {

// A row of g_deleteServiceColumns naming a personal-folders service.
bool IsPersonalFoldersService(const SRow& row) {
  if (row.cValues < 1 || row.lpProps[0].ulPropTag != PR_SERVICE_NAME_W || !row.lpProps[0].Value.lpszW) return false;
  LPCWSTR name = row.lpProps[0].Value.lpszW;
  return lstrcmpiW(name, TEXT("MSUPST MS")) == 0 || lstrcmpiW(name, TEXT("MSPST MS")) == 0;
}

}  // namespace

int CMAPIProfile::DeletePSTFileFromProfile(LPCWSTR pstPath) {
  CInterfacePtr<IProfAdmin> profAdminPtr;
  if (FAILED(Obtained(MAPIAdminProfiles(0, profAdminPtr.Put()), profAdminPtr))) {
    LogMessageAt(LOG_ERROR, PROFILE_UNIT, __LINE__, kAdminFailed);
    return 0;
  }
  char szName2[kNameBytes];
  ToNarrowName(OUTLOOK_PROFILE_NAME, szName2);
  CInterfacePtr<IMsgServiceAdmin> msgSAPtr;
  if (FAILED(Obtained(profAdminPtr->AdminServices(NarrowArg(szName2), nullptr, 0, 0, msgSAPtr.Put()), msgSAPtr))) {
    LogMessageAt(LOG_ERROR, PROFILE_UNIT, __LINE__, kServicesFailed);
    return 0;
  }
  CInterfacePtr<IMAPITable> tablePtr;
  if (FAILED(Obtained(msgSAPtr->GetMsgServiceTable(0, tablePtr.Put()), tablePtr))) return 1;
  CRowSet pRowSet;
  if (FAILED(Obtained(HrQueryAllRows(tablePtr.Get(), Tags(g_deleteServiceColumns), nullptr, nullptr, 0, pRowSet.Put()),
                      pRowSet)))
    return 0;
  LPCWSTR wanted = pstPath ? pstPath : TEXT("");
  LPMAPIUID matched = nullptr;
  // Personal-folders services without a file: an attach that was stopped
  // between creating the service and configuring it. They go too.
  std::vector<LPMAPIUID> unfinished;
  for (ULONG i = 0; i < pRowSet.Count(); ++i) {
    LPMAPIUID serviceUid = UidOf(pRowSet->aRow[i], 1);
    if (!serviceUid) continue;
    CInterfacePtr<IProfSect> section;
    HRESULT hr = OpenServiceSection(msgSAPtr.Get(), serviceUid, section);
    if (FAILED(hr)) return 0;
    if (hr == S_FALSE) continue;
    CMapiBuffer<SPropValue> pathValue;
    hr = Obtained(HrGetOneProp(section.Get(), PR_PST_PATH_A, pathValue.Put()), pathValue);
    if (hr == MAPI_E_NOT_FOUND && IsPersonalFoldersService(pRowSet->aRow[i])) unfinished.push_back(serviceUid);
    if (FAILED(hr) || matched) continue;
    WCHAR path[MAX_PATH] = {};
    if (ReadPathValue(pathValue.Get(), CP_THREAD_ACP, path) != PathRead::Read) continue;
    if (lstrcmpiW(path, wanted) == 0) matched = serviceUid;
  }
  if (matched && FAILED(msgSAPtr->DeleteMsgService(matched)))
    LogMessageAt(LOG_ERROR, PROFILE_UNIT, __LINE__, TEXT("Can not delete the pst file: %s"), wanted);
  for (LPMAPIUID serviceUid : unfinished) {
    LogMessageAt(LOG_INFO, PROFILE_UNIT, __LINE__, TEXT("Removing a personal-folders service without a file."));
    if (FAILED(msgSAPtr->DeleteMsgService(serviceUid)))
      LogMessageAt(LOG_ERROR, PROFILE_UNIT, __LINE__, TEXT("Can not delete a personal-folders service without a file."));
  }
  return 1;
}

int CMAPIProfile::SetDefaultPSTFile(LPCWSTR pstPath, bool configureExisting) {
  CHResultChain chain(PROFILE_UNIT);
  FixedProfileServices services;
  services.Open(chain);
  SPropValue serviceName = {};
  serviceName.ulPropTag = PR_SERVICE_NAME_A;
  serviceName.Value.lpszA = kUnicodePstService;
  SRestriction sRes = {};
  sRes.rt = RES_PROPERTY;
  sRes.res.resProperty.relop = RELOP_EQ;
  sRes.res.resProperty.ulPropTag = PR_SERVICE_NAME_A;
  sRes.res.resProperty.lpProp = &serviceName;
  CRowSet pRowSet;
  CHAIN_OBTAIN(chain, "HrQueryAllRows(msgSACTablePtr.p, (LPSPropTagArray)&sptCols, &sRes, 0, 0, &pRowSet)", pRowSet,
               HrQueryAllRows(services.msgSACTablePtr.Get(), Tags(sptCols), &sRes, nullptr, 0, pRowSet.Put()));
  for (ULONG iIndex = 0; !chain.Failed() && iIndex < pRowSet.Count(); ++iIndex) {
    CInterfacePtr<IProviderAdmin> providerAdminPtr;
    LPMAPIUID serviceUid = services.AdminDefaultStore(chain, pRowSet->aRow[iIndex], providerAdminPtr);
    if (!serviceUid) continue;
    if (chain.Failed()) break;
    if (configureExisting || !FileExists(pstPath)) {
      int result = ConfigurePersonalFolders(services.msgSAPtr.Get(), serviceUid, pstPath);
      if (result) return result;
    }
    int result = SetDefaultStoragePath(providerAdminPtr.Get(), services.msgSAPtr.Get(), pstPath);
    if (result) return result;
  }
  return FailureCode(chain.Result());
}

int CMAPIProfile::DeleteMinorPSTFiles() {
  CHResultChain chain(PROFILE_UNIT);
  FixedProfileServices services;
  services.Open(chain);
  SPropValue names[2] = {};
  names[0].ulPropTag = PR_SERVICE_NAME_A;
  names[0].Value.lpszA = kUnicodePstService;
  names[1].ulPropTag = PR_SERVICE_NAME_A;
  names[1].Value.lpszA = kAnsiPstService;
  SRestriction either[2] = {};
  for (int i = 0; i < 2; ++i) {
    either[i].rt = RES_PROPERTY;
    either[i].res.resProperty.relop = RELOP_EQ;
    either[i].res.resProperty.ulPropTag = PR_SERVICE_NAME_A;
    either[i].res.resProperty.lpProp = &names[i];
  }
  SRestriction sQueryRes = {};
  sQueryRes.rt = RES_OR;
  sQueryRes.res.resOr.cRes = 2;
  sQueryRes.res.resOr.lpRes = either;
  CRowSet pRowSet;
  CHAIN_OBTAIN(chain, "HrQueryAllRows(msgSACTablePtr.p, (LPSPropTagArray)&sptCols, &sQueryRes, 0, 0, &pRowSet)",
               pRowSet,
               HrQueryAllRows(services.msgSACTablePtr.Get(), Tags(sptCols), &sQueryRes, nullptr, 0, pRowSet.Put()));
  for (ULONG iIndex = 0; iIndex < pRowSet.Count(); ++iIndex) {
    const SRow& row = pRowSet->aRow[iIndex];
    LPMAPIUID serviceUid = UidOf(row, SVCID);
    if (IsDefaultStore(row, SVCFLAGS) || !serviceUid) continue;
    CHAIN_STEP(chain, "msgSAPtr->DeleteMsgService( (LPMAPIUID)pRowSet->aRow[iIndex].lpProps[SVCID].Value.bin.lpb)",
               services.msgSAPtr->DeleteMsgService(serviceUid));
  }
  return FailureCode(chain.Result());
}

int CMAPIProfile::GetDefaultPSTPath(LPWSTR path) {
  CHResultChain chain(PROFILE_UNIT);
  FixedProfileServices services;
  services.Open(chain);
  CRowSet pRowSet;
  CHAIN_OBTAIN(chain, "HrQueryAllRows(msgSACTablePtr.p, (LPSPropTagArray)&sptCols, 0, 0, 0, &pRowSet)", pRowSet,
               HrQueryAllRows(services.msgSACTablePtr.Get(), Tags(sptCols), nullptr, nullptr, 0, pRowSet.Put()));
  if (chain.Failed()) return HResultCode(chain.Result());
  for (ULONG iIndex = 0; iIndex < pRowSet.Count(); ++iIndex) {
    CInterfacePtr<IProviderAdmin> providerAdminPtr;
    LPMAPIUID serviceUid = services.AdminDefaultStore(chain, pRowSet->aRow[iIndex], providerAdminPtr);
    if (!serviceUid) continue;
    if (chain.Failed()) return HResultCode(chain.Result());
    if (!path) return HResultCode(MAPI_E_INVALID_PARAMETER);
    return ReadPSTPath(providerAdminPtr.Get(), services.msgSAPtr.Get(), path);
  }
  return 0;
}
