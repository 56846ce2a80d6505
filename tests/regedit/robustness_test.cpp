// Damaged .reg files: the shared real files cut short, with bytes changed and
// with stray lines put in. Reading never fails or runs away, every problem
// names a line of the file, every value read writes back to itself, and
// applying what was read leaves the registry sound.
#include <filesystem>
#include <random>

#include "regedit_support.h"
#include "regtree.h"

using namespace regedit;
using namespace regedit_test;

namespace {

std::vector<std::string> RealFiles() {
  std::vector<std::string> files;
  std::string dir = regtest::TestData("reg");
  if (dir.empty()) return files;
  for (const auto& e : std::filesystem::directory_iterator(dir)) files.push_back(e.path().string());
  std::sort(files.begin(), files.end());
  return files;
}

// Damaged copies of a file: cut at many places, bytes changed, junk lines in.
std::vector<std::string> Damaged(const std::string& bytes, std::mt19937* rng) {
  std::vector<std::string> out;
  const size_t step = std::max<size_t>(1, bytes.size() / 150);
  for (size_t cut = 0; cut < bytes.size(); cut += step) out.push_back(bytes.substr(0, cut));
  static const char* const kJunk[] = {"\\", "[", "]", "\"", "=", "hex:", "hex(", "dword:", ",", ";", "#", "-",
                                      "@", "\r", "\n", "\0", "\xff", "\xfe", "[-", "\"=\"", "\\\n"};
  for (int i = 0; i < 200; ++i) {
    std::string s = bytes;
    for (int n = 1 + (*rng)() % 8; n && !s.empty(); --n) {
      size_t at = (*rng)() % s.size();
      if ((*rng)() % 2)
        s[at] = static_cast<char>((*rng)());
      else
        s.insert(at, kJunk[(*rng)() % std::size(kJunk)]);
    }
    out.push_back(std::move(s));
  }
  return out;
}

class RegDamaged : public testing_support::FreshRoot {};

TEST_F(RegDamaged, ReadingNeverFailsAndWhatIsReadWritesBackToItself) {
  std::vector<std::string> files = RealFiles();
  if (files.empty()) GTEST_SKIP() << "no test data beside the repository";
  ASSERT_EQ(files.size(), 11u);
  std::mt19937 rng(1234);
  size_t variants = 0, applied = 0;
  for (const std::string& file : files) {
    SCOPED_TRACE(file);
    for (const std::string& bytes : Damaged(testing_support::ReadFileBytes(file), &rng)) {
      std::u16string text = DecodeRegFile(bytes);
      RegScript s = ParseRegScript(text);
      const size_t lines = std::count(text.begin(), text.end(), u'\n') + std::count(text.begin(), text.end(), u'\r') + 1;
      for (const RegProblem& p : s.problems) ASSERT_TRUE(p.line >= 1 && p.line <= lines) << p.line << " " << p.what;
      for (const RegOp& op : s.ops) {
        if (op.kind != RegOp::kValue) continue;
        // The export line of the value reads back as the same value (a
        // quoted string gains the terminator the data lacked).
        std::u16string line = FormatRegValue(op.name, op.type, op.data);
        RegScript again = ParseRegScript(u"Windows Registry Editor Version 5.00\r\n[HKEY_CURRENT_USER\\x]\r\n" + line);
        std::string expected = op.data;
        const bool quoted = op.type == REG_SZ && line.back() == u'"';
        if (quoted && (expected.size() < 2 || expected.substr(expected.size() - 2) != std::string(2, '\0')))
          expected.append(2, '\0');
        ASSERT_EQ(Values(again), (std::vector<std::string>{Val(op.name, op.type, expected)})) << U(line);
      }
      // Some of them go into the registry as well.
      if (++variants % 40 == 0) {
        RegVersion version;
        std::vector<RegProblem> problems;
        ImportRegText(text, &version, &problems);
        ++applied;
      }
    }
  }
  EXPECT_GT(variants, 2000u);
  EXPECT_GT(applied, 50u);
  // The registry is still sound: it exports whole.
  RegWriter writer;
  std::vector<RegProblem> problems;
  EXPECT_EQ(ExportRegistry(&writer, &problems), ERROR_SUCCESS);
  EXPECT_TRUE(problems.empty());
}

TEST_F(RegDamaged, OddBytesAndEndlessContinuationsAreHandled) {
  // Half a UTF-16 unit at the end, a byte-order mark alone, NULs in the text,
  // a continuation on every line to the end of the file. A NUL in a key's or
  // a value's name refuses the line: the registry would take the name to it,
  // another key or value (deleting "Software\0x" would delete Software).
  const char nuls[] = "REGEDIT4\n[HKEY_CURRENT_USER\\n\0ul]\n[HKEY_CURRENT_USER\\ok]\n\"a\0b\"=\"x\"\n"
                      "\"a\"=\"c\0d\"\n[-HKEY_CURRENT_USER\\Software\0x]\n";
  RegScript parsed = ParseRegScript(DecodeRegFile(std::string(nuls, sizeof nuls - 1)));
  EXPECT_EQ(Values(parsed), (std::vector<std::string>{Val(u"a", REG_SZ, Sz(std::u16string(u"c\0d", 3)))}));
  ASSERT_EQ(parsed.problems.size(), 3u);
  for (const RegProblem& p : parsed.problems) EXPECT_NE(p.what.find("NUL"), std::string::npos) << p.what;
  RegVersion version = RegVersion::kNone;
  std::vector<RegProblem> problems;
  ImportRegText(DecodeRegFile(std::string(nuls, sizeof nuls - 1)), &version, &problems);
  HKEY software = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software", 0, KEY_READ, &software), ERROR_SUCCESS);
  if (software) RegCloseKey(software);
  EXPECT_EQ(DecodeRegFile(std::string("\xff\xfe" "R", 3)), u"");
  EXPECT_EQ(DecodeRegFile(std::string("\xff\xfe" "R\0S", 5)), u"R");
  EXPECT_EQ(ParseRegScript(DecodeRegFile("\xff")).version, RegVersion::kNone);
  std::u16string text = u"REGEDIT4\n[HKEY_CURRENT_USER\\Software\\Long]\n\"v\"=hex:00,\\\n";
  for (int i = 0; i < 20000; ++i) text += u"  01,02,\\\n";
  RegScript s = ParseRegScript(text);
  ASSERT_EQ(s.ops.size(), 2u);
  EXPECT_EQ(s.ops[1].data.size(), 40001u);
  EXPECT_TRUE(s.problems.empty());
}

}  // namespace
