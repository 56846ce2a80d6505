// COM's class lookups through the registry's classes key.
#include <objbase.h>

#include <string>

#include "internal.h"

namespace {

constexpr size_t kGuidChars = 38;  // "{8-4-4-4-12}"

int HexDigit(WCHAR c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// Reads `digits` hex digits at text[pos]; false when one is not a hex digit.
bool ReadHex(const WCHAR* text, size_t pos, size_t digits, uint32_t* out) {
  uint32_t value = 0;
  for (size_t i = 0; i < digits; ++i) {
    int d = HexDigit(text[pos + i]);
    if (d < 0) return false;
    value = (value << 4) | static_cast<uint32_t>(d);
  }
  *out = value;
  return true;
}

bool ParseGuid(const WCHAR* text, GUID* guid) {
  // The length is checked first, so every index below is inside the text.
  if (wcsnlen(text, kGuidChars + 1) != kGuidChars) return false;
  if (text[0] != u'{' || text[9] != u'-' || text[14] != u'-' || text[19] != u'-' || text[24] != u'-' ||
      text[37] != u'}')
    return false;
  uint32_t d1, d2, d3, b;
  if (!ReadHex(text, 1, 8, &d1) || !ReadHex(text, 10, 4, &d2) || !ReadHex(text, 15, 4, &d3)) return false;
  GUID g{};
  g.Data1 = d1;
  g.Data2 = static_cast<uint16_t>(d2);
  g.Data3 = static_cast<uint16_t>(d3);
  static const size_t kBytePos[8] = {20, 22, 25, 27, 29, 31, 33, 35};
  for (size_t i = 0; i < 8; ++i) {
    if (!ReadHex(text, kBytePos[i], 2, &b)) return false;
    g.Data4[i] = static_cast<uint8_t>(b);
  }
  *guid = g;
  return true;
}

HRESULT FromRegistryStatus(LSTATUS status, HRESULT notFound) {
  if (status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND) return notFound;
  return REGDB_E_READREGDB;
}

}  // namespace

extern "C" {

HRESULT STDAPICALLTYPE CLSIDFromString(LPCOLESTR text, LPCLSID clsid) {
  if (!clsid) return E_INVALIDARG;
  *clsid = GUID{};
  if (!text || !ParseGuid(text, clsid)) return CO_E_CLASSSTRING;
  return S_OK;
}

HRESULT STDAPICALLTYPE CLSIDFromProgID(LPCOLESTR progId, LPCLSID clsid) {
  if (!progId || !clsid) return E_INVALIDARG;
  *clsid = GUID{};
  int32_t code = 0;
  if (standin::TakeFault("CLSIDFromProgID", &code)) return code;
  // A program identifier is one key name: an empty one or one with a path
  // separator names no program.
  if (!*progId || wcschr(progId, u'\\')) return CO_E_CLASSSTRING;

  std::u16string path = u"SOFTWARE\\Classes\\";
  path += progId;
  HKEY key = nullptr;
  LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_QUERY_VALUE, &key);
  if (status != ERROR_SUCCESS) return FromRegistryStatus(status, CO_E_CLASSSTRING);

  WCHAR text[kGuidChars + 1] = {};
  DWORD size = sizeof text;
  status = RegGetValueW(key, u"CLSID", nullptr, RRF_RT_REG_SZ, nullptr, text, &size);
  LSTATUS closed = RegCloseKey(key);
  if (status == ERROR_MORE_DATA || status == ERROR_UNSUPPORTED_TYPE) return CO_E_CLASSSTRING;
  if (status != ERROR_SUCCESS) return FromRegistryStatus(status, REGDB_E_CLASSNOTREG);
  if (closed != ERROR_SUCCESS) return REGDB_E_READREGDB;
  GUID found{};
  if (!ParseGuid(text, &found)) return CO_E_CLASSSTRING;
  *clsid = found;
  return S_OK;
}

int STDAPICALLTYPE StringFromGUID2(REFGUID guid, LPOLESTR text, int cch) {
  if (!text || cch < static_cast<int>(kGuidChars + 1)) return 0;
  static const char kHex[] = "0123456789ABCDEF";
  size_t pos = 0;
  auto put = [&](uint32_t value, int digits) {
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) text[pos++] = static_cast<WCHAR>(kHex[(value >> shift) & 15]);
  };
  text[pos++] = u'{';
  put(guid.Data1, 8);
  text[pos++] = u'-';
  put(guid.Data2, 4);
  text[pos++] = u'-';
  put(guid.Data3, 4);
  text[pos++] = u'-';
  put(guid.Data4[0], 2);
  put(guid.Data4[1], 2);
  text[pos++] = u'-';
  for (int i = 2; i < 8; ++i) put(guid.Data4[i], 2);
  text[pos++] = u'}';
  text[pos] = 0;
  return static_cast<int>(kGuidChars + 1);
}

}  // extern "C"
