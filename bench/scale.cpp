// The scale benchmark: stores of 10^3, 10^4 and 10^5 generated messages, and
// on the same files, side by side in one run:
//   - a full backup into a new store, against `cp` of the store file and the
//     `sqlite3` program's `.backup` of it (the two limits for moving the bytes);
//   - an incremental backup after 1% new messages, against `rsync` of the
//     store file onto the previous copy; and a backup that finds nothing new;
//   - a synchronisation of two stores that differ by 1% in each direction;
//   - the floor of copying with one commit per message (as the stores did
//     before they grouped commits):
//     the `sqlite3` program writing as many transactions of one average
//     message's bytes each into a new database;
//   - a real file: a backup of the largest .pst of the test data, against
//     Debian's `pffexport` writing every item of it out.
// Every operation runs as a child process (the `corvane` host, the admin tool,
// the system's programs), so its peak memory is the child's own.
//
// Usage: scale_bench [--sizes 1000,10000,100000] [--work DIR] [--json FILE] [--keep] [--testdata DIR]
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

// The allowance for peak memory: a fixed part plus this much per row of the
// largest folder's contents table.
constexpr double kBaseMiB = 64;
constexpr double kRowBytes = 256;

struct Result {
  double seconds = 0;
  double peakMiB = 0;
  std::string out;
};

fs::path g_bin;    // where corvane and mapiadmin are
fs::path g_root;   // the platform root of the size in hand

// Runs a program as a child, its standard output captured; throws when it fails.
Result Run(const std::vector<std::string>& args) {
  int pipefd[2];
  if (pipe(pipefd) != 0) throw std::runtime_error("pipe failed");
  auto started = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    dup2(pipefd[1], 1);
    close(pipefd[0]);
    close(pipefd[1]);
    setenv("CORVANE_PLATFORM_ROOT", g_root.c_str(), 1);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    std::perror(argv[0]);
    _exit(127);
  }
  close(pipefd[1]);
  Result r;
  char buf[4096];
  for (ssize_t n; (n = read(pipefd[0], buf, sizeof buf)) > 0;) r.out.append(buf, static_cast<size_t>(n));
  close(pipefd[0]);
  int status = 0;
  struct rusage usage {};
  if (wait4(pid, &status, 0, &usage) != pid) throw std::runtime_error("wait failed");
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  r.peakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::string line;
    for (const std::string& a : args) line += a + " ";
    throw std::runtime_error("failed: " + line + "\n" + r.out);
  }
  return r;
}

std::string Bin(const char* name) { return (g_bin / name).string(); }

Result Admin(std::vector<std::string> args) {
  args.insert(args.begin(), Bin("mapiadmin"));
  return Run(args);
}

Result Corvane(std::vector<std::string> args) {
  args.insert(args.begin(), Bin("corvane"));
  args.push_back("--quiet");
  return Run(args);
}

// Writes what the write-ahead log holds into the file, so that copying the
// file alone copies the store.
void Checkpoint(const fs::path& store) { Run({"sqlite3", store.string(), "PRAGMA wal_checkpoint(TRUNCATE);"}); }

json Generate(const std::string& store, long count, long first, int seed) {
  return json::parse(Admin({"generate", "Outlook", "--store", store, "--count", std::to_string(count), "--first",
                            std::to_string(first), "--seed", std::to_string(seed), "--json"})
                         .out);
}

double Num(const json& j) { return j.get<double>(); }

json Op(const Result& r) { return {{"seconds", r.seconds}, {"peakMiB", r.peakMiB}}; }

// count transactions of bytes each, as a store file is written (WAL, NORMAL).
Result CommitFloor(const fs::path& dir, long count, long bytes) {
  const fs::path script = dir / "floor.sql", db = dir / "floor.db";
  {
    std::ofstream out(script);
    out << "PRAGMA journal_mode=WAL;\nPRAGMA synchronous=NORMAL;\nPRAGMA wal_autocheckpoint=8192;\n"
           "CREATE TABLE t(id INTEGER PRIMARY KEY, v BLOB);\n";
    for (long i = 0; i < count; ++i)
      out << "BEGIN IMMEDIATE; INSERT INTO t(v) VALUES(randomblob(" << bytes << ")); COMMIT;\n";
  }
  return Run({"sqlite3", db.string(), ".read '" + script.string() + "'"});
}

json MeasureSize(const fs::path& work, long n) {
  const fs::path dir = work / std::to_string(n);
  fs::remove_all(dir);
  fs::create_directories(dir);
  g_root = dir / "machine";
  const fs::path mail = dir / "mail.pst", full = dir / "full.pst", cpCopy = dir / "cp.pst", sqCopy = dir / "sqlite.pst";
  const long onePercent = std::max(1L, n / 100);
  json out = {{"messages", n}};

  std::fprintf(stderr, "%ld: generating\n", n);
  Admin({"install"});
  Admin({"service", "add", "Outlook", "--type", "pst", "--name", "Mail", "--path", mail.string(), "--default"});
  json made = Generate("Mail", n, 0, 1);
  Checkpoint(mail);
  out["generate"] = {{"seconds", made["seconds"]}};
  out["mailBytes"] = made["mailBytes"];
  out["mailMessages"] = made["mail"];
  out["storeBytes"] = static_cast<double>(fs::file_size(mail));

  std::fprintf(stderr, "%ld: full backup, cp, sqlite3 .backup\n", n);
  out["full"] = Op(Corvane({"backup", mail.string(), full.string()}));
  out["cp"] = Op(Run({"cp", mail.string(), cpCopy.string()}));
  out["sqlite3"] = Op(Run({"sqlite3", mail.string(), ".backup '" + sqCopy.string() + "'"}));
  out["commitFloor"] = Op(CommitFloor(dir, n, static_cast<long>(Num(out["storeBytes"]) / static_cast<double>(n))));

  std::fprintf(stderr, "%ld: 1%% new, incremental backup, rsync, nothing new\n", n);
  Generate("Mail", onePercent, n, 1);
  Checkpoint(mail);
  out["rsync"] = Op(Run({"rsync", "-a", mail.string(), cpCopy.string()}));
  out["incremental"] = Op(Corvane({"backup", mail.string(), full.string()}));
  out["nothingNew"] = Op(Corvane({"backup", mail.string(), full.string()}));

  std::fprintf(stderr, "%ld: 1%% new on each side, sync\n", n);
  Admin({"service", "add", "Outlook", "--type", "pst", "--name", "Copy", "--path", full.string()});
  Generate("Mail", onePercent, n + onePercent, 1);
  Generate("Copy", onePercent, n + onePercent, 2);
  out["sync"] = Op(Corvane({"sync", mail.string(), full.string()}));
  return out;
}

// The largest real file of the test data, backed up and exported; null when
// there is none.
json MeasureRealFile(const fs::path& work, const fs::path& testdata) {
  fs::path largest;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(testdata / "pst", ec))
    if (entry.path().extension() == ".pst" && (largest.empty() || entry.file_size() > fs::file_size(largest)))
      largest = entry.path();
  if (largest.empty()) return nullptr;
  const fs::path dir = work / "real";
  fs::remove_all(dir);
  fs::create_directories(dir);
  g_root = dir / "machine";
  // A copy: the test data is never written, not even by a reader's lock.
  const fs::path source = dir / largest.filename();
  fs::copy_file(largest, source);
  std::fprintf(stderr, "real file %s: backup, pffexport\n", largest.filename().c_str());
  Admin({"install"});
  json out = {{"file", largest.filename().string()}, {"bytes", static_cast<double>(fs::file_size(source))}};
  out["backup"] = Op(Corvane({"backup", source.string(), (dir / "backup.pst").string()}));
  out["pffexport"] = Op(Run({"pffexport", "-q", "-m", "items", "-t", (dir / "export").string(), source.string()}));
  return out;
}

std::string Fmt(const char* format, double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, v);
  return buf;
}

void PrintRow(const std::vector<std::string>& cells, const std::vector<int>& widths) {
  std::string line;
  for (size_t i = 0; i < cells.size(); ++i) {
    std::string c = cells[i];
    int w = widths[i];
    line += (i == 0 ? "" : "  ") + std::string(std::max(0, w - static_cast<int>(c.size())), ' ') + c;
  }
  std::printf("%s\n", line.c_str());
}

// The ratios and targets, then the times and memory, as one table each.
json Report(json& sizes) {
  const json& small = sizes.front();
  const json& large = sizes.back();
  for (json& s : sizes) {
    double n = Num(s["messages"]);
    s["ratios"] = {
        {"fullVsSqlite3", Num(s["full"]["seconds"]) / Num(s["sqlite3"]["seconds"])},
        {"fullVsCp", Num(s["full"]["seconds"]) / Num(s["cp"]["seconds"])},
        {"commitFloorVsSqlite3", Num(s["commitFloor"]["seconds"]) / Num(s["sqlite3"]["seconds"])},
        {"incrementalVsRsync", Num(s["incremental"]["seconds"]) / Num(s["rsync"]["seconds"])},
        {"storeVsMail", Num(s["storeBytes"]) / Num(s["mailBytes"])},
        {"nothingNewVsRsync", Num(s["nothingNew"]["seconds"]) / Num(s["rsync"]["seconds"])},
        {"syncVsRsync", Num(s["sync"]["seconds"]) / Num(s["rsync"]["seconds"])},
    };
    s["microsecondsPerMessage"] = {{"full", Num(s["full"]["seconds"]) * 1e6 / n},
                                   {"sync", Num(s["sync"]["seconds"]) * 1e6 / n},
                                   {"generate", Num(s["generate"]["seconds"]) * 1e6 / n}};
    double peak = 0;
    for (const char* op : {"full", "incremental", "nothingNew", "sync"}) peak = std::max(peak, Num(s[op]["peakMiB"]));
    s["peakMiB"] = peak;
    s["peakAllowanceMiB"] = kBaseMiB + Num(s["mailMessages"]) * kRowBytes / (1024.0 * 1024.0);
  }
  double growth = Num(large["microsecondsPerMessage"]["full"]) / Num(small["microsecondsPerMessage"]["full"]);

  std::printf("\nRatios (targets at the largest size in brackets)\n");
  std::vector<int> w = {9, 14, 14, 10, 12, 21, 12, 12, 18};
  PrintRow({"messages", "full/sqlite3", "floor/sqlite3", "full/cp", "incr/rsync", "nothing new (/rsync)",
            "sync/rsync", "store/mail", "peak/allowance"},
           w);
  PrintRow({"", "[<= 3]", "", "", "[<= 0.5]", "[<= 0.3 s (0.4)]", "[<= 1]", "[<= 1.2]", "[<= 1]"}, w);
  for (const json& s : sizes)
    PrintRow({std::to_string(s["messages"].get<long>()), Fmt("%.2f", Num(s["ratios"]["fullVsSqlite3"])),
              Fmt("%.2f", Num(s["ratios"]["commitFloorVsSqlite3"])), Fmt("%.1f", Num(s["ratios"]["fullVsCp"])),
              Fmt("%.2f", Num(s["ratios"]["incrementalVsRsync"])),
              Fmt("%.2f s", Num(s["nothingNew"]["seconds"])) + Fmt(" (%.2f)", Num(s["ratios"]["nothingNewVsRsync"])),
              Fmt("%.2f", Num(s["ratios"]["syncVsRsync"])), Fmt("%.2f", Num(s["ratios"]["storeVsMail"])),
              Fmt("%.0f", Num(s["peakMiB"])) + "/" + Fmt("%.0f MiB", Num(s["peakAllowanceMiB"]))},
             w);
  std::printf("floor: one commit per message of an average message's bytes\n");
  std::printf("time per message, full backup, %ld -> %ld messages: x%.2f [<= 1.2]\n",
              small["messages"].get<long>(), large["messages"].get<long>(), growth);

  std::printf("\nSeconds (peak MiB)\n");
  std::vector<int> w2 = {9, 9, 15, 12, 12, 14, 15, 12, 14, 15, 12, 9};
  PrintRow({"messages", "store MB", "full", "cp", "sqlite3", "floor", "incremental", "rsync", "nothing new", "sync",
            "us/msg full", "generate"},
           w2);
  auto cell = [](const json& op) {
    return Fmt("%.2f", Num(op["seconds"])) + " (" + Fmt("%.0f", Num(op["peakMiB"])) + ")";
  };
  for (const json& s : sizes)
    PrintRow({std::to_string(s["messages"].get<long>()), Fmt("%.0f", Num(s["storeBytes"]) / 1e6), cell(s["full"]),
              cell(s["cp"]), cell(s["sqlite3"]), cell(s["commitFloor"]), cell(s["incremental"]), cell(s["rsync"]),
              cell(s["nothingNew"]), cell(s["sync"]), Fmt("%.0f", Num(s["microsecondsPerMessage"]["full"])),
              Fmt("%.1f", Num(s["generate"]["seconds"]))},
             w2);
  return {{"perMessageGrowthFull", growth}};
}

void ReportRealFile(const json& real) {
  if (real.is_null()) {
    std::printf("\nreal file: none in the test data\n");
    return;
  }
  std::printf("\nReal file %s (%.1f MB): backup %.2f s (%.0f MiB), pffexport %.2f s (%.0f MiB), backup/pffexport %.2f\n",
              real["file"].get<std::string>().c_str(), Num(real["bytes"]) / 1e6, Num(real["backup"]["seconds"]),
              Num(real["backup"]["peakMiB"]), Num(real["pffexport"]["seconds"]), Num(real["pffexport"]["peakMiB"]),
              Num(real["backup"]["seconds"]) / Num(real["pffexport"]["seconds"]));
}

std::vector<long> ParseSizes(const std::string& text) {
  std::vector<long> sizes;
  size_t at = 0;
  while (at <= text.size()) {
    size_t comma = text.find(',', at);
    std::string part = text.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
    char* end = nullptr;
    long v = std::strtol(part.c_str(), &end, 10);
    if (part.empty() || *end || v < 1) throw std::invalid_argument("--sizes wants numbers like 1000,10000");
    sizes.push_back(v);
    if (comma == std::string::npos) break;
    at = comma + 1;
  }
  return sizes;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<long> sizes = {1000, 10000, 100000};
  fs::path work = fs::temp_directory_path() / "corvane-scale-bench";
  fs::path jsonPath = "scale-bench.json";
  bool keep = false;
  const char* named = std::getenv("CORVANE_TESTDATA");
  fs::path testdata = named && *named ? named : CORVANE_TESTDATA_DIR;
  try {
    for (int i = 1; i < argc; ++i) {
      std::string a = argv[i];
      auto value = [&]() -> std::string {
        if (i + 1 >= argc) throw std::invalid_argument(a + " wants a value");
        return argv[++i];
      };
      if (a == "--sizes") sizes = ParseSizes(value());
      else if (a == "--work") work = value();
      else if (a == "--json") jsonPath = value();
      else if (a == "--keep") keep = true;
      else if (a == "--testdata") testdata = value();
      else
        throw std::invalid_argument(
            "usage: scale_bench [--sizes 1000,10000,100000] [--work DIR] [--json FILE] [--keep] [--testdata DIR]");
    }
    g_bin = fs::canonical("/proc/self/exe").parent_path();
    json results = json::array();
    for (long n : sizes) results.push_back(MeasureSize(work, n));
    json summary = Report(results);
    json real = MeasureRealFile(work, testdata);
    ReportRealFile(real);
    json all = {{"sizes", results}, {"summary", summary}, {"realFile", real}};
    std::ofstream(jsonPath) << all.dump(2) << "\n";
    std::printf("\nwritten to %s\n", jsonPath.c_str());
    if (!keep) fs::remove_all(work);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "scale_bench: %s\n", e.what());
    return 1;
  }
  return 0;
}
