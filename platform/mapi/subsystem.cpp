// The MAPI subsystem's life: MAPIInitialize / MAPIUninitialize, counted per
// process, and whether the mail client is installed at all.
//
// Without the mail client the platform has no extended MAPI to load, and the
// call fails with MAPI_E_NOT_INITIALIZED, as every later MAPI call would.
#include <windows.h>
#include <winreg.h>

#include <mutex>

#include "core.h"

namespace standin::mapi {
namespace {

std::mutex& CountLock() {
  static std::mutex m;
  return m;
}
unsigned& InitCount() {
  static unsigned count = 0;
  return count;
}

constexpr ULONG kInitFlags = MAPI_MULTITHREAD_NOTIFICATIONS | MAPI_NT_SERVICE | MAPI_NO_COINIT;

}  // namespace

bool ClientInstalled() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Microsoft\\Windows Messaging Subsystem", 0, KEY_QUERY_VALUE,
                    &key) != ERROR_SUCCESS)
    return false;
  WCHAR value[8] = {};
  DWORD type = 0, size = sizeof(value) - sizeof(WCHAR);
  LSTATUS status = RegQueryValueExW(key, u"MAPIX", nullptr, &type, reinterpret_cast<LPBYTE>(value), &size);
  RegCloseKey(key);
  return status == ERROR_SUCCESS && type == REG_SZ && std::u16string_view(value) == u"1";
}

bool SubsystemInitialized() {
  std::lock_guard<std::mutex> guard(CountLock());
  return InitCount() > 0;
}

}  // namespace standin::mapi

MAPIAPI HRESULT STDMETHODCALLTYPE MAPIInitialize(LPVOID lpMapiInit) {
  MAPI_FAULT_POINT("MAPIInitialize");
  if (lpMapiInit) {
    const auto* init = static_cast<const MAPIINIT_0*>(lpMapiInit);
    if (init->ulVersion != MAPI_INIT_VERSION) return MAPI_E_VERSION;
    if (init->ulFlags & ~standin::mapi::kInitFlags) return MAPI_E_UNKNOWN_FLAGS;
  }
  if (!standin::mapi::ClientInstalled()) return MAPI_E_NOT_INITIALIZED;
  std::lock_guard<std::mutex> guard(standin::mapi::CountLock());
  ++standin::mapi::InitCount();
  return S_OK;
}

MAPIAPI void STDMETHODCALLTYPE MAPIUninitialize(void) {
  std::lock_guard<std::mutex> guard(standin::mapi::CountLock());
  unsigned& count = standin::mapi::InitCount();
  if (count) --count;  // extra calls are harmless
}
