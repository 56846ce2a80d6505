// The operation mutex, the privilege holder and the platform probes.
#include <signal.h>
#include <sys/mman.h>

#include <filesystem>

#include <mapidefs.h>
#include <standin/fault.h>
#include <standin/root.h>

#include "support/AutoMutex.h"
#include "support/PropTrival.h"
#include "support/TokenAdapter.h"
#include "support/softwareversion.h"
#include "support_fixture.h"

namespace fs = std::filesystem;

namespace testing_support {
namespace {

// ---- the operation mutex, between real processes ----

class OperationMutexTest : public LogCapture {
 protected:
  void SetUp() override {
    LogCapture::SetUp();
    host_ = CopyProgramInto("supporthost", hostDir_.path());
    WriteFileBytes(hostDir_.path() + "/corvane.ini", "[log section]\r\nlevel=0\r\nmedia=4\r\n");
  }
  std::vector<std::string> Env() const { return CopiedProgramEnv(); }
  TempDir hostDir_;
  std::string host_;
};

TEST_F(OperationMutexTest, SecondProcessWaitsUntilTheFirstReleases) {
  Child first({host_, "acquire:1500"}, Env());
  ASSERT_TRUE(WaitUntil([&] { return first.Output().find("acquire=0") != std::string::npos; }));
  Child second({host_, "acquire:0"}, Env());
  // While the first holds the mutex the second cannot have it.
  Sleep(400);
  EXPECT_EQ(second.Output().find("acquire="), std::string::npos) << second.Output();
  ChildResult a, b;
  ASSERT_TRUE(first.Wait(20000, &a));
  ASSERT_TRUE(second.Wait(20000, &b));
  EXPECT_NE(b.output.find("acquire=0"), std::string::npos) << b.output;
  EXPECT_EQ(a.exitCode, 0);
  EXPECT_EQ(b.exitCode, 0);
}

TEST_F(OperationMutexTest, KilledHolderMakesTheNextAcquireFailWithAbandonedAndTheOneAfterSucceed) {
  {
    Child holder({host_, "hold"}, Env());
    ASSERT_TRUE(WaitUntil([&] { return holder.Output().find("holding") != std::string::npos; }));
    holder.Kill(SIGKILL);
    ChildResult r;
    ASSERT_TRUE(holder.Wait(10000, &r));
    EXPECT_EQ(r.signal, SIGKILL);
  }
  ChildResult next = RunChild({host_, "acquire:0"}, Env());
  EXPECT_NE(next.output.find("acquire=1"), std::string::npos) << next.output;
  EXPECT_NE(next.output.find("ERROR: File:'.\\AutoMutex' Line: 28;  "), std::string::npos) << next.output;
  EXPECT_NE(next.output.find("WaitForSingleObject FAILED. result:128\n"), std::string::npos) << next.output;
  ChildResult after = RunChild({host_, "acquire:0"}, Env());
  EXPECT_NE(after.output.find("acquire=0"), std::string::npos) << after.output;
  EXPECT_EQ(after.output.find("FAILED"), std::string::npos) << after.output;
}

TEST_F(OperationMutexTest, FailuresToCreateOrWaitAreLoggedAndReturnOne) {
  LogToFile(LOG_INFO);
  standin::ArmFault("CreateMutexW", ERROR_ACCESS_DENIED, 1);
  {
    AutoMutex m;
    EXPECT_EQ(m.Acquire(), 1u);
  }
  standin::ArmFault("WaitForSingleObject", static_cast<int32_t>(WAIT_FAILED), 1);
  {
    AutoMutex m;
    EXPECT_EQ(m.Acquire(), 1u);
  }
  {
    AutoMutex m;  // nothing armed any more: the mutex was released by the failed holder
    EXPECT_EQ(m.Acquire(), 0u);
  }
  auto lines = LogLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "ERROR: File:'.\\AutoMutex' Line: 15;  " + TimePrefix() + "Create mutex failed.error:5");
  EXPECT_EQ(lines[1], "ERROR: File:'.\\AutoMutex' Line: 28;  " + TimePrefix() +
                          "WaitForSingleObject FAILED. result:-1");
}

// ---- privileges ----

using PrivilegeTest = LogCapture;

// Whether SeBackupPrivilege is held and enabled now: enabling it again changes nothing then.
bool BackupEnabled() {
  HANDLE token = nullptr;
  EXPECT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token));
  TOKEN_PRIVILEGES enable = {1, {{{17, 0}, SE_PRIVILEGE_ENABLED}}};
  TOKEN_PRIVILEGES previous = {};
  DWORD length = 0;
  EXPECT_TRUE(AdjustTokenPrivileges(token, FALSE, &enable, sizeof previous, &previous, &length));
  bool held = GetLastError() != ERROR_NOT_ALL_ASSIGNED;
  bool wasEnabled = held && previous.PrivilegeCount == 0;
  if (!wasEnabled) AdjustTokenPrivileges(token, FALSE, &previous, 0, nullptr, nullptr);
  CloseHandle(token);
  return wasEnabled;
}

TEST_F(PrivilegeTest, EnableThenRestorePutsTheTokenBack) {
  ASSERT_FALSE(BackupEnabled());
  TokenAdapter adapter;
  EXPECT_EQ(adapter.EnablePrivilege(SE_BACKUP_NAME), 0u);
  EXPECT_TRUE(BackupEnabled());
  adapter.RestorePrivileges();
  EXPECT_FALSE(BackupEnabled());
  adapter.RestorePrivileges();  // a second restore does nothing
  EXPECT_FALSE(BackupEnabled());
  EXPECT_TRUE(LogLines().empty());
}

TEST_F(PrivilegeTest, MisspelledNameFailsWithTheLuidMessage) {
  LogToFile(LOG_INFO);
  TokenAdapter adapter;
  EXPECT_EQ(adapter.EnablePrivilege(TEXT("SeBackupPrivilage")), 1u);
  adapter.RestorePrivileges();
  auto lines = LogLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "ERROR: File:'.\\TokenAdapter' Line: 49;  " + TimePrefix() +
                          "Could not get the the luid for name: SeBackupPrivilage, Error:1313");
}

TEST_F(PrivilegeTest, TokenFailuresAreLoggedAndReported) {
  LogToFile(LOG_INFO);
  standin::ArmFault("OpenProcessToken", ERROR_ACCESS_DENIED, 1);
  TokenAdapter a;
  EXPECT_EQ(a.EnablePrivilege(SE_RESTORE_NAME), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  standin::ArmFault("AdjustTokenPrivileges", ERROR_INVALID_HANDLE, 1);
  TokenAdapter b;
  EXPECT_EQ(b.EnablePrivilege(SE_RESTORE_NAME), 1u);
  auto lines = LogLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "ERROR: File:'.\\TokenAdapter' Line: 39;  " + TimePrefix() +
                          "Could not open the current process.error: 5");
  EXPECT_EQ(lines[1], "ERROR: File:'.\\TokenAdapter' Line: 57;  " + TimePrefix() +
                          "Could not adjust the the privilege for name: SeRestorePrivilege, Error:6");
}

TEST_F(PrivilegeTest, AcceptedEvenWhenTheTokenDoesNotHoldIt) {
  standin::SetMachineSetting("privileges", "SeRestorePrivilege");
  TokenAdapter adapter;
  EXPECT_EQ(adapter.EnablePrivilege(SE_BACKUP_NAME), 0u);
  EXPECT_FALSE(BackupEnabled());
  adapter.RestorePrivileges();
}

// ---- the 64-bit probe ----

using Wow64Test = LogCapture;

TEST_F(Wow64Test, AnswersTheMachineAndLogsOnlyAFailedCall) {
  LogToFile(LOG_INFO);
  standin::SetMachineSetting("wow64", "1");
  EXPECT_TRUE(IsRunningUnderWow64());
  standin::SetMachineSetting("wow64", "0");
  EXPECT_FALSE(IsRunningUnderWow64());
  standin::SetMachineSetting("wow64", "absent");  // a system without WOW64
  EXPECT_FALSE(IsRunningUnderWow64());
  EXPECT_TRUE(LogLines().empty());

  standin::SetMachineSetting("wow64", "1");
  standin::ArmFault("IsWow64Process", ERROR_ACCESS_DENIED);
  EXPECT_FALSE(IsRunningUnderWow64());
  auto lines = LogLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "ERROR: File:'.\\softwareversion' Line: 58;  " + TimePrefix() + "Call IsWow64Process API failed.");
}

// ---- property strings ----

using ValidStringTest = LogCapture;

TEST_F(ValidStringTest, OnlyReadableUnicodeValuesPass) {
  LogToFile(LOG_INFO);
  WCHAR text[] = TEXT("Inbox");
  SPropValue v = {};
  v.ulPropTag = PROP_TAG(PT_UNICODE, 0x3001);
  v.Value.lpszW = text;
  EXPECT_EQ(GetValidString(&v), text);

  char narrow[] = "Inbox";
  SPropValue a = {};
  a.ulPropTag = PROP_TAG(PT_STRING8, 0x3001);
  a.Value.lpszA = narrow;
  EXPECT_EQ(GetValidString(&a), nullptr);

  SPropValue nul = {};
  nul.ulPropTag = PROP_TAG(PT_UNICODE, 0x3001);
  EXPECT_EQ(GetValidString(&nul), nullptr);

  // A multi-valued string shares the low bits of the type but is no string.
  LPWSTR many[] = {text};
  SPropValue mv = {};
  mv.ulPropTag = PROP_TAG(PT_MV_UNICODE, 0x3001);
  mv.Value.MVszW = {1, many};
  EXPECT_EQ(GetValidString(&mv), nullptr);
  EXPECT_EQ(GetValidString(nullptr), nullptr);
  EXPECT_TRUE(LogLines().empty());

  // A string that runs into memory that cannot be read.
  long page = sysconf(_SC_PAGESIZE);
  auto* mem = static_cast<char*>(mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(mem, MAP_FAILED);
  ASSERT_EQ(mprotect(mem + page, page, PROT_NONE), 0);
  auto* tail = reinterpret_cast<WCHAR*>(mem + page - 8);
  for (int i = 0; i < 4; ++i) tail[i] = u'x';  // no terminator before the locked page
  SPropValue bad = {};
  bad.ulPropTag = PROP_TAG(PT_UNICODE, 0x3001);
  bad.Value.lpszW = tail;
  EXPECT_EQ(GetValidString(&bad), nullptr);
  munmap(mem, 2 * page);
  auto lines = LogLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "ERROR: File:'.\\PropTrival' Line: 17;  " + TimePrefix() +
                          "GetValidString`s argument has a bad string.");
}

}  // namespace
}  // namespace testing_support
