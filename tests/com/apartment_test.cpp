// Apartments: per-thread counting, models, threads outside any apartment, and
// task memory.
#include <thread>

#include <standin/fault.h>

#include "com_support.h"
#include "modules/comtestserver.h"

using namespace comtest;

namespace {

class ComApartment : public testing_support::FreshRoot {
 protected:
  void SetUp() override {
    FreshRoot::SetUp();
    RegisterServer(CLSID_TestServer, BuiltModule("comtestserver"));
  }
  // What creating the test object answers on the calling thread.
  static HRESULT Create() {
    CInterfacePtr<ITestValue> object;
    return CoCreateInstance(CLSID_TestServer, nullptr, CLSCTX_INPROC_SERVER, IID_ITestValue, object.PutAs<void>());
  }
  static HRESULT CreateOnNewThread() {
    HRESULT hr = E_UNEXPECTED;
    std::thread([&] { hr = Create(); }).join();
    return hr;
  }
};

TEST_F(ComApartment, EntriesAreCountedPerThreadAndModelsDoNotMix) {
  EXPECT_EQ(CO_E_NOTINITIALIZED, Create());
  EXPECT_EQ(S_OK, CoInitialize(nullptr));
  EXPECT_EQ(S_FALSE, CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE));
  // The other model changes nothing, not even the count.
  EXPECT_EQ(RPC_E_CHANGED_MODE, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
  EXPECT_EQ(S_OK, Create());
  CoUninitialize();
  EXPECT_EQ(S_OK, Create()) << "one entry is left";
  CoUninitialize();
  EXPECT_EQ(CO_E_NOTINITIALIZED, Create());
  CoUninitialize();  // outside any apartment: nothing happens
  // Having left, the thread may choose the other model.
  EXPECT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
  EXPECT_EQ(RPC_E_CHANGED_MODE, CoInitialize(nullptr));
  CoUninitialize();
  EXPECT_EQ(CO_E_NOTINITIALIZED, Create());
}

TEST_F(ComApartment, BadArgumentsAreRefused) {
  int reserved = 0;
  EXPECT_EQ(E_INVALIDARG, CoInitialize(&reserved));
  EXPECT_EQ(E_INVALIDARG, CoInitializeEx(nullptr, 0x100));
  EXPECT_EQ(CO_E_NOTINITIALIZED, Create()) << "a refused call enters no apartment";
  EXPECT_EQ(E_POINTER, CoCreateInstance(CLSID_TestServer, nullptr, CLSCTX_INPROC_SERVER, IID_ITestValue, nullptr));
}

TEST_F(ComApartment, ThreadsWithoutAnApartmentUseTheProcesssMultithreadedOne) {
  {
    Apartment sta(COINIT_APARTMENTTHREADED);
    ASSERT_EQ(S_OK, sta.hr());
    EXPECT_EQ(S_OK, Create());
    // A single-threaded apartment is its thread's alone.
    EXPECT_EQ(CO_E_NOTINITIALIZED, CreateOnNewThread());
  }
  HRESULT inOwnApartment = E_UNEXPECTED;
  std::thread([&] {
    Apartment own;
    inOwnApartment = Create();
  }).join();
  EXPECT_EQ(S_OK, inOwnApartment);

  // While some thread keeps the multithreaded apartment, every thread of the
  // process may use it.
  std::mutex m;
  std::condition_variable cv;
  bool entered = false, done = false;
  std::thread holder([&] {
    Apartment mta(COINIT_MULTITHREADED);
    std::unique_lock<std::mutex> lock(m);
    entered = true;
    cv.notify_all();
    cv.wait(lock, [&] { return done; });
  });
  {
    std::unique_lock<std::mutex> lock(m);
    cv.wait(lock, [&] { return entered; });
  }
  EXPECT_EQ(S_OK, Create());
  EXPECT_EQ(S_OK, CreateOnNewThread());
  {
    std::lock_guard<std::mutex> lock(m);
    done = true;
  }
  cv.notify_all();
  holder.join();
  EXPECT_EQ(CO_E_NOTINITIALIZED, Create()) << "the apartment left with its last thread";
}

TEST_F(ComApartment, AThreadThatEndsInsideItsApartmentLeavesIt) {
  std::thread([] { EXPECT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED)); }).join();
  EXPECT_EQ(CO_E_NOTINITIALIZED, Create());
}

TEST_F(ComApartment, FaultsAreReturnedAndEnterNothing) {
  standin::ArmFault("CoInitializeEx", E_OUTOFMEMORY, 1);
  EXPECT_EQ(E_OUTOFMEMORY, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
  EXPECT_EQ(CO_E_NOTINITIALIZED, Create());
  standin::ArmFault("CoInitialize", E_UNEXPECTED, 1);
  EXPECT_EQ(E_UNEXPECTED, CoInitialize(nullptr));
  Apartment sta;
  ASSERT_EQ(S_OK, sta.hr());
  CoUninitialize();  // counted by the seam, but it has nothing to fail
  EXPECT_EQ(1u, standin::FaultCallCount("CoInitialize"));
}

TEST_F(ComApartment, TaskMemoryNeedsNoApartment) {
  auto* block = static_cast<char*>(CoTaskMemAlloc(16));
  ASSERT_NE(nullptr, block);
  std::memcpy(block, "0123456789abcdef", 16);
  block = static_cast<char*>(CoTaskMemRealloc(block, 64 * 1024));
  ASSERT_NE(nullptr, block);
  EXPECT_EQ(0, std::memcmp(block, "0123456789abcdef", 16));
  EXPECT_EQ(nullptr, CoTaskMemRealloc(block, 0)) << "a reallocation to nothing frees the block";
  void* empty = CoTaskMemAlloc(0);
  EXPECT_NE(nullptr, empty);
  CoTaskMemFree(empty);
  CoTaskMemFree(nullptr);

  standin::ArmFault("CoTaskMemAlloc", E_OUTOFMEMORY, 1);
  EXPECT_EQ(nullptr, CoTaskMemAlloc(8));
  void* kept = CoTaskMemAlloc(8);
  ASSERT_NE(nullptr, kept);
  standin::ArmFault("CoTaskMemRealloc", E_OUTOFMEMORY, 1);
  EXPECT_EQ(nullptr, CoTaskMemRealloc(kept, 32)) << "a failed reallocation keeps the block";
  CoTaskMemFree(kept);
}

}  // namespace
