// Key and value names as the registry stores, compares and limits them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include <windows.h>

namespace standin::reg {

// Longer names are refused, never cut.
inline constexpr size_t kMaxKeyNameChars = 255;
inline constexpr size_t kMaxValueNameChars = 16383;

// UTF-16 code units as the database keeps them (a little-endian BLOB), so any
// name survives byte for byte, an embedded NUL included.
std::string NameBytes(std::u16string_view name);
std::u16string NameFromBytes(std::string_view bytes);

// The case-folded form names are looked up and sorted by: every code unit upper
// cased (FoldCase, full Unicode), stored big-endian so that BLOB order is code
// unit order, the order the platform lists subkeys in.
std::string FoldedName(std::u16string_view name);

// Splits a key path relative to an open key into its names. Trailing
// backslashes are ignored; a leading one or an empty name between two is
// ERROR_BAD_PATHNAME; a name over kMaxKeyNameChars is ERROR_INVALID_PARAMETER.
// A null or empty path gives no names (the key itself).
LONG SplitKeyPath(const WCHAR* path, std::vector<std::u16string>* names);

// Length of a value name argument; null is the default value ("").
std::u16string_view ValueNameArg(const WCHAR* name);

}  // namespace standin::reg
