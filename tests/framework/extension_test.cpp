// Extension modules: the module record, the process-wide list of
// CDynLinkLibrary objects, and their failures through the fault seam.
#include <afx.h>

#include <gtest/gtest.h>

#include <standin/fault.h>

#include <atomic>
#include <thread>
#include <vector>

#include "common/fresh_root.h"

namespace {

char g_moduleA, g_moduleB;
HMODULE ModuleA() { return reinterpret_cast<HMODULE>(&g_moduleA); }
HMODULE ModuleB() { return reinterpret_cast<HMODULE>(&g_moduleB); }

class ExtensionTest : public testing_support::FreshRoot {
 protected:
  void TearDown() override {
    // Whatever a failed test left listed goes, so the next one counts from zero.
    AFX_EXTENSION_MODULE all = {TRUE, ModuleA(), nullptr, nullptr, nullptr};
    AfxTermExtensionModule(all, FALSE);
    all.hModule = ModuleB();
    AfxTermExtensionModule(all, FALSE);
    FreshRoot::TearDown();
  }
};

TEST_F(ExtensionTest, InitFillsTheRecordOnce) {
  AFX_EXTENSION_MODULE record = {FALSE, nullptr, nullptr, nullptr, nullptr};
  ASSERT_TRUE(AfxInitExtensionModule(record, ModuleA()));
  EXPECT_TRUE(record.bInitialized);
  EXPECT_EQ(record.hModule, ModuleA());
  EXPECT_EQ(record.hResource, ModuleA());
  // A second call succeeds and changes nothing.
  EXPECT_TRUE(AfxInitExtensionModule(record, ModuleB()));
  EXPECT_EQ(record.hModule, ModuleA());
}

TEST_F(ExtensionTest, InitFailuresLeaveTheRecordAlone) {
  AFX_EXTENSION_MODULE record = {FALSE, nullptr, nullptr, nullptr, nullptr};
  SetLastError(0);
  EXPECT_FALSE(AfxInitExtensionModule(record, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_FALSE(record.bInitialized);

  standin::ArmFault("AfxInitExtensionModule", ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_FALSE(AfxInitExtensionModule(record, ModuleA()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
  EXPECT_FALSE(record.bInitialized);
  EXPECT_EQ(record.hModule, nullptr);

  standin::ArmFault("AfxInitExtensionModule", ERROR_OUTOFMEMORY, 2);  // only the second call
  EXPECT_TRUE(AfxInitExtensionModule(record, ModuleA()));
  AFX_EXTENSION_MODULE other = {FALSE, nullptr, nullptr, nullptr, nullptr};
  EXPECT_FALSE(AfxInitExtensionModule(other, ModuleB()));
  EXPECT_TRUE(AfxInitExtensionModule(other, ModuleB()));
}

TEST_F(ExtensionTest, LibrariesAreListedUntilDeleted) {
  AFX_EXTENSION_MODULE a = {FALSE, nullptr, nullptr, nullptr, nullptr};
  AFX_EXTENSION_MODULE b = {FALSE, nullptr, nullptr, nullptr, nullptr};
  ASSERT_TRUE(AfxInitExtensionModule(a, ModuleA()));
  ASSERT_TRUE(AfxInitExtensionModule(b, ModuleB()));
  int before = AfxGetModuleCount();

  CDynLinkLibrary* a1 = new CDynLinkLibrary(a);
  CDynLinkLibrary* a2 = new CDynLinkLibrary(a);
  CDynLinkLibrary* b1 = new CDynLinkLibrary(b);
  ASSERT_TRUE(a1 && a2 && b1);
  EXPECT_EQ(a1->m_hModule, ModuleA());
  EXPECT_EQ(AfxGetModuleCount(ModuleA()), 2);
  EXPECT_EQ(AfxGetModuleCount(ModuleB()), 1);
  EXPECT_EQ(AfxGetModuleCount(), before + 3);

  delete a2;  // from the middle of the list
  EXPECT_EQ(AfxGetModuleCount(ModuleA()), 1);
  EXPECT_EQ(AfxGetModuleCount(), before + 2);

  // Termination deletes only the module's own libraries...
  AfxTermExtensionModule(a);
  EXPECT_EQ(AfxGetModuleCount(ModuleA()), 0);
  EXPECT_EQ(AfxGetModuleCount(ModuleB()), 1);
  // ...and a record that was never initialised deletes nothing.
  AFX_EXTENSION_MODULE blank = {FALSE, ModuleB(), nullptr, nullptr, nullptr};
  AfxTermExtensionModule(blank, TRUE);
  EXPECT_EQ(AfxGetModuleCount(ModuleB()), 1);
  AfxTermExtensionModule(b);
  EXPECT_EQ(AfxGetModuleCount(), before);
}

TEST_F(ExtensionTest, TermWithAllDeletesEveryLibrary) {
  AFX_EXTENSION_MODULE a = {FALSE, nullptr, nullptr, nullptr, nullptr};
  ASSERT_TRUE(AfxInitExtensionModule(a, ModuleA()));
  new CDynLinkLibrary(a);
  new CDynLinkLibrary(ModuleB(), ModuleB());
  ASSERT_EQ(AfxGetModuleCount(ModuleB()), 1);
  AfxTermExtensionModule(a, TRUE);
  EXPECT_EQ(AfxGetModuleCount(), 0);
}

TEST_F(ExtensionTest, FailedConstructionListsNothing) {
  AFX_EXTENSION_MODULE a = {FALSE, nullptr, nullptr, nullptr, nullptr};
  ASSERT_TRUE(AfxInitExtensionModule(a, ModuleA()));
  standin::ArmFault("CDynLinkLibrary", ERROR_NOT_ENOUGH_MEMORY);
  SetLastError(0);
  CDynLinkLibrary* dll = new CDynLinkLibrary(a);
  EXPECT_EQ(dll, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
  EXPECT_EQ(AfxGetModuleCount(ModuleA()), 0);

  standin::ArmFault("CDynLinkLibrary", ERROR_OUTOFMEMORY, 2);
  CDynLinkLibrary* first = new CDynLinkLibrary(a);
  CDynLinkLibrary* second = new CDynLinkLibrary(a);
  EXPECT_NE(first, nullptr);
  EXPECT_EQ(second, nullptr);
  EXPECT_EQ(AfxGetModuleCount(ModuleA()), 1);
  EXPECT_EQ(standin::FaultCallCount("CDynLinkLibrary"), 2u);
  AfxTermExtensionModule(a);
}

TEST_F(ExtensionTest, ListSurvivesConcurrentModules) {
  AFX_EXTENSION_MODULE a = {FALSE, nullptr, nullptr, nullptr, nullptr};
  ASSERT_TRUE(AfxInitExtensionModule(a, ModuleA()));
  std::atomic<bool> broken{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 300; ++i) {
        CDynLinkLibrary* dll = new CDynLinkLibrary(a);
        if (!dll || AfxGetModuleCount(ModuleA()) < 1) broken = true;
        delete dll;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_FALSE(broken);
  EXPECT_EQ(AfxGetModuleCount(ModuleA()), 0);
}

}  // namespace
