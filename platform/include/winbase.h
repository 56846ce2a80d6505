// Kernel, file, process and security functions of the platform (the stand-in's
// counterpart of kernel32 and advapi32). Paths are Windows paths: the stand-in
// shows the Linux file system as drive Z: ("Z:\home\user"), and accepts "/" as a
// separator and plain Linux absolute paths as well.
#pragma once

#include <cstdarg>

#include "windef.h"
#include "winerror.h"

// ---- errors ----
WINBASEAPI DWORD WINAPI GetLastError(void);
WINBASEAPI void WINAPI SetLastError(DWORD err);

#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200
#define FORMAT_MESSAGE_FROM_STRING 0x00000400
#define FORMAT_MESSAGE_FROM_HMODULE 0x00000800
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000
#define LANG_NEUTRAL 0x00
#define SUBLANG_DEFAULT 0x01
#define MAKELANGID(p, s) ((((WORD)(s)) << 10) | (WORD)(p))
// Only FORMAT_MESSAGE_FROM_SYSTEM is supported; inserts are never expanded.
WINBASEAPI DWORD WINAPI FormatMessageW(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId,
                                       LPWSTR buffer, DWORD size, va_list* args);
WINBASEAPI HLOCAL WINAPI LocalAlloc(UINT flags, SIZE_T bytes);
WINBASEAPI HLOCAL WINAPI LocalFree(HLOCAL mem);
#define LMEM_FIXED 0x0000
#define LMEM_ZEROINPTR 0x0040
#define LPTR (LMEM_FIXED | LMEM_ZEROINPTR)

// ---- strings ----
WINBASEAPI int WINAPI lstrlenW(LPCWSTR s);
WINBASEAPI LPWSTR WINAPI lstrcpynW(LPWSTR dst, LPCWSTR src, int max);
WINBASEAPI int WINAPI lstrcmpW(LPCWSTR a, LPCWSTR b);
WINBASEAPI int WINAPI lstrcmpiW(LPCWSTR a, LPCWSTR b);
#define CP_ACP 0
#define CP_THREAD_ACP 3
#define CP_UTF8 65001
// The stand-in's ANSI code page is UTF-8, so narrow conversions are lossless.
WINBASEAPI int WINAPI MultiByteToWideChar(UINT cp, DWORD flags, LPCSTR src, int srcLen, LPWSTR dst, int dstLen);
WINBASEAPI int WINAPI WideCharToMultiByte(UINT cp, DWORD flags, LPCWSTR src, int srcLen, LPSTR dst, int dstLen,
                                          LPCSTR defaultChar, LPBOOL usedDefault);

// ---- time ----
WINBASEAPI void WINAPI GetSystemTime(LPSYSTEMTIME st);
WINBASEAPI void WINAPI GetLocalTime(LPSYSTEMTIME st);
WINBASEAPI void WINAPI GetSystemTimeAsFileTime(LPFILETIME ft);
WINBASEAPI BOOL WINAPI SystemTimeToFileTime(const SYSTEMTIME* st, LPFILETIME ft);
WINBASEAPI BOOL WINAPI FileTimeToSystemTime(const FILETIME* ft, LPSYSTEMTIME st);
WINBASEAPI LONG WINAPI CompareFileTime(const FILETIME* a, const FILETIME* b);
WINBASEAPI DWORD WINAPI GetTickCount(void);
WINBASEAPI ULONGLONG WINAPI GetTickCount64(void);
WINBASEAPI void WINAPI Sleep(DWORD ms);

// ---- threads, interlocked, critical sections ----
WINBASEAPI DWORD WINAPI GetCurrentThreadId(void);
WINBASEAPI DWORD WINAPI GetCurrentProcessId(void);
WINBASEAPI HANDLE WINAPI GetCurrentProcess(void);
WINBASEAPI HANDLE WINAPI GetCurrentThread(void);

inline LONG InterlockedIncrement(LONG volatile* p) { return __atomic_add_fetch(p, 1, __ATOMIC_SEQ_CST); }
inline LONG InterlockedDecrement(LONG volatile* p) { return __atomic_sub_fetch(p, 1, __ATOMIC_SEQ_CST); }
inline LONG InterlockedExchange(LONG volatile* p, LONG v) { return __atomic_exchange_n(p, v, __ATOMIC_SEQ_CST); }
inline LONG InterlockedCompareExchange(LONG volatile* p, LONG exchange, LONG comparand) {
  __atomic_compare_exchange_n(p, &comparand, exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
  return comparand;
}

// A critical section: recursive for its owner, as on the platform.
typedef struct _CRITICAL_SECTION {
  void* Impl;
  LONG LockCount;
  LONG RecursionCount;
  HANDLE OwningThread;
  HANDLE LockSemaphore;
  ULONG_PTR SpinCount;
} CRITICAL_SECTION, *LPCRITICAL_SECTION;
WINBASEAPI void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION cs);
WINBASEAPI void WINAPI EnterCriticalSection(LPCRITICAL_SECTION cs);
WINBASEAPI BOOL WINAPI TryEnterCriticalSection(LPCRITICAL_SECTION cs);
WINBASEAPI void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION cs);
WINBASEAPI void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION cs);

// ---- handles, waits, mutexes ----
typedef struct _SECURITY_ATTRIBUTES {
  DWORD nLength;
  LPVOID lpSecurityDescriptor;
  BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *PSECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

#define WAIT_OBJECT_0 0x00000000L
#define WAIT_ABANDONED 0x00000080L
#define WAIT_ABANDONED_0 0x00000080L
#define WAIT_TIMEOUT 0x00000102L
#define WAIT_FAILED 0xFFFFFFFFu
#define STILL_ACTIVE 259
#define SYNCHRONIZE 0x00100000L
#define MUTEX_ALL_ACCESS 0x1F0001
#define MUTEX_MODIFY_STATE 0x0001

WINBASEAPI BOOL WINAPI CloseHandle(HANDLE h);
WINBASEAPI BOOL WINAPI DuplicateHandle(HANDLE srcProcess, HANDLE src, HANDLE dstProcess, LPHANDLE dst,
                                       DWORD access, BOOL inherit, DWORD options);
#define DUPLICATE_SAME_ACCESS 0x00000002
// Named mutexes are machine-wide: one name space per platform root ("Global\"
// and "Local\" prefixes name the same object here). A mutex whose owner died
// without releasing it is handed to the next waiter with WAIT_ABANDONED.
//
// Names are case-sensitive. A name may carry one "Global\" or "Local\" prefix;
// any other backslash names a folder of the object namespace that does not
// exist (ERROR_PATH_NOT_FOUND). A name of MAX_PATH characters or more fails with
// ERROR_FILENAME_EXCED_RANGE. A thread that ends while owning a mutex abandons
// it, as does a process that ends or closes its last handle to it. Unlike on the
// platform, the abandonment is kept for the next owner even when no process had
// the mutex open in between.
#ifndef GENERIC_EXECUTE
#define GENERIC_EXECUTE 0x20000000u
#define GENERIC_ALL 0x10000000u
#endif
#ifndef MAXIMUM_ALLOWED
#define MAXIMUM_ALLOWED 0x02000000L
#endif
#ifndef ACCESS_SYSTEM_SECURITY
#define ACCESS_SYSTEM_SECURITY 0x01000000L
#endif
WINBASEAPI HANDLE WINAPI CreateMutexW(LPSECURITY_ATTRIBUTES sa, BOOL initialOwner, LPCWSTR name);
WINBASEAPI HANDLE WINAPI OpenMutexW(DWORD access, BOOL inherit, LPCWSTR name);
WINBASEAPI BOOL WINAPI ReleaseMutex(HANDLE mutex);
WINBASEAPI DWORD WINAPI WaitForSingleObject(HANDLE h, DWORD ms);

// ---- files and folders ----
#define FILE_ATTRIBUTE_READONLY 0x00000001
#define FILE_ATTRIBUTE_HIDDEN 0x00000002
#define FILE_ATTRIBUTE_SYSTEM 0x00000004
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020
#define FILE_ATTRIBUTE_NORMAL 0x00000080
#define INVALID_FILE_ATTRIBUTES ((DWORD)-1)
#define INVALID_FILE_SIZE ((DWORD)0xFFFFFFFF)

typedef struct _WIN32_FIND_DATAW {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;
  DWORD dwReserved1;
  WCHAR cFileName[MAX_PATH];
  WCHAR cAlternateFileName[14];
} WIN32_FIND_DATAW, *PWIN32_FIND_DATAW, *LPWIN32_FIND_DATAW;

typedef struct _WIN32_FILE_ATTRIBUTE_DATA {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
} WIN32_FILE_ATTRIBUTE_DATA, *LPWIN32_FILE_ATTRIBUTE_DATA;
typedef enum _GET_FILEEX_INFO_LEVELS { GetFileExInfoStandard, GetFileExMaxInfoLevel } GET_FILEEX_INFO_LEVELS;

// A search names a folder and a last component that may hold * and ?.
WINBASEAPI HANDLE WINAPI FindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW data);
WINBASEAPI BOOL WINAPI FindNextFileW(HANDLE find, LPWIN32_FIND_DATAW data);
WINBASEAPI BOOL WINAPI FindClose(HANDLE find);
WINBASEAPI DWORD WINAPI GetFileAttributesW(LPCWSTR path);
WINBASEAPI BOOL WINAPI GetFileAttributesExW(LPCWSTR path, GET_FILEEX_INFO_LEVELS level, LPVOID info);
WINBASEAPI BOOL WINAPI CreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES sa);
WINBASEAPI BOOL WINAPI RemoveDirectoryW(LPCWSTR path);
WINBASEAPI BOOL WINAPI DeleteFileW(LPCWSTR path);
WINBASEAPI BOOL WINAPI CopyFileW(LPCWSTR from, LPCWSTR to, BOOL failIfExists);
WINBASEAPI BOOL WINAPI MoveFileW(LPCWSTR from, LPCWSTR to);
#define MOVEFILE_REPLACE_EXISTING 0x00000001
#define MOVEFILE_COPY_ALLOWED 0x00000002
#define MOVEFILE_WRITE_THROUGH 0x00000008
WINBASEAPI BOOL WINAPI MoveFileExW(LPCWSTR from, LPCWSTR to, DWORD flags);
WINBASEAPI DWORD WINAPI GetFullPathNameW(LPCWSTR path, DWORD size, LPWSTR buffer, LPWSTR* filePart);
WINBASEAPI DWORD WINAPI GetTempPathW(DWORD size, LPWSTR buffer);
WINBASEAPI UINT WINAPI GetTempFileNameW(LPCWSTR folder, LPCWSTR prefix, UINT unique, LPWSTR name);
WINBASEAPI DWORD WINAPI GetCurrentDirectoryW(DWORD size, LPWSTR buffer);
WINBASEAPI DWORD WINAPI GetEnvironmentVariableW(LPCWSTR name, LPWSTR buffer, DWORD size);

// Files as handles.
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x00000001
#define FILE_SHARE_WRITE 0x00000002
#define FILE_SHARE_DELETE 0x00000004
#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5
WINBASEAPI HANDLE WINAPI CreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa,
                                     DWORD disposition, DWORD flags, HANDLE templ);
WINBASEAPI BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPVOID overlapped);
WINBASEAPI BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPVOID overlapped);
WINBASEAPI DWORD WINAPI GetFileSize(HANDLE file, LPDWORD high);
WINBASEAPI BOOL WINAPI GetFileSizeEx(HANDLE file, PLARGE_INTEGER size);
WINBASEAPI BOOL WINAPI FlushFileBuffers(HANDLE file);

// ---- modules ----
// The module path of the process is the real path of the running executable.
WINBASEAPI DWORD WINAPI GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size);
// Known platform modules ("kernel32", "kernel32.dll", ...) and loaded shared objects.
// The platform's own modules (kernel32, advapi32, user32, shell32, shlwapi) are
// all the stand-in's one shared object, so they share one handle; "name.dll"
// also finds a loaded "libname.so". Null names the executable.
WINBASEAPI HMODULE WINAPI GetModuleHandleW(LPCWSTR name);
// Exported C functions by name. With the root's machine setting wow64=absent
// the platform has no IsWow64Process (ERROR_PROC_NOT_FOUND).
WINBASEAPI FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name);
// Loads a shared object as a module; the handle is its load address, as
// GetModuleHandleW gives it, and each load is given back by one FreeLibrary.
// A name with a folder (a Windows path, "Z:\..." for the Linux file system) is
// that file; a bare name is first a module already loaded under that name (as
// GetModuleHandleW finds it), else a file in the executable's folder, the
// current folder, or the root's Windows\System32 and Windows folders.
// ERROR_MOD_NOT_FOUND for a missing file (or a missing library it needs),
// ERROR_BAD_EXE_FORMAT for a file that is no loadable module,
// ERROR_PROC_NOT_FOUND when it needs a function nobody exports.
WINBASEAPI HMODULE WINAPI LoadLibraryW(LPCWSTR name);
#define LOAD_WITH_ALTERED_SEARCH_PATH 0x00000008
// LoadLibraryW; hFile must be null and the flags 0 or LOAD_WITH_ALTERED_SEARCH_PATH
// (else ERROR_INVALID_PARAMETER).
WINBASEAPI HMODULE WINAPI LoadLibraryExW(LPCWSTR name, HANDLE hFile, DWORD flags);
// Gives back one load; the module is unloaded with its last one. Modules the
// process started with stay. ERROR_MOD_NOT_FOUND for a handle that names no module.
WINBASEAPI BOOL WINAPI FreeLibrary(HMODULE module);
// Answers the root's machine setting wow64 ("1": TRUE, anything else FALSE).
WINBASEAPI BOOL WINAPI IsWow64Process(HANDLE process, PBOOL wow64);
WINBASEAPI LPWSTR WINAPI GetCommandLineW(void);

// ---- private profile (INI) files ----
WINBASEAPI UINT WINAPI GetPrivateProfileIntW(LPCWSTR section, LPCWSTR key, INT defaultValue, LPCWSTR file);
WINBASEAPI DWORD WINAPI GetPrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR defaultValue,
                                                 LPWSTR buffer, DWORD size, LPCWSTR file);
WINBASEAPI BOOL WINAPI WritePrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR value, LPCWSTR file);

// ---- debugger output ----
// Goes to the sink named by CORVANE_DEBUGGER_OUTPUT ("-" for standard error, else
// a file), by default the file "debugger-output.txt" in the platform root.
WINBASEAPI void WINAPI OutputDebugStringW(LPCWSTR text);

// ---- memory probes ----
// True when the string is not readable memory up to its terminator (or max).
WINBASEAPI BOOL WINAPI IsBadStringPtrW(LPCWSTR s, UINT_PTR max);
WINBASEAPI BOOL WINAPI IsBadReadPtr(const void* p, UINT_PTR size);

// ---- processes ----
typedef struct _STARTUPINFOW {
  DWORD cb;
  LPWSTR lpReserved;
  LPWSTR lpDesktop;
  LPWSTR lpTitle;
  DWORD dwX;
  DWORD dwY;
  DWORD dwXSize;
  DWORD dwYSize;
  DWORD dwXCountChars;
  DWORD dwYCountChars;
  DWORD dwFillAttribute;
  DWORD dwFlags;
  WORD wShowWindow;
  WORD cbReserved2;
  LPBYTE lpReserved2;
  HANDLE hStdInput;
  HANDLE hStdOutput;
  HANDLE hStdError;
} STARTUPINFOW, *LPSTARTUPINFOW;

typedef struct _PROCESS_INFORMATION {
  HANDLE hProcess;
  HANDLE hThread;
  DWORD dwProcessId;
  DWORD dwThreadId;
} PROCESS_INFORMATION, *PPROCESS_INFORMATION, *LPPROCESS_INFORMATION;

#define CREATE_NO_WINDOW 0x08000000
#define CREATE_UNICODE_ENVIRONMENT 0x00000400
#define STARTF_USESHOWWINDOW 0x00000001
// Starts a real child process. The program is the application name, or else the
// first token of the command line; a name without a folder is searched in the
// host's folder, the current folder and the Windows folder of the root, and
// "name.exe" also finds a program built without the suffix. The child sees the
// same platform root; its arguments are the command line split by the platform's
// rules (CommandLineToArgvW).
WINBASEAPI BOOL WINAPI CreateProcessW(LPCWSTR application, LPWSTR commandLine, LPSECURITY_ATTRIBUTES processSa,
                                      LPSECURITY_ATTRIBUTES threadSa, BOOL inheritHandles, DWORD flags,
                                      LPVOID environment, LPCWSTR currentDirectory, LPSTARTUPINFOW startup,
                                      LPPROCESS_INFORMATION info);
// The exit code of a child is its exit status (0-255: a POSIX status has 8 bits).
// A child ended by a signal reports what the platform reports for the matching
// fault: SIGSEGV and SIGBUS EXCEPTION_ACCESS_VIOLATION, SIGILL
// EXCEPTION_ILLEGAL_INSTRUCTION, SIGFPE EXCEPTION_INT_DIVIDE_BY_ZERO, SIGABRT 3 (as
// abort() ends a program there); SIGKILL sent by TerminateProcess the code given
// to it; any other signal n 128 + n, as a shell reports it.
WINBASEAPI BOOL WINAPI GetExitCodeProcess(HANDLE process, LPDWORD code);
WINBASEAPI BOOL WINAPI TerminateProcess(HANDLE process, UINT code);
WINBASEAPI DWORD WINAPI GetProcessId(HANDLE process);
WINBASEAPI LPWSTR* WINAPI CommandLineToArgvW(LPCWSTR commandLine, int* argc);

// ---- access tokens and privileges ----
typedef struct _LUID {
  DWORD LowPart;
  LONG HighPart;
} LUID, *PLUID;
#pragma pack(push, 4)
typedef struct _LUID_AND_ATTRIBUTES {
  LUID Luid;
  DWORD Attributes;
} LUID_AND_ATTRIBUTES, *PLUID_AND_ATTRIBUTES;
#pragma pack(pop)
typedef struct _TOKEN_PRIVILEGES {
  DWORD PrivilegeCount;
  LUID_AND_ATTRIBUTES Privileges[1];
} TOKEN_PRIVILEGES, *PTOKEN_PRIVILEGES;
static_assert(sizeof(TOKEN_PRIVILEGES) == 16, "one-entry privilege record");

#define TOKEN_ASSIGN_PRIMARY 0x0001
#define TOKEN_DUPLICATE 0x0002
#define TOKEN_QUERY 0x0008
#define TOKEN_ADJUST_PRIVILEGES 0x0020
#define TOKEN_ALL_ACCESS 0xF01FF
#define SE_PRIVILEGE_ENABLED_BY_DEFAULT 0x00000001
#define SE_PRIVILEGE_ENABLED 0x00000002
#define SE_PRIVILEGE_REMOVED 0x00000004
#define SE_BACKUP_NAME TEXT("SeBackupPrivilege")
#define SE_RESTORE_NAME TEXT("SeRestorePrivilege")
#define SE_SHUTDOWN_NAME TEXT("SeShutdownPrivilege")
#define SE_DEBUG_NAME TEXT("SeDebugPrivilege")

// One token per process. The privileges it holds come from the root's machine
// settings (all known privileges unless the root restricts them); all start
// disabled, and an enabled privilege is what the registry's hive calls check.
WINBASEAPI BOOL WINAPI OpenProcessToken(HANDLE process, DWORD access, PHANDLE token);
WINBASEAPI BOOL WINAPI LookupPrivilegeValueW(LPCWSTR system, LPCWSTR name, PLUID luid);
WINBASEAPI BOOL WINAPI AdjustTokenPrivileges(HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES newState,
                                             DWORD bufferLength, PTOKEN_PRIVILEGES previousState,
                                             PDWORD returnLength);
WINBASEAPI BOOL WINAPI GetUserNameW(LPWSTR buffer, LPDWORD size);

// ---- structured exceptions ----
#define EXCEPTION_ACCESS_VIOLATION 0xC0000005u
#define EXCEPTION_ILLEGAL_INSTRUCTION 0xC000001Du
#define EXCEPTION_INT_DIVIDE_BY_ZERO 0xC0000094u
#define EXCEPTION_IN_PAGE_ERROR 0xC0000006u
#define EXCEPTION_INT_OVERFLOW 0xC0000095u
#define EXCEPTION_FLT_DIVIDE_BY_ZERO 0xC000008Eu
#define EXCEPTION_FLT_INEXACT_RESULT 0xC000008Fu
#define EXCEPTION_FLT_INVALID_OPERATION 0xC0000090u
#define EXCEPTION_FLT_OVERFLOW 0xC0000091u
#define EXCEPTION_FLT_UNDERFLOW 0xC0000093u
#define EXCEPTION_NONCONTINUABLE 0x1
#define EXCEPTION_EXECUTE_HANDLER 1
// Raises a structured exception: caught by the innermost exception guard of the
// thread; with none, the process ends as the platform ends it (the code goes to
// standard error, then abort()). Bit 28 of the code is reserved and cleared.
WINBASEAPI void WINAPI RaiseException(DWORD code, DWORD flags, DWORD argc, const ULONG_PTR* args);
