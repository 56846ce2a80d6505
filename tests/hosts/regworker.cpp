// A second registry client for tests that need another process.
//
//   regworker write <key below HKCU> <prefix> <count>
//       writes <count> DWORD values "<prefix><i>" = i, spread over the key and
//       its subkeys S1..S3, each through its own open and close; exit 0 when
//       every call succeeded.
//   regworker query <key below HKCU> <value>
//       prints "result=<code>" for reading the value; exit 0.
#include <cstdio>
#include <cstdlib>
#include <string>

#include <windows.h>

namespace {

int Write(const std::u16string& path, const std::string& prefix, int count) {
  for (int i = 0; i < count; ++i) {
    std::u16string key = path;
    if (i % 4) key += u"\\S" + standin::ToUtf16(std::to_string(i % 4));
    HKEY h = nullptr;
    LONG rc = RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr);
    if (rc != ERROR_SUCCESS) {
      std::printf("RegCreateKeyExW %d failed: %ld\n", i, static_cast<long>(rc));
      return 1;
    }
    DWORD value = static_cast<DWORD>(i);
    std::u16string name = standin::ToUtf16(prefix + std::to_string(i));
    rc = RegSetValueExW(h, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    RegCloseKey(h);
    if (rc != ERROR_SUCCESS) {
      std::printf("RegSetValueExW %d failed: %ld\n", i, static_cast<long>(rc));
      return 1;
    }
  }
  std::printf("wrote %d\n", count);
  return 0;
}

int Query(const std::u16string& path, const std::u16string& value) {
  DWORD size = 0;
  LONG rc = RegGetValueW(HKEY_CURRENT_USER, path.c_str(), value.c_str(), RRF_RT_ANY, nullptr, nullptr, &size);
  std::printf("result=%ld\n", static_cast<long>(rc));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string verb = argc > 1 ? argv[1] : "";
  if (verb == "write" && argc == 5) return Write(standin::ToUtf16(argv[2]), argv[3], std::atoi(argv[4]));
  if (verb == "query" && argc == 4) return Query(standin::ToUtf16(argv[2]), standin::ToUtf16(argv[3]));
  std::fprintf(stderr, "usage: regworker write <key> <prefix> <count> | query <key> <value>\n");
  return 2;
}
