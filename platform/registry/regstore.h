// Keys and values of the registry database, addressed by key id. The Reg*
// functions and the hive code build on these; the same contract as regdb.h
// applies (lock held, DbFailure on database trouble, the caller owns the
// transaction).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "regdb.h"

namespace standin::reg {

struct KeyRow {
  KeyId id = 0;
  KeyId parent = 0;  // 0 for a root
  std::u16string name;
  std::u16string cls;
  bool isVolatile = false;
  bool readOnly = false;  // marked itself (see EffectivelyReadOnly)
  int64_t written = 0;
};

struct ValueRow {
  std::u16string name;
  DWORD type = REG_NONE;
  std::string data;
};

struct KeyStats {
  DWORD subKeys = 0, maxSubKeyLen = 0, maxClassLen = 0;
  DWORD values = 0, maxValueNameLen = 0, maxValueLen = 0;
};

// A key with everything below it, as a hive holds it.
struct KeyTree {
  std::u16string name;
  int64_t written = 0;
  std::vector<ValueRow> values;  // in enumeration order
  std::vector<KeyTree> children;
};

bool KeyExists(KeyId id);
std::optional<KeyRow> GetKey(KeyId id);
std::optional<KeyId> FindChild(KeyId parent, std::u16string_view name);
KeyId AddChild(KeyId parent, std::u16string_view name, std::u16string_view cls, bool isVolatile, int64_t now);
// Records a change to the key (its last-write time).
void Touch(KeyId id, int64_t now);
void SetReadOnlyMark(KeyId id, bool readOnly);

// Whether writers are refused: the key or one of its ancestors is marked.
bool EffectivelyReadOnly(KeyId id);
// Whether a key strictly below id is marked read-only.
bool ReadOnlyBelow(KeyId id);

int64_t CountChildren(KeyId id);
// Deletes the key's values and subkeys, and the key itself when asked.
void DeleteSubtree(KeyId id, bool includeKey);

std::optional<ValueRow> GetValue(KeyId key, std::u16string_view name);
// Replaces the value's type and data in place, or appends a new value.
void SetValue(KeyId key, std::u16string_view name, DWORD type, std::string_view data);
bool DeleteValue(KeyId key, std::u16string_view name);

// Enumeration: subkeys sorted case-insensitively, values in creation order.
std::optional<KeyRow> ChildAt(KeyId parent, DWORD index);
std::optional<ValueRow> ValueAt(KeyId key, DWORD index);
KeyStats Stats(KeyId id);

// The key's contents as a tree (volatile keys below it are left out, as the
// platform leaves them out of a saved hive).
KeyTree ReadTree(KeyId id);
// Replaces the key's values and subkeys with the tree's (its name is ignored).
void ReplaceContents(KeyId id, const KeyTree& tree, int64_t now);

}  // namespace standin::reg
