#include "regnames.h"

#include <wcrt.h>

namespace standin::reg {

std::string NameBytes(std::u16string_view name) {
  std::string out;
  out.reserve(name.size() * 2);
  for (char16_t c : name) {
    out.push_back(static_cast<char>(c & 0xFF));
    out.push_back(static_cast<char>(c >> 8));
  }
  return out;
}

std::u16string NameFromBytes(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size() / 2);
  for (size_t i = 0; i + 1 < bytes.size(); i += 2)
    out.push_back(static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) | static_cast<uint8_t>(bytes[i + 1]) << 8));
  return out;
}

std::string FoldedName(std::u16string_view name) {
  std::string out;
  out.reserve(name.size() * 2);
  for (char16_t c : name) {
    char16_t f = FoldCase(c);
    out.push_back(static_cast<char>(f >> 8));
    out.push_back(static_cast<char>(f & 0xFF));
  }
  return out;
}

LONG SplitKeyPath(const WCHAR* path, std::vector<std::u16string>* names) {
  names->clear();
  if (!path || !*path) return ERROR_SUCCESS;
  if (*path == u'\\') return ERROR_BAD_PATHNAME;
  std::u16string_view rest(path);
  while (!rest.empty() && rest.back() == u'\\') rest.remove_suffix(1);
  while (!rest.empty()) {
    size_t sep = rest.find(u'\\');
    std::u16string_view part = rest.substr(0, sep);
    if (part.empty()) return ERROR_BAD_PATHNAME;
    if (part.size() > kMaxKeyNameChars) return ERROR_INVALID_PARAMETER;
    names->emplace_back(part);
    rest = sep == std::u16string_view::npos ? std::u16string_view() : rest.substr(sep + 1);
  }
  return ERROR_SUCCESS;
}

std::u16string_view ValueNameArg(const WCHAR* name) { return name ? std::u16string_view(name) : std::u16string_view(); }

}  // namespace standin::reg
