// Loading and unloading modules: LoadLibraryW finds, loads and counts;
// FreeLibrary gives loads back.
#include <filesystem>

#include <standin/fault.h>
#include <standin/root.h>

#include "common/fresh_root.h"

using namespace testing_support;

namespace {

class KernelLoaderTest : public FreshRoot {
 protected:
  // A module built for the COM tests, not linked into this program.
  static std::u16string ServerPath() { return standin::ToWindowsPath(BinDir() + "/libcomtestserver.so"); }
  static std::u16string PathOf(HMODULE module) {
    WCHAR path[4096];
    DWORD n = GetModuleFileNameW(module, path, 4096);
    return std::u16string(path, n);
  }
};

TEST_F(KernelLoaderTest, LoadsAreCountedAndTheLastFreeUnloads) {
  ASSERT_EQ(nullptr, GetModuleHandleW(u"comtestserver.dll")) << "not loaded before";
  HMODULE module = LoadLibraryW(ServerPath().c_str());
  ASSERT_NE(nullptr, module);
  EXPECT_EQ(module, GetModuleHandleW(u"comtestserver.dll"));
  EXPECT_EQ(ServerPath(), PathOf(module));
  EXPECT_NE(nullptr, GetProcAddress(module, "DllGetClassObject"));
  // The same file by its bare name (found beside the executable), and by the
  // name it is loaded under: the same module, two more loads.
  EXPECT_EQ(module, LoadLibraryW(u"libcomtestserver.so"));
  EXPECT_EQ(module, LoadLibraryExW(u"comtestserver.dll", nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
  EXPECT_TRUE(FreeLibrary(module));
  EXPECT_TRUE(FreeLibrary(module));
  EXPECT_EQ(module, GetModuleHandleW(u"comtestserver.dll")) << "one load is left";
  EXPECT_TRUE(FreeLibrary(module));
  SetLastError(0xdeadbeef);
  EXPECT_EQ(nullptr, GetModuleHandleW(u"comtestserver.dll"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), GetLastError());
  EXPECT_FALSE(FreeLibrary(module));
  EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), GetLastError());
}

TEST_F(KernelLoaderTest, ModulesTheProcessStartedWithStay) {
  HMODULE kernel = LoadLibraryW(u"KERNEL32.DLL");
  ASSERT_NE(nullptr, kernel);
  EXPECT_EQ(GetModuleHandleW(u"kernel32"), kernel);
  EXPECT_EQ(kernel, LoadLibraryW(u"advapi32.dll"));
  EXPECT_TRUE(FreeLibrary(kernel));
  EXPECT_TRUE(FreeLibrary(kernel));
  EXPECT_TRUE(FreeLibrary(kernel)) << "a module the process started with is never unloaded";
  EXPECT_EQ(kernel, GetModuleHandleW(u"kernel32"));
}

TEST_F(KernelLoaderTest, WhatCannotBeLoadedSaysWhy) {
  struct {
    std::u16string name;
    DWORD error;
  } cases[] = {
      {standin::ToWindowsPath(BinDir() + "/libnosuchmodule.so"), ERROR_MOD_NOT_FOUND},
      {u"nosuchmodule.dll", ERROR_MOD_NOT_FOUND},
      {standin::ToWindowsPath(RootFile("text.so")), ERROR_BAD_EXE_FORMAT},
      {standin::ToWindowsPath(BinDir() + "/mapiadmin"), ERROR_BAD_EXE_FORMAT},  // a program, not a module
      {standin::ToWindowsPath(root()), ERROR_ACCESS_DENIED},
      {u"C:\\Windows\\System32\\ole32.dll", ERROR_MOD_NOT_FOUND},  // no such drive here
  };
  WriteFileBytes(RootFile("text.so"), "just text");
  for (const auto& c : cases) {
    SetLastError(0xdeadbeef);
    EXPECT_EQ(nullptr, LoadLibraryW(c.name.c_str())) << standin::ToUtf8(c.name);
    EXPECT_EQ(c.error, GetLastError()) << standin::ToUtf8(c.name);
  }
  EXPECT_EQ(nullptr, LoadLibraryW(nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
  EXPECT_EQ(nullptr, LoadLibraryExW(ServerPath().c_str(), GetCurrentProcess(), 0));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
  EXPECT_EQ(nullptr, LoadLibraryExW(ServerPath().c_str(), nullptr, 0x2));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());

  standin::ArmFault("LoadLibraryW", ERROR_NOT_ENOUGH_MEMORY, 1);
  EXPECT_EQ(nullptr, LoadLibraryW(ServerPath().c_str()));
  EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY), GetLastError());
  EXPECT_EQ(nullptr, GetModuleHandleW(u"comtestserver.dll"));
}

}  // namespace
