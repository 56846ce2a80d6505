// Shared set-up of the facade tests. The library is reached only through its
// exports; machines are arranged with the admin tool run as a process (and,
// for what it cannot make, by opening store files through the stand-in).
// Log lines are read from a copy of this test program run in a folder of its
// own beside a "corvane.ini", since the library reads its log settings once,
// when it is loaded.
#pragma once

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <mapiutil.h>
#include <mapix.h>

#include "common/fresh_root.h"
#include "facade/OutlookFacade2.h"
#include "mapi/store_support.h"

namespace testing_support {

namespace fs = std::filesystem;

inline std::u16string W(const std::string& s) { return standin::ToUtf16(s); }
inline std::string N(LPCWSTR s) { return s ? standin::ToUtf8(s) : std::string("(null)"); }

// A message service of a profile as the admin tool lists it.
struct ServiceRow {
  std::string service, displayName, path;
  bool isDefault = false;
};

// A machine with the stand-in mail client and its empty profile "Outlook";
// MAPI is initialised through the library for the length of the test.
class FacadeMachine : public FreshRoot {
 protected:
  void SetUp() override {
    FreshRoot::SetUp();
    Ok({"install"});
    ASSERT_EQ(Init2(), 1);
    initialised_ = true;
  }
  void TearDown() override {
    if (initialised_) Term2();
    FreshRoot::TearDown();
  }

  // Adds a personal-folders service for the store file root/<file> (made when
  // missing) to the profile; returns the file's path.
  std::string AddPst(const std::string& file, const std::string& name, bool isDefault = false,
                     const std::string& profile = "Outlook") {
    std::string path = RootFile(file);
    std::vector<std::string> args = {"service", "add", profile, "--type", "pst", "--name", name, "--path", path};
    if (isDefault) args.push_back("--default");
    Ok(args);
    RecordPath(path);
    return path;
  }
  // A store file that no profile holds.
  std::string LoosePst(const std::string& file) {
    std::string path = RootFile(file);
    Ok({"store", "create", path});
    RecordPath(path);
    return path;
  }
  // A personal-folders store answers its own file path; the stand-in's store
  // keeps what its file records, so the arrangement records it.
  static void RecordPath(const std::string& path) {
    auto store = store_test::OpenStore(path);
    ASSERT_NE(store, nullptr) << path;
    std::u16string wide = W(path);
    SPropValue value = store_test::Unicode(PR_PST_PATH_W, wide);
    ASSERT_EQ(store->SetProps(1, &value, nullptr), S_OK);
  }
  std::vector<ServiceRow> Services(const std::string& profile = "Outlook") {
    std::vector<ServiceRow> rows;
    std::istringstream lines(Ok({"service", "list", profile}));
    for (std::string line; std::getline(lines, line);) {
      // service, display name, uid, then "default" and the path when present
      std::istringstream fields(line);
      ServiceRow row;
      std::string uid, field;
      std::getline(fields, row.service, '\t');
      std::getline(fields, row.displayName, '\t');
      std::getline(fields, uid, '\t');
      while (std::getline(fields, field, '\t')) {
        if (field == "default") row.isDefault = true;
        else row.path = field;
      }
      rows.push_back(row);
    }
    return rows;
  }
  std::string ProfileList() { return Ok({"profile", "list"}); }
  bool HasProfile(const std::string& name) {
    std::string list = "\n" + ProfileList();
    return list.find("\n" + name + "\n") != std::string::npos;
  }
  // The first .eml file of the test data, or "" when there is none.
  static std::string SomeMail() {
    fs::path eml = TestData() / "mail/eml";
    if (!fs::exists(eml)) return "";
    std::vector<std::string> files;
    for (const auto& e : fs::directory_iterator(eml)) files.push_back(e.path().string());
    std::sort(files.begin(), files.end());
    return files.empty() ? "" : files.front();
  }

 private:
  bool initialised_ = false;
};

// ---- runs of this program whose log is read ----

typedef void (*Scenario)();
inline std::map<std::string, Scenario>& Scenarios() {
  static std::map<std::string, Scenario> scenarios;
  return scenarios;
}
struct ScenarioRegistration {
  ScenarioRegistration(const char* name, Scenario scenario) { Scenarios()[name] = scenario; }
};
// A scenario runs in the copy, on the root of the test that started it.
#define FACADE_SCENARIO(name)                                              \
  static void name();                                                      \
  static const ScenarioRegistration name##Registration(#name, &name);     \
  static void name()

// Runs the scenario in a copy of this program placed in a folder of the root
// beside a "corvane.ini" that sends every line to a file; the log's lines.
inline std::vector<std::string> RunLogged(const std::string& folder, const std::string& scenario) {
  fs::create_directories(folder);
  WriteFileBytes(folder + "/corvane.ini", "[log section]\r\nlevel=0\r\nmedia=8\r\nfile=facade.log\r\n");
  std::string program = CopyProgramInto("test_facade", folder);
  std::vector<std::string> env = CopiedProgramEnv();
  env.push_back("CORVANE_FACADE_SCENARIO=" + scenario);
  ChildResult r =
      RunChild({program, "--gtest_filter=FacadeScenario.DISABLED_Run", "--gtest_also_run_disabled_tests"}, env);
  EXPECT_EQ(r.exitCode, 0) << r.output;
  std::string bytes = ReadFileBytes(folder + "/Logs/facade.log");
  if (bytes.rfind("\xEF\xBB\xBF", 0) == 0) bytes.erase(0, 3);
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = bytes.find("\r\n", start)) != std::string::npos; start = end + 2)
    lines.push_back(bytes.substr(start, end - start));
  return lines;
}

// Lines that end with text (after the level tag and time prefix).
inline std::vector<size_t> LinesEndingWith(const std::vector<std::string>& lines, const std::string& text) {
  std::vector<size_t> at;
  for (size_t i = 0; i < lines.size(); ++i)
    if (lines[i].size() >= text.size() && lines[i].compare(lines[i].size() - text.size(), text.size(), text) == 0)
      at.push_back(i);
  return at;
}

}  // namespace testing_support
