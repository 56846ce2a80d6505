// corvane: the command line of the library. Lists the stores of the profile
// "Outlook", shows their folder trees, backs them up incrementally, keeps two
// of them in step, collects them for a restore elsewhere and attaches a store
// to the profile, checks its mail accounts and saves and restores its
// configuration — all through the library's exports, as a backup application
// does.
#include <cstdio>
#include <cstdlib>

#include <CLI/CLI.hpp>

#include "Host.h"

int main(int argc, char** argv) {
  CLI::App app{"Lists, backs up and synchronises the mail stores of the profile \"Outlook\".\n"
               "Exit codes: 0 success, 1 the operation failed, 2 usage error, 130 cancelled (Ctrl-C).",
               "corvane"};
  app.require_subcommand(1);
  host::AddCommonOptions(app, true);
  host::AddListCommand(app);
  host::AddTreeCommand(app);
  host::AddBackupCommand(app);
  host::AddSyncCommand(app);
  host::AddAttachCommand(app);
  host::AddCollectCommand(app);
  host::AddRestoreCommand(app);
  host::AddAccountsCommand(app);
  host::AddConfigCommand(app);
  host::AddDemoCommand(app);
  // CLI11 would call an unknown command a missing one.
  auto known = [&](const char* name) {
    for (const CLI::App* sub : app.get_subcommands({}))
      if (sub->check_name(name)) return true;
    return false;
  };
  if (argc > 1 && argv[1][0] != '-' && !known(argv[1])) {
    std::fprintf(stderr, "corvane: unknown command '%s' (see corvane --help)\n", argv[1]);
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
