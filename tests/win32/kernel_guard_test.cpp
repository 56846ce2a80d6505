// The structured-exception guard: raised exceptions, real faults, nesting,
// threads, and what happens with no guard at all.
#include <signal.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <utility>
#include <vector>

#include "common/fresh_root.h"

using namespace testing_support;

namespace {

class KernelGuardTest : public FreshRoot {};

int* volatile g_nowhere = nullptr;
volatile int g_zero = 0;
volatile int g_seven = 7;  // a constant numerator lets the compiler avoid the division

__attribute__((no_sanitize("null"))) LONG ReadNull() { return *g_nowhere; }
__attribute__((no_sanitize("integer-divide-by-zero"))) LONG DivideByZero() { return g_seven / g_zero; }
LONG Trap() { __builtin_trap(); }

// Under AddressSanitizer a guard only sees memory and arithmetic faults when
// the sanitizer lets programs install their own handlers.
bool SanitizerKeepsFaults() {
#if defined(__SANITIZE_ADDRESS__)
  const char* options = std::getenv("ASAN_OPTIONS");
  return !options || !std::strstr(options, "allow_user_segv_handler=1");
#else
  return false;
#endif
}

struct Outcome {
  BOOL returned;
  LONG result;
  DWORD code;
};

template <class F>
Outcome Guard(F&& body) {
  Outcome o{FALSE, -1, 0xdeadbeef};
  o.returned = GuardStructured(std::forward<F>(body), &o.result, &o.code);
  return o;
}

TEST_F(KernelGuardTest, NormalReturnLeavesTheCodeAlone) {
  Outcome o = Guard([] { return 5; });
  EXPECT_TRUE(o.returned);
  EXPECT_EQ(5, o.result);
  EXPECT_EQ(0xdeadbeefu, o.code);
}

TEST_F(KernelGuardTest, RaisedExceptionEndsTheRoutine) {
  bool after = false;
  Outcome o = Guard([&] {
    RaiseException(0xE0434352, EXCEPTION_NONCONTINUABLE, 0, nullptr);
    after = true;
    return 1;
  });
  EXPECT_FALSE(o.returned);
  EXPECT_EQ(0xE0434352u, o.code);
  EXPECT_EQ(-1, o.result);
  EXPECT_FALSE(after);
  // Bit 28 is the system's.
  EXPECT_EQ(0xE0000001u, Guard([] {
              RaiseException(0xF0000001, 0, 0, nullptr);
              return 0;
            }).code);
}

TEST_F(KernelGuardTest, HardwareFaults) {
  if (SanitizerKeepsFaults()) GTEST_SKIP() << "run with ASAN_OPTIONS=allow_user_segv_handler=1";
  EXPECT_EQ(EXCEPTION_ACCESS_VIOLATION, Guard([] { return ReadNull(); }).code);
  EXPECT_EQ(EXCEPTION_INT_DIVIDE_BY_ZERO, Guard([] { return DivideByZero(); }).code);
  EXPECT_EQ(EXCEPTION_ILLEGAL_INSTRUCTION, Guard([] { return Trap(); }).code);
  // And again on a thread that never had a guard (its own signal stack).
  std::thread([] { EXPECT_EQ(EXCEPTION_ACCESS_VIOLATION, Guard([] { return ReadNull(); }).code); }).join();
}

TEST_F(KernelGuardTest, NestedGuardsCatchInnermostFirst) {
  Outcome inner{};
  Outcome outer = Guard([&] {
    inner = Guard([] {
      RaiseException(1, 0, 0, nullptr);
      return 0;
    });
    return 7;
  });
  EXPECT_FALSE(inner.returned);
  EXPECT_EQ(1u, inner.code);
  EXPECT_TRUE(outer.returned);
  EXPECT_EQ(7, outer.result);

  // After the inner guard has returned, the outer one is the innermost again.
  outer = Guard([&] {
    inner = Guard([] { return 3; });
    RaiseException(2, 0, 0, nullptr);
    return 0;
  });
  EXPECT_TRUE(inner.returned);
  EXPECT_FALSE(outer.returned);
  EXPECT_EQ(2u, outer.code);
}

TEST_F(KernelGuardTest, GuardsOnManyThreadsAtOnce) {
  const bool hardware = !SanitizerKeepsFaults();
  std::atomic<int> right{0};
  std::vector<std::thread> threads;
  for (DWORD t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (DWORD i = 0; i < 100; ++i) {
        DWORD code = 0x100 + t * 1000 + i;
        right += Guard([code] {
                   RaiseException(code, 0, 0, nullptr);
                   return 0;
                 }).code == code;
        if (hardware && i % 10 == 0) right += Guard([] { return ReadNull(); }).code == EXCEPTION_ACCESS_VIOLATION ? 0 : -1000;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(400, right.load());
}

TEST_F(KernelGuardTest, RaiseWithoutAGuardAbortsWithTheCode) {
  ChildResult r = RunChild({BuiltProgram("kernel_host"), "raise", "0xE0001234"});
  EXPECT_EQ(SIGABRT, r.signal) << r.output;
  EXPECT_NE(std::string::npos, r.output.find("0xE0001234")) << r.output;
}

// A guard on one thread must not swallow a fault on another.
TEST_F(KernelGuardTest, FaultOutsideAGuardStillEndsTheProcess) {
  ChildResult r = RunChild({BuiltProgram("kernel_host"), "fault-outside-guard"});
  EXPECT_TRUE(r.signal != 0 || r.exitCode != 0) << r.output;
  EXPECT_EQ(std::string::npos, r.output.find("survived")) << r.output;
}

}  // namespace
