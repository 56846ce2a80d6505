// The progress objects: limits and flags after creation, the
// callback and window kinds' cancellation, the vanished window, the silent
// kind, QueryInterface and reference counting.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include <mapix.h>
#include <standin/fault.h>
#include <windows.h>

#include "MAPIPack/MAPIProgress.h"
#include "MAPIPack/MAPIProgressImpl.h"

namespace {

ULONG Flags(IMAPIProgress* p) {
  ULONG v = 0xDEAD;
  EXPECT_EQ(p->GetFlags(&v), S_OK);
  return v;
}
ULONG Max(IMAPIProgress* p) {
  ULONG v = 0xDEAD;
  EXPECT_EQ(p->GetMax(&v), S_OK);
  return v;
}
ULONG Min(IMAPIProgress* p) {
  ULONG v = 0xDEAD;
  EXPECT_EQ(p->GetMin(&v), S_OK);
  return v;
}

// ---- the callback kind ----

struct CallbackLog {
  std::vector<ULONG> current, max;
  std::vector<void*> context;
  unsigned cancelAt = 0;  // the call (1-based) that answers non-zero; 0 never
};

int RecordingCallback(ULONG current, ULONG max, void* context) {
  auto* log = static_cast<CallbackLog*>(context);
  log->current.push_back(current);
  log->max.push_back(max);
  log->context.push_back(context);
  return log->cancelAt && log->current.size() == log->cancelAt ? 1 : 0;
}

TEST(MapiProgress, LimitsAndFlagsAfterCreation) {
  IMAPIProgress* method = nullptr;
  IMAPIProgress* dumb = nullptr;
  IMAPIProgress* wnd = nullptr;
  ASSERT_EQ(CreateProcessMethod(RecordingCallback, nullptr, &method), S_OK);
  ASSERT_EQ(CreateProcessDumb(&dumb), S_OK);
  ASSERT_EQ(CreateProgressWnd(nullptr, WM_APP, nullptr, &wnd), S_OK);
  for (IMAPIProgress* p : {method, dumb, wnd}) {
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(Max(p), 1000u);
    EXPECT_EQ(Min(p), 0u);
  }
  EXPECT_EQ(Flags(wnd), 0u);
  EXPECT_EQ(Flags(method), 1u);
  EXPECT_EQ(Flags(dumb), 1u);
  EXPECT_TRUE(IsProgressCancelled(wnd));
  EXPECT_FALSE(IsProgressCancelled(method));
  for (IMAPIProgress* p : {method, dumb, wnd}) EXPECT_EQ(p->Release(), 0u);
}

TEST(MapiProgress, CallbackCancelsOnTheTenthStepAndSetLimitsRestarts) {
  CallbackLog log;
  log.cancelAt = 10;
  IMAPIProgress* p = nullptr;
  ASSERT_EQ(CreateProcessMethod(RecordingCallback, &log, &p), S_OK);
  for (int i = 1; i <= 9; ++i) EXPECT_EQ(p->Progress(77, 5, 6), S_OK) << i;  // the arguments are ignored
  EXPECT_EQ(Flags(p), 1u);
  EXPECT_EQ(p->Progress(1, 0, 0), E_FAIL);
  EXPECT_EQ(Flags(p), 0u);
  EXPECT_TRUE(IsProgressCancelled(p));
  ASSERT_EQ(log.current.size(), 10u);
  for (ULONG i = 0; i < 10; ++i) {
    EXPECT_EQ(log.current[i], i + 1);
    EXPECT_EQ(log.max[i], 1000u);
    EXPECT_EQ(log.context[i], &log);
  }

  // New limits: the flags given come back and the count starts again.
  ULONG min = 3, max = 40, flags = MAPI_TOP_LEVEL;
  EXPECT_EQ(p->SetLimits(&min, &max, &flags), S_OK);
  EXPECT_EQ(Flags(p), 1u);
  EXPECT_EQ(Min(p), 3u);
  EXPECT_EQ(Max(p), 40u);
  EXPECT_EQ(p->Progress(1, 0, 0), S_OK);
  EXPECT_EQ(log.current.back(), 1u);
  EXPECT_EQ(log.max.back(), 40u);
  EXPECT_EQ(p->Release(), 0u);
}

TEST(MapiProgress, CallbackKindWithoutFunctionNeverCancels) {
  IMAPIProgress* p = nullptr;
  ASSERT_EQ(CreateProcessMethod(nullptr, nullptr, &p), S_OK);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(p->Progress(1, 0, 0), S_OK);
  EXPECT_EQ(Flags(p), 1u);
  p->Release();
}

TEST(MapiProgress, SilentKindAlwaysSucceeds) {
  IMAPIProgress* p = nullptr;
  ASSERT_EQ(CreateProcessDumb(&p), S_OK);
  ULONG min = 0, max = 2, flags = 0;
  ASSERT_EQ(p->SetLimits(&min, &max, &flags), S_OK);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(p->Progress(1, 0, 0), S_OK);
  EXPECT_EQ(Flags(p), 0u);
  p->Release();
}

// ---- the window kind ----

struct WindowLog {
  std::vector<DWORD> cancelWord, current, max, context;
  std::vector<LPARAM> lParam;
  ULONG cancelAt = 0;  // the step at which the window sets the cancel word
  DWORD lastErrorLeft = 0;  // the last error the procedure leaves behind
};
WindowLog* g_window = nullptr;

LRESULT CALLBACK SinkProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg != WM_APP + 7) return DefWindowProcW(hwnd, msg, wParam, lParam);
  auto* block = reinterpret_cast<DWORD*>(wParam);
  g_window->cancelWord.push_back(block[0]);
  g_window->current.push_back(block[1]);
  g_window->max.push_back(block[2]);
  g_window->context.push_back(block[3]);
  g_window->lParam.push_back(lParam);
  if (g_window->cancelAt && block[1] == g_window->cancelAt) block[0] = 1;
  // A call inside the procedure that failed leaves its error behind.
  if (g_window->lastErrorLeft) SetLastError(g_window->lastErrorLeft);
  return 0;
}

class MapiProgressWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    g_window = &log_;
    WNDCLASSW cls{};
    cls.lpfnWndProc = SinkProc;
    cls.lpszClassName = TEXT("CorvaneProgressSink");
    ASSERT_NE(RegisterClassW(&cls), 0);
    hwnd_ = CreateWindowExW(0, TEXT("CorvaneProgressSink"), TEXT("sink"), 0, 0, 0, 0, 0, nullptr, nullptr, nullptr,
                            nullptr);
    ASSERT_NE(hwnd_, nullptr);
  }
  void TearDown() override {
    standin::ClearAllFaults();
    if (hwnd_ && IsWindow(hwnd_)) DestroyWindow(hwnd_);
    UnregisterClassW(TEXT("CorvaneProgressSink"), nullptr);
    g_window = nullptr;
  }
  WindowLog log_;
  HWND hwnd_ = nullptr;
};

TEST_F(MapiProgressWindow, WindowThatSetsTheCancelWordCancels) {
  // A context pointer above 4 GiB: only its low half fits the block.
  void* context = reinterpret_cast<void*>(static_cast<uintptr_t>(0x1234567890ABCDEFull));
  IMAPIProgress* p = nullptr;
  ASSERT_EQ(CreateProgressWnd(hwnd_, WM_APP + 7, context, &p), S_OK);
  ULONG min = 0, max = 25, flags = MAPI_TOP_LEVEL;
  ASSERT_EQ(p->SetLimits(&min, &max, &flags), S_OK);
  log_.cancelAt = 3;
  EXPECT_EQ(p->Progress(1, 0, 0), S_OK);
  EXPECT_EQ(p->Progress(1, 0, 0), S_OK);
  EXPECT_EQ(Flags(p), 1u);
  EXPECT_EQ(p->Progress(1, 0, 0), E_FAIL);
  EXPECT_EQ(Flags(p), 0u);
  ASSERT_EQ(log_.current.size(), 3u);
  for (ULONG i = 0; i < 3; ++i) {
    EXPECT_EQ(log_.cancelWord[i], 0u);
    EXPECT_EQ(log_.current[i], i + 1);
    EXPECT_EQ(log_.max[i], 25u);
    EXPECT_EQ(log_.context[i], 0x90ABCDEFu);
    EXPECT_EQ(log_.lParam[i], reinterpret_cast<LPARAM>(context));
  }
  p->Release();
}

TEST_F(MapiProgressWindow, VanishedWindowFailsEveryStepAndKeepsTheFlags) {
  IMAPIProgress* p = nullptr;
  ASSERT_EQ(CreateProgressWnd(hwnd_, WM_APP + 7, nullptr, &p), S_OK);
  ULONG min = 0, max = 10, flags = MAPI_TOP_LEVEL;
  ASSERT_EQ(p->SetLimits(&min, &max, &flags), S_OK);
  EXPECT_EQ(p->Progress(1, 0, 0), S_OK);
  ASSERT_TRUE(DestroyWindow(hwnd_));
  EXPECT_EQ(p->Progress(1, 0, 0), E_FAIL);
  EXPECT_EQ(p->Progress(1, 0, 0), E_FAIL);
  EXPECT_EQ(Flags(p), 1u);
  EXPECT_EQ(log_.current.size(), 1u);
  p->Release();
}

TEST_F(MapiProgressWindow, UndeliveredMessageFailsTheStepAndKeepsTheFlags) {
  IMAPIProgress* p = nullptr;
  ASSERT_EQ(CreateProgressWnd(hwnd_, WM_APP + 7, nullptr, &p), S_OK);
  ULONG min = 0, max = 10, flags = MAPI_TOP_LEVEL;
  ASSERT_EQ(p->SetLimits(&min, &max, &flags), S_OK);
  standin::ArmFault("SendMessageW", ERROR_INVALID_WINDOW_HANDLE, 1);
  EXPECT_EQ(p->Progress(1, 0, 0), E_FAIL);
  EXPECT_EQ(Flags(p), 1u);
  EXPECT_EQ(p->Progress(1, 0, 0), S_OK);  // the next one is delivered
  ASSERT_EQ(log_.current.size(), 1u);
  EXPECT_EQ(log_.current[0], 2u);
  p->Release();
}

TEST_F(MapiProgressWindow, ProcedureLeavingALastErrorDoesNotCancel) {
  IMAPIProgress* p = nullptr;
  ASSERT_EQ(CreateProgressWnd(hwnd_, WM_APP + 7, nullptr, &p), S_OK);
  ULONG min = 0, max = 10, flags = MAPI_TOP_LEVEL;
  ASSERT_EQ(p->SetLimits(&min, &max, &flags), S_OK);
  log_.lastErrorLeft = ERROR_FILE_NOT_FOUND;
  for (int i = 0; i < 3; ++i) EXPECT_EQ(p->Progress(1, 0, 0), S_OK) << i;
  EXPECT_EQ(Flags(p), 1u);
  EXPECT_EQ(log_.current.size(), 3u);
  p->Release();
}

// ---- QueryInterface and reference counting ----

TEST(MapiProgress, QueryInterfaceAnswersOnlyTheProgressAndUnknownIdentifiers) {
  IMAPIProgress* p = nullptr;
  ASSERT_EQ(CreateProcessDumb(&p), S_OK);
  void* other = reinterpret_cast<void*>(1);
  EXPECT_EQ(p->QueryInterface(IID_IMessage, &other), E_NOINTERFACE);
  EXPECT_EQ(other, nullptr);
  void* unk = nullptr;
  EXPECT_EQ(p->QueryInterface(IID_IUnknown, &unk), S_OK);
  EXPECT_EQ(unk, static_cast<void*>(p));
  EXPECT_EQ(p->Release(), 1u);  // the reference the query added
  EXPECT_EQ(p->Release(), 0u);
}

// A reporting class that counts its destructions, to see Release delete it.
int g_destroyed = 0;
class CountingProgress final : public IMAPIProgressImpl<CountingProgress> {
 public:
  HRESULT OnProgress(ULONG, ULONG, void*) override { return S_OK; }
  ~CountingProgress() { ++g_destroyed; }
};

TEST(MapiProgress, ReferenceCountingDeletesAtZero) {
  g_destroyed = 0;
  auto* object = new CountingProgress();  // created with a count of 0
  IMAPIProgress* p = nullptr;
  ASSERT_EQ(object->QueryInterface(IID_IMAPIProgress, reinterpret_cast<void**>(&p)), S_OK);
  EXPECT_EQ(p, static_cast<IMAPIProgress*>(object));
  EXPECT_EQ(p->AddRef(), 2u);
  EXPECT_EQ(p->Release(), 1u);
  EXPECT_EQ(g_destroyed, 0);
  EXPECT_EQ(p->Release(), 0u);
  EXPECT_EQ(g_destroyed, 1);
}

}  // namespace
