#include "AdminTool.h"

#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "Host.h"

extern char** environ;

namespace host {

namespace {

// Both ends of a pipe, closed with the object.
class Pipe {
 public:
  Pipe() {
    if (::pipe(fds_) != 0) throw OperationFailed(std::string("cannot make a pipe: ") + std::strerror(errno));
  }
  ~Pipe() {
    CloseRead();
    CloseWrite();
  }
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;
  int Read() const { return fds_[0]; }
  int Write() const { return fds_[1]; }
  void CloseRead() { Close(fds_[0]); }
  void CloseWrite() { Close(fds_[1]); }

 private:
  static void Close(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
  int fds_[2] = {-1, -1};
};

class SpawnActions {
 public:
  SpawnActions() {
    if (posix_spawn_file_actions_init(&actions_) != 0) throw OperationFailed("cannot prepare a child process");
  }
  ~SpawnActions() { posix_spawn_file_actions_destroy(&actions_); }
  SpawnActions(const SpawnActions&) = delete;
  SpawnActions& operator=(const SpawnActions&) = delete;
  void Dup(int fd, int to) {
    if (posix_spawn_file_actions_adddup2(&actions_, fd, to) != 0) throw OperationFailed("cannot prepare a child process");
  }
  const posix_spawn_file_actions_t* Get() const { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
};

}  // namespace

std::string ProgramDirectory() {
  char path[4096];
  ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) throw OperationFailed(std::string("cannot find this program's folder: ") + std::strerror(errno));
  std::string exe(path, static_cast<size_t>(n));
  return exe.substr(0, exe.rfind('/'));
}

std::string RunAdminTool(const std::vector<std::string>& args) {
  std::string tool = ProgramDirectory() + "/mapiadmin";
  if (::access(tool.c_str(), X_OK) != 0) throw OperationFailed("the admin tool is missing: " + tool);
  std::vector<std::string> argv = {tool};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> raw;
  for (std::string& a : argv) raw.push_back(a.data());
  raw.push_back(nullptr);

  Pipe out, err;
  SpawnActions actions;
  actions.Dup(out.Write(), STDOUT_FILENO);
  actions.Dup(err.Write(), STDERR_FILENO);
  pid_t pid = -1;
  int spawned = posix_spawn(&pid, tool.c_str(), actions.Get(), nullptr, raw.data(), environ);
  if (spawned != 0) throw OperationFailed("cannot start " + tool + ": " + std::strerror(spawned));
  out.CloseWrite();
  err.CloseWrite();

  std::string printed, complaint;
  pollfd fds[2] = {{out.Read(), POLLIN, 0}, {err.Read(), POLLIN, 0}};
  int open = 2;
  while (open > 0) {
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buffer[4096];
      ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        (i == 0 ? printed : complaint).append(buffer, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        fds[i].fd = -1;
        --open;
      }
    }
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) throw OperationFailed(std::string("lost the admin tool: ") + std::strerror(errno));
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    while (!complaint.empty() && complaint.back() == '\n') complaint.pop_back();
    std::string command = "mapiadmin";
    for (const std::string& a : args) command += " " + a;
    throw OperationFailed(command + " failed" + (complaint.empty() ? "" : ": " + complaint));
  }
  return printed;
}

}  // namespace host
