// A host for the file tests: copies a file while the process may write files
// of at most <limit> bytes, so that the copy fails half-way through.
//   filehost copy <from> <to> <limit>
// Prints "result=<0|1> error=<last error>".
#include <signal.h>
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <windows.h>
#include <standin/root.h>

int main(int argc, char** argv) {
  if (argc != 5 || std::string(argv[1]) != "copy") {
    std::fprintf(stderr, "usage: filehost copy <from> <to> <limit>\n");
    return 2;
  }
  signal(SIGXFSZ, SIG_IGN);  // a write past the limit then fails with EFBIG
  rlimit limit{};
  limit.rlim_cur = limit.rlim_max = std::strtoull(argv[4], nullptr, 10);
  if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 3;
  std::u16string from = standin::ToWindowsPath(argv[2]), to = standin::ToWindowsPath(argv[3]);
  BOOL ok = CopyFileW(from.c_str(), to.c_str(), FALSE);
  std::printf("result=%d error=%u\n", ok ? 1 : 0, static_cast<unsigned>(GetLastError()));
  return 0;
}
