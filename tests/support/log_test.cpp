#include <sys/mman.h>

#include <filesystem>
#include <regex>
#include <set>
#include <thread>

#include <standin/fault.h>
#include <standin/root.h>

#include "support/Log.h"
#include "support/OutlookTrivial.h"
#include <shlobj.h>
#include "support_fixture.h"

namespace fs = std::filesystem;

namespace testing_support {

const SYSTEMTIME kFixedTime = {2026, 3, 3, 4, 13, 5, 9, 7};

std::string TimePrefix() {
  char buf[64];
  std::snprintf(buf, sizeof buf, "thread--0x%04x 01:05:09.007PM  03-04-2026: ", GetCurrentThreadId());
  return buf;
}

void LogCapture::SetUp() {
  FreshRoot::SetUp();
  saved_ = g_logSettings;
  standin::SetSystemTimeOverride(&kFixedTime);
  fs::create_directories(RootFile("Logs"));
  logPath_ = RootFile("Logs/test.log");
  logPathW_ = standin::ToWindowsPath(logPath_);
}

void LogCapture::TearDown() {
  g_logSettings = saved_;
  FreshRoot::TearDown();
}

void LogCapture::LogToFile(int level, int media) {
  LogSettings s = {true, level, media, {}};
  wcscpy_s(s.szLogFile, logPathW_.c_str());
  ApplyLogSettings(s);
  ASSERT_EQ(g_logSettings.nMedia, media);
}

std::string LogCapture::LogBytes() const { return ReadFileBytes(logPath_); }

std::vector<std::string> LogCapture::LogLines() const {
  std::string bytes = LogBytes();
  if (bytes.rfind("\xEF\xBB\xBF", 0) == 0) bytes.erase(0, 3);
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = bytes.find("\r\n", start)) != std::string::npos; start = end + 2)
    lines.push_back(bytes.substr(start, end - start));
  EXPECT_EQ(start, bytes.size()) << "the file ends inside a line";
  return lines;
}

std::string LogCapture::DebuggerOutput() const { return ReadFileBytes(RootFile("debugger-output.txt")); }

namespace {

using LogTest = LogCapture;

TEST_F(LogTest, LinesCarryTagPositionAndTimeInTheFileFormat) {
  LogToFile(LOG_INFO);
  LogMessage(LOG_INFO, TEXT("plain text"));
  LogMessageAt(LOG_WARNING, TEXT(".\\MAPIPack\\MAPIFolder"), 212, TEXT("copied %d of %s"), 3, TEXT("Inbox"));
  LogMessageAt(LOG_ERROR, nullptr, 99, TEXT("no position"));

  std::string bytes = LogBytes();
  ASSERT_EQ(bytes.substr(0, 3), "\xEF\xBB\xBF") << "a new log starts with a byte-order mark";
  EXPECT_EQ(bytes.find("\xEF\xBB\xBF", 3), std::string::npos) << "appending adds no second mark";
  auto lines = LogLines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "INFO: " + TimePrefix() + "plain text");
  EXPECT_EQ(lines[1], "WARNING: File:'.\\MAPIPack\\MAPIFolder' Line: 212;  " + TimePrefix() + "copied 3 of Inbox");
  EXPECT_EQ(lines[2], "ERROR: " + TimePrefix() + "no position");
}

TEST_F(LogTest, FormatsOnlyWhenTheTextHoldsAPercentSign) {
  LogToFile(LOG_INFO);
  LogMessage(LOG_ERROR, TEXT("no conversions here"), 42, TEXT("ignored"));
  LogMessage(LOG_ERROR, TEXT("value %d"), 42);
  LogMessage(LOG_ERROR, TEXT("100%% done"));
  LogMessage(LOG_ERROR, TEXT("mismatch %s %d"), 7);  // wrong kinds and too few values
  auto lines = LogLines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "ERROR: " + TimePrefix() + "no conversions here");
  EXPECT_EQ(lines[1], "ERROR: " + TimePrefix() + "value 42");
  EXPECT_EQ(lines[2], "ERROR: " + TimePrefix() + "100% done");
  EXPECT_EQ(lines[3], "ERROR: " + TimePrefix() + "mismatch (invalid) (missing)");
}

TEST_F(LogTest, ThresholdDropsLowerLevels) {
  LogToFile(LOG_ERROR);
  for (int level = LOG_INFO; level <= LOG_FATAL; ++level) LogMessage(level, TEXT("level %d"), level);
  LogMessage(LOG_FATAL, nullptr);  // a null format writes nothing
  auto lines = LogLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "ERROR: " + TimePrefix() + "level 2");
  EXPECT_EQ(lines[1], "FATAL: " + TimePrefix() + "level 3");

  fs::remove(logPath_);
  LogToFile(LOG_INFO);
  for (int level = LOG_INFO; level <= LOG_FATAL; ++level) LogMessage(level, TEXT("level %d"), level);
  EXPECT_EQ(LogLines().size(), 4u);
}

TEST_F(LogTest, LongLinesAreCutAt4095Characters) {
  LogToFile(LOG_INFO);
  std::u16string longText(6000, u'x');
  LogMessage(LOG_ERROR, longText.c_str());
  LogMessage(LOG_ERROR, TEXT("%s"), longText.c_str());
  auto lines = LogLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].size(), 4095u);
  EXPECT_EQ(lines[1].size(), 4095u);
  EXPECT_EQ(lines[1].back(), 'x');
}

TEST_F(LogTest, TimestampUsesTheTwelveHourRuleAndFourHexDigitsAtLeast) {
  struct Case {
    WORD hour, minute;
    DWORD thread;
    const char* expected;
  } cases[] = {
      {0, 5, 0x1f, "thread--0x001f 00:05:09.007AM  03-04-2026: "},
      {12, 30, 0xabc, "thread--0x0abc 12:30:09.007AM  03-04-2026: "},
      {13, 0, 0x1000, "thread--0x1000 01:00:09.007PM  03-04-2026: "},
      {23, 59, 0x12345, "thread--0x12345 11:59:09.007PM  03-04-2026: "},
  };
  for (const Case& c : cases) {
    SYSTEMTIME t = kFixedTime;
    t.wHour = c.hour;
    t.wMinute = c.minute;
    WCHAR out[80];
    FormatLogTimestamp(out, 80, c.thread, t);
    EXPECT_EQ(standin::ToUtf8(out), c.expected);
  }
}

TEST_F(LogTest, ThreadsWriteWholeLines) {
  LogToFile(LOG_INFO);
  constexpr int kThreads = 4, kLines = 150;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([t] {
      for (int k = 0; k < kLines; ++k) LogMessage(LOG_ERROR, TEXT("writer %d line %d %s"), t, k, TEXT("payload"));
    });
  for (auto& t : threads) t.join();
  auto lines = LogLines();
  ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLines));
  std::regex shape("ERROR: thread--0x[0-9a-f]{4,} 01:05:09\\.007PM  03-04-2026: writer (\\d) line (\\d+) payload");
  std::set<std::pair<int, int>> seen;
  for (const auto& line : lines) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(line, m, shape)) << line;
    seen.emplace(std::stoi(m[1]), std::stoi(m[2]));
  }
  EXPECT_EQ(seen.size(), lines.size());
}

TEST_F(LogTest, LineIsLostWithADebuggerNoticeWhenTheFileCannotBeOpened) {
  LogToFile(LOG_INFO);
  fs::remove_all(RootFile("Logs"));
  LogMessage(LOG_ERROR, TEXT("lost"));
  EXPECT_EQ(DebuggerOutput(),
            "_tfopen failed, hRes = 0x80070003, dwErr = 0x00000003 = "
            "\"The system cannot find the path specified.\r\n\"\n");
  // The next line tries again.
  fs::create_directories(RootFile("Logs"));
  LogMessage(LOG_ERROR, TEXT("kept"));
  auto lines = LogLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "ERROR: " + TimePrefix() + "kept");
}

TEST_F(LogTest, InjectedOpenFailureIsReportedWithItsCode) {
  LogToFile(LOG_INFO);
  standin::ArmFault("_wfopen", ERROR_ACCESS_DENIED, 1);
  LogMessage(LOG_ERROR, TEXT("first"));
  LogMessage(LOG_ERROR, TEXT("second"));
  EXPECT_EQ(DebuggerOutput(), "_tfopen failed, hRes = 0x80070005, dwErr = 0x00000005 = \"Access is denied.\r\n\"\n");
  auto lines = LogLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "ERROR: " + TimePrefix() + "second");
}

TEST_F(LogTest, SettingsWithAMissingLogFolderAreNotApplied) {
  LogSettings s = {true, LOG_INFO, LOG_MEDIA_FILE | LOG_MEDIA_DEBUGGER, {}};
  wcscpy_s(s.szLogFile, standin::ToWindowsPath(RootFile("missing/x.log")).c_str());
  ApplyLogSettings(s);
  EXPECT_EQ(g_logSettings.nMedia, 0);
  LogMessage(LOG_FATAL, TEXT("nowhere"));
  EXPECT_EQ(DebuggerOutput(), "");
  EXPECT_FALSE(fs::exists(RootFile("missing")));
}

TEST_F(LogTest, DebuggerMediumGetsTheLineWithoutALineEnd) {
  LogToFile(LOG_INFO, LOG_MEDIA_DEBUGGER);
  LogMessage(LOG_WARNING, TEXT("to the debugger"));
  EXPECT_EQ(DebuggerOutput(), "WARNING: " + TimePrefix() + "to the debugger");
  EXPECT_FALSE(fs::exists(logPath_));
}

TEST_F(LogTest, CheckHResultLogsEveryNonZeroCode) {
  LogToFile(LOG_INFO);
  SetLastError(0);
  EXPECT_TRUE(CheckHResult(S_OK, TEXT("pStore->SaveChanges(KEEP_OPEN_READWRITE)"), TEXT(".\\MAPIPack\\MAPIStore"), 5));
  SetLastError(5);
  EXPECT_FALSE(CheckHResult(1, TEXT("pTable->QueryRows(1, 0, &rows)"), TEXT(".\\MAPIPack\\MAPIWrapper"), 77));
  SetLastError(2);
  EXPECT_FALSE(CheckHResult(E_FAIL, TEXT("MAPIAdminProfiles(0, &profAdminPtr)"), TEXT(".\\MAPIPack\\MAPIProfile"), 120));
  auto lines = LogLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "ERROR: File:'.\\MAPIPack\\MAPIWrapper' Line: 77;  " + TimePrefix() +
                          "pTable->QueryRows(1, 0, &rows) failed, HRESULT:0x   1,error:5");
  EXPECT_EQ(lines[1], "ERROR: File:'.\\MAPIPack\\MAPIProfile' Line: 120;  " + TimePrefix() +
                          "MAPIAdminProfiles(0, &profAdminPtr) failed, HRESULT:0x80004005,error:2");
}

TEST_F(LogTest, SkipNoticeLeavesAnEmptyLineAfterIt) {
  LogToFile(LOG_INFO);
  LogSkippedStep(TEXT("pFolder->CreateMessage(NULL, 0, &msg)"), E_FAIL);
  auto lines = LogLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "INFO: " + TimePrefix() + "Skinnping pFolder->CreateMessage(NULL, 0, &msg) because hRes = 0x80004005.");
  EXPECT_EQ(lines[1], "");
}

TEST_F(LogTest, SessionBannerShowsTheRoamingFolderOrNothing) {
  LogToFile(LOG_INFO);
  standin::ArmFault("SHGetSpecialFolderPathW", ERROR_FILE_NOT_FOUND, 1);
  LogSessionBanner();  // the folder cannot be had
  LogSessionBanner();
  WCHAR folder[MAX_PATH];
  ASSERT_TRUE(SHGetSpecialFolderPathW(nullptr, folder, CSIDL_APPDATA, FALSE));
  auto lines = LogLines();
  ASSERT_EQ(lines.size(), 2u);
  std::string head = "INFO: File:'.\\OutlookTrivial' Line: 36;  " + TimePrefix() + "---------";
  EXPECT_EQ(lines[0], head);
  EXPECT_EQ(lines[1], head + standin::ToUtf8(folder));
  EXPECT_NE(lines[1].find("AppData\\Roaming"), std::string::npos);
}

}  // namespace
}  // namespace testing_support
