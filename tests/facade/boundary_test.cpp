// The library's boundary: MAPI's lifecycle under Init and Term, the check for
// an installed client, the progress sink chosen with SetCallBack, the working
// profile name, and the banner lines that open each call in the log.
#include <dlfcn.h>

#include <cstdlib>
#include <memory>

#include <mapicode.h>
#include <standin/fault.h>

#include "facade/facade_support.h"

namespace testing_support {
namespace {

// The child side of RunLogged: runs the scenario its parent names.
TEST(FacadeScenario, DISABLED_Run) {
  const char* name = std::getenv("CORVANE_FACADE_SCENARIO");
  ASSERT_NE(name, nullptr);
  auto it = Scenarios().find(name);
  ASSERT_NE(it, Scenarios().end()) << name;
  it->second();
}

using BareMachine = FreshRoot;

TEST_F(BareMachine, TheClientIsInstalledWhenItsProgramIdentifierIsRegistered) {
  EXPECT_EQ(IsInstalledOutlook(), 0);
  EXPECT_EQ(COutlookFacade::IsInstalledOutlook(), 0);
  EXPECT_EQ(Init2(), 0) << "MAPI cannot start without the client";

  ChildResult install = RunChild({BuiltProgram("mapiadmin"), "install"});
  ASSERT_EQ(install.exitCode, 0) << install.output;
  EXPECT_EQ(IsInstalledOutlook(), 1);
  EXPECT_EQ(COutlookFacade::IsInstalledOutlook(), 1);
  standin::ArmFault("CLSIDFromProgID", REGDB_E_CLASSNOTREG, 1);
  EXPECT_EQ(IsInstalledOutlook(), 0) << "only S_OK counts";
  EXPECT_EQ(IsInstalledOutlook(), 1);

  // The flat lifecycle exports are the members' own entries, as the loader
  // finds them (a compiler may take two declared functions to differ).
  EXPECT_EQ(dlsym(RTLD_DEFAULT, "IsInstalledOutlook"), reinterpret_cast<void*>(&COutlookFacade::IsInstalledOutlook));
  EXPECT_EQ(dlsym(RTLD_DEFAULT, "Term2"), reinterpret_cast<void*>(&COutlookFacade::Term));
}

FACADE_SCENARIO(LifecycleAndBanners) {
  EXPECT_EQ(Init2(), 1);
  EXPECT_EQ(COutlookFacade::Init(0), 1);
  COutlookFacade::Term();
  Term2();
  Term2();  // one more than there were Inits
  EXPECT_EQ(Init2(), 1) << "the count was put back to 0, so a new pair works";
  {
    COutlookFacade facade;
    facade.SetProfileName(u"Working Profile");
    std::vector<CString> paths, names;
    facade.GetOutlookPst(paths, names);
    OLCATALOGDATA* records = nullptr;
    DWORD count = 0;
    EXPECT_EQ(facade.GetCatalog(u"/nowhere/missing.pst", &records, &count), 1);
    EXPECT_EQ(facade.AttatchPSTFile(u"/nowhere/missing.pst", u"Missing"), 1);
  }
  Term2();
  standin::ArmFault("MAPIInitialize", MAPI_E_CALL_FAILED, 1);
  EXPECT_EQ(Init2(), 0);
}

TEST_F(FacadeMachine, InitAndTermAreCountedAndEveryCallOpensWithItsBanner) {
  std::vector<std::string> log = RunLogged(RootFile("host"), "LifecycleAndBanners");
  auto inits = LinesEndingWith(log, "<!-------------Init------------------->");
  auto terms = LinesEndingWith(log, "<!-------------Term------------------->");
  auto tooMany = LinesEndingWith(log, "Call Term too times.");
  ASSERT_EQ(inits.size(), 4u);
  ASSERT_EQ(terms.size(), 4u);
  ASSERT_EQ(tooMany.size(), 1u);
  EXPECT_GT(tooMany[0], terms[2]) << "the third Term is the unbalanced one";
  EXPECT_LT(tooMany[0], inits[2]);
  ASSERT_FALSE(log.empty());
  EXPECT_NE(log.back().find("Initinalize MAPI library failed. error:"), std::string::npos) << log.back();
  EXPECT_EQ(log.back().rfind("FATAL", 0), 0u) << log.back();

  auto profileBanner = LinesEndingWith(log, "<!--SetProfileName-->");
  ASSERT_EQ(profileBanner.size(), 1u);
  EXPECT_EQ(LinesEndingWith(log, "\tprofile name: Working Profile"), std::vector<size_t>{profileBanner[0] + 1});
  EXPECT_EQ(LinesEndingWith(log, "<!--GetOutlookPst-->").size(), 1u);
  auto catalog = LinesEndingWith(log, "<!------GetCatalog---------->");
  auto catalogDone = LinesEndingWith(log, "---<Get catalog>---");
  ASSERT_EQ(catalog.size(), 1u);
  ASSERT_EQ(catalogDone.size(), 1u);
  EXPECT_LT(catalog[0], catalogDone[0]);
  EXPECT_EQ(LinesEndingWith(log, "Source: /nowhere/missing.pst, Destination: , And Count: 0"),
            std::vector<size_t>{catalogDone[0] + 1});
  auto attach = LinesEndingWith(log, "<---AttatchPSTFile--->");
  ASSERT_EQ(attach.size(), 1u);
  EXPECT_EQ(LinesEndingWith(log, "szPath: /nowhere/missing.pst, and szDisplayName: Missing"),
            std::vector<size_t>{attach[0] + 1});
  auto invalid = LinesEndingWith(log, "Invalid path./nowhere/missing.pst");
  ASSERT_EQ(invalid.size(), 1u);
  EXPECT_EQ(log[invalid[0]].rfind("ERROR", 0), 0u) << log[invalid[0]];
}

// ---- progress sinks ----

struct Seen {
  int calls = 0;
  ULONG step = 0, max = 0;
  bool otherContext = false;
};

int RecordStep(ULONG step, ULONG max, void* context) {
  Seen* seen = static_cast<Seen*>(context);
  ++seen->calls;
  seen->step = step;
  seen->max = max;
  return 0;
}

Seen g_windowSeen;
LRESULT CALLBACK RecordWindowStep(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg != WM_USER + 7) return DefWindowProcW(window, msg, wParam, lParam);
  const DWORD* block = reinterpret_cast<const DWORD*>(wParam);
  ++g_windowSeen.calls;
  g_windowSeen.step = block[1];
  g_windowSeen.max = block[2];
  if (reinterpret_cast<Seen*>(lParam) != &g_windowSeen) g_windowSeen.otherContext = true;
  return 1;
}

TEST_F(FacadeMachine, EachSetCallBackReplacesTheSinkTheCopyReportsTo) {
  std::string mail = SomeMail();
  REQUIRE_TEST_DATA(!mail.empty());
  std::string source = AddPst("source.pst", "Source", true);
  Ok({"import", "Outlook", "--store", "Source", "--folder", "Inbox", mail, mail, mail});
  const ULONG messages = 3;

  OLCATALOGDATA inbox = {};
  inbox.nType = OLFOLDER_INBOX;
  wcscpy_s(inbox.szName, u"Inbox");
  auto backup = [&](COutlookFacade& facade, const std::string& file) {
    CString destination(W(RootFile(file)).c_str());
    OLCATALOGDATA selection = inbox;
    return facade.BackupMessage(W(source).c_str(), destination, &selection, 1, 0);
  };

  Seen first, second;
  auto facade = std::make_unique<COutlookFacade>();
  CALLBACKDATAS function = {CALLBACK_TYPE_FUNCTION, reinterpret_cast<UINT_PTR>(&RecordStep), 0};
  facade->SetCallBack(function, &first);
  facade->SetCallBack(function, &second);
  ASSERT_EQ(backup(*facade, "one.pst"), 1);
  EXPECT_EQ(first.calls, 0) << "the replaced sink is never called";
  EXPECT_EQ(second.calls, static_cast<int>(messages));
  EXPECT_EQ(second.step, messages);
  EXPECT_EQ(second.max, messages);

  // Any other kind is the silent sink.
  CALLBACKDATAS silent = {0, reinterpret_cast<UINT_PTR>(&RecordStep), 0};
  facade->SetCallBack(silent, &first);
  ASSERT_EQ(backup(*facade, "two.pst"), 1);
  EXPECT_EQ(first.calls, 0);
  EXPECT_EQ(second.calls, static_cast<int>(messages));

  // The window kind: the handle and message number of the record.
  WNDCLASSW cls = {};
  cls.lpfnWndProc = &RecordWindowStep;
  cls.lpszClassName = u"FacadeProgressWindow";
  ASSERT_NE(RegisterClassW(&cls), 0);
  HWND window = CreateWindowExW(0, u"FacadeProgressWindow", u"", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  g_windowSeen = Seen();
  CALLBACKDATAS toWindow = {CALLBACK_TYPE_WINDOW, reinterpret_cast<UINT_PTR>(window), WM_USER + 7};
  facade->SetCallBack(toWindow, &g_windowSeen);
  ASSERT_EQ(backup(*facade, "three.pst"), 1);
  EXPECT_EQ(g_windowSeen.calls, static_cast<int>(messages));
  EXPECT_EQ(g_windowSeen.step, messages);
  EXPECT_EQ(g_windowSeen.max, messages);
  EXPECT_FALSE(g_windowSeen.otherContext);
  facade.reset();
  EXPECT_TRUE(DestroyWindow(window));
  EXPECT_TRUE(UnregisterClassW(u"FacadeProgressWindow", nullptr));
}

TEST_F(FacadeMachine, ALongWorkingProfileNameIsCutToItsFieldNeverPastIt) {
  const std::string longName(300, 'w');
  const std::string cut = longName.substr(0, FACADE_PROFILE_NAME_CHARS - 1);
  Ok({"profile", "create", cut});
  ASSERT_TRUE(HasProfile(cut));
  std::string loose = LoosePst("loose.pst");

  auto facade = std::make_unique<COutlookFacade>();
  facade->SetProfileName(W(longName).c_str());
  facade->SetProfileName(nullptr);  // keeps the name it has
  OLCATALOGDATA* records = nullptr;
  DWORD count = 0;
  ASSERT_EQ(facade->GetSubCatalog(W(loose).c_str(), {}, &records, &count), 1);
  std::unique_ptr<OLCATALOGDATA[]> hold(records);
  EXPECT_GT(count, 0u);
  EXPECT_FALSE(HasProfile(cut)) << "the listing made and removed its working profile under the cut name";
  facade.reset();  // the sink beside the name is intact
}

}  // namespace
}  // namespace testing_support
