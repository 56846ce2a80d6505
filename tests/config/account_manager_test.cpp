// The account manager's client: the helper it is given, the enumeration of the
// mail accounts, and deleting every account that is not POP3.
#include <acctmgmt.h>
#include <mapiguid.h>

#include <algorithm>

#include "Account/AccountHelper.h"
#include "Account/AccountManager.h"
#include "config_support.h"

namespace config_test {
namespace {

const std::string kUnit = "ERROR: File:'.\\Account\\AccountManager' Line: ";
const std::string kInit = "(*ppam)->Init(pHelper, ACCT_INIT_NOSYNCH_MAPI_ACCTS)";
const std::string kCreate =
    "CoCreateInstance(CLSID_OlkAccountManager, 0, CLSCTX_INPROC_SERVER, IID_IOlkAccountManager, (LPVOID* )ppam)";

class AccountManagerTest : public ConfigMachine {
 protected:
  // A failed call of this unit as CheckHResult logs it.
  bool HasFailedCall(const std::string& callText, const std::string& hex) const {
    for (const std::string& line : LogLines())
      if (line.rfind(kUnit, 0) == 0 && line.find(";  " + callText + " failed, HRESULT:0x" + hex + ",error:") !=
                                           std::string::npos)
        return true;
    return false;
  }
  // A session of the profile "Outlook", as the helper is given one.
  CInterfacePtr<IMAPISession> Logon() {
    CInterfacePtr<IMAPISession> session;
    WCHAR profile[] = u"Outlook";
    EXPECT_EQ(S_OK, MAPILogonEx(0, profile, nullptr, MAPI_UNICODE | MAPI_EXTENDED | MAPI_NEW_SESSION | MAPI_NO_MAIL,
                                session.Put()));
    return session;
  }
};

AccountRecord Record(const char16_t* type) {
  AccountRecord r;
  r.szType = type;
  return r;
}

TEST_F(AccountManagerTest, TypeCodesByTypeTextWithoutRegardToCase) {
  EXPECT_EQ(2, GetAccountTypeCode(Record(u"POP/SMTP")));
  EXPECT_EQ(2, GetAccountTypeCode(Record(u"pop/smtp")));
  EXPECT_EQ(4, GetAccountTypeCode(Record(u"IMAP/SMTP")));
  EXPECT_EQ(16, GetAccountTypeCode(Record(u"Http")));
  EXPECT_EQ(32, GetAccountTypeCode(Record(u"MAPI")));
  EXPECT_EQ(64, GetAccountTypeCode(Record(u"")));
  EXPECT_EQ(64, GetAccountTypeCode(Record(u"POP3")));
}

TEST_F(AccountManagerTest, OnlyPOP3AccountsRemain) {
  DWORD pop = AddPop("Home");
  AddImap("Lists");
  AddHttp("Web");
  AddExchange("Work");
  DWORD secondPop = AddPop("Family");
  ASSERT_EQ(5u, AccountIds().size());
  EXPECT_EQ(0, DeleteNonPOP3Accounts());
  EXPECT_EQ((std::vector<DWORD>{pop, secondPop}), AccountIds());
  EXPECT_TRUE(LogLines().empty()) << LogText();
}

TEST_F(AccountManagerTest, EnumerationReadsIdNameTypeAndAddress) {
  DWORD pop = AddPop("Home");
  DWORD work = AddExchange("Work");
  CInterfacePtr<IMAPISession> session = Logon();
  CInterfacePtr<CAccountHelper> helper(new CAccountHelper(u"Outlook", session.Get()));
  CInterfacePtr<IOlkAccountManager> manager;
  ASSERT_EQ(0, CreateAccountManager(helper.Get(), manager));
  AccountRecords records;
  ASSERT_EQ(0, EnumerateMailAccounts(manager.Get(), records));
  ASSERT_EQ(2u, records.size());
  ASSERT_TRUE(records[0] && records[1]);
  EXPECT_EQ(pop, records[0]->_dwId);
  EXPECT_EQ(u"Home", records[0]->szName);
  EXPECT_EQ(u"POP/SMTP", records[0]->szType);
  EXPECT_EQ(u"Home@example.com", records[0]->szEmail);
  EXPECT_EQ(work, records[1]->_dwId);
  EXPECT_EQ(u"MAPI", records[1]->szType);
  EXPECT_EQ(u"", records[1]->szEmail);
}

TEST_F(AccountManagerTest, AManagerInitialisedBeforeServesTheDeletion) {
  DWORD pop = AddPop("Home");
  AddImap("Lists");
  // The client's process has initialised its manager already.
  CInterfacePtr<IMAPISession> session = Logon();
  CInterfacePtr<CAccountHelper> helper(new CAccountHelper(u"Outlook", session.Get()));
  CInterfacePtr<IOlkAccountManager> first;
  ASSERT_EQ(S_OK, CoCreateInstance(CLSID_OlkAccountManager, nullptr, CLSCTX_INPROC_SERVER, IID_IOlkAccountManager,
                                   first.PutAs<void>()));
  ASSERT_EQ(S_OK, first->Init(helper.Get(), ACCT_INIT_NOSYNCH_MAPI_ACCTS));

  EXPECT_EQ(0, DeleteNonPOP3Accounts());
  EXPECT_TRUE(HasFailedCall(kInit, "800c8002")) << LogText();
  EXPECT_EQ(std::vector<DWORD>{pop}, AccountIds());
}

TEST_F(AccountManagerTest, WithoutTheManagerNothingIsDeleted) {
  AddImap("Lists");
  standin::ArmFault("CoCreateInstance", static_cast<int32_t>(REGDB_E_CLASSNOTREG));
  EXPECT_EQ(1, DeleteNonPOP3Accounts());
  EXPECT_EQ(1u, AccountIds().size());
  EXPECT_TRUE(HasFailedCall(kCreate, "80040154")) << LogText();
  EXPECT_TRUE(HasLine("INFO: Skinnping " + kInit + " because hRes = 0x80040154.")) << LogText();
}

TEST_F(AccountManagerTest, WithoutTheProfileNothingIsLogged) {
  Ok({"profile", "delete", "Outlook"});
  EXPECT_EQ(1, DeleteNonPOP3Accounts());
  EXPECT_TRUE(LogLines().empty()) << LogText();
}

TEST_F(AccountManagerTest, AFailedDeletionDoesNotStopTheOthers) {
  AddImap("Lists");
  AddHttp("Web");
  DWORD pop = AddPop("Home");
  standin::ArmFault("IOlkAccountManager::DeleteAccount", static_cast<int32_t>(E_ACCT_UI_BUSY), 1);
  EXPECT_EQ(0, DeleteNonPOP3Accounts());
  std::vector<DWORD> left = AccountIds();
  ASSERT_EQ(2u, left.size());
  EXPECT_NE(left.end(), std::find(left.begin(), left.end(), pop));
  EXPECT_TRUE(HasFailedCall("managerPtr->DeleteAccount(ppas[i]->_dwId)", "800c8102")) << LogText();
}

TEST_F(AccountManagerTest, AnAccountWhoseTypeCannotBeReadIsDeleted) {
  AddPop("Home");
  // Per account: the id, the name, the address, the type.
  standin::ArmFault("IOlkAccount::GetProp", static_cast<int32_t>(E_ACCT_NOT_FOUND), 4);
  EXPECT_EQ(0, DeleteNonPOP3Accounts());
  EXPECT_TRUE(AccountIds().empty());
}

TEST_F(AccountManagerTest, AnAccountWhoseIdCannotBeReadIsSkipped) {
  AddImap("Lists");
  standin::ArmFault("IOlkAccount::GetProp", static_cast<int32_t>(E_ACCT_NOT_FOUND), 1);
  EXPECT_EQ(0, DeleteNonPOP3Accounts());
  EXPECT_EQ(1u, AccountIds().size());
  EXPECT_TRUE(HasFailedCall("pola->GetProp(PROP_ACCT_ID, &propVal)", "800c8101")) << LogText();
  EXPECT_TRUE(HasLine("INFO: Skinnping pola->GetProp(PROP_ACCT_NAME, &propVal) because hRes = 0x800c8101."))
      << LogText();
}

TEST_F(AccountManagerTest, EnumerationFailures) {
  AddImap("Lists");
  CInterfacePtr<IMAPISession> session = Logon();
  CInterfacePtr<CAccountHelper> helper(new CAccountHelper(u"Outlook", session.Get()));
  CInterfacePtr<IOlkAccountManager> manager;
  ASSERT_EQ(0, CreateAccountManager(helper.Get(), manager));
  AccountRecords records;
  standin::ArmFault("IOlkEnum::GetCount", static_cast<int32_t>(E_OLK_REGISTRY));
  EXPECT_EQ(0x8001, EnumerateMailAccounts(manager.Get(), records));
  EXPECT_TRUE(HasFailedCall("pole->GetCount(&dwCounter)", "800c8001")) << LogText();
  standin::ArmFault("IOlkAccountManager::EnumerateAccounts", static_cast<int32_t>(E_OLK_NOT_INITIALIZED));
  EXPECT_EQ(1, EnumerateMailAccounts(manager.Get(), records));
  EXPECT_TRUE(records.empty());
  // A reset that fails is only logged.
  standin::ClearAllFaults();
  standin::ArmFault("IOlkEnum::Reset", static_cast<int32_t>(E_FAIL));
  EXPECT_EQ(0, EnumerateMailAccounts(manager.Get(), records));
  EXPECT_EQ(1u, records.size());
  EXPECT_TRUE(HasFailedCall("pole->Reset()", "80004005")) << LogText();
}

// ---- the helper ----

TEST_F(AccountManagerTest, HelperIdentityNeedsRoomForTheTerminator) {
  CInterfacePtr<IMAPISession> session = Logon();
  CInterfacePtr<CAccountHelper> helper(new CAccountHelper(u"Outlook", session.Get()));
  WCHAR name[16] = {u'x'};
  DWORD size = 7;  // the name's length
  EXPECT_EQ(E_OUTOFMEMORY, helper->GetIdentity(name, &size));
  EXPECT_EQ(u'x', name[0]);
  size = 8;
  EXPECT_EQ(S_OK, helper->GetIdentity(name, &size));
  EXPECT_EQ(7u, size);
  EXPECT_EQ(std::u16string(u"Outlook"), name);
  EXPECT_EQ(E_INVALIDARG, helper->GetIdentity(nullptr, &size));
  EXPECT_EQ(E_INVALIDARG, helper->GetIdentity(name, nullptr));
  EXPECT_EQ(E_NOTIMPL, helper->PlaceHolder1(nullptr));
  EXPECT_EQ(E_NOTIMPL, helper->HandsOffSession());
}

TEST_F(AccountManagerTest, HelperHandsOutTheSessionOnlyIntoAnEmptySlot) {
  CInterfacePtr<IMAPISession> session = Logon();
  CInterfacePtr<CAccountHelper> helper(new CAccountHelper(u"Outlook", session.Get()));
  LPUNKNOWN taken = reinterpret_cast<LPUNKNOWN>(session.Get());
  EXPECT_EQ(E_INVALIDARG, helper->GetMapiSession(&taken));
  EXPECT_EQ(E_INVALIDARG, helper->GetMapiSession(nullptr));
  CInterfacePtr<IUnknown> given;
  ASSERT_EQ(S_OK, helper->GetMapiSession(given.Put()));
  EXPECT_EQ(reinterpret_cast<IUnknown*>(session.Get()), given.Get());
}

TEST_F(AccountManagerTest, HelperAnswersItsOwnInterfacesAndCountsReferences) {
  CInterfacePtr<IMAPISession> session = Logon();
  CInterfacePtr<CAccountHelper> helper(new CAccountHelper(u"Outlook", session.Get()));
  void* p = nullptr;
  EXPECT_EQ(E_NOINTERFACE, helper->QueryInterface(IID_IOlkAccountManager, &p));
  EXPECT_EQ(nullptr, p);
  ASSERT_EQ(S_OK, helper->QueryInterface(IID_IOlkAccountHelper, &p));
  EXPECT_EQ(static_cast<IOlkAccountHelper*>(helper.Get()), p);
  EXPECT_EQ(1u, helper->Release());
  ASSERT_EQ(S_OK, helper->QueryInterface(IID_IUnknown, &p));
  EXPECT_EQ(1u, helper->Release());
  EXPECT_EQ(2u, helper->AddRef());
  EXPECT_EQ(1u, helper->Release());
}

TEST_F(AccountManagerTest, AHelperWithoutANameOrSessionHoldsNeither) {
  CAccountHelper* bare = new CAccountHelper(nullptr, nullptr);
  WCHAR name[4] = {u'x'};
  DWORD size = 4;
  EXPECT_EQ(S_OK, bare->GetIdentity(name, &size));
  EXPECT_EQ(0u, size);
  EXPECT_EQ(u'\0', name[0]);
  LPUNKNOWN given = nullptr;
  EXPECT_EQ(E_UNEXPECTED, bare->GetMapiSession(&given));
  EXPECT_EQ(0u, bare->Release());
}

}  // namespace
}  // namespace config_test
