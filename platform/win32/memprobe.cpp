// Memory probes: whether memory can be read, asked of the kernel without
// touching it.
#include <sys/uio.h>
#include <unistd.h>

#include "internal.h"

namespace {

// Reads len bytes at p into out; false when any of it is not mapped readable.
bool ProbeRead(const void* p, void* out, size_t len) {
  struct iovec local {out, len};
  struct iovec remote {const_cast<void*>(p), len};
  return process_vm_readv(getpid(), &local, 1, &remote, 1, 0) == static_cast<ssize_t>(len);
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
  for (;;) {
    // Read up to the end of the page, so an unreadable next page is not touched
    // before the terminator is found.
    size_t toPageEnd = 4096 - (reinterpret_cast<uintptr_t>(at) & 4095);
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
