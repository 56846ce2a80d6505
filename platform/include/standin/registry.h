// Administration of the registry stand-in, for tests and tools.
#pragma once

#include <string>

#include "../windef.h"

namespace standin {

// The registry database of the root ("registry.db" below it).
STANDIN_API std::string RegistryDatabasePath();
// Marks a key (root "HKLM" or "HKCU" and a path) read-only, or writable again.
// Opening a read-only key (or creating below it) with any write access fails
// with ERROR_ACCESS_DENIED.
//
// The mark covers the keys below too, as an inherited deny entry would: none of
// them can be written, created, deleted or restored into, whatever access their
// handles were opened with; reading still works. A missing key is created, so a
// test can lock a place before anyone writes there.
STANDIN_API LONG SetRegistryKeyReadOnly(const std::u16string& root, const std::u16string& path, bool readOnly);

}  // namespace standin
