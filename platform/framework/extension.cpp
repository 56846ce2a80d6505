// Extension modules: the record each module keeps, and the framework's
// process-wide list of CDynLinkLibrary objects.
#include <afx.h>

#include <cstdlib>
#include <mutex>

#include "fwplatform.h"

namespace {

struct ModuleList {
  std::recursive_mutex lock;  // a destructor run by AfxTermExtensionModule takes it again
  CDynLinkLibrary* head = nullptr;
};

ModuleList& Modules() {
  // Never destroyed: modules detach at unload, which may come after the
  // framework's own statics are gone.
  static ModuleList* list = new ModuleList;
  return *list;
}

}  // namespace

BOOL AFXAPI AfxInitExtensionModule(AFX_EXTENSION_MODULE& state, HMODULE hModule) {
  int32_t code;
  if (fw::TakeFault("AfxInitExtensionModule", &code)) {
    SetLastError(static_cast<DWORD>(code));
    return FALSE;
  }
  if (!hModule) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (state.bInitialized) return TRUE;
  state.hModule = hModule;
  state.hResource = hModule;
  state.pFirstSharedClass = nullptr;
  state.pFirstSharedFactory = nullptr;
  state.bInitialized = TRUE;
  return TRUE;
}

void AFXAPI AfxTermExtensionModule(AFX_EXTENSION_MODULE& state, BOOL bAll) {
  if (!state.bInitialized) return;
  ModuleList& list = Modules();
  std::lock_guard<std::recursive_mutex> guard(list.lock);
  for (CDynLinkLibrary* dll = list.head; dll;) {
    CDynLinkLibrary* next = dll->m_pNextDLL;
    if (bAll || dll->m_hModule == state.hModule) delete dll;  // unlinks itself
    dll = next;
  }
}

int AFXAPI AfxGetModuleCount(HMODULE hModule) {
  ModuleList& list = Modules();
  std::lock_guard<std::recursive_mutex> guard(list.lock);
  int count = 0;
  for (CDynLinkLibrary* dll = list.head; dll; dll = dll->m_pNextDLL)
    if (!hModule || dll->m_hModule == hModule) ++count;
  return count;
}

IMPLEMENT_DYNAMIC(CDynLinkLibrary, CCmdTarget)

void* CDynLinkLibrary::operator new(std::size_t size) noexcept {
  int32_t code;
  if (fw::TakeFault("CDynLinkLibrary", &code)) {
    SetLastError(static_cast<DWORD>(code));
    return nullptr;
  }
  void* p = std::malloc(size);
  if (!p) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return p;
}

void CDynLinkLibrary::operator delete(void* p) noexcept { std::free(p); }

CDynLinkLibrary::CDynLinkLibrary(AFX_EXTENSION_MODULE& state, BOOL bSystem)
    : m_hModule(state.hModule),
      m_hResource(state.hResource),
      m_pFirstSharedClass(state.pFirstSharedClass),
      m_bSystem(bSystem),
      m_pNextDLL(nullptr) {
  Register();
}

CDynLinkLibrary::CDynLinkLibrary(HINSTANCE hModule, HINSTANCE hResource)
    : m_hModule(hModule), m_hResource(hResource), m_pFirstSharedClass(nullptr), m_bSystem(FALSE), m_pNextDLL(nullptr) {
  Register();
}

void CDynLinkLibrary::Register() {
  ModuleList& list = Modules();
  std::lock_guard<std::recursive_mutex> guard(list.lock);
  m_pNextDLL = list.head;
  list.head = this;
}

CDynLinkLibrary::~CDynLinkLibrary() {
  ModuleList& list = Modules();
  std::lock_guard<std::recursive_mutex> guard(list.lock);
  for (CDynLinkLibrary** link = &list.head; *link; link = &(*link)->m_pNextDLL) {
    if (*link == this) {
      *link = m_pNextDLL;
      break;
    }
  }
  m_pNextDLL = nullptr;
}
