// The account manager, its enumerators and its accounts.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <mapiguid.h>
#include <standin/comobject.h>
#include <standin/fault.h>

#include "acctmgr.h"
#include "owners/ScopedOwner.h"

namespace standin::acct {

namespace {

// The account's type as text: "POP/SMTP", "IMAP/SMTP", "HTTP" or "MAPI".
constexpr DWORD kPropAccountType = PROP_TAG(PT_UNICODE, 0x0004);

// What the manager and its accounts both answer: the texts of their errors,
// and the freeing of what they handed out. Faults are taken as
// "<name>::GetLastError" and "<name>::FreeMemory".
template <class Interface>
class COlkObject : public ComObject<Interface>, ModuleObject {
 public:
  STDMETHODIMP GetLastError(HRESULT hr, LPWSTR* ppwszError) override {
    STANDIN_FAULT_POINT(getLastError_.c_str());
    return DescribeError(hr, ppwszError);
  }
  STDMETHODIMP FreeMemory(BYTE* pv) override {
    STANDIN_FAULT_POINT(freeMemory_.c_str());
    FreeBlock(pv);
    return S_OK;
  }

 protected:
  explicit COlkObject(const std::string& name)
      : getLastError_(name + "::GetLastError"), freeMemory_(name + "::FreeMemory") {}

 private:
  const std::string getLastError_, freeMemory_;
};

// One account, as the enumeration read it.
class CAccount final : public COlkObject<IOlkAccount> {
 public:
  explicit CAccount(Account account) : COlkObject("IOlkAccount"), account_(std::move(account)) {}
  STDMETHODIMP PlaceHolder1() override { return E_NOTIMPL; }
  STDMETHODIMP PlaceHolder2() override { return E_NOTIMPL; }
  STDMETHODIMP PlaceHolder3() override { return E_NOTIMPL; }
  STDMETHODIMP PlaceHolder4() override { return E_NOTIMPL; }
  STDMETHODIMP PlaceHolder5() override { return E_NOTIMPL; }
  STDMETHODIMP PlaceHolder6() override { return E_NOTIMPL; }

  STDMETHODIMP GetAccountInfo(CLSID* pclsidType, DWORD* pcCategories, CLSID** prgclsidCategory) override {
    STANDIN_FAULT_POINT("IOlkAccount::GetAccountInfo");
    if (!pclsidType || !pcCategories || !prgclsidCategory) return E_INVALIDARG;
    std::vector<CLSID> categories;
    for (const CLSID& category : {CLSID_OlkMail, CLSID_OlkAddressBook, CLSID_OlkStore})
      if (InCategory(account_.type, category)) categories.push_back(category);
    auto* block = static_cast<CLSID*>(std::malloc(categories.size() * sizeof(CLSID)));
    if (!block) return E_OUTOFMEMORY;
    std::copy(categories.begin(), categories.end(), block);
    *pclsidType = account_.type.value_or(CLSID{});
    *pcCategories = static_cast<DWORD>(categories.size());
    *prgclsidCategory = block;
    return S_OK;
  }

  STDMETHODIMP GetProp(DWORD dwProp, ACCT_VARIANT* pVar) override {
    STANDIN_FAULT_POINT("IOlkAccount::GetProp");
    if (!pVar) return E_INVALIDARG;
    std::optional<std::u16string> text;
    switch (dwProp) {
      case PROP_ACCT_ID:
        pVar->dwType = PT_LONG;
        pVar->Val.dw = account_.id;
        return S_OK;
      case PROP_ACCT_NAME: text = account_.name; break;
      case PROP_ACCT_USER_DISPLAY_NAME: text = account_.displayName; break;
      case PROP_ACCT_USER_EMAIL_ADDR: text = account_.email; break;
      case kPropAccountType:
        if (account_.type) text = TypeText(*account_.type);
        break;
      default: return E_INVALIDARG;
    }
    if (!text) return E_ACCT_NOT_FOUND;
    WCHAR* copy = CopyText(*text);
    if (!copy) return E_OUTOFMEMORY;
    pVar->dwType = PT_UNICODE;
    pVar->Val.pwsz = copy;
    return S_OK;
  }
  STDMETHODIMP SetProp(DWORD, ACCT_VARIANT*) override { return E_NOTIMPL; }
  STDMETHODIMP PlaceHolder7() override { return E_NOTIMPL; }
  STDMETHODIMP PlaceHolder8() override { return E_NOTIMPL; }
  STDMETHODIMP PlaceHolder9() override { return E_NOTIMPL; }
  STDMETHODIMP PlaceHolder10() override { return E_NOTIMPL; }
  STDMETHODIMP SaveChanges(DWORD) override { return E_NOTIMPL; }

 private:
  bool Supports(REFIID riid) const override { return riid == IID_IOlkAccount || riid == IID_IOlkErrorUnknown; }

  const Account account_;
};

HRESULT NewAccount(const Account& account, IOlkAccount** out) {
  *out = new (std::nothrow) CAccount(account);
  return *out ? S_OK : E_OUTOFMEMORY;
}

// The accounts found by one enumeration; one client reads it at a time.
class CAccountEnum final : public ComObject<IOlkEnum>, ModuleObject {
 public:
  explicit CAccountEnum(std::vector<Account> accounts) : accounts_(std::move(accounts)) {}

  STDMETHODIMP GetCount(DWORD* pulCount) override {
    STANDIN_FAULT_POINT("IOlkEnum::GetCount");
    if (!pulCount) return E_INVALIDARG;
    *pulCount = static_cast<DWORD>(accounts_.size());
    return S_OK;
  }
  STDMETHODIMP Reset() override {
    STANDIN_FAULT_POINT("IOlkEnum::Reset");
    next_ = 0;
    return S_OK;
  }
  STDMETHODIMP GetNext(LPUNKNOWN* ppunk) override {
    STANDIN_FAULT_POINT("IOlkEnum::GetNext");
    if (!ppunk) return E_INVALIDARG;
    *ppunk = nullptr;
    if (next_ >= accounts_.size()) return S_FALSE;
    IOlkAccount* account = nullptr;
    if (HRESULT hr = NewAccount(accounts_[next_], &account); FAILED(hr)) return hr;
    ++next_;
    *ppunk = account;
    return S_OK;
  }
  STDMETHODIMP Skip(DWORD cSkip) override {
    STANDIN_FAULT_POINT("IOlkEnum::Skip");
    const size_t left = accounts_.size() - next_;
    next_ += std::min<size_t>(cSkip, left);
    return cSkip <= left ? S_OK : S_FALSE;
  }

 private:
  bool Supports(REFIID riid) const override { return riid == IID_IOlkEnum; }

  const std::vector<Account> accounts_;
  size_t next_ = 0;
};

class CAccountManager final : public COlkObject<IOlkAccountManager> {
 public:
  explicit CAccountManager(std::shared_ptr<ManagerState> state)
      : COlkObject("IOlkAccountManager"), state_(std::move(state)) {}

  // Learns the profile and checks the session from the client's helper. The
  // session is not kept: the helper holds it for the client.
  STDMETHODIMP Init(IOlkAccountHelper* pAcctHelper, DWORD dwFlags) override {
    STANDIN_FAULT_POINT("IOlkAccountManager::Init");
    if (!pAcctHelper) return E_INVALIDARG;
    constexpr DWORD kKnownFlags = ACCT_INIT_NOSYNCH_MAPI_ACCTS | ACCT_INIT_NO_STORES_CHECK | ACCT_INIT_NO_NOTIFICATIONS;
    if (dwFlags & ~kKnownFlags) return E_OLK_PARAM_NOT_SUPPORTED;
    if (std::u16string ignored; Profile(&ignored)) return E_OLK_ALREADY_INITIALIZED;

    WCHAR identity[MAX_PATH + 1] = {};
    DWORD size = MAX_PATH;
    if (HRESULT hr = pAcctHelper->GetIdentity(identity, &size); FAILED(hr)) return hr;
    identity[MAX_PATH] = 0;  // whatever the helper wrote, the name ends here
    const std::u16string profile(identity);
    // Without a profile there are no settings to manage.
    if (profile.empty() || !ProfileExists(profile)) return E_OLK_REGISTRY;

    CInterfacePtr<IUnknown> session;
    if (HRESULT hr = pAcctHelper->GetMapiSession(session.Put()); FAILED(hr)) return hr;
    if (!session) return E_INVALIDARG;
    CInterfacePtr<IUnknown> mapiSession;
    if (HRESULT hr = session->QueryInterface(IID_IMAPISession, mapiSession.PutAs<void>()); FAILED(hr)) return hr;

    // The helper's code ran without our lock; another client may have won.
    std::lock_guard<std::mutex> guard(state_->lock);
    if (state_->initialised) return E_OLK_ALREADY_INITIALIZED;
    state_->profile = profile;
    state_->initialised = true;
    return S_OK;
  }

  STDMETHODIMP DisplayAccountList(HWND, DWORD, LPCWSTR, DWORD, const CLSID*, const CLSID*) override {
    return E_NOTIMPL;  // no user interface here
  }
  STDMETHODIMP PlaceHolder1() override { return E_NOTIMPL; }
  STDMETHODIMP PlaceHolder2() override { return E_NOTIMPL; }
  STDMETHODIMP PlaceHolder3() override { return E_NOTIMPL; }
  STDMETHODIMP PlaceHolder4() override { return E_NOTIMPL; }
  STDMETHODIMP PlaceHolder5() override { return E_NOTIMPL; }

  // By PROP_ACCT_ID or PROP_ACCT_NAME (without regard to case).
  STDMETHODIMP FindAccount(DWORD dwProp, ACCT_VARIANT* pVar, IOlkAccount** ppAccount) override {
    STANDIN_FAULT_POINT("IOlkAccountManager::FindAccount");
    if (!pVar || !ppAccount) return E_INVALIDARG;
    *ppAccount = nullptr;
    if (dwProp != PROP_ACCT_ID && dwProp != PROP_ACCT_NAME) return E_INVALIDARG;
    if (dwProp == PROP_ACCT_NAME && (pVar->dwType != PT_UNICODE || !pVar->Val.pwsz)) return E_INVALIDARG;
    std::vector<Account> accounts;
    if (HRESULT hr = Accounts(&accounts); FAILED(hr)) return hr;
    for (const Account& account : accounts) {
      bool match = dwProp == PROP_ACCT_ID ? account.id == pVar->Val.dw
                                          : account.name && CompareNoCase(*account.name, pVar->Val.pwsz) == 0;
      if (match) return NewAccount(account, ppAccount);
    }
    return E_ACCT_NOT_FOUND;
  }
  STDMETHODIMP PlaceHolder6() override { return E_NOTIMPL; }
  STDMETHODIMP PlaceHolder7() override { return E_NOTIMPL; }
  STDMETHODIMP PlaceHolder8() override { return E_NOTIMPL; }

  STDMETHODIMP DeleteAccount(DWORD dwAcctID) override {
    STANDIN_FAULT_POINT("IOlkAccountManager::DeleteAccount");
    std::u16string profile;
    if (!Profile(&profile)) return E_OLK_NOT_INITIALIZED;
    return RemoveAccount(profile, dwAcctID);
  }
  STDMETHODIMP PlaceHolder9() override { return E_NOTIMPL; }
  STDMETHODIMP SaveChanges(DWORD, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP GetOrder(const CLSID*, DWORD*, DWORD**) override { return E_NOTIMPL; }
  STDMETHODIMP SetOrder(const CLSID*, DWORD, DWORD*) override { return E_NOTIMPL; }

  STDMETHODIMP EnumerateAccounts(const CLSID* pclsidCategory, const CLSID* pclsidType, DWORD dwFlags,
                                 IOlkEnum** ppEnum) override {
    STANDIN_FAULT_POINT("IOlkAccountManager::EnumerateAccounts");
    if (!ppEnum) return E_INVALIDARG;
    *ppEnum = nullptr;
    if (dwFlags != OLK_ACCOUNT_NO_FLAGS) return E_OLK_PARAM_NOT_SUPPORTED;
    std::vector<Account> accounts;
    if (HRESULT hr = Accounts(&accounts); FAILED(hr)) return hr;
    std::erase_if(accounts, [&](const Account& a) {
      return (pclsidCategory && !InCategory(a.type, *pclsidCategory)) ||
             (pclsidType && (!a.type || *a.type != *pclsidType));
    });
    *ppEnum = new (std::nothrow) CAccountEnum(std::move(accounts));
    return *ppEnum ? S_OK : E_OUTOFMEMORY;
  }
  STDMETHODIMP PlaceHolder10() override { return E_NOTIMPL; }
  STDMETHODIMP PlaceHolder11() override { return E_NOTIMPL; }
  STDMETHODIMP Advise(IOlkAccountNotify*, DWORD*) override { return E_NOTIMPL; }
  STDMETHODIMP Unadvise(DWORD) override { return E_NOTIMPL; }

 private:
  bool Supports(REFIID riid) const override {
    return riid == IID_IOlkAccountManager || riid == IID_IOlkErrorUnknown;
  }

  bool Profile(std::u16string* profile) const {
    std::lock_guard<std::mutex> guard(state_->lock);
    *profile = state_->profile;
    return state_->initialised;
  }
  HRESULT Accounts(std::vector<Account>* accounts) const {
    std::u16string profile;
    if (!Profile(&profile)) return E_OLK_NOT_INITIALIZED;
    return ReadAccounts(profile, accounts);
  }

  const std::shared_ptr<ManagerState> state_;
};

struct ErrorText {
  HRESULT hr;
  const char16_t* text;
};
constexpr ErrorText kErrorTexts[] = {
    {E_ACCT_NOT_FOUND, u"The account does not exist or does not have that property."},
    {E_OLK_REGISTRY, u"The account settings of the profile cannot be read."},
    {E_OLK_ALREADY_INITIALIZED, u"The account manager is initialised already."},
    {E_OLK_NOT_INITIALIZED, u"The account manager is not initialised."},
    {E_OLK_PARAM_NOT_SUPPORTED, u"The flags are not supported."},
    {E_INVALIDARG, u"An argument is not valid."},
    {E_NOTIMPL, u"The call is not implemented."},
};

}  // namespace

std::shared_ptr<ManagerState> SharedManagerState() {
  static std::mutex lock;
  static std::weak_ptr<ManagerState> shared;
  std::lock_guard<std::mutex> guard(lock);
  std::shared_ptr<ManagerState> state = shared.lock();
  if (!state) {
    state = std::make_shared<ManagerState>();
    shared = state;
  }
  return state;
}

IOlkAccountManager* NewAccountManager() { return new (std::nothrow) CAccountManager(SharedManagerState()); }

WCHAR* CopyText(const std::u16string& text) {
  auto* copy = static_cast<WCHAR*>(std::malloc((text.size() + 1) * sizeof(WCHAR)));
  if (!copy) return nullptr;
  std::memcpy(copy, text.c_str(), (text.size() + 1) * sizeof(WCHAR));
  return copy;
}

void FreeBlock(void* block) { std::free(block); }

HRESULT DescribeError(HRESULT hr, LPWSTR* text) {
  if (!text) return E_INVALIDARG;
  *text = nullptr;
  std::u16string message;
  for (const ErrorText& e : kErrorTexts)
    if (e.hr == hr) message = e.text;
  if (message.empty()) {
    char code[48];
    std::snprintf(code, sizeof code, "Error 0x%08X.", static_cast<unsigned>(hr));
    message.assign(code, code + std::strlen(code));
  }
  *text = CopyText(message);
  return *text ? S_OK : E_OUTOFMEMORY;
}

}  // namespace standin::acct
