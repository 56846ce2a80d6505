// Threads and critical sections of one process.
#include <sys/syscall.h>
#include <unistd.h>

#include <mutex>

#include "internal.h"

namespace {
struct CriticalSectionImpl {
  std::recursive_mutex mutex;
};
}  // namespace

extern "C" {

DWORD WINAPI GetCurrentThreadId(void) { return static_cast<DWORD>(syscall(SYS_gettid)); }
DWORD WINAPI GetCurrentProcessId(void) { return static_cast<DWORD>(getpid()); }
// Pseudo handles, as on the platform.
HANDLE WINAPI GetCurrentProcess(void) { return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1)); }
HANDLE WINAPI GetCurrentThread(void) { return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-2)); }

void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION cs) {
  *cs = CRITICAL_SECTION{};
  cs->Impl = new CriticalSectionImpl;
}

void WINAPI EnterCriticalSection(LPCRITICAL_SECTION cs) {
  static_cast<CriticalSectionImpl*>(cs->Impl)->mutex.lock();
  if (cs->RecursionCount++ == 0)
    cs->OwningThread = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(GetCurrentThreadId()));
}

BOOL WINAPI TryEnterCriticalSection(LPCRITICAL_SECTION cs) {
  if (!static_cast<CriticalSectionImpl*>(cs->Impl)->mutex.try_lock()) return FALSE;
  if (cs->RecursionCount++ == 0)
    cs->OwningThread = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(GetCurrentThreadId()));
  return TRUE;
}

void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION cs) {
  if (--cs->RecursionCount == 0) cs->OwningThread = nullptr;
  static_cast<CriticalSectionImpl*>(cs->Impl)->mutex.unlock();
}

void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION cs) {
  delete static_cast<CriticalSectionImpl*>(cs->Impl);
  cs->Impl = nullptr;
}

}  // extern "C"
