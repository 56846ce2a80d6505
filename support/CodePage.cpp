#include "support/CodePage.h"

bool ToThreadAnsi(LPCWSTR wide, std::string& narrow) {
  narrow.clear();
  if (!wide || !*wide) return true;
  int needed = WideCharToMultiByte(CP_THREAD_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return false;
  std::string converted(static_cast<size_t>(needed), '\0');
  if (WideCharToMultiByte(CP_THREAD_ACP, 0, wide, -1, converted.data(), needed, nullptr, nullptr) <= 0) return false;
  converted.resize(static_cast<size_t>(needed) - 1);  // the terminator
  narrow.swap(converted);
  return true;
}

bool FromThreadAnsi(const char* narrow, std::basic_string<WCHAR>& wide) {
  wide.clear();
  if (!narrow || !*narrow) return true;
  int needed = MultiByteToWideChar(CP_THREAD_ACP, 0, narrow, -1, nullptr, 0);
  if (needed <= 0) return false;
  std::basic_string<WCHAR> converted(static_cast<size_t>(needed), 0);
  if (MultiByteToWideChar(CP_THREAD_ACP, 0, narrow, -1, converted.data(), needed) <= 0) return false;
  converted.resize(static_cast<size_t>(needed) - 1);
  wide.swap(converted);
  return true;
}
