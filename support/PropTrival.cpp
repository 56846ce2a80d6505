#include "support/PropTrival.h"

#include "support/Log.h"

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
