// Apartments: which threads of the process have entered COM, and how.
#include <objbase.h>

#include <atomic>

#include <standin/fault.h>

#include "com.h"

namespace {

// Threads inside any apartment, and inside the multithreaded one.
std::atomic<long> g_apartmentThreads{0};
std::atomic<long> g_mtaThreads{0};

class ThreadApartment {
 public:
  ~ThreadApartment() {
    // A thread that ends without leaving its apartment leaves it now.
    if (entries_ > 0) Leave();
  }
  ULONG entries() const { return entries_; }
  DWORD model() const { return model_; }

  void Enter(DWORD model) {
    entries_ = 1;
    model_ = model;
    ++g_apartmentThreads;
    if (model == COINIT_MULTITHREADED) ++g_mtaThreads;
  }
  void EnterAgain() { ++entries_; }
  void LeaveOnce() {
    if (--entries_ == 0) Leave();
  }

 private:
  void Leave() {
    entries_ = 0;
    if (model_ == COINIT_MULTITHREADED) --g_mtaThreads;
    if (--g_apartmentThreads == 0) standin::com::ReleaseUnusedServers();
  }

  ULONG entries_ = 0;
  DWORD model_ = COINIT_MULTITHREADED;
};

thread_local ThreadApartment t_apartment;

constexpr DWORD kKnownFlags = COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE | COINIT_SPEED_OVER_MEMORY;

HRESULT Initialize(LPVOID reserved, DWORD coInit) {
  if (reserved || (coInit & ~kKnownFlags)) return E_INVALIDARG;
  const DWORD model = coInit & COINIT_APARTMENTTHREADED;
  if (t_apartment.entries() == 0) {
    t_apartment.Enter(model);
    return S_OK;
  }
  if (t_apartment.model() != model) return RPC_E_CHANGED_MODE;
  t_apartment.EnterAgain();
  return S_FALSE;
}

}  // namespace

namespace standin::com {

bool CanUseCom() { return t_apartment.entries() > 0 || g_mtaThreads > 0; }

}  // namespace standin::com

extern "C" {

HRESULT STDAPICALLTYPE CoInitialize(LPVOID pvReserved) {
  STANDIN_FAULT_POINT("CoInitialize");
  return Initialize(pvReserved, COINIT_APARTMENTTHREADED);
}

HRESULT STDAPICALLTYPE CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit) {
  STANDIN_FAULT_POINT("CoInitializeEx");
  return Initialize(pvReserved, dwCoInit);
}

void STDAPICALLTYPE CoUninitialize(void) {
  int32_t ignored = 0;
  standin::TakeFault("CoUninitialize", &ignored);  // counted; there is no result to fail
  if (t_apartment.entries() > 0) t_apartment.LeaveOnce();
}

}  // extern "C"
