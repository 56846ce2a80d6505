// The COM tests' in-process server: one class whose objects answer ITestValue,
// a class object that counts its references, and counters the tests read
// through the module's export "GetTestServerCounters".
#pragma once

#include <objbase.h>

DEFINE_GUID(CLSID_TestServer, 0x5C0A7E01, 0x1D2B, 0x4C3D, 0x8E, 0x4F, 0x50, 0x61, 0x72, 0x83, 0x94, 0xA5);
// A class the module is registered for but does not serve.
DEFINE_GUID(CLSID_TestNotServed, 0x5C0A7E02, 0x1D2B, 0x4C3D, 0x8E, 0x4F, 0x50, 0x61, 0x72, 0x83, 0x94, 0xA5);
DEFINE_GUID(IID_ITestValue, 0x5C0A7E10, 0x1D2B, 0x4C3D, 0x8E, 0x4F, 0x50, 0x61, 0x72, 0x83, 0x94, 0xA5);

struct ITestValue : public IUnknown {
  STDMETHOD_(LONG, Value)() PURE;  // 42
};

struct TestServerCounters {
  long factoryRefs;       // references to the class object held outside the module
  long objects;           // live objects
  long locks;             // LockServer(TRUE) not yet undone
  long getClassObject;    // DllGetClassObject calls
};
typedef const TestServerCounters*(STDAPICALLTYPE* TestServerCountersFn)();
