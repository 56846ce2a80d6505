// The load-time entry linked into every stand-in DLL: the counterpart of the
// platform's run-time start-up code, which calls the module's own DllMain with
// DLL_PROCESS_ATTACH when the shared object is loaded and DLL_PROCESS_DETACH
// when it is unloaded.
//
// LINK THIS OBJECT LAST. The constructors of one shared object run in the order
// of its link line, so placed last the entry runs after the module's own static
// initialisation, as on the platform, where the run-time library initialises
// the module's statics before it calls DllMain. (A constructor priority would
// not do: prioritised constructors run before the ordinary ones.) At unload the
// entry's destructor runs first, before the module's statics are destroyed.
//
// Where this differs from the platform, because it cannot be helped here:
// - A shared object cannot refuse to load. When DllMain returns FALSE for
//   DLL_PROCESS_ATTACH, one line goes to the debugger output and DllMain is
//   called at once with DLL_PROCESS_DETACH (as the platform does before it
//   unloads a refusing DLL); the object stays loaded, and gets no second
//   DLL_PROCESS_DETACH at unload.
// - DLL_THREAD_ATTACH and DLL_THREAD_DETACH are not delivered, and lpReserved
//   is always null.
// - The module's HINSTANCE is its load address (its ELF header), so
//   GetModuleFileNameW(hInstance) names the shared object's file.
#include <windows.h>

// The module's own entry. Weak: a module without one gets the run-time
// library's default, which does nothing and succeeds. Hidden: the call must
// reach this module's DllMain, never another module's.
extern "C" __attribute__((weak, visibility("hidden"))) BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD reason,
                                                                           LPVOID reserved);

// Defined by the linker at the start of the mapped ELF header of this object.
extern "C" __attribute__((weak, visibility("hidden"))) const char __ehdr_start[];

namespace {

bool g_attached = false;

HINSTANCE ThisModule() {
  const void* base = __ehdr_start;
  if (!base) base = &g_attached;  // any address inside the module names it
  return reinterpret_cast<HINSTANCE>(const_cast<void*>(base));
}

void ReportRefusal(HINSTANCE self) {
  WCHAR path[MAX_PATH];
  DWORD n = GetModuleFileNameW(self, path, MAX_PATH);
  WCHAR line[MAX_PATH + 160];
  _snwprintf_s(line, _TRUNCATE,
               u"DllMain of %s returned FALSE for DLL_PROCESS_ATTACH; the module stays loaded, as a shared object "
               u"cannot refuse to load here\n",
               n ? path : u"(unknown module)");
  OutputDebugStringW(line);
}

__attribute__((constructor)) void AttachModule() {
  if (!DllMain) {
    g_attached = true;
    return;
  }
  HINSTANCE self = ThisModule();
  if (DllMain(self, DLL_PROCESS_ATTACH, nullptr)) {
    g_attached = true;
    return;
  }
  ReportRefusal(self);
  DllMain(self, DLL_PROCESS_DETACH, nullptr);
}

__attribute__((destructor)) void DetachModule() {
  if (!g_attached) return;
  g_attached = false;
  if (DllMain) DllMain(ThisModule(), DLL_PROCESS_DETACH, nullptr);
}

}  // namespace
