// The library's load-time entry: registers the library with the application
// framework and reads the log settings, once per process.
#include <afxdllx.h>

#include "support/Log.h"

namespace {
AFX_EXTENSION_MODULE g_corvaneModule = {FALSE, nullptr};
CDynLinkLibrary* g_pDynLinkLibrary = nullptr;
}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID lpReserved) {
  UNREFERENCED_PARAMETER(lpReserved);
  if (dwReason == DLL_PROCESS_ATTACH) {
    if (!AfxInitExtensionModule(g_corvaneModule, hInstance)) return FALSE;
    // The library still loads when its framework object cannot be made.
    g_pDynLinkLibrary = new CDynLinkLibrary(g_corvaneModule);
    LoadLogSettings();
  } else if (dwReason == DLL_PROCESS_DETACH) {
    delete g_pDynLinkLibrary;
    g_pDynLinkLibrary = nullptr;
    AfxTermExtensionModule(g_corvaneModule);
  }
  return TRUE;
}
