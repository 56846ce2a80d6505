// Module handles and exported functions. A module handle is the load address of
// a shared object (or of the executable), so GetModuleFileNameW can name it.
#include <dlfcn.h>
#include <link.h>

#include <algorithm>
#include <cstring>

#include "handles.h"
#include "internal.h"
#include "kernel.h"

using namespace standin;

namespace {

void Anchor() {}

struct LoadedObject {
  std::string path;  // empty for the executable
  void* base = nullptr;
};

// Every object of the process, the executable first.
std::vector<LoadedObject> LoadedObjects() {
  std::vector<LoadedObject> objects;
  dl_iterate_phdr(
      [](struct dl_phdr_info* info, size_t, void* data) {
        auto* out = static_cast<std::vector<LoadedObject>*>(data);
        ElfW(Addr) lowest = ~ElfW(Addr)(0);
        for (int i = 0; i < info->dlpi_phnum; ++i)
          if (info->dlpi_phdr[i].p_type == PT_LOAD) lowest = std::min(lowest, info->dlpi_phdr[i].p_vaddr);
        if (lowest == ~ElfW(Addr)(0)) return 0;
        // The first segment maps the file's start: the address dladdr reports as its base.
        void* base = reinterpret_cast<void*>((info->dlpi_addr + lowest) & ~ElfW(Addr)(0xFFF));
        out->push_back({info->dlpi_name ? info->dlpi_name : "", base});
        return 0;
      },
      &objects);
  return objects;
}

void* ExecutableBase() {
  auto objects = LoadedObjects();
  return objects.empty() ? nullptr : objects.front().base;
}

// The stand-in's shared object: kernel32 and its sibling modules.
void* PlatformBase() {
  Dl_info info{};
  return dladdr(reinterpret_cast<void*>(&Anchor), &info) ? info.dli_fbase : nullptr;
}

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// "C:\x\Kernel32.DLL" -> "kernel32"; "/x/libcorvane.so.1" -> "corvane".
std::string ModuleKey(std::string name, bool sharedObject) {
  size_t slash = name.find_last_of(sharedObject ? "/" : "\\/:");
  if (slash != std::string::npos) name.erase(0, slash + 1);
  name = Lower(name);
  if (sharedObject) {
    if (name.rfind("lib", 0) == 0) name.erase(0, 3);
    if (size_t so = name.find(".so"); so != std::string::npos) name.resize(so);
  } else if (name.size() > 4 && name.compare(name.size() - 4, 4, ".dll") == 0) {
    name.resize(name.size() - 4);
  } else if (!name.empty() && name.back() == '.') {
    name.pop_back();  // "name." means no extension
  }
  return name;
}

const char* const kPlatformModules[] = {"kernel32", "kernelbase", "advapi32", "user32", "shell32", "shlwapi"};

// dlopen handle of the object loaded at base (null for none); close with dlclose.
void* OpenLoaded(void* base) {
  if (base == ExecutableBase()) return dlopen(nullptr, RTLD_LAZY);
  for (const LoadedObject& object : LoadedObjects())
    if (object.base == base && !object.path.empty()) return dlopen(object.path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
  return nullptr;
}

}  // namespace

extern "C" {

HMODULE WINAPI GetModuleHandleW(LPCWSTR name) {
  if (FaultedWithLastError("GetModuleHandleW")) return nullptr;
  if (!name) return static_cast<HMODULE>(ExecutableBase());
  std::string key = ModuleKey(ToUtf8(name), false);
  for (const char* known : kPlatformModules)
    if (key == known) return static_cast<HMODULE>(PlatformBase());
  for (const LoadedObject& object : LoadedObjects())
    if (!object.path.empty() && ModuleKey(object.path, true) == key) return static_cast<HMODULE>(object.base);
  return Fail(ERROR_MOD_NOT_FOUND), nullptr;
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name) {
  if (FaultedWithLastError("GetProcAddress")) return nullptr;
  // Ordinals (values below 0x10000) are not kept.
  if (!name || (reinterpret_cast<uintptr_t>(name) >> 16) == 0) return Fail(ERROR_PROC_NOT_FOUND), nullptr;
  void* base = module ? static_cast<void*>(module) : ExecutableBase();
  if (base == PlatformBase() && std::strcmp(name, "IsWow64Process") == 0 &&
      MachineSetting("wow64", "0") == "absent")
    return Fail(ERROR_PROC_NOT_FOUND), nullptr;
  void* handle = OpenLoaded(base);
  if (!handle) return Fail(ERROR_MOD_NOT_FOUND), nullptr;
  void* symbol = dlsym(handle, name);
  dlclose(handle);
  // dlsym also searches the object's dependencies; only the module's own exports count.
  Dl_info info{};
  if (!symbol || !dladdr(symbol, &info) || info.dli_fbase != base) return Fail(ERROR_PROC_NOT_FOUND), nullptr;
  return reinterpret_cast<FARPROC>(symbol);
}

BOOL WINAPI IsWow64Process(HANDLE process, PBOOL wow64) {
  if (FaultedWithLastError("IsWow64Process")) return FALSE;
  if (!wow64) return Fail(ERROR_INVALID_PARAMETER);
  // Every process of the machine runs the same way: the question is the machine's.
  if (process != GetCurrentProcess() && !LookupChildProcess(process)) return FALSE;
  *wow64 = MachineSetting("wow64", "0") == "1" ? TRUE : FALSE;
  return TRUE;
}

}  // extern "C"
