#include "ini.h"

#include <fstream>
#include <iterator>
#include <sstream>

#include <windows.h>

namespace standin {
namespace {

std::u16string Trim(std::u16string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == u' ' || s[b] == u'\t' || s[b] == u'\r')) ++b;
  while (e > b && (s[e - 1] == u' ' || s[e - 1] == u'\t' || s[e - 1] == u'\r')) --e;
  return std::u16string(s.substr(b, e - b));
}

std::u16string Decode(const std::string& bytes) {
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    std::u16string out;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2)
      out.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                          (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    return out;
  }
  std::string_view view(bytes);
  if (view.size() >= 3 && view.substr(0, 3) == "\xEF\xBB\xBF") view.remove_prefix(3);
  return ToUtf16(view);
}

}  // namespace

std::optional<std::vector<IniSection>> ReadIniFile(const std::string& posixPath) {
  std::ifstream in(posixPath, std::ios::binary);
  if (!in) return std::nullopt;
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::u16string text = Decode(bytes);

  std::vector<IniSection> sections;
  IniSection* current = nullptr;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t end = text.find(u'\n', pos);
    if (end == std::u16string::npos) end = text.size();
    std::u16string line = Trim(std::u16string_view(text).substr(pos, end - pos));
    pos = end + 1;
    if (line.empty() || line[0] == u';') continue;
    if (line[0] == u'[') {
      size_t close = line.find(u']');
      sections.push_back({Trim(std::u16string_view(line).substr(1, close == std::u16string::npos ? line.size() - 1 : close - 1)), {}});
      current = &sections.back();
      continue;
    }
    if (!current) continue;
    size_t eq = line.find(u'=');
    std::u16string key = Trim(std::u16string_view(line).substr(0, eq));
    std::u16string value = eq == std::u16string::npos ? u"" : Trim(std::u16string_view(line).substr(eq + 1));
    if (value.size() >= 2 && ((value.front() == u'"' && value.back() == u'"') ||
                              (value.front() == u'\'' && value.back() == u'\'')))
      value = value.substr(1, value.size() - 2);
    current->entries.emplace_back(std::move(key), std::move(value));
  }
  return sections;
}

bool WriteIniFile(const std::string& posixPath, const std::vector<IniSection>& sections) {
  std::ostringstream out;
  for (const IniSection& s : sections) {
    out << '[' << ToUtf8(s.name) << "]\r\n";
    for (const auto& [k, v] : s.entries) out << ToUtf8(k) << '=' << ToUtf8(v) << "\r\n";
  }
  std::string tmp = posixPath + ".tmp";
  {
    std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
    if (!f) return false;
    f << out.str();
    if (!f.flush()) return false;
  }
  return std::rename(tmp.c_str(), posixPath.c_str()) == 0;
}

const IniSection* FindIniSection(const std::vector<IniSection>& sections, std::u16string_view name) {
  for (const IniSection& s : sections)
    if (CompareNoCase(s.name, name) == 0) return &s;
  return nullptr;
}

const std::u16string* FindIniValue(const IniSection& section, std::u16string_view key) {
  for (const auto& [k, v] : section.entries)
    if (CompareNoCase(k, key) == 0) return &v;
  return nullptr;
}

}  // namespace standin
