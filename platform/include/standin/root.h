// The platform root: one directory is one machine. Everything the stand-in keeps
// (registry, named mutexes, special folders, machine settings, store files made
// by the admin tool) lives below it. Never used by the library itself.
#pragma once

#include <string>
#include <string_view>

#include "../windef.h"

namespace standin {

// CORVANE_PLATFORM_ROOT, else "$XDG_DATA_HOME/corvane/machine" (or
// "~/.local/share/corvane/machine"). Created on first use. Absolute POSIX path.
STANDIN_API std::string PlatformRoot();
// A POSIX path below the root (rel uses "/").
STANDIN_API std::string RootPath(std::string_view rel);

// Windows path <-> POSIX path. "Z:\a\b", "z:/a/b", "\a\b" and "/a/b" all name
// "/a/b"; a relative path stays relative. Other drive letters have no mapping:
// the result is empty.
STANDIN_API std::string ToPosixPath(std::u16string_view windowsPath);
// "/a/b" -> "Z:\a\b"; a relative path keeps its components with backslashes.
STANDIN_API std::u16string ToWindowsPath(std::string_view posixPath);

// Machine settings of the root (file "machine.ini" below it, section "machine"):
//   wow64      = 0 | 1 | absent  (IsWow64Process answer; "absent": no such export)
//   privileges = comma-separated names the process tokens hold (default: all)
//   user       = user name for the user's folders (default: "user")
STANDIN_API std::string MachineSetting(std::string_view key, std::string_view fallback);
STANDIN_API void SetMachineSetting(std::string_view key, std::string_view value);

// Replaces the system clock for GetSystemTime/GetLocalTime of this process (null
// restores the real clock). Child processes take CORVANE_FAKE_TIME
// ("YYYY-MM-DD HH:MM:SS.mmm", UTC) from their environment instead.
STANDIN_API void SetSystemTimeOverride(const SYSTEMTIME* time);

}  // namespace standin
