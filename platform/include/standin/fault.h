// Fault injection: the one seam through which a test makes any stand-in call
// fail (or warn). A call is armed by its name as the platform spells it
// ("CreateMutexW", "RegSaveKeyExW", "IMAPIFolder::CopyMessages", ...).
//
// The code is what the call reports: a Win32 error for calls that return BOOL or
// a handle (they fail and set it as the last error), the result itself for calls
// that return LSTATUS, HRESULT or a wait result.
//
// A child process picks up faults from CORVANE_FAULTS, "name=code[@n][;...]",
// where the code is decimal or 0x-hex and n as below, or "kill": the process
// is killed with SIGKILL at that call, before it does anything.
#pragma once

#include <cstdint>
#include <string>

#include "../windef.h"

namespace standin {

// nth = 0: every call fails from now on; nth = k: only the k-th call from now.
STANDIN_API void ArmFault(const std::string& call, int32_t code, unsigned nth = 0);
STANDIN_API void ClearFault(const std::string& call);
STANDIN_API void ClearAllFaults();
// How often the call was made since it was last armed or cleared.
STANDIN_API unsigned FaultCallCount(const std::string& call);

// For the stand-in's own calls: counts the call and tells whether it must fail,
// and with which code.
STANDIN_API bool TakeFault(const char* call, int32_t* code);

}  // namespace standin

// The fault point at the start of a stand-in call that returns its result code
// (HRESULT, LSTATUS): an armed code is returned at once, errors and warnings
// alike, before the call does anything.
#define STANDIN_FAULT_POINT(name)                  \
  do {                                             \
    int32_t faultCode_;                            \
    if (::standin::TakeFault(name, &faultCode_))   \
      return faultCode_;                           \
  } while (0)
