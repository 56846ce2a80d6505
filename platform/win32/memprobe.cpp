// Memory probes: whether memory can be read, asked of the kernel without
// touching it.
#include <fcntl.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>

#include "internal.h"

namespace {

// Copies through a pipe: the kernel reports EFAULT for memory it cannot read.
// For systems whose sandbox refuses process_vm_readv.
bool ProbeReadThroughPipe(const void* p, void* out, size_t len) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return false;
  bool ok = true;
  const char* from = static_cast<const char*>(p);
  char* to = static_cast<char*>(out);
  while (ok && len) {
    size_t n = len < 4096 ? len : 4096;  // never more than the pipe holds
    ssize_t w = syscall(SYS_write, fds[1], from, n);  // past any interposed write
    ok = w > 0 && read(fds[0], to, static_cast<size_t>(w)) == w;
    if (ok) from += w, to += w, len -= static_cast<size_t>(w);
  }
  close(fds[0]);
  close(fds[1]);
  return ok;
}

// This process's id, asked once (probes run per message); a forked child
// asks again.
pid_t SelfPid() {
  static pid_t self = [] {
    pthread_atfork(nullptr, nullptr, [] { self = getpid(); });
    return getpid();
  }();
  return self;
}

// Reads len bytes at p into out; false when any of it is not mapped readable.
bool ProbeRead(const void* p, void* out, size_t len) {
  struct iovec local {out, len};
  struct iovec remote {const_cast<void*>(p), len};
  ssize_t n = process_vm_readv(SelfPid(), &local, 1, &remote, 1, 0);
  if (n < 0 && (errno == ENOSYS || errno == EPERM)) return ProbeReadThroughPipe(p, out, len);
  return n == static_cast<ssize_t>(len);
}

}  // namespace

extern "C" {

BOOL WINAPI IsBadReadPtr(const void* p, UINT_PTR size) {
  if (size == 0) return FALSE;
  if (!p) return TRUE;
  char chunk[4096];
  const char* at = static_cast<const char*>(p);
  while (size) {
    size_t n = size < sizeof chunk ? size : sizeof chunk;
    if (!ProbeRead(at, chunk, n)) return TRUE;
    at += n;
    size -= n;
  }
  return FALSE;
}

BOOL WINAPI IsBadStringPtrW(LPCWSTR s, UINT_PTR max) {
  if (max == 0) return FALSE;
  if (!s) return TRUE;
  const char* at = reinterpret_cast<const char*>(s);
  UINT_PTR seen = 0;
  size_t piece = 256;
  for (;;) {
    // Read no further than the end of the page, so an unreadable next page is
    // not touched before the terminator is found; and a short piece first,
    // since most strings are short.
    size_t toPageEnd = 4096 - (reinterpret_cast<uintptr_t>(at) & 4095);
    if (toPageEnd > piece) toPageEnd = piece;
    piece = 4096;
    size_t n = toPageEnd < 2 ? 2 : toPageEnd & ~static_cast<size_t>(1);
    WCHAR chunk[2048];
    if (!ProbeRead(at, chunk, n)) return TRUE;
    for (size_t i = 0; i < n / 2; ++i) {
      if (chunk[i] == 0) return FALSE;
      if (++seen >= max) return FALSE;
    }
    at += n;
  }
}

}  // extern "C"
