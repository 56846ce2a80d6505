// Processes: real children started with posix_spawn. A process handle and its
// thread handle share one record of the child; waits use a process descriptor
// (pidfd) where the kernel has them, short polls where it does not.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <filesystem>
#include <thread>

#include "handles.h"
#include "internal.h"
#include "kernel.h"

extern char** environ;

namespace fs = std::filesystem;

namespace standin {

void Fd::reset() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

}  // namespace standin

using namespace standin;

namespace {

using Clock = std::chrono::steady_clock;

class ProcessObject : public KernelObject {
 public:
  explicit ProcessObject(std::shared_ptr<ChildProcess> child) : child(std::move(child)) {}
  DWORD Wait(DWORD ms) override { return child->Wait(ms); }
  const std::shared_ptr<ChildProcess> child;
};

// The child's one thread ends with it.
class ThreadObject : public KernelObject {
 public:
  explicit ThreadObject(std::shared_ptr<ChildProcess> child) : child(std::move(child)) {}
  DWORD Wait(DWORD ms) override { return child->Wait(ms); }
  const std::shared_ptr<ChildProcess> child;
};

DWORD ExitCodeFromStatus(int status, bool terminated, UINT terminateCode) {
  if (WIFEXITED(status)) return static_cast<DWORD>(WEXITSTATUS(status));
  if (!WIFSIGNALED(status)) return 1;
  int sig = WTERMSIG(status);
  if (terminated && sig == SIGKILL) return terminateCode;
  switch (sig) {
    case SIGSEGV:
    case SIGBUS: return EXCEPTION_ACCESS_VIOLATION;
    case SIGILL: return EXCEPTION_ILLEGAL_INSTRUCTION;
    case SIGFPE: return EXCEPTION_INT_DIVIDE_BY_ZERO;
    case SIGABRT: return 3;
    default: return 128u + static_cast<DWORD>(sig);
  }
}

std::string ExecutableFolder() {
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : exe.parent_path().string();
}

// "x.exe" may be a program built as "x"; "x" without an extension may be "x.exe".
std::vector<std::string> NameVariants(const std::string& path) {
  std::vector<std::string> variants{path};
  size_t slash = path.rfind('/');
  std::string last = path.substr(slash == std::string::npos ? 0 : slash + 1);
  size_t dot = last.rfind('.');
  if (dot == std::string::npos)
    variants.push_back(path + ".exe");
  else if (dot > 0 && CompareNoCase(ToUtf16(last.substr(dot)), u".exe") == 0)
    variants.push_back(path.substr(0, path.size() - 4));
  return variants;
}

enum class Lookup { kFound, kMissing, kFolder };

Lookup LookupFile(const std::string& path, std::string* found) {
  bool folder = false;
  for (const std::string& candidate : NameVariants(path)) {
    struct stat st {};
    if (stat(candidate.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      folder = true;
      continue;
    }
    *found = candidate;
    return Lookup::kFound;
  }
  return folder ? Lookup::kFolder : Lookup::kMissing;
}

bool FindAtPath(std::u16string_view name, std::string* program) {
  std::string posix = ToPosixPath(name);
  if (posix.empty()) return Fail(ERROR_PATH_NOT_FOUND);
  std::error_code ec;
  // Relative to this process's folder, not the child's.
  posix = fs::absolute(posix, ec).lexically_normal().string();
  switch (LookupFile(posix, program)) {
    case Lookup::kFound: return true;
    case Lookup::kFolder: return Fail(ERROR_ACCESS_DENIED);
    case Lookup::kMissing: break;
  }
  return Fail(fs::is_directory(fs::path(posix).parent_path(), ec) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
}

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

std::vector<std::string> CurrentEnvironment() {
  std::vector<std::string> env;
  for (char** e = environ; e && *e; ++e) env.emplace_back(*e);
  return env;
}

bool HasVariable(const std::vector<std::string>& env, std::string_view name) {
  return std::any_of(env.begin(), env.end(), [&](const std::string& e) {
    return e.size() > name.size() && e.compare(0, name.size(), name) == 0 && e[name.size()] == '=';
  });
}

// An environment block: "NAME=value" strings, each terminated, and one more
// terminator. Entries without a name (the platform's "=C:=C:\" kind) are dropped.
std::vector<std::string> ParseEnvironmentBlock(LPVOID block, bool unicode) {
  std::vector<std::string> env;
  if (unicode) {
    for (auto* p = static_cast<const WCHAR*>(block); *p;) {
      std::u16string_view entry(p);
      env.push_back(ToUtf8(entry));
      p += entry.size() + 1;
    }
  } else {
    for (auto* p = static_cast<const char*>(block); *p;) {
      std::string_view entry(p);
      env.emplace_back(entry);
      p += entry.size() + 1;
    }
  }
  std::erase_if(env, [](const std::string& e) { return e.empty() || e[0] == '=' || e.find('=') == std::string::npos; });
  // The root is the machine itself, not a setting of the caller's: the child
  // stays on this machine whatever block it is given.
  if (!HasVariable(env, "CORVANE_PLATFORM_ROOT")) env.push_back("CORVANE_PLATFORM_ROOT=" + PlatformRoot());
  return env;
}

}  // namespace

namespace standin {

ChildProcess::ChildProcess(pid_t pid, Fd pidfd) : pid_(pid), pidfd_(std::move(pidfd)) {}

ChildProcess::~ChildProcess() {
  std::lock_guard<std::mutex> guard(mu_);
  if (Ended()) return;
  // Still running with no handle left: reap it when it ends.
  pid_t pid = pid_;
  std::thread([pid] {
    int status;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
}

bool ChildProcess::Ended() {
  if (ended_) return true;
  int status = 0;
  pid_t r;
  do r = waitpid(pid_, &status, WNOHANG);
  while (r < 0 && errno == EINTR);
  if (r == 0) return false;
  ended_ = true;
  // Reaped by someone else (ECHILD): its status is lost; it reports 255.
  status_ = r == pid_ ? status : (255 << 8);
  return true;
}

DWORD ChildProcess::Wait(DWORD ms) {
  const bool forever = ms == INFINITE;
  const auto deadline = Clock::now() + std::chrono::milliseconds(forever ? 0 : ms);
  auto pause = std::chrono::milliseconds(1);
  for (;;) {
    {
      std::lock_guard<std::mutex> guard(mu_);
      if (Ended()) return WAIT_OBJECT_0;
    }
    auto left = std::chrono::milliseconds(-1);
    if (!forever) {
      auto now = Clock::now();
      if (now >= deadline) return WAIT_TIMEOUT;
      left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
    }
    if (pidfd_) {
      // Readable once the child has ended.
      struct pollfd p {pidfd_.get(), POLLIN, 0};
      int timeout = left.count() < 0 ? -1 : static_cast<int>(std::min<long long>(left.count(), INT_MAX));
      poll(&p, 1, timeout);
    } else {
      std::this_thread::sleep_for(left.count() < 0 ? pause : std::min(pause, left));
      pause = std::min(pause * 2, std::chrono::milliseconds(10));
    }
  }
}

DWORD ChildProcess::ExitCode() {
  std::lock_guard<std::mutex> guard(mu_);
  if (!Ended()) return STILL_ACTIVE;
  return ExitCodeFromStatus(status_, terminated_, terminateCode_);
}

bool ChildProcess::Terminate(UINT code) {
  std::lock_guard<std::mutex> guard(mu_);
  if (Ended()) return false;
  // The first request names the exit code, as on the platform.
  if (!terminated_) {
    terminated_ = true;
    terminateCode_ = code;
  }
  kill(pid_, SIGKILL);  // not reaped yet, so the pid is still this child's
  return true;
}

HANDLE NewProcessHandle(std::shared_ptr<ChildProcess> child) {
  return NewHandle(std::make_shared<ProcessObject>(std::move(child)));
}

HANDLE NewThreadHandle(std::shared_ptr<ChildProcess> child) {
  return NewHandle(std::make_shared<ThreadObject>(std::move(child)));
}

std::shared_ptr<ChildProcess> LookupChildProcess(HANDLE process) {
  auto object = LookupHandleAs<ProcessObject>(process);
  return object ? object->child : nullptr;
}

bool FindProgram(std::u16string_view name, bool search, std::string* program) {
  if (name.empty()) return Fail(ERROR_FILE_NOT_FOUND);
  if (!search || name.find_first_of(u"\\/:") != std::u16string_view::npos) return FindAtPath(name, program);
  std::error_code ec;
  const std::string folders[] = {ExecutableFolder(), fs::current_path(ec).string(), RootPath("Windows/System32"),
                                 RootPath("Windows")};
  const std::string base = ToUtf8(name);
  for (const std::string& folder : folders) {
    if (!folder.empty() && LookupFile(folder + "/" + base, program) == Lookup::kFound) return true;
  }
  return Fail(ERROR_FILE_NOT_FOUND);
}

bool FindProgramOfCommandLine(std::u16string_view line, std::string* program) {
  size_t start = 0;
  while (start < line.size() && IsBlank(line[start])) ++start;
  if (start < line.size() && line[start] == u'"') {
    size_t close = line.find(u'"', start + 1);
    size_t end = close == std::u16string_view::npos ? line.size() : close;
    return FindProgram(line.substr(start + 1, end - start - 1), true, program);
  }
  // Unquoted, a path with spaces is ambiguous: the platform tries the text up to
  // each blank in turn, shortest first. A failure reports the first token's error.
  DWORD firstError = 0;
  for (size_t cut = start;;) {
    cut = line.find_first_of(u" \t", cut);
    std::u16string_view candidate = line.substr(start, cut == std::u16string_view::npos ? cut : cut - start);
    if (!candidate.empty() && !IsBlank(candidate.back())) {
      if (FindProgram(candidate, true, program)) return true;
      if (!firstError) firstError = GetLastError();
    }
    if (cut == std::u16string_view::npos) break;
    ++cut;
  }
  return Fail(firstError ? firstError : ERROR_FILE_NOT_FOUND);
}

bool IsProgramFile(const std::string& path) {
  Fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return FailFromErrno();
  char head[4] = {};
  ssize_t n = read(fd.get(), head, sizeof head);
  bool elf = n == 4 && std::memcmp(head, "\x7f" "ELF", 4) == 0;
  bool script = n >= 2 && head[0] == '#' && head[1] == '!';
  if (!elf && !script) return Fail(ERROR_BAD_EXE_FORMAT);
  if (access(path.c_str(), X_OK) != 0) return Fail(ERROR_ACCESS_DENIED);
  return true;
}

std::shared_ptr<ChildProcess> StartChildProcess(const std::string& program, std::u16string_view commandLine,
                                                const std::string& directory,
                                                const std::vector<std::string>* environment) {
  std::vector<std::string> args;
  for (const std::u16string& arg : SplitCommandLine(commandLine)) args.push_back(ToUtf8(arg));
  if (args.empty()) args.push_back(program);
  std::vector<std::string> env = environment ? *environment : CurrentEnvironment();
  std::erase_if(env, [](const std::string& e) { return e.rfind("CORVANE_COMMAND_LINE=", 0) == 0; });
  env.push_back("CORVANE_COMMAND_LINE=" + ToUtf8(commandLine));

  std::vector<char*> argv, envp;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!directory.empty()) posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
  // Only the standard streams: this process's descriptors are not the child's.
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  // A new process starts with default signal handling and nothing blocked.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t all, none;
  sigfillset(&all);
  sigdelset(&all, SIGKILL);
  sigdelset(&all, SIGSTOP);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

  pid_t pid = 0;
  int rc = posix_spawn(&pid, program.c_str(), &actions, &attr, argv.data(), envp.data());
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return Fail(ErrorFromErrno(rc)), nullptr;
  Fd pidfd(static_cast<int>(syscall(SYS_pidfd_open, pid, 0)));
  return std::make_shared<ChildProcess>(pid, std::move(pidfd));
}

}  // namespace standin

extern "C" {

BOOL WINAPI CreateProcessW(LPCWSTR application, LPWSTR commandLine, LPSECURITY_ATTRIBUTES processSa,
                           LPSECURITY_ATTRIBUTES threadSa, BOOL inheritHandles, DWORD flags, LPVOID environment,
                           LPCWSTR currentDirectory, LPSTARTUPINFOW startup, LPPROCESS_INFORMATION info) {
  if (FaultedWithLastError("CreateProcessW")) return FALSE;
  const bool hasApplication = application && *application;
  if (!info || (!hasApplication && !commandLine)) return Fail(ERROR_INVALID_PARAMETER);
  // Without a command line the application name is the command line.
  const std::u16string line = commandLine ? commandLine : application;
  std::string program;
  bool found = hasApplication ? FindProgram(application, false, &program) : FindProgramOfCommandLine(line, &program);
  if (!found || !IsProgramFile(program)) return FALSE;
  std::string directory;
  if (currentDirectory) {
    std::error_code ec;
    if (!PosixFromArg(currentDirectory, &directory) || !fs::is_directory(directory, ec))
      return Fail(ERROR_DIRECTORY);
    directory = fs::absolute(directory, ec).string();
  }
  std::vector<std::string> env;
  if (environment) env = ParseEnvironmentBlock(environment, (flags & CREATE_UNICODE_ENVIRONMENT) != 0);
  auto child = StartChildProcess(program, line, directory, environment ? &env : nullptr);
  if (!child) return FALSE;
  // The main thread of a Linux process has the process's id.
  info->dwProcessId = info->dwThreadId = static_cast<DWORD>(child->pid());
  info->hThread = NewThreadHandle(child);
  info->hProcess = NewProcessHandle(std::move(child));
  return TRUE;
}

BOOL WINAPI GetExitCodeProcess(HANDLE process, LPDWORD code) {
  if (FaultedWithLastError("GetExitCodeProcess")) return FALSE;
  if (!code) return Fail(ERROR_INVALID_PARAMETER);
  if (process == GetCurrentProcess()) {
    *code = STILL_ACTIVE;
    return TRUE;
  }
  auto child = LookupChildProcess(process);
  if (!child) return FALSE;
  *code = child->ExitCode();
  return TRUE;
}

BOOL WINAPI TerminateProcess(HANDLE process, UINT code) {
  if (FaultedWithLastError("TerminateProcess")) return FALSE;
  if (process == GetCurrentProcess()) _exit(static_cast<int>(code & 0xFF));
  auto child = LookupChildProcess(process);
  if (!child) return FALSE;
  // The platform refuses to terminate a process that has already ended.
  if (!child->Terminate(code)) return Fail(ERROR_ACCESS_DENIED);
  return TRUE;
}

DWORD WINAPI GetProcessId(HANDLE process) {
  if (FaultedWithLastError("GetProcessId")) return 0;
  if (process == GetCurrentProcess()) return GetCurrentProcessId();
  auto child = LookupChildProcess(process);
  return child ? static_cast<DWORD>(child->pid()) : 0;
}

}  // extern "C"
