// The registry functions of the platform (advapi32's Reg* family) over the
// root's registry database.
//
// Every call takes the registry lock, makes sure the database of the current
// root is open and works inside one transaction. HKEY values are entries of this
// process's key table (not kernel handles); each remembers its key's id and the
// access granted when it was opened, so a key deleted by anyone turns its
// handles into ERROR_KEY_DELETED, even if a key of the same name appears again.
#include <cstdlib>
#include <cstring>
#include <map>
#include <new>
#include <optional>
#include <stdexcept>
#include <vector>

#include <standin/registry.h>

#include "hive.h"
#include "internal.h"
#include "regnames.h"
#include "regstore.h"
#include "token.h"

using namespace standin;
using namespace standin::reg;

namespace {

constexpr DWORD kWriteRights = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | DELETE | WRITE_DAC | WRITE_OWNER;
constexpr DWORD kWow64Flags = KEY_WOW64_32KEY | KEY_WOW64_64KEY;

// ---- the key table ----

struct KeyEntry {
  KeyId id;
  DWORD access;
  uint64_t generation;  // of the database the id belongs to
};

struct KeyTable {
  std::map<uintptr_t, KeyEntry> entries;
  uintptr_t next = 0x1000;  // values are never reused: a stale HKEY stays invalid
};

KeyTable& Keys() {
  static KeyTable* table = new KeyTable;
  return *table;
}

HKEY NewKey(KeyId id, DWORD access) {
  KeyTable& t = Keys();
  uintptr_t value = t.next;
  t.next += 4;
  t.entries[value] = KeyEntry{id, access, Db().generation()};
  return reinterpret_cast<HKEY>(value);
}

// The predefined keys are the low 32 bits of the HKEY only, as on the platform.
bool IsPredefined(HKEY key, uint32_t* which = nullptr) {
  uint32_t low = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(key));
  if (low < 0x80000000u || low > 0x80000006u) return false;
  if (which) *which = low;
  return true;
}

// An open key: where it is and what its handle may do.
struct Opened {
  KeyId id = 0;
  DWORD access = 0;
  bool predefined = false;
};

// HKEY_CLASSES_ROOT: HKLM\SOFTWARE\Classes, made again should it have been deleted.
KeyId ClassesRoot() {
  std::optional<KeyId> software = FindChild(kMachineKey, u"SOFTWARE");
  std::optional<KeyId> classes = software ? FindChild(*software, u"Classes") : std::nullopt;
  if (classes) return *classes;
  Transaction t(Transaction::kWrite);
  int64_t now = Now();
  software = FindChild(kMachineKey, u"SOFTWARE");
  KeyId s = software ? *software : AddChild(kMachineKey, u"SOFTWARE", u"", false, now);
  classes = FindChild(s, u"Classes");
  KeyId c = classes ? *classes : AddChild(s, u"Classes", u"", false, now);
  t.Commit();
  return c;
}

LONG Resolve(HKEY key, Opened* out) {
  uint32_t which = 0;
  if (IsPredefined(key, &which)) {
    out->predefined = true;
    out->access = KEY_ALL_ACCESS;
    switch (which) {
      case 0x80000000u: out->id = ClassesRoot(); return ERROR_SUCCESS;
      case 0x80000001u: out->id = kUserKey; return ERROR_SUCCESS;
      case 0x80000002u: out->id = kMachineKey; return ERROR_SUCCESS;
      default: return ERROR_INVALID_HANDLE;
    }
  }
  KeyTable& t = Keys();
  auto it = t.entries.find(reinterpret_cast<uintptr_t>(key));
  if (it == t.entries.end() || it->second.generation != Db().generation()) return ERROR_INVALID_HANDLE;
  *out = Opened{it->second.id, it->second.access, false};
  return ERROR_SUCCESS;
}

// Whether the handle grants the rights. A predefined key is open with all rights
// its key allows. A key marked read-only refuses writers whatever its handle says.
LONG Require(const Opened& k, DWORD rights) {
  if (!k.predefined && (k.access & rights) != rights) return ERROR_ACCESS_DENIED;
  if ((rights & kWriteRights) && EffectivelyReadOnly(k.id)) return ERROR_ACCESS_DENIED;
  return ERROR_SUCCESS;
}

// The rights an open asks for, generic rights mapped onto key rights.
LONG Grant(REGSAM sam, KeyId id, DWORD* granted) {
  DWORD want = sam & ~kWow64Flags;
  const bool maximum = (want & MAXIMUM_ALLOWED) != 0;
  want &= ~static_cast<DWORD>(MAXIMUM_ALLOWED);
  if (want & GENERIC_READ) want = (want & ~GENERIC_READ) | KEY_READ;
  if (want & GENERIC_WRITE) want = (want & ~GENERIC_WRITE) | KEY_WRITE;
  if (want & GENERIC_EXECUTE) want = (want & ~GENERIC_EXECUTE) | KEY_EXECUTE;
  if (want & GENERIC_ALL) want = (want & ~GENERIC_ALL) | KEY_ALL_ACCESS;
  const bool readOnly = EffectivelyReadOnly(id);
  if (readOnly && (want & kWriteRights)) return ERROR_ACCESS_DENIED;
  if (maximum) want |= readOnly ? KEY_READ : KEY_ALL_ACCESS;
  *granted = want;
  return ERROR_SUCCESS;
}

// Whether a handle of this process other than `except` is open on the key or a
// key below it.
bool OtherHandlesAtOrBelow(HKEY except, KeyId top) {
  const uint64_t generation = Db().generation();
  for (const auto& [value, entry] : Keys().entries) {
    if (value == reinterpret_cast<uintptr_t>(except) || entry.generation != generation) continue;
    for (std::optional<KeyRow> row = GetKey(entry.id); row; row = row->parent ? GetKey(row->parent) : std::nullopt)
      if (row->id == top) return true;
  }
  return false;
}

// Runs one registry call: its fault seam, the lock, the database, and the
// translation of database trouble into the call's result.
template <class Body>
LONG Call(const char* name, Body&& body) {
  int32_t code = 0;
  if (TakeFault(name, &code)) return code;
  std::lock_guard<std::mutex> lock(RegistryMutex());
  try {
    Db().Ensure();
    return body();
  } catch (const DbFailure& failure) {
    return failure.code;
  } catch (const std::bad_alloc&) {
    return ERROR_OUTOFMEMORY;
  } catch (const std::exception&) {
    return ERROR_REGISTRY_IO_FAILED;  // nothing may cross the C boundary
  }
}

// Walks from a key down the names; ERROR_FILE_NOT_FOUND when one is missing.
LONG Walk(KeyId from, const std::vector<std::u16string>& names, KeyId* out) {
  KeyId id = from;
  for (const std::u16string& name : names) {
    std::optional<KeyId> child = FindChild(id, name);
    if (!child) return ERROR_FILE_NOT_FOUND;
    id = *child;
  }
  *out = id;
  return ERROR_SUCCESS;
}

void ToFileTime(int64_t t, PFILETIME ft) {
  ft->dwLowDateTime = static_cast<DWORD>(static_cast<uint64_t>(t));
  ft->dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(t) >> 32);
}

LONG OpenKey(HKEY key, LPCWSTR subKey, REGSAM sam, PHKEY result) {
  Opened parent;
  if (LONG rc = Resolve(key, &parent)) return rc;
  std::vector<std::u16string> names;
  if (LONG rc = SplitKeyPath(subKey, &names)) return rc;
  // The predefined key itself is its own handle.
  if (names.empty() && parent.predefined) {
    *result = key;
    return ERROR_SUCCESS;
  }
  Transaction t(Transaction::kRead);
  if (!KeyExists(parent.id)) return ERROR_KEY_DELETED;
  KeyId id = 0;
  if (LONG rc = Walk(parent.id, names, &id)) return rc;
  DWORD granted = 0;
  if (LONG rc = Grant(sam, id, &granted)) return rc;
  t.Commit();
  *result = NewKey(id, granted);
  return ERROR_SUCCESS;
}

LONG CreateKey(HKEY key, LPCWSTR subKey, LPCWSTR cls, DWORD options, REGSAM sam, PHKEY result, LPDWORD disposition) {
  if (options & REG_OPTION_CREATE_LINK) return ERROR_NOT_SUPPORTED;  // symbolic links are not kept
  Opened parent;
  if (LONG rc = Resolve(key, &parent)) return rc;
  std::vector<std::u16string> names;
  if (LONG rc = SplitKeyPath(subKey, &names)) return rc;
  const bool isVolatile = (options & REG_OPTION_VOLATILE) != 0;

  // Most calls open a key that is there: a read transaction suffices.
  {
    Transaction t(Transaction::kRead);
    if (!KeyExists(parent.id)) return ERROR_KEY_DELETED;
    KeyId id = 0;
    if (Walk(parent.id, names, &id) == ERROR_SUCCESS) {
      DWORD granted = 0;
      if (LONG rc = Grant(sam, id, &granted)) return rc;
      t.Commit();
      *result = NewKey(id, granted);
      if (disposition) *disposition = REG_OPENED_EXISTING_KEY;
      return ERROR_SUCCESS;
    }
  }

  Transaction t(Transaction::kWrite);
  if (!KeyExists(parent.id)) return ERROR_KEY_DELETED;
  const int64_t now = Now();
  KeyId id = parent.id;
  bool created = false;
  for (size_t i = 0; i < names.size(); ++i) {
    if (std::optional<KeyId> child = FindChild(id, names[i])) {
      id = *child;
      continue;
    }
    if (!created) {
      if (LONG rc = Require(parent, KEY_CREATE_SUB_KEY)) return rc;
    }
    if (EffectivelyReadOnly(id)) return ERROR_ACCESS_DENIED;
    if (!isVolatile && GetKey(id)->isVolatile) return ERROR_CHILD_MUST_BE_VOLATILE;
    bool last = i + 1 == names.size();
    id = AddChild(id, names[i], last && cls ? std::u16string_view(cls) : std::u16string_view(), isVolatile, now);
    created = true;
  }
  DWORD granted = 0;
  if (LONG rc = Grant(sam, id, &granted)) return rc;
  t.Commit();
  *result = NewKey(id, granted);
  if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return ERROR_SUCCESS;
}

LONG DeleteKey(HKEY key, LPCWSTR subKey) {
  if (!subKey) return ERROR_INVALID_PARAMETER;
  Opened parent;
  if (LONG rc = Resolve(key, &parent)) return rc;
  std::vector<std::u16string> names;
  if (LONG rc = SplitKeyPath(subKey, &names)) return rc;
  if (names.empty() && parent.predefined) return ERROR_ACCESS_DENIED;
  Transaction t(Transaction::kWrite);
  if (!KeyExists(parent.id)) return ERROR_KEY_DELETED;
  KeyId id = 0;
  if (LONG rc = Walk(parent.id, names, &id)) return rc;
  std::optional<KeyRow> row = GetKey(id);
  // A key with subkeys cannot go, nor can a root.
  if (!row->parent || CountChildren(id) > 0 || EffectivelyReadOnly(id)) return ERROR_ACCESS_DENIED;
  DeleteSubtree(id, true);
  Touch(row->parent, Now());
  t.Commit();
  return ERROR_SUCCESS;
}

LONG QueryValue(const Opened& k, std::u16string_view name, LPDWORD type, LPBYTE data, LPDWORD size) {
  Transaction t(Transaction::kRead);
  if (!KeyExists(k.id)) return ERROR_KEY_DELETED;
  std::optional<ValueRow> v;
  if (name.size() <= kMaxValueNameChars) v = GetValue(k.id, name);
  if (!v) {
    if (size && !data) *size = 0;
    return ERROR_FILE_NOT_FOUND;
  }
  t.Commit();
  // Read the capacity first: callers have passed one variable for type and size.
  const DWORD capacity = size ? *size : 0;
  if (type) *type = v->type;
  const DWORD need = static_cast<DWORD>(v->data.size());
  if (data) {
    if (capacity < need) {
      *size = need;
      return ERROR_MORE_DATA;
    }
    std::memcpy(data, v->data.data(), need);
  }
  if (size) *size = need;
  return ERROR_SUCCESS;
}

// ---- RegGetValueW ----

// %NAME% replaced by the environment variable, as ExpandEnvironmentStrings
// does; a name that is not set stays as written.
std::u16string ExpandEnvironment(std::u16string_view text) {
  std::u16string out;
  size_t i = 0;
  while (i < text.size()) {
    size_t open = text.find(u'%', i);
    size_t close = open == std::u16string_view::npos ? open : text.find(u'%', open + 1);
    if (close == std::u16string_view::npos) {
      out.append(text.substr(i));
      break;
    }
    out.append(text.substr(i, open - i));
    std::u16string_view name = text.substr(open + 1, close - open - 1);
    const char* value = name.empty() ? nullptr : std::getenv(ToUtf8(name).c_str());
    if (value) {
      out.append(ToUtf16(value));
      i = close + 1;
    } else {
      out.push_back(u'%');
      i = open + 1;
    }
  }
  return out;
}

DWORD TypeMask(DWORD type) {
  switch (type) {
    case REG_NONE: return RRF_RT_REG_NONE;
    case REG_SZ: return RRF_RT_REG_SZ;
    case REG_EXPAND_SZ: return RRF_RT_REG_EXPAND_SZ;
    case REG_BINARY: return RRF_RT_REG_BINARY;
    case REG_DWORD: return RRF_RT_REG_DWORD;
    case REG_MULTI_SZ: return RRF_RT_REG_MULTI_SZ;
    case REG_QWORD: return RRF_RT_REG_QWORD;
    default: return 0;
  }
}

// Whether RegGetValueW's restriction lets the value through.
LONG Restrict(DWORD flags, DWORD type, size_t size) {
  DWORD rt = flags & RRF_RT_ANY;
  if (rt == RRF_RT_ANY) return ERROR_SUCCESS;
  DWORD mask = TypeMask(type);
  if (!(rt & mask)) return ERROR_UNSUPPORTED_TYPE;
  if (type == REG_BINARY) {
    // RRF_RT_DWORD and RRF_RT_QWORD let binary data through at their size only.
    bool dword = (rt & RRF_RT_DWORD) == RRF_RT_DWORD, qword = (rt & RRF_RT_QWORD) == RRF_RT_QWORD;
    if ((dword || qword) && !(dword && size == 4) && !(qword && size == 8)) return ERROR_DATATYPE_MISMATCH;
  }
  return ERROR_SUCCESS;
}

bool IsStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

LONG GetRestrictedValue(HKEY key, LPCWSTR subKey, LPCWSTR value, DWORD flags, LPDWORD type, PVOID data,
                        LPDWORD size) {
  const DWORD rt = flags & RRF_RT_ANY;
  if (!rt || (data && !size)) return ERROR_INVALID_PARAMETER;
  if ((flags & RRF_SUBKEY_WOW6464KEY) && (flags & RRF_SUBKEY_WOW6432KEY)) return ERROR_INVALID_PARAMETER;
  if ((rt & RRF_RT_REG_EXPAND_SZ) && !(flags & RRF_NOEXPAND) && rt != RRF_RT_ANY) return ERROR_INVALID_PARAMETER;
  const DWORD capacity = data ? *size : 0;
  auto zeroOnFailure = [&](LONG rc) {
    if (rc != ERROR_SUCCESS && data && (flags & RRF_ZEROONFAILURE))
      std::memset(data, 0, capacity);
    return rc;
  };

  Opened k;
  if (LONG rc = Resolve(key, &k)) return zeroOnFailure(rc);
  std::vector<std::u16string> names;
  if (LONG rc = SplitKeyPath(subKey, &names)) return zeroOnFailure(rc);
  if (names.empty()) {
    if (LONG rc = Require(k, KEY_QUERY_VALUE)) return zeroOnFailure(rc);
  }
  std::optional<ValueRow> v;
  {
    Transaction t(Transaction::kRead);
    if (!KeyExists(k.id)) return zeroOnFailure(ERROR_KEY_DELETED);
    KeyId id = 0;
    if (LONG rc = Walk(k.id, names, &id)) return zeroOnFailure(rc);
    std::u16string_view name = ValueNameArg(value);
    if (name.size() <= kMaxValueNameChars) v = GetValue(id, name);
    t.Commit();
  }
  if (!v) return zeroOnFailure(ERROR_FILE_NOT_FOUND);

  DWORD outType = v->type;
  std::string bytes = std::move(v->data);
  if (outType == REG_EXPAND_SZ && !(flags & RRF_NOEXPAND)) {
    std::u16string text = NameFromBytes(bytes);
    while (!text.empty() && text.back() == 0) text.pop_back();
    bytes = NameBytes(ExpandEnvironment(text));
    outType = REG_SZ;
  }
  // Strings always come back terminated.
  if (IsStringType(outType)) {
    if (bytes.size() % 2) bytes.push_back('\0');
    if (bytes.size() < 2 || bytes[bytes.size() - 1] != 0 || bytes[bytes.size() - 2] != 0) bytes.append(2, '\0');
  }
  if (type) *type = outType;
  LONG rc = ERROR_SUCCESS;
  const DWORD need = static_cast<DWORD>(bytes.size());
  if (size) {
    if (data && capacity < need) rc = ERROR_MORE_DATA;
    else if (data) std::memcpy(data, bytes.data(), need);
    *size = need;
  }
  LONG restricted = Restrict(flags, outType, bytes.size());
  return zeroOnFailure(restricted != ERROR_SUCCESS ? restricted : rc);
}

LONG SaveKey(HKEY key, LPCWSTR file, DWORD flags) {
  if (!file) return ERROR_INVALID_PARAMETER;
  if (flags & ~static_cast<DWORD>(REG_STANDARD_FORMAT | REG_LATEST_FORMAT | REG_NO_COMPRESSION))
    return ERROR_INVALID_PARAMETER;
  Opened k;
  if (LONG rc = Resolve(key, &k)) return rc;
  if (!PrivilegeEnabled(u"SeBackupPrivilege")) return ERROR_PRIVILEGE_NOT_HELD;
  std::string path;
  if (!PosixFromArg(file, &path)) return static_cast<LONG>(GetLastError());
  KeyTree tree;
  {
    Transaction t(Transaction::kRead);
    if (!KeyExists(k.id)) return ERROR_KEY_DELETED;
    tree = ReadTree(k.id);
    t.Commit();
  }
  return SaveHive(path, tree);
}

}  // namespace

extern "C" {

LSTATUS WINAPI RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM sam, PHKEY result) {
  return Call("RegOpenKeyExW", [&]() -> LONG {
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    return OpenKey(key, subKey, sam, result);
  });
}

LSTATUS WINAPI RegOpenKeyW(HKEY key, LPCWSTR subKey, PHKEY result) {
  return Call("RegOpenKeyW", [&]() -> LONG {
    if (!result) return ERROR_INVALID_PARAMETER;
    // The legacy form hands back the very handle it was given.
    if (!subKey || !*subKey) {
      *result = key;
      return ERROR_SUCCESS;
    }
    *result = nullptr;
    return OpenKey(key, subKey, MAXIMUM_ALLOWED, result);
  });
}

LSTATUS WINAPI RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR cls, DWORD options, REGSAM sam,
                               LPSECURITY_ATTRIBUTES sa, PHKEY result, LPDWORD disposition) {
  return Call("RegCreateKeyExW", [&]() -> LONG {
    if (!result) return ERROR_BADKEY;
    *result = nullptr;
    return CreateKey(key, subKey, cls, options, sam, result, disposition);
  });
}

LSTATUS WINAPI RegCreateKeyW(HKEY key, LPCWSTR subKey, PHKEY result) {
  return Call("RegCreateKeyW", [&]() -> LONG {
    if (!result) return ERROR_INVALID_PARAMETER;
    if ((!subKey || !*subKey) && IsPredefined(key)) {
      *result = key;
      return ERROR_SUCCESS;
    }
    *result = nullptr;
    return CreateKey(key, subKey, nullptr, REG_OPTION_NON_VOLATILE, MAXIMUM_ALLOWED, result, nullptr);
  });
}

LSTATUS WINAPI RegCloseKey(HKEY key) {
  int32_t code = 0;
  if (TakeFault("RegCloseKey", &code)) return code;
  std::lock_guard<std::mutex> lock(RegistryMutex());
  if (IsPredefined(key)) return ERROR_SUCCESS;
  return Keys().entries.erase(reinterpret_cast<uintptr_t>(key)) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LSTATUS WINAPI RegFlushKey(HKEY key) {
  return Call("RegFlushKey", [&]() -> LONG {
    Opened k;
    if (LONG rc = Resolve(key, &k)) return rc;
    {
      Transaction t(Transaction::kRead);
      if (!KeyExists(k.id)) return ERROR_KEY_DELETED;
      t.Commit();
    }
    // Commits are already durable; this moves them from the log into the file.
    sqlite3_wal_checkpoint_v2(Db().handle(), nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
    return ERROR_SUCCESS;
  });
}

LSTATUS WINAPI RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size) {
  return Call("RegQueryValueExW", [&]() -> LONG {
    if (reserved || (data && !size)) return ERROR_INVALID_PARAMETER;
    Opened k;
    if (LONG rc = Resolve(key, &k)) return rc;
    if (LONG rc = Require(k, KEY_QUERY_VALUE)) return rc;
    return QueryValue(k, ValueNameArg(name), type, data, size);
  });
}

LSTATUS WINAPI RegGetValueW(HKEY key, LPCWSTR subKey, LPCWSTR value, DWORD flags, LPDWORD type, PVOID data,
                            LPDWORD size) {
  return Call("RegGetValueW",
              [&]() -> LONG { return GetRestrictedValue(key, subKey, value, flags, type, data, size); });
}

LSTATUS WINAPI RegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD size) {
  return Call("RegSetValueExW", [&]() -> LONG {
    Opened k;
    if (LONG rc = Resolve(key, &k)) return rc;
    if (LONG rc = Require(k, KEY_SET_VALUE)) return rc;
    std::u16string_view n = ValueNameArg(name);
    if (n.size() > kMaxValueNameChars) return ERROR_INVALID_PARAMETER;
    if (!data && size) return ERROR_NOACCESS;
    Transaction t(Transaction::kWrite);
    if (!KeyExists(k.id)) return ERROR_KEY_DELETED;
    SetValue(k.id, n, type, std::string_view(reinterpret_cast<const char*>(data), data ? size : 0));
    Touch(k.id, Now());
    t.Commit();
    return ERROR_SUCCESS;
  });
}

LSTATUS WINAPI RegDeleteValueW(HKEY key, LPCWSTR name) {
  return Call("RegDeleteValueW", [&]() -> LONG {
    Opened k;
    if (LONG rc = Resolve(key, &k)) return rc;
    if (LONG rc = Require(k, KEY_SET_VALUE)) return rc;
    std::u16string_view n = ValueNameArg(name);
    Transaction t(Transaction::kWrite);
    if (!KeyExists(k.id)) return ERROR_KEY_DELETED;
    if (n.size() > kMaxValueNameChars || !DeleteValue(k.id, n)) return ERROR_FILE_NOT_FOUND;
    Touch(k.id, Now());
    t.Commit();
    return ERROR_SUCCESS;
  });
}

LSTATUS WINAPI RegDeleteKeyW(HKEY key, LPCWSTR subKey) {
  return Call("RegDeleteKeyW", [&]() -> LONG { return DeleteKey(key, subKey); });
}

LSTATUS WINAPI RegDeleteKeyExW(HKEY key, LPCWSTR subKey, REGSAM sam, DWORD reserved) {
  // There is one view of the registry: the WOW64 flags choose nothing.
  return Call("RegDeleteKeyExW", [&]() -> LONG { return DeleteKey(key, subKey); });
}

LSTATUS WINAPI RegDeleteTreeW(HKEY key, LPCWSTR subKey) {
  return Call("RegDeleteTreeW", [&]() -> LONG {
    Opened k;
    if (LONG rc = Resolve(key, &k)) return rc;
    std::vector<std::u16string> names;
    if (LONG rc = SplitKeyPath(subKey, &names)) return rc;
    Transaction t(Transaction::kWrite);
    if (!KeyExists(k.id)) return ERROR_KEY_DELETED;
    KeyId id = 0;
    if (LONG rc = Walk(k.id, names, &id)) return rc;
    // The whole tree goes in one transaction, or nothing does.
    if (EffectivelyReadOnly(id) || ReadOnlyBelow(id)) return ERROR_ACCESS_DENIED;
    int64_t now = Now();
    if (names.empty()) {
      // The key stays; its handle must allow emptying it.
      DWORD rights = DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | (Stats(id).values ? KEY_SET_VALUE : 0);
      if (LONG rc = Require(k, rights)) return rc;
      DeleteSubtree(id, false);
      Touch(id, now);
    } else {
      KeyId parent = GetKey(id)->parent;
      DeleteSubtree(id, true);
      Touch(parent, now);
    }
    t.Commit();
    return ERROR_SUCCESS;
  });
}

LSTATUS WINAPI RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLen, LPDWORD reserved, LPWSTR cls,
                             LPDWORD clsLen, PFILETIME lastWrite) {
  return Call("RegEnumKeyExW", [&]() -> LONG {
    if (!name || !nameLen || reserved || (cls && !clsLen)) return ERROR_INVALID_PARAMETER;
    Opened k;
    if (LONG rc = Resolve(key, &k)) return rc;
    if (LONG rc = Require(k, KEY_ENUMERATE_SUB_KEYS)) return rc;
    Transaction t(Transaction::kRead);
    if (!KeyExists(k.id)) return ERROR_KEY_DELETED;
    std::optional<KeyRow> row = ChildAt(k.id, index);
    if (!row) return ERROR_NO_MORE_ITEMS;
    t.Commit();
    // Room for the terminator too, else nothing is written.
    if (row->name.size() >= *nameLen || (cls && row->cls.size() >= *clsLen)) return ERROR_MORE_DATA;
    std::memcpy(name, row->name.data(), row->name.size() * sizeof(WCHAR));
    name[row->name.size()] = 0;
    *nameLen = static_cast<DWORD>(row->name.size());
    if (cls) {
      std::memcpy(cls, row->cls.data(), row->cls.size() * sizeof(WCHAR));
      cls[row->cls.size()] = 0;
    }
    if (clsLen) *clsLen = static_cast<DWORD>(row->cls.size());
    if (lastWrite) ToFileTime(row->written, lastWrite);
    return ERROR_SUCCESS;
  });
}

LSTATUS WINAPI RegEnumValueW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLen, LPDWORD reserved, LPDWORD type,
                             LPBYTE data, LPDWORD dataLen) {
  return Call("RegEnumValueW", [&]() -> LONG {
    if (!name || !nameLen || reserved || (data && !dataLen)) return ERROR_INVALID_PARAMETER;
    Opened k;
    if (LONG rc = Resolve(key, &k)) return rc;
    if (LONG rc = Require(k, KEY_QUERY_VALUE)) return rc;
    Transaction t(Transaction::kRead);
    if (!KeyExists(k.id)) return ERROR_KEY_DELETED;
    std::optional<ValueRow> v = ValueAt(k.id, index);
    if (!v) return ERROR_NO_MORE_ITEMS;
    t.Commit();
    const DWORD need = static_cast<DWORD>(v->data.size()), nameRoom = *nameLen;
    const bool dataFits = !data || *dataLen >= need;
    if (type) *type = v->type;
    if (dataLen) *dataLen = need;
    // The name is written when it fits, the data only when both fit.
    if (v->name.size() >= nameRoom) return ERROR_MORE_DATA;
    std::memcpy(name, v->name.data(), v->name.size() * sizeof(WCHAR));
    name[v->name.size()] = 0;
    *nameLen = static_cast<DWORD>(v->name.size());
    if (!dataFits) return ERROR_MORE_DATA;
    if (data) std::memcpy(data, v->data.data(), need);
    return ERROR_SUCCESS;
  });
}

LSTATUS WINAPI RegQueryInfoKeyW(HKEY key, LPWSTR cls, LPDWORD clsLen, LPDWORD reserved, LPDWORD subKeys,
                                LPDWORD maxSubKeyLen, LPDWORD maxClassLen, LPDWORD values, LPDWORD maxValueNameLen,
                                LPDWORD maxValueLen, LPDWORD securityDescriptor, PFILETIME lastWrite) {
  return Call("RegQueryInfoKeyW", [&]() -> LONG {
    if (reserved || (cls && !clsLen)) return ERROR_INVALID_PARAMETER;
    Opened k;
    if (LONG rc = Resolve(key, &k)) return rc;
    if (LONG rc = Require(k, KEY_QUERY_VALUE)) return rc;
    Transaction t(Transaction::kRead);
    std::optional<KeyRow> row = GetKey(k.id);
    if (!row) return ERROR_KEY_DELETED;
    KeyStats st = Stats(k.id);
    t.Commit();
    if (subKeys) *subKeys = st.subKeys;
    if (maxSubKeyLen) *maxSubKeyLen = st.maxSubKeyLen;
    if (maxClassLen) *maxClassLen = st.maxClassLen;
    if (values) *values = st.values;
    if (maxValueNameLen) *maxValueNameLen = st.maxValueNameLen;
    if (maxValueLen) *maxValueLen = st.maxValueLen;
    if (securityDescriptor) *securityDescriptor = KeySecuritySize();
    if (lastWrite) ToFileTime(row->written, lastWrite);
    const DWORD classChars = static_cast<DWORD>(row->cls.size());
    if (cls && *clsLen != 0) {
      // As on the platform, an empty buffer is no error; a short one is.
      if (classChars >= *clsLen) {
        *clsLen = classChars;
        return ERROR_MORE_DATA;
      }
      std::memcpy(cls, row->cls.data(), classChars * sizeof(WCHAR));
      cls[classChars] = 0;
      *clsLen = classChars;
    } else if (!cls && clsLen) {
      *clsLen = classChars;
    }
    return ERROR_SUCCESS;
  });
}

LSTATUS WINAPI RegSaveKeyExW(HKEY key, LPCWSTR file, LPSECURITY_ATTRIBUTES sa, DWORD flags) {
  return Call("RegSaveKeyExW", [&]() -> LONG { return SaveKey(key, file, flags); });
}

LSTATUS WINAPI RegSaveKeyW(HKEY key, LPCWSTR file, LPSECURITY_ATTRIBUTES sa) {
  return Call("RegSaveKeyW", [&]() -> LONG { return SaveKey(key, file, REG_STANDARD_FORMAT); });
}

LSTATUS WINAPI RegRestoreKeyW(HKEY key, LPCWSTR file, DWORD flags) {
  return Call("RegRestoreKeyW", [&]() -> LONG {
    if (!file) return ERROR_INVALID_PARAMETER;
    if (flags & ~static_cast<DWORD>(REG_WHOLE_HIVE_VOLATILE | REG_REFRESH_HIVE | REG_NO_LAZY_FLUSH | REG_FORCE_RESTORE))
      return ERROR_INVALID_PARAMETER;
    // A volatile hive needs a hive of its own, and there is no lazy flush to undo.
    if (flags & REG_WHOLE_HIVE_VOLATILE) return ERROR_INVALID_PARAMETER;
    if (flags & REG_REFRESH_HIVE) return ERROR_NOT_SUPPORTED;
    Opened k;
    if (LONG rc = Resolve(key, &k)) return rc;
    if (!PrivilegeEnabled(u"SeRestorePrivilege")) return ERROR_PRIVILEGE_NOT_HELD;
    std::string path;
    if (!PosixFromArg(file, &path)) return static_cast<LONG>(GetLastError());
    // Everything is read and checked before anything changes.
    KeyTree tree;
    if (LONG rc = LoadHive(path, &tree)) return rc;
    Transaction t(Transaction::kWrite);
    if (!KeyExists(k.id)) return ERROR_KEY_DELETED;
    if (EffectivelyReadOnly(k.id) || ReadOnlyBelow(k.id)) return ERROR_ACCESS_DENIED;
    // Other handles open at or below the key stop it unless it is forced; when
    // forced, they find their keys deleted.
    if (!(flags & REG_FORCE_RESTORE) && OtherHandlesAtOrBelow(key, k.id)) return ERROR_ACCESS_DENIED;
    ReplaceContents(k.id, tree, Now());
    t.Commit();
    return ERROR_SUCCESS;
  });
}

}  // extern "C"

namespace standin {

LONG SetRegistryKeyReadOnly(const std::u16string& root, const std::u16string& path, bool readOnly) {
  return Call("SetRegistryKeyReadOnly", [&]() -> LONG {
    KeyId top = 0;
    if (CompareNoCase(root, u"HKLM") == 0 || CompareNoCase(root, u"HKEY_LOCAL_MACHINE") == 0) top = kMachineKey;
    else if (CompareNoCase(root, u"HKCU") == 0 || CompareNoCase(root, u"HKEY_CURRENT_USER") == 0) top = kUserKey;
    else return ERROR_INVALID_PARAMETER;
    std::vector<std::u16string> names;
    if (LONG rc = SplitKeyPath(path.c_str(), &names)) return rc;
    // The key is made when missing, so a test can lock a place before anyone
    // writes there.
    Transaction t(Transaction::kWrite);
    KeyId id = top;
    int64_t now = Now();
    for (const std::u16string& name : names) {
      std::optional<KeyId> child = FindChild(id, name);
      id = child ? *child : AddChild(id, name, u"", false, now);
    }
    SetReadOnlyMark(id, readOnly);
    t.Commit();
    return ERROR_SUCCESS;
  });
}

}  // namespace standin
