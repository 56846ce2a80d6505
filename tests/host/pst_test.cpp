// Real personal-folders files, written by the mail client itself: listed,
// dumped and backed up as an independent reader (pffexport) sees them; never
// written; a damaged one refused.
#include <filesystem>
#include <set>

#include "common/pff_export.h"
#include "common/sqlite_cli.h"
#include "host_support.h"

namespace host_test {
namespace {

using nlohmann::json;
using testing_support::ExportedItem;
using testing_support::ExportedTree;

class RealFileTest : public testing_support::FreshRoot {
 protected:
  void SetUp() override {
    FreshRoot::SetUp();
    scratch = RootFile("files");
    std::filesystem::create_directories(scratch);
    AdminOutput({"install"});
  }
  static std::string Sample(const std::string& name) {
    return (testing_support::TestData() / "pst" / (name + ".pst")).string();
  }
  std::string Debugger() const { return testing_support::ReadFileBytes(RootFile("debugger-output.txt")); }
  std::string scratch;
};

json Dump(const std::string& store) { return json::parse(AdminOutput({"dump", "Outlook", "--store", store})); }

void Flatten(const json& folder, const std::string& path, ExportedTree& out) {
  auto& items = out[path];
  for (const json& m : folder["messages"]) {
    ExportedItem item{m.value("subject", ""), m.value("files", std::vector<std::string>{})};
    std::sort(item.files.begin(), item.files.end());
    items.push_back(item);
  }
  std::sort(items.begin(), items.end());
  for (const json& child : folder["folders"]) {
    std::string name = child["name"];
    Flatten(child, path.empty() ? name : path + "/" + name, out);
  }
}

// Folder path -> the messages of the dump, as they are (digests included)
// but for their sizes: a real file states its own, a copy counts its own.
void Messages(const json& folder, const std::string& path, std::map<std::string, json>& out) {
  out[path] = folder["messages"];
  for (json& message : out[path]) message.erase("size");
  for (const json& child : folder["folders"]) {
    std::string name = child["name"];
    Messages(child, path.empty() ? name : path + "/" + name, out);
  }
}

std::string MessageIds(const std::string& storeFile) {
  return testing_support::Sqlite3(storeFile, {"SELECT id FROM objects WHERE kind = 2 ORDER BY id;"});
}

TEST_F(RealFileTest, EveryFileDumpsAsAnIndependentReaderExportsIt) {
  std::vector<std::filesystem::path> files = testing_support::RealStoreFiles();
  REQUIRE_TEST_DATA(!files.empty());
  ASSERT_TRUE(std::filesystem::exists(testing_support::kPffExport)) << "pff-tools is not installed";
  int compared = 0;
  for (const std::filesystem::path& file : files) {
    SCOPED_TRACE(file.filename().string());
    std::string name = file.stem().string();
    if (testing_support::HasPassword(file.string())) {
      // The client would ask for the password; nothing here can.
      Ran run = RunProgram("mapiadmin", {"service", "add", "Outlook", "--type", "pst", "--name", name, "--path",
                                         file.string()});
      EXPECT_NE(run.code, 0);
      EXPECT_NE(Debugger().find("refusing " + file.string() +
                                ": it is protected by a password, which only the mail client asks for"),
                std::string::npos)
          << Debugger();
      continue;
    }
    AdminOutput({"service", "add", "Outlook", "--type", "pst", "--name", name, "--path", file.string()});
    json dump = Dump(name);
    ExportedTree shown;
    Flatten(dump["tree"], "", shown);

    std::string work = scratch + "/" + name;
    std::filesystem::create_directories(work);
    ExportedTree exported = testing_support::ExportedFolders(testing_support::PffExport(file.string(), work),
                                                             dump["tree"]["name"].get<std::string>());
    EXPECT_EQ(shown, exported);
    // Counts as the folders themselves give them.
    std::function<void(const json&)> counts = [&](const json& f) {
      EXPECT_EQ(f["count"].get<size_t>(), f["messages"].size()) << f["name"];
      for (const json& c : f["folders"]) counts(c);
    };
    counts(dump["tree"]);
    ++compared;
  }
  EXPECT_GE(compared, 1);
}

TEST_F(RealFileTest, TreeListsTheFoldersOfAnAnsiFile) {
  std::string file = Sample("pstsdk-sample2");
  REQUIRE_TEST_DATA(std::filesystem::exists(file));
  Ran run = Corvane({"tree", file});
  ASSERT_EQ(run.code, 0) << run.err;
  std::vector<std::string> lines = Lines(run.out);
  ASSERT_EQ(lines.size(), 3u) << run.out;
  EXPECT_EQ(lines[1], "|-- Deleted Items                     [deleted]");
  EXPECT_EQ(lines[2], "`-- Sample2");
}

TEST_F(RealFileTest, BackupCarriesEveryMessageAndASecondCopiesNothing) {
  std::string file = Sample("java-libpst-dist-list");
  REQUIRE_TEST_DATA(std::filesystem::exists(file));
  std::string before = testing_support::ReadFileBytes(file);
  std::string dest = scratch + "/copy.pst";
  Ran run = Corvane({"backup", file, dest, "--json"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(json::parse(run.out)["planned"], 3);

  AdminOutput({"service", "add", "Outlook", "--type", "pst", "--name", "Real", "--path", file});
  AdminOutput({"service", "add", "Outlook", "--type", "pst", "--name", "Copy", "--path", dest});
  std::map<std::string, json> source, copied;
  Messages(Dump("Real")["tree"], "", source);
  Messages(Dump("Copy")["tree"], "", copied);
  size_t total = 0;
  for (const auto& [folder, messages] : source) {
    EXPECT_EQ(copied[folder], messages) << folder;
    total += messages.size();
  }
  EXPECT_EQ(total, 3u);

  std::string ids = MessageIds(dest);
  ASSERT_EQ(Corvane({"backup", file, dest, "--quiet"}).code, 0);
  EXPECT_EQ(MessageIds(dest), ids) << "the second backup copied or replaced messages";
  EXPECT_EQ(testing_support::ReadFileBytes(file), before) << "the real file was written to";
}

// Messages whose blocks fail their checksums fail their own copies, not the
// file: the backup says how many could not be copied and where the log is,
// the stand-in's log names each.
TEST_F(RealFileTest, ABackupSaysHowManyMessagesCouldNotBeReadAndWhereTheLogIs) {
  std::string file = Sample("aspose-net-Outlook");
  REQUIRE_TEST_DATA(std::filesystem::exists(file));
  std::string bytes = testing_support::ReadFileBytes(file);
  int damaged = 0;
  for (uint32_t nid : testing_support::MessageNodes(bytes)) {
    testing_support::FileSpan block = testing_support::NodeDataBlock(bytes, nid);
    if (block.size < 16) continue;
    bytes[block.offset + block.size / 2] ^= 0x5A;
    ++damaged;
  }
  ASSERT_GE(damaged, 2);
  std::string copy = scratch + "/damaged.pst";
  testing_support::WriteFileBytes(copy, bytes);
  // A host of its own, beside settings that send the library's log to a file.
  std::string folder = scratch + "/host";
  std::filesystem::create_directories(folder);
  std::string exe = testing_support::CopyProgramInto("corvane", folder);
  testing_support::WriteFileBytes(folder + "/corvane.ini", "[log section]\r\nlevel=0\r\nmedia=8\r\nfile=c.log\r\n");
  testing_support::ChildResult run =
      testing_support::RunChild({exe, "backup", copy, scratch + "/out.pst", "--quiet"}, testing_support::CopiedProgramEnv());
  EXPECT_EQ(run.exitCode, 1) << run.output;
  EXPECT_NE(run.output.find("result code 112 (a message or folder could not be copied); 1 message could not be read "
                            "or copied; log: " + folder + "/Logs/c.log"),
            std::string::npos)
      << run.output;
  EXPECT_NE(Debugger().find("Corvane store: reading " + copy + ": folder '"), std::string::npos) << Debugger();
  EXPECT_NE(Debugger().find("cannot be read: its block "), std::string::npos) << Debugger();
}

TEST_F(RealFileTest, SyncWithARealFileIsRefusedBeforeAnythingRuns) {
  std::string file = Sample("pstsdk-sample1");
  REQUIRE_TEST_DATA(std::filesystem::exists(file));
  std::string other = scratch + "/other.pst";
  AdminOutput({"service", "add", "Outlook", "--type", "pst", "--name", "Other", "--path", other});
  auto snapshot = FilesBelow(scratch);
  for (const auto& args : std::vector<std::vector<std::string>>{{"sync", file, other}, {"sync", other, file}}) {
    Ran run = Corvane(args);
    EXPECT_EQ(run.code, 2);
    EXPECT_EQ(run.err, "corvane: " + file + " is a read-only store: it can be listed and backed up, not synchronised\n");
  }
  EXPECT_EQ(FilesBelow(scratch), snapshot);
}

TEST_F(RealFileTest, DamagedFilesAreRefusedAndLeftAsTheyAre) {
  std::string file = Sample("pstsdk-sample1");
  REQUIRE_TEST_DATA(std::filesystem::exists(file));
  std::string whole = testing_support::ReadFileBytes(file);
  struct Case {
    std::string name, bytes, reason;
  };
  std::string size = std::to_string(whole.size());
  std::vector<Case> cases = {
      {"empty.pst", "", "not a store file or truncated"},
      {"magic.pst", whole.substr(0, 4), "its header is incomplete or of an unknown version"},
      {"header.pst", whole.substr(0, 512), "it is cut off: its header names " + size + " bytes, the file holds 512"},
      {"half.pst", whole.substr(0, whole.size() / 2),
       "it is cut off: its header names " + size + " bytes, the file holds " + std::to_string(whole.size() / 2)},
      {"short.pst", whole.substr(0, whole.size() - 1),
       "it is cut off: its header names " + size + " bytes, the file holds " + std::to_string(whole.size() - 1)},
      // The header intact and its size right; all behind it noise.
      {"garbage.pst", whole.substr(0, 1024) + std::string(whole.size() - 1024, '\x5a'), "not a readable"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = scratch + "/" + c.name;
    testing_support::WriteFileBytes(path, c.bytes);
    Ran tree = Corvane({"tree", path});
    EXPECT_EQ(tree.code, 1) << tree.out;
    EXPECT_EQ(tree.signal, 0);
    EXPECT_NE(Debugger().find("refusing " + path + ": "), std::string::npos) << Debugger();
    EXPECT_NE(Debugger().find(c.reason), std::string::npos) << Debugger();
    Ran backup = Corvane({"backup", path, scratch + "/out-" + c.name, "--quiet"});
    EXPECT_NE(backup.code, 0);
    EXPECT_FALSE(std::filesystem::exists(scratch + "/out-" + c.name));
    Ran add = RunProgram("mapiadmin", {"service", "add", "Outlook", "--type", "pst", "--name", c.name, "--path", path});
    EXPECT_NE(add.code, 0);
    EXPECT_EQ(testing_support::ReadFileBytes(path), c.bytes) << "a refused file was written to";
  }
  // A folder with a store's name is no store.
  std::string folder = scratch + "/folder.pst";
  std::filesystem::create_directories(folder);
  Ran tree = Corvane({"tree", folder});
  EXPECT_EQ(tree.code, 2);
  EXPECT_NE(RunProgram("mapiadmin", {"service", "add", "Outlook", "--type", "pst", "--name", "F", "--path", folder}).code,
            0);
  EXPECT_TRUE(std::filesystem::is_directory(folder));
  EXPECT_TRUE(std::filesystem::is_empty(folder));
}

}  // namespace
}  // namespace host_test
