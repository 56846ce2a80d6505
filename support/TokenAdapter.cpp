#include "support/TokenAdapter.h"

#include "support/Log.h"
#include "owners/ScopedOwner.h"

TokenAdapter::TokenAdapter() : m_tpPrevious{}, m_bEnabled(false) {}

DWORD TokenAdapter::EnablePrivilege(LPCWSTR privilegeName) {
  CScopedHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.Put())) {
    DWORD err = GetLastError();
    LogMessageAt(LOG_ERROR, TEXT(".\\TokenAdapter"), 39, TEXT("Could not open the current process.error: %d"), err);
    return err;
  }
  TOKEN_PRIVILEGES state = {};
  state.PrivilegeCount = 1;
  state.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (!LookupPrivilegeValueW(nullptr, privilegeName, &state.Privileges[0].Luid)) {
    LogMessageAt(LOG_ERROR, TEXT(".\\TokenAdapter"), 49, TEXT("Could not get the the luid for name: %s, Error:%d"),
                 privilegeName, GetLastError());
    return 1;
  }
  DWORD length = 0;
  if (!AdjustTokenPrivileges(token.Get(), FALSE, &state, sizeof(m_tpPrevious), &m_tpPrevious, &length)) {
    LogMessageAt(LOG_ERROR, TEXT(".\\TokenAdapter"), 57,
                 TEXT("Could not adjust the the privilege for name: %s, Error:%d"), privilegeName, GetLastError());
    return 1;
  }
  // Accepted even when the token lacks the privilege: the privileged call
  // itself will then fail.
  m_bEnabled = true;
  return 0;
}

void TokenAdapter::RestorePrivileges() {
  if (!m_bEnabled) return;
  CScopedHandle token;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.Put())) {
    TOKEN_PRIVILEGES replaced = {};
    DWORD length = 0;
    AdjustTokenPrivileges(token.Get(), FALSE, &m_tpPrevious, sizeof(replaced), &replaced, &length);
  }
  m_bEnabled = false;
}
