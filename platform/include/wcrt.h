// Wide-character run-time functions of the platform's C library, for WCHAR text.
// Where WCHAR is wchar_t these come from the C library itself; here WCHAR is
// char16_t, so the stand-in supplies the same names as overloads.
//
// Formatting is type-safe: the printf-style functions are variadic templates that
// hand typed values to one bounds-checked formatter, so a format whose values do
// not match its conversions prints a marker instead of reading garbage, and no
// output ever runs past the buffer.
#pragma once

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <string_view>
#include <type_traits>

#include "windef.h"

#define _TRUNCATE ((size_t)-1)

namespace standin {

// One value for the formatter.
struct FormatArg {
  enum Kind : uint8_t { kSigned, kUnsigned, kDouble, kWide, kNarrow, kPointer };
  Kind kind;
  uint8_t bytes;  // width of an integer value
  union {
    long long i;
    unsigned long long u;
    double d;
    const WCHAR* ws;
    const char* s;
    const void* p;
  };
};

template <class>
inline constexpr bool kAlwaysFalse = false;

template <class T>
FormatArg MakeFormatArg(const T& x) {
  using D = std::decay_t<T>;
  FormatArg a{};
  if constexpr (std::is_same_v<D, bool>) {
    a.kind = FormatArg::kUnsigned, a.bytes = 4, a.u = x ? 1u : 0u;
  } else if constexpr (std::is_enum_v<D>) {
    return MakeFormatArg(static_cast<std::underlying_type_t<D>>(x));
  } else if constexpr (std::is_integral_v<D>) {
    a.bytes = static_cast<uint8_t>(sizeof(D));
    if constexpr (std::is_signed_v<D>)
      a.kind = FormatArg::kSigned, a.i = static_cast<long long>(x);
    else
      a.kind = FormatArg::kUnsigned, a.u = static_cast<unsigned long long>(x);
  } else if constexpr (std::is_floating_point_v<D>) {
    a.kind = FormatArg::kDouble, a.d = static_cast<double>(x);
  } else if constexpr (std::is_convertible_v<const T&, const WCHAR*>) {
    a.kind = FormatArg::kWide, a.ws = static_cast<const WCHAR*>(x);
  } else if constexpr (std::is_convertible_v<const T&, const char*>) {
    a.kind = FormatArg::kNarrow, a.s = static_cast<const char*>(x);
  } else if constexpr (std::is_pointer_v<D> || std::is_null_pointer_v<D>) {
    a.kind = FormatArg::kPointer, a.p = reinterpret_cast<const void*>(x);
  } else {
    static_assert(kAlwaysFalse<T>, "value cannot be formatted");
  }
  return a;
}

// Formats into buf (capacity cap characters, terminator included). Writes at most
// cap-1 characters and always terminates when cap > 0. Returns the number of
// characters written; *truncated tells whether the output was cut.
STANDIN_API int FormatWide(WCHAR* buf, size_t cap, const WCHAR* fmt, const FormatArg* args,
                          size_t count, bool* truncated);

// UTF-16 <-> UTF-8. Unpaired surrogates and invalid bytes become U+FFFD.
STANDIN_API std::string ToUtf8(std::u16string_view text);
STANDIN_API std::u16string ToUtf16(std::string_view text);
// Simple Unicode case folding of one UTF-16 unit (upper case, as the platform
// compares names).
STANDIN_API WCHAR FoldCase(WCHAR c);
STANDIN_API int CompareNoCase(std::u16string_view a, std::u16string_view b);

template <class... Args>
int FormatTyped(WCHAR* buf, size_t cap, const WCHAR* fmt, bool* truncated, const Args&... args) {
  if constexpr (sizeof...(Args) == 0) {
    return FormatWide(buf, cap, fmt, nullptr, 0, truncated);
  } else {
    const FormatArg packed[] = {MakeFormatArg(args)...};
    return FormatWide(buf, cap, fmt, packed, sizeof...(Args), truncated);
  }
}

}  // namespace standin

// ---- C library wide-string functions for WCHAR ----

inline size_t wcslen(const WCHAR* s) {
  size_t n = 0;
  while (s[n]) ++n;
  return n;
}
inline size_t wcsnlen(const WCHAR* s, size_t max) {
  size_t n = 0;
  while (n < max && s[n]) ++n;
  return n;
}
inline int wcscmp(const WCHAR* a, const WCHAR* b) {
  for (;; ++a, ++b) {
    if (*a != *b) return *a < *b ? -1 : 1;
    if (!*a) return 0;
  }
}
inline int wcsncmp(const WCHAR* a, const WCHAR* b, size_t n) {
  for (; n; --n, ++a, ++b) {
    if (*a != *b) return *a < *b ? -1 : 1;
    if (!*a) return 0;
  }
  return 0;
}
inline WCHAR towlower(WCHAR c) { return (c >= u'A' && c <= u'Z') ? static_cast<WCHAR>(c + 32) : c; }
inline WCHAR towupper(WCHAR c) { return (c >= u'a' && c <= u'z') ? static_cast<WCHAR>(c - 32) : c; }
// The C library's case-insensitive compares fold A-Z only (the "C" locale).
inline int _wcsnicmp(const WCHAR* a, const WCHAR* b, size_t n) {
  for (; n; --n, ++a, ++b) {
    WCHAR x = towlower(*a), y = towlower(*b);
    if (x != y) return x < y ? -1 : 1;
    if (!x) return 0;
  }
  return 0;
}
inline int _wcsicmp(const WCHAR* a, const WCHAR* b) { return _wcsnicmp(a, b, static_cast<size_t>(-1)); }
inline const WCHAR* wcschr(const WCHAR* s, WCHAR c) {
  for (;; ++s) {
    if (*s == c) return s;
    if (!*s) return nullptr;
  }
}
inline WCHAR* wcschr(WCHAR* s, WCHAR c) { return const_cast<WCHAR*>(wcschr(const_cast<const WCHAR*>(s), c)); }
inline const WCHAR* wcsrchr(const WCHAR* s, WCHAR c) {
  const WCHAR* last = nullptr;
  for (;; ++s) {
    if (*s == c) last = s;
    if (!*s) return last;
  }
}
inline WCHAR* wcsrchr(WCHAR* s, WCHAR c) { return const_cast<WCHAR*>(wcsrchr(const_cast<const WCHAR*>(s), c)); }
inline const WCHAR* wcsstr(const WCHAR* s, const WCHAR* sub) {
  size_t n = wcslen(sub);
  for (; *s; ++s)
    if (wcsncmp(s, sub, n) == 0) return s;
  return n == 0 ? s : nullptr;
}
inline WCHAR* wcsstr(WCHAR* s, const WCHAR* sub) { return const_cast<WCHAR*>(wcsstr(const_cast<const WCHAR*>(s), sub)); }

#ifndef _ERRNO_T_DEFINED
#define _ERRNO_T_DEFINED
typedef int errno_t;
#endif
#define STRUNCATE 80

// Secure copies: the destination is never overrun. A source that does not fit
// empties the destination and fails, unless count is _TRUNCATE, which cuts it.
inline errno_t wcsncpy_s(WCHAR* dst, size_t size, const WCHAR* src, size_t count) {
  if (!dst || size == 0) return EINVAL;
  if (!src) { dst[0] = 0; return EINVAL; }
  // Copied element by element: the source is read only up to its terminator.
  size_t i = 0;
  for (; i < count && src[i]; ++i) {
    if (i + 1 == size) {
      if (count == _TRUNCATE) {
        dst[i] = 0;
        return STRUNCATE;
      }
      dst[0] = 0;
      return ERANGE;
    }
    dst[i] = src[i];
  }
  dst[i] = 0;
  return 0;
}
inline errno_t wcscpy_s(WCHAR* dst, size_t size, const WCHAR* src) {
  if (!dst || size == 0) return EINVAL;
  if (!src) { dst[0] = 0; return EINVAL; }
  size_t n = wcsnlen(src, size);
  if (n >= size) { dst[0] = 0; return ERANGE; }
  std::memcpy(dst, src, (n + 1) * sizeof(WCHAR));
  return 0;
}
inline errno_t wcscat_s(WCHAR* dst, size_t size, const WCHAR* src) {
  if (!dst || size == 0) return EINVAL;
  size_t used = wcsnlen(dst, size);
  if (used == size || !src) { dst[0] = 0; return EINVAL; }
  size_t n = wcslen(src);
  if (used + n >= size) { dst[0] = 0; return ERANGE; }
  std::memcpy(dst + used, src, (n + 1) * sizeof(WCHAR));
  return 0;
}
template <size_t N> errno_t wcscpy_s(WCHAR (&dst)[N], const WCHAR* src) { return wcscpy_s(dst, N, src); }
template <size_t N> errno_t wcscat_s(WCHAR (&dst)[N], const WCHAR* src) { return wcscat_s(dst, N, src); }
template <size_t N> errno_t wcsncpy_s(WCHAR (&dst)[N], const WCHAR* src, size_t count) { return wcsncpy_s(dst, N, src, count); }

inline errno_t _wcslwr_s(WCHAR* s, size_t size) {
  if (!s || wcsnlen(s, size) == size) return EINVAL;
  for (; *s; ++s) *s = towlower(*s);
  return 0;
}
inline errno_t _wcsupr_s(WCHAR* s, size_t size) {
  if (!s || wcsnlen(s, size) == size) return EINVAL;
  for (; *s; ++s) *s = towupper(*s);
  return 0;
}

// The platform's long is 32 bits: results are kept to its range, clamped with
// ERANGE when the text is out of it.
STANDIN_API long wcstol(const WCHAR* s, WCHAR** end, int base);
STANDIN_API unsigned long wcstoul(const WCHAR* s, WCHAR** end, int base);
inline int _wtoi(const WCHAR* s) { return static_cast<int>(wcstol(s, nullptr, 10)); }

// printf family. Returns characters written, or -1 when the output did not fit
// (the _TRUNCATE forms keep what fits; swprintf_s leaves an empty string).
template <class... Args>
int _snwprintf_s(WCHAR* buf, size_t size, size_t count, const WCHAR* fmt, const Args&... args) {
  if (!buf || size == 0 || !fmt) return -1;
  size_t cap = (count == _TRUNCATE || count >= size) ? size : count + 1;
  bool cut = false;
  int n = standin::FormatTyped(buf, cap, fmt, &cut, args...);
  if (!cut) return n;
  if (count != _TRUNCATE && count >= size) buf[0] = 0;
  return -1;
}
template <size_t N, class... Args>
int _snwprintf_s(WCHAR (&buf)[N], size_t count, const WCHAR* fmt, const Args&... args) {
  return _snwprintf_s(buf, N, count, fmt, args...);
}
template <class... Args>
int swprintf_s(WCHAR* buf, size_t size, const WCHAR* fmt, const Args&... args) {
  if (!buf || size == 0 || !fmt) return -1;
  bool cut = false;
  int n = standin::FormatTyped(buf, size, fmt, &cut, args...);
  if (!cut) return n;
  buf[0] = 0;
  return -1;
}
template <size_t N, class... Args>
int swprintf_s(WCHAR (&buf)[N], const WCHAR* fmt, const Args&... args) {
  return swprintf_s(buf, N, fmt, args...);
}

// Wide stream output: UTF-16 is written as UTF-8. Files opened with _wfopen in a
// text mode translate "\n" to "\r\n" themselves.
STANDIN_API int fputws(const WCHAR* s, FILE* f);
STANDIN_API FILE* _wfopen(const WCHAR* path, const WCHAR* mode);
#define _tfopen _wfopen

// ---- Path splitting and composing, with the platform's path rules ----
// A drive is a letter and a colon at the start; either separator ends the
// directory part, which keeps its trailing separator; the extension is the
// last '.' of the final part and everything after it, the dot included.
// A part that is not wanted is passed as null with a size of 0.

namespace standin {
inline bool IsPathSeparator(WCHAR c) { return c == u'\\' || c == u'/'; }
// Copies count characters of src and terminates; false when they do not fit.
inline bool CopyPathPart(WCHAR* dst, size_t size, const WCHAR* src, size_t count) {
  if (!dst) return true;
  if (count >= size) return false;
  for (size_t i = 0; i < count; ++i) dst[i] = src[i];
  dst[count] = 0;
  return true;
}
}  // namespace standin

// If a wanted part does not fit its buffer, every wanted part is emptied and
// ERANGE returned; a null path, or a buffer whose pointer and size disagree,
// is EINVAL.
inline errno_t _wsplitpath_s(const WCHAR* path, WCHAR* drive, size_t driveSize, WCHAR* dir, size_t dirSize,
                             WCHAR* fname, size_t fnameSize, WCHAR* ext, size_t extSize) {
  WCHAR* parts[] = {drive, dir, fname, ext};
  size_t sizes[] = {driveSize, dirSize, fnameSize, extSize};
  auto clear = [&] {
    for (int i = 0; i < 4; ++i)
      if (parts[i] && sizes[i]) parts[i][0] = 0;
  };
  for (int i = 0; i < 4; ++i)
    if ((parts[i] == nullptr) != (sizes[i] == 0)) {
      clear();
      return EINVAL;
    }
  if (!path) {
    clear();
    return EINVAL;
  }
  size_t length = wcslen(path);
  size_t driveLength = (length >= 2 && path[1] == u':') ? 2 : 0;
  const WCHAR* rest = path + driveLength;
  size_t restLength = length - driveLength;
  size_t dirLength = 0;  // up to and including the last separator
  for (size_t i = 0; i < restLength; ++i)
    if (standin::IsPathSeparator(rest[i])) dirLength = i + 1;
  const WCHAR* name = rest + dirLength;
  size_t nameLength = restLength - dirLength;
  size_t dot = nameLength;
  for (size_t i = nameLength; i > 0; --i)
    if (name[i - 1] == u'.') {
      dot = i - 1;
      break;
    }
  if (!standin::CopyPathPart(drive, driveSize, path, driveLength) ||
      !standin::CopyPathPart(dir, dirSize, rest, dirLength) || !standin::CopyPathPart(fname, fnameSize, name, dot) ||
      !standin::CopyPathPart(ext, extSize, name + dot, nameLength - dot)) {
    clear();
    return ERANGE;
  }
  return 0;
}
template <size_t D, size_t P, size_t F, size_t E>
errno_t _wsplitpath_s(const WCHAR* path, WCHAR (&drive)[D], WCHAR (&dir)[P], WCHAR (&fname)[F], WCHAR (&ext)[E]) {
  return _wsplitpath_s(path, drive, D, dir, P, fname, F, ext, E);
}

// Composes drive (its letter; the colon is added when missing), dir (a
// separator is added when it lacks one), fname and ext (a dot is added when
// it lacks one). Any part may be null. A result that does not fit empties
// path and returns ERANGE.
inline errno_t _wmakepath_s(WCHAR* path, size_t size, const WCHAR* drive, const WCHAR* dir, const WCHAR* fname,
                            const WCHAR* ext) {
  if (!path || size == 0) return EINVAL;
  size_t used = 0;
  bool fits = true;
  auto put = [&](WCHAR c) {
    if (used + 1 >= size) fits = false;
    else path[used++] = c;
  };
  if (drive && *drive) {
    put(drive[0]);
    put(u':');
  }
  if (dir && *dir) {
    size_t n = wcslen(dir);
    for (size_t i = 0; i < n; ++i) put(dir[i]);
    if (!standin::IsPathSeparator(dir[n - 1])) put(u'\\');
  }
  if (fname)
    for (const WCHAR* p = fname; *p; ++p) put(*p);
  if (ext && *ext) {
    if (*ext != u'.') put(u'.');
    for (const WCHAR* p = ext; *p; ++p) put(*p);
  }
  if (!fits) {
    path[0] = 0;
    return ERANGE;
  }
  path[used] = 0;
  return 0;
}
template <size_t N>
errno_t _wmakepath_s(WCHAR (&path)[N], const WCHAR* drive, const WCHAR* dir, const WCHAR* fname, const WCHAR* ext) {
  return _wmakepath_s(path, N, drive, dir, fname, ext);
}
