// corvane demo: a sample machine in a folder the user can look at afterwards,
// and a tour of what the library does on it. The machine is arranged with the
// stand-in's admin tool; every operation goes through the library's exports.
#include <sys/stat.h>

#include <cstdio>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>

#include <CLI/CLI.hpp>

#include "AdminTool.h"
#include "Backup.h"
#include "Collect.h"
#include "Config.h"
#include "Progress.h"
#include "SampleMail.h"
#include "Sync.h"

namespace host {

namespace {

namespace fs = std::filesystem;

const char kMarker[] = ".corvane-demo";
// One more step when a file the mail client itself wrote is at hand.
int totalSteps = 13;

void Step(int n, const std::string& title, const std::string& command = "") {
  std::string line = "\n[" + std::to_string(n) + "/" + std::to_string(totalSteps) + "] " + title;
  if (!command.empty()) line += "\n      $ corvane " + command;
  Out(line + "\n");
}

void Note(const std::string& text) { Out("      " + text + "\n"); }

// Leaves an empty demo folder at dir: a folder of an earlier demo is removed,
// any other folder is left alone.
void FreshFolder(const std::string& dir) {
  std::error_code ec;
  if (fs::exists(dir, ec)) {
    if (!fs::is_directory(dir, ec)) throw UsageError(dir + " exists and is not a folder; choose another --dir");
    if (!fs::is_empty(dir, ec) && !fs::exists(dir + "/" + kMarker, ec))
      throw UsageError(dir + " exists and was not made by corvane demo; choose another --dir");
    fs::remove_all(dir, ec);
    if (ec) throw OperationFailed("cannot remove the earlier demo at " + dir + ": " + ec.message());
  }
  for (const char* sub : {"machine", "stores", "backups", "sample-mail", "collection", "config"}) {
    fs::create_directories(dir + "/" + sub, ec);
    if (ec) throw OperationFailed("cannot make " + dir + "/" + sub + ": " + ec.message());
  }
  std::ofstream marker(dir + "/" + kMarker);
  marker << "made by corvane demo; removed by the next one\n";
  if (!marker) throw OperationFailed("cannot write in " + dir);
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream file(path, std::ios::binary);
  file << text;
  if (!file) throw OperationFailed("cannot write " + path);
}

struct StoreFill {
  std::string name;
  std::map<std::string, int> mail;  // folder path -> messages
  int eventsFirst, events, contactsFirst, contacts;
};

// Fills a store of the profile through the admin tool; returns what went in.
std::string Fill(const std::string& dir, const StoreFill& fill) {
  int messages = 0;
  for (const auto& [folder, count] : fill.mail) {
    std::string tag = fill.name + " " + folder;
    std::string file = dir + "/sample-mail/" + fill.name + "-" + fs::path(folder).filename().string() + ".mbox";
    for (char& c : file)
      if (c == ' ') c = '-';
    WriteText(file, ToMbox(SampleMessages(tag, count), tag));
    RunAdminTool({"import", "Outlook", "--store", fill.name, "--folder", folder, file});
    messages += count;
  }
  // Calendar items are told apart by their creation time: each its own hour.
  int item = fill.eventsFirst;
  for (const SampleEvent& e : SampleEvents(fill.eventsFirst, fill.events))
    RunAdminTool({"calendar", "add", "Outlook", "--store", fill.name, "--subject", e.subject, "--start", e.start, "--end",
                  e.end, "--location", e.location, "--created", SampleTime(item++)});
  item = 100 + fill.contactsFirst;
  for (const SampleContact& c : SampleContacts(fill.contactsFirst, fill.contacts))
    RunAdminTool({"contact", "add", "Outlook", "--store", fill.name, "--given", c.given, "--surname", c.surname,
                  "--email", c.email, "--created", SampleTime(item++)});
  return std::to_string(messages) + " messages, " + std::to_string(fill.events) + " calendar items, " +
         std::to_string(fill.contacts) + " contacts";
}

// Items per top-level folder of a store of the profile, sub-folders included,
// as the admin tool's dump counts them.
std::map<std::string, int> CountItems(const std::string& store) {
  nlohmann::json dump = nlohmann::json::parse(RunAdminTool({"dump", "Outlook", "--store", store}));
  std::function<int(const nlohmann::json&)> total = [&](const nlohmann::json& folder) {
    int n = folder.value("count", 0);
    for (const nlohmann::json& child : folder["folders"]) n += total(child);
    return n;
  };
  std::map<std::string, int> counts;
  for (const nlohmann::json& folder : dump["tree"]["folders"]) counts[folder.value("name", "")] = total(folder);
  return counts;
}

// A sample of a real personal-folders file beside the repository (the shared
// test data), found from this program's folder or the current one; "" when
// there is none.
std::string SampleRealFile() {
  std::error_code ec;
  for (const fs::path& base : {fs::path(ProgramDirectory()) / "../../../..", fs::current_path(ec) / ".."}) {
    fs::path file = base / "shared/testdata/pst/pstsdk-sample1.pst";
    if (fs::is_regular_file(file, ec)) return fs::canonical(file, ec).string();
  }
  return "";
}

std::string Pad(const std::string& text, size_t width) {
  return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

std::string Change(int before, int after) {
  std::string text = std::to_string(before) + " -> " + std::to_string(after);
  if (after != before) text += " (+" + std::to_string(after - before) + ")";
  return text;
}

// A path below the current folder is shown relative to it.
std::string ShownPath(const std::string& path) {
  std::error_code ec;
  fs::path relative = fs::relative(path, fs::current_path(ec), ec);
  if (ec || relative.empty() || relative.string().starts_with("..")) return path;
  return relative.string();
}

StoreRef ProfileStore(COutlookFacade& facade, const std::string& name) { return ResolveStore(facade, name); }

void RunDemo(const std::string& dirArg) {
  std::string dir = AbsolutePath(dirArg);
  Options& options = GlobalOptions();
  options.json = false;
  options.progressLineStep = 25;
  auto started = std::chrono::steady_clock::now();
  std::string realFile = SampleRealFile();
  totalSteps = realFile.empty() ? 13 : 14;

  Out("corvane demo: a sample machine in " + dir + "\n");
  Step(1, "Making a sample machine: the mail client, the profile \"Outlook\" and two stores");
  FreshFolder(dir);
  std::string machine = dir + "/machine";
  if (setenv("CORVANE_PLATFORM_ROOT", machine.c_str(), 1) != 0) throw OperationFailed("cannot set the platform root");
  RunAdminTool({"install"});
  std::string mailPath = dir + "/stores/Mail.pst", archivePath = dir + "/stores/Archive.pst";
  RunAdminTool({"service", "add", "Outlook", "--type", "pst", "--name", "Mail", "--path", mailPath, "--default"});
  RunAdminTool({"service", "add", "Outlook", "--type", "pst", "--name", "Archive", "--path", archivePath});
  Note("machine (platform root): " + machine);
  Note("store \"Mail\":    " +
       Fill(dir, {"Mail", {{"Inbox", 24}, {"Inbox/Projects", 6}, {"Sent Items", 10}}, 0, 4, 0, 6}));
  Note("store \"Archive\": " + Fill(dir, {"Archive", {{"Inbox", 12}, {"Old projects", 5}}, 4, 2, 6, 3}));

  std::optional<LibrarySession> library;
  library.emplace();
  Step(2, "The stores of the profile", "list");
  ListCommand();

  Step(3, "The folder tree of Mail, walked level by level", "tree Mail --all");
  TreeCommand("Mail", "", true);

  std::string backupPath = dir + "/backups/Mail-backup.pst";
  Step(4, "Backing up every folder of Mail into a new store", "backup Mail " + backupPath);
  {
    Facade facade;
    StoreRef mail = ProfileStore(*facade, "Mail");
    BackupResult first = Backup(*facade, mail, BackupDestination(*facade, backupPath, mail),
                                ListFolders(*facade, mail, {}), "backup");
    ThrowUnlessOk(first.outcome, "backup of Mail");
    Note(std::to_string(first.outcome.planned) + " items copied into " + first.destination);
  }

  Step(5, "Attaching the backup to the profile, so the mail client shows it",
       "attach " + backupPath + " --name \"Mail backup\"");
  {
    Facade facade;
    WString path = LibraryPath(backupPath);
    if (facade->AttatchPSTFile(path.c_str(), TEXT("Mail backup")) != 0)
      throw OperationFailed("attaching the backup failed; " + LogLocation());
    Note("attached as \"Mail backup\"");
  }
  std::map<std::string, int> before = CountItems("Mail backup");

  Step(6, "Three new messages arrive in Mail's Inbox; backing up again", "backup Mail " + backupPath);
  {
    std::string file = dir + "/sample-mail/Mail-Inbox-new.mbox";
    WriteText(file, ToMbox(SampleMessages("Mail Inbox", 3, 24), "Mail Inbox new"));
    RunAdminTool({"import", "Outlook", "--store", "Mail", "--folder", "Inbox", file});
    Facade facade;
    StoreRef mail = ProfileStore(*facade, "Mail");
    BackupResult again = Backup(*facade, mail, BackupDestination(*facade, backupPath, mail),
                                ListFolders(*facade, mail, {}), "backup");
    ThrowUnlessOk(again.outcome, "backup of Mail");
    std::map<std::string, int> after = CountItems("Mail backup");
    int copied = 0;
    for (const auto& [folder, n] : after) copied += n - (before.count(folder) ? before[folder] : 0);
    Note(std::to_string(again.outcome.planned) + " items looked at, only the " + std::to_string(copied) +
         " new ones copied; the backup, folder by folder:");
    for (const auto& [folder, n] : after)
      if (n || before[folder]) Note("  " + Pad(folder, 16) + Change(before[folder], n));
  }

  Step(7, "Synchronising Inbox, Calendar and Contacts of Mail and Archive",
       "sync Mail Archive --folder Inbox --folder Calendar --folder Contacts");
  {
    const std::vector<std::string> folders = {"Inbox", "Calendar", "Contacts"};
    std::map<std::string, int> mailBefore = CountItems("Mail"), archiveBefore = CountItems("Archive");
    Facade facade;
    StoreRef mail = ProfileStore(*facade, "Mail"), archive = ProfileStore(*facade, "Archive");
    Outcome o = Sync(*facade, mail, archive, SyncSelection(*facade, mail, archive, folders, {}), "sync");
    ThrowUnlessOk(o, "synchronisation of Mail and Archive");
    std::map<std::string, int> mailAfter = CountItems("Mail"), archiveAfter = CountItems("Archive");
    Note("each store now holds what either had; items per folder, sub-folders included:");
    Note("  " + Pad("", 12) + Pad("Mail", 20) + "Archive");
    for (const std::string& f : folders)
      Note("  " + Pad(f, 12) + Pad(Change(mailBefore[f], mailAfter[f]), 20) + Change(archiveBefore[f], archiveAfter[f]));
  }

  std::string collection = dir + "/collection";
  Step(8, "Collecting Mail and Archive into a collection folder, with its catalog",
       "collect Mail Archive " + collection);
  {
    Facade facade;
    std::vector<CollectSource> sources;
    for (const char* name : {"Mail", "Archive"}) {
      StoreRef store = ProfileStore(*facade, name);
      sources.push_back({store, ListFolders(*facade, store, {})});
    }
    CollectResult collected = Collect(*facade, sources, collection);
    ThrowUnlessOk(collected.outcome, "collection of Mail and Archive");
    Note(std::to_string(collected.outcome.planned) + " items of both stores gone through; each one is once in " +
         collected.collected);
    Note("its catalog, for the restore: " + collection + "/mail.db3");
  }
  // The library leaves this machine before the next one is set up.
  library.reset();

  std::string otherMachine = dir + "/machine2";
  Step(9, "A second machine whose profile holds no store: restoring the collection there", "restore " + collection);
  if (setenv("CORVANE_PLATFORM_ROOT", otherMachine.c_str(), 1) != 0)
    throw OperationFailed("cannot set the platform root");
  RunAdminTool({"install"});
  library.emplace();
  std::string restoredPath;
  {
    Facade facade;
    RestoreResult restored = Restore(*facade, collection);
    ThrowUnlessOk(restored.outcome, "restore from " + collection);
    if (!restored.attached) throw OperationFailed("the restored store was not attached; " + LogLocation());
    restoredPath = restored.destination;
    int items = 0;
    for (const auto& [folder, n] : CountItems("QorDestination")) items += n;
    Note(std::to_string(items) + " items restored into " + restoredPath + ", attached as \"QorDestination\":");
  }
  ListCommand();
  library.reset();

  Step(10, "Back on the first machine: a POP3 and an IMAP account and an IMAP store join the profile", "accounts");
  if (setenv("CORVANE_PLATFORM_ROOT", machine.c_str(), 1) != 0) throw OperationFailed("cannot set the platform root");
  RunAdminTool({"account", "add", "Outlook", "--kind", "pop", "--name", "Home", "--email", "me@example.com",
                "--pop3-server", "pop.example.com", "--smtp-server", "smtp.example.com"});
  RunAdminTool({"account", "add", "Outlook", "--kind", "imap", "--name", "Lists", "--email", "lists@example.com",
                "--imap-server", "imap.example.com", "--smtp-server", "smtp.example.com"});
  RunAdminTool({"service", "add", "Outlook", "--type", "imap", "--name", "Lists"});
  library.emplace();
  AccountsCommand();

  std::string config = dir + "/config";
  Step(11, "Saving the configuration of the profile \"Outlook\": its profiles and the account list",
       "config save " + config);
  ConfigFiles saved = SaveTarget(config);
  SaveConfig(saved);
  Note("profiles:     " + saved.profiles);
  Note("account list: " + saved.accounts);
  library.reset();

  std::string thirdMachine = dir + "/machine3";
  Step(12, "A new user without a profile \"Outlook\": restoring the configuration there", "config restore " + config);
  if (setenv("CORVANE_PLATFORM_ROOT", thirdMachine.c_str(), 1) != 0)
    throw OperationFailed("cannot set the platform root");
  RunAdminTool({"install"});
  RunAdminTool({"profile", "delete", "Outlook"});
  library.emplace();
  {
    ComApartment apartment;
    if (!RestoreConfig(RestoreSource(config))) throw OperationFailed("the new user had a profile already");
  }
  Note("the profile \"Outlook\" is back; the IMAP store and the account that is not POP3 are gone, and the");
  Note("default store is a fresh \"Outlook Files\\Outlook.pst\" in the new user's documents:");
  ListCommand();
  AccountsCommand();
  library.reset();

  std::string realBackup;
  if (!realFile.empty()) {
    realBackup = dir + "/backups/" + fs::path(realFile).stem().string() + "-backup.pst";
    Step(13, "Back on the first machine: a file the mail client itself wrote, read-only, listed and backed up",
         "tree " + ShownPath(realFile) + "\n      $ corvane backup " + ShownPath(realFile) + " " + realBackup);
    if (setenv("CORVANE_PLATFORM_ROOT", machine.c_str(), 1) != 0)
      throw OperationFailed("cannot set the platform root");
    library.emplace();
    TreeCommand(realFile, "", false);
    {
      Facade facade;
      StoreRef real = ResolveStore(*facade, realFile);
      BackupResult copied = Backup(*facade, real, BackupDestination(*facade, realBackup, real),
                                   ListFolders(*facade, real, {}), "backup");
      ThrowUnlessOk(copied.outcome, "backup of " + realFile);
      Note(std::to_string(copied.outcome.planned) + " items copied into " + copied.destination +
           "; the file itself is only read");
    }
    library.reset();
  }

  Step(totalSteps, "Where everything is");
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  Note("machine (platform root)  " + machine);
  Note("stores                   " + mailPath);
  Note("                         " + archivePath);
  Note("backup                   " + backupPath);
  Note("collection               " + collection);
  Note("second machine           " + otherMachine);
  Note("restored there           " + restoredPath);
  Note("saved configuration      " + config);
  Note("new user's machine       " + thirdMachine);
  if (!realBackup.empty()) Note("real file's backup       " + realBackup);
  Note("sample mail (mbox)       " + dir + "/sample-mail");
  Note(LogLocation());
  char took[32];
  std::snprintf(took, sizeof took, "%.1f", seconds);
  std::string program = ShownPath(ProgramDirectory() + "/corvane");
  Out(std::string("\nDone in ") + took + " s. To look around on this machine:\n" +
      "      export CORVANE_PLATFORM_ROOT=" + machine + "\n" + "      " + program + " list\n" +
      "      " + program + " tree \"Mail backup\" Inbox --all\n" + "      " + program + " --help\n");
}

}  // namespace

void AddDemoCommand(CLI::App& app) {
  static std::string dir = "corvane-demo";
  CLI::App* cmd = app.add_subcommand(
      "demo",
      "make a sample machine with two stores and show listing, backup, incremental backup, sync, a collection "
      "restored on a second machine, and the configuration saved and restored for a new user (machines of the "
      "stand-in platform: not in the Windows build)");
  cmd->add_option("-d,--dir", dir,
                  "folder for the demo's machine, stores and backups; an earlier demo there is replaced "
                  "(default: ./corvane-demo)")
      ->type_name("DIR");
  cmd->add_flag("-q,--quiet", GlobalOptions().quiet, "show no progress");
  cmd->callback([] { RunDemo(dir); });
}

}  // namespace host
