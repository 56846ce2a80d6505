// Helpers of the command-line host's tests: the built corvane run as a process
// with its standard output and error kept apart, and a machine arranged with
// the admin tool.
#pragma once

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "common/fresh_root.h"

extern char** environ;

namespace host_test {

struct Ran {
  int code = -1;  // exit status; -1 when killed
  int signal = 0;
  std::string out, err;
};

using testing_support::BuiltProgram;

namespace detail {

inline std::vector<std::string> Environment(const std::vector<std::string>& extra) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) env.emplace_back(*e);
  for (const std::string& e : extra) {
    std::string name = e.substr(0, e.find('=') + 1);
    std::erase_if(env, [&](const std::string& x) { return x.compare(0, name.size(), name) == 0; });
    env.push_back(e);
  }
  return env;
}

}  // namespace detail

// Runs a built program of the project with args to its end, its output and
// errors kept apart.
inline Ran RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::vector<std::string>& env = {}) {
  std::vector<std::string> argv = {BuiltProgram(program)};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<std::string> envStore = detail::Environment(env);
  std::vector<char*> rawArgs, rawEnv;
  for (std::string& a : argv) rawArgs.push_back(a.data());
  rawArgs.push_back(nullptr);
  for (std::string& e : envStore) rawEnv.push_back(e.data());
  rawEnv.push_back(nullptr);

  int out[2], err[2];
  EXPECT_EQ(pipe(out), 0);
  EXPECT_EQ(pipe(err), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  pid_t pid = -1;
  int spawned = posix_spawn(&pid, rawArgs[0], &actions, nullptr, rawArgs.data(), rawEnv.data());
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  close(err[1]);
  Ran run;
  if (spawned != 0) {
    close(out[0]);
    close(err[0]);
    ADD_FAILURE() << "cannot start " << argv[0];
    return run;
  }
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  int open = 2;
  while (open > 0) {
    if (poll(fds, 2, 120000) <= 0) break;  // a hung child fails below, not forever
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !fds[i].revents) continue;
      char buffer[4096];
      ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        (i == 0 ? run.out : run.err).append(buffer, static_cast<size_t>(n));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  for (pollfd& f : fds)
    if (f.fd >= 0) {
      kill(pid, SIGKILL);
      close(f.fd);
    }
  int status = 0;
  waitpid(pid, &status, 0);
  run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  return run;
}

inline Ran Corvane(const std::vector<std::string>& args, const std::vector<std::string>& env = {}) {
  return RunProgram("corvane", args, env);
}

// Runs corvane with its output in a pipe of one page: unread progress lines
// hold the copy up, so a Ctrl-C sent after the first line lands before the
// copy can end, however fast it runs. The first line is the operation's
// first progress line, "<label>: ...".
inline Ran InterruptAfterFirstProgressLine(const std::vector<std::string>& args, const std::string& label = "backup") {
  std::vector<std::string> argv = {testing_support::BuiltProgram("corvane")};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> raw;
  for (std::string& a : argv) raw.push_back(a.data());
  raw.push_back(nullptr);
  int out[2], err[2];
  EXPECT_EQ(pipe(out), 0);
  EXPECT_EQ(pipe(err), 0);
  EXPECT_GE(fcntl(out[0], F_SETPIPE_SZ, 4096), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  pid_t pid = -1;
  EXPECT_EQ(posix_spawn(&pid, raw[0], &actions, nullptr, raw.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  close(err[1]);

  Ran run;
  // Byte by byte, so that nothing after the first line is taken off the pipe.
  for (char c = 0; c != '\n';) {
    if (read(out[0], &c, 1) != 1) break;
    run.out += c;
  }
  EXPECT_TRUE(run.out.starts_with(label + ": ")) << run.out;
  kill(pid, SIGINT);
  char buffer[4096];
  for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) run.out.append(buffer, static_cast<size_t>(n));
  for (ssize_t n; (n = read(err[0], buffer, sizeof buffer)) > 0;) run.err.append(buffer, static_cast<size_t>(n));
  close(out[0]);
  close(err[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  return run;
}

// The admin tool; a failure fails the test.
inline std::string AdminOutput(const std::vector<std::string>& args) {
  Ran run = RunProgram("mapiadmin", args);
  EXPECT_EQ(run.code, 0) << "mapiadmin failed: " << run.err;
  return run.out;
}

// The lines of a text.
inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// An mbox of count messages with subjects "<tag> <n>", n from first.
inline std::string SampleMbox(const std::string& tag, int count, int first = 0) {
  std::string text;
  for (int i = first; i < first + count; ++i) {
    // A minute apart, so that every message has its own time.
    int minutes = i % 60, hours = (i / 60) % 24, day = 1 + i / 1440;
    char date[64];
    std::snprintf(date, sizeof date, "%02d Mar 2026 %02d:%02d:00 +0000", day, hours, minutes);
    text += "From sender@example.org Mon Mar  2 10:00:00 2026\n";
    text += "From: Sender <sender@example.org>\nTo: you@example.org\n";
    text += "Subject: " + tag + " " + std::to_string(i) + "\n";
    text += std::string("Date: ") + date + "\n";
    text += "Message-ID: <" + tag + "." + std::to_string(i) + "@example.org>\n\n";
    text += "Body of " + tag + " " + std::to_string(i) + ".\n\n";
  }
  return text;
}

namespace detail {

inline void Collect(const nlohmann::json& folder, const std::string& path,
             std::map<std::string, std::vector<std::string>>& out) {
  for (const nlohmann::json& m : folder["messages"]) out[path].push_back(m.value("subject", ""));
  for (const nlohmann::json& child : folder["folders"]) {
    std::string name = child.value("name", "");
    Collect(child, path.empty() ? name : path + "/" + name, out);
  }
}

}  // namespace detail

// Every message of a store of a profile, by folder path ("Inbox/Projects"),
// as the admin tool dumps it: subjects per folder.
inline std::map<std::string, std::vector<std::string>> Subjects(const std::string& profile, const std::string& store) {
  std::string dump = AdminOutput({"dump", profile, "--store", store});
  std::map<std::string, std::vector<std::string>> out;
  nlohmann::json parsed = nlohmann::json::parse(dump, nullptr, false);
  EXPECT_FALSE(parsed.is_discarded()) << dump;
  if (!parsed.is_discarded()) detail::Collect(parsed["tree"], "", out);
  return out;
}

// A store file that no profile holds, dumped through a profile of its own.
inline std::map<std::string, std::vector<std::string>> FileSubjects(const std::string& path) {
  static int made = 0;
  std::string profile = "Check" + std::to_string(++made);
  AdminOutput({"profile", "create", profile});
  AdminOutput({"service", "add", profile, "--type", "pst", "--name", "Copy", "--path", path});
  auto subjects = Subjects(profile, "Copy");
  AdminOutput({"profile", "delete", profile});
  return subjects;
}

inline size_t Total(const std::map<std::string, std::vector<std::string>>& subjects) {
  size_t n = 0;
  for (const auto& [folder, list] : subjects) n += list.size();
  return n;
}

// A machine with the mail client and the profile "Outlook" holding the store
// "Mail" (Inbox with a sub-folder Projects, Sent Items, a calendar item and a
// contact) and the store "Archive" (Inbox and "Old projects").
class HostTest : public testing_support::FreshRoot {
 protected:
  void SetUp() override;
  // Imports count messages into a folder of a store of the profile.
  void AddMail(const std::string& store, const std::string& folder, const std::string& tag, int count, int first = 0);
  std::string mailPath, archivePath, scratch;
  static constexpr size_t kMailMessages = 10 + 3 + 4 + 1 + 1;  // Inbox, Projects, Sent Items, calendar, contact
};


inline void HostTest::SetUp() {
  FreshRoot::SetUp();
  scratch = RootFile("files");
  std::filesystem::create_directories(scratch);
  mailPath = scratch + "/Mail.pst";
  archivePath = scratch + "/Archive.pst";
  AdminOutput({"install"});
  AdminOutput({"service", "add", "Outlook", "--type", "pst", "--name", "Mail", "--path", mailPath, "--default"});
  AdminOutput({"service", "add", "Outlook", "--type", "pst", "--name", "Archive", "--path", archivePath});
  AddMail("Mail", "Inbox", "inbox", 10);
  AddMail("Mail", "Inbox/Projects", "project", 3);
  AddMail("Mail", "Sent Items", "sent", 4);
  AdminOutput({"calendar", "add", "Outlook", "--store", "Mail", "--subject", "Review", "--start", "2026-03-04T09:00:00Z",
         "--end", "2026-03-04T10:00:00Z", "--created", "2026-03-01T08:00:00Z"});
  AdminOutput({"contact", "add", "Outlook", "--store", "Mail", "--given", "Ada", "--surname", "Lovelace", "--email",
         "ada@example.org", "--created", "2026-03-01T08:00:00Z"});
  AddMail("Archive", "Inbox", "old", 2, 100);
  AddMail("Archive", "Old projects", "older", 2, 200);
}

inline void HostTest::AddMail(const std::string& store, const std::string& folder, const std::string& tag, int count,
                       int first) {
  std::string file = scratch + "/" + tag + std::to_string(first) + ".mbox";
  testing_support::WriteFileBytes(file, SampleMbox(tag, count, first));
  AdminOutput({"import", "Outlook", "--store", store, "--folder", folder, file});
  std::filesystem::remove(file);
}

// A snapshot of the files below a folder (path -> size), to show that bad
// input changed nothing.
inline std::map<std::string, long long> FilesBelow(const std::string& folder) {
  std::map<std::string, long long> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
    std::string name = entry.path().string();
    // SQLite's side files come and go with every reader.
    if (name.ends_with("-wal") || name.ends_with("-shm") || name.ends_with("-journal")) continue;
    files[name] = entry.is_regular_file() ? static_cast<long long>(entry.file_size()) : -1;
  }
  return files;
}

}  // namespace host_test
