// Module handles and exported functions. A module handle is the load address of
// a shared object (or of the executable), so GetModuleFileNameW can name it.
#include <dlfcn.h>
#include <link.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>

#include "handles.h"
#include "internal.h"
#include "kernel.h"

using namespace standin;

namespace {

void Anchor() {}

struct LoadedObject {
  std::string path;  // empty for the executable
  void* base = nullptr;
  ElfW(Addr) bias = 0;  // the load bias the dynamic linker reports for it
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
        out->push_back({info->dlpi_name ? info->dlpi_name : "", base, info->dlpi_addr});
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

// The modules LoadLibraryW loaded: per load address, one dlopen handle for
// each load not yet given back.
struct LoadTable {
  std::mutex lock;
  std::map<void*, std::vector<void*>> handles;
};

LoadTable& Loads() {
  static LoadTable* table = new LoadTable;
  return *table;
}

// The load address of the object behind a dlopen handle.
void* BaseOfHandle(void* handle) {
  struct link_map* map = nullptr;
  if (dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0 || !map) return nullptr;
  for (const LoadedObject& object : LoadedObjects())
    if (object.bias == map->l_addr && object.path == (map->l_name ? map->l_name : "")) return object.base;
  return nullptr;
}

// The file a LoadLibraryW name stands for; false with the last error set.
bool FindModuleFile(std::u16string_view name, std::string* path) {
  if (name.find_first_of(u"\\/:") == std::u16string_view::npos) {
    // A module loaded under that name is the one meant.
    std::string key = ModuleKey(ToUtf8(name), false);
    void* platform = PlatformBase();
    for (const LoadedObject& object : LoadedObjects()) {
      if (object.path.empty()) continue;
      bool platformModule = object.base == platform &&
                            std::any_of(std::begin(kPlatformModules), std::end(kPlatformModules),
                                        [&](const char* known) { return key == known; });
      if (platformModule || ModuleKey(object.path, true) == key) {
        *path = object.path;
        return true;
      }
    }
  }
  if (FindProgram(name, true, path)) return true;
  DWORD error = GetLastError();
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) SetLastError(ERROR_MOD_NOT_FOUND);
  return false;
}

// Whether the file starts as an ELF object does; false with the last error set.
bool LooksLikeModule(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Fail(errno == ENOENT || errno == ENOTDIR ? ERROR_MOD_NOT_FOUND : ErrorFromErrno(errno));
  char head[4] = {};
  ssize_t n = read(fd, head, sizeof head);
  close(fd);
  if (n != 4 || std::memcmp(head, "\x7f" "ELF", 4) != 0) return Fail(ERROR_BAD_EXE_FORMAT);
  return true;
}

// The Win32 error for a failed dlopen of a file that exists.
DWORD LoadError(const char* text) {
  std::string why = text ? text : "";
  if (why.find("undefined symbol") != std::string::npos) return ERROR_PROC_NOT_FOUND;
  if (why.find("No such file") != std::string::npos) return ERROR_MOD_NOT_FOUND;  // a library it needs
  return ERROR_BAD_EXE_FORMAT;
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

HMODULE WINAPI LoadLibraryExW(LPCWSTR name, HANDLE file, DWORD flags) {
  if (FaultedWithLastError("LoadLibraryExW")) return nullptr;
  if (file || (flags & ~static_cast<DWORD>(LOAD_WITH_ALTERED_SEARCH_PATH))) return Fail(ERROR_INVALID_PARAMETER), nullptr;
  return LoadLibraryW(name);
}

HMODULE WINAPI LoadLibraryW(LPCWSTR name) {
  if (FaultedWithLastError("LoadLibraryW")) return nullptr;
  if (!name) return Fail(ERROR_INVALID_PARAMETER), nullptr;
  std::string path;
  if (!FindModuleFile(name, &path)) return nullptr;
  struct stat st {};
  if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return Fail(ERROR_ACCESS_DENIED), nullptr;
  if (!LooksLikeModule(path)) return nullptr;
  // The module's own load code runs here: no lock of ours is held.
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) return Fail(LoadError(dlerror())), nullptr;
  void* base = BaseOfHandle(handle);
  if (!base) {
    dlclose(handle);
    return Fail(ERROR_BAD_EXE_FORMAT), nullptr;
  }
  LoadTable& t = Loads();
  {
    std::lock_guard<std::mutex> guard(t.lock);
    t.handles[base].push_back(handle);
  }
  SetLastError(ERROR_SUCCESS);
  return static_cast<HMODULE>(base);
}

BOOL WINAPI FreeLibrary(HMODULE module) {
  if (FaultedWithLastError("FreeLibrary")) return FALSE;
  LoadTable& t = Loads();
  std::unique_lock<std::mutex> guard(t.lock);
  auto it = t.handles.find(module);
  if (it == t.handles.end()) {
    guard.unlock();
    // The modules the process started with are never unloaded.
    const auto objects = LoadedObjects();
    bool known = std::any_of(objects.begin(), objects.end(), [&](const LoadedObject& o) { return o.base == module; });
    return known ? TRUE : Fail(ERROR_MOD_NOT_FOUND);
  }
  void* handle = it->second.back();
  it->second.pop_back();
  if (it->second.empty()) t.handles.erase(it);
  guard.unlock();
  // The module's own unload code runs here: no lock of ours is held.
  dlclose(handle);
  return TRUE;
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
