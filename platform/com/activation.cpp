// Activation of in-process servers: the registry tells which module serves a
// class; the module is loaded once and asked for its class object.
#include <objbase.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include <standin/fault.h>

#include "com.h"
#include "owners/ScopedOwner.h"

namespace {

// A server module this process loaded, with one load held until it is unloaded.
struct ServerModule {
  HMODULE module = nullptr;
  LPFNGETCLASSOBJECT getClassObject = nullptr;
  LPFNCANUNLOADNOW canUnloadNow = nullptr;  // null: the module stays
  int calls = 0;  // activations running in its code: it is not unloaded meanwhile
};

struct ServerTable {
  std::mutex lock;
  std::vector<ServerModule> modules;
};

ServerTable& Servers() {
  static ServerTable* table = new ServerTable;
  return *table;
}

// One activation's use of a loaded server module: the module stays while it runs.
class ServerCall {
 public:
  ServerCall() = default;
  ~ServerCall() { End(); }
  ServerCall(const ServerCall&) = delete;
  ServerCall& operator=(const ServerCall&) = delete;
  // Marks the module busy (the table's lock held).
  void Begin(ServerModule& server) {
    ++server.calls;
    module_ = server.module;
  }
  void End() {
    if (!module_) return;
    ServerTable& t = Servers();
    std::lock_guard<std::mutex> guard(t.lock);
    for (ServerModule& m : t.modules)
      if (m.module == module_) --m.calls;
    module_ = nullptr;
  }

 private:
  HMODULE module_ = nullptr;
};

template <class Fn>
Fn Export(HMODULE module, const char* name) {
  // Through void(*)(), as a cast of FARPROC to another function type must go.
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

HRESULT FromRegistryStatus(LSTATUS status) {
  if (status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND) return REGDB_E_CLASSNOTREG;
  return REGDB_E_READREGDB;
}

// The module registered as the class's in-process server.
HRESULT FindServerModule(REFCLSID clsid, std::u16string* module) {
  WCHAR text[39] = {};
  if (!StringFromGUID2(clsid, text, 39)) return E_UNEXPECTED;
  const std::u16string path = std::u16string(u"CLSID\\") + text + u"\\InprocServer32";
  CScopedRegKey key;
  LSTATUS status = RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_QUERY_VALUE, key.Put());
  if (status != ERROR_SUCCESS) return FromRegistryStatus(status);
  // REG_SZ, or REG_EXPAND_SZ expanded.
  DWORD size = 0;
  status = RegGetValueW(key.Get(), nullptr, nullptr, RRF_RT_REG_SZ, nullptr, nullptr, &size);
  if (status == ERROR_UNSUPPORTED_TYPE) return REGDB_E_CLASSNOTREG;
  if (status != ERROR_SUCCESS) return FromRegistryStatus(status);
  std::u16string value(size / sizeof(WCHAR) + 1, u'\0');
  size = static_cast<DWORD>(value.size() * sizeof(WCHAR));
  status = RegGetValueW(key.Get(), nullptr, nullptr, RRF_RT_REG_SZ, nullptr, value.data(), &size);
  if (status != ERROR_SUCCESS) return FromRegistryStatus(status);
  value.resize(std::char_traits<char16_t>::length(value.c_str()));
  if (value.empty()) return REGDB_E_CLASSNOTREG;
  *module = std::move(value);
  return S_OK;
}

// Loads the module once per process, finds its class-object export, and marks
// it busy for the call.
HRESULT LoadServer(const std::u16string& path, ServerCall* call, LPFNGETCLASSOBJECT* getClassObject) {
  HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (!module) return HRESULT_FROM_WIN32(GetLastError());
  ServerTable& t = Servers();
  std::unique_lock<std::mutex> guard(t.lock);
  auto known = std::find_if(t.modules.begin(), t.modules.end(),
                            [&](const ServerModule& m) { return m.module == module; });
  if (known != t.modules.end()) {
    call->Begin(*known);
    *getClassObject = known->getClassObject;
    guard.unlock();
    FreeLibrary(module);  // the table holds its load already
    return S_OK;
  }
  ServerModule server;
  server.module = module;
  server.getClassObject = Export<LPFNGETCLASSOBJECT>(module, "DllGetClassObject");
  server.canUnloadNow = Export<LPFNCANUNLOADNOW>(module, "DllCanUnloadNow");
  if (!server.getClassObject) {
    guard.unlock();
    FreeLibrary(module);
    return CO_E_ERRORINDLL;
  }
  t.modules.push_back(server);
  call->Begin(t.modules.back());
  *getClassObject = server.getClassObject;
  return S_OK;
}

HRESULT GetClassObject(REFCLSID clsid, DWORD context, REFIID riid, LPVOID* ppv, ServerCall* call) {
  if (!ppv) return E_INVALIDARG;
  *ppv = nullptr;
  if (!standin::com::CanUseCom()) return CO_E_NOTINITIALIZED;
  // Only in-process servers exist here.
  if (!(context & CLSCTX_INPROC_SERVER)) return REGDB_E_CLASSNOTREG;
  std::u16string path;
  if (HRESULT hr = FindServerModule(clsid, &path); FAILED(hr)) return hr;
  LPFNGETCLASSOBJECT getClassObject = nullptr;
  if (HRESULT hr = LoadServer(path, call, &getClassObject); FAILED(hr)) return hr;
  HRESULT hr = getClassObject(clsid, riid, ppv);
  if (FAILED(hr)) *ppv = nullptr;
  return hr;
}

}  // namespace

namespace standin::com {

void ReleaseUnusedServers() {
  ServerTable& t = Servers();
  std::vector<HMODULE> unused;
  {
    std::lock_guard<std::mutex> guard(t.lock);
    std::erase_if(t.modules, [&](const ServerModule& m) {
      if (m.calls > 0 || !m.canUnloadNow || m.canUnloadNow() != S_OK) return false;
      unused.push_back(m.module);
      return true;
    });
  }
  // A module's unload code runs without our lock held.
  for (HMODULE module : unused) FreeLibrary(module);
}

}  // namespace standin::com

extern "C" {

HRESULT STDAPICALLTYPE CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, COSERVERINFO* pServerInfo, REFIID riid,
                                        LPVOID* ppv) {
  STANDIN_FAULT_POINT("CoGetClassObject");
  ServerCall call;
  return GetClassObject(rclsid, dwClsContext, riid, ppv, &call);
}

HRESULT STDAPICALLTYPE CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext, REFIID riid,
                                        LPVOID* ppv) {
  STANDIN_FAULT_POINT("CoCreateInstance");
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  // The server stays loaded until its class object is released.
  ServerCall call;
  CInterfacePtr<IClassFactory> factory;
  if (HRESULT hr = GetClassObject(rclsid, dwClsContext, IID_IClassFactory, factory.PutAs<void>(), &call); FAILED(hr))
    return hr;
  if (!factory) return E_NOINTERFACE;
  HRESULT hr = factory->CreateInstance(pUnkOuter, riid, ppv);
  if (FAILED(hr)) *ppv = nullptr;
  return hr;
}

void STDAPICALLTYPE CoFreeUnusedLibraries(void) {
  int32_t ignored = 0;
  standin::TakeFault("CoFreeUnusedLibraries", &ignored);  // counted; there is no result to fail
  standin::com::ReleaseUnusedServers();
}

}  // extern "C"
