// Structured exceptions. Each thread keeps a chain of guard frames; a raised
// exception, or a memory, arithmetic or instruction fault while a frame is
// active, jumps back to the innermost frame with the platform's exception code.
//
// The fault handlers are installed only while some thread is inside a guard,
// and run on an alternate signal stack so that even an exhausted stack can be
// reported. A fault on a thread without a guard goes to whatever handler was
// there before (the default action, or a sanitizer's report).
#include <signal.h>
#include <sys/mman.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <setjmp.h>

#include "internal.h"

namespace {

struct GuardFrame {
  sigjmp_buf jump;
  GuardFrame* outer = nullptr;
  volatile DWORD code = 0;  // written by the handler, read after the jump
};

// Read in the signal handler: initial-exec, so no allocation happens there.
__attribute__((tls_model("initial-exec"))) thread_local GuardFrame* t_guard = nullptr;

const int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL};
constexpr int kSignalCount = sizeof kFaultSignals / sizeof kFaultSignals[0];

struct Handlers {
  std::mutex lock;
  int active = 0;  // guards in progress on all threads
  struct sigaction previous[kSignalCount];
};

Handlers& Installed() {
  static Handlers* handlers = new Handlers;
  return *handlers;
}

DWORD ExceptionCode(int sig, const siginfo_t* info) {
  switch (sig) {
    case SIGILL: return EXCEPTION_ILLEGAL_INSTRUCTION;
    case SIGFPE:
      switch (info->si_code) {
        case FPE_INTOVF: return EXCEPTION_INT_OVERFLOW;
        case FPE_FLTDIV: return EXCEPTION_FLT_DIVIDE_BY_ZERO;
        case FPE_FLTOVF: return EXCEPTION_FLT_OVERFLOW;
        case FPE_FLTUND: return EXCEPTION_FLT_UNDERFLOW;
        case FPE_FLTRES: return EXCEPTION_FLT_INEXACT_RESULT;
        case FPE_FLTINV: return EXCEPTION_FLT_INVALID_OPERATION;
        default: return EXCEPTION_INT_DIVIDE_BY_ZERO;
      }
    default: return EXCEPTION_ACCESS_VIOLATION;  // SIGSEGV, SIGBUS
  }
}

void OnFault(int sig, siginfo_t* info, void* context) {
  if (GuardFrame* frame = t_guard) {
    frame->code = ExceptionCode(sig, info);
    siglongjmp(frame->jump, 1);
  }
  // Not inside a guard: the fault belongs to whoever handled it before.
  Handlers& h = Installed();
  for (int i = 0; i < kSignalCount; ++i) {
    if (kFaultSignals[i] != sig) continue;
    const struct sigaction& prev = h.previous[i];
    if ((prev.sa_flags & SA_SIGINFO) && prev.sa_sigaction) {
      prev.sa_sigaction(sig, info, context);
      return;
    }
    if (!(prev.sa_flags & SA_SIGINFO) && prev.sa_handler != SIG_DFL && prev.sa_handler != SIG_IGN) {
      prev.sa_handler(sig);
      return;
    }
  }
  // The default action: a fault happens again when the instruction is retried;
  // a signal that was sent is sent again.
  signal(sig, SIG_DFL);
  if (info->si_code <= 0) raise(sig);
}

void EnterGuard() {
  Handlers& h = Installed();
  std::lock_guard<std::mutex> guard(h.lock);
  if (h.active++ > 0) return;
  struct sigaction sa {};
  sa.sa_sigaction = OnFault;
  sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&sa.sa_mask);
  for (int i = 0; i < kSignalCount; ++i) sigaction(kFaultSignals[i], &sa, &h.previous[i]);
}

void LeaveGuard() {
  Handlers& h = Installed();
  std::lock_guard<std::mutex> guard(h.lock);
  if (--h.active > 0) return;
  for (int i = 0; i < kSignalCount; ++i) sigaction(kFaultSignals[i], &h.previous[i], nullptr);
}

// This thread's alternate signal stack, unless it already has one (sanitizers
// give every thread their own).
struct AltStack {
  void* memory = nullptr;
  size_t size = 0;
  ~AltStack() {
    if (!memory) return;
    stack_t off{};
    off.ss_flags = SS_DISABLE;
    sigaltstack(&off, nullptr);
    munmap(memory, size);
  }
};
thread_local AltStack t_altStack;

void EnsureAltStack() {
  if (t_altStack.memory) return;
  stack_t current{};
  if (sigaltstack(nullptr, &current) == 0 && !(current.ss_flags & SS_DISABLE)) return;
  const size_t size = 64 * 1024;
  void* memory = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) return;  // faults are still caught, on the thread's own stack
  stack_t stack{};
  stack.ss_sp = memory;
  stack.ss_size = size;
  if (sigaltstack(&stack, nullptr) != 0) {
    munmap(memory, size);
    return;
  }
  t_altStack.memory = memory;
  t_altStack.size = size;
}

// Pops the frame however the guarded call ends (a C++ exception included).
struct FrameScope {
  GuardFrame* frame;
  ~FrameScope() {
    t_guard = frame->outer;
    LeaveGuard();
  }
};

}  // namespace

extern "C" {

BOOL WINAPI CallGuarded(PGUARDED_ROUTINE routine, PVOID context, LONG* result, DWORD* exceptionCode) {
  if (!routine) {
    // Calling it would be an access violation.
    if (exceptionCode) *exceptionCode = EXCEPTION_ACCESS_VIOLATION;
    return FALSE;
  }
  EnsureAltStack();
  GuardFrame frame;
  frame.outer = t_guard;
  EnterGuard();
  FrameScope scope{&frame};
  if (sigsetjmp(frame.jump, 1) == 0) {
    t_guard = &frame;
    LONG r = routine(context);
    if (result) *result = r;
    return TRUE;
  }
  if (exceptionCode) *exceptionCode = frame.code;
  return FALSE;
}

void WINAPI RaiseException(DWORD code, DWORD flags, DWORD argc, const ULONG_PTR* args) {
  code &= ~0x10000000u;  // reserved for the system
  if (GuardFrame* frame = t_guard) {
    frame->code = code;
    siglongjmp(frame->jump, 1);
  }
  std::fprintf(stderr, "Unhandled exception 0x%08X: no exception guard is active\n", code);
  std::fflush(stderr);
  std::abort();
}

}  // extern "C"
