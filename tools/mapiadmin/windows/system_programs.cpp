// The admin tool on Windows: the machine is the one it runs on, and the MAPI
// subsystem beside it is registered the way a mail client's setup registers
// its MAPI, so that the system's MAPI stub finds it.
#include "system_programs.h"

#include <windows.h>
#include <winreg.h>

#include "mapiadmin.h"

namespace mapiadmin {

namespace {

constexpr char16_t kMailClients[] = u"Software\\Clients\\Mail";
constexpr char16_t kClientName[] = u"Corvane Stand-in";

void SetText(HKEY key, const char16_t* name, const std::u16string& text, const std::string& what) {
  LSTATUS status = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                  static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR)));
  if (status != ERROR_SUCCESS) throw Failure(what, HRESULT_FROM_WIN32(static_cast<DWORD>(status)));
}

// Creates HKLM\path and sets its values; the key is closed on every path.
void WriteKey(const std::u16string& path, std::initializer_list<std::pair<const char16_t*, std::u16string>> values) {
  HKEY key = nullptr;
  LSTATUS status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                                   nullptr, &key, nullptr);
  if (status != ERROR_SUCCESS)
    throw Failure("creating HKLM\\" + U(path), HRESULT_FROM_WIN32(static_cast<DWORD>(status)));
  try {
    for (const auto& [name, text] : values) SetText(key, name, text, "writing HKLM\\" + U(path));
  } catch (...) {
    RegCloseKey(key);
    throw;
  }
  status = RegCloseKey(key);
  if (status != ERROR_SUCCESS) throw Failure("closing HKLM\\" + U(path), HRESULT_FROM_WIN32(static_cast<DWORD>(status)));
}

}  // namespace

void UsePlatformRoot(const std::string&) {
  throw Failure("--root names a machine of the Linux stand-in; on Windows the machine is this one");
}

std::string InstalledWhere() { return "this machine"; }

bool HasAccountManager() { return false; }

void InstallSystemPrograms() {
  WCHAR self[4096];
  DWORD n = GetModuleFileNameW(nullptr, self, 4096);
  if (n == 0 || n >= 4096) throw Failure("cannot tell where mapiadmin is", HRESULT_FROM_WIN32(GetLastError()));
  std::u16string dll(self, n);
  dll.resize(dll.find_last_of(u'\\') + 1);
  dll += u"mapi32.dll";
  const std::u16string clients(kMailClients);
  WriteKey(clients, {{u"", kClientName}});
  WriteKey(clients + u"\\" + kClientName, {{u"", kClientName}, {u"DLLPath", dll}, {u"DLLPathEx", dll}});
}

}  // namespace mapiadmin
