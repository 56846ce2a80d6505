// The thread's last error, system messages and the debugger output sink.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

#include "internal.h"

namespace {
thread_local DWORD t_lastError = 0;

const std::map<DWORD, const char*>& Messages() {
  static const std::map<DWORD, const char*> messages = {
      {ERROR_SUCCESS, "The operation completed successfully."},
      {ERROR_INVALID_FUNCTION, "Incorrect function."},
      {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified."},
      {ERROR_PATH_NOT_FOUND, "The system cannot find the path specified."},
      {ERROR_TOO_MANY_OPEN_FILES, "The system cannot open the file."},
      {ERROR_ACCESS_DENIED, "Access is denied."},
      {ERROR_INVALID_HANDLE, "The handle is invalid."},
      {ERROR_NOT_ENOUGH_MEMORY, "Not enough memory resources are available to process this command."},
      {ERROR_INVALID_DATA, "The data is invalid."},
      {ERROR_OUTOFMEMORY, "Not enough memory resources are available to complete this operation."},
      {ERROR_NO_MORE_FILES, "There are no more files."},
      {ERROR_SHARING_VIOLATION,
       "The process cannot access the file because it is being used by another process."},
      {ERROR_NOT_SUPPORTED, "The request is not supported."},
      {ERROR_FILE_EXISTS, "The file exists."},
      {ERROR_INVALID_PARAMETER, "The parameter is incorrect."},
      {ERROR_DISK_FULL, "There is not enough space on the disk."},
      {ERROR_INSUFFICIENT_BUFFER, "The data area passed to a system call is too small."},
      {ERROR_INVALID_NAME, "The filename, directory name, or volume label syntax is incorrect."},
      {ERROR_MOD_NOT_FOUND, "The specified module could not be found."},
      {ERROR_PROC_NOT_FOUND, "The specified procedure could not be found."},
      {ERROR_DIR_NOT_EMPTY, "The directory is not empty."},
      {ERROR_ALREADY_EXISTS, "Cannot create a file when that file already exists."},
      {ERROR_FILENAME_EXCED_RANGE, "The filename or extension is too long."},
      {ERROR_BAD_EXE_FORMAT, "The program is not a valid application."},
      {ERROR_MORE_DATA, "More data is available."},
      {ERROR_NO_MORE_ITEMS, "No more data is available."},
      {ERROR_DIRECTORY, "The directory name is invalid."},
      {ERROR_NOT_OWNER, "Attempt to release mutex not owned by caller."},
      {ERROR_BADDB, "The configuration registry database is corrupt."},
      {ERROR_BADKEY, "The configuration registry key is invalid."},
      {ERROR_CANTOPEN, "The configuration registry key could not be opened."},
      {ERROR_CANTREAD, "The configuration registry key could not be read."},
      {ERROR_CANTWRITE, "The configuration registry key could not be written."},
      {ERROR_REGISTRY_CORRUPT,
       "The structure of one of the files containing registry data is corrupt, or the file is not a registry "
       "hive."},
      {ERROR_REGISTRY_IO_FAILED, "An I/O operation initiated by the registry failed unrecoverably."},
      {ERROR_NOT_REGISTRY_FILE, "The system has attempted to load or restore a file into the registry, but the "
                                "specified file is not in a registry file format."},
      {ERROR_KEY_DELETED, "Illegal operation attempted on a registry key that has been marked for deletion."},
      {ERROR_NOT_ALL_ASSIGNED, "Not all privileges or groups referenced are assigned to the caller."},
      {ERROR_NO_SUCH_PRIVILEGE, "A specified privilege does not exist."},
      {ERROR_PRIVILEGE_NOT_HELD, "A required privilege is not held by the client."},
      {ERROR_INVALID_WINDOW_HANDLE, "Invalid window handle."},
      {ERROR_TIMEOUT, "This operation returned because the timeout period expired."},
      {ERROR_NOT_FOUND, "Element not found."},
      // Result codes of COM that are not Win32 errors.
      {static_cast<DWORD>(E_UNEXPECTED), "Catastrophic failure"},
      {static_cast<DWORD>(E_NOTIMPL), "Not implemented"},
      {static_cast<DWORD>(E_NOINTERFACE), "No such interface supported"},
      {static_cast<DWORD>(E_POINTER), "Invalid pointer"},
      {static_cast<DWORD>(E_ABORT), "Operation aborted"},
      {static_cast<DWORD>(E_FAIL), "Unspecified error"},
      {static_cast<DWORD>(REGDB_E_CLASSNOTREG), "Class not registered"},
      {static_cast<DWORD>(CO_E_NOTINITIALIZED), "CoInitialize has not been called."},
  };
  return messages;
}

// The text of a code; a Win32 error wrapped as a result code has the error's text.
const char* MessageText(DWORD id) {
  auto it = Messages().find(id);
  if (it == Messages().end() && (id & 0xFFFF0000u) == 0x80070000u) it = Messages().find(id & 0xFFFF);
  return it == Messages().end() ? nullptr : it->second;
}

std::mutex g_debugLock;
}  // namespace

namespace standin {

DWORD ErrorFromErrno(int err) {
  switch (err) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS: return ERROR_ACCESS_DENIED;
    case EEXIST: return ERROR_ALREADY_EXISTS;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return ERROR_DISK_FULL;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case EISDIR: return ERROR_ACCESS_DENIED;
    case EBUSY: return ERROR_BUSY;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case EBADF: return ERROR_INVALID_HANDLE;
    case ENOEXEC: return ERROR_BAD_EXE_FORMAT;
    default: return ERROR_INVALID_FUNCTION;
  }
}

BOOL FailFromErrno() { return Fail(ErrorFromErrno(errno)); }

}  // namespace standin

extern "C" {

DWORD WINAPI GetLastError(void) { return t_lastError; }
void WINAPI SetLastError(DWORD err) { t_lastError = err; }

HLOCAL WINAPI LocalAlloc(UINT flags, SIZE_T bytes) {
  void* p = (flags & LMEM_ZEROINPTR) ? std::calloc(1, bytes ? bytes : 1) : std::malloc(bytes ? bytes : 1);
  if (!p) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return p;
}

HLOCAL WINAPI LocalFree(HLOCAL mem) {
  std::free(mem);
  return nullptr;
}

DWORD WINAPI FormatMessageW(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId, LPWSTR buffer,
                            DWORD size, va_list* args) {
  if (!(flags & FORMAT_MESSAGE_FROM_SYSTEM) || !buffer) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const char* message = MessageText(messageId);
  if (!message) {
    SetLastError(ERROR_NOT_FOUND);  // the platform: ERROR_MR_MID_NOT_FOUND
    return 0;
  }
  std::u16string text = standin::ToUtf16(message) + u"\r\n";
  if (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
    DWORD n = std::max<DWORD>(size, static_cast<DWORD>(text.size() + 1));
    auto* mem = static_cast<WCHAR*>(LocalAlloc(LPTR, n * sizeof(WCHAR)));
    if (!mem) return 0;
    std::copy(text.begin(), text.end(), mem);
    *reinterpret_cast<LPWSTR*>(buffer) = mem;
    return static_cast<DWORD>(text.size());
  }
  if (text.size() + 1 > size) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::copy(text.begin(), text.end(), buffer);
  buffer[text.size()] = 0;
  return static_cast<DWORD>(text.size());
}

void WINAPI OutputDebugStringW(LPCWSTR text) {
  if (!text) return;
  std::string line = standin::ToUtf8(text);
  std::lock_guard<std::mutex> guard(g_debugLock);
  const char* sink = std::getenv("CORVANE_DEBUGGER_OUTPUT");
  if (sink && std::strcmp(sink, "-") == 0) {
    std::fwrite(line.data(), 1, line.size(), stderr);
    return;
  }
  std::string path = sink && *sink ? std::string(sink) : standin::RootPath("debugger-output.txt");
  if (FILE* f = std::fopen(path.c_str(), "ab")) {
    std::fwrite(line.data(), 1, line.size(), f);
    std::fclose(f);
  }
}

}  // extern "C"
