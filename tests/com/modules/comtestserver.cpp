// The COM tests' in-process server (see comtestserver.h).
#include "comtestserver.h"

namespace {

TestServerCounters g_counters{};

class TestObject final : public ITestValue {
 public:
  TestObject() { ++g_counters.objects; }
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid != IID_IUnknown && riid != IID_ITestValue) return E_NOINTERFACE;
    AddRef();
    *ppv = static_cast<ITestValue*>(this);
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override {
    ULONG left = --refs_;
    if (left == 0) {
      --g_counters.objects;
      delete this;
    }
    return left;
  }
  STDMETHODIMP_(LONG) Value() override { return 42; }

 private:
  ~TestObject() = default;
  ULONG refs_ = 1;
};

class TestFactory final : public IClassFactory {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid != IID_IUnknown && riid != IID_IClassFactory) return E_NOINTERFACE;
    AddRef();
    *ppv = static_cast<IClassFactory*>(this);
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++g_counters.factoryRefs); }
  STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(--g_counters.factoryRefs); }
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    TestObject* object = new TestObject;
    HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
  }
  STDMETHODIMP LockServer(BOOL lock) override {
    g_counters.locks += lock ? 1 : -1;
    return S_OK;
  }
};

TestFactory g_factory;

}  // namespace

extern "C" {

HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
  ++g_counters.getClassObject;
  *ppv = nullptr;
  if (rclsid != CLSID_TestServer) return CLASS_E_CLASSNOTAVAILABLE;
  return g_factory.QueryInterface(riid, ppv);
}

HRESULT STDAPICALLTYPE DllCanUnloadNow(void) {
  return g_counters.objects == 0 && g_counters.locks == 0 && g_counters.factoryRefs == 0 ? S_OK : S_FALSE;
}

STANDIN_API const TestServerCounters* STDAPICALLTYPE GetTestServerCounters() { return &g_counters; }

}  // extern "C"
