// Registry functions. HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER of the platform
// root live in one database shared by every process of that root.
#pragma once

#include "winbase.h"

#define HKEY_CLASSES_ROOT ((HKEY)(ULONG_PTR)((LONG)0x80000000))
#define HKEY_CURRENT_USER ((HKEY)(ULONG_PTR)((LONG)0x80000001))
#define HKEY_LOCAL_MACHINE ((HKEY)(ULONG_PTR)((LONG)0x80000002))
#define HKEY_USERS ((HKEY)(ULONG_PTR)((LONG)0x80000003))
#define HKEY_PERFORMANCE_DATA ((HKEY)(ULONG_PTR)((LONG)0x80000004))
#define HKEY_CURRENT_CONFIG ((HKEY)(ULONG_PTR)((LONG)0x80000005))

typedef DWORD REGSAM;
typedef DWORD ACCESS_MASK;

#define DELETE 0x00010000L
#define READ_CONTROL 0x00020000L
#define WRITE_DAC 0x00040000L
#define WRITE_OWNER 0x00080000L
#define STANDARD_RIGHTS_READ READ_CONTROL
#define STANDARD_RIGHTS_WRITE READ_CONTROL
#define STANDARD_RIGHTS_ALL 0x001F0000L
#define STANDARD_RIGHTS_REQUIRED 0x000F0000L
#ifndef MAXIMUM_ALLOWED
#define MAXIMUM_ALLOWED 0x02000000L
#endif
#ifndef GENERIC_EXECUTE
#define GENERIC_EXECUTE 0x20000000u
#define GENERIC_ALL 0x10000000u
#endif
#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_CREATE_SUB_KEY 0x0004
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_NOTIFY 0x0010
#define KEY_CREATE_LINK 0x0020
#define KEY_WOW64_64KEY 0x0100
#define KEY_WOW64_32KEY 0x0200
#define KEY_READ ((STANDARD_RIGHTS_READ | KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS | KEY_NOTIFY) & (~SYNCHRONIZE))
#define KEY_WRITE ((STANDARD_RIGHTS_WRITE | KEY_SET_VALUE | KEY_CREATE_SUB_KEY) & (~SYNCHRONIZE))
#define KEY_EXECUTE ((KEY_READ) & (~SYNCHRONIZE))
#define KEY_ALL_ACCESS                                                                                     \
  ((STANDARD_RIGHTS_ALL | KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_ENUMERATE_SUB_KEYS | \
    KEY_NOTIFY | KEY_CREATE_LINK) &                                                                        \
   (~SYNCHRONIZE))

#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_DWORD_LITTLE_ENDIAN 4
#define REG_DWORD_BIG_ENDIAN 5
#define REG_LINK 6
#define REG_MULTI_SZ 7
#define REG_RESOURCE_LIST 8
#define REG_FULL_RESOURCE_DESCRIPTOR 9
#define REG_RESOURCE_REQUIREMENTS_LIST 10
#define REG_QWORD 11
#define REG_QWORD_LITTLE_ENDIAN 11

#define REG_OPTION_NON_VOLATILE 0x00000000L
#define REG_OPTION_VOLATILE 0x00000001L
#define REG_OPTION_CREATE_LINK 0x00000002L
#define REG_OPTION_BACKUP_RESTORE 0x00000004L
#define REG_OPTION_OPEN_LINK 0x00000008L
#define REG_CREATED_NEW_KEY 0x00000001L
#define REG_OPENED_EXISTING_KEY 0x00000002L

#define REG_STANDARD_FORMAT 1
#define REG_LATEST_FORMAT 2
#define REG_NO_COMPRESSION 4
#define REG_WHOLE_HIVE_VOLATILE 0x00000001L
#define REG_REFRESH_HIVE 0x00000002L
#define REG_NO_LAZY_FLUSH 0x00000004L
#define REG_FORCE_RESTORE 0x00000008L

#define RRF_RT_REG_NONE 0x00000001
#define RRF_RT_REG_SZ 0x00000002
#define RRF_RT_REG_EXPAND_SZ 0x00000004
#define RRF_RT_REG_BINARY 0x00000008
#define RRF_RT_REG_DWORD 0x00000010
#define RRF_RT_REG_MULTI_SZ 0x00000020
#define RRF_RT_REG_QWORD 0x00000040
#define RRF_RT_ANY 0x0000ffff
#define RRF_RT_DWORD (RRF_RT_REG_BINARY | RRF_RT_REG_DWORD)
#define RRF_RT_QWORD (RRF_RT_REG_BINARY | RRF_RT_REG_QWORD)
#define RRF_SUBKEY_WOW6464KEY 0x00010000
#define RRF_SUBKEY_WOW6432KEY 0x00020000
#define RRF_NOEXPAND 0x10000000
#define RRF_ZEROONFAILURE 0x20000000

// Predefined keys: HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER are the root's two
// trees; HKEY_CLASSES_ROOT is HKEY_LOCAL_MACHINE\Software\Classes. The other
// predefined keys (HKEY_USERS, HKEY_CURRENT_CONFIG, ...) have no counterpart in
// a root: every call on them fails with ERROR_INVALID_HANDLE.

// Names: a key name is at most 255 characters, a value name at most 16,383; a
// path component may not be empty. Longer names are refused, never cut.
WINBASEAPI LSTATUS WINAPI RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM sam, PHKEY result);
WINBASEAPI LSTATUS WINAPI RegOpenKeyW(HKEY key, LPCWSTR subKey, PHKEY result);
WINBASEAPI LSTATUS WINAPI RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR cls, DWORD options,
                                          REGSAM sam, LPSECURITY_ATTRIBUTES sa, PHKEY result, LPDWORD disposition);
WINBASEAPI LSTATUS WINAPI RegCreateKeyW(HKEY key, LPCWSTR subKey, PHKEY result);
WINBASEAPI LSTATUS WINAPI RegCloseKey(HKEY key);
WINBASEAPI LSTATUS WINAPI RegFlushKey(HKEY key);
WINBASEAPI LSTATUS WINAPI RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                                           LPDWORD size);
WINBASEAPI LSTATUS WINAPI RegGetValueW(HKEY key, LPCWSTR subKey, LPCWSTR value, DWORD flags, LPDWORD type,
                                       PVOID data, LPDWORD size);
WINBASEAPI LSTATUS WINAPI RegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data,
                                         DWORD size);
WINBASEAPI LSTATUS WINAPI RegDeleteValueW(HKEY key, LPCWSTR name);
WINBASEAPI LSTATUS WINAPI RegDeleteKeyW(HKEY key, LPCWSTR subKey);
WINBASEAPI LSTATUS WINAPI RegDeleteKeyExW(HKEY key, LPCWSTR subKey, REGSAM sam, DWORD reserved);
WINBASEAPI LSTATUS WINAPI RegDeleteTreeW(HKEY key, LPCWSTR subKey);
WINBASEAPI LSTATUS WINAPI RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLen, LPDWORD reserved,
                                        LPWSTR cls, LPDWORD clsLen, PFILETIME lastWrite);
WINBASEAPI LSTATUS WINAPI RegEnumValueW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLen, LPDWORD reserved,
                                        LPDWORD type, LPBYTE data, LPDWORD dataLen);
WINBASEAPI LSTATUS WINAPI RegQueryInfoKeyW(HKEY key, LPWSTR cls, LPDWORD clsLen, LPDWORD reserved,
                                           LPDWORD subKeys, LPDWORD maxSubKeyLen, LPDWORD maxClassLen,
                                           LPDWORD values, LPDWORD maxValueNameLen, LPDWORD maxValueLen,
                                           LPDWORD securityDescriptor, PFILETIME lastWrite);
// Hive files in the platform's "regf" format. Saving needs SeBackupPrivilege
// enabled in the process token, restoring SeRestorePrivilege; a file that is not
// a sound hive is refused before anything changes.
WINBASEAPI LSTATUS WINAPI RegSaveKeyExW(HKEY key, LPCWSTR file, LPSECURITY_ATTRIBUTES sa, DWORD flags);
WINBASEAPI LSTATUS WINAPI RegSaveKeyW(HKEY key, LPCWSTR file, LPSECURITY_ATTRIBUTES sa);
// Without REG_FORCE_RESTORE a restore is refused (ERROR_ACCESS_DENIED) while
// another handle of the process is open on the key or below it; with it, such
// handles find their keys deleted (ERROR_KEY_DELETED).
WINBASEAPI LSTATUS WINAPI RegRestoreKeyW(HKEY key, LPCWSTR file, DWORD flags);
