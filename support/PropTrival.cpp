#include "support/PropTrival.h"

#include "support/Log.h"

#include <cstdint>
#include <cstring>

LPCWSTR GetValidString(const SPropValue* value) {
  // The whole type must be PT_UNICODE: a multi-valued string shares its low
  // bits but holds a count and an array, not a string.
  if (!value || PROP_TYPE(value->ulPropTag) != PT_UNICODE) return nullptr;
  if (!value->Value.lpszW) return nullptr;
  if (IsBadStringPtrW(value->Value.lpszW, static_cast<UINT_PTR>(-1))) {
    LogMessageAt(LOG_ERROR, TEXT(".\\PropTrival"), 17, TEXT("GetValidString`s argument has a bad string."));
    return nullptr;
  }
  return value->Value.lpszW;
}

bool IsReadableNarrow(const char* s) {
  if (!s) return false;
  const char* at = s;
  for (;;) {
    size_t toPageEnd = 4096 - (reinterpret_cast<uintptr_t>(at) & 4095);
    if (IsBadReadPtr(at, toPageEnd)) return false;
    if (std::memchr(at, 0, toPageEnd)) return true;
    at += toPageEnd;
  }
}
