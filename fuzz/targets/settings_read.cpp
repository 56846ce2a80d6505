// The settings-file reader: "corvane.ini" whose bytes are the input, read by
// the private-profile functions (sections, keys, values, into buffers of
// every awkward size) and by the library's log settings. The log file the
// settings name must stay inside the log folder.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_target.h"
#include "support/LogSettings.h"

namespace {

// Each list entry of a double-NUL-terminated list.
std::vector<std::u16string> Entries(const std::vector<char16_t>& list) {
  std::vector<std::u16string> out;
  for (size_t i = 0; i < list.size() && list[i];) {
    std::u16string entry(&list[i]);
    i += entry.size() + 1;
    out.push_back(entry);
  }
  return out;
}

LPCWSTR L(const std::u16string& s) { return reinterpret_cast<LPCWSTR>(s.c_str()); }

}  // namespace

int FuzzOne(const uint8_t* data, size_t size) {
  fuzzing::InputRoot root;
  std::string file = root.File("corvane.ini");
  fuzzing::WriteBytes(file, std::string_view(reinterpret_cast<const char*>(data), size));
  std::u16string ini = fuzzing::WindowsPath(file);

  // Section names, key names and a value, into buffers of every awkward size.
  for (DWORD chars : {1u, 2u, 3u, 64u, 4096u}) {
    std::vector<char16_t> names(chars);
    GetPrivateProfileStringW(nullptr, nullptr, TEXT(""), reinterpret_cast<LPWSTR>(names.data()), chars, L(ini));
    GetPrivateProfileStringW(TEXT("log section"), nullptr, TEXT(""), reinterpret_cast<LPWSTR>(names.data()), chars,
                             L(ini));
    std::vector<char16_t> value(chars);
    GetPrivateProfileStringW(TEXT("log section"), TEXT("file"), TEXT("x"), reinterpret_cast<LPWSTR>(value.data()),
                             chars, L(ini));
  }
  std::vector<char16_t> names(4096);
  GetPrivateProfileStringW(nullptr, nullptr, TEXT(""), reinterpret_cast<LPWSTR>(names.data()), 4096, L(ini));
  for (const std::u16string& section : Entries(names)) {
    std::vector<char16_t> keys(4096), value(MAX_PATH);
    GetPrivateProfileStringW(L(section), nullptr, TEXT(""), reinterpret_cast<LPWSTR>(keys.data()), 4096, L(ini));
    for (const std::u16string& key : Entries(keys)) {
      GetPrivateProfileStringW(L(section), L(key), TEXT(""), reinterpret_cast<LPWSTR>(value.data()), MAX_PATH, L(ini));
      GetPrivateProfileIntW(L(section), L(key), -1, L(ini));
    }
  }

  std::u16string folder = fuzzing::WindowsPath(root.File("Logs"));
  LogSettings settings{};
  int maxSize = 0;
  if (ReadLogSettings(L(ini), L(folder), &settings, &maxSize) && (settings.nMedia & LOG_MEDIA_FILE)) {
    std::u16string logFile(reinterpret_cast<const char16_t*>(settings.szLogFile));
    std::u16string inside = folder + u"\\";
    if (logFile.compare(0, inside.size(), inside) != 0 || logFile.find(u"\\..") != std::u16string::npos) {
      std::fprintf(stderr, "fuzz: the settings name a log file outside the log folder\n");
      std::abort();
    }
  }
  return 0;
}
