// The compact library's listing, through its exports: the profile's stores in
// service-table order, configuration folders listed as ordinary folders, and
// never a "root" record.
#include "compact/compact_support.h"

namespace testing_support {
namespace copying {
namespace {

class CompactCatalog : public CompactTest {};

TEST_F(CompactCatalog, StoresComeInServiceTableOrder) {
  // The full build would put the default store (c.pst) first and order the
  // rest by file name from the greatest: c, b, a.
  AddStore("Outlook", "a");
  Ok({"service", "add", "Outlook", "--type", "pst", "--name", "c", "--path", standin::ToUtf8(Win(RootFile("c.pst"))),
      "--default"});
  AddStore("Outlook", "b");

  COutlookFacade facade;
  std::vector<CString> paths, names;
  facade.GetOutlookPst(paths, names);
  ASSERT_EQ(names.size(), 3u);
  EXPECT_EQ(std::u16string(names[0].GetString()), u"a");
  EXPECT_EQ(std::u16string(names[1].GetString()), u"c");
  EXPECT_EQ(std::u16string(names[2].GetString()), u"b");
  EXPECT_EQ(std::u16string(paths[1].GetString()), Win(RootFile("c.pst")));

  // The flat export hands them out in the same order.
  LPWSTR flatPaths[3] = {}, flatNames[3] = {};
  ULONG count = 0;
  ASSERT_EQ(GetOutlookPstW2(flatPaths, flatNames, &count), 1);
  ASSERT_EQ(count, 3u);
  EXPECT_EQ(std::u16string(flatNames[0]), u"a");
  EXPECT_EQ(std::u16string(flatNames[2]), u"b");
  FreeArray2(flatPaths, count);
  FreeArray2(flatNames, count);
}

TEST_F(CompactCatalog, ConfigurationFoldersAreListedAsOrdinaryFolders) {
  std::string mail = AddStore("Outlook", "Mail");
  MakeClassedFolder("Outlook", "Mail", u"Settings", u"IPF.Configuration");
  MakeClassedFolder("Outlook", "Mail", u"Feeds", u"IPF.Note.SocialConnector.FeedItems");

  COutlookFacade facade;
  std::vector<OLCATALOGDATA> top = TopLevel(facade, mail);
  const OLCATALOGDATA* settings = Named(top, u"Settings");
  ASSERT_NE(settings, nullptr) << "the full build never lists it";
  EXPECT_EQ(settings->nType, OLFOLDER_NORMAL);
  EXPECT_EQ(std::u16string(settings->szClass), u"IPF.Configuration");
  const OLCATALOGDATA* feeds = Named(top, u"Feeds");
  ASSERT_NE(feeds, nullptr);
  EXPECT_EQ(feeds->nType, OLFOLDER_NORMAL);
  // The other kinds are given as ever.
  ASSERT_NE(Named(top, u"Calendar"), nullptr);
  EXPECT_EQ(Named(top, u"Calendar")->nType, OLFOLDER_CALENDAR);
  ASSERT_NE(Named(top, u"Inbox"), nullptr);
  EXPECT_EQ(Named(top, u"Inbox")->nType, OLFOLDER_INBOX);

  // Backed up like any other folder.
  CString destination(Win(RootFile("copy.pst")).c_str());
  OLCATALOGDATA selected[] = {*settings};
  ASSERT_EQ(facade.BackupMessage(Win(mail).c_str(), destination, selected, 1), 1);
  ASSERT_NE(Folder(DumpFile(RootFile("copy.pst")), "Settings"), nullptr);
}

TEST_F(CompactCatalog, NoRootRecordAtAnyLevel) {
  std::vector<std::string> eml = EmlFiles();
  REQUIRE_TEST_DATA(eml.size() >= 2);
  std::string mail = AddStore("Outlook", "Mail");
  Import("Outlook", "Mail", "/", {eml[0], eml[1]});  // the top of the store holds messages
  Import("Outlook", "Mail", "Lists/Takeout", {eml[0]});
  ASSERT_EQ(Dump("Outlook", "Mail")["count"], 2);

  COutlookFacade facade;
  std::vector<OLCATALOGDATA> top = TopLevel(facade, mail);
  ASSERT_FALSE(top.empty());
  const OLCATALOGDATA* lists = Named(top, u"Lists");
  ASSERT_NE(lists, nullptr);
  std::vector<OLCATALOGDATA> below = Level(facade, mail, {*lists});
  ASSERT_EQ(below.size(), 1u);
  EXPECT_EQ(std::u16string(below[0].szName), u"Takeout");
  for (const auto* level : {&top, &below})
    for (const OLCATALOGDATA& r : *level) {
      EXPECT_NE(r.nType, OLFOLDER_ROOT);
      EXPECT_NE(std::u16string(r.szName), u"root");
    }

  // A level without sub-folders is empty, not a lone "root".
  OLCATALOGDATA* records = nullptr;
  DWORD count = 0;
  ASSERT_EQ(facade.GetSubCatalog(Win(mail).c_str(), {*lists, below[0]}, &records, &count), 1);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(records, nullptr);
}

}  // namespace
}  // namespace copying
}  // namespace testing_support
