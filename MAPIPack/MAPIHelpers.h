// What every unit of the MAPI layer shares: scoped owners for interfaces, row
// sets and MAPI buffers, the call chain that logs failed steps and skips the
// rest, the copy result codes and the fixed profile name.
#pragma once

#include <mapiutil.h>
#include <mapix.h>
#include <windows.h>

#include "owners/MapiOwners.h"
#include "support/PlatformExtras.h"
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
// owner is read only after the call has filled it.
template <class Owner>
HRESULT Obtained(HRESULT hr, const Owner& object) {
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

// A chain of MAPI calls: a step whose result is not exactly zero is logged with
// its call text and source position; once a step has returned a negative code,
// every later step is not run and is logged with the skip notice instead.
// Warnings are logged but do not stop the chain. A quiet chain logs nothing:
// it is for the scans whose failures the system reports in words of its own.
class CHResultChain {
 public:
  enum Logging { kLogged, kQuiet };
  explicit CHResultChain(LPCWSTR unit, Logging logging = kLogged) : m_unit(unit), m_logged(logging == kLogged) {}

  template <class Call>
  HRESULT Step(LPCWSTR callText, int line, Call&& call) {
    if (FAILED(m_hr)) {
      if (m_logged) LogSkippedStep(callText, m_hr);
      return m_hr;
    }
    m_hr = call();
    if (m_logged) CheckHResult(m_hr, callText, m_unit, line);
    return m_hr;
  }
  HRESULT Result() const { return m_hr; }
  bool Failed() const { return FAILED(m_hr); }

 private:
  LPCWSTR m_unit;
  bool m_logged;
  HRESULT m_hr = S_OK;
};

// A step of a chain, written as the call text the log gives it beside the call
// itself. Where the system fixes a call text it is kept exactly, even where
// the code's own spelling of the call differs (owners instead of raw
// pointers, named flags instead of numbers).
#define CHAIN_STEP(chain, text, call) (chain).Step(TEXT(text), __LINE__, [&]() -> HRESULT { return (call); })
// The same at a source position that the log vocabulary fixes.
#define CHAIN_STEP_AT(chain, line, text, call) (chain).Step(TEXT(text), (line), [&]() -> HRESULT { return (call); })
// A step that hands back an object into owner: success without one fails.
#define CHAIN_OBTAIN(chain, text, owner, call) \
  (chain).Step(TEXT(text), __LINE__, [&]() -> HRESULT { return Obtained((call), (owner)); })

// Profile sections are opened for writing, whoever else has them open.
constexpr ULONG kProfileSectionFlags = MAPI_MODIFY | MAPI_FORCE_ACCESS;

// The calls that open a service's first provider section, with the texts the
// unit's log gives them.
struct CProviderSectionCalls {
  LPCWSTR providerTable;  // IProviderAdmin::GetProviderTable
  LPCWSTR providerRows;   // HrQueryAllRows of the provider UIDs
  LPCWSTR openSection;    // IMsgServiceAdmin::OpenProfileSection
};
// Reads the providers of a service as steps of chain into rows; the UID of the
// first one, or null. *listed tells whether the table was read and listed any.
LPMAPIUID FirstProviderUid(CHResultChain& chain, int line, const CProviderSectionCalls& calls,
                           IProviderAdmin* providers, CRowSet& rows, bool* listed);
// The step that opens a provider's profile section; no UID fails it.
HRESULT OpenProviderSectionStep(CHResultChain& chain, int line, const CProviderSectionCalls& calls,
                                IMsgServiceAdmin* services, LPMAPIUID providerUid, CInterfacePtr<IProfSect>& section);

// The calls that read a profile's service table, with the texts the unit's
// log gives them.
struct CServiceTableCalls {
  LPCWSTR table;  // IMsgServiceAdmin::GetMsgServiceTable
  LPCWSTR rows;   // HrQueryAllRows of the table
};
// Reads every row of the service table with columns, as steps of chain.
void ReadServiceRows(CHResultChain& chain, int line, const CServiceTableCalls& calls, IMsgServiceAdmin* services,
                     LPSPropTagArray columns, CRowSet& rows);

// Opens the object an identifier names, from a store or a folder, as the kind
// the caller expects: an object of another kind (a hostile or damaged store
// can name a folder where a message belongs) is not found.
template <class Container, class T>
HRESULT OpenObjectById(Container* container, ULONG cb, LPENTRYID id, ULONG flags, ULONG expectedType,
                       CInterfacePtr<T>& out) {
  out.Reset();
  ULONG objType = 0;
  CInterfacePtr<IUnknown> object;
  HRESULT hr = container->OpenEntry(cb, id, nullptr, flags, &objType, object.Put());
  if (FAILED(hr)) return hr;
  if (!object || objType != expectedType) return MAPI_E_NOT_FOUND;
  out.Attach(static_cast<T*>(object.Detach()));
  return hr;
}

// Opens a folder of a store by its identifier. An identifier of no bytes would
// name the store's root.
inline HRESULT OpenFolderById(IMsgStore* store, ULONG cb, LPENTRYID id, ULONG flags, CInterfacePtr<IMAPIFolder>& out) {
  return OpenObjectById(store, cb, id, flags, MAPI_FOLDER, out);
}
