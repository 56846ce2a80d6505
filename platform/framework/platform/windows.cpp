// The framework's platform services on Windows.
#include "../fwplatform.h"

#include <climits>
#include <new>

namespace fw {

WString Widen(const char* text, size_t length) {
  if (length == 0) return WString();
  if (length > static_cast<size_t>(INT_MAX)) throw std::bad_alloc();
  int n = static_cast<int>(length);
  int wide = MultiByteToWideChar(CP_ACP, 0, text, n, nullptr, 0);
  if (wide <= 0) return WString();
  WString out(static_cast<size_t>(wide), WCHAR(0));
  if (MultiByteToWideChar(CP_ACP, 0, text, n, out.data(), wide) != wide) return WString();
  return out;
}

// One character through the platform's case mapping; a surrogate half stays.
WCHAR UpperCase(WCHAR c) {
  if (c >= 0xD800 && c <= 0xDFFF) return c;
  CharUpperBuffW(&c, 1);
  return c;
}

WCHAR LowerCase(WCHAR c) {
  if (c >= 0xD800 && c <= 0xDFFF) return c;
  CharLowerBuffW(&c, 1);
  return c;
}

int CompareNoCase(LPCWSTR a, LPCWSTR b) {
  int r = CompareStringOrdinal(a, -1, b, -1, TRUE);
  return r == CSTR_LESS_THAN ? -1 : r == CSTR_GREATER_THAN ? 1 : 0;
}

bool TakeFault(const char*, int32_t*) { return false; }

}  // namespace fw
