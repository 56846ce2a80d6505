#include "handles.h"

#include <map>
#include <mutex>

#include <standin/fault.h>

namespace standin {
namespace {

struct HandleTable {
  std::mutex lock;
  std::map<uintptr_t, std::shared_ptr<KernelObject>> objects;
  uintptr_t next = 0x100;
};

HandleTable& Table() {
  static HandleTable* table = new HandleTable;  // lives until exit; handles may outlive statics
  return *table;
}

}  // namespace

DWORD KernelObject::Wait(DWORD) {
  SetLastError(ERROR_INVALID_HANDLE);
  return WAIT_FAILED;
}

HANDLE NewHandle(std::shared_ptr<KernelObject> object) {
  HandleTable& t = Table();
  std::lock_guard<std::mutex> guard(t.lock);
  uintptr_t value = t.next;
  t.next += 4;
  t.objects.emplace(value, std::move(object));
  return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> LookupHandle(HANDLE h) {
  HandleTable& t = Table();
  std::lock_guard<std::mutex> guard(t.lock);
  auto it = t.objects.find(reinterpret_cast<uintptr_t>(h));
  if (it == t.objects.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return it->second;
}

}  // namespace standin

using namespace standin;

extern "C" {

BOOL WINAPI CloseHandle(HANDLE h) {
  int32_t code;
  if (TakeFault("CloseHandle", &code)) {
    SetLastError(static_cast<DWORD>(code));
    return FALSE;
  }
  std::shared_ptr<KernelObject> object;
  {
    HandleTable& t = Table();
    std::lock_guard<std::mutex> guard(t.lock);
    auto it = t.objects.find(reinterpret_cast<uintptr_t>(h));
    if (it == t.objects.end()) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    object = std::move(it->second);
    t.objects.erase(it);
  }
  object->OnHandleClosed();
  return TRUE;
}

BOOL WINAPI DuplicateHandle(HANDLE srcProcess, HANDLE src, HANDLE dstProcess, LPHANDLE dst, DWORD access,
                            BOOL inherit, DWORD options) {
  if (!dst) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto object = LookupHandle(src);
  if (!object) return FALSE;
  *dst = NewHandle(std::move(object));
  return TRUE;
}

DWORD WINAPI WaitForSingleObject(HANDLE h, DWORD ms) {
  int32_t code;
  if (TakeFault("WaitForSingleObject", &code)) {
    if (static_cast<DWORD>(code) == WAIT_FAILED) SetLastError(ERROR_INVALID_HANDLE);
    return static_cast<DWORD>(code);
  }
  auto object = LookupHandle(h);
  if (!object) return WAIT_FAILED;
  return object->Wait(ms);
}

}  // extern "C"
