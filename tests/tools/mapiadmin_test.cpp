// The admin tool, run as a process on fresh platform roots.
#include <filesystem>
#include <set>

#include <nlohmann/json.hpp>

#include "common/fresh_root.h"
#include "mailimport.h"

namespace fs = std::filesystem;

namespace testing_support {
namespace {

class MapiAdminTest : public FreshRoot {
 protected:
  // A machine with the client, the profile "Outlook" and one store "Mail".
  void Arrange() {
    Ok({"install"});
    store_ = RootFile("mail.pst");
    Ok({"service", "add", "Outlook", "--type", "pst", "--name", "Mail", "--path", store_, "--default"});
  }
  nlohmann::json Dump(const std::string& store = "Mail") {
    return nlohmann::json::parse(Ok({"dump", "Outlook", "--store", store}));
  }
  static const nlohmann::json* Folder(const nlohmann::json& tree, const std::string& name) {
    for (const auto& f : tree["folders"])
      if (f["name"] == name) return &f;
    return nullptr;
  }
  std::string store_;
};

TEST_F(MapiAdminTest, InstallsAClientWithProfilesAndServices) {
  EXPECT_NE(Admin({"profile", "list"}).exitCode, 0) << "nothing works before the client is installed";
  Arrange();
  EXPECT_TRUE(fs::exists(store_)) << "configuring the service made the store file";
  auto profiles = nlohmann::json::parse(Ok({"profile", "list", "--json"}));
  EXPECT_NE(std::find(profiles.begin(), profiles.end(), "Outlook"), profiles.end()) << profiles;
  Ok({"service", "add", "Outlook", "--type", "contab"});
  auto services = nlohmann::json::parse(Ok({"service", "list", "Outlook", "--json"}));
  ASSERT_EQ(services.size(), 2u) << services;
  EXPECT_EQ(services[0]["service"], "MSUPST MS");
  EXPECT_EQ(services[0]["displayName"], "Mail");
  EXPECT_EQ(services[0]["default"], true);
  EXPECT_EQ(services[1]["service"], "CONTAB");
  // A profile has one default store: a new default takes the mark from Mail.
  Ok({"service", "add", "Outlook", "--type", "pst", "--name", "Other", "--path", RootFile("other.pst"), "--default"});
  services = nlohmann::json::parse(Ok({"service", "list", "Outlook", "--json"}));
  ASSERT_EQ(services.size(), 3u) << services;
  EXPECT_EQ(services[0]["default"], false);
  EXPECT_EQ(services[1]["default"], false);
  EXPECT_EQ(services[2]["default"], true);
  Ok({"service", "remove", "Outlook", "--name", "Other"});
  Ok({"service", "remove", "Outlook", "--name", "Mail"});
  EXPECT_EQ(nlohmann::json::parse(Ok({"service", "list", "Outlook", "--json"})).size(), 1u);
}

TEST_F(MapiAdminTest, ImportedMailKeepsItsAttachmentsAndExportsByteForByte) {
  fs::path eml = TestData() / "mail/eml";
  REQUIRE_TEST_DATA(fs::exists(eml));
  Arrange();
  std::vector<std::string> args = {"import", "Outlook", "--store", "Mail", "--folder", "Inbox/Imported"};
  std::vector<fs::path> files;
  for (const auto& e : fs::directory_iterator(eml)) files.push_back(e.path());
  std::sort(files.begin(), files.end());
  for (const auto& f : files) args.push_back(f.string());
  Ok(args);

  auto tree = Dump()["tree"];
  const auto* inbox = Folder(tree, "Inbox");
  ASSERT_NE(inbox, nullptr) << tree;
  const auto* imported = Folder(*inbox, "Imported");
  ASSERT_NE(imported, nullptr) << *inbox;
  EXPECT_EQ((*imported)["count"], files.size());
  // Every message arrived with every attachment the mail carries.
  std::multiset<std::pair<std::string, int>> stored, parsed;
  for (const auto& m : (*imported)["messages"]) stored.emplace(m["subject"], m["attachments"].get<int>());
  for (const auto& f : files) {
    mailimport::ImportedMessage m;
    std::string error;
    ASSERT_TRUE(mailimport::ReadEmlFile(f.string(), &m, &error)) << error;
    parsed.emplace(standin::ToUtf8(m.subject), static_cast<int>(m.attachments.size()));
  }
  EXPECT_EQ(stored, parsed);
  size_t withAttachments = 0;
  for (const auto& [subject, count] : stored) withAttachments += count > 0;
  EXPECT_GE(withAttachments, 4u);

  TempDir out;
  Ok({"export", "Outlook", "--store", "Mail", "--folder", "Inbox/Imported", "--out", out.path()});
  std::multiset<std::string> exported, originals;
  for (const auto& e : fs::directory_iterator(out.path())) exported.insert(ReadFileBytes(e.path()));
  for (const auto& f : files) {
    std::string bytes = ReadFileBytes(f);
    if (bytes.rfind("From ", 0) == 0) bytes.erase(0, bytes.find('\n') + 1);  // the mbox separator is no part
    originals.insert(bytes);
  }
  EXPECT_EQ(exported, originals);
}

TEST_F(MapiAdminTest, ImportsAWholeMbox) {
  fs::path mbox = TestData() / "mail/mbox/mailbox-perl-imagemagick-list.mbox";
  REQUIRE_TEST_DATA(fs::exists(mbox));
  Arrange();
  Ok({"import", "Outlook", "--store", "Mail", mbox.string()});
  auto tree = Dump()["tree"];
  const auto* inbox = Folder(tree, "Inbox");
  ASSERT_NE(inbox, nullptr);
  EXPECT_EQ((*inbox)["count"], 45);
}

TEST_F(MapiAdminTest, CalendarItemsAndContacts) {
  Arrange();
  Ok({"calendar", "add", "Outlook", "--store", "Mail", "--subject", "Review", "--start", "2026-03-04T09:00:00Z",
      "--end", "2026-03-04T10:00:00Z", "--created", "2026-03-01T08:00:00Z"});
  Ok({"contact", "add", "Outlook", "--store", "Mail", "--given", "Ada", "--surname", "Lovelace"});
  auto tree = Dump()["tree"];
  const auto* calendar = Folder(tree, "Calendar");
  ASSERT_NE(calendar, nullptr);
  ASSERT_EQ((*calendar)["count"], 1);
  EXPECT_EQ((*calendar)["messages"][0]["class"], "IPM.Appointment");
  EXPECT_EQ((*calendar)["messages"][0]["created"], "2026-03-01T08:00:00Z");
  const auto* contacts = Folder(tree, "Contacts");
  ASSERT_NE(contacts, nullptr);
  EXPECT_EQ((*contacts)["messages"][0]["subject"], "Ada Lovelace");
}

// The generated items of one kind, in their order in the dump.
nlohmann::json GeneratedFolders(const nlohmann::json& tree) {
  nlohmann::json out;
  for (const auto& f : tree["folders"])
    if (f["name"] == "Inbox" || f["name"] == "Calendar" || f["name"] == "Contacts")
      out[f["name"].get<std::string>()] = f;
  return out;
}

TEST_F(MapiAdminTest, GeneratedItemsFollowTheSeedAndNumberOn) {
  Arrange();
  Ok({"service", "add", "Outlook", "--type", "pst", "--name", "Other", "--path", RootFile("other.pst")});
  Ok({"service", "add", "Outlook", "--type", "pst", "--name", "Third", "--path", RootFile("third.pst")});
  Ok({"generate", "Outlook", "--store", "Mail", "--count", "60", "--seed", "7"});
  // The same items again, made in two runs that number on.
  Ok({"generate", "Outlook", "--store", "Other", "--count", "35", "--seed", "7"});
  Ok({"generate", "Outlook", "--store", "Other", "--count", "25", "--seed", "7", "--first", "35"});
  Ok({"generate", "Outlook", "--store", "Third", "--count", "60", "--seed", "8"});
  auto mail = GeneratedFolders(Dump("Mail")["tree"]);
  EXPECT_EQ(mail, GeneratedFolders(Dump("Other")["tree"]));
  auto third = GeneratedFolders(Dump("Third")["tree"]);
  EXPECT_EQ(third["Inbox"]["count"], mail["Inbox"]["count"]);
  EXPECT_NE(third["Inbox"]["messages"], mail["Inbox"]["messages"]) << "another seed, other items";
}

TEST_F(MapiAdminTest, GeneratedMailHasItsKindsBodiesAndAttachments) {
  Arrange();
  auto counts = nlohmann::json::parse(Ok({"generate", "Outlook", "--store", "Mail", "--count", "250", "--json"}));
  EXPECT_EQ(counts["mail"], 230);
  EXPECT_EQ(counts["calendar"], 10);
  EXPECT_EQ(counts["contacts"], 10);
  auto folders = GeneratedFolders(Dump()["tree"]);
  EXPECT_EQ(folders["Inbox"]["count"], 230);
  ASSERT_EQ(folders["Calendar"]["count"], 10);
  ASSERT_EQ(folders["Contacts"]["count"], 10);
  EXPECT_EQ(folders["Calendar"]["messages"][0]["class"], "IPM.Appointment");
  EXPECT_EQ(folders["Contacts"]["messages"][0]["class"], "IPM.Contact");
  int attachments = 0, withAttachments = 0, withRecipients = 0;
  std::set<std::string> subjects;
  for (const auto& m : folders["Inbox"]["messages"]) {
    EXPECT_EQ(m["class"], "IPM.Note");
    attachments += m["attachments"].get<int>();
    withAttachments += m["attachments"].get<int>() ? 1 : 0;
    withRecipients += m["recipients"].get<int>() ? 1 : 0;
    subjects.insert(m["subject"]);
  }
  EXPECT_GT(withAttachments, 0);
  EXPECT_EQ(withAttachments, counts["withAttachments"]);
  EXPECT_EQ(attachments, counts["attachments"]);
  EXPECT_EQ(withRecipients, 230) << "every message is addressed";
  EXPECT_GT(subjects.size(), 20u) << "subjects vary";
}

TEST_F(MapiAdminTest, MistakesGetAClearMessageAndAnExitCode) {
  EXPECT_EQ(Admin({"frobnicate"}).exitCode, 2);
  EXPECT_EQ(Admin({"profile", "create"}).exitCode, 2);
  Arrange();
  ChildResult noStore = Admin({"dump", "Outlook", "--store", "Nope"});
  EXPECT_EQ(noStore.exitCode, 1);
  EXPECT_NE(noStore.output.find("no store named 'Nope'"), std::string::npos) << noStore.output;
  WriteFileBytes(RootFile("garbage.pst"), "this is not a store");
  ChildResult bad =
      Admin({"service", "add", "Outlook", "--type", "pst", "--name", "Bad", "--path", RootFile("garbage.pst")});
  EXPECT_EQ(bad.exitCode, 1) << bad.output;
  EXPECT_EQ(nlohmann::json::parse(Ok({"service", "list", "Outlook", "--json"})).size(), 1u)
      << "a refused store leaves no service behind";
}

}  // namespace
}  // namespace testing_support
