// The registry database: its file, damaged files, a changing root, several
// processes at once, and the fault seam.
#include <cstring>
#include <filesystem>

#include <standin/fault.h>
#include <standin/registry.h>
#include <standin/root.h>

#include "reg_support.h"

using namespace regtest;
using testing_support::ReadFileBytes;
using testing_support::WriteFileBytes;

namespace {

class RegistryDatabase : public testing_support::FreshRoot {
 protected:
  // Points the process at another root below this test's one.
  std::string SwitchRoot(const std::string& name) {
    std::string dir = RootFile(name);
    std::filesystem::create_directories(dir);
    setenv("CORVANE_PLATFORM_ROOT", dir.c_str(), 1);
    return dir;
  }
  std::string DebugOutput(const std::string& rootDir) { return ReadFileBytes(rootDir + "/debugger-output.txt"); }
};

uint32_t BigEndian32(const std::string& bytes, size_t at) {
  return static_cast<uint32_t>(static_cast<uint8_t>(bytes[at])) << 24 |
         static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 1])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 2])) << 8 | static_cast<uint8_t>(bytes[at + 3]);
}

int Lines(const std::string& text, const std::string& needle) {
  int n = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
  return n;
}

TEST_F(RegistryDatabase, OneFileWithOurIdSchemaVersionAndWriteAheadLog) {
  Key key;
  ASSERT_EQ(ERROR_SUCCESS, Create(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Probe", &key));
  ASSERT_EQ(ERROR_SUCCESS, RegFlushKey(key));
  EXPECT_EQ(RootFile("registry.db"), standin::RegistryDatabasePath());
  std::string header = ReadFileBytes(standin::RegistryDatabasePath()).substr(0, 100);
  ASSERT_EQ(100u, header.size());
  EXPECT_EQ(0, header.compare(0, 16, std::string("SQLite format 3\0", 16)));
  EXPECT_EQ(2, header[18]);  // WAL
  EXPECT_EQ(0x43565247u, BigEndian32(header, 68));  // application id "CVRG"
  EXPECT_EQ(1u, BigEndian32(header, 60));           // schema version
}

TEST_F(RegistryDatabase, AFileThatIsNoRegistryGivesBadDbAndOneDebuggerLine) {
  WriteFileBytes(RootFile("registry.db"), "this is a text file, not a database, and long enough to matter......");
  Key key;
  for (int i = 0; i < 3; ++i) EXPECT_EQ(ERROR_BADDB, Create(HKEY_CURRENT_USER, u"Software\\X", &key));
  DWORD size = 0;
  EXPECT_EQ(ERROR_BADDB, RegQueryValueExW(HKEY_LOCAL_MACHINE, u"v", nullptr, nullptr, nullptr, &size));
  std::string debug = DebugOutput(root());
  EXPECT_EQ(1, Lines(debug, "registry.db")) << debug;
  EXPECT_NE(std::string::npos, debug.find("ERROR_BADDB"));
  // The file was not touched, let alone replaced.
  EXPECT_EQ(0u, ReadFileBytes(RootFile("registry.db")).find("this is a text file"));
}

TEST_F(RegistryDatabase, ForeignDamagedOrNewerDatabasesAreRefused) {
  Key key;
  ASSERT_EQ(ERROR_SUCCESS, Create(HKEY_CURRENT_USER, u"Software\\Data", &key));
  for (int i = 0; i < 200; ++i)
    ASSERT_EQ(ERROR_SUCCESS, SetString(key, standin::ToUtf16("value" + std::to_string(i)).c_str(),
                                       std::u16string(100, u'x')));
  ASSERT_EQ(ERROR_SUCCESS, RegFlushKey(key));
  key.Reset();
  const std::string good = ReadFileBytes(standin::RegistryDatabasePath());
  ASSERT_GT(good.size(), 16384u);

  struct Case {
    const char* what;
    size_t at;
    std::string bytes;
    const char* reason;
  };
  const std::vector<Case> cases = {
      {"foreign application id", 68, std::string("\0\0\0\x2a", 4), "not a registry database"},
      {"newer schema", 60, std::string("\0\0\0\x09", 4), "schema version 9"},
      {"damaged pages", 4096, std::string(8192, '\xA5'), "damaged"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string bytes = good;
    bytes.replace(c.at, c.bytes.size(), c.bytes);
    std::string dir = SwitchRoot(c.what);
    WriteFileBytes(dir + "/registry.db", bytes);
    EXPECT_EQ(ERROR_BADDB, RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Data", 0, KEY_READ, key.out()));
    EXPECT_NE(std::string::npos, DebugOutput(dir).find(c.reason)) << DebugOutput(dir);
  }
}

TEST_F(RegistryDatabase, EachRootIsItsOwnMachineAndOldHandlesDoNotCross) {
  Key a;
  ASSERT_EQ(ERROR_SUCCESS, Create(HKEY_CURRENT_USER, u"Software\\OnlyInA", &a));
  SwitchRoot("b");
  Key b;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\OnlyInA", 0, KEY_READ, b.out()));
  EXPECT_EQ(ERROR_INVALID_HANDLE, SetDword(a, u"v", 1));
  setenv("CORVANE_PLATFORM_ROOT", root().c_str(), 1);
  EXPECT_EQ(ERROR_SUCCESS, SetDword(a, u"v", 1));
  // A database file replaced under a running process is picked up anew.
  std::filesystem::remove(standin::RegistryDatabasePath());
  std::filesystem::remove(standin::RegistryDatabasePath() + "-wal");
  std::filesystem::remove(standin::RegistryDatabasePath() + "-shm");
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\OnlyInA", 0, KEY_READ, b.out()));
  EXPECT_EQ(ERROR_INVALID_HANDLE, SetDword(a, u"v", 1));
}

TEST_F(RegistryDatabase, TwoProcessesWritingAtOnceLoseNothing) {
  const int count = 300;
  testing_support::Child first({testing_support::BuiltProgram("regworker"), "write", "Software\\Shared", "p", "300"});
  testing_support::Child second({testing_support::BuiltProgram("regworker"), "write", "Software\\Shared", "q", "300"});
  testing_support::ChildResult r1, r2;
  ASSERT_TRUE(first.Wait(120000, &r1));
  ASSERT_TRUE(second.Wait(120000, &r2));
  EXPECT_EQ(0, r1.exitCode) << r1.output;
  EXPECT_EQ(0, r2.exitCode) << r2.output;
  int found = 0;
  for (const char* prefix : {"p", "q"}) {
    for (int i = 0; i < count; ++i) {
      std::u16string key = u"Software\\Shared";
      if (i % 4) key += u"\\S" + standin::ToUtf16(std::to_string(i % 4));
      DWORD value = 0xdeadbeef, size = sizeof value;
      std::u16string name = standin::ToUtf16(prefix + std::to_string(i));
      if (RegGetValueW(HKEY_CURRENT_USER, key.c_str(), name.c_str(), RRF_RT_REG_DWORD, nullptr, &value, &size) ==
              ERROR_SUCCESS &&
          value == static_cast<DWORD>(i))
        ++found;
    }
  }
  EXPECT_EQ(2 * count, found);
  Key shared;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Shared", 0, KEY_READ, shared.out()));
  EXPECT_EQ((std::vector<std::u16string>{u"S1", u"S2", u"S3"}), SubKeys(shared));
}

TEST_F(RegistryDatabase, FaultSeamFailsChosenCalls) {
  Key key;
  ASSERT_EQ(ERROR_SUCCESS, Create(HKEY_CURRENT_USER, u"Software\\Faults", &key));
  standin::ArmFault("RegOpenKeyExW", ERROR_ACCESS_DENIED, 2);
  Key other;
  EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Faults", 0, KEY_READ, other.out()));
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Faults", 0, KEY_READ, other.out()));
  EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Faults", 0, KEY_READ, other.out()));
  EXPECT_EQ(3u, standin::FaultCallCount("RegOpenKeyExW"));

  standin::ArmFault("RegSetValueExW", ERROR_DISK_FULL, 0);
  EXPECT_EQ(ERROR_DISK_FULL, SetDword(key, u"v", 1));
  EXPECT_EQ(ERROR_DISK_FULL, SetDword(key, u"v", 1));
  standin::ClearFault("RegSetValueExW");
  DWORD size = 0;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExW(key, u"v", nullptr, nullptr, nullptr, &size));

  // A child process takes its faults from the environment.
  testing_support::ChildResult r = testing_support::RunChild(
      {testing_support::BuiltProgram("regworker"), "write", "Software\\Faults", "c", "5"},
      {"CORVANE_FAULTS=RegSetValueExW=0x70@3"});
  EXPECT_EQ(1, r.exitCode) << r.output;
  EXPECT_NE(std::string::npos, r.output.find("RegSetValueExW 2 failed: 112")) << r.output;
}

}  // namespace
