// The kill campaign: backup, synchronisation, collection, restore and the
// configuration save and restore run as `corvane` processes on stores of a few thousand
// generated items, and are killed with SIGKILL at seeded points: at a time
// drawn from the length of a clean run, or at the n-th call of a platform call
// that marks a phase (the stand-in's "kill" fault). After every kill:
//  - every store file, the catalog and the registry pass SQLite's integrity
//    check, and every store file opens through MAPI (the admin tool's dump);
//  - the files the operation reads are unchanged, a synchronised store lost
//    nothing, and a saved configuration is a pair of one save, old or new;
//  - the next run reports the abandoned operation mutex once and fails when the
//    kill came while the mutex was held (else it completes), and the run after
//    that completes;
//  - then every store the operation writes, and the profiles, accounts and
//    catalog rows, are what a run that was never killed leaves: no item lost,
//    none twice, no temporary profile left.
// One line sums it up; the exit status is 0 only when nothing failed.
//
//   kill_campaign [--seed N] [--kills N] [--seconds S] [--messages N] [--keep DIR] [--verbose]
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <regex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "common/fresh_root.h"
#include "common/sqlite_cli.h"

namespace fs = std::filesystem;
using testing_support::BuiltProgram;
using testing_support::Child;
using testing_support::ChildResult;
using testing_support::ReadFileBytes;
using testing_support::RunChild;
using testing_support::WriteFileBytes;

namespace {

using Clock = std::chrono::steady_clock;

struct SetupFailed : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct Options {
  unsigned seed = 1;
  int kills = 60;
  double seconds = 300;  // the campaign's bound; kills stop when it is near
  int messages = 3000;
  std::string keep;  // a folder to keep the work in (else a temporary one)
  bool verbose = false;
};

// Where the run is killed: at a time (call empty), or at the n-th call of a
// stand-in call, n drawn from [first, last].
struct Phase {
  std::string name;
  std::string call;
  int first = 1, last = 1;
};

// Folder path -> the fingerprints of its items, sorted.
using Contents = std::map<std::string, std::vector<std::string>>;

struct Operation {
  std::string name;
  std::string root;               // the platform root the run works on
  std::vector<std::string> args;  // corvane's arguments
  bool takesMutex = true;
  std::vector<std::string> unchanged;  // stores the run only reads
  std::vector<std::string> grown;      // stores the run writes that must lose nothing
  std::vector<std::string> results;    // stores compared with a clean run's
  std::vector<std::string> plainFiles;  // other files the run only reads
  std::function<std::string()> state;   // more of what a clean run leaves, as text
  // (result, origin): a clean run leaves every item of origin in result.
  std::vector<std::pair<std::string, std::string>> covers;
  std::vector<Phase> phases;
  // What must hold right after a kill, beside the stores: "" or the fault.
  std::function<std::string()> afterKill;

  std::string templateDir;  // the trial folder before the run
  double seconds = 0;       // a clean run's length
  std::map<std::string, Contents> before, expected;
  std::map<std::string, std::string> plainBefore;
  std::string expectedState;
  int kills = 0;
  std::map<std::string, int> killsByPhase;
};

const char kAbandoned[] = "WaitForSingleObject FAILED. result:128";

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
  return n;
}

void Collect(const nlohmann::json& folder, const std::string& path, Contents& out) {
  std::vector<std::string>& items = out[path];
  for (const nlohmann::json& m : folder["messages"])
    items.push_back(m.value("class", "") + "|" + m.value("subject", "") + "|" + m.value("created", "") + "|" +
                    m.value("modified", "") + "|" + m.value("digest", "") + "|" +
                    std::to_string(m.value("attachments", 0)) + "|" + std::to_string(m.value("recipients", 0)) + "|" +
                    std::to_string(m.value("size", 0)));
  std::sort(items.begin(), items.end());
  for (const nlohmann::json& child : folder["folders"]) {
    std::string name = child.value("name", "");
    Collect(child, path.empty() ? name : path + "/" + name, out);
  }
}

size_t Total(const Contents& c) {
  size_t n = 0;
  for (const auto& [path, items] : c) n += items.size();
  return n;
}

// What of `want` is missing from `have`, and what `have` holds more often
// than `want`, folder by folder; "" when they are equal.
std::string Differences(const Contents& want, const Contents& have, bool extraAllowed = false) {
  std::string out;
  for (const auto& [path, items] : want) {
    auto it = have.find(path);
    std::vector<std::string> empty;
    const std::vector<std::string>& got = it == have.end() ? empty : it->second;
    std::vector<std::string> missing, extra;
    std::set_difference(items.begin(), items.end(), got.begin(), got.end(), std::back_inserter(missing));
    std::set_difference(got.begin(), got.end(), items.begin(), items.end(), std::back_inserter(extra));
    if (!missing.empty()) out += " " + path + ": " + std::to_string(missing.size()) + " missing;";
    if (extraAllowed) continue;
    size_t twice = 0;
    for (const std::string& e : extra) twice += std::binary_search(items.begin(), items.end(), e) ? 1 : 0;
    if (twice) out += " " + path + ": " + std::to_string(twice) + " duplicate;";
    if (extra.size() > twice) out += " " + path + ": " + std::to_string(extra.size() - twice) + " unexpected;";
  }
  if (!extraAllowed)
    for (const auto& [path, items] : have)
      if (!want.count(path) && !items.empty()) out += " " + path + ": a folder a clean run does not leave;";
  return out;
}

class Campaign {
 public:
  explicit Campaign(const Options& options) : options_(options), random_(options.seed) {}

  int Run();

 private:
  // Programs.
  ChildResult Admin(const std::string& root, std::vector<std::string> args, bool mustSucceed = true);
  ChildResult Corvane(const Operation& op, const std::string& log, const std::string& faults = "");
  std::vector<std::string> CorvaneArgv(const Operation& op) const;
  std::vector<std::string> CorvaneEnv(const Operation& op, const std::string& log, const std::string& faults) const;
  void ReapOrphans();

  // The machines.
  void MakeBase();
  void StartTrial(const std::string& from);
  void Prepare(Operation& op, const std::function<void()>& arrange);
  std::vector<Operation> Operations();

  // Checks; each failure is counted and told.
  bool Check(bool ok, const std::string& what);
  bool Dump(const std::string& store, Contents* out, bool treeMayBeMissing = false);
  void CheckFiles(const Operation& op, const std::string& when, bool afterKill);
  bool Completed(Operation& op, const std::string& when);
  void Trial(Operation& op);

  std::string MutexRecord(const Operation& op) const;
  bool SameAsTemplate(const Operation& op, const std::string& path) const;
  void CheckUnchanged(const Operation& op, const std::string& when);

  Options options_;
  std::mt19937 random_;
  std::string work_, trial_, check_, corvane_;
  int failures_ = 0, runs_ = 0, checkStores_ = 0, prepared_ = 0;
  std::string context_;
};

ChildResult Campaign::Admin(const std::string& root, std::vector<std::string> args, bool mustSucceed) {
  args.insert(args.begin(), {BuiltProgram("mapiadmin"), "--root", root});
  ChildResult r = RunChild(args, {}, 120000);
  if (mustSucceed && r.exitCode != 0) throw SetupFailed("mapiadmin " + args[3] + " failed: " + r.output);
  return r;
}

std::vector<std::string> Campaign::CorvaneArgv(const Operation& op) const {
  std::vector<std::string> argv = {corvane_, "--quiet"};
  argv.insert(argv.end(), op.args.begin(), op.args.end());
  return argv;
}

std::vector<std::string> Campaign::CorvaneEnv(const Operation& op, const std::string& log,
                                              const std::string& faults) const {
  std::vector<std::string> env = testing_support::CopiedProgramEnv();
  env.push_back("CORVANE_PLATFORM_ROOT=" + op.root);
  env.push_back("CORVANE_DEBUGGER_OUTPUT=" + log);
  env.push_back("CORVANE_FAULTS=" + faults);
  return env;
}

ChildResult Campaign::Corvane(const Operation& op, const std::string& log, const std::string& faults) {
  ChildResult r = RunChild(CorvaneArgv(op), CorvaneEnv(op, log, faults), 300000);
  ReapOrphans();
  return r;
}

// A killed host leaves the registry editor it started running; it was
// handed to this process (a subreaper), which waits for it here.
void Campaign::ReapOrphans() {
  auto deadline = Clock::now() + std::chrono::seconds(60);
  for (;;) {
    pid_t pid = waitpid(-1, nullptr, WNOHANG);
    if (pid > 0) continue;
    if (pid < 0 || Clock::now() > deadline) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void Campaign::StartTrial(const std::string& from) {
  fs::remove_all(trial_);
  fs::copy(from, trial_, fs::copy_options::recursive);
}

// One machine with the profile "Outlook": "Mail" (the default store) and
// "Archive", filled with generated mail, attachments, calendar items and
// contacts.
void Campaign::MakeBase() {
  fs::remove_all(trial_);
  fs::create_directories(trial_ + "/files");
  std::string root = trial_ + "/root";
  Admin(root, {"install"});
  Admin(root, {"service", "add", "Outlook", "--type", "pst", "--name", "Mail", "--path", trial_ + "/files/Mail.pst",
               "--default"});
  Admin(root, {"service", "add", "Outlook", "--type", "pst", "--name", "Archive", "--path",
               trial_ + "/files/Archive.pst"});
  Admin(root, {"generate", "Outlook", "--store", "Mail", "--count", std::to_string(options_.messages), "--seed",
               std::to_string(options_.seed)});
  Admin(root, {"generate", "Outlook", "--store", "Archive", "--count", std::to_string(std::max(25, options_.messages / 5)),
               "--seed", std::to_string(options_.seed + 1)});
  fs::copy(trial_, work_ + "/base", fs::copy_options::recursive);
}

bool Campaign::Check(bool ok, const std::string& what) {
  if (!ok) {
    ++failures_;
    std::printf("FAILED %s: %s\n", context_.c_str(), what.c_str());
    std::fflush(stdout);
  }
  return ok;
}

// A store file's items, read through MAPI on a machine of its own, so that the
// trial's machine is not touched. A store made by a run that was killed before
// it validated the store's folder tree has none yet (the next run makes it);
// only after a kill may that be so.
bool Campaign::Dump(const std::string& store, Contents* out, bool treeMayBeMissing) {
  std::string name = "S" + std::to_string(++checkStores_);
  ChildResult added = Admin(check_, {"service", "add", "Check", "--type", "pst", "--name", name, "--path", store}, false);
  if (!Check(added.exitCode == 0, "the store " + store + " cannot be attached: " + added.output)) return false;
  ChildResult dump = Admin(check_, {"dump", "Check", "--store", name}, false);
  Admin(check_, {"service", "remove", "Check", "--name", name}, false);
  if (treeMayBeMissing && dump.exitCode != 0 &&
      dump.output.find("reading the store's folder tree failed (0x8004010F)") != std::string::npos)
    return true;
  if (!Check(dump.exitCode == 0, "the store " + store + " does not open through MAPI: " + dump.output)) return false;
  nlohmann::json parsed = nlohmann::json::parse(dump.output, nullptr, false);
  if (!Check(!parsed.is_discarded(), "the dump of " + store + " is no JSON")) return false;
  Collect(parsed["tree"], "", *out);
  return true;
}

// Every SQLite file of the trial passes the integrity check and every store
// file opens through MAPI; files the run left as they were are not read again.
void Campaign::CheckFiles(const Operation& op, const std::string& when, bool afterKill) {
  for (const auto& entry : fs::recursive_directory_iterator(trial_)) {
    if (!entry.is_regular_file()) continue;
    std::string path = entry.path().string();
    std::string ext = entry.path().extension().string();
    bool store = ext == ".pst", database = store || ext == ".db3" || entry.path().filename() == "registry.db";
    if (!database) continue;
    if (SameAsTemplate(op, path)) continue;
    int code = -1;
    std::string result = testing_support::Sqlite3(path, {"pragma integrity_check"}, &code);
    Check(code == 0 && result == "ok\n", when + ": " + path + " fails the integrity check: " + result);
    // The stores compared with a clean run's are read there.
    bool compared = !afterKill && std::find(op.results.begin(), op.results.end(), path) != op.results.end();
    if (store && !compared) {
      Contents ignored;
      Dump(path, &ignored, afterKill);
    }
  }
}

// The operation's files hold what a clean run leaves, and no temporary
// profile is left.
bool Campaign::Completed(Operation& op, const std::string& when) {
  bool ok = true;
  for (const std::string& store : op.results) {
    Contents now;
    if (!Dump(store, &now)) return false;
    std::string diff = Differences(op.expected[store], now);
    ok &= Check(diff.empty(), when + ": " + store + " differs from a clean run's:" + diff);
  }
  if (op.state) {
    std::string state = op.state();
    ok &= Check(state == op.expectedState, when + ": not what a clean run leaves:\n" + state + "\nwanted:\n" +
                                               op.expectedState);
  }
  ChildResult profiles = Admin(op.root, {"profile", "list"});
  ok &= Check(profiles.output.find("QorILantheTemp") == std::string::npos,
              when + ": a temporary profile is left: " + profiles.output);
  return ok;
}

// Whether a file of the trial is byte for byte as the operation's template
// holds it (and so needs no reading again).
bool Campaign::SameAsTemplate(const Operation& op, const std::string& path) const {
  std::string original = op.templateDir + path.substr(trial_.size());
  return fs::exists(original) && fs::exists(path) && fs::file_size(original) == fs::file_size(path) &&
         !fs::exists(path + "-wal") && ReadFileBytes(original) == ReadFileBytes(path);
}

// The stores the run only reads hold what they held.
void Campaign::CheckUnchanged(const Operation& op, const std::string& when) {
  for (const std::string& store : op.unchanged) {
    if (SameAsTemplate(op, store)) continue;
    Contents now;
    if (Dump(store, &now)) Check(Differences(op.before.at(store), now).empty(), when + ": the source " + store + " changed");
  }
}

// The owner record of the operation mutex: not empty after its holder died.
std::string Campaign::MutexRecord(const Operation& op) const {
  std::string dir = op.root + "/kernel/mutex";
  if (!fs::exists(dir)) return "";
  std::string record;
  for (const auto& entry : fs::directory_iterator(dir))
    if (entry.path().filename().string().find("OUTLOOKBACKUP") != std::string::npos &&
        entry.path().extension() == ".lock")
      record += ReadFileBytes(entry.path().string());
  return record;
}

// Arranges the trial folder for an operation (arrange), keeps it as the
// operation's template, and measures one clean run.
void Campaign::Prepare(Operation& op, const std::function<void()>& arrange) {
  StartTrial(work_ + "/base");
  if (arrange) arrange();
  op.templateDir = work_ + "/template-" + std::to_string(++prepared_);
  fs::remove_all(op.templateDir);
  fs::copy(trial_, op.templateDir, fs::copy_options::recursive);
  context_ = op.name + " set-up";
  for (const std::string& store : op.unchanged)
    if (!Dump(store, &op.before[store])) throw SetupFailed(op.name + ": the source cannot be read");
  for (const std::string& store : op.grown)
    if (!Dump(store, &op.before[store])) throw SetupFailed(op.name + ": a store cannot be read");
  for (const std::string& file : op.plainFiles) op.plainBefore[file] = ReadFileBytes(file);

  auto start = Clock::now();
  ChildResult clean = Corvane(op, trial_ + "/clean.log");
  op.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (clean.exitCode != 0) throw SetupFailed(op.name + ": a clean run failed: " + clean.output);
  for (const std::string& store : op.results)
    if (!Dump(store, &op.expected[store])) throw SetupFailed(op.name + ": a clean run's result cannot be read");
  if (op.state) op.expectedState = op.state();
  for (const auto& [result, origin] : op.covers) {
    std::string missing = Differences(op.before[origin], op.expected[result], true);
    if (!missing.empty() || Total(op.before[origin]) == 0)
      throw SetupFailed(op.name + ": a clean run does not copy everything:" + missing);
  }
  if (options_.verbose)
    std::printf("%s: a clean run takes %.2f s\n", op.name.c_str(), op.seconds);
}

std::vector<Operation> Campaign::Operations() {
  const std::string files = trial_ + "/files", root = trial_ + "/root";
  const std::string mail = files + "/Mail.pst", archive = files + "/Archive.pst";
  const std::string collection = trial_ + "/collection";
  const int items = options_.messages;
  std::vector<Operation> ops;
  // A store, and one end of the other stores' rows of the catalog.
  auto rows = [](const std::string& db) {
    return testing_support::Sqlite3(db, {"select * from category order by 1, 2", "select * from outlookfolder"});
  };
  // Profiles, services and accounts; a new store's identifier differs from
  // run to run.
  auto services = [this](const std::string& machine) {
    std::string text;
    for (std::vector<std::string> args : {std::vector<std::string>{"profile", "list", "--json"},
                                          {"service", "list", "Outlook", "--json"},
                                          {"account", "list", "Outlook", "--json"}}) {
      ChildResult r = Admin(machine, args, false);
      text += r.exitCode == 0 ? r.output : args[0] + " list fails: " + r.output;
    }
    return std::regex_replace(text, std::regex("\"uid\": \"[0-9a-f]*\""), "\"uid\": \"\"");
  };
  // The copy's steps of the profile set-up, the copy itself and the end.
  std::vector<Phase> copying = {
      {"any time", "", 0, 0},
      {"profile set-up", "IProfAdmin::CreateProfile", 1, 1},
      {"profile set-up", "IMsgServiceAdmin::ConfigureMsgService", 1, 2},
      // Inside the first configuration: the new store made, its folders not yet.
      {"store creation", "HrValidateIPMSubtree", 1, 1},
      {"copy", "IMAPIFolder::CopyMessages", 1, items * 9 / 10},
      {"profile clean-up", "IProfAdmin::DeleteProfile", 2, 2},
  };

  Operation backup;
  backup.name = "backup";
  backup.root = root;
  backup.args = {"backup", "Mail", files + "/Backup.pst"};
  backup.unchanged = {mail};
  backup.results = {files + "/Backup.pst"};
  backup.covers = {{files + "/Backup.pst", mail}};
  backup.phases = copying;
  Prepare(backup, nullptr);
  ops.push_back(std::move(backup));

  Operation sync;
  sync.name = "sync";
  sync.root = root;
  sync.args = {"sync", "Mail", "Archive", "--folder", "Inbox", "--folder", "Calendar", "--folder", "Contacts"};
  sync.grown = {mail, archive};
  sync.results = {mail, archive};
  sync.covers = {{mail, archive}, {archive, mail}};
  // Both stores are the profile's: no temporary profile, both prepared.
  sync.phases = {
      {"any time", "", 0, 0},
      {"store preparation", "HrValidateIPMSubtree", 1, 2},
      {"copy", "IMAPIFolder::CopyMessages", 1, items},
  };
  Prepare(sync, nullptr);
  ops.push_back(std::move(sync));

  Operation collect;
  collect.name = "collect";
  collect.root = root;
  collect.args = {"collect", "Mail", collection};
  collect.unchanged = {mail};
  collect.results = {collection + "/outlook.pst"};
  collect.state = [=] { return rows(collection + "/mail.db3"); };
  collect.covers = {{collection + "/outlook.pst", mail}};
  collect.phases = copying;
  // The catalog is written through the platform's file calls.
  collect.phases.push_back({"catalog write", "WriteFile", 1, 6});
  collect.phases.push_back({"catalog write", "FlushFileBuffers", 1, 3});
  Prepare(collect, [&] { fs::create_directories(collection); });
  ops.push_back(std::move(collect));

  // A second machine whose profile holds no store: the collection goes into
  // a new store that is then attached.
  Operation restore;
  restore.name = "restore";
  restore.root = trial_ + "/root2";
  restore.args = {"restore", collection};
  restore.unchanged = {collection + "/outlook.pst"};
  restore.results = {restore.root + "/Users/user/AppData/Roaming/restore.pst"};
  restore.state = [=] { return rows(collection + "/mail.db3") + services(restore.root); };
  restore.covers = {{restore.results[0], collection + "/outlook.pst"}};
  restore.phases = copying;
  restore.phases.push_back({"attach", "IMsgServiceAdmin::CreateMsgService", 3, 3});
  Prepare(restore, [&] {
    fs::create_directories(collection);
    Operation made = ops[2];
    if (Corvane(made, trial_ + "/collect.log").exitCode != 0) throw SetupFailed("restore: no collection");
    Admin(restore.root, {"install"});
  });
  ops.push_back(std::move(restore));

  // A new user without a profile "Outlook" gets the configuration of the first
  // machine, which has a POP3 and an IMAP account and an IMAP store.
  Operation config;
  config.name = "config restore";
  config.root = trial_ + "/root3";
  config.args = {"config", "restore", trial_ + "/config"};
  config.takesMutex = false;
  config.plainFiles = {trial_ + "/config/olconfig.reg", trial_ + "/config/oaconnect.reg"};
  config.state = [=] { return services(config.root); };
  config.phases = {
      {"any time", "", 0, 0},
      {"registry import", "WaitForSingleObject", 1, 1},
      {"registry import", "RegSetValueExW", 2, 60},
      {"account list", "RegRestoreKeyW", 1, 1},
      {"profile tidy-up", "IMsgServiceAdmin::DeleteMsgService", 1, 3},
      {"default store", "IMsgServiceAdmin::ConfigureMsgService", 1, 1},
  };
  Prepare(config, [&] {
    Admin(root, {"account", "add", "Outlook", "--kind", "pop", "--name", "Home", "--email", "me@example.com",
                 "--pop3-server", "pop.example.com", "--smtp-server", "smtp.example.com"});
    Admin(root, {"account", "add", "Outlook", "--kind", "imap", "--name", "Lists", "--email", "lists@example.com",
                 "--imap-server", "imap.example.com", "--smtp-server", "smtp.example.com"});
    Admin(root, {"service", "add", "Outlook", "--type", "imap", "--name", "Lists"});
    fs::create_directories(trial_ + "/config");
    Operation save;
    save.root = root;
    save.args = {"config", "save", trial_ + "/config"};
    if (Corvane(save, trial_ + "/save.log").exitCode != 0) throw SetupFailed("config restore: nothing saved");
    Admin(config.root, {"install"});
    Admin(config.root, {"profile", "delete", "Outlook"});
  });
  ops.push_back(std::move(config));

  // The first machine's configuration saved over an older save of it, made
  // before an account and a value of the account list were added.
  const std::string saved = trial_ + "/saved";
  const std::string profilesFile = saved + "/olconfig.reg", hiveFile = saved + "/oaconnect.reg";
  Operation save;
  save.name = "config save";
  save.root = root;
  save.args = {"config", "save", saved};
  save.takesMutex = false;
  auto pair = std::make_shared<std::map<std::string, std::string>>();
  // The folder's names, and which save each file of the pair comes from.
  save.state = [=] {
    std::string text;
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(saved)) names.insert(e.path().filename().string());
    for (const std::string& name : names) text += name + "\n";
    const std::string profiles = ReadFileBytes(profilesFile), hive = ReadFileBytes(hiveFile);
    text += profiles == pair->at("old profiles") ? "the old profiles\n" : "profiles:\n" + profiles;
    text += hive == pair->at("old hive") ? "the old hive\n" : hive.rfind("regf", 0) == 0 ? "a new hive\n" : "no hive\n";
    return text;
  };
  // Both files of one save, old or new. A save cut short between its two
  // moves has left the second file's whole temporary: the pair any reader
  // (the next save or a restore) takes is completed from it first.
  save.afterKill = [=] {
    std::string profiles = ReadFileBytes(profilesFile), hive = ReadFileBytes(hiveFile);
    if (!fs::exists(profilesFile + ".new") && fs::exists(hiveFile + ".new")) hive = ReadFileBytes(hiveFile + ".new");
    const bool old = profiles == pair->at("old profiles") && hive == pair->at("old hive");
    const bool made = profiles == pair->at("new profiles") && hive != pair->at("old hive") && hive.rfind("regf", 0) == 0;
    return old || made ? std::string() : "the saved configuration is no pair of one save";
  };
  save.phases = {
      {"any time", "", 0, 0},
      {"both exports written", "MoveFileExW", 1, 1},
      {"first file replaced", "MoveFileExW", 2, 2},
      {"second file replaced", "DeleteFileW", 1, 1},
  };
  Prepare(save, [&] {
    fs::create_directories(saved);
    Operation first = save;
    if (Corvane(first, trial_ + "/first-save.log").exitCode != 0) throw SetupFailed("config save: no first save");
    (*pair)["old profiles"] = ReadFileBytes(profilesFile);
    (*pair)["old hive"] = ReadFileBytes(hiveFile);
    Admin(root, {"account", "add", "Outlook", "--kind", "pop", "--name", "Work", "--email", "work@example.com",
                 "--pop3-server", "pop.example.com", "--smtp-server", "smtp.example.com"});
    const std::string script = trial_ + "/list.reg";
    WriteFileBytes(script, "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Office\\Outlook\\"
                           "Outlook 10 Accounts\\00000001]\r\n\"Account Name\"=\"Work\"\r\n");
    std::vector<std::string> env = testing_support::CopiedProgramEnv();
    env.push_back("CORVANE_PLATFORM_ROOT=" + root);
    ChildResult imported = RunChild({root + "/Windows/regedit.exe", "/s", script}, env);
    if (imported.exitCode != 0) throw SetupFailed("config save: the account list was not changed: " + imported.output);
    fs::remove(script);
  });
  (*pair)["new profiles"] = ReadFileBytes(profilesFile);
  if ((*pair)["new profiles"] == (*pair)["old profiles"]) throw SetupFailed("config save: the saves do not differ");
  ops.push_back(std::move(save));
  return ops;
}

// One kill: the run killed at a seeded point, the state it leaves checked,
// then run again until it completes.
void Campaign::Trial(Operation& op) {
  for (int attempt = 0; attempt < 8; ++attempt) {
    StartTrial(op.templateDir);
    const Phase& phase = op.phases[std::uniform_int_distribution<size_t>(0, op.phases.size() - 1)(random_)];
    std::string faults, point;
    ChildResult ended;
    if (phase.call.empty()) {
      double at = std::uniform_real_distribution<double>(0, op.seconds)(random_);
      point = "at " + std::to_string(at).substr(0, 5) + " s";
      Child run(CorvaneArgv(op), CorvaneEnv(op, trial_ + "/killed.log", ""));
      std::this_thread::sleep_for(std::chrono::duration<double>(at));
      run.Kill(SIGKILL);
      if (!run.Wait(60000, &ended)) throw SetupFailed(op.name + ": a killed run does not end");
    } else {
      int n = std::uniform_int_distribution<int>(phase.first, std::max(phase.first, phase.last))(random_);
      faults = phase.call + "=kill@" + std::to_string(n);
      point = "at call " + std::to_string(n) + " of " + phase.call;
      ended = Corvane(op, trial_ + "/killed.log", faults);
    }
    ReapOrphans();
    ++runs_;
    // A run that ended before its kill is no kill; another point is drawn. A
    // run whose registry editor was killed at the call (and which failed for
    // it) counts: the kill stopped the operation's own child.
    if (ended.signal != SIGKILL) {
      if (options_.verbose) std::printf("  %s %s: ended first (%d)\n", op.name.c_str(), point.c_str(), ended.exitCode);
      if (phase.call.empty() || ended.exitCode == 0) continue;
    }
    ++op.kills;
    ++op.killsByPhase[phase.name];
    context_ = op.name + " killed " + point + " (" + phase.name + ")";
    if (options_.verbose) std::printf("  %s\n", context_.c_str());

    std::string record = MutexRecord(op);
    CheckFiles(op, "after the kill", true);
    CheckUnchanged(op, "after the kill");
    for (const std::string& store : op.grown) {
      Contents now;
      if (Dump(store, &now)) {
        std::string lost = Differences(op.before[store], now, true);
        Check(lost.empty(), store + " lost items:" + lost);
      }
    }
    for (const auto& [file, bytes] : op.plainBefore) Check(ReadFileBytes(file) == bytes, file + " changed");
    if (op.afterKill) {
      std::string fault = op.afterKill();
      Check(fault.empty(), fault);
    }

    // The next run: failed by the abandoned mutex when the kill left it held.
    bool held = op.takesMutex && !record.empty();
    ChildResult next = Corvane(op, trial_ + "/next.log");
    size_t reported = Count(ReadFileBytes(trial_ + "/next.log"), kAbandoned);
    if (held) {
      Check(reported == 1, "the next run reported the abandoned mutex " + std::to_string(reported) + " times");
      Check(next.exitCode == 1, "the next run after an abandoned mutex ended with " + std::to_string(next.exitCode));
      next = Corvane(op, trial_ + "/last.log");
      reported = Count(ReadFileBytes(trial_ + "/last.log"), kAbandoned);
    }
    Check(reported == 0, "a completing run reported an abandoned mutex");
    if (Check(next.exitCode == 0, "the run after the kill did not complete: " + next.output)) {
      Completed(op, "after the run that completed");
      CheckFiles(op, "after the run that completed", false);
      CheckUnchanged(op, "after the run that completed");
    }
    return;
  }
  if (options_.verbose) std::printf("  %s: no kill landed\n", op.name.c_str());
}

int Campaign::Run() {
  auto start = Clock::now();
  // A killed host's children (the registry editor) come to this process.
  prctl(PR_SET_CHILD_SUBREAPER, 1);
  std::unique_ptr<testing_support::TempDir> temporary;
  if (options_.keep.empty()) {
    temporary = std::make_unique<testing_support::TempDir>();
    work_ = temporary->path();
  } else {
    work_ = fs::absolute(options_.keep).string();
    fs::remove_all(work_);
    fs::create_directories(work_);
  }
  trial_ = work_ + "/t";
  check_ = work_ + "/check";
  fs::create_directories(work_ + "/bin");
  // The host in a folder of its own, beside log settings that send every line
  // to the debugger output: the file each run names.
  corvane_ = testing_support::CopyProgramInto("corvane", work_ + "/bin");
  testing_support::WriteFileBytes(work_ + "/bin/corvane.ini", "[log section]\r\nlevel=0\r\nmedia=2\r\n");
  if (testing_support::Sqlite3Program().empty()) throw SetupFailed("the sqlite3 program is not installed");

  Admin(check_, {"install"});
  Admin(check_, {"profile", "create", "Check"});
  MakeBase();
  std::vector<Operation> ops = Operations();
  double setup = std::chrono::duration<double>(Clock::now() - start).count();
  if (options_.verbose) std::printf("set-up: %.1f s\n", setup);

  int kills = 0;
  for (int i = 0; kills < options_.kills; ++i) {
    double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    if (elapsed > options_.seconds) {
      std::printf("FAILED: out of time after %d of %d kills (%.0f s)\n", kills, options_.kills, elapsed);
      ++failures_;
      break;
    }
    Operation& op = ops[static_cast<size_t>(i) % ops.size()];
    int before = op.kills;
    Trial(op);
    kills += op.kills - before;
  }

  double took = std::chrono::duration<double>(Clock::now() - start).count();
  std::string per;
  for (const Operation& op : ops) {
    per += (per.empty() ? "" : ", ") + op.name + " " + std::to_string(op.kills);
    if (options_.verbose)
      for (const auto& [phase, n] : op.killsByPhase) std::printf("  %s / %s: %d\n", op.name.c_str(), phase.c_str(), n);
  }
  std::printf("kill campaign: seed %u, %d items, %d kills (%s), %d runs, failures %d, %.0f s\n", options_.seed,
              options_.messages, kills, per.c_str(), runs_, failures_, took);
  return failures_ == 0 ? 0 : 1;
}

int Usage(const char* program) {
  std::fprintf(stderr,
               "usage: %s [--seed N] [--kills N] [--seconds S] [--messages N] [--keep DIR] [--verbose]\n", program);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  Options options;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) throw std::invalid_argument(arg + " needs a value");
      return argv[++i];
    };
    try {
      if (arg == "--seed") {
        options.seed = static_cast<unsigned>(std::stoul(value()));
      } else if (arg == "--kills") {
        options.kills = std::stoi(value());
      } else if (arg == "--seconds") {
        options.seconds = std::stod(value());
      } else if (arg == "--messages") {
        options.messages = std::stoi(value());
      } else if (arg == "--keep") {
        options.keep = value();
      } else if (arg == "--verbose") {
        options.verbose = true;
      } else {
        return Usage(argv[0]);
      }
    } catch (const std::exception& e) {
      std::fprintf(stderr, "kill_campaign: %s\n", e.what());
      return Usage(argv[0]);
    }
  }
  if (options.kills < 0 || options.messages < 25 || options.seconds <= 0) return Usage(argv[0]);
  try {
    return Campaign(options).Run();
  } catch (const SetupFailed& e) {
    std::printf("FAILED: %s\n", e.what());
    return 1;
  }
}
