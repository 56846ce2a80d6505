// The compact library's twin of backuphost: a small host that links only
// libcorvane_compact.so. Copied into a temporary folder (beside a
// "corvane.ini" when the test looks for a log), it initialises through the
// compact facade and runs one operation:
//   compacthost [options] backup <source> <destination> [<kind>:<name>]...
//   compacthost [options] sync <source> <destination> [<kind>:<name>]...
// Options: --profile <name>     the facade's temporary profile name
//          --start-when <path>  print "ready", then wait until the file exists
// It prints "calling", then "result=<r> lasterror=<e> destination=<path>";
// the last error is set to 4242 before the call, which leaves it alone.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "facade/OutlookFacade.h"
#include "hosts/record_arg.h"

namespace {

std::u16string W(const char* s) { return standin::ToUtf16(s); }

int Usage() {
  std::fprintf(stderr,
               "usage: compacthost [--profile name] [--start-when file] backup|sync <source> <destination> "
               "[kind:name]...\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::u16string profileName;
  std::string startWhen;
  int i = 1;
  for (; i + 1 < argc && std::strncmp(argv[i], "--", 2) == 0; i += 2) {
    if (std::strcmp(argv[i], "--profile") == 0) profileName = W(argv[i + 1]);
    else if (std::strcmp(argv[i], "--start-when") == 0) startWhen = argv[i + 1];
    else return Usage();
  }
  if (argc - i < 3) return Usage();
  std::string command = argv[i];
  if (command != "backup" && command != "sync") return Usage();
  std::u16string source = W(argv[i + 1]);
  CString destination(W(argv[i + 2]).c_str());
  std::vector<OLCATALOGDATA> records;
  for (i += 3; i < argc; ++i) {
    OLCATALOGDATA record;
    if (!ParseRecord(argv[i], &record)) return Usage();
    records.push_back(record);
  }

  if (!COutlookFacade::Init()) {
    std::printf("init failed\n");
    return 1;
  }
  int result = 0;
  DWORD lastError = 0;
  {
    COutlookFacade facade;
    if (!profileName.empty()) facade.SetProfileName(profileName.c_str());
    if (!startWhen.empty()) {
      std::printf("ready\n");
      std::fflush(stdout);
      while (access(startWhen.c_str(), F_OK) != 0) usleep(1000);
    }
    std::printf("calling\n");
    std::fflush(stdout);
    OLCATALOGDATA* selection = records.empty() ? nullptr : records.data();
    ULONG count = static_cast<ULONG>(records.size());
    SetLastError(4242);
    if (command == "backup") result = facade.BackupMessage(source.c_str(), destination, selection, count);
    else result = facade.SyncMessage(source.c_str(), destination, selection, count);
    lastError = GetLastError();
  }
  COutlookFacade::Term();
  std::printf("result=%d lasterror=%d destination=%s\n", result, static_cast<int>(lastError),
              standin::ToUtf8(destination.GetString()).c_str());
  return 0;
}
