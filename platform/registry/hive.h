// Registry hive files in the platform's "regf" format, as RegSaveKeyExW writes
// and RegRestoreKeyW reads them: a 4096-byte base block (magic, sequence
// numbers, root cell, XOR checksum) followed by hive bins of cells.
//
// hivex reads and writes the cells. It cannot start a hive from nothing, so a
// save lays out an empty hive itself (base block, one bin, the root key and its
// security cell), lets hivex add the tree and commit, then puts right what hivex
// cannot express: names with an embedded NUL, and subkey lists in the platform's
// sort order. The file appears under its name only when complete.
//
// Names with an embedded NUL (possible in hives, not through the Win32 API) are
// kept whole: the registry stores counted names, enumeration returns them in
// full, and a save writes them back; they cannot be opened by name.
#pragma once

#include <string>

#include "regstore.h"

namespace standin::reg {

// Writes the tree as a new hive file. ERROR_ALREADY_EXISTS when the file exists;
// a failed save leaves no file behind.
LONG SaveHive(const std::string& path, const KeyTree& tree);

// Reads and checks a whole hive file. A file that is not a hive gives
// ERROR_NOT_REGISTRY_FILE, a damaged or truncated one ERROR_REGISTRY_CORRUPT;
// either way the reason goes to the debugger output.
LONG LoadHive(const std::string& path, KeyTree* tree);

// Size of the security descriptor every saved key carries.
DWORD KeySecuritySize();

}  // namespace standin::reg
