#include "Account/AccountManager.h"

#include <mapix.h>
#include <objbase.h>

#include <new>

#include "Account/AccountHelper.h"
#include "MAPIPack/MAPIHelpers.h"
#include "MAPIPack/MailAccount.h"
#include "support/Log.h"

#define ACCOUNT_MANAGER_UNIT TEXT(".\\Account\\AccountManager")

namespace {

// The account's type as text, and its further address.
constexpr DWORD PROP_ACCT_TYPE = PROP_TAG(PT_UNICODE, 0x0004);

// The profile is named in wide text, with a session of its own.
constexpr ULONG kLogonFlags = MAPI_UNICODE | MAPI_NO_MAIL | MAPI_EXTENDED | MAPI_EXPLICIT_PROFILE | MAPI_NEW_SESSION;

// A property value handed out by an account, given back to it when dropped.
class CAccountValue {
 public:
  explicit CAccountValue(IOlkAccount* account) : m_account(account) {}
  ~CAccountValue() { Free(); }
  CAccountValue(const CAccountValue&) = delete;
  CAccountValue& operator=(const CAccountValue&) = delete;

  ACCT_VARIANT* Put() {
    Free();
    return &m_value;
  }
  // The text of a string value, or null.
  LPCWSTR Text() const { return m_value.dwType == PT_UNICODE ? m_value.Val.pwsz : nullptr; }
  bool IsLong() const { return m_value.dwType == PT_LONG; }
  DWORD Long() const { return m_value.Val.dw; }

 private:
  void Free() {
    BYTE* block = nullptr;
    if (m_value.dwType == PT_UNICODE) block = reinterpret_cast<BYTE*>(m_value.Val.pwsz);
    if (m_value.dwType == PT_BINARY) block = m_value.Val.bin.pb;
    if (block)
      CheckHResult(m_account->FreeMemory(block), TEXT("pola->FreeMemory((LPBYTE)propVal.Val.pwsz)"),
                   ACCOUNT_MANAGER_UNIT, __LINE__);
    m_value = {};
  }

  IOlkAccount* m_account;
  ACCT_VARIANT m_value = {};
};

// Reads a further string property quietly: an account need not have it.
bool ReadText(IOlkAccount* pola, DWORD tag, std::basic_string<WCHAR>& out) {
  CAccountValue propVal(pola);
  if (FAILED(pola->GetProp(tag, propVal.Put())) || !propVal.Text()) return false;
  out = propVal.Text();
  return true;
}

// A session logged off before it is released.
struct CLogonSession {
  CInterfacePtr<IMAPISession> sessionPtr;
  ~CLogonSession() {
    if (sessionPtr) sessionPtr->Logoff(0, 0, 0);
  }
};

}  // namespace

int GetAccountTypeCode(const AccountRecord& record) {
  struct TypeCode {
    LPCWSTR type;
    int code;
  };
  static const TypeCode kTypeCodes[] = {{TEXT("POP/SMTP"), ACCOUNT_TYPE_PST},
                                        {TEXT("IMAP/SMTP"), ACCOUNT_TYPE_IMAP},
                                        {TEXT("HTTP"), ACCOUNT_TYPE_HTTP},
                                        {TEXT("MAPI"), ACCOUNT_TYPE_MAPI}};
  for (const TypeCode& entry : kTypeCodes)
    if (lstrcmpiW(record.szType.c_str(), entry.type) == 0) return entry.code;
  return ACCOUNT_TYPE_UNKNOWN;
}

std::unique_ptr<AccountRecord> ReadAccountRecord(IOlkAccount* pola) {
  if (!pola) return nullptr;
  CHResultChain chain(ACCOUNT_MANAGER_UNIT);
  CAccountValue id(pola), name(pola);
  CHAIN_STEP(chain, "pola->GetProp(PROP_ACCT_ID, &propVal)", pola->GetProp(PROP_ACCT_ID, id.Put()));
  CHAIN_STEP(chain, "pola->GetProp(PROP_ACCT_NAME, &propVal)", pola->GetProp(PROP_ACCT_NAME, name.Put()));
  if (chain.Failed() || !id.IsLong() || !name.Text()) return nullptr;

  std::unique_ptr<AccountRecord> record(new AccountRecord);
  record->_dwId = id.Long();
  record->szName = name.Text();
  ReadText(pola, PROP_ACCT_USER_EMAIL_ADDR, record->szEmail);
  // An account whose type cannot be read keeps the empty type.
  ReadText(pola, PROP_ACCT_TYPE, record->szType);
  return record;
}

int CreateAccountManager(IOlkAccountHelper* pHelper, CInterfacePtr<IOlkAccountManager>& manager) {
  CHResultChain chain(ACCOUNT_MANAGER_UNIT);
  CHAIN_OBTAIN(chain,
               "CoCreateInstance(CLSID_OlkAccountManager, 0, CLSCTX_INPROC_SERVER, IID_IOlkAccountManager, (LPVOID* "
               ")ppam)",
               manager,
               CoCreateInstance(CLSID_OlkAccountManager, nullptr, CLSCTX_INPROC_SERVER, IID_IOlkAccountManager,
                                manager.PutAs<void>()));
  HRESULT hr = CHAIN_STEP(chain, "(*ppam)->Init(pHelper, ACCT_INIT_NOSYNCH_MAPI_ACCTS)",
                          manager->Init(pHelper, ACCT_INIT_NOSYNCH_MAPI_ACCTS));
  // A manager initialised before serves as well.
  if (hr == 0 || hr == E_OLK_ALREADY_INITIALIZED) return 0;
  return 1;
}

int EnumerateMailAccounts(IOlkAccountManager* pam, AccountRecords& records) {
  if (!pam) return 1;
  CInterfacePtr<IOlkEnum> enumPtr;
  HRESULT hr = pam->EnumerateAccounts(&CLSID_OlkMail, nullptr, OLK_ACCOUNT_NO_FLAGS, enumPtr.Put());
  CheckHResult(hr, TEXT("pam->EnumerateAccounts(&CLSID_OlkMail, NULL, OLK_ACCOUNT_NO_FLAGS, &enumPtr)"),
               ACCOUNT_MANAGER_UNIT, __LINE__);
  if (FAILED(hr) || !enumPtr) return 1;

  IOlkEnum* pole = enumPtr.Get();
  DWORD dwCounter = 0;
  hr = pole->GetCount(&dwCounter);
  CheckHResult(hr, TEXT("pole->GetCount(&dwCounter)"), ACCOUNT_MANAGER_UNIT, __LINE__);
  if (FAILED(hr)) return HResultCode(hr);
  if (dwCounter == 0) return 0;

  // Only logged: the enumeration starts at the beginning anyway.
  CheckHResult(pole->Reset(), TEXT("pole->Reset()"), ACCOUNT_MANAGER_UNIT, __LINE__);
  records.reserve(records.size() + dwCounter);
  for (DWORD filled = 0; filled < dwCounter; ++filled) {
    CInterfacePtr<IUnknown> next;
    if (pole->GetNext(next.Put()) != S_OK || !next) break;
    CInterfacePtr<IOlkAccount> pola;
    if (FAILED(next->QueryInterface(IID_IOlkAccount, pola.PutAs<void>()))) pola.Reset();
    records.push_back(ReadAccountRecord(pola.Get()));
  }
  return 0;
}

int DeleteNonPOP3Accounts() {
  // Released in this order on every path: records, manager, helper, session.
  CLogonSession session;
  WCHAR profile[] = OUTLOOK_PROFILE_NAME;
  HRESULT hr = MAPILogonEx(0, profile, nullptr, kLogonFlags, session.sessionPtr.Put());
  if (FAILED(hr) || !session.sessionPtr) return 1;

  CInterfacePtr<CAccountHelper> helper(new (std::nothrow) CAccountHelper(profile, session.sessionPtr.Get()));
  if (!helper) return 1;
  CInterfacePtr<IOlkAccountManager> managerPtr;
  if (CreateAccountManager(helper.Get(), managerPtr) != 0) return 1;
  AccountRecords ppas;
  if (EnumerateMailAccounts(managerPtr.Get(), ppas) != 0) return 1;

  for (size_t i = 0; i < ppas.size(); ++i) {
    if (!ppas[i] || (GetAccountTypeCode(*ppas[i]) & ~ACCOUNT_TYPE_PST) == 0) continue;
    // A failed deletion does not stop the others.
    CheckHResult(managerPtr->DeleteAccount(ppas[i]->_dwId), TEXT("managerPtr->DeleteAccount(ppas[i]->_dwId)"),
                 ACCOUNT_MANAGER_UNIT, __LINE__);
  }
  return 0;
}
