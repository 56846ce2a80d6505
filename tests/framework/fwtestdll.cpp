// A test-only extension module. It links the load-time entry last, as every
// stand-in DLL does, and tells the debugger output what its DllMain sees, so
// that the framework tests can load and unload it and check the calls.
//
// FWTESTDLL_REFUSE in the environment makes DllMain refuse DLL_PROCESS_ATTACH.
#include <afxdllx.h>

#include <cstdlib>

namespace {

AFX_EXTENSION_MODULE g_module = {FALSE, nullptr, nullptr, nullptr, nullptr};
HINSTANCE g_instance = nullptr;
// Built by the module's static initialisation, which must come before DllMain.
const CString g_ready(u"statics ready");

class CTestDllObject : public CCmdTarget {
  DECLARE_DYNAMIC(CTestDllObject)
};
IMPLEMENT_DYNAMIC(CTestDllObject, CCmdTarget)

void Say(LPCWSTR what, HINSTANCE hInstance) {
  WCHAR path[MAX_PATH];
  if (!GetModuleFileNameW(hInstance, path, MAX_PATH)) path[0] = 0;
  bool ready = g_ready.GetString() != nullptr && g_ready == u"statics ready";
  CString line;
  line.Format(u"fwtestdll: %s %s statics=%s\n", what, path, ready ? u"ready" : u"missing");
  OutputDebugStringW(line);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_instance = hInstance;
    Say(u"attach", hInstance);
    if (std::getenv("FWTESTDLL_REFUSE")) return FALSE;
    if (!AfxInitExtensionModule(g_module, hInstance)) return FALSE;
    if (!new CDynLinkLibrary(g_module)) {
      OutputDebugStringW(u"fwtestdll: no CDynLinkLibrary\n");
      return FALSE;
    }
  } else if (reason == DLL_PROCESS_DETACH) {
    Say(u"detach", hInstance);
    AfxTermExtensionModule(g_module);
  }
  return TRUE;
}

extern "C" STANDIN_API HINSTANCE FwTestDllInstance() { return g_instance; }

// A CString made, grown and handed out by this module's own code (through a
// parameter: a C export returns no class).
extern "C" STANDIN_API void FwTestDllDecorate(const CString& text, CString& out) {
  out = u"<";
  out += text;
  out.AppendFormat(u"|%d>", text.GetLength());
  out.MakeUpper();
}

extern "C" STANDIN_API CObject* FwTestDllNewObject() { return new CTestDllObject; }
