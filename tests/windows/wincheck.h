// The check program's one way to report: each failed check prints a line and
// is counted; the program fails when any did.
#pragma once

#define WINCHECK(cond, what) ::wincheck::Check((cond), (what), __FILE__, __LINE__)

namespace wincheck {

void Check(bool ok, const char* what, const char* file, int line);

// The check groups.
void CheckGuard();
void CheckPlatformExtras();

}  // namespace wincheck
