// Access tokens and privileges. Each process has one token; which privileges it
// holds comes from the root's machine settings ("privileges", default: all),
// and every privilege starts disabled, as in a process that has not asked.
#include "token.h"

#include <map>
#include <mutex>
#include <set>

#include "handles.h"
#include "internal.h"

using namespace standin;

namespace {

struct PrivilegeName {
  const char16_t* name;
  DWORD luid;
};

const PrivilegeName kPrivileges[] = {
    {u"SeCreateTokenPrivilege", 2},          {u"SeAssignPrimaryTokenPrivilege", 3},
    {u"SeLockMemoryPrivilege", 4},           {u"SeIncreaseQuotaPrivilege", 5},
    {u"SeMachineAccountPrivilege", 6},       {u"SeTcbPrivilege", 7},
    {u"SeSecurityPrivilege", 8},             {u"SeTakeOwnershipPrivilege", 9},
    {u"SeLoadDriverPrivilege", 10},          {u"SeSystemProfilePrivilege", 11},
    {u"SeSystemtimePrivilege", 12},          {u"SeProfileSingleProcessPrivilege", 13},
    {u"SeIncreaseBasePriorityPrivilege", 14}, {u"SeCreatePagefilePrivilege", 15},
    {u"SeCreatePermanentPrivilege", 16},     {u"SeBackupPrivilege", 17},
    {u"SeRestorePrivilege", 18},             {u"SeShutdownPrivilege", 19},
    {u"SeDebugPrivilege", 20},               {u"SeAuditPrivilege", 21},
    {u"SeSystemEnvironmentPrivilege", 22},   {u"SeChangeNotifyPrivilege", 23},
    {u"SeRemoteShutdownPrivilege", 24},      {u"SeUndockPrivilege", 25},
    {u"SeSyncAgentPrivilege", 26},           {u"SeEnableDelegationPrivilege", 27},
    {u"SeManageVolumePrivilege", 28},        {u"SeImpersonatePrivilege", 29},
    {u"SeCreateGlobalPrivilege", 30},
};

const PrivilegeName* FindPrivilege(std::u16string_view name) {
  for (const auto& p : kPrivileges)
    if (CompareNoCase(p.name, name) == 0) return &p;
  return nullptr;
}

struct TokenState {
  std::mutex lock;
  std::string root;       // the root the held set was read from
  std::set<DWORD> held;
  std::set<DWORD> enabled;
};

TokenState& State() {
  static TokenState* state = new TokenState;
  return *state;
}

// Reads which privileges the token holds, once per platform root.
void LoadHeld(TokenState& s) {
  std::string root = PlatformRoot();
  if (root == s.root) return;
  s.root = root;
  s.held.clear();
  s.enabled.clear();
  std::string list = MachineSetting("privileges", "*");
  if (list == "*") {
    for (const auto& p : kPrivileges) s.held.insert(p.luid);
    return;
  }
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(',', start);
    if (end == std::string::npos) end = list.size();
    std::string item = list.substr(start, end - start);
    while (!item.empty() && item.front() == ' ') item.erase(item.begin());
    while (!item.empty() && item.back() == ' ') item.pop_back();
    if (const PrivilegeName* p = FindPrivilege(ToUtf16(item))) s.held.insert(p->luid);
    start = end + 1;
  }
}

class TokenObject : public KernelObject {
 public:
  explicit TokenObject(DWORD access) : access(access) {}
  DWORD access;
};

}  // namespace

namespace standin {

bool PrivilegeEnabled(std::u16string_view name) {
  const PrivilegeName* p = FindPrivilege(name);
  if (!p) return false;
  TokenState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  LoadHeld(s);
  return s.held.count(p->luid) && s.enabled.count(p->luid);
}

}  // namespace standin

extern "C" {

BOOL WINAPI OpenProcessToken(HANDLE process, DWORD access, PHANDLE token) {
  if (FaultedWithLastError("OpenProcessToken")) return FALSE;
  if (!token) return Fail(ERROR_INVALID_PARAMETER);
  // Only this process's token can be had (its pseudo handle or its own id).
  if (process != GetCurrentProcess()) return Fail(ERROR_ACCESS_DENIED);
  *token = NewHandle(std::make_shared<TokenObject>(access));
  return TRUE;
}

BOOL WINAPI LookupPrivilegeValueW(LPCWSTR system, LPCWSTR name, PLUID luid) {
  if (FaultedWithLastError("LookupPrivilegeValueW")) return FALSE;
  if (!name || !luid) return Fail(ERROR_INVALID_PARAMETER);
  if (system && *system) return Fail(ERROR_INVALID_PARAMETER);  // only the local system is known
  const PrivilegeName* p = FindPrivilege(name);
  if (!p) return Fail(ERROR_NO_SUCH_PRIVILEGE);
  *luid = LUID{p->luid, 0};
  return TRUE;
}

BOOL WINAPI AdjustTokenPrivileges(HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES newState, DWORD bufferLength,
                                  PTOKEN_PRIVILEGES previousState, PDWORD returnLength) {
  if (FaultedWithLastError("AdjustTokenPrivileges")) return FALSE;
  auto t = LookupHandleAs<TokenObject>(token);
  if (!t) return FALSE;
  if (!(t->access & TOKEN_ADJUST_PRIVILEGES)) return Fail(ERROR_ACCESS_DENIED);
  if (previousState && !(t->access & TOKEN_QUERY)) return Fail(ERROR_ACCESS_DENIED);
  if (!disableAll && !newState) return Fail(ERROR_INVALID_PARAMETER);

  TokenState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  LoadHeld(s);

  // Work out the changes first: a short previous-state buffer changes nothing.
  std::map<DWORD, bool> changes;  // luid -> enable
  bool allAssigned = true;
  if (disableAll) {
    for (DWORD luid : s.enabled) changes[luid] = false;
  } else {
    for (DWORD i = 0; i < newState->PrivilegeCount; ++i) {
      const LUID_AND_ATTRIBUTES& entry = newState->Privileges[i];
      DWORD luid = entry.Luid.LowPart;
      if (entry.Luid.HighPart != 0 || !s.held.count(luid)) {
        allAssigned = false;
        continue;
      }
      bool enable = (entry.Attributes & SE_PRIVILEGE_ENABLED) != 0;
      if (enable != (s.enabled.count(luid) != 0)) changes[luid] = enable;
    }
  }
  DWORD needed = static_cast<DWORD>(sizeof(DWORD) + changes.size() * sizeof(LUID_AND_ATTRIBUTES));
  if (needed < sizeof(TOKEN_PRIVILEGES)) needed = sizeof(TOKEN_PRIVILEGES);
  if (returnLength) *returnLength = needed;
  if (previousState) {
    if (bufferLength < needed) return Fail(ERROR_INSUFFICIENT_BUFFER);
    previousState->PrivilegeCount = static_cast<DWORD>(changes.size());
    LUID_AND_ATTRIBUTES* out = previousState->Privileges;
    for (const auto& [luid, enable] : changes)
      *out++ = LUID_AND_ATTRIBUTES{LUID{luid, 0}, enable ? 0u : static_cast<DWORD>(SE_PRIVILEGE_ENABLED)};
  }
  for (const auto& [luid, enable] : changes) {
    if (enable) s.enabled.insert(luid);
    else s.enabled.erase(luid);
  }
  SetLastError(allAssigned ? ERROR_SUCCESS : ERROR_NOT_ALL_ASSIGNED);
  return TRUE;
}

BOOL WINAPI GetUserNameW(LPWSTR buffer, LPDWORD size) {
  if (!size) return Fail(ERROR_INVALID_PARAMETER);
  std::u16string name = ToUtf16(UserName());
  if (!buffer || *size < name.size() + 1) {
    *size = static_cast<DWORD>(name.size() + 1);
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  std::copy(name.begin(), name.end(), buffer);
  buffer[name.size()] = 0;
  *size = static_cast<DWORD>(name.size() + 1);
  return TRUE;
}

}  // extern "C"
