// Structured exceptions. This compiler has no __try/__except, so code that must
// contain a fault (an access violation, a raised exception) runs the guarded
// part through CallGuarded. As with the platform's handlers, the guarded code is
// left at the fault: its scoped owners are not unwound.
#pragma once

#include <type_traits>

#include "windef.h"

typedef LONG (*PGUARDED_ROUTINE)(PVOID context);

// Runs routine(context). Returns TRUE and its result when it returned; FALSE and
// the exception code when a structured exception (a raised one, or a memory,
// arithmetic or instruction fault) ended it.
WINBASEAPI BOOL WINAPI CallGuarded(PGUARDED_ROUTINE routine, PVOID context, LONG* result, DWORD* exceptionCode);

// Convenience over CallGuarded for a callable returning LONG.
template <class F>
BOOL GuardStructured(F&& body, LONG* result, DWORD* exceptionCode) {
  return CallGuarded([](PVOID ctx) -> LONG { return (*static_cast<std::remove_reference_t<F>*>(ctx))(); },
                     const_cast<void*>(static_cast<const void*>(&body)), result, exceptionCode);
}
