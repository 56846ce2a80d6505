// COM's root interface, with the platform's reference counting rules: every
// interface handed out carries one reference that its receiver releases.
#pragma once

#include "windows.h"

#define STDMETHOD(method) virtual HRESULT STDMETHODCALLTYPE method
#define STDMETHOD_(type, method) virtual type STDMETHODCALLTYPE method
#define STDMETHODIMP HRESULT STDMETHODCALLTYPE
#define STDMETHODIMP_(type) type STDMETHODCALLTYPE
#define PURE = 0

// The platform's well-known interface identifiers: {l-0-0-C000-000000000046}.
#define DEFINE_OLEGUID(name, l, w1, w2) \
  inline constexpr GUID name = {l, w1, w2, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}}
#define DEFINE_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
  inline constexpr GUID name = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}

DEFINE_OLEGUID(IID_IUnknown, 0x00000000, 0, 0);

struct IUnknown {
  STDMETHOD(QueryInterface)(REFIID riid, void** ppvObject) PURE;
  STDMETHOD_(ULONG, AddRef)() PURE;
  STDMETHOD_(ULONG, Release)() PURE;

 protected:
  ~IUnknown() = default;  // objects go through Release
};
typedef IUnknown* LPUNKNOWN;

DEFINE_OLEGUID(IID_IClassFactory, 0x00000001, 0, 0);

// The class object of an in-process server: makes the class's objects.
struct IClassFactory : public IUnknown {
  STDMETHOD(CreateInstance)(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) PURE;
  STDMETHOD(LockServer)(BOOL fLock) PURE;
};
typedef IClassFactory* LPCLASSFACTORY;
