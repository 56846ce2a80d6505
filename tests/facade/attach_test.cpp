// Attaching a store file to the profile "Outlook": once per file, under the
// latest display name, and nothing changed when it cannot be done.
#include <mapicode.h>
#include <standin/fault.h>

#include "facade/facade_support.h"

namespace testing_support {
namespace {

using Attach = FacadeMachine;

// The services of the profile "Outlook" that hold the file.
size_t Holding(const std::vector<ServiceRow>& rows, const std::string& path) {
  size_t n = 0;
  for (const ServiceRow& r : rows) n += r.path == path;
  return n;
}

std::string DisplayNameOf(const std::string& path) {
  COutlookFacade facade;
  std::vector<CString> paths, names;
  facade.GetOutlookPst(paths, names);
  for (size_t i = 0; i < paths.size(); ++i)
    if (N(paths[i]) == path) return N(names[i]);
  return "";
}

TEST_F(Attach, AFileIsAttachedOnceUnderTheLatestName) {
  AddPst("mail.pst", "Mail", true);
  std::string archive = LoosePst("archive.pst");
  COutlookFacade facade;
  EXPECT_EQ(facade.AttatchPSTFile(W(archive).c_str(), u"First"), 0);
  EXPECT_EQ(facade.AttatchPSTFile(W(archive).c_str(), u"Second"), 0);
  auto rows = Services();
  EXPECT_EQ(rows.size(), 2u);
  EXPECT_EQ(Holding(rows, archive), 1u);
  EXPECT_EQ(DisplayNameOf(archive), "Second");

  // The same file named in other letters (one file on the real platform) is
  // replaced, not added; the flat export answers as the member does.
  std::string upper = RootFile("ARCHIVE.PST");
  fs::copy_file(archive, upper);
  EXPECT_EQ(AttatchPSTFileW2(W(upper).c_str(), u"Third"), 0);
  rows = Services();
  EXPECT_EQ(rows.size(), 2u);
  EXPECT_EQ(Holding(rows, archive), 0u);
  EXPECT_EQ(Holding(rows, upper), 1u);
  EXPECT_EQ(DisplayNameOf(upper), "Third");
  EXPECT_EQ(Holding(rows, RootFile("mail.pst")), 1u) << "other services stay";
}

// An attach stopped between making its service and configuring it (a host
// killed there) leaves a personal-folders service without a file; the next
// attach removes it.
TEST_F(Attach, AServiceThatAStoppedAttachLeftWithoutAFileGoes) {
  AddPst("mail.pst", "Mail", true);
  std::string archive = LoosePst("archive.pst");
  {
    // The names travel as narrow text, as the library passes them.
    char profile[] = "Outlook", service[] = "MSUPST MS";
    LPPROFADMIN admin = nullptr;
    ASSERT_EQ(MAPIAdminProfiles(0, &admin), S_OK);
    LPSERVICEADMIN services = nullptr;
    ASSERT_EQ(admin->AdminServices(reinterpret_cast<LPTSTR>(profile), nullptr, 0, 0, &services), S_OK);
    EXPECT_EQ(services->CreateMsgService(reinterpret_cast<LPTSTR>(service), nullptr, 0, 0), S_OK);
    services->Release();
    admin->Release();
  }
  ASSERT_EQ(Services().size(), 2u);
  COutlookFacade facade;
  EXPECT_EQ(facade.AttatchPSTFile(W(archive).c_str(), u"Archive"), 0);
  auto rows = Services();
  ASSERT_EQ(rows.size(), 2u) << ProfileList();
  for (const ServiceRow& r : rows) EXPECT_FALSE(r.path.empty()) << r.displayName;
  EXPECT_EQ(Holding(rows, archive), 1u);
  EXPECT_EQ(Holding(rows, RootFile("mail.pst")), 1u);
}

TEST_F(Attach, WhatCannotBeAttachedLeavesTheProfileAsItWas) {
  AddPst("mail.pst", "Mail", true);
  std::string archive = LoosePst("archive.pst");
  const std::string before = Ok({"service", "list", "Outlook"});
  fs::path deep = RootFile("");
  while (deep.string().size() < MAX_PATH + 10) deep /= std::string(40, 'd');
  fs::create_directories(deep);
  std::string overlong = (deep / "long.pst").string();
  fs::copy_file(archive, overlong);

  COutlookFacade facade;
  EXPECT_EQ(facade.AttatchPSTFile(W(RootFile("missing.pst")).c_str(), u"Missing"), 1);
  EXPECT_EQ(AttatchPSTFileW2(W(RootFile("missing.pst")).c_str(), u"Missing"), 1);
  EXPECT_EQ(facade.AttatchPSTFile(W(overlong).c_str(), u"Long"), 1) << "longer than the profile keeps";
  standin::ArmFault("IMsgServiceAdmin::AdminProviders", MAPI_E_CALL_FAILED, 1);
  EXPECT_EQ(facade.AttatchPSTFile(W(archive).c_str(), u"Archive"), 1) << "the services could not be searched";
  EXPECT_EQ(Ok({"service", "list", "Outlook"}), before);

  // A failed add after the removal: the old service stays removed.
  ASSERT_EQ(facade.AttatchPSTFile(W(archive).c_str(), u"Archive"), 0);
  standin::ArmFault("IMsgServiceAdmin::CreateMsgService", MAPI_E_CALL_FAILED, 1);
  EXPECT_EQ(facade.AttatchPSTFile(W(archive).c_str(), u"Again"), 1);
  EXPECT_EQ(Holding(Services(), archive), 0u);

  // Without a profile named "Outlook" nothing can be attached.
  Ok({"profile", "delete", "Outlook"});
  EXPECT_EQ(facade.AttatchPSTFile(W(archive).c_str(), u"Archive"), 1);
  EXPECT_EQ(AttatchPSTFileW2(W(archive).c_str(), u"Archive"), 1);
  EXPECT_FALSE(HasProfile("Outlook"));
}

}  // namespace
}  // namespace testing_support
