#include "Library.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace host {

const char* LibraryName() { return kCompactLibrary ? "compact" : "full"; }

#if defined(CORVANE_COMPACT)

int StartLibrary() { return COutlookFacade::Init(); }

int BackupThroughLibrary(COutlookFacade& facade, LPCWSTR source, CString& destination,
                         std::vector<OLCATALOGDATA>& folders) {
  return facade.BackupMessage(source, destination, folders.data(), static_cast<ULONG>(folders.size()));
}

long long TotalSize(COutlookFacade&, const std::vector<StoreRef>& stores) {
  long long total = 0;
  for (const StoreRef& s : stores) total += std::max(FileSize(s.path), 0LL);
  return total;
}

void AttachProgressSink(COutlookFacade&, int (*)(ULONG, ULONG, void*), void*) {}

#else

int StartLibrary() { return COutlookFacade::Init(0); }

int BackupThroughLibrary(COutlookFacade& facade, LPCWSTR source, CString& destination,
                         std::vector<OLCATALOGDATA>& folders) {
  return facade.BackupMessage(source, destination, folders.data(), static_cast<ULONG>(folders.size()), 0);
}

long long TotalSize(COutlookFacade& facade, const std::vector<StoreRef>&) { return facade.GetTotalSize(); }

void AttachProgressSink(COutlookFacade& facade, int (*onStep)(ULONG, ULONG, void*), void* context) {
  CALLBACKDATAS data = {};
  data.nType = CALLBACK_TYPE_FUNCTION;
  data.pfnCallBack = reinterpret_cast<UINT_PTR>(onStep);
  facade.SetCallBack(data, context);
}

#endif

namespace {

const char kLibraryOption[] = "--library";

// The program of a build: it sits beside this one.
std::string ProgramOf(bool compact) {
  std::string folder = ThisProgramFolder();
  if (folder.empty()) return {};
  return JoinPath(folder, std::string(compact ? "corvane-compact" : "corvane") + kProgramSuffix);
}

}  // namespace

int ChooseLibrary(int& argc, char** argv) {
  std::string chosen;
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (std::strcmp(arg, "--") == 0) {
      while (i < argc) argv[kept++] = argv[i++];
      break;
    }
    if (std::strcmp(arg, kLibraryOption) == 0) {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "corvane: --library needs a value: full or compact\n");
        return kExitUsage;
      }
      chosen = argv[++i];
    } else if (std::strncmp(arg, "--library=", 10) == 0) {
      chosen = arg + 10;
    } else {
      argv[kept++] = argv[i];
    }
  }
  argc = kept;
  argv[argc] = nullptr;
  if (chosen.empty() || chosen == LibraryName()) return -1;
  if (chosen != "full" && chosen != "compact") {
    std::fprintf(stderr, "corvane: unknown library '%s': full or compact\n", chosen.c_str());
    return kExitUsage;
  }
  std::string program = ProgramOf(chosen == "compact");
  if (!program.empty()) {
    int code = RunInstead(program, argv);
    if (code >= 0) return code;
  }
  std::fprintf(stderr, "corvane: cannot run the %s library's program %s: %s\n", chosen.c_str(),
               program.empty() ? "(this program's folder is unknown)" : program.c_str(), std::strerror(errno));
  return kExitFailed;
}

const std::vector<std::string>& FullLibraryCommands() {
  static const std::vector<std::string> commands = {"attach", "collect", "restore", "accounts", "config",
#if !defined(_WIN32)
                                                    "demo"
#endif
  };
  return commands;
}

}  // namespace host
