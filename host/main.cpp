// corvane: the command line of the library. Lists the stores of the profile
// "Outlook", shows their folder trees, backs them up incrementally, keeps two
// of them in step, collects them for a restore elsewhere and attaches a store
// to the profile, checks its mail accounts and saves and restores its
// configuration — all through the library's exports, as a backup application
// does. Built on the compact library (corvane-compact, or corvane --library
// compact) it lists, shows trees, backs up and synchronises.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "Host.h"
#include "Library.h"

namespace {

// The command a command line names: its first word that is no option or
// option value.
const char* CommandWord(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (argv[i][0] == '-') {
      if (!std::strcmp(argv[i], "--root") || !std::strcmp(argv[i], "--work-profile")) ++i;
      continue;
    }
    return argv[i];
  }
  return nullptr;
}

int Run(int argc, char** argv) {
  if (int code = host::ChooseLibrary(argc, argv); code >= 0) return code;
  CLI::App app{std::string(host::kCompactLibrary
                               ? "Lists, backs up and synchronises the mail stores of the profile \"Outlook\" through "
                                 "the compact library: no progress, no cancelling, no log.\n"
                                 "Exit codes: 0 success, 1 the operation failed, 2 usage error."
                               : "Lists, backs up and synchronises the mail stores of the profile \"Outlook\".\n"
                                 "Exit codes: 0 success, 1 the operation failed, 2 usage error, 130 cancelled "
                                 "(Ctrl-C).") +
                   host::kMachineNote,
               "corvane"};
  app.require_subcommand(1);
  host::AddCommonOptions(app, true);
  // Taken out of the command line before it is parsed; here for the help.
  app.add_option("--library", "the library build to run against: full (default) or compact")
      ->type_name("full|compact");
  host::AddListCommand(app);
  host::AddTreeCommand(app);
  host::AddBackupCommand(app);
  host::AddSyncCommand(app);
  if constexpr (!host::kCompactLibrary) {
    host::AddAttachCommand(app);
    host::AddCollectCommand(app);
    host::AddRestoreCommand(app);
    host::AddAccountsCommand(app);
    host::AddConfigCommand(app);
#if !defined(_WIN32)
    // It makes machines of the stand-in platform.
    host::AddDemoCommand(app);
#endif
  }
  // CLI11 would call an unknown command a missing one.
  auto known = [&](const char* name) {
    for (const CLI::App* sub : app.get_subcommands({}))
      if (sub->check_name(name)) return true;
    return false;
  };
  if (const char* command = CommandWord(argc, argv); command && !known(command)) {
    const auto& full = host::FullLibraryCommands();
    if (std::find(full.begin(), full.end(), command) != full.end())
      std::fprintf(stderr,
                   "corvane: the compact library has no '%s': it lists, shows trees, backs up and synchronises "
                   "only (run without --library compact)\n",
                   command);
    else
      std::fprintf(stderr, "corvane: unknown command '%s' (see corvane --help)\n", command);
    return host::kExitUsage;
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::fprintf(stderr, "corvane: %s (see corvane --help)\n", e.what());
    return host::kExitUsage;
  } catch (const host::UsageError& e) {
    std::fprintf(stderr, "corvane: %s\n", e.what());
    return host::kExitUsage;
  } catch (const host::Cancelled& e) {
    std::fprintf(stderr, "corvane: %s\n", e.what());
    return host::kExitCancelled;
  } catch (const host::OperationFailed& e) {
    std::fprintf(stderr, "corvane: %s\n", e.what());
    return host::kExitFailed;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "corvane: %s\n", e.what());
    return host::kExitFailed;
  }
  return host::kExitOk;
}

}  // namespace

#if defined(_WIN32)
// The command line in UTF-8, as the rest of the host speaks; the console
// shows what the host prints as UTF-8 too.
int wmain(int argc, wchar_t** wargv) {
  SetConsoleOutputCP(CP_UTF8);
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) args.push_back(host::U(wargv[i]));
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  return Run(argc, argv.data());
}
#else
int main(int argc, char** argv) { return Run(argc, argv); }
#endif
