// Helpers shared by the mail import tests: the shared test data and UTF-8 text.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "common/fresh_root.h"

namespace mailimport_testing {

using testing_support::TestData;

inline std::filesystem::path MailFile(const std::string& kind, const std::string& name) {
  return TestData() / "mail" / kind / name;
}

inline std::string ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// UTF-16 to UTF-8, so that failures print readably.
inline std::string Utf8(const std::u16string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    char32_t c = s[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < s.size()) c = 0x10000 + ((c - 0xD800) << 10) + (s[++i] - 0xDC00);
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// The bytes of a file without a leading mbox "From " line.
inline std::string WithoutFromLine(const std::string& bytes) {
  if (bytes.rfind("From ", 0) != 0) return bytes;
  size_t nl = bytes.find('\n');
  return nl == std::string::npos ? std::string() : bytes.substr(nl + 1);
}

}  // namespace mailimport_testing

#define SKIP_WITHOUT_TESTDATA() REQUIRE_TEST_DATA(std::filesystem::is_directory(mailimport_testing::TestData() / "mail"))
