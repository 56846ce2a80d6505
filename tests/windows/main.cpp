#include <cstdio>

#include "wincheck.h"

namespace wincheck {
namespace {
int g_failed = 0;
int g_run = 0;
}  // namespace

void Check(bool ok, const char* what, const char* file, int line) {
  ++g_run;
  if (ok) return;
  ++g_failed;
  std::printf("FAILED %s:%d: %s\n", file, line, what);
}

}  // namespace wincheck

int main() {
  wincheck::CheckGuard();
  wincheck::CheckPlatformExtras();
  std::printf("wincheck: %d of %d checks failed\n", wincheck::g_failed, wincheck::g_run);
  std::fflush(stdout);
  return wincheck::g_failed ? 1 : 0;
}
