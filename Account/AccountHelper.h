// What the mail client's account manager asks of its client: the profile whose
// accounts it manages, and a MAPI session logged on to that profile.
#pragma once

#include <mapix.h>
#include <windows.h>

#include <memory>

#include "owners/ScopedOwner.h"
#include "support/PlatformExtras.h"

// Born with one reference, its maker's; the last Release destroys it. There is
// no virtual destructor, so the slots are exactly those of IOlkAccountHelper.
class CAccountHelper final : public IOlkAccountHelper {
 public:
  // Without a profile name or a session the helper holds neither.
  CAccountHelper(LPCWSTR profileName, IMAPISession* session);
  CAccountHelper(const CAccountHelper&) = delete;
  CAccountHelper& operator=(const CAccountHelper&) = delete;

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP PlaceHolder1(LPVOID) override;
  STDMETHODIMP GetIdentity(LPWSTR pwszIdentity, DWORD* pcch) override;
  STDMETHODIMP GetMapiSession(LPUNKNOWN* ppmsess) override;
  STDMETHODIMP HandsOffSession() override;

 private:
  ~CAccountHelper() = default;

  LONG m_cRef = 1;
  CInterfacePtr<IUnknown> m_sessionPtr;
  std::unique_ptr<WCHAR[]> m_szProfileName;
};
