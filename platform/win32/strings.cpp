// UTF-16 text: case folding and the platform's string functions (the
// conversions are in utf.cpp).
#include <clocale>
#include <cwctype>
#include <locale.h>

#include <windows.h>

namespace standin {

WCHAR FoldCase(WCHAR c) {
  if (c < 0x80) return (c >= u'a' && c <= u'z') ? static_cast<WCHAR>(c - 32) : c;
  static locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
  if (!utf8 || (c >= 0xD800 && c <= 0xDFFF)) return c;
  wint_t up = towupper_l(static_cast<wint_t>(c), utf8);
  return up <= 0xFFFF ? static_cast<WCHAR>(up) : c;
}

}  // namespace standin

namespace {

// The C library's integer parsing with the platform's 32-bit long: leading
// blanks, a sign, a 0x prefix (base 16 or 0), digits up to the first other
// character. *overflow tells whether the magnitude passed limit.
unsigned long long ParseInteger(const WCHAR* s, WCHAR** end, int base, unsigned long long limit, bool* negative,
                                bool* overflow) {
  const WCHAR* p = s;
  while (*p == u' ' || *p == u'\t' || *p == u'\n' || *p == u'\r' || *p == u'\v' || *p == u'\f') ++p;
  *negative = false;
  *overflow = false;
  if (*p == u'+' || *p == u'-') *negative = *p++ == u'-';
  if ((base == 0 || base == 16) && p[0] == u'0' && (p[1] == u'x' || p[1] == u'X')) p += 2, base = 16;
  else if (base == 0 && p[0] == u'0') base = 8;
  else if (base == 0) base = 10;
  unsigned long long value = 0;
  const WCHAR* digitsStart = p;
  if (base >= 2 && base <= 36) {
    for (;; ++p) {
      int d = (*p >= u'0' && *p <= u'9') ? *p - u'0'
              : (*p >= u'a' && *p <= u'z') ? *p - u'a' + 10
              : (*p >= u'A' && *p <= u'Z') ? *p - u'A' + 10
                                            : 99;
      if (d >= base) break;
      if (value > (limit - static_cast<unsigned>(d)) / static_cast<unsigned>(base)) *overflow = true;
      else value = value * static_cast<unsigned>(base) + static_cast<unsigned>(d);
    }
  }
  if (end) *end = const_cast<WCHAR*>(p == digitsStart ? s : p);
  return value;
}

}  // namespace

// The platform's long is 32 bits: values out of its range are clamped and set
// ERANGE, as its C library does.
long wcstol(const WCHAR* s, WCHAR** end, int base) {
  bool negative, overflow;
  unsigned long long v = ParseInteger(s, end, base, 0x80000000ull, &negative, &overflow);
  if (negative) {
    if (overflow) errno = ERANGE;
    return overflow ? -0x80000000L : -static_cast<long>(v);
  }
  if (overflow || v > 0x7FFFFFFFull) {
    errno = ERANGE;
    return 0x7FFFFFFFL;
  }
  return static_cast<long>(v);
}

unsigned long wcstoul(const WCHAR* s, WCHAR** end, int base) {
  bool negative, overflow;
  unsigned long long v = ParseInteger(s, end, base, 0xFFFFFFFFull, &negative, &overflow);
  if (overflow) {
    errno = ERANGE;
    return 0xFFFFFFFFul;
  }
  return negative ? static_cast<unsigned long>((0x100000000ull - v) & 0xFFFFFFFFull) : static_cast<unsigned long>(v);
}

namespace {

// The result of a conversion into the caller's buffer; a zero length asks for
// the size only.
template <class Text, class Char>
int CopyConverted(const Text& out, Char* dst, int dstLen) {
  if (dstLen == 0) return static_cast<int>(out.size());
  if (out.size() > static_cast<size_t>(dstLen)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::copy(out.begin(), out.end(), dst);
  return static_cast<int>(out.size());
}

}  // namespace

extern "C" {

int WINAPI lstrlenW(LPCWSTR s) { return s ? static_cast<int>(wcslen(s)) : 0; }

LPWSTR WINAPI lstrcpynW(LPWSTR dst, LPCWSTR src, int max) {
  if (!dst || !src || max <= 0) return dst;
  int i = 0;
  for (; i < max - 1 && src[i]; ++i) dst[i] = src[i];
  dst[i] = 0;
  return dst;
}

int WINAPI lstrcmpW(LPCWSTR a, LPCWSTR b) {
  if (!a || !b) return a ? 1 : b ? -1 : 0;
  int r = wcscmp(a, b);
  return r < 0 ? -1 : r > 0 ? 1 : 0;
}

int WINAPI lstrcmpiW(LPCWSTR a, LPCWSTR b) {
  if (!a || !b) return a ? 1 : b ? -1 : 0;
  return standin::CompareNoCase(a, b);
}

int WINAPI MultiByteToWideChar(UINT cp, DWORD flags, LPCSTR src, int srcLen, LPWSTR dst, int dstLen) {
  if (!src || srcLen == 0 || dstLen < 0 || (dstLen > 0 && !dst)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::string_view in = srcLen < 0 ? std::string_view(src, std::strlen(src) + 1) : std::string_view(src, srcLen);
  return CopyConverted(standin::ToUtf16(in), dst, dstLen);
}

int WINAPI WideCharToMultiByte(UINT cp, DWORD flags, LPCWSTR src, int srcLen, LPSTR dst, int dstLen,
                               LPCSTR defaultChar, LPBOOL usedDefault) {
  if (!src || srcLen == 0 || dstLen < 0 || (dstLen > 0 && !dst)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::u16string_view in = srcLen < 0 ? std::u16string_view(src, wcslen(src) + 1) : std::u16string_view(src, srcLen);
  if (usedDefault) *usedDefault = FALSE;
  return CopyConverted(standin::ToUtf8(in), dst, dstLen);
}

}  // extern "C"
