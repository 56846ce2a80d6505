// Where the host meets the machine it runs on: the platform's wide text, its
// path spelling, its case-insensitive comparison and where its state lives.
// Everything else of the host speaks only to the library's exports.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace host {

std::u16string W(std::string_view text);
std::string U(std::u16string_view text);
std::string U(LPCWSTR text);

// The library takes and gives platform paths ("Z:\a\b"); the user sees POSIX
// ones. A path the platform cannot spell maps to nothing.
std::u16string PlatformPath(const std::string& absolutePosixPath);
std::string PosixPath(std::u16string_view platformPath);

// Equal without regard to case, as the platform compares names.
bool SameNoCase(std::u16string_view a, std::u16string_view b);

// The folder that holds the machine's state (its platform root).
std::string MachineFolder();

// Whether the user has a profile "Outlook" in the registry.
bool HasOutlookProfile();

}  // namespace host
