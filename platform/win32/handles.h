// Kernel objects behind HANDLE values: one table per process. A handle keeps its
// object alive; CloseHandle drops that reference.
#pragma once

#include <memory>

#include <windows.h>

namespace standin {

class KernelObject {
 public:
  virtual ~KernelObject() = default;
  // WaitForSingleObject on this object. Objects that cannot be waited on fail.
  virtual DWORD Wait(DWORD ms);
  // Called when a handle to the object is closed (the object may live on).
  virtual void OnHandleClosed() {}
};

HANDLE NewHandle(std::shared_ptr<KernelObject> object);
// Null (and ERROR_INVALID_HANDLE as last error) for an unknown handle.
std::shared_ptr<KernelObject> LookupHandle(HANDLE h);
template <class T>
std::shared_ptr<T> LookupHandleAs(HANDLE h) {
  auto object = std::dynamic_pointer_cast<T>(LookupHandle(h));
  if (!object) SetLastError(ERROR_INVALID_HANDLE);
  return object;
}

}  // namespace standin
