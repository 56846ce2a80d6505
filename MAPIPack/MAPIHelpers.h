// What every unit of the MAPI layer shares: scoped owners for interfaces, row
// sets and MAPI buffers, the call chain that logs failed steps and skips the
// rest, the copy result codes and the fixed profile name.
#pragma once

#include <mapix.h>
#include <mapiutil.h>
#include <windows.h>

#include "support/Log.h"

// Copy results shared by the folder copy, the merges, backup and synchronise.
#define COPY_SUCCEEDED 0
#define COPY_CANCELLED (-1)
#define COPY_SETUP_FAILED 1
#define COPY_FAILED 112

// The profile that attach, the default-store operations and the service
// inspection always work on.
#define OUTLOOK_PROFILE_NAME TEXT("Outlook")

// The low 16 bits of a result code, as the operations report a failed call.
inline int HResultCode(HRESULT hr) { return static_cast<int>(static_cast<ULONG>(hr) & 0xFFFF); }
// 0 for a call that did not fail, else its low 16 bits.
inline int FailureCode(HRESULT hr) { return FAILED(hr) ? HResultCode(hr) : 0; }

// A call that reports success but hands back no object counts as failed. The
// object is taken by reference: it is read only after the call has filled it.
template <class T>
HRESULT Obtained(HRESULT hr, T* const& object) {
  return (!FAILED(hr) && !object) ? MAPI_E_CALL_FAILED : hr;
}

// A counted column set as the table calls take it.
template <class T>
LPSPropTagArray Tags(T& columns) {
  return reinterpret_cast<LPSPropTagArray>(&columns);
}

// The 16-byte UID of a row's binary column, or null.
inline LPMAPIUID UidOf(const SRow& row, ULONG column) {
  if (!row.lpProps || column >= row.cValues) return nullptr;
  const SPropValue& value = row.lpProps[column];
  if (PROP_TYPE(value.ulPropTag) != PT_BINARY || value.Value.bin.cb < sizeof(MAPIUID) || !value.Value.bin.lpb)
    return nullptr;
  return reinterpret_cast<LPMAPIUID>(value.Value.bin.lpb);
}

// The entry identifier of a row, or null when the row has none of type
// binary (a provider reports a missing one as an error value).
inline const SBinary* RowEntryID(const SRow& row, ULONG column) {
  if (!row.lpProps || column >= row.cValues || row.lpProps[column].ulPropTag != PR_ENTRYID) return nullptr;
  return &row.lpProps[column].Value.bin;
}

// One reference to a COM interface, released on every way out of the scope.
// The member is named p so that call texts read as the code does.
template <class T>
class CMapiPtr {
 public:
  CMapiPtr() = default;
  explicit CMapiPtr(T* q) : p(q) {}  // takes over the caller's reference
  ~CMapiPtr() { Release(); }
  CMapiPtr(const CMapiPtr&) = delete;
  CMapiPtr& operator=(const CMapiPtr&) = delete;

  void Release() {
    if (p) {
      T* q = p;
      p = nullptr;
      q->Release();
    }
  }
  // For out-parameters: drops what is held and hands out the slot.
  T** operator&() {
    Release();
    return &p;
  }
  // For out-parameters typed as IUnknown**.
  IUnknown** PutUnknown() {
    Release();
    return reinterpret_cast<IUnknown**>(&p);
  }
  T* operator->() const { return p; }
  operator T*() const { return p; }
  T* Detach() {
    T* q = p;
    p = nullptr;
    return q;
  }

  T* p = nullptr;
};

// A row set from HrQueryAllRows or QueryRows, freed with FreeProws.
class CRowSetPtr {
 public:
  CRowSetPtr() = default;
  ~CRowSetPtr() { Free(); }
  CRowSetPtr(const CRowSetPtr&) = delete;
  CRowSetPtr& operator=(const CRowSetPtr&) = delete;

  void Free() {
    if (p) FreeProws(p);
    p = nullptr;
  }
  LPSRowSet* operator&() {
    Free();
    return &p;
  }
  LPSRowSet operator->() const { return p; }
  operator LPSRowSet() const { return p; }
  ULONG Count() const { return p ? p->cRows : 0; }

  LPSRowSet p = nullptr;
};

// A block from the MAPI allocator (a property value, an entry identifier),
// freed with MAPIFreeBuffer.
template <class T>
class CMapiBuffer {
 public:
  CMapiBuffer() = default;
  ~CMapiBuffer() { Free(); }
  CMapiBuffer(const CMapiBuffer&) = delete;
  CMapiBuffer& operator=(const CMapiBuffer&) = delete;

  void Free() {
    if (p) MAPIFreeBuffer(p);
    p = nullptr;
  }
  T** operator&() {
    Free();
    return &p;
  }
  T* operator->() const { return p; }
  operator T*() const { return p; }

  T* p = nullptr;
};

// A chain of MAPI calls: a step whose result is not exactly zero is logged with
// its call text and source position; once a step has returned a negative code,
// every later step is not run and is logged with the skip notice instead.
// Warnings are logged but do not stop the chain.
class CHResultChain {
 public:
  explicit CHResultChain(LPCWSTR unit) : m_unit(unit) {}

  template <class Call>
  HRESULT Step(LPCWSTR callText, int line, Call&& call) {
    if (FAILED(m_hr)) {
      LogSkippedStep(callText, m_hr);
      return m_hr;
    }
    m_hr = call();
    CheckHResult(m_hr, callText, m_unit, line);
    return m_hr;
  }
  HRESULT Result() const { return m_hr; }
  bool Failed() const { return FAILED(m_hr); }

 private:
  LPCWSTR m_unit;
  HRESULT m_hr = S_OK;
};
