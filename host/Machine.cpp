#include "Machine.h"

#include <standin/root.h>
#include <wcrt.h>

namespace host {

std::u16string W(std::string_view text) { return standin::ToUtf16(text); }
std::string U(std::u16string_view text) { return standin::ToUtf8(text); }
std::string U(LPCWSTR text) { return text ? standin::ToUtf8(std::u16string_view(text)) : std::string(); }

std::u16string PlatformPath(const std::string& absolutePosixPath) { return standin::ToWindowsPath(absolutePosixPath); }
std::string PosixPath(std::u16string_view platformPath) { return standin::ToPosixPath(platformPath); }

bool SameNoCase(std::u16string_view a, std::u16string_view b) { return standin::CompareNoCase(a, b) == 0; }

std::string MachineFolder() { return standin::PlatformRoot(); }

}  // namespace host
