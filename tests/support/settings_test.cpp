// The settings file beside the host executable, read as the library is loaded:
// these tests run a small host program copied into a folder of their own.
#include <filesystem>

#include "common/fresh_root.h"

namespace fs = std::filesystem;

namespace testing_support {
namespace {

class LogSettingsTest : public FreshRoot {
 protected:
  void SetUp() override {
    FreshRoot::SetUp();
    host_ = CopyProgramInto("supporthost", hostDir_.path());
  }

  void WriteIni(const std::string& body) { WriteFileBytes(hostDir_.path() + "/corvane.ini", body); }

  ChildResult Run(std::vector<std::string> steps) {
    steps.insert(steps.begin(), host_);
    std::vector<std::string> env = CopiedProgramEnv();
    env.push_back("CORVANE_FAKE_TIME=2026-03-04 00:05:09.007");
    ChildResult r = RunChild(steps, env);
    EXPECT_EQ(r.exitCode, 0) << r.output;
    return r;
  }

  std::string Logs(const std::string& name = "") const { return hostDir_.path() + "/Logs" + (name.empty() ? "" : "/" + name); }
  std::string Debugger() const { return ReadFileBytes(RootFile("debugger-output.txt")); }

  // Nothing went anywhere: no console text, no debugger output, no log folder.
  void ExpectSilence(const ChildResult& r) {
    EXPECT_EQ(r.output, "");
    EXPECT_EQ(Debugger(), "");
    EXPECT_FALSE(fs::exists(Logs()));
  }

  TempDir hostDir_;
  std::string host_;
};

TEST_F(LogSettingsTest, WithoutASettingsFileNothingIsLogged) {
  ExpectSilence(Run({"log:3:fatal", "banner"}));
}

TEST_F(LogSettingsTest, ConsoleAndDebuggerWithoutAFile) {
  WriteIni("[log section]\r\nlevel=0\r\nmedia=6\r\n");
  ChildResult r = Run({"log:1:hello", "logat:2:.\\AutoMutex:15:at a place"});
  EXPECT_NE(r.output.find("WARNING: thread--0x"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find(" 00:05:09.007AM  03-04-2026: hello\n"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("ERROR: File:'.\\AutoMutex' Line: 15;  thread--0x"), std::string::npos) << r.output;
  std::string debugger = Debugger();
  EXPECT_NE(debugger.find("AM  03-04-2026: helloERROR: File:'.\\AutoMutex'"), std::string::npos)
      << "debugger lines have no line end: " << debugger;
  EXPECT_FALSE(fs::exists(Logs()));
}

TEST_F(LogSettingsTest, SettingsThatTurnLoggingOff) {
  const char* bodies[] = {
      "[log section]\r\nlevel=0\r\nmedia=8\r\n",             // file medium without a file name
      "[log section]\r\nlevel=0\r\nmedia=8\r\nfile=\r\n",    // ... or an empty one
      "[log section]\r\nlevel=0\r\nmedia=1\r\n",             // composed, written nowhere
      "[log section]\r\nlevel=0\r\nmedia=15\r\nfile=a.log\r\n",  // out of range: ignored whole
      "[log section]\r\nlevel=4\r\nmedia=6\r\n",
      "[log section]\r\nlevel=-1\r\nmedia=6\r\n",
      "[log section]\r\nmedia=6\r\n",                         // no level
      "[log section]\r\nlevel=0\r\n",                         // no media
      "[log section]\r\nlevel=zero\r\nmedia=lots\r\n",        // garbage reads as 0: no media
      "[other section]\r\nlevel=0\r\nmedia=6\r\n",
  };
  for (const char* body : bodies) {
    SCOPED_TRACE(body);
    WriteIni(body);
    ExpectSilence(Run({"log:3:fatal"}));
  }
}

TEST_F(LogSettingsTest, ALogFileNameThatLeavesTheLogsFolderTurnsLoggingOff) {
  const char* names[] = {"..\\escaped.log", "..", "sub\\escaped.log", "/escaped.log", "C:escaped.log",
                         "escaped.log.", "con|x"};
  for (const char* name : names) {
    SCOPED_TRACE(name);
    WriteIni(std::string("[log section]\r\nlevel=0\r\nmedia=8\r\nfile=") + name + "\r\n");
    ExpectSilence(Run({"log:3:fatal"}));
    EXPECT_FALSE(fs::exists(hostDir_.path() + "/escaped.log"));
  }
}

TEST_F(LogSettingsTest, FileMediumWritesIntoLogsBesideTheHost) {
  WriteIni("[log section]\r\nlevel=1\r\nmedia=12\r\nfile=corvane.log\r\n");
  ChildResult r = Run({"log:0:dropped", "log:1:kept", "fmt:3:count %d:7"});
  std::string log = ReadFileBytes(Logs("corvane.log"));
  ASSERT_EQ(log.substr(0, 3), "\xEF\xBB\xBF");
  EXPECT_EQ(log.find("dropped"), std::string::npos);
  EXPECT_NE(log.find(" 00:05:09.007AM  03-04-2026: kept\r\nFATAL: thread--0x"), std::string::npos) << log;
  EXPECT_NE(log.find("count 7\r\n"), std::string::npos);
  EXPECT_NE(r.output.find("count 7\n"), std::string::npos) << "the console gets the same lines";
}

TEST_F(LogSettingsTest, RotationAtLoadByMaxSize) {
  WriteIni("[log section]\r\nlevel=0\r\nmedia=8\r\nfile=corvane.log\r\nmaxsize=1\r\n");
  fs::create_directories(Logs());
  // One byte short of the limit: kept.
  WriteFileBytes(Logs("corvane.log"), std::string(1048575, 'a'));
  Run({"log:0:one"});
  EXPECT_FALSE(fs::exists(Logs("corvane.log.bk")));
  EXPECT_GT(fs::file_size(Logs("corvane.log")), 1048575u);

  // At the limit (and past it): set aside before the first line.
  WriteFileBytes(Logs("corvane.log"), std::string(1048576, 'b'));
  WriteFileBytes(Logs("corvane.log.bk"), "older generation");
  Run({"log:0:two"});
  EXPECT_EQ(ReadFileBytes(Logs("corvane.log.bk")), std::string(1048576, 'b')) << "the older .bk is replaced";
  std::string fresh = ReadFileBytes(Logs("corvane.log"));
  EXPECT_EQ(fresh.substr(0, 3), "\xEF\xBB\xBF");
  EXPECT_NE(fresh.find("two\r\n"), std::string::npos);
}

TEST_F(LogSettingsTest, MaxSizeZeroSetsAsideEvenAnEmptyLog) {
  WriteIni("[log section]\r\nlevel=0\r\nmedia=8\r\nfile=corvane.log\r\nmaxsize=0\r\n");
  fs::create_directories(Logs());
  WriteFileBytes(Logs("corvane.log"), "");
  Run({});
  EXPECT_TRUE(fs::exists(Logs("corvane.log.bk")));
  EXPECT_FALSE(fs::exists(Logs("corvane.log")));
}

TEST_F(LogSettingsTest, ALogFolderThatCannotBeMadeLeavesLoggingOff) {
  WriteIni("[log section]\r\nlevel=0\r\nmedia=12\r\nfile=corvane.log\r\n");
  WriteFileBytes(Logs(), "a file where the folder should be");
  ChildResult r = Run({"log:3:fatal"});
  EXPECT_EQ(r.output, "") << "not even the console medium is applied";
  EXPECT_TRUE(fs::is_regular_file(Logs()));
}

TEST_F(LogSettingsTest, TwoThreadsOfAHostWriteWholeLines) {
  WriteIni("[log section]\r\nlevel=0\r\nmedia=8\r\nfile=corvane.log\r\n");
  Run({"threads:2:300"});
  std::string log = ReadFileBytes(Logs("corvane.log"));
  size_t lines = 0;
  for (size_t pos = 3, end; (end = log.find("\r\n", pos)) != std::string::npos; pos = end + 2, ++lines)
    ASSERT_EQ(log.compare(pos, 7, "ERROR: "), 0) << "a line starts inside another at " << pos;
  EXPECT_EQ(lines, 600u);
}

}  // namespace
}  // namespace testing_support

namespace testing_support {
namespace {

// Loading the library reads the settings at once: the log folder is made and an
// old log set aside before any line is written.
TEST(LibraryLoad, ReadsTheLogSettingsWhenLoaded) {
  TempDir root, hostDir;
  std::string host = CopyProgramInto("loadhost", hostDir.path());
  WriteFileBytes(hostDir.path() + "/corvane.ini",
                 "[log section]\r\nlevel=0\r\nmedia=8\r\nfile=corvane.log\r\nmaxsize=0\r\n");
  fs::create_directories(hostDir.path() + "/Logs");
  WriteFileBytes(hostDir.path() + "/Logs/corvane.log", "previous run\r\n");
  std::vector<std::string> env = CopiedProgramEnv();
  env.push_back("CORVANE_PLATFORM_ROOT=" + root.path());
  ChildResult r = RunChild({host, BuiltProgram("libcorvane.so")}, env);
  ASSERT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(r.output, "loaded\n");
  EXPECT_EQ(ReadFileBytes(hostDir.path() + "/Logs/corvane.log.bk"), "previous run\r\n");
  EXPECT_FALSE(fs::exists(hostDir.path() + "/Logs/corvane.log")) << "nothing was logged yet";
  EXPECT_EQ(ReadFileBytes(root.path() + "/debugger-output.txt"), "") << "the attach succeeded quietly";
}

}  // namespace
}  // namespace testing_support
