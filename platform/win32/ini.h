// Settings files in the platform's INI syntax, shared by the private-profile
// functions and the root's machine settings.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace standin {

struct IniSection {
  std::u16string name;
  std::vector<std::pair<std::u16string, std::u16string>> entries;
};

// Reads a file as UTF-16 (with its byte-order mark) or UTF-8. Section and key
// names are trimmed; values are trimmed and lose one pair of enclosing quotes;
// lines starting with ';' are comments. Missing file: nullopt.
std::optional<std::vector<IniSection>> ReadIniFile(const std::string& posixPath);
// Writes the sections as UTF-8 with CRLF line ends, replacing the file whole.
bool WriteIniFile(const std::string& posixPath, const std::vector<IniSection>& sections);

// Case-insensitive lookups; the first match wins.
const IniSection* FindIniSection(const std::vector<IniSection>& sections, std::u16string_view name);
const std::u16string* FindIniValue(const IniSection& section, std::u16string_view key);

}  // namespace standin
