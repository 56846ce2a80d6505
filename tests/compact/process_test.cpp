// The compact library in host processes of its own: no log anywhere, whatever
// the settings file beside the host says, and two backups at once, since
// nothing makes them take turns.
#include <iostream>
#include <set>

#include "compact/compact_support.h"

namespace testing_support {
namespace copying {
namespace {

class CompactProcess : public CompactTest {
 protected:
  std::string Arg(const std::string& posix) { return standin::ToUtf8(Win(posix)); }
  static std::multiset<std::string> Digests(const json& folder) {
    std::multiset<std::string> digests;
    for (const json& m : folder["messages"]) digests.insert(m["digest"].get<std::string>());
    return digests;
  }
};

const char kEveryLine[] = "[log section]\r\nlevel=0\r\nmedia=14\r\nfile=host.log\r\n";

TEST_F(CompactProcess, NoLogAppearsEvenWithASettingsFileBesideTheHost) {
  std::vector<std::string> eml = EmlFiles();
  REQUIRE_TEST_DATA(eml.size() >= 2);
  std::string mail = AddStore("Outlook", "Mail");
  Import("Outlook", "Mail", "Inbox", {eml[0], eml[1]});
  TempDir compactDir, fullDir;
  std::string compact = CopyHost(compactDir.path(), "compacthost", "compacthost");
  std::string full = CopyHost(fullDir.path(), "backuphost");
  WriteFileBytes(compactDir.path() + "/corvane.ini", kEveryLine);
  WriteFileBytes(fullDir.path() + "/corvane.ini", kEveryLine);

  // The settings send every line of the full build to a file, the console
  // and the debugger output.
  HostRun logged = RunHost(full, {"backup", Arg(mail), Arg(RootFile("full.pst")), "0", "1:Inbox"});
  ASSERT_EQ(logged.result, 1) << logged.output;
  ASSERT_TRUE(fs::exists(fullDir.path() + "/Logs/host.log"));
  ASSERT_NE(logged.output.find("INFO: "), std::string::npos);
  fs::remove(RootFile("debugger-output.txt"));

  // The compact build: a backup, a refused one and one whose copy fails.
  HostRun run = RunHost(compact, {"backup", Arg(mail), Arg(RootFile("compact.pst")), "1:Inbox"});
  EXPECT_EQ(run.result, 1) << run.output;
  HostRun refused = RunHost(compact, {"backup", Arg(RootFile("missing.pst")), Arg(RootFile("compact.pst")), "1:Inbox"});
  EXPECT_EQ(refused.result, 0) << refused.output;
  HostRun failed = RunHost(compact, {"sync", Arg(mail), Arg(RootFile("compact.pst")), "1:Inbox"},
                           {"CORVANE_FAULTS=IMAPIFolder::GetContentsTable=0x80004005"});
  EXPECT_EQ(failed.result, 0) << failed.output;
  EXPECT_EQ(failed.lastError, 4242) << "the last error is left alone";

  EXPECT_FALSE(fs::exists(compactDir.path() + "/Logs")) << "no log folder, no log file";
  for (const HostRun* r : {&run, &refused, &failed})
    for (const char* tag : {"INFO: ", "WARNING: ", "ERROR: ", "FATAL: "})
      EXPECT_EQ(r->output.find(tag), std::string::npos) << r->output;
  EXPECT_EQ(Log(), "") << "nothing on the debugger output";
}

// Two processes back up the same folders into the same destination at the
// same moment. Both complete. As neither waits for the other, both may read
// the destination before either has copied, and then both copy: every source
// message is there at least once and at most twice.
TEST_F(CompactProcess, TwoBackupsAtOnceBothComplete) {
  std::vector<std::string> eml = EmlFiles();
  REQUIRE_TEST_DATA(!eml.empty());
  std::string mail = AddStore("Outlook", "Mail");
  AddStore("Outlook", "Archive");
  Import("Outlook", "Mail", "Inbox", eml);
  Import("Outlook", "Mail", "Lists", {Mbox("mailbox-perl-imagemagick-list.mbox")});
  const json source = Dump("Outlook", "Mail");
  TempDir dir;
  std::string host = CopyHost(dir.path(), "compacthost", "compacthost");
  const std::string go = dir.path() + "/go";

  std::vector<std::string> argv = {host, "--start-when", go, "backup", Arg(mail), Arg(RootFile("Archive.pst")),
                                   "1:Inbox", "0:Lists"};
  Child first(argv, CopiedProgramEnv()), second(argv, CopiedProgramEnv());
  ASSERT_TRUE(WaitUntil([&] {
    return first.Output().find("ready") != std::string::npos && second.Output().find("ready") != std::string::npos;
  }, 60000));
  WriteFileBytes(go, "");
  ChildResult one, two;
  ASSERT_TRUE(first.Wait(120000, &one));
  ASSERT_TRUE(second.Wait(120000, &two));
  EXPECT_EQ(Parse(one.output).result, 1) << one.output;
  EXPECT_EQ(Parse(two.output).result, 1) << two.output;

  const json archive = Dump("Outlook", "Archive");
  for (const char* folder : {"Inbox", "Lists"}) {
    SCOPED_TRACE(folder);
    ASSERT_NE(Folder(archive, folder), nullptr);
    std::multiset<std::string> copied = Digests(*Folder(archive, folder));
    for (const std::string& digest : Digests(*Folder(source, folder))) {
      EXPECT_GE(copied.count(digest), 1u) << digest;
      EXPECT_LE(copied.count(digest), 2u) << digest;
    }
    std::cout << folder << ": " << Count(source, folder) << " in the source, " << copied.size()
              << " in the destination after two backups at once\n";
  }
}

}  // namespace
}  // namespace copying
}  // namespace testing_support
