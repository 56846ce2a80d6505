#include "Account/AccountHelper.h"

#include <mapiguid.h>
#include <wcrt.h>

#include <new>

CAccountHelper::CAccountHelper(LPCWSTR profileName, IMAPISession* session) {
  if (!profileName || !session) return;
  size_t length = wcslen(profileName);
  m_szProfileName.reset(new (std::nothrow) WCHAR[length + 1]);
  if (!m_szProfileName) return;
  wcscpy_s(m_szProfileName.get(), length + 1, profileName);
  // Without its IUnknown the session cannot be handed on: the helper then
  // holds no session.
  if (FAILED(session->QueryInterface(IID_IUnknown, m_sessionPtr.PutAs<void>()))) m_sessionPtr.Reset();
}

STDMETHODIMP CAccountHelper::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_INVALIDARG;
  if (riid == IID_IUnknown || riid == IID_IOlkAccountHelper) {
    *ppv = static_cast<IOlkAccountHelper*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CAccountHelper::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&m_cRef)); }

STDMETHODIMP_(ULONG) CAccountHelper::Release() {
  LONG left = InterlockedDecrement(&m_cRef);
  if (left == 0) delete this;
  return static_cast<ULONG>(left);
}

STDMETHODIMP CAccountHelper::PlaceHolder1(LPVOID) { return E_NOTIMPL; }

STDMETHODIMP CAccountHelper::GetIdentity(LPWSTR pwszIdentity, DWORD* pcch) {
  if (!pwszIdentity || !pcch) return E_INVALIDARG;
  LPCWSTR name = m_szProfileName ? m_szProfileName.get() : TEXT("");
  size_t length = wcslen(name);
  if (length >= *pcch) return E_OUTOFMEMORY;
  wcscpy_s(pwszIdentity, *pcch, name);
  *pcch = static_cast<DWORD>(length);
  return S_OK;
}

STDMETHODIMP CAccountHelper::GetMapiSession(LPUNKNOWN* ppmsess) {
  if (!ppmsess || *ppmsess) return E_INVALIDARG;
  // A helper built without a session has none to give.
  if (!m_sessionPtr) return E_UNEXPECTED;
  return m_sessionPtr->QueryInterface(IID_IMAPISession, reinterpret_cast<void**>(ppmsess));
}

STDMETHODIMP CAccountHelper::HandsOffSession() { return E_NOTIMPL; }
