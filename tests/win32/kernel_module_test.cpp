// Module handles, exported functions, IsWow64Process per machine, and the
// in-process window table.
#include <atomic>
#include <thread>
#include <vector>

#include "common/fresh_root.h"

#include <standin/fault.h>
#include <standin/root.h>

using namespace testing_support;

namespace {

class KernelModuleTest : public FreshRoot {};

std::u16string ModulePath(HMODULE module) {
  WCHAR path[1024];
  DWORD n = GetModuleFileNameW(module, path, 1024);
  return std::u16string(path, n);
}

TEST_F(KernelModuleTest, PlatformModulesShareOneHandle) {
  HMODULE kernel = GetModuleHandleW(u"kernel32");
  ASSERT_NE(nullptr, kernel);
  for (LPCWSTR name : {u"KERNEL32.DLL", u"kernel32.dll", u"Kernel32.", u"advapi32.dll", u"USER32", u"shell32.dll"})
    EXPECT_EQ(kernel, GetModuleHandleW(name)) << standin::ToUtf8(name);
  EXPECT_NE(std::u16string::npos, ModulePath(kernel).find(u"libcvwin32.so"));
  // The executable, by null and by its file.
  EXPECT_EQ(ModulePath(nullptr), ModulePath(GetModuleHandleW(nullptr)));
  // A loaded shared object answers to its platform-style name.
  EXPECT_EQ(kernel, GetModuleHandleW(u"cvwin32.dll"));

  SetLastError(0xdeadbeef);
  EXPECT_EQ(nullptr, GetModuleHandleW(u"nosuchmodule.dll"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), GetLastError());
  standin::ArmFault("GetModuleHandleW", ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(nullptr, GetModuleHandleW(u"kernel32"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY), GetLastError());
}

TEST_F(KernelModuleTest, ProcAddressesAreTheModulesOwnExports) {
  HMODULE kernel = GetModuleHandleW(u"kernel32.dll");
  // Through void(*)(), as -Wcast-function-type asks of any FARPROC cast.
  auto getTick = reinterpret_cast<DWORD(WINAPI*)()>(
      reinterpret_cast<void (*)()>(GetProcAddress(kernel, "GetCurrentProcessId")));
  ASSERT_NE(nullptr, getTick);
  EXPECT_EQ(GetCurrentProcessId(), getTick());
  for (const char* missing : {"NoSuchFunction", "printf", "getpid"}) {
    SetLastError(0xdeadbeef);
    EXPECT_EQ(nullptr, GetProcAddress(kernel, missing)) << missing;
    EXPECT_EQ(static_cast<DWORD>(ERROR_PROC_NOT_FOUND), GetLastError()) << missing;
  }
  EXPECT_EQ(nullptr, GetProcAddress(kernel, reinterpret_cast<LPCSTR>(1)));  // ordinals
  SetLastError(0xdeadbeef);
  int local = 0;
  EXPECT_EQ(nullptr, GetProcAddress(reinterpret_cast<HMODULE>(&local), "GetCurrentProcessId"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), GetLastError());
}

TEST_F(KernelModuleTest, IsWow64ProcessFollowsTheMachineSetting) {
  typedef BOOL(WINAPI * IsWow64Fn)(HANDLE, PBOOL);
  struct {
    const char* setting;  // null: never set
    bool exported;
    BOOL answer;
  } cases[] = {{nullptr, true, FALSE}, {"1", true, TRUE}, {"0", true, FALSE}, {"absent", false, FALSE}};
  HMODULE kernel = GetModuleHandleW(u"kernel32");
  for (const auto& c : cases) {
    if (c.setting) standin::SetMachineSetting("wow64", c.setting);
    SetLastError(0xdeadbeef);
    auto isWow64 = reinterpret_cast<IsWow64Fn>(reinterpret_cast<void (*)()>(GetProcAddress(kernel, "IsWow64Process")));
    ASSERT_EQ(c.exported, isWow64 != nullptr) << (c.setting ? c.setting : "unset");
    if (!isWow64) {
      EXPECT_EQ(static_cast<DWORD>(ERROR_PROC_NOT_FOUND), GetLastError());
      continue;
    }
    BOOL wow64 = 7;
    EXPECT_TRUE(isWow64(GetCurrentProcess(), &wow64));
    EXPECT_EQ(c.answer, wow64) << (c.setting ? c.setting : "unset");
  }
  standin::SetMachineSetting("wow64", "1");
  BOOL wow64 = 7;
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(IsWow64Process(reinterpret_cast<HANDLE>(0x1234), &wow64));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
  standin::ArmFault("IsWow64Process", ERROR_ACCESS_DENIED);
  EXPECT_FALSE(IsWow64Process(GetCurrentProcess(), &wow64));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
  EXPECT_EQ(7, wow64);
  standin::ArmFault("GetProcAddress", ERROR_PROC_NOT_FOUND);
  EXPECT_EQ(nullptr, GetProcAddress(kernel, "IsWow64Process"));
}

// ---- windows ----

class KernelWindowTest : public FreshRoot {
 protected:
  void TearDown() override {
    UnregisterClassW(kClass, nullptr);
    FreshRoot::TearDown();
  }
  static constexpr LPCWSTR kClass = u"KernelTestWindow";
};

enum : UINT { kDouble = WM_USER, kCancel, kDestroySelf };

// Records every message in the vector passed as the creation parameter.
LRESULT CALLBACK RecordingProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NCCREATE) {
    auto* cs = reinterpret_cast<CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
  }
  if (auto* log = reinterpret_cast<std::vector<UINT>*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA))) log->push_back(msg);
  switch (msg) {
    case WM_CREATE: return reinterpret_cast<CREATESTRUCTW*>(lParam)->style == 1 ? -1 : 0;
    case kDouble: return lParam * 2;
    case kCancel: *reinterpret_cast<LONG*>(wParam) = 1; return 0;
    case kDestroySelf: DestroyWindow(hwnd); return 77;
    default: return DefWindowProcW(hwnd, msg, wParam, lParam);
  }
}

ATOM Register(LPCWSTR name) {
  WNDCLASSW cls{};
  cls.lpfnWndProc = RecordingProc;
  cls.lpszClassName = name;
  return RegisterClassW(&cls);
}

HWND Create(std::vector<UINT>* log, HWND parent = HWND_MESSAGE, DWORD style = 0) {
  return CreateWindowExW(0, u"KernelTestWindow", u"", style, 0, 0, 0, 0, parent, nullptr, nullptr, log);
}

TEST_F(KernelWindowTest, ClassesAreRegisteredOnce) {
  ATOM atom = Register(kClass);
  ASSERT_NE(0, atom);
  SetLastError(0xdeadbeef);
  EXPECT_EQ(0, Register(u"kerneltestWINDOW"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_CLASS_ALREADY_EXISTS), GetLastError());
  SetLastError(0xdeadbeef);
  EXPECT_EQ(nullptr, CreateWindowExW(0, u"NoSuchClass", u"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_CANNOT_FIND_WND_CLASS), GetLastError());
  HWND w = CreateWindowExW(0, MAKEINTATOM(atom), u"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  ASSERT_NE(nullptr, w);
  EXPECT_FALSE(UnregisterClassW(kClass, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_CLASS_HAS_WINDOWS), GetLastError());
  EXPECT_TRUE(DestroyWindow(w));
  EXPECT_TRUE(UnregisterClassW(kClass, nullptr));
  EXPECT_FALSE(UnregisterClassW(kClass, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_CLASS_DOES_NOT_EXIST), GetLastError());
  standin::ArmFault("RegisterClassW", ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(0, Register(kClass));
  EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY), GetLastError());
}

TEST_F(KernelWindowTest, LifecycleAndSynchronousMessages) {
  ASSERT_NE(0, Register(kClass));
  std::vector<UINT> log;
  HWND w = Create(&log);
  ASSERT_TRUE(IsWindow(w));
  EXPECT_EQ((std::vector<UINT>{WM_NCCREATE, WM_CREATE}), log);
  EXPECT_EQ(42, SendMessageW(w, kDouble, 0, 21));
  // A window procedure answers through memory the sender owns.
  LONG cancel = 0;
  SendMessageW(w, kCancel, reinterpret_cast<WPARAM>(&cancel), 0);
  EXPECT_EQ(1, cancel);

  standin::ArmFault("SendMessageW", ERROR_ACCESS_DENIED);
  size_t before = log.size();
  EXPECT_EQ(0, SendMessageW(w, kDouble, 0, 21));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
  EXPECT_EQ(before, log.size()) << "a failed send reaches no procedure";
  standin::ClearAllFaults();

  EXPECT_TRUE(DestroyWindow(w));
  EXPECT_EQ((std::vector<UINT>{WM_DESTROY, WM_NCDESTROY}), std::vector<UINT>(log.end() - 2, log.end()));
  EXPECT_FALSE(IsWindow(w));
  SetLastError(0xdeadbeef);
  EXPECT_EQ(0, SendMessageW(w, kDouble, 0, 21));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE), GetLastError());
  EXPECT_FALSE(DestroyWindow(w));
  EXPECT_EQ(0, GetWindowLongPtrW(w, GWLP_USERDATA));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE), GetLastError());
}

TEST_F(KernelWindowTest, ProcedureMayDestroyItsOwnWindowAndChildrenGoWithParents) {
  ASSERT_NE(0, Register(kClass));
  std::vector<UINT> log, childLog;
  HWND w = Create(&log);
  HWND child = Create(&childLog, w);
  ASSERT_NE(nullptr, child);
  EXPECT_EQ(77, SendMessageW(w, kDestroySelf, 0, 0));
  EXPECT_FALSE(IsWindow(w));
  EXPECT_FALSE(IsWindow(child));
  EXPECT_EQ(WM_NCDESTROY, childLog.back());
  // WM_CREATE answering -1 refuses the window.
  std::vector<UINT> refusedLog;
  EXPECT_EQ(nullptr, Create(&refusedLog, HWND_MESSAGE, 1));
  EXPECT_EQ(WM_NCDESTROY, refusedLog.back());
}

TEST_F(KernelWindowTest, LongValues) {
  WNDCLASSW cls{};
  cls.lpfnWndProc = DefWindowProcW;
  cls.lpszClassName = kClass;
  cls.cbWndExtra = 12;
  ASSERT_NE(0, RegisterClassW(&cls));
  HWND w = CreateWindowExW(0, kClass, u"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  EXPECT_EQ(0, SetWindowLongPtrW(w, GWLP_USERDATA, 5));
  EXPECT_EQ(5, SetWindowLongPtrW(w, GWLP_USERDATA, 6));
  EXPECT_EQ(6, GetWindowLongPtrW(w, GWLP_USERDATA));
  EXPECT_EQ(0, SetWindowLongPtrW(w, 4, -1));  // unaligned extra bytes
  EXPECT_EQ(-1, GetWindowLongPtrW(w, 4));
  SetLastError(0xdeadbeef);
  EXPECT_EQ(0, GetWindowLongPtrW(w, 5));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_INDEX), GetLastError());
  SetWindowLongPtrW(w, GWLP_USERDATA, 0);  // RecordingProc would take it for its log
  EXPECT_EQ(reinterpret_cast<LONG_PTR>(&DefWindowProcW),
            SetWindowLongPtrW(w, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RecordingProc)));
  EXPECT_EQ(42, SendMessageW(w, kDouble, 0, 21));
  EXPECT_TRUE(DestroyWindow(w));
}

TEST_F(KernelWindowTest, ThreadsShareTheTable) {
  ASSERT_NE(0, Register(kClass));
  std::atomic<int> answered{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 50; ++i) {
        HWND w = Create(nullptr);
        answered += SendMessageW(w, kDouble, 0, 1) == 2;
        DestroyWindow(w);
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(200, answered.load());
}

}  // namespace
