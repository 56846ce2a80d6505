// The three progress objects behind the factories of MAPIProgress.h. Each
// reporting class T derives from IMAPIProgressImpl<T>, which implements
// IMAPIProgress (and through it IUnknown) and adds the class's report as the
// ninth virtual slot, OnProgress. There is no virtual destructor, so the slot
// order is exactly: QueryInterface, AddRef, Release, Progress, GetFlags,
// GetMax, GetMin, SetLimits, OnProgress; Release deletes through T, and the
// three classes are final so that this is the whole object.
#pragma once

#include <mapix.h>
#include <windows.h>

#include "MAPIPack/MAPIProgress.h"

template <class T>
class IMAPIProgressImpl : public IMAPIProgress {
 public:
  // Slot 0: only IID_IMAPIProgress and IID_IUnknown are answered.
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IMAPIProgress || riid == IID_IUnknown) {
      *ppv = static_cast<IMAPIProgress*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  // Slot 1.
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_refCount)); }
  // Slot 2: the object is deleted when the count reaches 0.
  STDMETHODIMP_(ULONG) Release() override {
    LONG left = InterlockedDecrement(&m_refCount);
    if (left == 0) delete static_cast<T*>(this);
    return static_cast<ULONG>(left);
  }
  // Slot 3: the MAPI arguments are ignored; one more step is reported.
  STDMETHODIMP Progress(ULONG ulValue, ULONG ulCount, ULONG ulTotal) override {
    ++m_current;
    return OnProgress(m_current, m_max, m_userData);
  }
  // Slots 4 to 7.
  STDMETHODIMP GetFlags(ULONG* lpulFlags) override {
    *lpulFlags = m_flags;
    return S_OK;
  }
  STDMETHODIMP GetMax(ULONG* lpulMax) override {
    *lpulMax = m_max;
    return S_OK;
  }
  STDMETHODIMP GetMin(ULONG* lpulMin) override {
    *lpulMin = m_min;
    return S_OK;
  }
  STDMETHODIMP SetLimits(ULONG* lpulMin, ULONG* lpulMax, ULONG* lpulFlags) override {
    m_flags = *lpulFlags;
    m_max = *lpulMax;
    m_min = *lpulMin;
    m_current = 0;
    return S_OK;
  }
  // Slot 8: the reporting class's report.
  virtual HRESULT OnProgress(ULONG current, ULONG max, void* userData) = 0;

 protected:
  IMAPIProgressImpl() = default;
  ~IMAPIProgressImpl() = default;
  IMAPIProgressImpl(const IMAPIProgressImpl&) = delete;
  IMAPIProgressImpl& operator=(const IMAPIProgressImpl&) = delete;

  // In this order: the layout is part of the contract.
  ULONG m_flags = 0;
  ULONG m_min = 0;
  ULONG m_max = 0;
  ULONG m_current = 0;
  volatile LONG m_refCount = 0;  // objects are created with a count of 0
  void* m_userData = nullptr;
};

// Reports each step to a window as a message, delivered synchronously.
class CMAPIProgressWnd final : public IMAPIProgressImpl<CMAPIProgressWnd> {
 public:
  CMAPIProgressWnd() = default;
  HRESULT OnProgress(ULONG current, ULONG max, void* userData) override;

  HWND m_window = nullptr;
  UINT m_message = 0;

 private:
  friend class IMAPIProgressImpl<CMAPIProgressWnd>;
  friend HRESULT CreateProgressWnd(HWND, UINT, void*, IMAPIProgress**);
  ~CMAPIProgressWnd() = default;
};

// Reports each step to a function of the host; a non-zero answer cancels.
class CMAPIProcessMethod final : public IMAPIProgressImpl<CMAPIProcessMethod> {
 public:
  CMAPIProcessMethod() = default;
  HRESULT OnProgress(ULONG current, ULONG max, void* userData) override;

  LPPROGRESSCALLBACK m_callback = nullptr;

 private:
  friend class IMAPIProgressImpl<CMAPIProcessMethod>;
  friend HRESULT CreateProcessMethod(LPPROGRESSCALLBACK, void*, IMAPIProgress**);
  ~CMAPIProcessMethod() = default;
};

// Reports nothing and never cancels.
class MAPIProcessDumb final : public IMAPIProgressImpl<MAPIProcessDumb> {
 public:
  MAPIProcessDumb() = default;
  HRESULT OnProgress(ULONG current, ULONG max, void* userData) override;

 private:
  friend class IMAPIProgressImpl<MAPIProcessDumb>;
  friend HRESULT CreateProcessDumb(IMAPIProgress**);
  ~MAPIProcessDumb() = default;
};
