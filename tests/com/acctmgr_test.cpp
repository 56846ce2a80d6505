// The account manager: created through COM from the module the admin tool
// registers, initialised with a client's helper, over accounts the admin tool
// made in another process.
#include <optional>

#include <acctmgmt.h>
#include <mapix.h>
#include <nlohmann/json.hpp>
#include <standin/accounts.h>
#include <standin/comobject.h>
#include <standin/fault.h>
#include <standin/registry.h>

#include "com_support.h"

using namespace comtest;
using testing_support::ChildResult;

namespace {

constexpr DWORD kPropAccountType = PROP_TAG(PT_UNICODE, 0x0004);

// The client's helper: a profile name and a session, either of which may be missing.
class TestHelper final : public standin::ComObject<IOlkAccountHelper> {
 public:
  TestHelper(std::u16string profile, IUnknown* session) : profile_(std::move(profile)), session_(session) {
    if (session_) session_->AddRef();
  }
  STDMETHODIMP PlaceHolder1(LPVOID) override { return E_NOTIMPL; }
  STDMETHODIMP GetIdentity(LPWSTR pwszIdentity, DWORD* pcch) override {
    if (!pwszIdentity || !pcch) return E_INVALIDARG;
    if (profile_.size() >= *pcch) return E_OUTOFMEMORY;
    std::copy(profile_.c_str(), profile_.c_str() + profile_.size() + 1, pwszIdentity);
    *pcch = static_cast<DWORD>(profile_.size());
    return S_OK;
  }
  STDMETHODIMP GetMapiSession(LPUNKNOWN* ppmsess) override {
    ++sessionRequests;
    if (!ppmsess || *ppmsess) return E_INVALIDARG;
    if (!session_) return MAPI_E_NOT_INITIALIZED;
    return session_->QueryInterface(IID_IMAPISession, reinterpret_cast<void**>(ppmsess));
  }
  STDMETHODIMP HandsOffSession() override { return E_NOTIMPL; }

  int sessionRequests = 0;

 private:
  ~TestHelper() override {
    if (session_) session_->Release();
  }
  bool Supports(REFIID riid) const override { return riid == IID_IOlkAccountHelper; }

  const std::u16string profile_;
  IUnknown* const session_;
};

// What an enumeration shows of one account.
struct Seen {
  DWORD id = 0;
  std::u16string name;
  std::optional<std::u16string> email, type;
  bool operator==(const Seen&) const = default;
};

class AccountManager : public testing_support::FreshRoot {
 protected:
  void SetUp() override {
    FreshRoot::SetUp();
    Admin({"install"});
    ASSERT_EQ(S_OK, apartment_.hr());
    MAPIINIT_0 init = {MAPI_INIT_VERSION, 0};
    ASSERT_EQ(S_OK, MAPIInitialize(&init));
    mapiStarted_ = true;
    ASSERT_EQ(S_OK, MAPILogonEx(0, const_cast<LPWSTR>(u"Outlook"), nullptr,
                                MAPI_UNICODE | MAPI_NO_MAIL | MAPI_EXTENDED | MAPI_EXPLICIT_PROFILE | MAPI_NEW_SESSION,
                                session_.Put()));
  }
  void TearDown() override {
    if (session_) session_->Logoff(0, 0, 0);
    session_.Reset();
    if (mapiStarted_) MAPIUninitialize();
    FreshRoot::TearDown();
  }

  std::string Admin(std::vector<std::string> args) {
    args.insert(args.begin(), testing_support::BuiltProgram("mapiadmin"));
    ChildResult r = testing_support::RunChild(args);
    EXPECT_EQ(0, r.exitCode) << r.output;
    return r.output;
  }
  // Adds an account with the admin tool; its id as the tool printed it.
  DWORD AddAccount(std::vector<std::string> args) {
    args.insert(args.begin(), {"account", "add", "Outlook"});
    return static_cast<DWORD>(std::stoul(Admin(args)));
  }
  void AddUsualAccounts() {
    pop_ = AddAccount({"--kind", "pop", "--name", "Home", "--email", "home@example.com", "--pop3-server", "pop.example.com"});
    imap_ = AddAccount({"--kind", "imap", "--name", "Lists", "--email", "lists@example.com", "--imap-server", "imap.example.com"});
    mapi_ = AddAccount({"--kind", "mapi", "--name", "Work"});
  }

  CInterfacePtr<IOlkAccountHelper> Helper(const std::u16string& profile = u"Outlook", bool withSession = true) {
    return CInterfacePtr<IOlkAccountHelper>(new TestHelper(profile, withSession ? session_.Get() : nullptr));
  }
  HRESULT CreateManager(CInterfacePtr<IOlkAccountManager>* manager) {
    return CoCreateInstance(CLSID_OlkAccountManager, nullptr, CLSCTX_INPROC_SERVER, IID_IOlkAccountManager,
                            manager->PutAs<void>());
  }
  // A manager initialised for the profile "Outlook".
  CInterfacePtr<IOlkAccountManager> Manager() {
    CInterfacePtr<IOlkAccountManager> manager;
    EXPECT_EQ(S_OK, CreateManager(&manager));
    if (manager) {
      CInterfacePtr<IOlkAccountHelper> helper = Helper();
      EXPECT_EQ(S_OK, manager->Init(helper.Get(), ACCT_INIT_NOSYNCH_MAPI_ACCTS));
    }
    return manager;
  }

  static std::optional<std::u16string> Text(IOlkAccount* account, DWORD prop) {
    ACCT_VARIANT value = {};
    if (account->GetProp(prop, &value) != S_OK) return std::nullopt;
    EXPECT_EQ(PT_UNICODE, value.dwType);
    std::u16string text(value.Val.pwsz);
    EXPECT_EQ(S_OK, account->FreeMemory(reinterpret_cast<BYTE*>(value.Val.pwsz)));
    return text;
  }
  static Seen Read(IUnknown* object) {
    CInterfacePtr<IOlkAccount> account;
    EXPECT_EQ(S_OK, object->QueryInterface(IID_IOlkAccount, account.PutAs<void>()));
    Seen seen;
    if (!account) return seen;
    ACCT_VARIANT id = {};
    EXPECT_EQ(S_OK, account->GetProp(PROP_ACCT_ID, &id));
    EXPECT_EQ(PT_LONG, id.dwType);
    seen.id = id.Val.dw;
    seen.name = Text(account.Get(), PROP_ACCT_NAME).value_or(u"");
    seen.email = Text(account.Get(), PROP_ACCT_USER_EMAIL_ADDR);
    seen.type = Text(account.Get(), kPropAccountType);
    return seen;
  }
  static std::vector<Seen> Enumerate(IOlkAccountManager* manager, const CLSID* category = &CLSID_OlkMail) {
    CInterfacePtr<IOlkEnum> accounts;
    EXPECT_EQ(S_OK, manager->EnumerateAccounts(category, nullptr, OLK_ACCOUNT_NO_FLAGS, accounts.Put()));
    std::vector<Seen> seen;
    if (!accounts) return seen;
    DWORD count = 0;
    EXPECT_EQ(S_OK, accounts->GetCount(&count));
    EXPECT_EQ(S_OK, accounts->Reset());
    for (;;) {
      CInterfacePtr<IUnknown> next;
      HRESULT hr = accounts->GetNext(next.Put());
      if (hr == S_FALSE) {
        EXPECT_FALSE(next);
        break;
      }
      EXPECT_EQ(S_OK, hr);
      if (hr != S_OK) break;
      seen.push_back(Read(next.Get()));
    }
    EXPECT_EQ(count, seen.size());
    return seen;
  }

  Apartment apartment_;
  bool mapiStarted_ = false;
  CInterfacePtr<IMAPISession> session_;
  DWORD pop_ = 0, imap_ = 0, mapi_ = 0;
};

TEST_F(AccountManager, InstallRegistersTheModuleAsTheClassesServer) {
  CScopedRegKey key;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                                         u"SOFTWARE\\Classes\\CLSID\\{ED475410-B0D6-11D2-8C3B-00104B2A6676}\\InprocServer32",
                                         0, KEY_READ, key.Put()));
  WCHAR path[4096];
  DWORD size = sizeof path;
  ASSERT_EQ(ERROR_SUCCESS, RegGetValueW(key.Get(), nullptr, nullptr, RRF_RT_REG_SZ, nullptr, path, &size));
  EXPECT_EQ(BuiltModule("cvacctmgr"), std::u16string(path));
  EXPECT_EQ(u'Z', path[0]) << "a Windows path";
}

TEST_F(AccountManager, EnumeratesTheAccountsTheAdminToolMade) {
  AddUsualAccounts();
  CInterfacePtr<IOlkAccountManager> manager = Manager();
  ASSERT_TRUE(manager);
  std::vector<Seen> expected = {{pop_, u"Home", u"home@example.com", u"POP/SMTP"},
                                {imap_, u"Lists", u"lists@example.com", u"IMAP/SMTP"},
                                {mapi_, u"Work", std::nullopt, u"MAPI"}};
  EXPECT_EQ(expected, Enumerate(manager.Get()));
  EXPECT_EQ((std::vector<DWORD>{1, 2, 3}), (std::vector<DWORD>{pop_, imap_, mapi_}));
  // Categories and types narrow the list.
  std::vector<Seen> stores = Enumerate(manager.Get(), &CLSID_OlkStore);
  ASSERT_EQ(2u, stores.size());
  EXPECT_EQ(imap_, stores[0].id);
  EXPECT_EQ(1u, Enumerate(manager.Get(), &CLSID_OlkAddressBook).size());
  CInterfacePtr<IOlkEnum> pops;
  ASSERT_EQ(S_OK, manager->EnumerateAccounts(&CLSID_OlkMail, &CLSID_OlkPOP3Account, 0, pops.Put()));
  DWORD count = 0;
  EXPECT_EQ(S_OK, pops->GetCount(&count));
  EXPECT_EQ(1u, count);
  EXPECT_EQ(E_OLK_PARAM_NOT_SUPPORTED, manager->EnumerateAccounts(&CLSID_OlkMail, nullptr, 1, pops.Put()));
  EXPECT_FALSE(pops);
}

TEST_F(AccountManager, AnEnumeratorSkipsAndStartsOver) {
  AddUsualAccounts();
  CInterfacePtr<IOlkAccountManager> manager = Manager();
  CInterfacePtr<IOlkEnum> accounts;
  ASSERT_EQ(S_OK, manager->EnumerateAccounts(nullptr, nullptr, 0, accounts.Put()));
  EXPECT_EQ(S_OK, accounts->Skip(2));
  CInterfacePtr<IUnknown> next;
  ASSERT_EQ(S_OK, accounts->GetNext(next.Put()));
  EXPECT_EQ(mapi_, Read(next.Get()).id);
  EXPECT_EQ(S_FALSE, accounts->GetNext(next.Put()));
  EXPECT_EQ(S_FALSE, accounts->Skip(1));
  ASSERT_EQ(S_OK, accounts->Reset());
  ASSERT_EQ(S_OK, accounts->GetNext(next.Put()));
  EXPECT_EQ(pop_, Read(next.Get()).id);
  EXPECT_EQ(E_INVALIDARG, accounts->GetNext(nullptr));
}

TEST_F(AccountManager, AccountsAnswerTheirPropertiesAndNothingElse) {
  AddUsualAccounts();
  CInterfacePtr<IOlkAccountManager> manager = Manager();
  ACCT_VARIANT key = {PT_LONG, {}};
  key.Val.dw = mapi_;
  CInterfacePtr<IOlkAccount> work;
  ASSERT_EQ(S_OK, manager->FindAccount(PROP_ACCT_ID, &key, work.Put()));
  ACCT_VARIANT value = {};
  EXPECT_EQ(E_ACCT_NOT_FOUND, work->GetProp(PROP_ACCT_USER_EMAIL_ADDR, &value)) << "it has no \"Email\"";
  EXPECT_EQ(E_INVALIDARG, work->GetProp(PROP_TAG(PT_UNICODE, 0x0777), &value));
  EXPECT_EQ(E_INVALIDARG, work->GetProp(PROP_ACCT_ID, nullptr));
  CLSID type{};
  DWORD categories = 0;
  CLSID* list = nullptr;
  ASSERT_EQ(S_OK, work->GetAccountInfo(&type, &categories, &list));
  EXPECT_EQ(CLSID_OlkMAPIAccount, type);
  ASSERT_EQ(3u, categories);
  EXPECT_EQ(CLSID_OlkMail, list[0]);
  EXPECT_EQ(S_OK, work->FreeMemory(reinterpret_cast<BYTE*>(list)));
  EXPECT_EQ(E_NOTIMPL, work->SetProp(PROP_ACCT_NAME, &value));
  LPWSTR message = nullptr;
  ASSERT_EQ(S_OK, work->GetLastError(E_ACCT_NOT_FOUND, &message));
  EXPECT_FALSE(std::u16string(message).empty());
  EXPECT_EQ(S_OK, work->FreeMemory(reinterpret_cast<BYTE*>(message)));

  std::u16string name = u"home";
  ACCT_VARIANT byName = {PT_UNICODE, {}};
  byName.Val.pwsz = name.data();
  ASSERT_EQ(S_OK, manager->FindAccount(PROP_ACCT_NAME, &byName, work.Put()));
  EXPECT_EQ(u"Home", Text(work.Get(), PROP_ACCT_NAME));
  key.Val.dw = 99;
  EXPECT_EQ(E_ACCT_NOT_FOUND, manager->FindAccount(PROP_ACCT_ID, &key, work.Put()));
  EXPECT_FALSE(work);
}

TEST_F(AccountManager, DeletingAnAccountRemovesItsKey) {
  AddUsualAccounts();
  CInterfacePtr<IOlkAccountManager> manager = Manager();
  ASSERT_EQ(S_OK, manager->DeleteAccount(imap_));
  CScopedRegKey key;
  std::u16string gone = standin::accounts::AccountKeyPath(u"Outlook") + u"\\" + standin::accounts::AccountKeyName(imap_);
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExW(HKEY_CURRENT_USER, gone.c_str(), 0, KEY_READ, key.Put()));
  std::vector<Seen> left = Enumerate(manager.Get());
  ASSERT_EQ(2u, left.size());
  EXPECT_EQ(pop_, left[0].id);
  EXPECT_EQ(mapi_, left[1].id);
  // Another process sees the same.
  auto listed = nlohmann::json::parse(Admin({"account", "list", "Outlook", "--json"}));
  ASSERT_EQ(2u, listed.size());
  EXPECT_EQ(pop_, listed[0]["id"]);
  EXPECT_EQ(mapi_, listed[1]["id"]);

  EXPECT_EQ(E_ACCT_NOT_FOUND, manager->DeleteAccount(imap_)) << "deleted already";
  EXPECT_EQ(E_ACCT_NOT_FOUND, manager->DeleteAccount(0x7777));
  EXPECT_EQ(2u, Enumerate(manager.Get()).size());
  // A registry that refuses the deletion is reported, and the account stays.
  ASSERT_EQ(ERROR_SUCCESS, standin::SetRegistryKeyReadOnly(u"HKCU", standin::accounts::AccountKeyPath(u"Outlook"), true));
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), manager->DeleteAccount(pop_));
  EXPECT_EQ(2u, Enumerate(manager.Get()).size());
}

TEST_F(AccountManager, IdsStayWithTheirAccountsAcrossProcesses) {
  AddUsualAccounts();
  std::vector<Seen> before = Enumerate(Manager().Get());
  ASSERT_EQ(3u, before.size());
  // Another process deletes one account and adds one: the others keep their
  // ids, and the deleted id is not given again.
  Admin({"account", "add", "Outlook", "--kind", "http", "--name", "Web", "--email", "web@example.com"});
  CInterfacePtr<IOlkAccountManager> manager = Manager();
  ASSERT_EQ(S_OK, manager->DeleteAccount(mapi_));
  manager.Reset();
  DWORD later = AddAccount({"--kind", "pop", "--name", "Later"});
  EXPECT_EQ(5u, later);
  std::vector<Seen> after = Enumerate(Manager().Get());
  std::vector<Seen> expected = {before[0], before[1], {4, u"Web", u"web@example.com", u"HTTP"},
                                {later, u"Later", std::nullopt, u"POP/SMTP"}};
  EXPECT_EQ(expected, after);
}

TEST_F(AccountManager, InitNeedsTheProfileNameAndTheSession) {
  AddUsualAccounts();
  CInterfacePtr<IOlkAccountManager> manager;
  ASSERT_EQ(S_OK, CreateManager(&manager));
  IOlkEnum* none = nullptr;
  EXPECT_EQ(E_OLK_NOT_INITIALIZED, manager->EnumerateAccounts(&CLSID_OlkMail, nullptr, 0, &none));
  EXPECT_EQ(E_OLK_NOT_INITIALIZED, manager->DeleteAccount(pop_));
  EXPECT_EQ(E_INVALIDARG, manager->Init(nullptr, ACCT_INIT_NOSYNCH_MAPI_ACCTS));

  // No name, or a profile that does not exist: no settings to manage.
  EXPECT_EQ(E_OLK_REGISTRY, manager->Init(Helper(u"").Get(), ACCT_INIT_NOSYNCH_MAPI_ACCTS));
  EXPECT_EQ(E_OLK_REGISTRY, manager->Init(Helper(u"Elsewhere").Get(), ACCT_INIT_NOSYNCH_MAPI_ACCTS));
  // A name longer than the manager takes is the helper's to refuse.
  EXPECT_EQ(E_OUTOFMEMORY, manager->Init(Helper(std::u16string(300, u'x')).Get(), ACCT_INIT_NOSYNCH_MAPI_ACCTS));
  // No session: the helper's answer comes back.
  CInterfacePtr<IOlkAccountHelper> noSession = Helper(u"Outlook", false);
  EXPECT_EQ(MAPI_E_NOT_INITIALIZED, manager->Init(noSession.Get(), ACCT_INIT_NOSYNCH_MAPI_ACCTS));
  EXPECT_EQ(1, static_cast<TestHelper*>(noSession.Get())->sessionRequests);
  EXPECT_EQ(E_OLK_NOT_INITIALIZED, manager->EnumerateAccounts(&CLSID_OlkMail, nullptr, 0, &none));
  EXPECT_EQ(nullptr, none);

  // With both it works, once.
  CInterfacePtr<IOlkAccountHelper> helper = Helper();
  ASSERT_EQ(S_OK, manager->Init(helper.Get(), ACCT_INIT_NOSYNCH_MAPI_ACCTS));
  EXPECT_EQ(1, static_cast<TestHelper*>(helper.Get())->sessionRequests);
  EXPECT_EQ(E_OLK_ALREADY_INITIALIZED, manager->Init(helper.Get(), ACCT_INIT_NOSYNCH_MAPI_ACCTS));
  EXPECT_EQ(3u, Enumerate(manager.Get()).size());
}

TEST_F(AccountManager, ManagersOfOneProcessShareTheirInitialisation) {
  AddUsualAccounts();
  CInterfacePtr<IOlkAccountManager> first = Manager();
  CInterfacePtr<IOlkAccountManager> second;
  ASSERT_EQ(S_OK, CreateManager(&second));
  EXPECT_EQ(E_OLK_ALREADY_INITIALIZED, second->Init(Helper().Get(), ACCT_INIT_NOSYNCH_MAPI_ACCTS));
  EXPECT_EQ(3u, Enumerate(second.Get()).size()) << "initialised all the same";
  first.Reset();
  second.Reset();
  // Once every manager is gone, the next starts afresh.
  CInterfacePtr<IOlkAccountManager> third;
  ASSERT_EQ(S_OK, CreateManager(&third));
  EXPECT_EQ(S_OK, third->Init(Helper().Get(), ACCT_INIT_NOSYNCH_MAPI_ACCTS));
}

TEST_F(AccountManager, FaultsAreTheCallsResults) {
  AddUsualAccounts();
  standin::ArmFault("IOlkAccountManager::Init", E_OLK_REGISTRY, 1);
  CInterfacePtr<IOlkAccountManager> manager;
  ASSERT_EQ(S_OK, CreateManager(&manager));
  EXPECT_EQ(E_OLK_REGISTRY, manager->Init(Helper().Get(), ACCT_INIT_NOSYNCH_MAPI_ACCTS));
  ASSERT_EQ(S_OK, manager->Init(Helper().Get(), ACCT_INIT_NOSYNCH_MAPI_ACCTS));

  CInterfacePtr<IOlkEnum> accounts;
  ASSERT_EQ(S_OK, manager->EnumerateAccounts(&CLSID_OlkMail, nullptr, 0, accounts.Put()));
  standin::ArmFault("IOlkEnum::GetCount", E_OUTOFMEMORY, 1);
  DWORD count = 0;
  EXPECT_EQ(E_OUTOFMEMORY, accounts->GetCount(&count));
  CInterfacePtr<IUnknown> next;
  ASSERT_EQ(S_OK, accounts->GetNext(next.Put()));
  CInterfacePtr<IOlkAccount> account;
  ASSERT_EQ(S_OK, next->QueryInterface(IID_IOlkAccount, account.PutAs<void>()));
  standin::ArmFault("IOlkAccount::GetProp", E_ACCT_NOT_FOUND, 2);
  ACCT_VARIANT id = {};
  EXPECT_EQ(S_OK, account->GetProp(PROP_ACCT_ID, &id));
  EXPECT_EQ(std::nullopt, Text(account.Get(), PROP_ACCT_NAME));
  EXPECT_EQ(u"Home", Text(account.Get(), PROP_ACCT_NAME));
  standin::ArmFault("IOlkAccountManager::DeleteAccount", E_FAIL, 1);
  EXPECT_EQ(E_FAIL, manager->DeleteAccount(pop_));
  EXPECT_EQ(3u, Enumerate(manager.Get()).size());
  standin::ArmFault("IClassFactory::CreateInstance", E_OUTOFMEMORY, 1);
  CInterfacePtr<IOlkAccountManager> another;
  EXPECT_EQ(E_OUTOFMEMORY, CreateManager(&another));
  standin::ArmFault("DllGetClassObject", CLASS_E_CLASSNOTAVAILABLE, 1);
  EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, CreateManager(&another));
}

TEST_F(AccountManager, AnAccountWithoutAKnownTypeIsAMailAccountWithoutType) {
  AddUsualAccounts();
  CScopedRegKey account;
  std::u16string path = standin::accounts::AccountKeyPath(u"Outlook") + u"\\" + standin::accounts::AccountKeyName(pop_);
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_ALL_ACCESS, account.Put()));
  ASSERT_EQ(ERROR_SUCCESS, RegDeleteValueW(account.Get(), standin::accounts::kType));
  // A subkey that is not an account is no account.
  CScopedRegKey stray;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, (standin::accounts::AccountKeyPath(u"Outlook") + u"\\Stray").c_str(),
                                           0, nullptr, 0, KEY_ALL_ACCESS, nullptr, stray.Put(), nullptr));
  std::vector<Seen> seen = Enumerate(Manager().Get());
  ASSERT_EQ(3u, seen.size());
  EXPECT_EQ(pop_, seen[0].id);
  EXPECT_EQ(std::nullopt, seen[0].type);
}

}  // namespace
