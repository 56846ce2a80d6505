// A program the kernel-object tests start as a real process. The first argument
// after the program name is a command; results go to files below the platform
// root, which the child shares with its parent:
//   args ...               writes its arguments, command line, folder and root
//   exit N                 exits with N
//   wait-file PATH [N]     waits until PATH exists, then exits with N
//   mutex-hold NAME DIR [keep|close]
//                          owns the named mutex, writes DIR/acquired (the wait
//                          result), waits for DIR/release, writes DIR/released
//                          and releases; with "keep" exits still owning it, with
//                          "close" closes its handle owning it and waits for DIR/exit
//   mutex-wait NAME DIR    writes DIR/waiting, waits for the mutex and writes
//                          DIR/acquired: the result, and whether DIR/released
//                          existed by then
//   mutex-create NAME      writes the last error of CreateMutexW
//   raise CODE             RaiseException outside any guard
//   fault-outside-guard    a null read on one thread while another is guarded
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include <windows.h>
#include <standin/root.h>

namespace {

std::string g_outputPath;

// Whole-file writes through a rename, so a reader never sees half a file.
void WriteFile(const std::string& path, const std::string& text) {
  std::string tmp = path + ".tmp";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    out << text;
  }
  std::filesystem::rename(tmp, path);
}

bool Exists(const std::string& path) { return std::filesystem::exists(path); }

void WaitForFile(const std::string& path) {
  while (!Exists(path)) std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

int Args(int argc, char** argv) {
  std::string text = "argc=" + std::to_string(argc) + "\n";
  for (int i = 0; i < argc; ++i) text += "argv[" + std::to_string(i) + "]=" + argv[i] + "\n";
  text += "cmdline=" + standin::ToUtf8(GetCommandLineW()) + "\n";
  text += "cwd=" + std::filesystem::current_path().string() + "\n";
  const char* probe = std::getenv("KERNEL_PROBE");
  text += std::string("probe=") + (probe ? probe : "(unset)") + "\n";
  WriteFile(g_outputPath, text);
  return 0;
}

int MutexHold(const std::string& name, const std::string& dir, const std::string& mode) {
  HANDLE m = CreateMutexW(nullptr, FALSE, standin::ToUtf16(name).c_str());
  if (!m) return 10;
  DWORD r = WaitForSingleObject(m, INFINITE);
  WriteFile(dir + "/acquired", std::to_string(r));
  WaitForFile(dir + "/release");
  if (mode == "keep") _exit(0);  // ends owning it
  if (mode == "close") {
    CloseHandle(m);  // gives it up owning it, and lives on
    WaitForFile(dir + "/exit");
    return 0;
  }
  WriteFile(dir + "/released", "1");
  return ReleaseMutex(m) ? 0 : 11;
}

int MutexWait(const std::string& name, const std::string& dir) {
  HANDLE m = OpenMutexW(SYNCHRONIZE, FALSE, standin::ToUtf16(name).c_str());
  if (!m) return 10;
  WriteFile(dir + "/waiting", "1");
  DWORD r = WaitForSingleObject(m, INFINITE);
  bool sawRelease = Exists(dir + "/released");
  WriteFile(dir + "/acquired", std::to_string(r) + (sawRelease ? " after-release" : " early"));
  return 0;
}

int FaultOutsideGuard() {
  std::atomic<bool> guarded{false}, done{false};
  std::thread t([&] {
    LONG result;
    DWORD code;
    GuardStructured(
        [&]() -> LONG {
          guarded = true;
          while (!done) std::this_thread::sleep_for(std::chrono::milliseconds(1));
          return 0;
        },
        &result, &code);
  });
  while (!guarded) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  static int* volatile nowhere = nullptr;
  std::printf("read %d\n", *nowhere);  // must end the process: no guard on this thread
  done = true;
  t.join();
  std::printf("survived\n");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  g_outputPath = standin::RootPath("out-" + std::to_string(getpid()) + ".txt");
  std::string command = argc > 1 ? argv[1] : "";
  auto arg = [&](int i) { return std::string(argc > i ? argv[i] : ""); };
  if (command == "args") return Args(argc, argv);
  if (command == "exit") return std::atoi(arg(2).c_str());
  if (command == "wait-file") {
    WaitForFile(arg(2));
    return std::atoi(arg(3).c_str());
  }
  if (command == "mutex-hold") return MutexHold(arg(2), arg(3), arg(4));
  if (command == "mutex-wait") return MutexWait(arg(2), arg(3));
  if (command == "mutex-create") {
    HANDLE m = CreateMutexW(nullptr, FALSE, standin::ToUtf16(arg(2)).c_str());
    WriteFile(g_outputPath, std::to_string(m ? GetLastError() : 1000000 + GetLastError()));
    return 0;
  }
  if (command == "raise") RaiseException(static_cast<DWORD>(std::strtoul(arg(2).c_str(), nullptr, 0)), 0, 0, nullptr);
  if (command == "fault-outside-guard") return FaultOutsideGuard();
  std::fprintf(stderr, "kernel_host: unknown command '%s'\n", command.c_str());
  return 99;
}
