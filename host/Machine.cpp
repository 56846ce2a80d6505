#include "Machine.h"

#include <standin/root.h>
#include <wcrt.h>
#include <winreg.h>

#include "owners/ScopedOwner.h"

namespace host {

std::u16string W(std::string_view text) { return standin::ToUtf16(text); }
std::string U(std::u16string_view text) { return standin::ToUtf8(text); }
std::string U(LPCWSTR text) { return text ? standin::ToUtf8(std::u16string_view(text)) : std::string(); }

std::u16string PlatformPath(const std::string& absolutePosixPath) { return standin::ToWindowsPath(absolutePosixPath); }
std::string PosixPath(std::u16string_view platformPath) { return standin::ToPosixPath(platformPath); }

bool SameNoCase(std::u16string_view a, std::u16string_view b) { return standin::CompareNoCase(a, b) == 0; }

std::string MachineFolder() { return standin::PlatformRoot(); }

bool HasOutlookProfile() {
  CScopedRegKey key;
  return RegOpenKeyExW(HKEY_CURRENT_USER,
                       u"Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows Messaging Subsystem\\Profiles\\Outlook",
                       0, KEY_QUERY_VALUE, key.Put()) == ERROR_SUCCESS;
}

}  // namespace host
