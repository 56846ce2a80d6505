#include "support/TextConvert.h"

#include <cstring>

bool NarrowInto(LPCWSTR wide, UINT codePage, char* out, int outBytes) {
  if (!out || outBytes <= 0) return false;
  std::memset(out, 0, static_cast<size_t>(outBytes));
  if (!wide || !*wide) return true;
  // Measured first, so that a long text is refused before anything is written.
  int needed = WideCharToMultiByte(codePage, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (needed <= 0 || needed > outBytes) return false;
  if (WideCharToMultiByte(codePage, 0, wide, -1, out, outBytes, nullptr, nullptr) > 0) return true;
  std::memset(out, 0, static_cast<size_t>(outBytes));
  return false;
}

bool NarrowText(LPCWSTR wide, UINT codePage, std::string& out) {
  out.clear();
  if (!wide || !*wide) return true;
  int needed = WideCharToMultiByte(codePage, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return false;
  std::string converted(static_cast<size_t>(needed), '\0');
  if (WideCharToMultiByte(codePage, 0, wide, -1, converted.data(), needed, nullptr, nullptr) <= 0) return false;
  converted.resize(std::strlen(converted.c_str()));
  out.swap(converted);
  return true;
}

bool WideText(const char* narrow, UINT codePage, std::basic_string<WCHAR>& out) {
  out.clear();
  if (!narrow || !*narrow) return true;
  int needed = MultiByteToWideChar(codePage, 0, narrow, -1, nullptr, 0);
  if (needed <= 0) return false;
  std::basic_string<WCHAR> converted(static_cast<size_t>(needed), 0);
  if (MultiByteToWideChar(codePage, 0, narrow, -1, converted.data(), needed) <= 0) return false;
  converted.resize(std::char_traits<WCHAR>::length(converted.c_str()));
  out.swap(converted);
  return true;
}
