// CallGuarded and GuardStructured as this compiler's stand-in for
// __try/__except: a fault or a raised exception inside is reported with its
// code, one that an inner guard handled is not seen outside, a C++ exception
// passes through, and the guard works again after each of these.
#include <excpt.h>
#include <windows.h>

#include <stdexcept>

#include "wincheck.h"

namespace wincheck {
namespace {

LONG WriteThroughNull() {
  volatile int* volatile p = nullptr;
  *p = 1;
  return 0;
}

LONG Raise(DWORD code) {
  RaiseException(code, 0, 0, nullptr);
  return 0;
}

}  // namespace

void CheckGuard() {
  LONG result = -1;
  DWORD code = 0;
  BOOL returned = GuardStructured([]() -> LONG { return 42; }, &result, &code);
  WINCHECK(returned == TRUE && result == 42 && code == 0, "a routine that returns gives its result");

  result = -1;
  returned = GuardStructured([]() -> LONG { return WriteThroughNull(); }, &result, &code);
  WINCHECK(returned == FALSE && code == EXCEPTION_ACCESS_VIOLATION, "an access violation is reported with its code");
  WINCHECK(result == -1, "a faulted routine leaves the result as it was");

  returned = GuardStructured([]() -> LONG { return Raise(0xE0000001); }, &result, &code);
  WINCHECK(returned == FALSE && code == 0xE0000001, "a raised exception is reported with its code");

  code = 0;
  returned = GuardStructured(
      []() -> LONG {
        LONG inner = 0;
        DWORD innerCode = 0;
        BOOL ok = GuardStructured([]() -> LONG { return Raise(0xE0000002); }, &inner, &innerCode);
        return (!ok && innerCode == 0xE0000002) ? 7 : 0;
      },
      &result, &code);
  WINCHECK(returned == TRUE && result == 7 && code == 0, "an inner guard handles its own exception");

  bool passed = false;
  try {
    GuardStructured([]() -> LONG { throw std::runtime_error("through"); }, &result, &code);
  } catch (const std::runtime_error&) {
    passed = true;
  }
  WINCHECK(passed, "a C++ exception passes through the guard");

  // After a C++ exception took a guard down, a fault is still caught by the
  // guard that is active, not by the one that is gone.
  returned = GuardStructured([]() -> LONG { return Raise(0xE0000003); }, &result, &code);
  WINCHECK(returned == FALSE && code == 0xE0000003, "the guard works after a C++ exception passed");

  code = 0;
  WINCHECK(CallGuarded(nullptr, nullptr, &result, &code) == FALSE && code == EXCEPTION_ACCESS_VIOLATION,
           "a null routine is an access violation");
}

}  // namespace wincheck
