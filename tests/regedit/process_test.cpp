// The registry editor as a process, on machines the admin tool installs:
// started exactly as programs start it (ShellExecuteW "open" regedit.exe with
// " /e ...", CreateProcessW on the Windows folder's regedit.exe with
// " /s ..."), and by hand; its exit codes and reports; and a profile export
// that brings MAPI profiles back on another machine.
#include <filesystem>

#include <shellapi.h>
#include <shlobj.h>
#include <standin/root.h>

#include "owners/ScopedOwner.h"
#include "regedit_support.h"

using namespace regedit;
using namespace regedit_test;
using testing_support::ChildResult;

namespace fs = std::filesystem;

namespace {

constexpr const char16_t* kProfilesKey =
    u"HKEY_CURRENT_USER\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows Messaging Subsystem\\Profiles";

class RegEditor : public testing_support::FreshRoot {
 protected:
  void SetUp() override {
    FreshRoot::SetUp();
    Admin({"install"});
  }

  std::string Admin(std::vector<std::string> args) {
    args.insert(args.begin(), testing_support::BuiltProgram("mapiadmin"));
    ChildResult r = testing_support::RunChild(args);
    EXPECT_EQ(r.exitCode, 0) << r.output;
    return r.output;
  }

  static std::u16string WindowsFolder() {
    WCHAR path[MAX_PATH];
    EXPECT_EQ(SHGetFolderPathW(nullptr, CSIDL_WINDOWS, nullptr, 0, path), S_OK);
    return path;
  }

  // Exports as the library does: the shell starts "regedit.exe" in the
  // Windows folder. The editor's exit code, or -1 when it could not start.
  static int ExportAsPrograms(const std::string& file, const std::u16string& key) {
    std::u16string parameters = u" /e \"" + standin::ToWindowsPath(file) + u"\" \"" + key + u"\"";
    INT_PTR started = reinterpret_cast<INT_PTR>(
        ShellExecuteW(nullptr, u"open", u"regedit.exe", parameters.c_str(), WindowsFolder().c_str(), SW_HIDE));
    if (started <= 32) return -1;
    return WaitFor(standin::LastShellExecuteProcess());
  }

  // Imports as the library does: CreateProcessW on the Windows folder's
  // regedit.exe with a command line of parameters only.
  static int ImportAsPrograms(const std::string& file) {
    std::u16string program = WindowsFolder() + u"\\regedit.exe";
    std::u16string line = u" /s \"" + standin::ToWindowsPath(file) + u"\"";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) return -1;
    CloseHandle(pi.hThread);
    return WaitFor(pi.hProcess);
  }

  static int WaitFor(HANDLE process) {
    CScopedHandle owned(process);
    EXPECT_EQ(WaitForSingleObject(process, 60000), WAIT_OBJECT_0);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeProcess(process, &code));
    return static_cast<int>(code);
  }

  // The editor of the root, run by hand.
  ChildResult ByHand(std::vector<std::string> args, const std::vector<std::string>& env = {}) {
    args.insert(args.begin(), RootFile("Windows/regedit.exe"));
    return testing_support::RunChild(args, env);
  }

  testing_support::TempDir files_;
};

TEST_F(RegEditor, TheAdminToolPutsTheEditorIntoTheWindowsFolder) {
  EXPECT_TRUE(fs::is_symlink(RootFile("Windows/regedit.exe")));
  EXPECT_EQ(fs::read_symlink(RootFile("Windows/regedit.exe")), fs::path(testing_support::BinDir()) / "windows/regedit");
  // Installing again replaces it.
  Admin({"install"});
  EXPECT_TRUE(fs::exists(RootFile("Windows/regedit.exe")));
  // Without it, neither way of starting finds an editor anywhere else.
  fs::remove(RootFile("Windows/regedit.exe"));
  std::string file = files_.path() + "/out.reg";
  EXPECT_EQ(ExportAsPrograms(file, kProfilesKey), -1);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(ImportAsPrograms(file), -1);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(RegEditor, ExportsWhatProgramsAskForAndImportsItBack) {
  regtest::Key key;
  ASSERT_EQ(regtest::Create(HKEY_CURRENT_USER, u"Software\\Editor\\Sub", &key), ERROR_SUCCESS);
  ASSERT_EQ(regtest::SetString(key, u"text", u"a \"quoted\" \\ value"), ERROR_SUCCESS);
  ASSERT_EQ(regtest::SetDword(key, u"n", 7), ERROR_SUCCESS);
  std::string file = files_.path() + "/editor.reg";
  ASSERT_EQ(ExportAsPrograms(file, u"HKEY_CURRENT_USER\\Software\\Editor"), 0);
  EXPECT_EQ(testing_support::ReadFileBytes(file),
            "\xFF\xFE" + Utf16(u"Windows Registry Editor Version 5.00\r\n\r\n"
                               u"[HKEY_CURRENT_USER\\Software\\Editor]\r\n\r\n"
                               u"[HKEY_CURRENT_USER\\Software\\Editor\\Sub]\r\n"
                               u"\"text\"=\"a \\\"quoted\\\" \\\\ value\"\r\n"
                               u"\"n\"=dword:00000007\r\n\r\n"));
  std::vector<std::string> before = regtest::Dump(HKEY_CURRENT_USER, u"Software\\Editor");
  key.Reset();
  ASSERT_EQ(RegDeleteTreeW(HKEY_CURRENT_USER, u"Software\\Editor"), ERROR_SUCCESS);
  // This process sees what the editor wrote as soon as it has ended.
  ASSERT_EQ(ImportAsPrograms(file), 0);
  EXPECT_EQ(regtest::Dump(HKEY_CURRENT_USER, u"Software\\Editor"), before);
}

TEST_F(RegEditor, ExitCodesAndReports) {
  std::string missing = files_.path() + "/missing.reg";
  ChildResult r = ByHand({"/s", missing});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.output, "regedit: cannot import " + missing + ": the file cannot be read (error 2)\n");

  std::string notScript = files_.path() + "/notes.reg";
  testing_support::WriteFileBytes(notScript, "REGEDIT4 FOO\n[HKEY_CURRENT_USER\\Software\\X]\n");
  r = ByHand({"/s", notScript});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.output, "regedit: cannot import " + notScript + ": the file is not a registry script\n");

  std::string bad = files_.path() + "/bad.reg";
  testing_support::WriteFileBytes(bad, "REGEDIT4\n[HKEY_CURRENT_USER\\Software\\X]\n\"a\"=dword:1x\n\"b\"=\"ok\"\n");
  r = ByHand({bad});
  EXPECT_EQ(r.exitCode, 0) << "a skipped line is no failure";
  EXPECT_EQ(r.output, "regedit: " + bad + "(3): a dword needs one to eight hex digits and nothing more\n"
                      "The keys and values contained in " + bad + " have been successfully added to the registry.\n");
  r = ByHand({"/S", bad});
  EXPECT_EQ(r.output.find("successfully"), std::string::npos) << "silent";

  // A registry write that fails: the rest goes in, the result says so.
  r = ByHand({"/s", bad}, {"CORVANE_FAULTS=RegSetValueExW=5@1"});
  EXPECT_EQ(r.exitCode, 3);
  EXPECT_NE(r.output.find("(4): cannot write the value \"b\" (error 5)"), std::string::npos) << r.output;

  std::string out = files_.path() + "/out.reg";
  r = ByHand({"/e", out, "HKEY_CURRENT_USER\\Software\\Nothing"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.output,
            "regedit: cannot export " + out + ": the key HKEY_CURRENT_USER\\Software\\Nothing cannot be opened (error 2)\n");
  EXPECT_FALSE(fs::exists(out)) << "nothing is written";
  r = ByHand({"/e", files_.path() + "/no/such/folder.reg", "HKEY_CURRENT_USER\\Software\\X"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.output.find("the file cannot be written (error 3)"), std::string::npos) << r.output;

  // A file that cannot be opened or written whole: nothing is left behind.
  r = ByHand({"/s", bad}, {"CORVANE_FAULTS=CreateFileW=32"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.output, "regedit: cannot import " + bad + ": the file cannot be read (error 32)\n");
  r = ByHand({"/e", out, "HKEY_CURRENT_USER\\Software\\X"}, {"CORVANE_FAULTS=WriteFile=112"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.output, "regedit: cannot export " + out + ": the file cannot be written (error 112)\n");
  EXPECT_FALSE(fs::exists(out));

  // Without a key the whole registry is exported.
  r = ByHand({"-e", out});
  EXPECT_EQ(r.exitCode, 0) << r.output;
  std::string whole = U(DecodeRegFile(testing_support::ReadFileBytes(out)));
  EXPECT_NE(whole.find("\r\n[HKEY_CURRENT_USER\\Software\\X]\r\n\"b\"=\"ok\"\r\n"), std::string::npos);
  EXPECT_NE(whole.find("[HKEY_LOCAL_MACHINE]"), std::string::npos);

  for (const std::vector<std::string>& usage : std::vector<std::vector<std::string>>{
           {}, {"/x", bad}, {"/e"}, {"/e", out, "HKEY_CURRENT_USER", "extra"}}) {
    EXPECT_EQ(ByHand(usage).exitCode, 2) << (usage.empty() ? "" : usage[0]);
  }
  EXPECT_EQ(ByHand({"/?"}).exitCode, 0);
}

TEST_F(RegEditor, DamagedFilesNeverBringTheEditorDown) {
  REG_TESTDATA(rage, "rage-edit-test-regedit5.reg");
  std::string bytes = testing_support::ReadFileBytes(rage);
  std::string file = files_.path() + "/damaged.reg";
  for (size_t cut : {size_t(1), size_t(2), size_t(3), size_t(77), size_t(5001), bytes.size() - 1}) {
    std::string damaged = bytes.substr(0, cut);
    if (cut > 100) damaged[cut / 2] = '\\';
    testing_support::WriteFileBytes(file, damaged);
    ChildResult r = ByHand({"/s", file});
    EXPECT_EQ(r.signal, 0) << cut;
    EXPECT_TRUE(r.exitCode == 0 || r.exitCode == 1) << cut << ": " << r.output;
  }
}

TEST_F(RegEditor, ProfilesExportedAfterTheAdminToolMadeThemComeBackOnAnotherMachine) {
  // Stores live outside both machines, as a user's files do.
  const std::string mail = files_.path() + "/mail.pst", archive = files_.path() + "/archive.pst";
  Admin({"service", "add", "Outlook", "--type", "pst", "--name", "Mail", "--path", mail, "--default"});
  Admin({"service", "add", "Outlook", "--type", "contab"});
  Admin({"profile", "create", "Second"});
  Admin({"service", "add", "Second", "--type", "pst", "--name", "Archive", "--path", archive});
  const std::string mailDump = Admin({"dump", "Outlook", "--store", "Mail"});
  const std::string archiveDump = Admin({"dump", "Second", "--store", "Archive"});
  const std::string services = Admin({"service", "list", "Outlook", "--json"});
  const std::vector<std::string> profiles = regtest::Dump(HKEY_CURRENT_USER, kProfilesKey + 18);
  ASSERT_GT(profiles.size(), 10u);

  std::string file = files_.path() + "/olconfig.reg";
  ASSERT_EQ(ExportAsPrograms(file, kProfilesKey), 0);

  // Another machine with the client installed and no profile "Outlook".
  testing_support::TempDir other;
  setenv("CORVANE_PLATFORM_ROOT", other.path().c_str(), 1);
  Admin({"install"});
  Admin({"profile", "delete", "Outlook"});
  ASSERT_EQ(ImportAsPrograms(file), 0);

  EXPECT_EQ(regtest::Dump(HKEY_CURRENT_USER, kProfilesKey + 18), profiles);
  EXPECT_EQ(Admin({"service", "list", "Outlook", "--json"}), services);
  // MAPI logs on to both profiles and opens their stores.
  EXPECT_EQ(Admin({"dump", "Outlook", "--store", "Mail"}), mailDump);
  EXPECT_EQ(Admin({"dump", "Second", "--store", "Archive"}), archiveDump);
}

}  // namespace
