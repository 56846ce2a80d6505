// Private-profile (INI) files. A file name without a folder lives in the
// Windows folder of the root, as on the platform.
#include <algorithm>
#include <filesystem>

#include "ini.h"
#include "internal.h"

using namespace standin;

namespace {

bool ResolveIniPath(LPCWSTR file, std::string* out) {
  if (!file || !*file) return Fail(ERROR_INVALID_PARAMETER);
  std::u16string_view name(file);
  if (name.find_first_of(u"\\/") == std::u16string_view::npos && !(name.size() > 1 && name[1] == u':')) {
    *out = RootPath("Windows/" + ToUtf8(name));
    return true;
  }
  return PosixFromArg(file, out);
}

// Copies text into buffer (size characters), cut to fit; returns characters copied.
DWORD CopyOut(std::u16string_view text, LPWSTR buffer, DWORD size) {
  if (!buffer || size == 0) return 0;
  size_t n = std::min<size_t>(text.size(), size - 1);
  std::copy(text.begin(), text.begin() + static_cast<ptrdiff_t>(n), buffer);
  buffer[n] = 0;
  return static_cast<DWORD>(n);
}

// A list of names, each terminated, the list ended by an extra terminator. When
// it does not fit, the last name is cut and the result is size - 2.
DWORD CopyList(const std::vector<std::u16string>& names, LPWSTR buffer, DWORD size) {
  if (!buffer || size == 0) return 0;
  if (size == 1) {
    buffer[0] = 0;
    return 0;
  }
  std::u16string all;
  for (const auto& n : names) all += n + u'\0';
  if (all.size() + 1 <= size) {
    std::copy(all.begin(), all.end(), buffer);
    buffer[all.size()] = 0;
    return static_cast<DWORD>(all.size());
  }
  std::copy(all.begin(), all.begin() + (size - 2), buffer);
  buffer[size - 2] = 0;
  buffer[size - 1] = 0;
  return size - 2;
}

}  // namespace

extern "C" {

DWORD WINAPI GetPrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR defaultValue, LPWSTR buffer,
                                      DWORD size, LPCWSTR file) {
  if (!buffer || size == 0) return 0;
  // The default loses trailing blanks.
  std::u16string def = defaultValue ? defaultValue : u"";
  while (!def.empty() && def.back() == u' ') def.pop_back();
  std::string path;
  if (!ResolveIniPath(file, &path)) return CopyOut(def, buffer, size);
  auto sections = ReadIniFile(path);
  if (!sections) {
    DWORD n = CopyOut(def, buffer, size);
    SetLastError(ERROR_FILE_NOT_FOUND);
    return n;
  }
  if (!section) {
    std::vector<std::u16string> names;
    for (const auto& s : *sections) names.push_back(s.name);
    return CopyList(names, buffer, size);
  }
  const IniSection* s = FindIniSection(*sections, section);
  if (!key) {
    std::vector<std::u16string> names;
    if (s)
      for (const auto& e : s->entries) names.push_back(e.first);
    return CopyList(names, buffer, size);
  }
  const std::u16string* value = s ? FindIniValue(*s, key) : nullptr;
  SetLastError(value ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND);
  return CopyOut(value ? std::u16string_view(*value) : std::u16string_view(def), buffer, size);
}

UINT WINAPI GetPrivateProfileIntW(LPCWSTR section, LPCWSTR key, INT defaultValue, LPCWSTR file) {
  WCHAR buffer[30];
  if (GetPrivateProfileStringW(section, key, u"", buffer, 30, file) == 0) return static_cast<UINT>(defaultValue);
  // As the platform reads it: optional sign, a 0x/0o/0b base prefix, digits up
  // to the first other character; no digits give 0.
  const WCHAR* p = buffer;
  while (*p == u' ' || *p == u'\t') ++p;
  bool negative = false;
  if (*p == u'+' || *p == u'-') negative = *p++ == u'-';
  unsigned base = 10;
  if (p[0] == u'0' && (p[1] == u'x' || p[1] == u'X')) base = 16, p += 2;
  else if (p[0] == u'0' && (p[1] == u'o' || p[1] == u'O')) base = 8, p += 2;
  else if (p[0] == u'0' && (p[1] == u'b' || p[1] == u'B')) base = 2, p += 2;
  uint32_t value = 0;
  for (;; ++p) {
    unsigned d = (*p >= u'0' && *p <= u'9') ? *p - u'0'
                 : (*p >= u'a' && *p <= u'f') ? *p - u'a' + 10
                 : (*p >= u'A' && *p <= u'F') ? *p - u'A' + 10
                                               : 99;
    if (d >= base) break;
    value = value * base + d;
  }
  return negative ? 0u - value : value;
}

BOOL WINAPI WritePrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR value, LPCWSTR file) {
  if (FaultedWithLastError("WritePrivateProfileStringW")) return FALSE;
  std::string path;
  if (!section || !ResolveIniPath(file, &path)) return Fail(ERROR_INVALID_PARAMETER);
  auto sections = ReadIniFile(path).value_or(std::vector<IniSection>{});
  auto it = std::find_if(sections.begin(), sections.end(),
                         [&](const IniSection& s) { return CompareNoCase(s.name, section) == 0; });
  if (!key) {  // null key: remove the section
    if (it != sections.end()) sections.erase(it);
  } else {
    if (it == sections.end()) {
      sections.push_back({section, {}});
      it = sections.end() - 1;
    }
    auto& entries = it->entries;
    auto e = std::find_if(entries.begin(), entries.end(),
                          [&](const auto& kv) { return CompareNoCase(kv.first, key) == 0; });
    if (!value) {
      if (e != entries.end()) entries.erase(e);
    } else if (e != entries.end()) {
      e->second = value;
    } else {
      entries.emplace_back(key, value);
    }
  }
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
  if (!WriteIniFile(path, sections)) return FailFromErrno();
  return TRUE;
}

}  // extern "C"
