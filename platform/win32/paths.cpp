// Path helpers of the shell's light-weight utility library.
#include <sys/stat.h>

#include "internal.h"

namespace {
bool IsSep(WCHAR c) { return c == u'\\' || c == u'/'; }
}  // namespace

extern "C" {

BOOL WINAPI PathFileExistsW(LPCWSTR path) {
  std::string p;
  if (!path || !standin::PosixFromArg(path, &p)) return FALSE;
  struct stat st {};
  return stat(p.c_str(), &st) == 0;
}

BOOL WINAPI PathIsDirectoryW(LPCWSTR path) {
  std::string p;
  if (!path || !standin::PosixFromArg(path, &p)) return FALSE;
  struct stat st {};
  return stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FALSE;
}

BOOL WINAPI PathIsRelativeW(LPCWSTR path) {
  if (!path || !*path) return TRUE;
  if (IsSep(path[0])) return FALSE;
  return !(path[1] == u':');
}

LPWSTR WINAPI PathAddBackslashW(LPWSTR path) {
  if (!path) return nullptr;
  size_t n = wcslen(path);
  if (n && IsSep(path[n - 1])) return path + n;
  if (n + 1 >= MAX_PATH) return nullptr;
  path[n] = u'\\';
  path[n + 1] = 0;
  return path + n + 1;
}

void WINAPI PathRemoveBackslashW(LPWSTR path) {
  if (!path) return;
  size_t n = wcslen(path);
  if (n > 1 && IsSep(path[n - 1]) && !(n == 3 && path[1] == u':')) path[n - 1] = 0;
}

BOOL WINAPI PathAppendW(LPWSTR path, LPCWSTR more) {
  if (!path || !more) return FALSE;
  std::u16string result(path);
  std::u16string_view tail(more);
  while (!tail.empty() && IsSep(tail[0])) tail.remove_prefix(1);
  if (!result.empty() && !IsSep(result.back()) && !tail.empty()) result += u'\\';
  result += tail;
  if (result.size() >= MAX_PATH) return FALSE;
  std::copy(result.begin(), result.end(), path);
  path[result.size()] = 0;
  return TRUE;
}

LPWSTR WINAPI PathCombineW(LPWSTR dest, LPCWSTR dir, LPCWSTR file) {
  if (!dest) return nullptr;
  std::u16string result;
  if (file && (!PathIsRelativeW(file) || !dir)) result = file;
  else {
    result = dir ? dir : u"";
    if (file && *file) {
      if (!result.empty() && !IsSep(result.back())) result += u'\\';
      result += file;
    }
  }
  if (result.size() >= MAX_PATH) {
    dest[0] = 0;
    return nullptr;
  }
  std::copy(result.begin(), result.end(), dest);
  dest[result.size()] = 0;
  return dest;
}

LPWSTR WINAPI PathFindFileNameW(LPCWSTR path) {
  if (!path) return nullptr;
  LPCWSTR name = path;
  for (LPCWSTR p = path; *p; ++p)
    if ((IsSep(*p) || *p == u':') && p[1] && !IsSep(p[1])) name = p + 1;
  return const_cast<LPWSTR>(name);
}

LPWSTR WINAPI PathFindExtensionW(LPCWSTR path) {
  if (!path) return nullptr;
  LPCWSTR dot = nullptr;
  LPCWSTR p = path;
  for (; *p; ++p) {
    if (IsSep(*p) || *p == u' ') dot = nullptr;
    else if (*p == u'.') dot = p;
  }
  return const_cast<LPWSTR>(dot ? dot : p);
}

void WINAPI PathRemoveExtensionW(LPWSTR path) {
  if (!path) return;
  *PathFindExtensionW(path) = 0;
}

BOOL WINAPI PathRenameExtensionW(LPWSTR path, LPCWSTR ext) {
  if (!path || !ext) return FALSE;
  LPWSTR dot = PathFindExtensionW(path);
  size_t keep = static_cast<size_t>(dot - path);
  if (keep + wcslen(ext) >= MAX_PATH) return FALSE;
  wcscpy_s(dot, MAX_PATH - keep, ext);
  return TRUE;
}

BOOL WINAPI PathRemoveFileSpecW(LPWSTR path) {
  if (!path) return FALSE;
  LPWSTR cut = nullptr;
  for (LPWSTR p = path; *p; ++p)
    if (IsSep(*p)) cut = p;
  if (!cut) {
    // "Z:name" keeps its drive, "Z:" stays as it is.
    LPWSTR from = (path[0] && path[1] == u':') ? path + 2 : path;
    bool changed = *from != 0;
    *from = 0;
    return changed;
  }
  // Keep the root's separator ("Z:\" or "\").
  if (cut == path || (cut == path + 2 && path[1] == u':')) ++cut;
  bool changed = *cut != 0;
  *cut = 0;
  return changed;
}

void WINAPI PathStripPathW(LPWSTR path) {
  if (!path) return;
  LPWSTR name = PathFindFileNameW(path);
  if (name != path) std::copy(name, name + wcslen(name) + 1, path);
}

}  // extern "C"
