// Files and folders on the Linux file system, seen through Windows paths.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "handles.h"
#include "internal.h"

namespace fs = std::filesystem;

namespace standin {

bool PosixFromArg(LPCWSTR path, std::string* out) {
  if (!path) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  if (!*path) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return false;
  }
  *out = ToPosixPath(path);
  if (out->empty()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return false;
  }
  return true;
}

}  // namespace standin

using namespace standin;

namespace {

FILETIME ToFileTime(const struct timespec& ts) {
  uint64_t ticks = static_cast<uint64_t>(ts.tv_sec) * 10000000ull + ts.tv_nsec / 100 + 116444736000000000ull;
  return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

DWORD AttributesOf(const std::string& path, const struct stat& st) {
  DWORD a = 0;
  if (S_ISDIR(st.st_mode)) a |= FILE_ATTRIBUTE_DIRECTORY;
  if (access(path.c_str(), W_OK) != 0 && errno == EACCES) a |= FILE_ATTRIBUTE_READONLY;
  return a ? a : FILE_ATTRIBUTE_ARCHIVE;
}

// Why a path cannot be found: its folder is missing, or only the last part.
DWORD NotFoundError(const std::string& path) {
  std::string parent = fs::path(path).parent_path().string();
  struct stat st {};
  if (!parent.empty() && (stat(parent.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))) return ERROR_PATH_NOT_FOUND;
  return ERROR_FILE_NOT_FOUND;
}

bool FillFindData(const std::string& path, const std::string& name, WIN32_FIND_DATAW* data) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return false;
  std::u16string wname = ToUtf16(name);
  if (wname.size() >= MAX_PATH) return false;
  *data = WIN32_FIND_DATAW{};
  data->dwFileAttributes = AttributesOf(path, st);
  data->ftCreationTime = ToFileTime(st.st_ctim);
  data->ftLastAccessTime = ToFileTime(st.st_atim);
  data->ftLastWriteTime = ToFileTime(st.st_mtim);
  uint64_t size = S_ISDIR(st.st_mode) ? 0 : static_cast<uint64_t>(st.st_size);
  data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
  data->nFileSizeLow = static_cast<DWORD>(size);
  std::copy(wname.begin(), wname.end(), data->cFileName);
  return true;
}

// Wildcards of the platform: '*' any run, '?' one character; case-insensitive.
// A final ".*" also matches a name without an extension, so "*.*" is every name.
bool WildMatch(std::u16string_view pattern, std::u16string_view name) {
  if (pattern.empty()) return name.empty();
  if (pattern == u".*" && name.empty()) return true;
  if (pattern[0] == u'*') {
    for (size_t i = 0; i <= name.size(); ++i)
      if (WildMatch(pattern.substr(1), name.substr(i))) return true;
    return false;
  }
  if (name.empty()) return false;
  if (pattern[0] != u'?' && FoldCase(pattern[0]) != FoldCase(name[0])) return false;
  return WildMatch(pattern.substr(1), name.substr(1));
}

// Copies what is left of one open file to another: 0, or the errno that
// stopped it (a full disk is ENOSPC, not a vague failure).
int CopyBytes(int in, int out) {
  std::vector<char> buf(1 << 20);
  for (;;) {
    ssize_t n = read(in, buf.data(), buf.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return 0;
    for (ssize_t done = 0; done < n;) {
      ssize_t w = write(out, buf.data() + done, static_cast<size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w < 0) return errno;
      done += w;
    }
  }
}

class FindObject : public KernelObject {
 public:
  std::string folder;
  std::vector<std::string> names;
  size_t next = 0;
};

class FileObject : public KernelObject {
 public:
  explicit FileObject(int fd) : fd(fd) {}
  ~FileObject() override { close(fd); }
  int fd;
};

bool NextMatch(FindObject& find, WIN32_FIND_DATAW* data) {
  while (find.next < find.names.size()) {
    const std::string& name = find.names[find.next++];
    std::string full = find.folder.empty() ? name : find.folder == "/" ? "/" + name : find.folder + "/" + name;
    if (FillFindData(full, name, data)) return true;
  }
  return false;
}

}  // namespace

extern "C" {

HANDLE WINAPI FindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW data) {
  if (FaultedWithLastError("FindFirstFileW")) return INVALID_HANDLE_VALUE;
  std::string path;
  if (!data || !PosixFromArg(pattern, &path)) return INVALID_HANDLE_VALUE;
  auto find = std::make_shared<FindObject>();
  size_t slash = path.rfind('/');
  std::string spec = slash == std::string::npos ? path : path.substr(slash + 1);
  find->folder = slash == std::string::npos ? "" : (slash == 0 ? "/" : path.substr(0, slash));
  if (spec.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  std::u16string wspec = ToUtf16(spec);
  if (spec.find_first_of("*?") == std::string::npos) {
    find->names.push_back(spec);
  } else {
    DIR* dir = opendir(find->folder.empty() ? "." : find->folder.c_str());
    if (!dir) {
      SetLastError(ERROR_PATH_NOT_FOUND);
      return INVALID_HANDLE_VALUE;
    }
    while (struct dirent* e = readdir(dir))
      if (WildMatch(wspec, ToUtf16(e->d_name))) find->names.push_back(e->d_name);
    closedir(dir);
  }
  if (!NextMatch(*find, data)) {
    SetLastError(spec.find_first_of("*?") == std::string::npos ? NotFoundError(path) : ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  return NewHandle(find);
}

BOOL WINAPI FindNextFileW(HANDLE h, LPWIN32_FIND_DATAW data) {
  auto find = LookupHandleAs<FindObject>(h);
  if (!find || !data) return Fail(ERROR_INVALID_HANDLE);
  if (!NextMatch(*find, data)) return Fail(ERROR_NO_MORE_FILES);
  return TRUE;
}

BOOL WINAPI FindClose(HANDLE h) {
  if (!LookupHandleAs<FindObject>(h)) return FALSE;
  return CloseHandle(h);
}

DWORD WINAPI GetFileAttributesW(LPCWSTR path) {
  if (FaultedWithLastError("GetFileAttributesW")) return INVALID_FILE_ATTRIBUTES;
  std::string p;
  if (!PosixFromArg(path, &p)) return INVALID_FILE_ATTRIBUTES;
  struct stat st {};
  if (stat(p.c_str(), &st) != 0) {
    SetLastError(errno == ENOENT ? NotFoundError(p) : ErrorFromErrno(errno));
    return INVALID_FILE_ATTRIBUTES;
  }
  return AttributesOf(p, st);
}

BOOL WINAPI GetFileAttributesExW(LPCWSTR path, GET_FILEEX_INFO_LEVELS level, LPVOID info) {
  std::string p;
  if (!info || level != GetFileExInfoStandard) return Fail(ERROR_INVALID_PARAMETER);
  if (!PosixFromArg(path, &p)) return FALSE;
  WIN32_FIND_DATAW data;
  if (!FillFindData(p, "x", &data)) return Fail(errno == ENOENT ? NotFoundError(p) : ErrorFromErrno(errno));
  auto* out = static_cast<WIN32_FILE_ATTRIBUTE_DATA*>(info);
  *out = WIN32_FILE_ATTRIBUTE_DATA{data.dwFileAttributes, data.ftCreationTime, data.ftLastAccessTime,
                                   data.ftLastWriteTime,   data.nFileSizeHigh,  data.nFileSizeLow};
  return TRUE;
}

BOOL WINAPI CreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES) {
  if (FaultedWithLastError("CreateDirectoryW")) return FALSE;
  std::string p;
  if (!PosixFromArg(path, &p)) return FALSE;
  if (mkdir(p.c_str(), 0777) != 0) return Fail(errno == ENOENT ? ERROR_PATH_NOT_FOUND : ErrorFromErrno(errno));
  return TRUE;
}

BOOL WINAPI RemoveDirectoryW(LPCWSTR path) {
  std::string p;
  if (!PosixFromArg(path, &p)) return FALSE;
  if (rmdir(p.c_str()) != 0) return Fail(errno == ENOTDIR ? ERROR_DIRECTORY : ErrorFromErrno(errno));
  return TRUE;
}

BOOL WINAPI DeleteFileW(LPCWSTR path) {
  if (FaultedWithLastError("DeleteFileW")) return FALSE;
  std::string p;
  if (!PosixFromArg(path, &p)) return FALSE;
  struct stat st {};
  if (stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return Fail(ERROR_ACCESS_DENIED);
  if (unlink(p.c_str()) != 0) return Fail(errno == ENOENT ? NotFoundError(p) : ErrorFromErrno(errno));
  return TRUE;
}

BOOL WINAPI CopyFileW(LPCWSTR from, LPCWSTR to, BOOL failIfExists) {
  if (FaultedWithLastError("CopyFileW")) return FALSE;
  std::string a, b;
  if (!PosixFromArg(from, &a) || !PosixFromArg(to, &b)) return FALSE;
  int in = open(a.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return Fail(errno == ENOENT ? NotFoundError(a) : ErrorFromErrno(errno));
  struct stat st {};
  if (fstat(in, &st) != 0 || S_ISDIR(st.st_mode)) {
    close(in);
    return Fail(ERROR_ACCESS_DENIED);
  }
  struct stat existing {};
  if (failIfExists && lstat(b.c_str(), &existing) == 0) {
    close(in);
    return Fail(ERROR_FILE_EXISTS);
  }
  // Copy beside the target, then rename: a failed copy never leaves half a file.
  static std::atomic<unsigned> s_copies{0};
  std::string tmp = b + ".copy-" + std::to_string(getpid()) + "-" + std::to_string(s_copies++);
  int out = open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, st.st_mode & 0777);
  if (out < 0) {
    int err = errno;
    close(in);
    return Fail(err == ENOENT ? ERROR_PATH_NOT_FOUND : ErrorFromErrno(err));
  }
  int err = CopyBytes(in, out);
  if (!err) {
    // The platform keeps the source's last-write time on the copy.
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    futimens(out, times);
  }
  if (close(out) != 0 && !err) err = errno;
  close(in);
  if (!err) {
    if (failIfExists) {
      // Not over a file that appeared meanwhile.
      if (renameat2(AT_FDCWD, tmp.c_str(), AT_FDCWD, b.c_str(), RENAME_NOREPLACE) != 0)
        err = (errno == EINVAL || errno == ENOSYS) && rename(tmp.c_str(), b.c_str()) == 0 ? 0 : errno;
    } else if (rename(tmp.c_str(), b.c_str()) != 0) {
      err = errno;
    }
  }
  if (err) {
    unlink(tmp.c_str());
    return Fail(err == EEXIST ? ERROR_FILE_EXISTS : ErrorFromErrno(err));
  }
  return TRUE;
}

BOOL WINAPI MoveFileExW(LPCWSTR from, LPCWSTR to, DWORD flags) {
  if (FaultedWithLastError("MoveFileExW")) return FALSE;
  std::string a, b;
  if (!PosixFromArg(from, &a) || !PosixFromArg(to, &b)) return FALSE;
  struct stat st {};
  if (stat(a.c_str(), &st) != 0) return Fail(NotFoundError(a));
  if (!(flags & MOVEFILE_REPLACE_EXISTING) && stat(b.c_str(), &st) == 0) return Fail(ERROR_ALREADY_EXISTS);
  if (rename(a.c_str(), b.c_str()) != 0) {
    if (errno == EXDEV && (flags & MOVEFILE_COPY_ALLOWED)) {
      if (!CopyFileW(from, to, FALSE)) return FALSE;
      return DeleteFileW(from);
    }
    return Fail(errno == ENOENT ? ERROR_PATH_NOT_FOUND : ErrorFromErrno(errno));
  }
  return TRUE;
}

BOOL WINAPI MoveFileW(LPCWSTR from, LPCWSTR to) {
  if (FaultedWithLastError("MoveFileW")) return FALSE;
  return MoveFileExW(from, to, MOVEFILE_COPY_ALLOWED);
}

DWORD WINAPI GetFullPathNameW(LPCWSTR path, DWORD size, LPWSTR buffer, LPWSTR* filePart) {
  std::string p;
  if (!PosixFromArg(path, &p)) return 0;
  std::error_code ec;
  bool trailing = !p.empty() && p.back() == '/';
  std::string full = fs::absolute(p, ec).lexically_normal().string();
  if (ec) return Fail(ERROR_INVALID_NAME);
  if (!trailing && full.size() > 1 && full.back() == '/') full.pop_back();
  std::u16string w = ToWindowsPath(full);
  if (w.size() + 1 > size || !buffer) return static_cast<DWORD>(w.size() + 1);
  std::copy(w.begin(), w.end(), buffer);
  buffer[w.size()] = 0;
  if (filePart) {
    size_t last = w.rfind(u'\\');
    *filePart = (last == std::u16string::npos || last + 1 == w.size()) ? nullptr : buffer + last + 1;
  }
  return static_cast<DWORD>(w.size());
}

DWORD WINAPI GetTempPathW(DWORD size, LPWSTR buffer) {
  const char* tmp = std::getenv("TMPDIR");
  std::u16string w = ToWindowsPath(tmp && *tmp ? tmp : "/tmp");
  if (w.back() != u'\\') w += u'\\';
  if (w.size() + 1 > size || !buffer) return static_cast<DWORD>(w.size() + 1);
  std::copy(w.begin(), w.end(), buffer);
  buffer[w.size()] = 0;
  return static_cast<DWORD>(w.size());
}

UINT WINAPI GetTempFileNameW(LPCWSTR folder, LPCWSTR prefix, UINT unique, LPWSTR name) {
  std::string dir;
  if (!name || !PosixFromArg(folder, &dir)) return 0;
  std::u16string pre = prefix ? std::u16string(prefix).substr(0, 3) : u"";
  // The platform tries every number from 1 to 0xFFFF once, starting anywhere.
  UINT start = unique ? (unique & 0xFFFF) : (static_cast<UINT>(getpid()) & 0xFFFF);
  for (UINT tries = 0; tries < (unique ? 1u : 0xFFFFu); ++tries) {
    UINT n = unique ? (unique & 0xFFFF) : (start + tries) % 0xFFFF + 1;
    char hex[16];
    std::snprintf(hex, sizeof hex, "%.4X", n);
    // The folder may end in a backslash (as GetTempPathW gives it).
    std::string file = dir + (dir.back() == '/' ? "" : "/") + ToUtf8(pre) + hex + ".tmp";
    std::u16string w = ToWindowsPath(file);
    if (w.size() >= MAX_PATH) return Fail(ERROR_FILENAME_EXCED_RANGE), 0;
    if (!unique) {
      int fd = open(file.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
      if (fd < 0) {
        if (errno == EEXIST) continue;
        FailFromErrno();
        return 0;
      }
      close(fd);
    }
    std::copy(w.begin(), w.end(), name);
    name[w.size()] = 0;
    return n;
  }
  return Fail(ERROR_FILE_EXISTS), 0;
}

DWORD WINAPI GetCurrentDirectoryW(DWORD size, LPWSTR buffer) {
  std::error_code ec;
  std::u16string w = ToWindowsPath(fs::current_path(ec).string());
  if (w.size() + 1 > size || !buffer) return static_cast<DWORD>(w.size() + 1);
  std::copy(w.begin(), w.end(), buffer);
  buffer[w.size()] = 0;
  return static_cast<DWORD>(w.size());
}

DWORD WINAPI GetEnvironmentVariableW(LPCWSTR name, LPWSTR buffer, DWORD size) {
  if (!name) return Fail(ERROR_INVALID_PARAMETER);
  const char* v = std::getenv(ToUtf8(name).c_str());
  if (!v) return Fail(ERROR_ENVVAR_NOT_FOUND);
  std::u16string w = ToUtf16(v);
  if (w.size() + 1 > size || !buffer) return static_cast<DWORD>(w.size() + 1);
  std::copy(w.begin(), w.end(), buffer);
  buffer[w.size()] = 0;
  return static_cast<DWORD>(w.size());
}

HANDLE WINAPI CreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa, DWORD disposition,
                          DWORD flags, HANDLE templ) {
  if (FaultedWithLastError("CreateFileW")) return INVALID_HANDLE_VALUE;
  std::string p;
  if (!PosixFromArg(path, &p)) return INVALID_HANDLE_VALUE;
  int oflags = O_CLOEXEC;
  bool r = access & GENERIC_READ, w = access & GENERIC_WRITE;
  oflags |= (r && w) ? O_RDWR : w ? O_WRONLY : O_RDONLY;
  switch (disposition) {
    case CREATE_NEW: oflags |= O_CREAT | O_EXCL; break;
    case CREATE_ALWAYS: oflags |= O_CREAT | O_TRUNC; break;
    case OPEN_EXISTING: break;
    case OPEN_ALWAYS: oflags |= O_CREAT; break;
    case TRUNCATE_EXISTING: oflags |= O_TRUNC; break;
    default: SetLastError(ERROR_INVALID_PARAMETER); return INVALID_HANDLE_VALUE;
  }
  struct stat st {};
  bool existed = stat(p.c_str(), &st) == 0;
  int fd = open(p.c_str(), oflags, 0666);
  if (fd < 0) {
    SetLastError(errno == EEXIST ? ERROR_FILE_EXISTS : errno == ENOENT ? NotFoundError(p) : ErrorFromErrno(errno));
    return INVALID_HANDLE_VALUE;
  }
  // A folder is no file: the platform opens one only for backup semantics,
  // which the stand-in does not offer.
  if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    close(fd);
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  SetLastError(existed && (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS) ? ERROR_ALREADY_EXISTS
                                                                                       : ERROR_SUCCESS);
  return NewHandle(std::make_shared<FileObject>(fd));
}

BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPVOID) {
  if (read) *read = 0;
  auto f = LookupHandleAs<FileObject>(file);
  if (!f) return FALSE;
  ssize_t n = ::read(f->fd, buffer, toRead);
  if (n < 0) return FailFromErrno();
  if (read) *read = static_cast<DWORD>(n);
  return TRUE;
}

BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPVOID) {
  if (written) *written = 0;
  if (FaultedWithLastError("WriteFile")) return FALSE;
  auto f = LookupHandleAs<FileObject>(file);
  if (!f) return FALSE;
  size_t done = 0;
  while (done < toWrite) {
    ssize_t n = ::write(f->fd, static_cast<const char*>(buffer) + done, toWrite - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (written) *written = static_cast<DWORD>(done);
      return FailFromErrno();
    }
    done += static_cast<size_t>(n);
  }
  if (written) *written = static_cast<DWORD>(done);
  return TRUE;
}

BOOL WINAPI GetFileSizeEx(HANDLE file, PLARGE_INTEGER size) {
  auto f = LookupHandleAs<FileObject>(file);
  if (!f || !size) return FALSE;
  struct stat st {};
  if (fstat(f->fd, &st) != 0) return FailFromErrno();
  size->QuadPart = st.st_size;
  return TRUE;
}

DWORD WINAPI GetFileSize(HANDLE file, LPDWORD high) {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file, &size)) return INVALID_FILE_SIZE;
  if (high) *high = static_cast<DWORD>(size.QuadPart >> 32);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(size.QuadPart);
}

BOOL WINAPI FlushFileBuffers(HANDLE file) {
  auto f = LookupHandleAs<FileObject>(file);
  if (!f) return FALSE;
  if (fsync(f->fd) != 0) return FailFromErrno();
  return TRUE;
}

}  // extern "C"
