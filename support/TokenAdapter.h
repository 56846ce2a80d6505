// Enables one privilege in the process token for the time of a registry save
// or restore, and puts the token back afterwards. The token is the whole
// process's: other threads see the privilege while it is held.
#pragma once

#include <windows.h>

class TokenAdapter {
 public:
  TokenAdapter();
  // 0 on success; the last error when the token cannot be opened; 1 when the
  // name is unknown or the token cannot be adjusted.
  DWORD EnablePrivilege(LPCWSTR privilegeName);
  // Undoes a successful EnablePrivilege; callers call it on every path out.
  void RestorePrivileges();

 private:
  TOKEN_PRIVILEGES m_tpPrevious;
  bool m_bEnabled;
};
