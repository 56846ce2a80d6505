// Scoped owner of a kernel handle: closed on every way out of the scope.
#pragma once

#include <windows.h>

class CScopedHandle {
 public:
  CScopedHandle() = default;
  explicit CScopedHandle(HANDLE h) : m_h(h) {}
  ~CScopedHandle() { Close(); }
  CScopedHandle(const CScopedHandle&) = delete;
  CScopedHandle& operator=(const CScopedHandle&) = delete;

  HANDLE Get() const { return m_h; }
  bool IsValid() const { return m_h != nullptr && m_h != INVALID_HANDLE_VALUE; }
  // For out-parameters: drops what is held and hands out the slot.
  HANDLE* Put() {
    Close();
    return &m_h;
  }
  void Close() {
    if (IsValid()) CloseHandle(m_h);
    m_h = nullptr;
  }

 private:
  HANDLE m_h = nullptr;
};
