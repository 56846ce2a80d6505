// Listing for the host: the stores of the profile "Outlook" in display order,
// their total size, and a store's folder tree one level at a time, whether a
// profile holds the file or not.
#include <memory>

#include <mapicode.h>
#include <standin/fault.h>

#include "facade/facade_support.h"

namespace testing_support {
namespace {

struct Listing {
  std::unique_ptr<OLCATALOGDATA[]> records;
  DWORD count = 0;
  int result = -1;

  std::vector<std::pair<LONG, std::string>> KindsAndNames() const {
    std::vector<std::pair<LONG, std::string>> out;
    for (DWORD i = 0; i < count; ++i) out.emplace_back(records[i].nType, N(records[i].szName));
    return out;
  }
  const OLCATALOGDATA* Find(const std::string& name) const {
    for (DWORD i = 0; i < count; ++i)
      if (N(records[i].szName) == name) return &records[i];
    return nullptr;
  }
};

Listing List(COutlookFacade& facade, const std::string& pst, const std::vector<OLCATALOGDATA>& path = {}) {
  Listing l;
  OLCATALOGDATA* records = nullptr;
  l.result = path.empty() ? facade.GetCatalog(W(pst).c_str(), &records, &l.count)
                          : facade.GetSubCatalog(W(pst).c_str(), path, &records, &l.count);
  l.records.reset(records);
  return l;
}

OLCATALOGDATA Record(LONG type, const std::u16string& name) {
  OLCATALOGDATA r = {};
  r.nType = type;
  wcsncpy_s(r.szName, name.c_str(), _TRUNCATE);
  return r;
}

using Catalog = FacadeMachine;

std::vector<std::string> Paths(COutlookFacade& facade, std::vector<std::string>* names = nullptr) {
  std::vector<CString> paths, displayNames;
  facade.GetOutlookPst(paths, displayNames);
  EXPECT_EQ(paths.size(), displayNames.size());
  std::vector<std::string> out;
  for (const CString& p : paths) out.push_back(N(p));
  if (names) {
    names->clear();
    for (const CString& n : displayNames) names->push_back(N(n));
  }
  return out;
}

TEST_F(Catalog, StoresComeDefaultFirstThenByFileNameFromTheGreatest) {
  COutlookFacade facade;
  EXPECT_TRUE(Paths(facade).empty());
  EXPECT_EQ(facade.GetTotalSize(), 0);

  fs::create_directories(RootFile("z"));
  std::string a = AddPst("z/a.pst", "Store A");
  EXPECT_EQ(Paths(facade), std::vector<std::string>{a});
  std::string b = AddPst("b.pst", "Store B", true);
  // Making B the default took the mark from A: one default store.
  std::vector<ServiceRow> services = Services();
  ASSERT_EQ(services.size(), 2u);
  EXPECT_FALSE(services[0].isDefault);
  EXPECT_TRUE(services[1].isDefault);
  std::vector<std::string> names;
  EXPECT_EQ(Paths(facade, &names), (std::vector<std::string>{b, a})) << "the default store goes first";
  EXPECT_EQ(names, (std::vector<std::string>{"Store B", "Store A"}));
  // By the file name, not the whole path: z/a.pst comes after c.pst.
  std::string c = AddPst("c.pst", "Store C");
  EXPECT_EQ(Paths(facade, &names), (std::vector<std::string>{b, c, a}));
  EXPECT_EQ(names, (std::vector<std::string>{"Store B", "Store C", "Store A"}));

  EXPECT_EQ(facade.GetTotalSize(),
            static_cast<LONGLONG>(fs::file_size(a) + fs::file_size(b) + fs::file_size(c)));
  fs::remove(c);
  EXPECT_EQ(facade.GetTotalSize(), static_cast<LONGLONG>(fs::file_size(a) + fs::file_size(b)))
      << "a file that cannot be read adds nothing";
}

// When the default store cannot be read, the stores keep the order of the
// service table: neither the default nor the file names move anything.
TEST_F(Catalog, AFailedDefaultStoreLookupLeavesTheServiceOrder) {
  std::string a = AddPst("a.pst", "Store A");
  std::string b = AddPst("b.pst", "Store B");
  std::string c = AddPst("c.pst", "Store C");
  COutlookFacade facade;
  EXPECT_EQ(Paths(facade), (std::vector<std::string>{a, c, b})) << "ordered while the lookup works";
  // The default store's path does not fit the profile's path buffer.
  std::string deep;
  while (RootFile(deep).size() < MAX_PATH + 10) deep += std::string(40, 'd') + "/";
  fs::create_directories(RootFile(deep));
  std::string longer = AddPst(deep + "long.pst", "Long", true);
  EXPECT_EQ(Paths(facade), (std::vector<std::string>{a, b, c, longer}));
}

// Whichever table read fails, a listing that succeeds lists the whole level:
// an unreadable level never shows as an empty store.
TEST_F(Catalog, NoFailedTableReadIsReportedAsAnEmptyStore) {
  const std::string held = AddPst("mail.pst", "Mail", true);
  const std::string loose = LoosePst("loose.pst");
  COutlookFacade facade;
  for (const std::string& pst : {held, loose}) {
    for (unsigned nth = 1;; ++nth) {
      standin::ArmFault("HrQueryAllRows", MAPI_E_CALL_FAILED, nth);
      Listing listing = List(facade, pst);
      const bool fired = standin::FaultCallCount("HrQueryAllRows") >= nth;
      standin::ClearAllFaults();
      if (listing.result == 1) {
        EXPECT_EQ(listing.count, 11u) << pst << ", read " << nth << " failing";
      }
      if (!fired) {
        EXPECT_EQ(listing.result, 1);
        break;
      }
      ASSERT_LT(nth, 200u);
    }
  }
  EXPECT_FALSE(HasProfile("QorILantheTemp"));
}

TEST_F(Catalog, AHeldStoreIsListedThroughItsProfileWhichStaysAsItWas) {
  std::string mail = AddPst("mail.pst", "Mail", true);
  const std::string services = Ok({"service", "list", "Outlook"}), profiles = ProfileList();
  COutlookFacade facade;

  // No temporary profile could be made: a held store never needs one.
  standin::ArmFault("IProfAdmin::CreateProfile", MAPI_E_CALL_FAILED);
  Listing top = List(facade, mail);
  standin::ClearAllFaults();
  ASSERT_EQ(top.result, 1);
  std::vector<std::pair<LONG, std::string>> expected = {
      {1, "Inbox"},    {2, "Outbox"},    {3, "Sent Items"}, {4, "Deleted Items"}, {7, "Calendar"}, {8, "Contacts"},
      {5, "Drafts"},   {11, "Journal"},  {10, "Notes"},     {9, "Tasks"},         {6, "Junk E-mail"}};
  EXPECT_EQ(top.KindsAndNames(), expected) << "no root record: the top folder holds no messages";
  ASSERT_NE(top.Find("Calendar"), nullptr);
  EXPECT_EQ(N(top.Find("Calendar")->szClass), "IPF.Appointment");
  EXPECT_EQ(top.Find("Calendar")->cbEntryID, 24u);
  EXPECT_EQ(Ok({"service", "list", "Outlook"}), services);
  EXPECT_EQ(ProfileList(), profiles);

  // The store named in a profile: the name is trimmed and matched in any case,
  // and comes back as the store gives it, with the store's file.
  CString path, store(u"  mAIL "), profile;
  OLCATALOGDATA* records = nullptr;
  DWORD count = 0;
  ASSERT_EQ(facade.GetCatalog(path, store, &records, &count, u"Outlook"), 1);
  std::unique_ptr<OLCATALOGDATA[]> hold(records);
  EXPECT_EQ(count, expected.size());
  EXPECT_EQ(N(path), mail);
  EXPECT_EQ(N(store), "Mail");

  // A leaf: 1, nothing listed, the caller's pointer left as it was.
  Listing leaf = List(facade, mail, {*top.Find("Calendar")});
  EXPECT_EQ(leaf.result, 1);
  EXPECT_EQ(leaf.count, 0u);
  EXPECT_EQ(leaf.records, nullptr);
  // A path that no longer matches, by name or by kind: 0 with nothing.
  for (const OLCATALOGDATA& gone : {Record(0, u"Gone"), Record(0, u"Inbox")}) {
    OLCATALOGDATA* out = top.records.get();
    DWORD n = 5;
    EXPECT_EQ(facade.GetSubCatalog(W(mail).c_str(), {gone}, &out, &n), 0) << N(gone.szName);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(n, 0u);
  }
  // Folder names of the path are matched in any case.
  EXPECT_EQ(List(facade, mail, {Record(1, u"INBOX")}).result, 1);
}

TEST_F(Catalog, RootComesFirstAtEveryLevelAndConfigurationFoldersNeverShow) {
  std::string message = SomeMail();
  REQUIRE_TEST_DATA(!message.empty());
  std::string mail = AddPst("mail.pst", "Mail", true);
  Ok({"import", "Outlook", "--store", "Mail", "--folder", "/", message});
  Ok({"import", "Outlook", "--store", "Mail", "--folder", "Inbox/Projects/2026", message});
  {
    auto store = store_test::OpenStore(mail);
    ASSERT_NE(store, nullptr);
    auto subtree = store_test::OpenFolder(store.get(), store_test::BinProp(store.get(), PR_IPM_SUBTREE_ENTRYID));
    ASSERT_NE(subtree, nullptr);
    // Two configuration folders in a row, and one in last place.
    auto hidden = [&](const std::string& name, std::u16string cls) {
      auto folder = store_test::CreateFolder(subtree.get(), name);
      ASSERT_NE(folder, nullptr);
      SPropValue value = store_test::Unicode(PR_CONTAINER_CLASS_W, cls);
      ASSERT_EQ(folder->SetProps(1, &value, nullptr), S_OK);
    };
    hidden("Settings", u"IPF.Configuration");
    hidden("More Settings", u"IPF.Configuration");
    ASSERT_NE(store_test::CreateFolder(subtree.get(), "Middle"), nullptr);
    ASSERT_NE(store_test::CreateFolder(subtree.get(), "Zeta"), nullptr);
    hidden("Feeds", u"IPF.Note.SocialConnector.FeedItems");
  }
  COutlookFacade facade;

  Listing top = List(facade, mail);
  ASSERT_EQ(top.result, 1);
  auto kinds = top.KindsAndNames();
  ASSERT_EQ(kinds.size(), 14u) << "root, the 11 standard folders, Middle and Zeta";
  EXPECT_EQ(kinds.front(), (std::pair<LONG, std::string>{14, "root"}));
  for (const char* name : {"Settings", "More Settings", "Feeds"}) EXPECT_EQ(top.Find(name), nullptr) << name;
  EXPECT_EQ(kinds[12], (std::pair<LONG, std::string>{0, "Zeta"})) << "the last record took the hidden one's place";
  EXPECT_EQ(kinds[13], (std::pair<LONG, std::string>{0, "Middle"}));
  EXPECT_EQ(top.Find("Inbox")->nType, 1);
  EXPECT_EQ(top.records[1].cbEntryID, 0u) << "behind the root record only kind and name travel";

  OLCATALOGDATA inbox = *top.Find("Inbox");
  Listing level1 = List(facade, mail, {inbox});
  ASSERT_EQ(level1.result, 1);
  EXPECT_EQ(level1.KindsAndNames(), (std::vector<std::pair<LONG, std::string>>{{14, "root"}, {0, "Projects"}}));
  Listing level2 = List(facade, mail, {inbox, *level1.Find("Projects")});
  ASSERT_EQ(level2.result, 1);
  EXPECT_EQ(level2.KindsAndNames(), (std::vector<std::pair<LONG, std::string>>{{14, "root"}, {0, "2026"}}));
  Listing leaf = List(facade, mail, {inbox, *level1.Find("Projects"), *level2.Find("2026")});
  ASSERT_EQ(leaf.result, 1);
  EXPECT_EQ(leaf.KindsAndNames(), (std::vector<std::pair<LONG, std::string>>{{14, "root"}}));
}

TEST_F(Catalog, AFileNoProfileHoldsIsListedThroughATemporaryProfileThatGoesAway) {
  AddPst("mail.pst", "Mail", true);
  std::string loose = LoosePst("loose.pst");
  const std::string services = Ok({"service", "list", "Outlook"});
  COutlookFacade facade;

  Listing top = List(facade, loose);
  ASSERT_EQ(top.result, 1);
  EXPECT_EQ(top.count, 11u);
  EXPECT_FALSE(HasProfile("QorILantheTemp"));
  EXPECT_EQ(Ok({"service", "list", "Outlook"}), services);

  // One left over by an earlier run is replaced, and goes too.
  Ok({"profile", "create", "QorILantheTemp"});
  EXPECT_EQ(List(facade, loose).result, 1);
  EXPECT_FALSE(HasProfile("QorILantheTemp"));

  // A listing that fails through the temporary profile does not leave it
  // behind to be taken for the file's own profile later.
  standin::ArmFault("MAPILogonEx", MAPI_E_LOGON_FAILED, 1);
  EXPECT_EQ(List(facade, loose).result, 0);
  EXPECT_FALSE(HasProfile("QorILantheTemp"));
  EXPECT_EQ(List(facade, loose).count, 11u);

  // Failures of the profile steps.
  for (const char* call : {"MAPIAdminProfiles", "IProfAdmin::CreateProfile", "IMsgServiceAdmin::CreateMsgService"}) {
    standin::ArmFault(call, MAPI_E_CALL_FAILED, 1);
    EXPECT_EQ(List(facade, loose).result, 0) << call;
    standin::ClearFault(call);
    EXPECT_FALSE(HasProfile("QorILantheTemp")) << call;
  }
}

TEST_F(Catalog, WhatNamesNoStoreFileLeavesTheOutputsAlone) {
  COutlookFacade facade;
  fs::path deep = RootFile("");
  while (deep.string().size() < MAX_PATH + 10) deep /= std::string(40, 'd');
  fs::create_directories(deep);
  std::string overlong = (deep / "long.pst").string();
  WriteFileBytes(overlong, "not looked at");

  OLCATALOGDATA sentinel[5] = {};
  for (const std::string& path : {RootFile("missing.pst"), RootFile("")}) {
    OLCATALOGDATA* records = sentinel;
    DWORD count = 5;
    EXPECT_EQ(facade.GetCatalog(W(path).c_str(), &records, &count), 1) << path;
    EXPECT_EQ(records, sentinel);
    EXPECT_EQ(count, 5u);
  }
  OLCATALOGDATA* records = nullptr;
  DWORD count = 0;
  EXPECT_EQ(facade.GetCatalog(W(overlong).c_str(), &records, &count), 0) << "longer than a path buffer";
  EXPECT_EQ(records, nullptr);
  EXPECT_FALSE(HasProfile("QorILantheTemp"));
}

}  // namespace
}  // namespace testing_support
