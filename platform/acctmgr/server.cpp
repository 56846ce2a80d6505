// The server module's exports: its class object, whether it may be unloaded,
// and its registration as the in-process server of the account manager.
#include <dlfcn.h>

#include <olectl.h>
#include <standin/comobject.h>
#include <standin/fault.h>

#include "acctmgr.h"
#include "owners/ScopedOwner.h"

namespace standin::acct {

std::atomic<long> g_liveObjects{0};
std::atomic<long> g_serverLocks{0};

namespace {

// The class object: one per module, never destroyed, so its references do not
// count towards the module's life (locks do).
class CManagerFactory final : public IClassFactory {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid != IID_IUnknown && riid != IID_IClassFactory) return E_NOINTERFACE;
    *ppv = static_cast<IClassFactory*>(this);
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }

  STDMETHODIMP CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) override {
    STANDIN_FAULT_POINT("IClassFactory::CreateInstance");
    if (!ppvObject) return E_POINTER;
    *ppvObject = nullptr;
    if (pUnkOuter) return CLASS_E_NOAGGREGATION;
    CInterfacePtr<IOlkAccountManager> manager(NewAccountManager());
    if (!manager) return E_OUTOFMEMORY;
    return manager->QueryInterface(riid, ppvObject);
  }
  STDMETHODIMP LockServer(BOOL fLock) override {
    STANDIN_FAULT_POINT("IClassFactory::LockServer");
    if (fLock)
      ++g_serverLocks;
    else
      --g_serverLocks;
    return S_OK;
  }
};

CManagerFactory g_factory;

// "HKEY_CLASSES_ROOT\CLSID\{...}" of the account manager.
std::u16string ClassKey() {
  WCHAR clsid[39] = {};
  StringFromGUID2(CLSID_OlkAccountManager, clsid, 39);
  return std::u16string(u"CLSID\\") + clsid;
}

LSTATUS SetText(HKEY key, const char16_t* name, const std::u16string& text) {
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR)));
}

// This module's own file, as the platform names it.
bool ModulePath(std::u16string* path) {
  Dl_info info{};
  if (!dladdr(reinterpret_cast<void*>(&ClassKey), &info) || !info.dli_fbase) return false;
  WCHAR buffer[4096];
  DWORD n = GetModuleFileNameW(static_cast<HMODULE>(info.dli_fbase), buffer, 4096);
  if (n == 0 || n >= 4096) return false;
  path->assign(buffer, n);
  return true;
}

}  // namespace

}  // namespace standin::acct

using namespace standin::acct;

extern "C" {

HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
  STANDIN_FAULT_POINT("DllGetClassObject");
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (rclsid != CLSID_OlkAccountManager) return CLASS_E_CLASSNOTAVAILABLE;
  return g_factory.QueryInterface(riid, ppv);
}

HRESULT STDAPICALLTYPE DllCanUnloadNow(void) {
  return g_liveObjects == 0 && g_serverLocks == 0 ? S_OK : S_FALSE;
}

// The class's in-process server is this module, usable from any thread.
HRESULT STDAPICALLTYPE DllRegisterServer(void) {
  std::u16string path;
  if (!ModulePath(&path)) return SELFREG_E_CLASS;
  CScopedRegKey key;
  const std::u16string server = ClassKey() + u"\\InprocServer32";
  if (RegCreateKeyExW(HKEY_CLASSES_ROOT, server.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                      nullptr, key.Put(), nullptr) != ERROR_SUCCESS ||
      SetText(key.Get(), nullptr, path) != ERROR_SUCCESS || SetText(key.Get(), u"ThreadingModel", u"Both") != ERROR_SUCCESS)
    return SELFREG_E_CLASS;
  return S_OK;
}

HRESULT STDAPICALLTYPE DllUnregisterServer(void) {
  LSTATUS status = RegDeleteTreeW(HKEY_CLASSES_ROOT, ClassKey().c_str());
  return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND ? S_OK : SELFREG_E_CLASS;
}

}  // extern "C"
