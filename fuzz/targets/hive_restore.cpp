// Hive restore: a hive file's bytes restored over a key of an empty machine;
// a restored tree is walked, saved and restored again, and must read the same.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz_target.h"

namespace {

void EnablePrivilege(LPCWSTR name) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token)) return;
  TOKEN_PRIVILEGES tp{};
  tp.PrivilegeCount = 1;
  tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (LookupPrivilegeValueW(nullptr, name, &tp.Privileges[0].Luid))
    AdjustTokenPrivileges(token, FALSE, &tp, sizeof tp, nullptr, nullptr);
  CloseHandle(token);
}

// Every key and value below key, as a reader of the restored tree sees them.
void Walk(HKEY key, int depth, std::string* dump) {
  if (depth > 64) return;
  WCHAR name[256];
  BYTE value[4096];
  for (DWORD i = 0;; ++i) {
    DWORD nameChars = 256, type = 0, bytes = sizeof value;
    LONG rc = RegEnumValueW(key, i, name, &nameChars, nullptr, &type, value, &bytes);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc == ERROR_SUCCESS) {
      bytes = sizeof value;
      rc = RegQueryValueExW(key, name, nullptr, &type, value, &bytes);
    }
    dump->append(reinterpret_cast<const char*>(name), nameChars * sizeof(WCHAR));
    dump->append("=" + std::to_string(rc) + ":" + std::to_string(type) + ":");
    if (rc == ERROR_SUCCESS) dump->append(reinterpret_cast<const char*>(value), bytes);
    dump->push_back('\n');
  }
  for (DWORD i = 0;; ++i) {
    DWORD nameChars = 256;
    LONG rc = RegEnumKeyExW(key, i, name, &nameChars, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS) continue;
    dump->append("[" + std::string(reinterpret_cast<const char*>(name), nameChars * sizeof(WCHAR)) + "]\n");
    HKEY sub = nullptr;
    if (RegOpenKeyExW(key, name, 0, KEY_READ, &sub) == ERROR_SUCCESS) {
      Walk(sub, depth + 1, dump);
      RegCloseKey(sub);
    }
    dump->append("[..]\n");
  }
}

}  // namespace

int FuzzOne(const uint8_t* data, size_t size) {
  fuzzing::InputRoot root;
  EnablePrivilege(SE_RESTORE_NAME);
  EnablePrivilege(SE_BACKUP_NAME);
  fuzzing::WriteBytes(root.File("input.hiv"), std::string_view(reinterpret_cast<const char*>(data), size));
  std::u16string input = fuzzing::WindowsPath(root.File("input.hiv"));
  std::u16string saved = fuzzing::WindowsPath(root.File("saved.hiv"));
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, TEXT("Software\\Restored"), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    return 0;
  // What was restored, saved and restored again, reads the same.
  if (RegRestoreKeyW(key, reinterpret_cast<LPCWSTR>(input.c_str()), REG_FORCE_RESTORE) == ERROR_SUCCESS) {
    std::string first, second;
    Walk(key, 0, &first);
    if (RegSaveKeyExW(key, reinterpret_cast<LPCWSTR>(saved.c_str()), nullptr, REG_LATEST_FORMAT) == ERROR_SUCCESS &&
        RegRestoreKeyW(key, reinterpret_cast<LPCWSTR>(saved.c_str()), REG_FORCE_RESTORE) == ERROR_SUCCESS) {
      Walk(key, 0, &second);
      if (second != first) {
        std::fprintf(stderr, "fuzz: a restored hive saved and restored again reads otherwise\n");
        std::abort();
      }
    }
  }
  RegCloseKey(key);
  return 0;
}
