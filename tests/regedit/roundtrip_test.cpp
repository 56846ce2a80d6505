// Real .reg files written by the platform's editor, imported into the
// registry and exported again, in process; and the import's and export's
// dealings with the registry: deletions, roots, failures.
#include <random>

#include <standin/fault.h>
#include <standin/registry.h>

#include "regedit_support.h"
#include "regtree.h"

using namespace regedit;
using namespace regedit_test;

namespace {

class RegRoundTrip : public testing_support::FreshRoot {
 protected:
  // Imports the file; the problems reported, as "line: what".
  std::vector<std::string> Import(const std::string& path, unsigned* failures = nullptr) {
    return ImportText(DecodeRegFile(testing_support::ReadFileBytes(path)), failures);
  }
  std::vector<std::string> ImportText(const std::u16string& text, unsigned* failures = nullptr) {
    RegVersion version;
    std::vector<RegProblem> problems;
    unsigned failed = ImportRegText(text, &version, &problems);
    EXPECT_NE(version, RegVersion::kNone);
    if (failures) *failures = failed;
    std::vector<std::string> out;
    for (const auto& p : problems) out.push_back(std::to_string(p.line) + ": " + p.what);
    return out;
  }
  // The export file of a key.
  std::string Export(const std::u16string& key) {
    RegWriter writer;
    std::vector<RegProblem> problems;
    EXPECT_EQ(ExportRegKey(key, &writer, &problems), ERROR_SUCCESS) << U(key);
    EXPECT_TRUE(problems.empty());
    return writer.Finish();
  }
};

std::vector<std::u16string> Lines(std::u16string_view text) {
  std::vector<std::u16string> lines;
  for (size_t start = 0;;) {
    size_t end = text.find(u'\n', start);
    std::u16string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == u'\r') line.remove_suffix(1);
    lines.emplace_back(line);
    if (end == std::u16string_view::npos) return lines;
    start = end + 1;
  }
}

// The key blocks of a text: a key line with the value lines under it.
// Comments and key deletions are no blocks.
std::vector<std::u16string> Blocks(std::u16string_view text) {
  std::vector<std::u16string> blocks;
  bool inBlock = false;
  for (const std::u16string& line : Lines(text)) {
    if (line.empty() || line[0] == u';' || line.rfind(u"[-", 0) == 0) {
      inBlock = false;
    } else if (line[0] == u'[') {
      blocks.push_back(line);
      inBlock = true;
    } else if (inBlock) {
      blocks.back() += u"\n" + line;
    }
  }
  return blocks;
}

TEST_F(RegRoundTrip, RealExportsComeBackByteForByte) {
  const std::pair<const char*, const char16_t*> files[] = {
      {"regashii-complex-regedit5.reg", u"HKEY_CURRENT_USER\\Software\\regashii\\complex"},
      {"regashii-japanese-regedit5.reg", u"HKEY_CURRENT_USER\\Software\\regashii\\\u65e5\u672c\u8a9e"},
      {"regashii-multi-sz-separation-regedit5.reg", u"HKEY_CURRENT_USER\\Software\\regashii\\multi-sz-separation"},
      {"vscode-registry-alltypes-regedit5.reg", u"HKEY_CURRENT_USER\\testkey"},
  };
  for (const auto& [name, key] : files) {
    SCOPED_TRACE(name);
    std::string path = regtest::TestData(std::string("reg/") + name);
    if (path.empty()) GTEST_SKIP() << "no test data beside the repository";
    EXPECT_TRUE(Import(path).empty());
    std::string original = testing_support::ReadFileBytes(path);
    std::string exported = Export(key);
    EXPECT_EQ(exported, original);
    if (exported != original) {
      EXPECT_EQ(U(DecodeRegFile(exported)), U(DecodeRegFile(original)));
    }
  }
}

TEST_F(RegRoundTrip, SimpleExportComesBackWithoutItsHandAddedLines) {
  REG_TESTDATA(path, "regashii-simple-regedit5.reg");
  EXPECT_TRUE(Import(path).empty());
  // The file's comment, its value deletion and its key deletion (with the
  // blank line after it) are not what an export holds.
  std::vector<std::u16string> expected;
  for (const std::u16string& line : Lines(DecodeRegFile(testing_support::ReadFileBytes(path)))) {
    if (line == u"; unrecognized" || line == u"\"remove\"=-") continue;
    if (line.rfind(u"[-", 0) == 0) {
      expected.pop_back();  // the blank line before it
      continue;
    }
    expected.push_back(line);
  }
  EXPECT_EQ(Lines(DecodeRegFile(Export(u"HKEY_CURRENT_USER\\Software\\regashii\\simple"))), expected);
}

TEST_F(RegRoundTrip, HandAssembledExportComesBackKeyByKey) {
  // The file joins two exports (64- and 32-bit views) under comments and key
  // deletions, lists one key's subkeys out of the registry's order and leaves
  // out one parent key. Every key block must come back byte for byte, the
  // parent as an empty block, all in the registry's order.
  REG_TESTDATA(path, "rage-edit-test-regedit5.reg");
  EXPECT_TRUE(Import(path).empty());
  std::u16string exported = DecodeRegFile(Export(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\MikeKovarik")) +
                            DecodeRegFile(Export(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\MikeKovarik"));
  std::vector<std::u16string> got = Blocks(exported), original = Blocks(DecodeRegFile(testing_support::ReadFileBytes(path)));
  EXPECT_EQ(got.size(), 49u);
  EXPECT_EQ(original.size(), 48u);
  std::vector<std::u16string> missing, extra;
  for (const auto& b : original)
    if (std::find(got.begin(), got.end(), b) == got.end()) missing.push_back(b);
  for (const auto& b : got)
    if (std::find(original.begin(), original.end(), b) == original.end()) extra.push_back(b);
  EXPECT_TRUE(missing.empty()) << U(missing.empty() ? u"" : missing[0]);
  ASSERT_EQ(extra.size(), 1u);
  EXPECT_EQ(U(extra[0]),
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\MikeKovarik\\rage-edit\\.get() and .has()\\SubkeyWithMoreSubkeys]");
  // Subkeys in the registry's order: without regard to case, by code unit.
  auto at = [&](const char16_t* key) {
    return std::find_if(got.begin(), got.end(), [&](const std::u16string& b) { return b.rfind(key, 0) == 0; }) -
           got.begin();
  };
  EXPECT_LT(at(u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\MikeKovarik\\rage-edit\\.delete()\\InstanceMode\\KeyToBeDeleted-3]"),
            at(u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\MikeKovarik\\rage-edit\\.delete()\\InstanceMode\\Subkey]"));
}

TEST_F(RegRoundTrip, Win9xExportReadsBackLineForLine) {
  // A REGEDIT4 export of the first editor: ANSI, wrapped the same way. Apart
  // from the header its lines come back as they were, except that the
  // multi-string data now holds UTF-16.
  REG_TESTDATA(path, "wine-orig-regedit4.reg");
  EXPECT_TRUE(Import(path).empty());
  std::vector<std::u16string> expected = Lines(DecodeRegFile(testing_support::ReadFileBytes(path)));
  std::vector<std::u16string> got = Lines(DecodeRegFile(Export(u"HKEY_CURRENT_USER\\Test Regedit")));
  ASSERT_GT(expected.size(), 100u);
  EXPECT_EQ(expected[0], u"REGEDIT4");
  EXPECT_EQ(got[0], u"Windows Registry Editor Version 5.00");
  for (auto& line : expected) {
    if (line == u"\"Empty Value1\"=hex(7):00") line = u"\"Empty Value1\"=hex(7):00,00";
    if (line == u"\"Empty Value2\"=hex(7):00,00") line = u"\"Empty Value2\"=hex(7):00,00,00,00";
    if (line == u"\"Empty Value3\"=hex(7):00,00,00") line = u"\"Empty Value3\"=hex(7):00,00,00,00,00,00";
  }
  expected.erase(expected.begin());
  got.erase(got.begin());
  ASSERT_EQ(got.back(), u"");
  got.pop_back();  // the old editor left out the last blank line
  EXPECT_EQ(got, expected);
}

TEST_F(RegRoundTrip, Regedit4AndVersion5TwinsGiveTheSameRegistry) {
  for (const char* twin : {"complex", "simple"}) {
    SCOPED_TRACE(twin);
    std::string four = regtest::TestData(std::string("reg/regashii-") + twin + "-regedit4.reg");
    std::string five = regtest::TestData(std::string("reg/regashii-") + twin + "-regedit5.reg");
    if (four.empty()) GTEST_SKIP() << "no test data beside the repository";
    EXPECT_TRUE(Import(four).empty());
    std::vector<std::string> fromFour = regtest::Dump(HKEY_CURRENT_USER, u"Software\\regashii");
    ASSERT_EQ(RegDeleteTreeW(HKEY_CURRENT_USER, u"Software\\regashii"), ERROR_SUCCESS);
    EXPECT_TRUE(Import(five).empty());
    EXPECT_EQ(regtest::Dump(HKEY_CURRENT_USER, u"Software\\regashii"), fromFour);
    EXPECT_GE(fromFour.size(), 5u);
    ASSERT_EQ(RegDeleteTreeW(HKEY_CURRENT_USER, u"Software\\regashii"), ERROR_SUCCESS);
  }
}

TEST_F(RegRoundTrip, NamesMatchWithoutCaseAndTheLastWriteCounts) {
  REG_TESTDATA(path, "regashii-repetition-regedit5.reg");
  EXPECT_EQ(Import(path), (std::vector<std::string>{"7: the value follows a key deletion; it is left out"}));
  EXPECT_EQ(regtest::Dump(HKEY_CURRENT_USER, u"Software\\regashii"),
            (std::vector<std::string>{
                "\\repeated-kEy",
                "\\repeated-kEy|bar type=1 data=32000000",
                "\\repeated-kEy|baz type=1 data=33000000",
                "\\repeated-value",
                "\\repeated-value|fOo type=1 data=33000000",
            }));
}

TEST_F(RegRoundTrip, TheIrregularFilesBrokenKeyTakesItsValuesAlong) {
  // The key name holds an empty component ("regashii\\irre..."), which the
  // registry refuses; the dword with a trailing backslash is a bad line.
  REG_TESTDATA(path, "regashii-irregular-regedit5.reg");
  unsigned failures = 0;
  std::vector<std::string> problems = Import(path, &failures);
  EXPECT_EQ(failures, 1u);
  ASSERT_EQ(problems.size(), 2u);
  EXPECT_EQ(problems[0].rfind("3: cannot open or make the key HKEY_CURRENT_USER\\Software\\regashii\\\\irre]\";gular "
                              "(error 161); its values are left out",
                              0),
            0u)
      << problems[0];
  EXPECT_EQ(problems[1].rfind("11: ", 0), 0u) << problems[1];
  regtest::Key key;
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\regashii", 0, KEY_READ, key.out()), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegRoundTrip, DeletionsRootsAndPlacesWithoutAKey) {
  EXPECT_TRUE(ImportText(u"REGEDIT4\n[HKEY_CURRENT_USER\\Software\\T\\Sub\\Deep]\n\"v\"=\"1\"\n"
                         u"[HKEY_CURRENT_USER\\Software\\T]\n\"a\"=\"1\"\n\"b\"=\"2\"\n")
                  .empty());
  std::vector<std::string> problems = ImportText(
      u"REGEDIT4\n"
      u"\"early\"=\"1\"\n"                                  // 2
      u"[hkey_current_user\\Software\\T]\n"                 // 3: roots ignore case
      u"\"a\"=-\n"
      u"\"missing\"=-\n"                                    // deleting nothing is no failure
      u"[-HKEY_CURRENT_USER\\Software\\T\\Sub]\n"           // 6
      u"\"after\"=\"1\"\n"                                  // 7
      u"[-HKEY_CURRENT_USER\\Software\\T\\Never there]\n"
      u"[-HKEY_CURRENT_USER]\n"                             // 9
      u"[HKEY_CURRENT_USERS\\Software\\T]\n"                // 10
      u"\"lost\"=\"1\"\n"
      u"[HKCU\\Software\\T]\n"                              // 12: roots are spelt out
      u"[HKEY_CLASSES_ROOT\\.reg]\n"
      u"@=\"regfile\"\n");
  EXPECT_EQ(problems, (std::vector<std::string>{
                          "2: the value comes before any key; it is left out",
                          "7: the value follows a key deletion; it is left out",
                          "9: a root key cannot be deleted",
                          "10: the key HKEY_CURRENT_USERS\\Software\\T does not start with a root key; it is left out",
                          "12: the key HKCU\\Software\\T does not start with a root key; it is left out",
                      }));
  EXPECT_EQ(regtest::Dump(HKEY_CURRENT_USER, u"Software\\T"),
            (std::vector<std::string>{"|b type=1 data=32000000"}));
  // HKEY_CLASSES_ROOT is the machine's Software\Classes.
  EXPECT_EQ(regtest::Dump(HKEY_LOCAL_MACHINE, u"Software\\Classes\\.reg"),
            (std::vector<std::string>{"| type=1 data=" + Hex(Sz(u"regfile"))}));
}

TEST_F(RegRoundTrip, KeysAndValuesTheRegistryRefusesAreReportedAndTheRestGoesIn) {
  ASSERT_EQ(standin::SetRegistryKeyReadOnly(u"HKCU", u"Software\\Locked", true), ERROR_SUCCESS);
  standin::ArmFault("RegSetValueExW", ERROR_DISK_FULL, 2);
  unsigned failures = 0;
  std::vector<std::string> problems = ImportText(
      u"Windows Registry Editor Version 5.00\n"
      u"[HKEY_CURRENT_USER\\Software\\Open]\n"
      u"\"one\"=\"1\"\n"
      u"\"two\"=\"2\"\n"                     // 4: the armed fault
      u"\"three\"=\"3\"\n"
      u"[HKEY_CURRENT_USER\\Software\\Locked\\Below]\n"  // 6
      u"\"four\"=\"4\"\n"
      u"[HKEY_CURRENT_USER\\Software\\Open\\After]\n"
      u"\"five\"=\"5\"\n",
      &failures);
  EXPECT_EQ(failures, 2u);
  EXPECT_EQ(problems, (std::vector<std::string>{
                          "4: cannot write the value \"two\" (error 112)",
                          "6: cannot open or make the key HKEY_CURRENT_USER\\Software\\Locked\\Below (error 5); its "
                          "values are left out",
                      }));
  EXPECT_EQ(regtest::Dump(HKEY_CURRENT_USER, u"Software\\Open"),
            (std::vector<std::string>{"|one type=1 data=31000000", "|three type=1 data=33000000", "\\After",
                                      "\\After|five type=1 data=35000000"}));
}

TEST_F(RegRoundTrip, ExportNamesTheKeyAsGivenAndItsSubkeysAsStored) {
  regtest::Key key;
  ASSERT_EQ(regtest::Create(HKEY_CURRENT_USER, u"Software\\Order", &key), ERROR_SUCCESS);
  for (const char16_t* sub : {u"b", u"C", u"a", u"_"}) {
    regtest::Key child;
    ASSERT_EQ(regtest::Create(key, sub, &child), ERROR_SUCCESS);
  }
  ASSERT_EQ(regtest::SetString(key, u"z first", u"1"), ERROR_SUCCESS);
  ASSERT_EQ(regtest::SetString(key, u"a second", u"2"), ERROR_SUCCESS);
  EXPECT_EQ(U(DecodeRegFile(Export(u"hkey_current_user\\Software\\Order\\\\"))),
            "Windows Registry Editor Version 5.00\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software\\Order]\r\n\"z first\"=\"1\"\r\n\"a second\"=\"2\"\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software\\Order\\a]\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software\\Order\\b]\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software\\Order\\C]\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software\\Order\\_]\r\n\r\n");
  RegWriter writer;
  std::vector<RegProblem> problems;
  EXPECT_EQ(ExportRegKey(u"HKEY_CURRENT_USER\\Software\\Missing", &writer, &problems), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(ExportRegKey(u"HKCU\\Software\\Order", &writer, &problems), ERROR_FILE_NOT_FOUND);
  // A subkey that cannot be read is reported and left out; the rest is there.
  standin::ArmFault("RegOpenKeyExW", ERROR_ACCESS_DENIED, 2);
  RegWriter partial;
  EXPECT_EQ(ExportRegKey(u"HKEY_CURRENT_USER\\Software\\Order", &partial, &problems), ERROR_SUCCESS);
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].what, "the key HKEY_CURRENT_USER\\Software\\Order\\a cannot be read (error 5); it is left out");
  EXPECT_EQ(U(DecodeRegFile(partial.Finish())).find("Order\\a]"), std::string::npos);
}

TEST_F(RegRoundTrip, TheWholeRegistryExportsRootByRoot) {
  regtest::Key key;
  ASSERT_EQ(regtest::Create(HKEY_LOCAL_MACHINE, u"Software\\Classes\\.txt", &key), ERROR_SUCCESS);
  ASSERT_EQ(regtest::Create(HKEY_CURRENT_USER, u"Software\\Mine", &key), ERROR_SUCCESS);
  RegWriter writer;
  std::vector<RegProblem> problems;
  ASSERT_EQ(ExportRegistry(&writer, &problems), ERROR_SUCCESS);
  std::vector<std::u16string> blocks = Blocks(DecodeRegFile(writer.Finish()));
  std::vector<std::string> keys;
  for (const auto& b : blocks) keys.push_back(U(b.substr(0, b.find(u'\n'))));
  EXPECT_EQ(keys, (std::vector<std::string>{
                      "[HKEY_CLASSES_ROOT]", "[HKEY_CLASSES_ROOT\\.txt]", "[HKEY_CURRENT_USER]",
                      "[HKEY_CURRENT_USER\\Software]", "[HKEY_CURRENT_USER\\Software\\Mine]", "[HKEY_LOCAL_MACHINE]",
                      "[HKEY_LOCAL_MACHINE\\SOFTWARE]", "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes]",
                      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.txt]",
                  }));
}

// Values of every kind, with names and text the format must escape, written
// into the registry, exported, removed and imported again: the registry comes
// back byte for byte.
TEST_F(RegRoundTrip, EveryValueSurvivesAnExportAndAnImport) {
  std::mt19937 rng(20260304);
  const std::u16string alphabet = u"ab Z09\\\"=;[]@#-,:\u00e9\u65e5\U0001F600\t";
  auto text = [&](size_t max) {
    std::u16string s;
    for (size_t n = rng() % (max + 1); n; --n) s += alphabet[rng() % alphabet.size()];
    return s;
  };
  regtest::Key root;
  ASSERT_EQ(regtest::Create(HKEY_CURRENT_USER, u"Software\\Mixed", &root), ERROR_SUCCESS);
  for (int k = 0; k < 12; ++k) {
    std::u16string keyName = u"k" + std::u16string(1, u'a' + k) + text(20);
    std::erase(keyName, u'\\');
    regtest::Key key;
    ASSERT_EQ(regtest::Create(root, keyName.c_str(), &key), ERROR_SUCCESS);
    for (int v = 0; v < 20; ++v) {
      std::u16string name = v == 0 ? u"" : W(std::to_string(v)) + text(100);
      std::string data;
      DWORD type = std::vector<DWORD>{REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_BINARY, REG_DWORD, REG_QWORD,
                                      REG_NONE, 0x100 + static_cast<DWORD>(rng() % 7)}[rng() % 8];
      switch (type) {
        case REG_SZ:
          data = Sz(text(rng() % 4 ? 60 : 300) + (rng() % 5 ? std::u16string() : std::u16string(u"\r\nline\0x", 8)));
          break;
        case REG_EXPAND_SZ: data = Sz(u"%PATH%" + text(40)); break;
        case REG_MULTI_SZ: data = Sz(text(20)) + Sz(text(20)) + Sz(u""); break;
        case REG_DWORD: data = Bytes({int(rng() & 0xFF), 1, 2, 3}); break;
        default:
          for (size_t n = rng() % 400; n; --n) data.push_back(static_cast<char>(rng()));
      }
      ASSERT_EQ(RegSetValueExW(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.data()),
                               static_cast<DWORD>(data.size())),
                ERROR_SUCCESS);
    }
  }
  std::vector<std::string> before = regtest::Dump(HKEY_CURRENT_USER, u"Software\\Mixed");
  std::string file = Export(u"HKEY_CURRENT_USER\\Software\\Mixed");
  ASSERT_EQ(RegDeleteTreeW(HKEY_CURRENT_USER, u"Software\\Mixed"), ERROR_SUCCESS);
  EXPECT_TRUE(ImportText(DecodeRegFile(file)).empty());
  EXPECT_EQ(regtest::Dump(HKEY_CURRENT_USER, u"Software\\Mixed"), before);
  EXPECT_EQ(before.size(), 12u * 21);
}

}  // namespace
