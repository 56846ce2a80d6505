// The registry side of the editor: a script is applied and a key tree is read
// for an export through the registry API alone, so every change is the
// registry's own and other processes see it at once.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include <windows.h>

#include "regfile.h"

namespace regedit {

// The predefined key a full key name starts with: "HKEY_CURRENT_USER\Software"
// gives HKEY_CURRENT_USER, its name as the editor writes it and "Software".
// The root's name is matched without regard to case and must be spelt out.
bool SplitRootName(std::u16string_view fullName, HKEY* root, std::u16string* rootName, std::u16string* path);

// Applies the script's operations in order. A key that cannot be opened or
// made is reported once and its values are left out; a value that cannot be
// written is reported. Returns how many steps failed.
unsigned ApplyRegScript(const RegScript& script, std::vector<RegProblem>* problems);

// Reads a script and applies it: the script's version (kNone: not a registry
// script, nothing done), and every problem, skipped lines and failed steps
// alike, in line order. Returns how many steps failed.
unsigned ImportRegText(std::u16string_view text, RegVersion* version, std::vector<RegProblem>* problems);

// Adds the key named by fullName and everything below it to the writer, each
// key followed by its values in the registry's order, subkeys in the
// registry's order. The top key that cannot be opened is the result (its
// Win32 error); a key below it that cannot be read is reported and left out.
LONG ExportRegKey(std::u16string_view fullName, RegWriter* writer, std::vector<RegProblem>* problems);

// The whole registry of the machine, as an export without a key name gives it.
LONG ExportRegistry(RegWriter* writer, std::vector<RegProblem>* problems);

}  // namespace regedit
