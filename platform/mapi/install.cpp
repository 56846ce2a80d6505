// Installs the stand-in mail client into the platform root: the registry
// entries by which programs (and MAPIInitialize) recognise an installed client.
#include <standin/mapi.h>
#include <windows.h>
#include <winreg.h>

#include <string>

#include "core.h"

namespace {

constexpr const char16_t* kSubsystemKey = u"SOFTWARE\\Microsoft\\Windows Messaging Subsystem";
constexpr const char16_t* kProfileKey =
    u"Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows Messaging Subsystem\\Profiles\\Outlook";
constexpr const char16_t* kAppClsid = u"{0006F03A-0000-0000-C000-000000000046}";

// Creates (or opens) root\path and sets each given REG_SZ value (an empty name
// is the default value).
LSTATUS WriteKey(HKEY root, const std::u16string& path,
                 std::initializer_list<std::pair<const char16_t*, const char16_t*>> values) {
  HKEY key = nullptr;
  LSTATUS status =
      RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key, nullptr);
  if (status != ERROR_SUCCESS) return status;
  for (const auto& [name, data] : values) {
    const std::u16string_view text(data);
    status = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.data()),
                            static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR)));
    if (status != ERROR_SUCCESS) break;
  }
  LSTATUS closed = RegCloseKey(key);
  return status != ERROR_SUCCESS ? status : closed;
}

}  // namespace

namespace standin {

HRESULT InstallMailClient() {
  const std::u16string subsystem(kSubsystemKey);
  LSTATUS status = WriteKey(HKEY_LOCAL_MACHINE, subsystem, {{u"MAPIX", u"1"}, {u"MAPIXVER", u"1.0.0.1"}});
  if (status == ERROR_SUCCESS) status = WriteKey(HKEY_LOCAL_MACHINE, subsystem + u"\\msmapiapps", {});
  if (status == ERROR_SUCCESS)
    status = WriteKey(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Classes\\Outlook.Application\\CLSID", {{u"", kAppClsid}});
  if (status == ERROR_SUCCESS)
    status = WriteKey(HKEY_LOCAL_MACHINE, std::u16string(u"SOFTWARE\\Classes\\CLSID\\") + kAppClsid + u"\\ProgID",
                      {{u"", u"Outlook.Application"}});
  if (status == ERROR_SUCCESS) status = WriteKey(HKEY_CURRENT_USER, kProfileKey, {});
  return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(static_cast<DWORD>(status));
}

bool MailClientInstalled() { return mapi::ClientInstalled(); }

}  // namespace standin
