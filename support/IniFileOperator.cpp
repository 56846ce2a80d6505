#include "support/IniFileOperator.h"

namespace {

std::basic_string<WCHAR> Trimmed(std::basic_string<WCHAR> text) {
  auto blank = [](WCHAR c) { return c == TEXT(' ') || c == TEXT('\t') || c == TEXT('\r') || c == TEXT('\n'); };
  while (!text.empty() && blank(text.back())) text.pop_back();
  size_t start = 0;
  while (start < text.size() && blank(text[start])) ++start;
  return text.substr(start);
}

}  // namespace

bool CIniFileOperator::Locate(LPCWSTR fileName) {
  std::basic_string<WCHAR> name = Trimmed(fileName ? fileName : TEXT(""));
  if (name.find(TEXT('\\')) == std::basic_string<WCHAR>::npos) {
    WCHAR exe[MAX_PATH] = {};
    if (!GetModuleFileNameW(nullptr, exe, MAX_PATH)) return false;
    std::basic_string<WCHAR> folder = Trimmed(exe);
    size_t slash = folder.rfind(TEXT('\\'));
    folder.resize(slash == std::basic_string<WCHAR>::npos ? 0 : slash + 1);
    name = folder + name;
  }
  if (name.size() <= 4) return false;
  std::basic_string<WCHAR> tail = name.substr(name.size() - 4);
  for (WCHAR& c : tail) c = towlower(c);
  if (tail != TEXT(".ini")) name += TEXT(".ini");
  m_strFilePath = name;

  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW(m_strFilePath.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return false;
  FindClose(find);
  return true;
}
