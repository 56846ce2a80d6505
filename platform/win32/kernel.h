// Pieces shared by the stand-in's kernel objects: mutexes, processes and the
// shell that starts programs.
#pragma once

#include <sys/types.h>

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <windows.h>

namespace standin {

// One owned POSIX file descriptor.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() { reset(); }
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  void reset();

 private:
  int fd_ = -1;
};

// The command line split by the platform's rules (those of CommandLineToArgvW).
std::vector<std::u16string> SplitCommandLine(std::u16string_view line);

// A started child process, shared by its process and thread handles. The last
// reference reaps it, at once or, while it still runs, from a reaper thread.
class ChildProcess {
 public:
  ChildProcess(pid_t pid, Fd pidfd);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const { return pid_; }
  // WAIT_OBJECT_0 once the child has ended (reaping it), else WAIT_TIMEOUT after ms.
  DWORD Wait(DWORD ms);
  // STILL_ACTIVE while it runs.
  DWORD ExitCode();
  // False when the child has already ended.
  bool Terminate(UINT code);

 private:
  bool Ended();  // reaps when it can; mu_ held

  const pid_t pid_;
  const Fd pidfd_;  // none where the kernel has no process descriptors
  std::mutex mu_;
  bool ended_ = false;
  int status_ = 0;            // from waitpid, once ended
  bool terminated_ = false;   // TerminateProcess sent SIGKILL
  UINT terminateCode_ = 0;
};

// Finds the program a command line names: its first token, tried the way the
// platform tries an unquoted path with spaces. False with the last error set
// when there is none.
bool FindProgramOfCommandLine(std::u16string_view commandLine, std::string* program);
// One name: with search, a bare name is looked for in the host's folder, the
// current folder, the root's Windows\System32 and Windows folders; otherwise
// (and for any name with a folder) relative to the current folder only.
bool FindProgram(std::u16string_view name, bool search, std::string* program);

// Starts program with the command line (split into its arguments, and passed
// whole in CORVANE_COMMAND_LINE). directory: POSIX folder, empty to inherit.
// environment: "NAME=value" entries, or null to inherit this process's.
// Null with the last error set on failure; nothing is left running then.
std::shared_ptr<ChildProcess> StartChildProcess(const std::string& program, std::u16string_view commandLine,
                                                const std::string& directory,
                                                const std::vector<std::string>* environment);

// Handles to a child: its process and its (only) thread.
HANDLE NewProcessHandle(std::shared_ptr<ChildProcess> child);
HANDLE NewThreadHandle(std::shared_ptr<ChildProcess> child);
// The child behind a process handle; null (ERROR_INVALID_HANDLE) for others.
std::shared_ptr<ChildProcess> LookupChildProcess(HANDLE process);

// Whether a file holds a program this machine can run (an ELF image or a script
// with "#!"); false with ERROR_BAD_EXE_FORMAT or ERROR_ACCESS_DENIED set.
bool IsProgramFile(const std::string& path);

}  // namespace standin
