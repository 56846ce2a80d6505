// In-process servers: found through the registry's classes key, loaded once,
// asked through DllGetClassObject; what goes wrong on the way; reference counts
// through the class object; unloading.
#include <filesystem>

#include <standin/fault.h>

#include "com_support.h"
#include "modules/comtestserver.h"

using namespace comtest;

namespace {

DEFINE_GUID(CLSID_Unregistered, 0x5C0A7E0F, 0x1D2B, 0x4C3D, 0x8E, 0x4F, 0x50, 0x61, 0x72, 0x83, 0x94, 0xA5);
DEFINE_GUID(IID_IUnheardOf, 0x5C0A7E1F, 0x1D2B, 0x4C3D, 0x8E, 0x4F, 0x50, 0x61, 0x72, 0x83, 0x94, 0xA5);

class ComActivation : public testing_support::FreshRoot {
 protected:
  void SetUp() override {
    FreshRoot::SetUp();
    ASSERT_EQ(S_OK, apartment_.hr());
    RegisterServer(CLSID_TestServer, BuiltModule("comtestserver"));
  }
  void TearDown() override {
    ClearCreated();
    FreshRoot::TearDown();
  }
  void ClearCreated() { object_.Reset(); }

  HRESULT Create(REFCLSID clsid, REFIID iid = IID_ITestValue, DWORD context = CLSCTX_INPROC_SERVER) {
    return CoCreateInstance(clsid, nullptr, context, iid, object_.PutAs<void>());
  }
  // The server's counters, while it is loaded.
  static const TestServerCounters* Counters() {
    HMODULE module = GetModuleHandleW(u"comtestserver.dll");
    if (!module) return nullptr;
    auto get = reinterpret_cast<TestServerCountersFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(module, "GetTestServerCounters")));
    return get ? get() : nullptr;
  }

  Apartment apartment_;
  CInterfacePtr<ITestValue> object_;
};

TEST_F(ComActivation, ARegisteredServerIsFoundThroughTheMachinesClassesKey) {
  ASSERT_EQ(S_OK, Create(CLSID_TestServer));
  ASSERT_TRUE(object_);
  EXPECT_EQ(42, object_->Value());
  // HKEY_CLASSES_ROOT shows the registration written below HKLM\SOFTWARE\Classes.
  CScopedRegKey key;
  WCHAR text[39] = {};
  StringFromGUID2(CLSID_TestServer, text, 39);
  EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CLASSES_ROOT, (std::u16string(u"CLSID\\") + text).c_str(), 0, KEY_READ,
                                         key.Put()));
  // A path kept as REG_EXPAND_SZ is expanded.
  setenv("COMTEST_BIN", testing_support::BinDir().c_str(), 1);
  RegisterServer(CLSID_TestServer, u"%COMTEST_BIN%/libcomtestserver.so", REG_EXPAND_SZ);
  CInterfacePtr<IUnknown> another;
  EXPECT_EQ(S_OK, CoCreateInstance(CLSID_TestServer, nullptr, CLSCTX_ALL, IID_IUnknown, another.PutAs<void>()));
}

TEST_F(ComActivation, ClassesWithoutAnInProcessServerAreNotRegistered) {
  EXPECT_EQ(REGDB_E_CLASSNOTREG, Create(CLSID_Unregistered));
  EXPECT_FALSE(object_);
  // The class key alone, or an empty server, names no server.
  CScopedRegKey key;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, ClassKeyPath(CLSID_Unregistered).c_str(), 0, nullptr, 0,
                                           KEY_ALL_ACCESS, nullptr, key.Put(), nullptr));
  EXPECT_EQ(REGDB_E_CLASSNOTREG, Create(CLSID_Unregistered));
  RegisterServer(CLSID_Unregistered, u"");
  EXPECT_EQ(REGDB_E_CLASSNOTREG, Create(CLSID_Unregistered));
  // Only in-process servers exist.
  EXPECT_EQ(REGDB_E_CLASSNOTREG, Create(CLSID_TestServer, IID_ITestValue, CLSCTX_LOCAL_SERVER));
  // A registry that cannot be read says so.
  standin::ArmFault("RegOpenKeyExW", ERROR_REGISTRY_IO_FAILED);
  EXPECT_EQ(REGDB_E_READREGDB, Create(CLSID_TestServer));
}

TEST_F(ComActivation, ModulesThatAreMissingOrServeNothingAreRefused) {
  RegisterServer(CLSID_TestServer, BuiltModule("nosuchserver"));
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND), Create(CLSID_TestServer));
  RegisterServer(CLSID_TestServer, BuiltModule("comnoentry"));
  EXPECT_EQ(CO_E_ERRORINDLL, Create(CLSID_TestServer));
  EXPECT_EQ(nullptr, GetModuleHandleW(u"comnoentry.dll")) << "a module that serves nothing is not kept";
  testing_support::WriteFileBytes(RootFile("notamodule.so"), "MZ this is no shared object");
  RegisterServer(CLSID_TestServer, standin::ToWindowsPath(RootFile("notamodule.so")));
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_BAD_EXE_FORMAT), Create(CLSID_TestServer));
  EXPECT_FALSE(object_);
}

TEST_F(ComActivation, TheServersAnswersArePassedThrough) {
  EXPECT_EQ(E_NOINTERFACE, Create(CLSID_TestServer, IID_IUnheardOf));
  EXPECT_FALSE(object_);
  ASSERT_NE(nullptr, Counters());
  EXPECT_EQ(0, Counters()->objects) << "the object that did not answer is gone";
  // A class the module does not serve.
  RegisterServer(CLSID_TestNotServed, BuiltModule("comtestserver"));
  EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, Create(CLSID_TestNotServed));
  CInterfacePtr<IClassFactory> factory;
  EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, CoGetClassObject(CLSID_TestNotServed, CLSCTX_INPROC_SERVER, nullptr,
                                                        IID_IClassFactory, factory.PutAs<void>()));
  EXPECT_FALSE(factory);
  // Aggregation is the class object's to refuse.
  CInterfacePtr<IUnknown> outer;
  ASSERT_EQ(S_OK, Create(CLSID_TestServer, IID_IUnknown));
  EXPECT_EQ(CLASS_E_NOAGGREGATION, CoCreateInstance(CLSID_TestServer, object_.Get(), CLSCTX_INPROC_SERVER,
                                                    IID_IUnknown, outer.PutAs<void>()));
}

TEST_F(ComActivation, ReferencesThroughTheClassObjectAreGivenBack) {
  ASSERT_EQ(S_OK, Create(CLSID_TestServer));
  const TestServerCounters* counters = Counters();
  ASSERT_NE(nullptr, counters);
  EXPECT_EQ(0, counters->factoryRefs) << "CoCreateInstance released the class object";
  EXPECT_EQ(1, counters->objects);
  EXPECT_EQ(1, counters->getClassObject);

  CInterfacePtr<IClassFactory> factory;
  ASSERT_EQ(S_OK,
            CoGetClassObject(CLSID_TestServer, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, factory.PutAs<void>()));
  EXPECT_EQ(1, counters->factoryRefs) << "the caller holds one reference";
  EXPECT_EQ(2, counters->getClassObject) << "the module is loaded once and asked again";
  CInterfacePtr<ITestValue> second;
  ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_ITestValue, second.PutAs<void>()));
  EXPECT_EQ(2, counters->objects);
  EXPECT_EQ(S_OK, factory->LockServer(TRUE));
  factory.Reset();
  EXPECT_EQ(0, counters->factoryRefs);
  second.Reset();
  ClearCreated();
  EXPECT_EQ(0, counters->objects);

  // A locked server stays loaded when COM frees unused servers; unlocked, it goes.
  CoFreeUnusedLibraries();
  ASSERT_EQ(counters, Counters());
  ASSERT_EQ(S_OK,
            CoGetClassObject(CLSID_TestServer, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, factory.PutAs<void>()));
  EXPECT_EQ(S_OK, factory->LockServer(FALSE));
  factory.Reset();
  CoFreeUnusedLibraries();
  EXPECT_EQ(nullptr, Counters()) << "the unused server was unloaded";
}

TEST_F(ComActivation, TheLastApartmentToCloseUnloadsUnusedServers) {
  ASSERT_EQ(S_OK, Create(CLSID_TestServer));
  {
    // A second entry of the thread does not close the apartment.
    Apartment again;
    ASSERT_EQ(S_FALSE, again.hr());
  }
  ClearCreated();
  EXPECT_NE(nullptr, Counters());
  CoUninitialize();  // the fixture's entry
  EXPECT_EQ(nullptr, Counters());
  EXPECT_EQ(S_OK, CoInitialize(nullptr));  // for the fixture to leave again
  ASSERT_EQ(S_OK, Create(CLSID_TestServer));
  EXPECT_EQ(1, Counters()->getClassObject) << "the module was loaded afresh";
}

TEST_F(ComActivation, FaultsAreReturnedBeforeAnythingIsLoaded) {
  standin::ArmFault("CoCreateInstance", E_OUTOFMEMORY, 1);
  EXPECT_EQ(E_OUTOFMEMORY, Create(CLSID_TestServer));
  EXPECT_EQ(nullptr, Counters());
  standin::ArmFault("CoGetClassObject", REGDB_E_CLASSNOTREG, 1);
  CInterfacePtr<IClassFactory> factory;
  EXPECT_EQ(REGDB_E_CLASSNOTREG, CoGetClassObject(CLSID_TestServer, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                                                  factory.PutAs<void>()));
  standin::ArmFault("LoadLibraryExW", ERROR_NOT_ENOUGH_MEMORY, 1);
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY), Create(CLSID_TestServer));
  EXPECT_EQ(S_OK, Create(CLSID_TestServer));
}

}  // namespace
