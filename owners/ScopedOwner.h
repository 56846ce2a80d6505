// One family of scoped owners for everything the platform hands out that must
// be given back: interface references, kernel handles, MAPI buffers and row
// sets. Each owner holds one private value, moves but never copies, and gives
// its slot to an out-parameter only through an explicit call (Put, PutAs), so
// a reader sees where a held object is dropped.
//
// Shared by the platform stand-in, the library and the tools; it names only
// the platform's own API.
#pragma once

#include <windows.h>
#include <unknwn.h>

// Traits: T the held type, Empty() the value that holds nothing, IsValid()
// whether a value must be given back, Free() giving it back.
template <class Traits>
class CScopedOwner {
 public:
  using Value = typename Traits::Value;

  CScopedOwner() = default;
  // Takes over a reference (or handle) the caller already owns.
  explicit CScopedOwner(Value value) : m_value(value) {}
  ~CScopedOwner() { Reset(); }
  CScopedOwner(const CScopedOwner&) = delete;
  CScopedOwner& operator=(const CScopedOwner&) = delete;
  CScopedOwner(CScopedOwner&& other) noexcept : m_value(other.Detach()) {}
  CScopedOwner& operator=(CScopedOwner&& other) noexcept {
    if (this != &other) Reset(other.Detach());
    return *this;
  }

  Value Get() const { return m_value; }
  bool IsSet() const { return Traits::IsValid(m_value); }
  explicit operator bool() const { return IsSet(); }

  // Gives back what is held and holds value instead (nothing by default).
  void Reset(Value value = Traits::Empty()) {
    Value old = m_value;
    m_value = value;
    if (Traits::IsValid(old)) Traits::Free(old);
  }
  // Takes over a value the caller owns, giving back what was held.
  void Attach(Value value) { Reset(value); }
  // Hands what is held to the caller, who owns it from now on.
  [[nodiscard]] Value Detach() {
    Value old = m_value;
    m_value = Traits::Empty();
    return old;
  }
  // For out-parameters: gives back what is held and hands out the empty slot.
  Value* Put() {
    Reset();
    return &m_value;
  }
  // For out-parameters typed as another pointer (IUnknown**, LPVOID*, ...).
  template <class U>
  U** PutAs() {
    Reset();
    return reinterpret_cast<U**>(&m_value);
  }

 private:
  Value m_value = Traits::Empty();
};

// Owners of pointers also reach through them.
template <class Traits>
class CScopedPointer : public CScopedOwner<Traits> {
 public:
  using CScopedOwner<Traits>::CScopedOwner;
  typename Traits::Value operator->() const { return this->Get(); }
};

template <class T>
struct CInterfaceTraits {
  using Value = T*;
  static Value Empty() { return nullptr; }
  static bool IsValid(Value p) { return p != nullptr; }
  static void Free(Value p) { p->Release(); }
};

// One reference to a COM interface.
template <class T>
using CInterfacePtr = CScopedPointer<CInterfaceTraits<T>>;

struct CHandleTraits {
  using Value = HANDLE;
  static Value Empty() { return nullptr; }
  static bool IsValid(Value h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Free(Value h) { CloseHandle(h); }
};

// A kernel object handle (process, thread, mutex, token, file).
using CScopedHandle = CScopedOwner<CHandleTraits>;

struct CRegKeyTraits {
  using Value = HKEY;
  static Value Empty() { return nullptr; }
  static bool IsValid(Value h) { return h != nullptr; }
  static void Free(Value h) { RegCloseKey(h); }
};

// An open registry key (closing a predefined key does nothing).
using CScopedRegKey = CScopedOwner<CRegKeyTraits>;
