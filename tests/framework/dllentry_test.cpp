// The load-time entry: a test-only extension module (libfwtestdll.so, linked
// with the entry like every stand-in DLL) is loaded and unloaded here, and what
// its DllMain saw is read back from the debugger output of the root.
#include <afx.h>
#include <dlfcn.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <string>

#include <standin/fault.h>
#include <standin/root.h>

#include "common/fresh_root.h"

namespace {

class DllEntryTest : public testing_support::FreshRoot {
 protected:
  void TearDown() override {
    unsetenv("FWTESTDLL_REFUSE");
    FreshRoot::TearDown();
  }
  std::string ModulePath() const { return testing_support::BuiltProgram("libfwtestdll.so"); }
  std::string ModuleWindowsPath() const {
    char real[PATH_MAX];
    EXPECT_NE(realpath(ModulePath().c_str(), real), nullptr);
    return standin::ToUtf8(standin::ToWindowsPath(real));
  }
  std::string Output() const { return testing_support::ReadFileBytes(RootFile("debugger-output.txt")); }
  void* Load() {
    void* h = dlopen(ModulePath().c_str(), RTLD_NOW | RTLD_LOCAL);
    EXPECT_NE(h, nullptr) << dlerror();
    return h;
  }
  bool StillLoaded() const {
    void* h = dlopen(ModulePath().c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (h) dlclose(h);
    return h != nullptr;
  }
  template <class F>
  F Export(void* module, const char* name) {
    void* p = dlsym(module, name);
    EXPECT_NE(p, nullptr) << name;
    return reinterpret_cast<F>(p);
  }
};

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST_F(DllEntryTest, LoadAttachesAndUnloadDetaches) {
  int before = AfxGetModuleCount();
  void* module = Load();
  ASSERT_NE(module, nullptr);
  std::string attach = "fwtestdll: attach " + ModuleWindowsPath() + " statics=ready\n";
  EXPECT_EQ(Output(), attach);

  // The instance handle names the shared object, and the module registered itself.
  auto instance = Export<HINSTANCE (*)()>(module, "FwTestDllInstance")();
  WCHAR path[MAX_PATH];
  ASSERT_GT(GetModuleFileNameW(instance, path, MAX_PATH), 0u);
  EXPECT_EQ(standin::ToUtf8(path), ModuleWindowsPath());
  EXPECT_EQ(AfxGetModuleCount(instance), 1);
  EXPECT_EQ(AfxGetModuleCount(), before + 1);

  ASSERT_EQ(dlclose(module), 0);
  EXPECT_FALSE(StillLoaded());
  EXPECT_EQ(Output(), attach + "fwtestdll: detach " + ModuleWindowsPath() + " statics=ready\n");
  EXPECT_EQ(AfxGetModuleCount(instance), 0);
  EXPECT_EQ(AfxGetModuleCount(), before);

  // Loaded again, it attaches again.
  module = Load();
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(Count(Output(), "fwtestdll: attach"), 2u);
  dlclose(module);
  EXPECT_EQ(Count(Output(), "fwtestdll: detach"), 2u);
}

TEST_F(DllEntryTest, RefusedAttachIsReportedAndDetachedOnce) {
  setenv("FWTESTDLL_REFUSE", "1", 1);
  int before = AfxGetModuleCount();
  void* module = Load();
  ASSERT_NE(module, nullptr);  // a shared object cannot refuse to load here
  std::string text = Output();
  EXPECT_EQ(Count(text, "DllMain of " + ModuleWindowsPath() + " returned FALSE for DLL_PROCESS_ATTACH"), 1u)
      << text;
  // As the platform does with a refusing DLL: detached at once...
  EXPECT_EQ(Count(text, "fwtestdll: detach"), 1u);
  EXPECT_LT(text.find("returned FALSE"), text.find("fwtestdll: detach"));
  EXPECT_EQ(AfxGetModuleCount(), before);
  dlclose(module);
  // ...and not again at unload.
  EXPECT_EQ(Count(Output(), "fwtestdll: detach"), 1u);
}

TEST_F(DllEntryTest, FailedExtensionSetupRefusesAttach) {
  int before = AfxGetModuleCount();
  standin::ArmFault("AfxInitExtensionModule", ERROR_NOT_ENOUGH_MEMORY);
  void* module = Load();
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(Count(Output(), "returned FALSE for DLL_PROCESS_ATTACH"), 1u);
  EXPECT_EQ(AfxGetModuleCount(), before);
  dlclose(module);

  standin::ClearAllFaults();
  standin::ArmFault("CDynLinkLibrary", ERROR_NOT_ENOUGH_MEMORY);
  module = Load();
  ASSERT_NE(module, nullptr);
  std::string text = Output();
  EXPECT_EQ(Count(text, "fwtestdll: no CDynLinkLibrary"), 1u);
  EXPECT_EQ(Count(text, "returned FALSE for DLL_PROCESS_ATTACH"), 2u);
  EXPECT_EQ(AfxGetModuleCount(), before);
  dlclose(module);
}

TEST_F(DllEntryTest, StringsAndObjectsCrossTheModuleBoundary) {
  void* module = Load();
  ASSERT_NE(module, nullptr);
  auto decorate = Export<void (*)(const CString&, CString&)>(module, "FwTestDllDecorate");
  CString made;
  decorate(CString(u"grüße"), made);
  EXPECT_EQ(made, u"<GRÜßE|5>");  // ß has no one-letter capital
  made += u" and more from here";  // grown by this side
  CString copy = made;

  CObject* object = Export<CObject* (*)()>(module, "FwTestDllNewObject")();
  ASSERT_NE(object, nullptr);
  EXPECT_STREQ(object->GetRuntimeClass()->m_lpszClassName, "CTestDllObject");
  EXPECT_TRUE(object->IsKindOf(RUNTIME_CLASS(CCmdTarget)));  // the one CCmdTarget of the framework
  EXPECT_TRUE(object->IsKindOf(RUNTIME_CLASS(CObject)));
  delete object;  // its code lives in the module: before the unload

  dlclose(module);
  ASSERT_FALSE(StillLoaded());
  // The text made by the module outlives it: its buffer belongs to the framework.
  EXPECT_EQ(made, copy);
  made.Empty();
  EXPECT_TRUE(copy.Right(5) == u" here");
}

}  // namespace
