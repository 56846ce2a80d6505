/* CallGuarded on Windows. The call gets a frame-based exception handler of its
 * own: on x86_64 through the function's unwind data, on i686 as a record on
 * the thread's handler chain. The system asks it only about exceptions that no
 * inner frame handled; it then jumps back into CallGuarded, leaving the faulted
 * frames as they are (no unwinding), and CallGuarded reports the code.
 * A C++ exception passes through, and the guard is taken down on its way:
 * on x86_64 the handler sees the unwind, on i686 (where C++ exceptions do not
 * travel the handler chain) a cleanup runs, as this unit is built with
 * -fexceptions there. Written in C: on x86_64 a C++ function's unwind data
 * carries the C++ handler, and there can be only one. */
#include <windows.h>

#include <excpt.h>
#ifdef __i386__
#include <intrin.h>
#endif

/* What GCC raises for a C++ throw on x86_64; such an exception is left to the
 * C++ handlers. */
#define CXX_EXCEPTION_CODE 0x20474343u

typedef EXCEPTION_DISPOSITION(__cdecl* FrameHandler)(PEXCEPTION_RECORD, void*, PCONTEXT, void*);

typedef struct Registration {
  struct Registration* prev;
  FrameHandler handler;
} Registration;

typedef struct GuardFrame {
  Registration registration; /* i686: the record on the handler chain; x86_64: prev only */
  void* jump[5];             /* __builtin_setjmp */
  DWORD code;
  struct GuardFrame* outer;
} GuardFrame;

static _Thread_local GuardFrame* t_guard;

/* Takes the frame down: the thread's innermost guard is the next outer one
 * again, and on i686 the chain is what it was before the call. Repeating it
 * changes nothing. */
static void Leave(GuardFrame* frame) {
  t_guard = frame->outer;
#ifdef __i386__
  __writefsdword(0, (DWORD)(ULONG_PTR)frame->registration.prev);
#else
  /* The thread block's handler list is as it was at the call: a dispatcher
   * may keep records of its own there while it runs a handler, and the jump
   * out of GuardHandler leaves its frames without returning. */
  __asm__ __volatile__("movq %0, %%gs:0" : : "r"(frame->registration.prev) : "memory");
#endif
}

__attribute__((used)) static EXCEPTION_DISPOSITION __cdecl GuardHandler(PEXCEPTION_RECORD record, void* establisher,
                                                                       PCONTEXT context, void* dispatcher) {
  (void)establisher, (void)context, (void)dispatcher;
  GuardFrame* frame = t_guard;
  if (!frame) return ExceptionContinueSearch;
  if (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) {
    /* x86_64: a C++ exception leaves CallGuarded. */
    Leave(frame);
    return ExceptionContinueSearch;
  }
  if (record->ExceptionCode == CXX_EXCEPTION_CODE) return ExceptionContinueSearch;
  frame->code = record->ExceptionCode;
  /* The records of the abandoned frames, and this one, leave the chain. */
  Leave(frame);
  __builtin_longjmp(frame->jump, 1);
}

#ifdef __i386__
static void LeaveAtScopeEnd(GuardFrame** frame) { Leave(*frame); }
#endif

BOOL WINAPI CallGuarded(PGUARDED_ROUTINE routine, PVOID context, LONG* result, DWORD* exceptionCode) {
  if (!routine) {
    /* Calling it would be an access violation. */
    if (exceptionCode) *exceptionCode = EXCEPTION_ACCESS_VIOLATION;
    return FALSE;
  }
  GuardFrame frame;
  frame.code = 0;
  frame.outer = t_guard;
#if defined(__x86_64__)
  __asm__ __volatile__(".seh_handler GuardHandler, @except, @unwind");
  __asm__ __volatile__("movq %%gs:0, %0" : "=r"(frame.registration.prev));
#elif defined(__i386__)
  frame.registration.prev = (Registration*)(ULONG_PTR)__readfsdword(0);
  frame.registration.handler = GuardHandler;
  GuardFrame* scope __attribute__((cleanup(LeaveAtScopeEnd))) = &frame;
  (void)scope;
#else
#error "CallGuarded needs a frame-based handler for this processor"
#endif
  if (__builtin_setjmp(frame.jump) == 0) {
    t_guard = &frame;
#ifdef __i386__
    __writefsdword(0, (DWORD)(ULONG_PTR)&frame.registration);
#endif
    LONG r = routine(context);
    Leave(&frame);
    if (result) *result = r;
    return TRUE;
  }
  if (exceptionCode) *exceptionCode = frame.code;
  return FALSE;
}
