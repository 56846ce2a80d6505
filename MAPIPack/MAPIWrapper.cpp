// Registration with the MAPI stub, the process-wide initialisation
// count, logon to a named profile and opening a store by its display name.
#include "MAPIPack/MAPIWrapper.h"

#include <excpt.h>
#include <mapiutil.h>
#include <wcrt.h>
#include <winreg.h>

#include <memory>
#include <new>

#include "MAPIPack/MAPIHelpers.h"
#include "support/BuildVariant.h"
#include "support/Log.h"
#include "support/TextConvert.h"

#define WRAPPER_UNIT TEXT(".\\MAPIPack\\MAPIWrapper")

namespace {

// Successful MAPI initialisations not yet matched by an uninitialisation.
LONG volatile g_initializeCount = 0;

const WCHAR kSubsystemKey[] = TEXT("Software\\microsoft\\windows messaging subsystem");
const WCHAR kMapiAppsKey[] = TEXT("Software\\microsoft\\windows messaging subsystem\\msmapiapps");
const WCHAR kAppValueName[] = TEXT("Corvane");
const WCHAR kAppValueData[] = TEXT("Microsoft Outlook");

// The logon buffer: 255 bytes of name and the terminator.
constexpr int kProfileNameBytes = 256;

// How much of "MAPIX" is read, whatever its type: five bytes in the full
// build, ten in the compact one.
constexpr DWORD kMapixBytes = kRequiresMapiVersion ? 10 : 5;
// The longest value name a registry key can hold.
constexpr DWORD kMaxValueNameChars = 16383;

bool KnownMode(MapiMode mode) { return mode == MAPI_MODE_NORMAL || mode == MAPI_MODE_SERVICE; }

// A display name of the store table: only a readable PT_UNICODE value counts;
// anything else is the empty string (no log line).
LPCWSTR StoreDisplayName(const SRow& row) {
  if (row.cValues < 1 || !row.lpProps) return TEXT("");
  const SPropValue& value = row.lpProps[0];
  if (PROP_TYPE(value.ulPropTag) != PT_UNICODE || !value.Value.lpszW) return TEXT("");
  if (IsBadStringPtrW(value.Value.lpszW, static_cast<UINT_PTR>(-1))) return TEXT("");
  return value.Value.lpszW;
}

// "MAPIX" must read "1". The buffer ends in zeros beyond what is read, so that
// the value always ends as a wide string.
bool MapixReadsOne(HKEY key) {
  WCHAR value[kMapixBytes / sizeof(WCHAR) + 1] = {};
  DWORD type = 0;
  DWORD size = kMapixBytes;
  if (RegQueryValueExW(key, TEXT("MAPIX"), nullptr, &type, reinterpret_cast<LPBYTE>(value), &size) != ERROR_SUCCESS)
    return false;
  return lstrcmpW(value, TEXT("1")) == 0;
}

// Whether the key lists a value of that name, compared without regard to case.
[[maybe_unused]] bool ListsValue(HKEY key, LPCWSTR wanted) {
  std::unique_ptr<WCHAR[]> name(new (std::nothrow) WCHAR[kMaxValueNameChars + 1]);
  if (!name) return false;
  for (DWORD index = 0;; ++index) {
    DWORD chars = kMaxValueNameChars + 1;
    if (RegEnumValueW(key, index, name.get(), &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      return false;
    if (lstrcmpiW(name.get(), wanted) == 0) return true;
  }
}

// "MAPIXVER" must hold something: any length is taken, since real
// installations write version strings such as "1.0.2536.0" that a buffer of
// ten bytes would refuse. A string holding only its terminator is empty.
[[maybe_unused]] bool HasMapiVersion(HKEY key) {
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExW(key, TEXT("MAPIXVER"), nullptr, &type, nullptr, &size) != ERROR_SUCCESS || size == 0)
    return false;
  std::unique_ptr<BYTE[]> data(new (std::nothrow) BYTE[size]());
  if (!data || RegQueryValueExW(key, TEXT("MAPIXVER"), nullptr, &type, data.get(), &size) != ERROR_SUCCESS)
    return false;
  for (DWORD i = 0; i < size; ++i)
    if (data[i] != 0) return true;
  return false;
}

// Whether Extended MAPI is installed, as the subsystem key says.
bool SubsystemInstalled(HKEY key) {
  if constexpr (kRequiresMapiVersion)
    return ListsValue(key, TEXT("MAPIX")) && MapixReadsOne(key) && HasMapiVersion(key);
  else
    return MapixReadsOne(key);
}

}  // namespace

CMAPIWrapper::~CMAPIWrapper() {
  if (m_sessionPtr) m_sessionPtr->Logoff(0, 0, 0);
}

int CMAPIWrapper::RegisterMapiApp() {
  CScopedRegKey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSubsystemKey, 0, KEY_QUERY_VALUE, key.Put()) != ERROR_SUCCESS) return 0;
  bool installed = SubsystemInstalled(key.Get());
  key.Reset();
  if (!installed) return 0;

  CScopedRegKey apps;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kMapiAppsKey, 0, KEY_SET_VALUE, apps.Put()) != ERROR_SUCCESS) return 1;
  // The library is registered when it can be; MAPI starts without it too.
  (void)RegSetValueExW(apps.Get(), kAppValueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(kAppValueData),
                       static_cast<DWORD>(sizeof(kAppValueData)));
  return 1;
}

int CMAPIWrapper::InitializeMapi(MapiMode mode) {
  if (!KnownMode(mode)) {
    LogMessageAt(LOG_ERROR, WRAPPER_UNIT, __LINE__, TEXT("Initialize MAPI refused: unknown MAPI mode %d."), mode);
    return 0;
  }
  if (!RegisterMapiApp()) return 0;
  HRESULT hr;
  if (mode == MAPI_MODE_SERVICE) {
    MAPIINIT_0 init = {MAPI_INIT_VERSION, MAPI_NT_SERVICE};
    hr = MAPIInitialize(&init);
  } else {
    hr = MAPIInitialize(nullptr);
  }
  if (!FAILED(hr)) {
    if constexpr (kCountsMapiInitialisation) InterlockedIncrement(&g_initializeCount);
    return 1;
  }
  LogMessageAt(LOG_FATAL, WRAPPER_UNIT, __LINE__, TEXT("Initinalize MAPI library failed. error: %d"),
               static_cast<int>(GetLastError()));
  return 0;
}

void CMAPIWrapper::UninitializeMapi() {
  // Uncounted, every call undoes one initialisation.
  if constexpr (kCountsMapiInitialisation) {
    if (!ReleaseCountedInitialisation()) return;
  }
  LONG result = 0;
  DWORD exceptionCode = 0;
  // A structured exception inside MAPI is swallowed.
  GuardStructured(
      []() -> LONG {
        MAPIUninitialize();
        return 0;
      },
      &result, &exceptionCode);
}

LONG CMAPIWrapper::GetInitializeCount() { return InterlockedCompareExchange(&g_initializeCount, 0, 0); }

bool CMAPIWrapper::ReleaseCountedInitialisation() {
  // The count is lowered only from a positive value, in one exchange, so that
  // threads calling Term too often at the same moment cannot leave it below
  // zero for every later Init and Term.
  LONG count = InterlockedCompareExchange(&g_initializeCount, 0, 0);
  for (;;) {
    if (count <= 0) {
      LogMessageAt(LOG_ERROR, WRAPPER_UNIT, __LINE__, TEXT("Call Term too times."));
      return false;
    }
    LONG seen = InterlockedCompareExchange(&g_initializeCount, count - 1, count);
    if (seen == count) return true;
    count = seen;
  }
}

int CMAPIWrapper::Logon(LPCWSTR profileName, MapiMode mode) {
  m_sessionPtr.Reset();
  LPCWSTR shownName = profileName ? profileName : TEXT("");
  if (!KnownMode(mode)) {
    LogMessageAt(LOG_FATAL, WRAPPER_UNIT, __LINE__,
                 TEXT("MAPILogonEx not called: unknown MAPI mode. type is: %d, profile name: %s"), mode, shownName);
    return 0;
  }

  // A name whose ANSI form does not fit is refused, never cut to another
  // profile's name.
  char name[kProfileNameBytes] = {};
  if (!NarrowInto(profileName, CP_THREAD_ACP, name)) {
    LogMessageAt(LOG_FATAL, WRAPPER_UNIT, __LINE__,
                 TEXT("MAPILogonEx not called: the profile name does not fit 255 bytes. type is: %d, profile "
                      "name: %s"),
                 mode, shownName);
    return 0;
  }

  ULONG flags = mode == MAPI_MODE_SERVICE ? MAPI_NT_SERVICE : (MAPI_USE_DEFAULT | MAPI_EXTENDED | MAPI_NEW_SESSION);
  HRESULT hr = MAPILogonEx(0, reinterpret_cast<LPWSTR>(name), nullptr, flags, m_sessionPtr.Put());
  if (!FAILED(hr) && m_sessionPtr) return 1;
  m_sessionPtr.Reset();
  LogMessageAt(LOG_FATAL, WRAPPER_UNIT, __LINE__, TEXT("MAPILogonEx failed. error: %d, type is: %d, profile name: %s"),
               static_cast<int>(GetLastError()), mode, shownName);
  return 0;
}

IMsgStore* CMAPIWrapper::OpenStoreByName(LPCWSTR displayName) {
  if (!m_sessionPtr) return nullptr;
  // No name stands for the empty name: a store whose display name is missing
  // or empty.
  LPCWSTR wanted = displayName ? displayName : TEXT("");

  CInterfacePtr<IMAPITable> tablePtr;
  if (m_sessionPtr->GetMsgStoresTable(0, tablePtr.Put()) != S_OK || !tablePtr) return nullptr;
  SizedSPropTagArray(2, columns) = {2, {PR_DISPLAY_NAME_W, PR_ENTRYID}};
  if (tablePtr->SetColumns(Tags(columns), 0) != S_OK) return nullptr;

  for (;;) {
    CRowSet pRows;
    HRESULT hr = tablePtr->QueryRows(1, 0, pRows.Put());
    if (FAILED(hr) || pRows.Count() != 1) {
      pRows.Reset();
      LogMessageAt(LOG_INFO, WRAPPER_UNIT, __LINE__, TEXT("Not exist storage, name: %s"), wanted);
      return nullptr;
    }
    const SRow& row = pRows->aRow[0];
    if (lstrcmpiW(StoreDisplayName(row), wanted) != 0) continue;

    // An entry identifier that is not binary is handed over as none, which the
    // session refuses.
    ULONG cb = 0;
    LPENTRYID entryId = nullptr;
    if (row.cValues >= 2 && PROP_TYPE(row.lpProps[1].ulPropTag) == PT_BINARY) {
      cb = row.lpProps[1].Value.bin.cb;
      entryId = reinterpret_cast<LPENTRYID>(row.lpProps[1].Value.bin.lpb);
    }
    CInterfacePtr<IMsgStore> storePtr;
    hr = m_sessionPtr->OpenMsgStore(0, cb, entryId, nullptr, MAPI_BEST_ACCESS | MDB_ONLINE, storePtr.Put());
    CheckHResult(hr,
                 TEXT("m_sessionPtr->OpenMsgStore(NULL, pRows->aRow[0].lpProps[1].Value.bin.cb, "
                      "(LPENTRYID)pRows->aRow[0].lpProps[1].Value.bin.lpb, NULL, MAPI_BEST_ACCESS | MDB_ONLINE, "
                      "&storePtr)"),
                 WRAPPER_UNIT, __LINE__);
    pRows.Reset();
    if (!FAILED(hr)) return storePtr.Detach();
    return nullptr;
  }
}
