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

std::string NarrowText(LPCWSTR wide, UINT codePage) {
  if (!wide || !*wide) return std::string();
  int needed = WideCharToMultiByte(codePage, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return std::string();
  std::string out(static_cast<size_t>(needed), '\0');
  if (WideCharToMultiByte(codePage, 0, wide, -1, out.data(), needed, nullptr, nullptr) <= 0) return std::string();
  out.resize(std::strlen(out.c_str()));
  return out;
}

std::basic_string<WCHAR> WideText(const char* narrow, UINT codePage) {
  if (!narrow || !*narrow) return std::basic_string<WCHAR>();
  int needed = MultiByteToWideChar(codePage, 0, narrow, -1, nullptr, 0);
  if (needed <= 0) return std::basic_string<WCHAR>();
  std::basic_string<WCHAR> out(static_cast<size_t>(needed), 0);
  if (MultiByteToWideChar(codePage, 0, narrow, -1, out.data(), needed) <= 0) return std::basic_string<WCHAR>();
  out.resize(std::char_traits<WCHAR>::length(out.c_str()));
  return out;
}
