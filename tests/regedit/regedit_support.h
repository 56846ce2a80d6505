// Helpers shared by the registry editor's tests: building script text and
// value bytes, and the real .reg files of the shared test data.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <wcrt.h>

#include "registry/reg_support.h"
#include "regfile.h"

namespace regedit_test {

// UTF-16LE bytes of text, as the registry keeps strings.
inline std::string Utf16(std::u16string_view text) {
  std::string out;
  for (char16_t c : text) {
    out.push_back(static_cast<char>(c & 0xFF));
    out.push_back(static_cast<char>(c >> 8));
  }
  return out;
}

// A terminated REG_SZ.
inline std::string Sz(std::u16string_view text) { return Utf16(text) + std::string(2, '\0'); }

inline std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out.push_back(static_cast<char>(v));
  return out;
}

inline std::u16string W(const std::string& utf8) { return standin::ToUtf16(utf8); }
inline std::string U(std::u16string_view text) { return standin::ToUtf8(text); }

// The ops of a script read from header + "\n" + body.
inline regedit::RegScript Parse(const std::u16string& body, const std::u16string& header = u"REGEDIT4") {
  return regedit::ParseRegScript(header + u"\n" + body);
}

inline std::string Hex(std::string_view data) {
  std::string hex;
  for (unsigned char c : data) {
    char b[3];
    snprintf(b, sizeof b, "%02x", c);
    hex += b;
  }
  return hex;
}

// A value as "name|type|hex bytes", so that whole lists compare in one go.
inline std::string Val(std::u16string_view name, DWORD type, std::string_view data) {
  return U(name) + "|" + std::to_string(type) + "|" + Hex(data);
}

// The values a script sets, in order.
inline std::vector<std::string> Values(const regedit::RegScript& s) {
  std::vector<std::string> out;
  for (const auto& op : s.ops)
    if (op.kind == regedit::RegOp::kValue) out.push_back(Val(op.name, op.type, op.data));
  return out;
}

inline std::vector<unsigned> ProblemLines(const regedit::RegScript& s) {
  std::vector<unsigned> lines;
  for (const auto& p : s.problems) lines.push_back(p.line);
  return lines;
}

// A real .reg file of the shared test data; the test is skipped without it.
#define REG_TESTDATA(var, name)                                                        \
  std::string var = regtest::TestData("reg/" name);                                   \
  if (var.empty()) GTEST_SKIP() << "no test data beside the repository";               \
  ASSERT_FALSE(testing_support::ReadFileBytes(var).empty()) << var

}  // namespace regedit_test
