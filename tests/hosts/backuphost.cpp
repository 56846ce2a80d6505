// A small host for the backup and synchronise tests. Copied into a temporary
// folder (beside a "corvane.ini" when the test reads the log), it loads the log
// settings as the library does at load time, initialises through the facade
// and runs one operation:
//   backuphost [options] backup <source> <destination> <mode> [<kind>:<name>]...
//   backuphost [options] sync <source> <destination> [<kind>:<name>]...
//   backuphost [options] collect <source> <collection folder> [<kind>:<name>]...
//   backuphost [options] autocollect|restore <collection folder>
// Options: --cancel-at <n>  the progress function cancels at step n
//          --profile <name> the facade's temporary profile name
// It prints "calling", then "result=<r> lasterror=<e> destination=<path>"
// and "steps=<n> max=<m>" (the last maximum the progress function saw); the
// destination printed is the string the operation was given, as it left it.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "facade/OutlookFacade.h"
#include "record_arg.h"
#include "support/Log.h"

namespace {

struct Progress {
  ULONG steps = 0;
  ULONG max = 0;
  ULONG cancelAt = 0;
};

int OnProgress(ULONG current, ULONG max, void* context) {
  auto* progress = static_cast<Progress*>(context);
  progress->steps = current;
  progress->max = max;
  return progress->cancelAt != 0 && current >= progress->cancelAt ? 1 : 0;
}

std::u16string W(const char* s) { return standin::ToUtf16(s); }

int Usage() {
  std::fprintf(stderr,
               "usage: backuphost [--cancel-at n] [--profile name] backup|sync|collect <source> <destination> ...\n"
               "       backuphost [--cancel-at n] [--profile name] autocollect|restore <collection folder>\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  LoadLogSettings();
  Progress progress;
  std::u16string profileName;
  int i = 1;
  for (; i + 1 < argc && std::strncmp(argv[i], "--", 2) == 0; i += 2) {
    if (std::strcmp(argv[i], "--cancel-at") == 0) progress.cancelAt = static_cast<ULONG>(std::atol(argv[i + 1]));
    else if (std::strcmp(argv[i], "--profile") == 0) profileName = W(argv[i + 1]);
    else return Usage();
  }
  if (argc - i < 2) return Usage();
  std::string command = argv[i];
  // The collection's own members take only the collection folder.
  bool folderOnly = command == "autocollect" || command == "restore";
  if (!folderOnly && argc - i < 3) return Usage();
  std::u16string source = folderOnly ? std::u16string() : W(argv[i + 1]);
  CString destination(W(argv[folderOnly ? i + 1 : i + 2]).c_str());
  i += folderOnly ? 2 : 3;
  int mode = 0;
  if (command == "backup") {
    if (i >= argc) return Usage();
    mode = std::atoi(argv[i++]);
  } else if (command != "sync" && command != "collect" && !folderOnly) {
    return Usage();
  }
  std::vector<OLCATALOGDATA> records;
  for (; i < argc; ++i) {
    OLCATALOGDATA record;
    if (!ParseRecord(argv[i], &record)) return Usage();
    records.push_back(record);
  }

  if (!COutlookFacade::Init(0)) {
    std::printf("init failed\n");
    return 1;
  }
  int result = 0;
  DWORD lastError = 0;
  {
    COutlookFacade facade;
    CALLBACKDATAS sink = {CALLBACK_TYPE_FUNCTION, reinterpret_cast<UINT_PTR>(&OnProgress), 0};
    facade.SetCallBack(sink, &progress);
    if (!profileName.empty()) facade.SetProfileName(profileName.c_str());
    std::printf("calling\n");
    std::fflush(stdout);
    OLCATALOGDATA* selection = records.empty() ? nullptr : records.data();
    ULONG count = static_cast<ULONG>(records.size());
    if (command == "backup") result = facade.BackupMessage(source.c_str(), destination, selection, count, mode);
    else if (command == "sync") result = facade.SyncMessage(source.c_str(), destination, selection, count);
    else if (command == "collect") result = facade.CollectMessage(source.c_str(), destination, selection, count);
    else if (command == "autocollect") result = facade.AutoCollectMessage(destination);
    else result = facade.AutoRestoreMessage(destination);
    lastError = GetLastError();
  }
  COutlookFacade::Term();
  std::printf("result=%d lasterror=%d destination=%s\n", result, static_cast<int>(lastError),
              standin::ToUtf8(destination.GetString()).c_str());
  std::printf("steps=%u max=%u\n", static_cast<unsigned>(progress.steps), static_cast<unsigned>(progress.max));
  return 0;
}
