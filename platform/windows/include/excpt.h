// Structured exceptions. This compiler has no __try/__except on Windows
// either, so code that must contain a fault (an access violation, a raised
// exception) runs the guarded part through CallGuarded, as on the stand-in.
// The C library's own excpt.h comes first. As with the platform's handlers,
// the guarded code is left at the fault: its scoped owners are not unwound.
#pragma once
#pragma GCC system_header  // for #include_next

#include_next <excpt.h>

#include <windef.h>

typedef LONG (*PGUARDED_ROUTINE)(PVOID context);

#ifdef __cplusplus
extern "C" {
#endif
// Runs routine(context). Returns TRUE and its result when it returned; FALSE and
// the exception code when a structured exception (a raised one, or a memory,
// arithmetic or instruction fault) that nothing inside handled ended it. A C++
// exception passes through.
BOOL WINAPI CallGuarded(PGUARDED_ROUTINE routine, PVOID context, LONG* result, DWORD* exceptionCode);
#ifdef __cplusplus
}

// The platform's headers may include this one inside extern "C".
extern "C++" {
#include <type_traits>

// Convenience over CallGuarded for a callable returning LONG.
template <class F>
BOOL GuardStructured(F&& body, LONG* result, DWORD* exceptionCode) {
  return CallGuarded([](PVOID ctx) -> LONG { return (*static_cast<std::remove_reference_t<F>*>(ctx))(); },
                     const_cast<void*>(static_cast<const void*>(&body)), result, exceptionCode);
}
}
#endif
