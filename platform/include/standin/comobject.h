// Reference counting and QueryInterface for the stand-in's COM objects, shared
// by MAPI and the in-process servers. Internal to the stand-in; the library
// implements its own objects.
#pragma once

#include <atomic>

#include "../unknwn.h"

namespace standin {

// An object that implements one interface chain (IMAPIFolder: IMAPIContainer:
// IMAPIProp: IUnknown). Derived classes list the identifiers they answer, other
// than IUnknown, in Supports(). It is born with one reference, the creator's.
template <class Interface>
class ComObject : public Interface {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid != IID_IUnknown && !Supports(riid)) return E_NOINTERFACE;
    this->AddRef();
    *ppv = static_cast<Interface*>(this);
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override {
    ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

 protected:
  ComObject() = default;
  virtual ~ComObject() = default;
  virtual bool Supports(REFIID riid) const = 0;

 private:
  std::atomic<ULONG> refs_{1};
};

}  // namespace standin
