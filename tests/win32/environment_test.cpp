// The machine around the library: special folders below the root, the module
// path, system messages, the debugger output sink, the clocks and their
// overrides, memory probes and critical sections.
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <shlobj.h>
#include <windows.h>
#include <standin/fault.h>
#include <standin/root.h>

#include <atomic>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "common/fresh_root.h"

namespace {

namespace fs = std::filesystem;
constexpr WCHAR kGuard = 0xBEEF;

class EnvironmentTest : public testing_support::FreshRoot {
 protected:
  std::u16string InRoot(const std::string& rel) const { return standin::ToWindowsPath(RootFile(rel)); }
};
class ClockTest : public testing_support::FreshRoot {
 protected:
  void TearDown() override {
    unsetenv("CORVANE_FAKE_TIME");
    if (hadTz_) setenv("TZ", tz_.c_str(), 1);
    else unsetenv("TZ");
    tzset();
    FreshRoot::TearDown();
  }
  void SetZone(const char* zone) {
    if (const char* tz = std::getenv("TZ")) hadTz_ = true, tz_ = tz;
    setenv("TZ", zone, 1);
    tzset();
  }

 private:
  bool hadTz_ = false;
  std::string tz_;
};

// ---- special folders ----

TEST_F(EnvironmentTest, SpecialFoldersLiveBelowTheRoot) {
  WCHAR path[MAX_PATH];
  // The standard folders exist on the machine without being asked for.
  ASSERT_TRUE(SHGetSpecialFolderPathW(nullptr, path, CSIDL_APPDATA, FALSE));
  EXPECT_EQ(std::u16string(path), InRoot("Users/user/AppData/Roaming"));
  EXPECT_TRUE(fs::is_directory(RootFile("Users/user/AppData/Roaming")));

  ASSERT_TRUE(SHGetSpecialFolderPathW(nullptr, path, CSIDL_PERSONAL | CSIDL_FLAG_CREATE, FALSE));
  EXPECT_EQ(std::u16string(path), InRoot("Users/user/Documents"));
  ASSERT_TRUE(SHGetSpecialFolderPathW(nullptr, path, CSIDL_WINDOWS, TRUE));
  EXPECT_EQ(std::u16string(path), InRoot("Windows"));

  EXPECT_FALSE(SHGetSpecialFolderPathW(nullptr, path, 0x7F, TRUE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  standin::ArmFault("SHGetSpecialFolderPathW", ERROR_ACCESS_DENIED);
  EXPECT_FALSE(SHGetSpecialFolderPathW(nullptr, path, CSIDL_WINDOWS, TRUE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST_F(EnvironmentTest, TheUserNameOfTheRootNamesTheUserFolders) {
  standin::SetMachineSetting("user", "alice");
  WCHAR path[MAX_PATH];
  ASSERT_TRUE(SHGetSpecialFolderPathW(nullptr, path, CSIDL_APPDATA, TRUE));
  EXPECT_EQ(std::u16string(path), InRoot("Users/alice/AppData/Roaming"));
  standin::SetMachineSetting("user", "../escape");  // never leaves the root
  ASSERT_TRUE(SHGetSpecialFolderPathW(nullptr, path, CSIDL_PERSONAL, TRUE));
  EXPECT_EQ(std::u16string(path), InRoot("Users/user/Documents"));
  EXPECT_EQ(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path), S_FALSE);
  EXPECT_EQ(std::u16string(path), InRoot("Users/user/AppData/Local"));
}

// ---- the module path ----

TEST_F(EnvironmentTest, ModuleFileNameIsTheProgramInWindowsForm) {
  std::u16string expected = standin::ToWindowsPath(testing_support::BuiltProgram("test_win32"));
  WCHAR path[MAX_PATH + 2];
  SetLastError(1234);
  ASSERT_EQ(GetModuleFileNameW(nullptr, path, MAX_PATH), expected.size());
  EXPECT_EQ(std::u16string(path), expected);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));

  // Too small: cut, terminated, the size returned and ERROR_INSUFFICIENT_BUFFER.
  for (DWORD size : {1u, 10u, static_cast<DWORD>(expected.size())}) {
    std::fill(std::begin(path), std::end(path), kGuard);
    EXPECT_EQ(GetModuleFileNameW(nullptr, path, size), size);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(std::u16string(path), expected.substr(0, size - 1));
    EXPECT_EQ(path[size], kGuard);
  }
  EXPECT_EQ(GetModuleFileNameW(nullptr, path, static_cast<DWORD>(expected.size() + 1)), expected.size());

  // An address inside a shared object names that object.
  std::fill(std::begin(path), std::end(path), kGuard);
  ASSERT_GT(GetModuleFileNameW(reinterpret_cast<HMODULE>(reinterpret_cast<void*>(&GetModuleFileNameW)), path, MAX_PATH),
            0u);
  EXPECT_EQ(std::u16string(path), standin::ToWindowsPath(testing_support::BuiltProgram("libcvwin32.so")));

  standin::ArmFault("GetModuleFileNameW", ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(GetModuleFileNameW(nullptr, path, MAX_PATH), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
}

// ---- system messages ----

TEST_F(EnvironmentTest, FormatMessageAllocatesTheText) {
  LPWSTR text = nullptr;
  DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, ERROR_ACCESS_DENIED, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(std::u16string(text), u"Access is denied.\r\n");
  EXPECT_EQ(n, wcslen(text));
  EXPECT_EQ(LocalFree(text), nullptr);

  // A Win32 error wrapped as a result code reads as the error.
  WCHAR buf[128];
  EXPECT_GT(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, static_cast<DWORD>(E_ACCESSDENIED), 0, buf, 128,
                           nullptr),
            0u);
  EXPECT_EQ(std::u16string(buf), u"Access is denied.\r\n");
  EXPECT_GT(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, static_cast<DWORD>(E_FAIL), 0, buf, 128, nullptr), 0u);
  EXPECT_EQ(std::u16string(buf), u"Unspecified error\r\n");

  WCHAR small[8 + 2];
  small[8] = small[9] = kGuard;
  SetLastError(0);
  EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_ACCESS_DENIED, 0, small, 8, nullptr), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(small[8], kGuard);
  EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 0xDEAD, 0, buf, 128, nullptr), 0u);
  EXPECT_NE(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
}

// ---- debugger output ----

TEST_F(EnvironmentTest, DebuggerOutputGoesToTheRootOrTheNamedSink) {
  OutputDebugStringW(u"first line\n");
  OutputDebugStringW(u"zweite Zeile: grüße\n");
  OutputDebugStringW(nullptr);
  EXPECT_EQ(testing_support::ReadFileBytes(RootFile("debugger-output.txt")),
            "first line\nzweite Zeile: gr\xC3\xBC\xC3\x9F" "e\n");

  std::string sink = RootFile("elsewhere.txt");
  setenv("CORVANE_DEBUGGER_OUTPUT", sink.c_str(), 1);
  OutputDebugStringW(u"to the sink");
  EXPECT_EQ(testing_support::ReadFileBytes(sink), "to the sink");

  setenv("CORVANE_DEBUGGER_OUTPUT", "-", 1);
  testing::internal::CaptureStderr();
  OutputDebugStringW(u"to standard error\n");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "to standard error\n");
  unsetenv("CORVANE_DEBUGGER_OUTPUT");
}

TEST_F(EnvironmentTest, DebuggerOutputKeepsConcurrentLinesWhole) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 6; ++t)
    threads.emplace_back([t] {
      std::u16string line = u"thread " + std::u16string(1, static_cast<char16_t>(u'A' + t)) +
                            std::u16string(200, u'.') + u"\n";
      for (int i = 0; i < 50; ++i) OutputDebugStringW(line.c_str());
    });
  for (auto& t : threads) t.join();
  std::string all = testing_support::ReadFileBytes(RootFile("debugger-output.txt"));
  size_t lines = 0;
  for (size_t start = 0; start < all.size();) {
    size_t end = all.find('\n', start);
    ASSERT_NE(end, std::string::npos);
    EXPECT_EQ(end - start, 8u + 200u);
    start = end + 1;
    ++lines;
  }
  EXPECT_EQ(lines, 300u);
}

// ---- clocks ----

bool SameTime(const SYSTEMTIME& a, const SYSTEMTIME& b) {
  return a.wYear == b.wYear && a.wMonth == b.wMonth && a.wDay == b.wDay && a.wHour == b.wHour &&
         a.wMinute == b.wMinute && a.wSecond == b.wSecond && a.wMilliseconds == b.wMilliseconds;
}

TEST_F(ClockTest, TheSystemClockCanBeReplaced) {
  SYSTEMTIME fixed{2031, 7, 0, 14, 9, 30, 15, 250};
  standin::SetSystemTimeOverride(&fixed);
  SYSTEMTIME st;
  GetSystemTime(&st);
  EXPECT_TRUE(SameTime(st, fixed));
  FILETIME ft, expected;
  GetSystemTimeAsFileTime(&ft);
  ASSERT_TRUE(SystemTimeToFileTime(&fixed, &expected));
  EXPECT_EQ(CompareFileTime(&ft, &expected), 0);

  // The local clock is the same clock, in the process's time zone.
  SetZone("XYZ-02:30");
  GetLocalTime(&st);
  EXPECT_EQ(st.wHour, 12);
  EXPECT_EQ(st.wMinute, 0);
  EXPECT_EQ(st.wMilliseconds, 250);

  standin::SetSystemTimeOverride(nullptr);
  GetSystemTime(&st);
  time_t now = time(nullptr);
  struct tm utc {};
  gmtime_r(&now, &utc);
  EXPECT_EQ(st.wYear, utc.tm_year + 1900);
}

TEST_F(ClockTest, FakeTimeFromTheEnvironment) {
  setenv("CORVANE_FAKE_TIME", "2024-02-29 13:14:15.678", 1);
  SYSTEMTIME st;
  GetSystemTime(&st);
  SYSTEMTIME expected{2024, 2, 4, 29, 13, 14, 15, 678};
  EXPECT_TRUE(SameTime(st, expected));
  EXPECT_EQ(st.wDayOfWeek, 4);  // a Thursday
  SetZone("UTC0");
  GetLocalTime(&st);
  EXPECT_TRUE(SameTime(st, expected));

  // A value that names no time is ignored: the real clock answers.
  for (const char* bad : {"2023-02-29 00:00:00", "2023-13-01 00:00:00", "yesterday", "2023-01-01 24:00:00"}) {
    setenv("CORVANE_FAKE_TIME", bad, 1);
    GetSystemTime(&st);
    time_t now = time(nullptr);
    struct tm utc {};
    gmtime_r(&now, &utc);
    EXPECT_EQ(st.wYear, utc.tm_year + 1900) << bad;
    EXPECT_EQ(st.wMonth, utc.tm_mon + 1) << bad;
  }
}

TEST_F(ClockTest, SystemTimeAndFileTimeRoundTrip) {
  const SYSTEMTIME times[] = {
      {1601, 1, 1, 1, 0, 0, 0, 0},         {1969, 12, 3, 31, 23, 59, 59, 999}, {1970, 1, 4, 1, 0, 0, 0, 0},
      {2000, 2, 2, 29, 12, 0, 0, 1},       {2038, 1, 2, 19, 3, 14, 8, 0},      {2100, 12, 5, 31, 23, 59, 59, 999},
      {30827, 12, 5, 31, 23, 59, 59, 999},
  };
  for (const SYSTEMTIME& t : times) {
    FILETIME ft;
    ASSERT_TRUE(SystemTimeToFileTime(&t, &ft)) << t.wYear;
    SYSTEMTIME back;
    ASSERT_TRUE(FileTimeToSystemTime(&ft, &back)) << t.wYear;
    EXPECT_TRUE(SameTime(back, t)) << t.wYear;
    EXPECT_EQ(back.wDayOfWeek, t.wDayOfWeek) << t.wYear;
  }
  FILETIME ft;
  ASSERT_TRUE(SystemTimeToFileTime(&times[0], &ft));
  EXPECT_EQ(ft.dwLowDateTime, 0u);
  EXPECT_EQ(ft.dwHighDateTime, 0u);
  ASSERT_TRUE(SystemTimeToFileTime(&times[2], &ft));
  EXPECT_EQ((static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime, 116444736000000000ull);
}

TEST_F(ClockTest, ImpossibleTimesAreRefused) {
  const SYSTEMTIME bad[] = {
      {2023, 2, 0, 29, 0, 0, 0, 0}, {2100, 2, 0, 29, 0, 0, 0, 0}, {2023, 4, 0, 31, 0, 0, 0, 0},
      {2023, 13, 0, 1, 0, 0, 0, 0}, {2023, 0, 0, 1, 0, 0, 0, 0},  {2023, 1, 0, 0, 0, 0, 0, 0},
      {2023, 1, 0, 1, 24, 0, 0, 0}, {2023, 1, 0, 1, 0, 60, 0, 0}, {2023, 1, 0, 1, 0, 0, 0, 1000},
      {1600, 12, 0, 31, 0, 0, 0, 0},
  };
  for (const SYSTEMTIME& t : bad) {
    FILETIME ft{0xAAAAAAAA, 0xAAAAAAAA};
    SetLastError(0);
    EXPECT_FALSE(SystemTimeToFileTime(&t, &ft)) << t.wYear << "-" << t.wMonth << "-" << t.wDay;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(ft.dwLowDateTime, 0xAAAAAAAAu);
  }
  FILETIME huge{0, 0x80000000u};
  SYSTEMTIME st;
  EXPECT_FALSE(FileTimeToSystemTime(&huge, &st));
  FILETIME a{1, 0}, b{0, 1};
  EXPECT_LT(CompareFileTime(&a, &b), 0);
  EXPECT_GT(CompareFileTime(&b, &a), 0);
}

// ---- memory probes ----

TEST_F(EnvironmentTest, AForkedChildProbesItsOwnMemory) {
  const int answer = 42;
  EXPECT_FALSE(IsBadReadPtr(&answer, sizeof answer));  // the parent has probed before the fork
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Mapped after the fork: only the child has it.
    void* map = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (map == MAP_FAILED) _exit(2);
    static_cast<WCHAR*>(map)[0] = 0;
    _exit(IsBadReadPtr(map, 4096) || IsBadStringPtrW(static_cast<WCHAR*>(map), UINT_MAX) ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(EnvironmentTest, StringProbesStopAtUnreadableMemory) {
  EXPECT_FALSE(IsBadStringPtrW(u"readable", UINT_MAX));
  EXPECT_TRUE(IsBadStringPtrW(nullptr, UINT_MAX));
  EXPECT_FALSE(IsBadStringPtrW(nullptr, 0));

  long page = sysconf(_SC_PAGESIZE);
  void* map = mmap(nullptr, static_cast<size_t>(page) * 2, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(map, MAP_FAILED);
  auto* base = static_cast<char*>(map);
  ASSERT_EQ(mprotect(base + page, static_cast<size_t>(page), PROT_NONE), 0);
  auto* tail = reinterpret_cast<WCHAR*>(base + page) - 4;  // four characters before the unreadable page
  for (int i = 0; i < 4; ++i) tail[i] = u'x';
  EXPECT_TRUE(IsBadStringPtrW(tail, UINT_MAX));  // runs into the page without a terminator
  EXPECT_FALSE(IsBadStringPtrW(tail, 4));       // but stops before it when told to
  EXPECT_TRUE(IsBadStringPtrW(tail, 5));
  tail[3] = 0;
  EXPECT_FALSE(IsBadStringPtrW(tail, UINT_MAX));  // ends right before the page
  auto* first = reinterpret_cast<WCHAR*>(base);
  std::fill(first, first + page / 2, u'y');  // a whole page without a terminator
  EXPECT_TRUE(IsBadStringPtrW(first, UINT_MAX));
  EXPECT_TRUE(IsBadStringPtrW(reinterpret_cast<WCHAR*>(base + page), 1));

  EXPECT_FALSE(IsBadReadPtr(base, static_cast<UINT_PTR>(page)));
  EXPECT_TRUE(IsBadReadPtr(base, static_cast<UINT_PTR>(page) + 1));
  EXPECT_FALSE(IsBadReadPtr(nullptr, 0));
  munmap(map, static_cast<size_t>(page) * 2);
  EXPECT_TRUE(IsBadStringPtrW(tail, UINT_MAX));  // unmapped altogether
}

// ---- critical sections ----

TEST_F(EnvironmentTest, CriticalSectionsAreRecursiveForTheirOwner) {
  CRITICAL_SECTION cs;
  InitializeCriticalSection(&cs);
  EnterCriticalSection(&cs);
  EnterCriticalSection(&cs);
  EXPECT_TRUE(TryEnterCriticalSection(&cs));
  EXPECT_EQ(cs.RecursionCount, 3);

  std::atomic<int> otherGot{-1};
  std::thread([&] { otherGot = TryEnterCriticalSection(&cs) ? 1 : 0; }).join();
  EXPECT_EQ(otherGot, 0);  // held by this thread
  LeaveCriticalSection(&cs);
  LeaveCriticalSection(&cs);
  std::thread([&] { otherGot = TryEnterCriticalSection(&cs) ? 1 : 0; }).join();
  EXPECT_EQ(otherGot, 0);  // still held once
  LeaveCriticalSection(&cs);
  std::thread([&] {
    otherGot = TryEnterCriticalSection(&cs) ? 1 : 0;
    if (otherGot) LeaveCriticalSection(&cs);
  }).join();
  EXPECT_EQ(otherGot, 1);

  long counter = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 10000; ++i) {
        EnterCriticalSection(&cs);
        EnterCriticalSection(&cs);
        ++counter;
        LeaveCriticalSection(&cs);
        LeaveCriticalSection(&cs);
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(counter, 40000);
  DeleteCriticalSection(&cs);
}

}  // namespace
