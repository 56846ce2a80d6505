// Test helpers: every test runs on its own platform root, and can start the
// project's programs as real child processes.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <windows.h>

namespace testing_support {

// Makes a new platform root in a temporary folder for each test and removes it
// afterwards (kept when CORVANE_KEEP_ROOT is set). Faults and clock overrides of
// the previous test are cleared.
class FreshRoot : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // POSIX path of the root, and of a place below it.
  const std::string& root() const { return root_; }
  std::string RootFile(const std::string& rel) const { return root_ + "/" + rel; }
  // The admin tool (mapiadmin) on this root, as a process.
  struct ChildResult Admin(std::vector<std::string> args) const;
  // The same, expected to succeed (a failure fails the test); its output.
  std::string Ok(std::vector<std::string> args) const;

 private:
  std::string root_;
};

// Points this process at the platform root: its environment, and no faults or
// clock overrides left from before (what each test starts with).
void UseRoot(const std::string& root);

// A temporary folder that is removed with the object.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// The folder of the running test program (where every built program lives).
std::string BinDir();
// Path of a built program of the project.
std::string BuiltProgram(const std::string& name);
// Copies a built program into folder, so that it runs with that folder as its
// own (settings files and logs beside the executable); returns the copy's path.
std::string CopyProgramInto(const std::string& name, const std::string& folder);
// The environment a copied program needs to find the project's shared objects.
std::vector<std::string> CopiedProgramEnv();

struct ChildResult {
  int exitCode = -1;   // exit status, or -1
  int signal = 0;      // terminating signal, or 0
  std::string output;  // standard output and error, interleaved
};
// Runs argv[0] with the arguments and the extra environment ("NAME=value"),
// waits for it (at most timeoutMs) and collects its output.
ChildResult RunChild(const std::vector<std::string>& argv, const std::vector<std::string>& env = {},
                     int timeoutMs = 60000);

// A child running in the background; killed with SIGKILL when dropped unfinished.
class Child {
 public:
  Child(const std::vector<std::string>& argv, const std::vector<std::string>& env = {});
  ~Child();
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  int pid() const { return pid_; }
  // Waits for the end; returns false on time-out.
  bool Wait(int timeoutMs, ChildResult* result);
  void Kill(int sig);
  // Output so far (the child's stdout and stderr go to a file).
  std::string Output() const;

 private:
  int pid_ = -1;
  std::string outputFile_;
  bool done_ = false;
};

// The real files written by others that the tests use (mail, registry
// exports, hives): ../shared/testdata beside the repository, or where
// CORVANE_TESTDATA says.
std::filesystem::path TestData();
// Under CI (CI=true) missing test data fails the test; elsewhere it is skipped.
bool TestDataRequired();

// Reads a whole file as bytes ("" when missing).
std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);
// Polls until pred() holds or timeoutMs passes.
bool WaitUntil(const std::function<bool()>& pred, int timeoutMs = 10000);

}  // namespace testing_support

// Goes on only when the test data the test needs is there.
#define REQUIRE_TEST_DATA(present)                                                      \
  do {                                                                                  \
    if (!(present)) {                                                                   \
      if (::testing_support::TestDataRequired()) FAIL() << "the shared test data is missing: " \
                                                       << ::testing_support::TestData(); \
      GTEST_SKIP() << "no test data beside the repository";                             \
    }                                                                                   \
  } while (0)
