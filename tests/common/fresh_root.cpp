#include "common/fresh_root.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <thread>

#include <standin/fault.h>
#include <standin/root.h>

extern char** environ;

namespace fs = std::filesystem;

namespace testing_support {

namespace {
std::string MakeTempDir(const char* prefix) {
  std::string tmpl = (fs::temp_directory_path() / (std::string(prefix) + "XXXXXX")).string();
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  return tmpl;
}
}  // namespace

void UseRoot(const std::string& root) {
  setenv("CORVANE_PLATFORM_ROOT", root.c_str(), 1);
  unsetenv("CORVANE_FAULTS");
  unsetenv("CORVANE_FAKE_TIME");
  unsetenv("CORVANE_DEBUGGER_OUTPUT");
  standin::ClearAllFaults();
  standin::SetSystemTimeOverride(nullptr);
}

void FreshRoot::SetUp() {
  root_ = MakeTempDir("corvane-root-");
  UseRoot(root_);
}

void FreshRoot::TearDown() {
  standin::ClearAllFaults();
  standin::SetSystemTimeOverride(nullptr);
  if (!std::getenv("CORVANE_KEEP_ROOT")) {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
}

TempDir::TempDir() : path_(MakeTempDir("corvane-tmp-")) {}
TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::string BinDir() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return ".";
  return fs::path(std::string(buf, static_cast<size_t>(n))).parent_path().string();
}

std::string BuiltProgram(const std::string& name) { return BinDir() + "/" + name; }

std::string CopyProgramInto(const std::string& name, const std::string& folder) {
  std::string copy = folder + "/" + name;
  fs::copy_file(BuiltProgram(name), copy, fs::copy_options::overwrite_existing);
  return copy;
}

std::vector<std::string> CopiedProgramEnv() { return {"LD_LIBRARY_PATH=" + BinDir()}; }

Child::Child(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
  char tmpl[] = "/tmp/corvane-child-XXXXXX";
  int fd = mkstemp(tmpl);
  if (fd < 0) throw std::runtime_error("mkstemp failed");
  outputFile_ = tmpl;
  std::vector<std::string> envStore;
  for (char** e = environ; *e; ++e) envStore.emplace_back(*e);
  for (const auto& e : env) {
    std::string name = e.substr(0, e.find('='));
    std::erase_if(envStore, [&](const std::string& x) { return x.compare(0, name.size() + 1, name + "=") == 0; });
    envStore.push_back(e);
  }
  std::vector<char*> args, envp;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  for (auto& e : envStore) envp.push_back(e.data());
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fd, 1);
  posix_spawn_file_actions_adddup2(&actions, fd, 2);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  pid_t pid;
  int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(fd);
  if (rc != 0) throw std::runtime_error("cannot start " + argv[0]);
  pid_ = pid;
}

Child::~Child() {
  if (!done_ && pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  unlink(outputFile_.c_str());
}

bool Child::Wait(int timeoutMs, ChildResult* result) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  int status = 0;
  for (;;) {
    pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) break;
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  done_ = true;
  if (result) {
    result->exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result->signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    result->output = Output();
  }
  return true;
}

void Child::Kill(int sig) { kill(pid_, sig); }

std::string Child::Output() const { return ReadFileBytes(outputFile_); }

ChildResult RunChild(const std::vector<std::string>& argv, const std::vector<std::string>& env, int timeoutMs) {
  Child child(argv, env);
  ChildResult result;
  if (!child.Wait(timeoutMs, &result)) {
    child.Kill(SIGKILL);
    child.Wait(5000, &result);
    result.exitCode = -1;
    result.output += "\n[test: child timed out]";
  }
  return result;
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

bool WaitUntil(const std::function<bool()>& pred, int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

ChildResult FreshRoot::Admin(std::vector<std::string> args) const {
  args.insert(args.begin(), BuiltProgram("mapiadmin"));
  return RunChild(args, {}, 120000);
}

std::string FreshRoot::Ok(std::vector<std::string> args) const {
  ChildResult r = Admin(args);
  EXPECT_EQ(r.exitCode, 0) << (args.empty() ? "" : args[0]) << ": " << r.output;
  return r.output;
}

std::filesystem::path TestData() {
  // Beside the repository, unless the run names another place.
  const char* elsewhere = std::getenv("CORVANE_TESTDATA");
  return std::filesystem::path(elsewhere && *elsewhere ? elsewhere : CORVANE_TESTDATA_DIR).lexically_normal();
}

bool TestDataRequired() {
  const char* ci = std::getenv("CI");
  return ci && std::string(ci) == "true";
}

}  // namespace testing_support
