#include <standin/root.h>

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <mutex>

#include <windows.h>

#include "ini.h"

namespace standin {

std::string PlatformRoot() {
  std::string root;
  if (const char* env = std::getenv("CORVANE_PLATFORM_ROOT"); env && *env) {
    root = env;
  } else if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) {
    root = std::string(xdg) + "/corvane/machine";
  } else {
    const char* home = std::getenv("HOME");
    root = std::string(home && *home ? home : "/tmp") + "/.local/share/corvane/machine";
  }
  // Asked for by nearly every call: normalise and create once per root.
  static std::mutex lock;
  static std::string lastAsked, lastRoot;
  std::lock_guard<std::mutex> guard(lock);
  if (root == lastAsked && !lastRoot.empty()) return lastRoot;
  std::error_code ec;
  std::string full = std::filesystem::absolute(root, ec).lexically_normal().string();
  if (full.size() > 1 && full.back() == '/') full.pop_back();
  std::filesystem::create_directories(full, ec);
  lastAsked = root;
  lastRoot = full;
  return full;
}

std::string RootPath(std::string_view rel) {
  std::string path = PlatformRoot();
  if (!rel.empty()) {
    path += '/';
    path += rel;
  }
  return path;
}

std::string ToPosixPath(std::u16string_view w) {
  auto sep = [](char16_t c) { return c == u'\\' || c == u'/'; };
  // "\\?\Z:\a" is "Z:\a" without the length limit; any other "\\server\share"
  // is a network share, which this machine does not have.
  if (w.size() >= 4 && sep(w[0]) && sep(w[1]) && w[2] == u'?' && sep(w[3])) w.remove_prefix(4);
  else if (w.size() >= 2 && w[0] == u'\\' && w[1] == u'\\') return {};
  std::string out;
  size_t i = 0;
  if (w.size() >= 2 && w[1] == u':') {
    if (w[0] != u'Z' && w[0] != u'z') return {};
    i = 2;
    if (i == w.size()) return "/";
    if (w[i] != u'\\' && w[i] != u'/') out = "/";  // "Z:a" is taken as "Z:\a"
  }
  std::u16string rest(w.substr(i));
  for (char16_t& c : rest)
    if (c == u'\\') c = u'/';
  out += ToUtf8(rest);
  // Collapse runs of separators ("Z:\\a" or "a//b"), as the platform does.
  std::string clean;
  for (char c : out) {
    if (c == '/' && !clean.empty() && clean.back() == '/') continue;
    clean.push_back(c);
  }
  return clean;
}

std::u16string ToWindowsPath(std::string_view posix) {
  std::u16string out;
  if (!posix.empty() && posix[0] == '/') out = u"Z:";
  std::u16string rest = ToUtf16(posix);
  for (char16_t& c : rest)
    if (c == u'/') c = u'\\';
  out += rest;
  if (out == u"Z:") out += u'\\';
  return out;
}

namespace {
std::mutex g_settingsLock;
}

std::string MachineSetting(std::string_view key, std::string_view fallback) {
  std::lock_guard<std::mutex> guard(g_settingsLock);
  auto sections = ReadIniFile(RootPath("machine.ini"));
  if (!sections) return std::string(fallback);
  const IniSection* s = FindIniSection(*sections, u"machine");
  if (!s) return std::string(fallback);
  const std::u16string* v = FindIniValue(*s, ToUtf16(key));
  return v ? ToUtf8(*v) : std::string(fallback);
}

void SetMachineSetting(std::string_view key, std::string_view value) {
  std::lock_guard<std::mutex> guard(g_settingsLock);
  std::string path = RootPath("machine.ini");
  auto sections = ReadIniFile(path).value_or(std::vector<IniSection>{});
  IniSection* s = nullptr;
  for (IniSection& each : sections)
    if (CompareNoCase(each.name, u"machine") == 0) s = &each;
  if (!s) {
    sections.push_back({u"machine", {}});
    s = &sections.back();
  }
  std::u16string k = ToUtf16(key), v = ToUtf16(value);
  bool done = false;
  for (auto& [ek, ev] : s->entries)
    if (!done && CompareNoCase(ek, k) == 0) ev = v, done = true;
  if (!done) s->entries.emplace_back(k, v);
  WriteIniFile(path, sections);
}

}  // namespace standin
