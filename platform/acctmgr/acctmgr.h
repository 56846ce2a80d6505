// The account manager server: its accounts as read from the registry, its
// objects, and the count of live objects that keeps the module loaded.
// Internal to the server module.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <acctmgmt.h>
#include <objbase.h>

namespace standin::acct {

// One account as the registry holds it when it is read.
struct Account {
  DWORD id = 0;
  std::optional<CLSID> type;  // missing or unknown: no type
  std::optional<std::u16string> name, displayName, email;
};

// The accounts of a profile, in the registry's order. S_OK with none when the
// profile has no account key; E_OLK_REGISTRY when it cannot be read.
HRESULT ReadAccounts(const std::u16string& profile, std::vector<Account>* accounts);
// Removes the account's key. E_ACCT_NOT_FOUND when there is none; a registry
// refusal as HRESULT_FROM_WIN32.
HRESULT RemoveAccount(const std::u16string& profile, DWORD id);
// Whether the profile exists.
bool ProfileExists(const std::u16string& profile);

// The type as the account property shows it ("POP/SMTP", ...), or empty.
std::u16string TypeText(const CLSID& type);
// Whether an account of the type is in the category (mail, store, address book).
bool InCategory(const std::optional<CLSID>& type, const CLSID& category);

// Live objects of the module, and LockServer locks: while either is not zero
// the module must stay loaded.
extern std::atomic<long> g_liveObjects;
extern std::atomic<long> g_serverLocks;

// Counts the life of a module object.
class ModuleObject {
 public:
  ModuleObject() { ++g_liveObjects; }
  ~ModuleObject() { --g_liveObjects; }
  ModuleObject(const ModuleObject&) = delete;
  ModuleObject& operator=(const ModuleObject&) = delete;
};

// What every manager object of the process shares: one initialisation, as in
// the mail client's own process, where every client reaches the same manager.
// It lives while any manager object does.
struct ManagerState {
  std::mutex lock;
  bool initialised = false;
  std::u16string profile;
};
std::shared_ptr<ManagerState> SharedManagerState();

// A new manager (one reference), or null when memory is short.
IOlkAccountManager* NewAccountManager();

// Memory handed to the client, freed with FreeMemory.
WCHAR* CopyText(const std::u16string& text);
void FreeBlock(void* block);
// The text of an error of the account manager, for GetLastError.
HRESULT DescribeError(HRESULT hr, LPWSTR* text);

}  // namespace standin::acct
