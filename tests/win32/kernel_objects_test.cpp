// Kernel objects between real processes: named mutexes (names, ownership,
// waits, abandonment), CreateProcessW and ShellExecuteW.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <map>
#include <sstream>
#include <thread>
#include <utility>
#include <vector>

#include "common/fresh_root.h"
#include "owners/ScopedOwner.h"

#include <shellapi.h>
#include <standin/fault.h>
#include <standin/root.h>

using namespace testing_support;
using standin::ToUtf16;
using standin::ToUtf8;
using standin::ToWindowsPath;

namespace fs = std::filesystem;

namespace {

// A kernel_host child; killed when dropped still running, so a failed test
// leaves nothing behind.
struct Host {
  CScopedHandle process, thread;
  DWORD pid = 0;
  ~Host() {
    if (process && WaitForSingleObject(process.Get(), 0) == WAIT_TIMEOUT) {
      TerminateProcess(process.Get(), 1);
      WaitForSingleObject(process.Get(), 10000);
    }
  }
};

std::u16string HostPath() { return ToUtf16(BuiltProgram("kernel_host")); }

// Starts a command line; flags, environment and folder as CreateProcessW takes them.
std::unique_ptr<Host> StartLine(std::u16string line, LPCWSTR folder = nullptr, LPVOID environment = nullptr,
                                DWORD flags = 0, LPCWSTR application = nullptr) {
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  auto host = std::make_unique<Host>();
  if (!CreateProcessW(application, line.data(), nullptr, nullptr, FALSE, flags, environment, folder, &si, &pi)) {
    ADD_FAILURE() << "CreateProcessW(" << ToUtf8(line) << ") failed: " << GetLastError();
    return host;
  }
  host->process = CScopedHandle(pi.hProcess);
  host->thread = CScopedHandle(pi.hThread);
  host->pid = pi.dwProcessId;
  return host;
}

std::unique_ptr<Host> StartHost(const std::string& args) {
  return StartLine(u"\"" + HostPath() + u"\" " + ToUtf16(args));
}

DWORD WaitExit(const std::unique_ptr<Host>& host) {
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(host->process.Get(), 30000));
  DWORD code = 0xdeadbeef;
  EXPECT_TRUE(GetExitCodeProcess(host->process.Get(), &code));
  return code;
}

std::string HostOutput(const std::unique_ptr<Host>& host) {
  return ReadFileBytes(standin::RootPath("out-" + std::to_string(host->pid) + ".txt"));
}

// The host's "name=value" lines.
std::map<std::string, std::string> HostRecord(const std::unique_ptr<Host>& host) {
  std::map<std::string, std::string> record;
  std::istringstream in(HostOutput(host));
  for (std::string line; std::getline(in, line);) {
    size_t eq = line.find('=');
    if (eq != std::string::npos) record[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return record;
}

// The host program under another name and place (a link, so it still finds its
// libraries next to the real file).
void LinkHost(const std::string& path) {
  fs::create_directories(fs::path(path).parent_path());
  fs::create_symlink(BuiltProgram("kernel_host"), path);
}

class KernelMutexTest : public FreshRoot {
 protected:
  // A folder for the marker files a mutex host writes.
  std::string Markers(const std::string& name) {
    std::string dir = RootFile("markers-" + name);
    fs::create_directories(dir);
    return dir;
  }
};

TEST_F(KernelMutexTest, PrefixesNameOneObjectAndNamesAreCaseSensitive) {
  SetLastError(0xdeadbeef);
  CScopedHandle created(CreateMutexW(nullptr, FALSE, u"Global\\CorvaneOp"));
  ASSERT_TRUE(created);
  EXPECT_EQ(ERROR_SUCCESS, GetLastError());
  for (LPCWSTR same : {u"Local\\CorvaneOp", u"CorvaneOp", u"global\\CorvaneOp"}) {
    SetLastError(0xdeadbeef);
    CScopedHandle again(CreateMutexW(nullptr, FALSE, same));
    EXPECT_TRUE(again);
    EXPECT_EQ(ERROR_ALREADY_EXISTS, GetLastError()) << ToUtf8(same);
    EXPECT_TRUE(CScopedHandle(OpenMutexW(SYNCHRONIZE, FALSE, same)));
  }
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(OpenMutexW(SYNCHRONIZE, FALSE, u"corvaneop"));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetLastError());
}

TEST_F(KernelMutexTest, RefusedNames) {
  struct Case {
    std::u16string name;
    DWORD error;
  } cases[] = {
      {u"a\\b", ERROR_PATH_NOT_FOUND},
      {u"Global\\a\\b", ERROR_PATH_NOT_FOUND},
      {u"Global\\", ERROR_INVALID_NAME},
      {std::u16string(MAX_PATH, u'x'), ERROR_FILENAME_EXCED_RANGE},
  };
  for (const Case& c : cases) {
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(CreateMutexW(nullptr, FALSE, c.name.c_str())) << ToUtf8(c.name.c_str());
    EXPECT_EQ(c.error, GetLastError()) << ToUtf8(c.name.c_str());
  }
  // Just short enough, and characters no file name may hold.
  EXPECT_TRUE(CScopedHandle(CreateMutexW(nullptr, FALSE, std::u16string(MAX_PATH - 1, u'x').c_str())));
  EXPECT_TRUE(CScopedHandle(CreateMutexW(nullptr, FALSE, u"a/b:*?\"<>|%..")));
}

TEST_F(KernelMutexTest, ObjectEndsWithItsLastHandleButAnAbandonmentIsKept) {
  HANDLE m = CreateMutexW(nullptr, TRUE, u"Gone");
  ASSERT_TRUE(m);
  ASSERT_TRUE(CloseHandle(m));
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(OpenMutexW(SYNCHRONIZE, FALSE, u"Gone"));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetLastError());
  // A new object of that name; its first owner learns the last one never released.
  CScopedHandle again(CreateMutexW(nullptr, FALSE, u"Gone"));
  EXPECT_EQ(ERROR_SUCCESS, GetLastError());
  std::thread([&] {
    EXPECT_EQ(WAIT_ABANDONED, WaitForSingleObject(again.Get(), 0));
    EXPECT_TRUE(ReleaseMutex(again.Get()));
  }).join();
  again = CScopedHandle();
  // Released cleanly by the last holder: nothing is left in the root.
  EXPECT_FALSE(fs::exists(RootFile("kernel/mutex/Gone.lock")));
}

// Closing the last handle while owning it abandons it to waiters elsewhere.
TEST_F(KernelMutexTest, ClosingTheLastHandleWhileOwningAbandonsIt) {
  std::string dir = Markers("closed");
  auto holder = StartHost("mutex-hold Closed " + dir + " close");
  ASSERT_TRUE(WaitUntil([&] { return fs::exists(dir + "/acquired"); }));
  CScopedHandle m(OpenMutexW(SYNCHRONIZE, FALSE, u"Closed"));
  ASSERT_TRUE(m);
  WriteFileBytes(dir + "/release", "1");
  EXPECT_EQ(WAIT_ABANDONED, WaitForSingleObject(m.Get(), 10000));
  EXPECT_TRUE(ReleaseMutex(m.Get()));
  WriteFileBytes(dir + "/exit", "1");
  EXPECT_EQ(0u, WaitExit(holder));
}

TEST_F(KernelMutexTest, OpenAccessRights) {
  CScopedHandle m(CreateMutexW(nullptr, FALSE, u"Rights"));
  ASSERT_TRUE(WaitForSingleObject(m.Get(), 0) == WAIT_OBJECT_0);
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(OpenMutexW(0, FALSE, u"Rights"));
  EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
  EXPECT_FALSE(OpenMutexW(0x0002, FALSE, u"Rights"));
  EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
  // Waiting takes SYNCHRONIZE (GENERIC_EXECUTE maps to it); releasing takes nothing.
  CScopedHandle noSync(OpenMutexW(GENERIC_READ | GENERIC_WRITE, FALSE, u"Rights"));
  ASSERT_TRUE(noSync);
  SetLastError(0xdeadbeef);
  EXPECT_EQ(WAIT_FAILED, WaitForSingleObject(noSync.Get(), 0));
  EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
  EXPECT_TRUE(ReleaseMutex(noSync.Get()));
  CScopedHandle exec(OpenMutexW(GENERIC_EXECUTE, FALSE, u"Rights"));
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(exec.Get(), 0));
  EXPECT_TRUE(ReleaseMutex(exec.Get()));
}

TEST_F(KernelMutexTest, RecursiveForTheOwnerAndNotOwnedByOthers) {
  for (LPCWSTR name : {static_cast<LPCWSTR>(u"Recursive"), static_cast<LPCWSTR>(nullptr)}) {
    CScopedHandle m(CreateMutexW(nullptr, FALSE, name));
    for (int i = 0; i < 3; ++i) ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(m.Get(), 0));
    std::thread([&] {
      EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(m.Get(), 20));
      SetLastError(0xdeadbeef);
      EXPECT_FALSE(ReleaseMutex(m.Get()));
      EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_OWNER), GetLastError());
    }).join();
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(ReleaseMutex(m.Get()));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(ReleaseMutex(m.Get()));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_OWNER), GetLastError());
    std::thread([&] {
      EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(m.Get(), 0));
      EXPECT_TRUE(ReleaseMutex(m.Get()));
    }).join();
  }
}

TEST_F(KernelMutexTest, InitialOwnerOnlyWhenCreated) {
  CScopedHandle m(CreateMutexW(nullptr, TRUE, u"Initial"));
  std::thread([] {
    CScopedHandle other(CreateMutexW(nullptr, TRUE, u"Initial"));
    EXPECT_EQ(ERROR_ALREADY_EXISTS, GetLastError());
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(other.Get(), 0));
    EXPECT_FALSE(ReleaseMutex(other.Get()));
  }).join();
  EXPECT_TRUE(ReleaseMutex(m.Get()));
}

TEST_F(KernelMutexTest, ThreadsOfOneProcessAreExcluded) {
  for (LPCWSTR name : {static_cast<LPCWSTR>(u"Threads"), static_cast<LPCWSTR>(nullptr)}) {
    CScopedHandle m(CreateMutexW(nullptr, FALSE, name));
    int inside = 0, maxInside = 0, total = 0;  // guarded by the mutex alone
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([&, t] {
        for (int i = 0; i < 50; ++i) {
          ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(m.Get(), t % 2 ? INFINITE : 5000));
          maxInside = std::max(maxInside, ++inside);
          std::this_thread::yield();
          ++total;
          --inside;
          ASSERT_TRUE(ReleaseMutex(m.Get()));
        }
      });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(1, maxInside);
    EXPECT_EQ(200, total);
  }
}

TEST_F(KernelMutexTest, ThreadThatEndsOwningAbandonsIt) {
  for (LPCWSTR name : {static_cast<LPCWSTR>(u"ThreadEnd"), static_cast<LPCWSTR>(nullptr)}) {
    CScopedHandle m(CreateMutexW(nullptr, FALSE, name));
    std::thread([&] { EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(m.Get(), INFINITE)); }).join();
    EXPECT_EQ(WAIT_ABANDONED, WaitForSingleObject(m.Get(), 1000));
    EXPECT_TRUE(ReleaseMutex(m.Get()));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(m.Get(), 0));
    EXPECT_TRUE(ReleaseMutex(m.Get()));
  }
}

TEST_F(KernelMutexTest, WaiterInAnotherProcessGetsItOnlyAfterRelease) {
  std::string dir = Markers("order");
  CScopedHandle m(CreateMutexW(nullptr, TRUE, u"Order"));
  auto child = StartHost("mutex-wait Order " + dir);
  ASSERT_TRUE(WaitUntil([&] { return fs::exists(dir + "/waiting"); }));
  EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(child->process.Get(), 100));  // still blocked
  WriteFileBytes(dir + "/released", "1");  // before the release: the child must see it
  ASSERT_TRUE(ReleaseMutex(m.Get()));
  EXPECT_EQ(0u, WaitExit(child));
  EXPECT_EQ("0 after-release", ReadFileBytes(dir + "/acquired"));
}

TEST_F(KernelMutexTest, ThisProcessWaitsForAnotherProcessToRelease) {
  std::string dir = Markers("hold");
  auto holder = StartHost("mutex-hold Held " + dir);
  ASSERT_TRUE(WaitUntil([&] { return fs::exists(dir + "/acquired"); }));
  CScopedHandle m(OpenMutexW(SYNCHRONIZE, FALSE, u"Held"));
  ASSERT_TRUE(m);
  EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(m.Get(), 50));
  std::atomic<DWORD> result{WAIT_FAILED};
  std::atomic<bool> sawRelease{false};
  std::thread waiter([&] {
    result = WaitForSingleObject(m.Get(), INFINITE);
    sawRelease = fs::exists(dir + "/released");
    EXPECT_TRUE(ReleaseMutex(m.Get()));
  });
  WriteFileBytes(dir + "/release", "1");
  waiter.join();
  EXPECT_EQ(WAIT_OBJECT_0, result.load());
  EXPECT_TRUE(sawRelease.load()) << "the wait returned before the holder released";
  EXPECT_EQ(0u, WaitExit(holder));
}

// A holder that dies owning the mutex (killed, or exiting) hands it on abandoned.
TEST_F(KernelMutexTest, HolderThatDiesAbandonsItOnce) {
  for (bool kill : {true, false}) {
    std::string dir = Markers(kill ? "killed" : "exited");
    auto holder = StartHost("mutex-hold Abandon " + dir + " keep");
    ASSERT_TRUE(WaitUntil([&] { return fs::exists(dir + "/acquired"); }));
    CScopedHandle m(OpenMutexW(SYNCHRONIZE, FALSE, u"Abandon"));
    ASSERT_TRUE(m);
    if (kill)
      ASSERT_EQ(0, ::kill(static_cast<pid_t>(holder->pid), SIGKILL));
    else
      WriteFileBytes(dir + "/release", "1");
    EXPECT_EQ(WAIT_ABANDONED, WaitForSingleObject(m.Get(), 10000));
    EXPECT_TRUE(ReleaseMutex(m.Get()));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(m.Get(), 0));
    EXPECT_TRUE(ReleaseMutex(m.Get()));
    WaitExit(holder);
  }
}

// Even with no other handle open in between, the next run sees the abandonment.
TEST_F(KernelMutexTest, AbandonmentOutlivesTheDeadHoldersObject) {
  std::string dir = Markers("later");
  auto holder = StartHost("mutex-hold Later " + dir + " keep");
  ASSERT_TRUE(WaitUntil([&] { return fs::exists(dir + "/acquired"); }));
  ASSERT_EQ(0, ::kill(static_cast<pid_t>(holder->pid), SIGKILL));
  WaitExit(holder);
  CScopedHandle m(CreateMutexW(nullptr, FALSE, u"Later"));
  EXPECT_EQ(ERROR_SUCCESS, GetLastError());
  EXPECT_EQ(WAIT_ABANDONED, WaitForSingleObject(m.Get(), 0));
  EXPECT_TRUE(ReleaseMutex(m.Get()));
  fs::create_directories(dir + "/next");
  auto next = StartHost("mutex-hold Later " + dir + "/next");
  WriteFileBytes(dir + "/next/release", "1");
  EXPECT_EQ(0u, WaitExit(next));
  EXPECT_EQ("0", ReadFileBytes(dir + "/next/acquired"));
}

TEST_F(KernelMutexTest, Faults) {
  standin::ArmFault("CreateMutexW", ERROR_ACCESS_DENIED);
  EXPECT_FALSE(CreateMutexW(nullptr, FALSE, u"Faulted"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
  standin::ClearAllFaults();

  CScopedHandle m(CreateMutexW(nullptr, FALSE, u"Faulted"));
  standin::ArmFault("OpenMutexW", ERROR_INVALID_NAME);
  EXPECT_FALSE(OpenMutexW(SYNCHRONIZE, FALSE, u"Faulted"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_NAME), GetLastError());
  standin::ArmFault("WaitForSingleObject", WAIT_TIMEOUT, 1);
  EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(m.Get(), INFINITE));
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(m.Get(), INFINITE));  // only the first call failed
  standin::ArmFault("ReleaseMutex", ERROR_INVALID_HANDLE);
  EXPECT_FALSE(ReleaseMutex(m.Get()));
  standin::ClearAllFaults();
  EXPECT_TRUE(ReleaseMutex(m.Get()));
}

// CORVANE_FAULTS reaches a child through the inherited environment.
TEST_F(KernelMutexTest, FaultsReachTheChild) {
  setenv("CORVANE_FAULTS", "CreateMutexW=5", 1);
  auto child = StartHost("mutex-create InChild");
  unsetenv("CORVANE_FAULTS");
  EXPECT_EQ(0u, WaitExit(child));
  EXPECT_EQ("1000005", HostOutput(child));
}

// A call armed with "kill" ends the child there, by SIGKILL, on that very call.
TEST_F(KernelMutexTest, AKillFaultEndsTheChildAtTheCall) {
  std::string host = testing_support::BuiltProgram("kernel_host");
  ChildResult killed = testing_support::RunChild({host, "mutex-create", "Doomed"}, {"CORVANE_FAULTS=CreateMutexW=kill@1"});
  EXPECT_EQ(SIGKILL, killed.signal);
  EXPECT_EQ("", killed.output);
  ChildResult later = testing_support::RunChild({host, "mutex-create", "Spared"}, {"CORVANE_FAULTS=CreateMutexW=kill@2"});
  EXPECT_EQ(0, later.signal);
  EXPECT_EQ(0, later.exitCode);
}

class KernelProcessTest : public FreshRoot {};

TEST_F(KernelProcessTest, ArgumentsArriveSplitByThePlatformRules) {
  const std::u16string line = u"\"" + HostPath() + uR"(" args "a b" c\\d "e\"f" "g\\" "" h"i j"k \\\"l)";
  auto child = StartLine(line);
  ASSERT_EQ(0u, WaitExit(child));
  auto record = HostRecord(child);
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(line.c_str(), &argc);
  ASSERT_TRUE(argv);
  EXPECT_EQ(std::to_string(argc), record["argc"]);
  for (int i = 0; i < argc; ++i) EXPECT_EQ(ToUtf8(argv[i]), record["argv[" + std::to_string(i) + "]"]) << i;
  LocalFree(argv);
  EXPECT_EQ("a b", record["argv[2]"]);
  EXPECT_EQ(R"(c\\d)", record["argv[3]"]);
  EXPECT_EQ("e\"f", record["argv[4]"]);
  EXPECT_EQ(R"(g\)", record["argv[5]"]);
  EXPECT_EQ("", record["argv[6]"]);
  EXPECT_EQ("hi jk", record["argv[7]"]);
  EXPECT_EQ(R"(\"l)", record["argv[8]"]);
  // The raw line reaches GetCommandLineW in the child.
  EXPECT_EQ(ToUtf8(line), record["cmdline"]);
}

// With an application name the command line is the whole argument list.
TEST_F(KernelProcessTest, ApplicationNameAndCommandLine) {
  auto child = StartLine(u"whatever args x", nullptr, nullptr, 0, HostPath().c_str());
  ASSERT_EQ(0u, WaitExit(child));
  auto record = HostRecord(child);
  EXPECT_EQ("whatever", record["argv[0]"]);
  EXPECT_EQ("x", record["argv[2]"]);
  EXPECT_EQ("whatever args x", record["cmdline"]);
}

TEST_F(KernelProcessTest, WaitTimesOutWhileRunningThenSeesTheExit) {
  std::string go = RootFile("go");
  auto child = StartHost("wait-file " + go + " 3");
  EXPECT_EQ(child->pid, GetProcessId(child->process.Get()));
  EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(child->process.Get(), 30));
  EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(child->thread.Get(), 0));
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeProcess(child->process.Get(), &code));
  EXPECT_EQ(static_cast<DWORD>(STILL_ACTIVE), code);
  // Several waiters at once all see the end.
  std::vector<std::thread> waiters;
  std::atomic<int> signalled{0};
  for (int i = 0; i < 3; ++i)
    waiters.emplace_back([&] { signalled += WaitForSingleObject(child->process.Get(), INFINITE) == WAIT_OBJECT_0; });
  WriteFileBytes(go, "");
  for (auto& w : waiters) w.join();
  EXPECT_EQ(3, signalled.load());
  EXPECT_EQ(3u, WaitExit(child));
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(child->thread.Get(), 0));
  // A thread handle is not a process handle.
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(GetExitCodeProcess(child->thread.Get(), &code));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
}

TEST_F(KernelProcessTest, TerminatedAndSignalledChildrenReportCodes) {
  auto child = StartHost("wait-file " + RootFile("never"));
  ASSERT_TRUE(TerminateProcess(child->process.Get(), 42));
  EXPECT_EQ(42u, WaitExit(child));
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(TerminateProcess(child->process.Get(), 43));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
  EXPECT_EQ(7u, WaitExit(StartHost("exit 7")));

  struct {
    int sig;
    DWORD code;
  } cases[] = {{SIGILL, EXCEPTION_ILLEGAL_INSTRUCTION}, {SIGTERM, 128 + SIGTERM}, {SIGKILL, 128 + SIGKILL}};
  for (const auto& c : cases) {
    auto victim = StartHost("wait-file " + RootFile("never"));
    kill(static_cast<pid_t>(victim->pid), c.sig);
    EXPECT_EQ(c.code, WaitExit(victim)) << c.sig;
  }
}

TEST_F(KernelProcessTest, BareNamesAreFoundInTheWindowsFolderWithoutExe) {
  LinkHost(RootFile("Windows/kernprobe"));
  auto child = StartLine(u"kernprobe.exe args");
  ASSERT_EQ(0u, WaitExit(child));
  EXPECT_EQ("kernprobe.exe", HostRecord(child)["argv[0]"]);
  // The current folder is searched too.
  TempDir here;
  LinkHost(here.path() + "/cwdprobe");
  fs::path before = fs::current_path();
  fs::current_path(here.path());
  auto inCwd = StartLine(u"cwdprobe exit 4");
  fs::current_path(before);
  EXPECT_EQ(4u, WaitExit(inCwd));
  // The same program by its Windows path, and by its Linux path.
  EXPECT_EQ(0u, WaitExit(StartLine(u"\"" + ToWindowsPath(RootFile("Windows/kernprobe.exe")) + u"\" exit 0")));
  EXPECT_EQ(0u, WaitExit(StartLine(ToUtf16(RootFile("Windows/kernprobe")) + u" exit 0")));
}

TEST_F(KernelProcessTest, UnquotedPathWithSpacesIsTriedAtEachSpace) {
  LinkHost(RootFile("Program Files/Corvane/tool"));
  auto child = StartLine(ToWindowsPath(RootFile("Program Files/Corvane/tool")) + u" args");
  // The child ran; as on the platform, its own argument split still cuts at the space.
  EXPECT_EQ(99u, WaitExit(child));
}

TEST_F(KernelProcessTest, FolderAndEnvironment) {
  TempDir folder;
  setenv("KERNEL_PROBE", "inherited", 1);
  auto child = StartLine(u"\"" + HostPath() + u"\" args", ToWindowsPath(folder.path()).c_str());
  unsetenv("KERNEL_PROBE");
  ASSERT_EQ(0u, WaitExit(child));
  auto record = HostRecord(child);
  EXPECT_EQ(fs::canonical(folder.path()).string(), fs::canonical(record["cwd"]).string());
  EXPECT_EQ("inherited", record["probe"]);

  // A block of its own; the child still runs on this root (it wrote its record here).
  const char16_t block[] = u"KERNEL_PROBE=own\0OTHER=1\0";
  auto own = StartLine(u"\"" + HostPath() + u"\" args", nullptr, const_cast<char16_t*>(block),
                       CREATE_UNICODE_ENVIRONMENT);
  ASSERT_EQ(0u, WaitExit(own));
  EXPECT_EQ("own", HostRecord(own)["probe"]);

  STARTUPINFOW si{};
  PROCESS_INFORMATION pi{};
  std::u16string line = u"\"" + HostPath() + u"\" exit 0";
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, u"Z:\\no\\such\\folder",
                              &si, &pi));
  EXPECT_EQ(static_cast<DWORD>(ERROR_DIRECTORY), GetLastError());
}

TEST_F(KernelProcessTest, StartFailures) {
  fs::create_directories(RootFile("afolder"));
  WriteFileBytes(RootFile("doc.exe"), "MZ this is no program here");
  fs::copy_file(BuiltProgram("kernel_host"), RootFile("locked"));
  fs::permissions(RootFile("locked"), fs::perms::owner_read | fs::perms::owner_write);
  struct {
    std::u16string line;
    DWORD error;
  } cases[] = {
      {u"no_such_program_anywhere args", ERROR_FILE_NOT_FOUND},
      {u"\"" + ToWindowsPath(RootFile("missing.exe")) + u"\"", ERROR_FILE_NOT_FOUND},
      {u"Z:\\no\\such\\folder\\prog.exe", ERROR_PATH_NOT_FOUND},
      {u"C:\\Windows\\notepad.exe", ERROR_PATH_NOT_FOUND},
      {ToWindowsPath(RootFile("afolder")), ERROR_ACCESS_DENIED},
      {ToWindowsPath(RootFile("doc.exe")), ERROR_BAD_EXE_FORMAT},
      {ToWindowsPath(RootFile("locked")), ERROR_ACCESS_DENIED},
  };
  for (auto& c : cases) {
    STARTUPINFOW si{};
    PROCESS_INFORMATION pi{nullptr, nullptr, 0xdeadbeef, 0xdeadbeef};
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(CreateProcessW(nullptr, c.line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    EXPECT_EQ(c.error, GetLastError()) << ToUtf8(c.line);
    EXPECT_EQ(0xdeadbeefu, pi.dwProcessId) << "nothing was started";
  }
  standin::ArmFault("CreateProcessW", ERROR_NOT_ENOUGH_MEMORY);
  std::u16string line = u"\"" + HostPath() + u"\" exit 0";
  STARTUPINFOW si{};
  PROCESS_INFORMATION pi{};
  EXPECT_FALSE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY), GetLastError());
}

// Nothing is left a zombie once its handles are closed, waited for or not.
TEST_F(KernelProcessTest, ClosingTheHandlesReapsTheChild) {
  std::string go = RootFile("go");
  auto running = StartHost("wait-file " + go);
  auto quick = StartHost("exit 0");
  pid_t pids[] = {static_cast<pid_t>(running->pid), static_cast<pid_t>(quick->pid)};
  running->process = CScopedHandle();
  running->thread = CScopedHandle();
  quick->process = CScopedHandle();
  quick->thread = CScopedHandle();
  WriteFileBytes(go, "");
  for (pid_t pid : pids) EXPECT_TRUE(WaitUntil([pid] { return kill(pid, 0) != 0 && errno == ESRCH; })) << pid;
}

class KernelShellTest : public FreshRoot {};

TEST_F(KernelShellTest, OpenStartsTheProgramWithItsParameters) {
  LinkHost(RootFile("Windows/regedit"));
  auto result = reinterpret_cast<INT_PTR>(ShellExecuteW(nullptr, u"open", u"regedit.exe", u"args /s x.reg", nullptr,
                                                        SW_HIDE));
  EXPECT_GT(result, 32);
  // ShellExecuteW gives no handle; the stand-in keeps the process it started.
  auto child = std::make_unique<Host>();
  child->process = CScopedHandle(standin::LastShellExecuteProcess());
  ASSERT_TRUE(child->process);
  child->pid = GetProcessId(child->process.Get());
  EXPECT_EQ(0u, WaitExit(child));
  auto record = HostRecord(child);
  EXPECT_EQ("\"" + ToUtf8(ToWindowsPath(RootFile("Windows/regedit"))) + "\" args /s x.reg", record["cmdline"]);
  EXPECT_EQ("/s", record["argv[2]"]);
}

TEST_F(KernelShellTest, ExGivesTheProcessHandleWhenAsked) {
  TempDir folder;
  std::u16string file = HostPath();
  std::u16string dir = ToWindowsPath(folder.path());
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.lpFile = file.c_str();
  info.lpParameters = u"args";
  info.lpDirectory = dir.c_str();
  ASSERT_TRUE(ShellExecuteExW(&info));
  EXPECT_GT(reinterpret_cast<INT_PTR>(info.hInstApp), 32);
  auto child = std::make_unique<Host>();
  child->process = CScopedHandle(info.hProcess);
  child->pid = GetProcessId(info.hProcess);
  ASSERT_EQ(0u, WaitExit(child));
  EXPECT_EQ(fs::canonical(folder.path()).string(), fs::canonical(HostRecord(child)["cwd"]).string());

  info.fMask = SEE_MASK_DEFAULT;
  info.lpParameters = u"exit 0";
  ASSERT_TRUE(ShellExecuteExW(&info));
  EXPECT_EQ(nullptr, info.hProcess);
}

TEST_F(KernelShellTest, ErrorResults) {
  fs::create_directories(RootFile("afolder"));
  WriteFileBytes(RootFile("notes.txt"), "text");
  WriteFileBytes(RootFile("fake.exe"), "MZ not really");
  fs::copy_file(BuiltProgram("kernel_host"), RootFile("locked"));
  fs::permissions(RootFile("locked"), fs::perms::owner_read | fs::perms::owner_write);
  struct {
    const char16_t* verb;
    std::u16string file;
    INT_PTR result;
    DWORD error;
  } cases[] = {
      {nullptr, u"no_such_program_anywhere.exe", SE_ERR_FNF, ERROR_FILE_NOT_FOUND},
      {u"open", u"Z:\\no\\such\\folder\\x.exe", SE_ERR_PNF, ERROR_PATH_NOT_FOUND},
      {u"edit", HostPath(), SE_ERR_NOASSOC, ERROR_NO_ASSOCIATION},
      {u"open", ToWindowsPath(RootFile("notes.txt")), SE_ERR_NOASSOC, ERROR_NO_ASSOCIATION},
      {u"open", ToWindowsPath(RootFile("afolder")), SE_ERR_NOASSOC, ERROR_NO_ASSOCIATION},
      {u"open", ToWindowsPath(RootFile("fake.exe")), ERROR_BAD_FORMAT, ERROR_BAD_EXE_FORMAT},
      {u"open", ToWindowsPath(RootFile("locked")), SE_ERR_ACCESSDENIED, ERROR_ACCESS_DENIED},
  };
  for (const auto& c : cases) {
    SetLastError(0xdeadbeef);
    auto r = reinterpret_cast<INT_PTR>(ShellExecuteW(nullptr, c.verb, c.file.c_str(), nullptr, nullptr, SW_HIDE));
    EXPECT_EQ(c.result, r) << ToUtf8(c.file);
    EXPECT_EQ(c.error, GetLastError()) << ToUtf8(c.file);
  }
  standin::ArmFault("ShellExecuteW", ERROR_ACCESS_DENIED);
  EXPECT_EQ(SE_ERR_ACCESSDENIED,
            reinterpret_cast<INT_PTR>(ShellExecuteW(nullptr, nullptr, HostPath().c_str(), u"exit 0", nullptr, 0)));
  standin::ArmFault("ShellExecuteExW", ERROR_FILE_NOT_FOUND);
  std::u16string file = HostPath();
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.lpFile = file.c_str();
  EXPECT_FALSE(ShellExecuteExW(&info));
  EXPECT_EQ(SE_ERR_FNF, reinterpret_cast<INT_PTR>(info.hInstApp));
  EXPECT_EQ(nullptr, info.hProcess);
}

}  // namespace
