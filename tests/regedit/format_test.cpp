// The .reg text format without a registry or a process: export lines as the
// platform's editor writes them, and what the reader takes from a file and
// what it skips.
#include <algorithm>

#include "regedit_support.h"

using namespace regedit;
using namespace regedit_test;

namespace {

TEST(RegFormat, ValuesTakeTheEditorsTextForms) {
  struct Case {
    std::u16string name;
    DWORD type;
    std::string data;
    std::u16string line;
  } cases[] = {
      {u"", REG_SZ, Sz(u"the default"), u"@=\"the default\""},
      {u"double\"quote", REG_SZ, Sz(u"\"said\" so"), u"\"double\\\"quote\"=\"\\\"said\\\" so\""},
      {u"Backslash", REG_SZ, Sz(u"Use \\\\ here"), u"\"Backslash\"=\"Use \\\\\\\\ here\""},
      {u"empty", REG_SZ, "", u"\"empty\"=\"\""},
      // Data without its terminator reads as the text it holds.
      {u"whatsit1", REG_SZ, "BCDE", u"\"whatsit1\"=\"\u4342\u4544\""},
      {u"DWORD", REG_DWORD, Bytes({0, 1, 0, 0}), u"\"DWORD\"=dword:00000100"},
      {u"", REG_DWORD, Bytes({0x78, 0x56, 0x34, 0x12}), u"@=dword:12345678"},
      {u"long dword", REG_DWORD, Bytes({0x80, 0x70, 0x60, 0x50, 0x40, 0x30, 0x20, 0x10}),
       u"\"long dword\"=hex(4):80,70,60,50,40,30,20,10"},
      {u"empty dword", REG_DWORD, "", u"\"empty dword\"=hex(4):"},
      {u"nothing", REG_NONE, "", u"\"nothing\"=hex(0):"},
      {u"no bytes", REG_BINARY, "", u"\"no bytes\"=hex:"},
      {u"bytes", REG_BINARY, Bytes({0xc0, 0x01, 0xc0, 0xde}), u"\"bytes\"=hex:c0,01,c0,de"},
      {u"typed", 0xabcd, std::string("Typed", 6), u"\"typed\"=hex(abcd):54,79,70,65,64,00"},
      {u"big", 0x0fffffff, "B", u"\"big\"=hex(fffffff):42"},
      {u"qw", REG_QWORD, Bytes({0x7b, 0, 0, 0, 0, 0, 0, 0}), u"\"qw\"=hex(b):7b,00,00,00,00,00,00,00"},
      {u"x", REG_EXPAND_SZ, Sz(u"a"), u"\"x\"=hex(2):61,00,00,00"},
      {u"x", REG_MULTI_SZ, Sz(u"a") + Sz(u""), u"\"x\"=hex(7):61,00,00,00,00,00"},
      // What a quoted string cannot give back exactly is written as hex(1):
      // an embedded NUL, a line break, half a character.
      {u"nul", REG_SZ, Sz(u"ab") + Sz(u"c"), u"\"nul\"=hex(1):61,00,62,00,00,00,63,00,00,00"},
      {u"crlf", REG_SZ, Sz(u"a\r\nb"), u"\"crlf\"=hex(1):61,00,0d,00,0a,00,62,00,00,00"},
      {u"odd", REG_SZ, "abc", u"\"odd\"=hex(1):61,62,63"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(U(FormatRegValue(c.name, c.type, c.data)), U(c.line)) << U(c.name);
}

TEST(RegFormat, LongHexBreaksAtTheEditorsColumnWithATwoSpaceIndent) {
  // Lines the platform's editor wrote for these values (a real export in the
  // shared test data holds them).
  EXPECT_EQ(U(FormatRegValue(u"ExpandableStringValue", REG_EXPAND_SZ, Sz(u"Expandable string content"))),
            "\"ExpandableStringValue\"=hex(2):45,00,78,00,70,00,61,00,6e,00,64,00,61,00,62,00,\\\r\n"
            "  6c,00,65,00,20,00,73,00,74,00,72,00,69,00,6e,00,67,00,20,00,63,00,6f,00,6e,\\\r\n"
            "  00,74,00,65,00,6e,00,74,00,00,00");
  EXPECT_EQ(U(FormatRegValue(u"MultiStringValue", REG_MULTI_SZ,
                             Sz(u"Line 1") + Sz(u"Line 2") + Sz(u"Line 3") + Sz(u""))),
            "\"MultiStringValue\"=hex(7):4c,00,69,00,6e,00,65,00,20,00,31,00,00,00,4c,00,69,\\\r\n"
            "  00,6e,00,65,00,20,00,32,00,00,00,4c,00,69,00,6e,00,65,00,20,00,33,00,00,00,\\\r\n"
            "  00,00");
  // 23 bytes fill the first line after an 8-character start, 25 every
  // continuation line.
  std::string data(100, '\x5a');
  std::u16string line = FormatRegValue(u"x", REG_BINARY, data);
  std::vector<size_t> perLine;
  for (size_t start = 0;;) {
    size_t end = line.find(u"\r\n", start);
    std::u16string_view part = std::u16string_view(line).substr(start, end - start);
    EXPECT_LE(part.size(), 80u);
    size_t bytes = std::count(part.begin(), part.end(), u',');
    if (end == std::u16string::npos) {
      perLine.push_back(bytes + 1);
      break;
    }
    perLine.push_back(bytes);
    EXPECT_EQ(line.substr(end + 2, 2), u"  ");
    start = end + 2;
  }
  EXPECT_EQ(perLine, (std::vector<size_t>{23, 25, 25, 25, 2}));
  // A name longer than the column breaks after the first byte.
  std::u16string name(80, u'n');
  EXPECT_EQ(U(FormatRegValue(name, REG_BINARY, Bytes({1, 2}))), "\"" + U(name) + "\"=hex:01,\\\r\n  02");
}

TEST(RegFormat, AnExportIsUtf16WithAByteOrderMarkAndCrlf) {
  RegWriter writer;
  writer.AddKey(u"HKEY_CURRENT_USER\\Software\\Test");
  writer.AddValue(u"String", REG_SZ, Sz(u"some text"));
  writer.AddKey(u"HKEY_CURRENT_USER\\Software\\Test\\Empty");
  EXPECT_EQ(writer.Finish(), "\xFF\xFE" + Utf16(u"Windows Registry Editor Version 5.00\r\n"
                                                u"\r\n[HKEY_CURRENT_USER\\Software\\Test]\r\n"
                                                u"\"String\"=\"some text\"\r\n"
                                                u"\r\n[HKEY_CURRENT_USER\\Software\\Test\\Empty]\r\n"
                                                u"\r\n"));
}

TEST(RegFormat, OnlyTheTwoHeadersMakeAScript) {
  const std::u16string body = u"\n[HKEY_CURRENT_USER\\k]\n\"v\"=\"1\"\n";
  for (const char16_t* header : {u"REGEDIT4", u"  REGEDIT4", u"\tREGEDIT4  ", u"REGEDIT4 ;note",
                                 u"Windows Registry Editor Version 5.00", u"; a note\n\nREGEDIT4"}) {
    RegScript s = ParseRegScript(header + body);
    EXPECT_NE(s.version, RegVersion::kNone) << U(header);
    EXPECT_EQ(s.ops.size(), 2u) << U(header);
  }
  for (const char16_t* header :
       {u"regedit4", u"Regedit4", u"REGEDIT 4", u"REGEDIT4FOO", u"REGEDIT4 FOO", u"REGEDIT3", u"REGEDIT5", u"REGEDIT",
        u"Windows Registry Editor Version 4.00", u"Windows Registry Editor Version 5", u"", u"#REGEDIT4",
        u"WINDOWS REGISTRY EDITOR VERSION 5.00", u"Windows Registry Editor version 5.00"}) {
    RegScript s = ParseRegScript(header + body);
    EXPECT_EQ(s.version, RegVersion::kNone) << U(header);
    EXPECT_TRUE(s.ops.empty()) << U(header);
  }
  EXPECT_EQ(ParseRegScript(u"REGEDIT4").version, RegVersion::kRegedit4);
  EXPECT_EQ(ParseRegScript(u"Windows Registry Editor Version 5.00").version, RegVersion::kVersion5);
}

TEST(RegFormat, LinesEndWithCrLfLfOrALoneCr) {
  for (const char16_t* eol : {u"\r\n", u"\n", u"\r"}) {
    std::u16string text = std::u16string(u"REGEDIT4") + eol + eol + u"[HKEY_CURRENT_USER\\k]" + eol + u"\"a\"=\"1\"" +
                          eol + u"\"b\"=\"no line end\"";
    RegScript s = ParseRegScript(text);
    EXPECT_EQ(Values(s), (std::vector<std::string>{Val(u"a", REG_SZ, Sz(u"1")), Val(u"b", REG_SZ, Sz(u"no line end"))}));
    ASSERT_EQ(s.ops.size(), 3u);
    EXPECT_EQ(s.ops[0].line, 3u);
    EXPECT_EQ(s.ops[2].line, 5u);
  }
}

TEST(RegFormat, StringsNamesAndEscapes) {
  RegScript s = Parse(
      u"[HKEY_CURRENT_USER\\k]\n"
      u"\"With=Equals\"=\"text\"\n"                       // 3
      u"\"double\\\"quote\"=\"valid \\\"or\\\" not\"\n"     // 4
      u"\"back\\\\slash\"=\"\\\\0\"\n"                         // 5: a backslash, then 0
      u"  \"  sp  \"  =  \"  both  \"  \n"                 // 6
      u"@  =  \"default\"\n"                               // 7
      u"\"\"=\"default too\"\n"                            // 8
      u"\"commented\"=\"text\";comment\n"                   // 9
      u"\"semicolon\"=\";not a comment\"\n"                   // 10
      u"\"zero escape\"=\"\\0\"\n"                             // 11: an unknown escape
      u"\"NoEndQuote\"=\"text\n"                       // 12
      u"\"NoBeginQuote\"=text\"\n"                     // 13
      u"\"NameNoEndQuote=\"text\"\n"                   // 14
      u"NoQuotes=\"text\"\n"                           // 15
      u"\"quote inside\"=\"a\"b\"\n"                        // 16
      u"\"hash after\"=\"text\"#comment\n"                   // 17
      u"\"no data\"=\n"                                    // 18
      u"\"Line\\\n"                                        // 19: quoted text does not go on
      u"goes on\"=\"text\"\n");                             // 20
  EXPECT_EQ(Values(s), (std::vector<std::string>{
                           Val(u"With=Equals", REG_SZ, Sz(u"text")),
                           Val(u"double\"quote", REG_SZ, Sz(u"valid \"or\" not")),
                           Val(u"back\\slash", REG_SZ, Sz(u"\\0")),
                           Val(u"  sp  ", REG_SZ, Sz(u"  both  ")),
                           Val(u"", REG_SZ, Sz(u"default")),
                           Val(u"", REG_SZ, Sz(u"default too")),
                           Val(u"commented", REG_SZ, Sz(u"text")),
                           Val(u"semicolon", REG_SZ, Sz(u";not a comment")),
                       }));
  EXPECT_EQ(ProblemLines(s), (std::vector<unsigned>{11, 12, 13, 14, 15, 16, 17, 18, 19, 20}));
}

TEST(RegFormat, DwordsTakeOneToEightHexDigits) {
  RegScript s = Parse(
      u"[HKEY_CURRENT_USER\\k]\n"
      u"\"a\"=dword:1\n"                        // 3
      u"\"b\"=dword:  0000ABcd\n"               // 4
      u"\"c\"=dword:\t1234;5678\n"              // 5
      u"\"d\"=dword:12345678 ;note\n"           // 6
      u"\"e\"=dword:\n"                         // 7
      u"\"f\"=dword:hello\n"                    // 8
      u"\"g\"=dword:123456789\n"                // 9
      u"\"h\"=dword:012345678\n"                // 10
      u"\"i\"=dword:12345678abc\n"              // 11
      u"\"j\"=dword:1234 5678\n"                // 12
      u"\"k\"=dword:0x123\n"                    // 13
      u"\"l\"=dword:1234#5678\n"                // 14
      u"\"m\"=dword:00000000\\\n"              // 15: no continuation for a dword
      u"\"n\"=DWORD:1\n");                      // 16
  EXPECT_EQ(Values(s), (std::vector<std::string>{
                           Val(u"a", REG_DWORD, Bytes({1, 0, 0, 0})),
                           Val(u"b", REG_DWORD, Bytes({0xcd, 0xab, 0, 0})),
                           Val(u"c", REG_DWORD, Bytes({0x34, 0x12, 0, 0})),
                           Val(u"d", REG_DWORD, Bytes({0x78, 0x56, 0x34, 0x12})),
                       }));
  EXPECT_EQ(ProblemLines(s), (std::vector<unsigned>{7, 8, 9, 10, 11, 12, 13, 14, 15, 16}));
}

TEST(RegFormat, HexListsGoOnAfterACommaAndABackslash) {
  RegScript s = Parse(
      u"[HKEY_CURRENT_USER\\k]\n"
      u"\"a\"=hex:11,22,33,44,\\\n"          // 3
      u"  55,66,77,88\n"
      u"\"b\"=hex:11,22,\\;note\n"            // 5
      u"; a comment and a blank line are passed over\n"
      u"\n"
      u"\t 33,  \\  ;note\n"
      u"  44\n"
      u"\"c\"=hex:11,22,\n"                   // 10: a trailing comma ends the list
      u"  33\n"                               // 11: so this line stands alone
      u"\"d\"=hex:11,22,\\\n"                 // 12
      u"#comment\n"                            // 13: not a continuation: d is lost
      u"\"e\"=\"kept\"\n"                      // 14
      u"\"f\"=hex:11,22,\\\n"                 // 15
      u"\"g\"=\"taken as f's continuation\"\n" // 16: both lost
      u"\"h\"=hex:11,22\\\n"                  // 17: the break must follow a comma
      u"\"i\"=\"kept\"\n"                      // 18
      u"\"j\"=hex:\\\n"                       // 19: a list may start on the next line
      u"  0A\n"
      u"\"k\"=hex:,\\\n"                      // 21
      u"\"l\"=hex:11,,22\n"                    // 22
      u"\"m\"=hex:11,100\n"                    // 23
      u"\"n\"=hex:11 #note\n"                  // 24
      u"\"o\"=hex:11 ;note\n"                  // 25
      u"\"p\"=hex:11,\\#note\n"               // 26
      u"  22\n"                               // 27
      u"\"q\"=hex:11,22,\\\n"                 // 28
      u"  ,33\n"                              // 29
      u"\"r\"=hex(0):56,61,6c,75,65,\\");      // 30: the file ends the list
  EXPECT_EQ(Values(s), (std::vector<std::string>{
                           Val(u"a", REG_BINARY, Bytes({0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88})),
                           Val(u"b", REG_BINARY, Bytes({0x11, 0x22, 0x33, 0x44})),
                           Val(u"c", REG_BINARY, Bytes({0x11, 0x22})),
                           Val(u"e", REG_SZ, Sz(u"kept")),
                           Val(u"i", REG_SZ, Sz(u"kept")),
                           Val(u"j", REG_BINARY, Bytes({0x0a})),
                           Val(u"o", REG_BINARY, Bytes({0x11})),
                           Val(u"r", REG_NONE, "Value"),
                       }));
  EXPECT_EQ(ProblemLines(s), (std::vector<unsigned>{11, 13, 16, 17, 21, 22, 23, 24, 26, 27, 29}));
}

TEST(RegFormat, HexTypesRangeOverThirtyTwoBits) {
  RegScript s = Parse(
      u"[HKEY_CURRENT_USER\\k]\n"
      u"\"a\"=hex(0):00\n"
      u"\"b\"=hex(10):00\n"
      u"\"c\"=hex(ffffffff):00\n"
      u"\"d\"=hex(100000000):00\n"   // 6
      u"\"e\"=hex(0x2):00\n"         // 7
      u"\"f\"=hex(x2):00\n"          // 8
      u"\"g\"=hex():00\n"            // 9
      u"\"h\"=hex(2:00\n"            // 10
      u"\"i\"=hex(4):\n"             // an empty dword, kept as such
      u"\"j\"=str(2):\"x\"\n");      // 12
  EXPECT_EQ(Values(s), (std::vector<std::string>{Val(u"a", REG_NONE, Bytes({0})), Val(u"b", 0x10, Bytes({0})),
                                                 Val(u"c", 0xffffffff, Bytes({0})), Val(u"i", REG_DWORD, "")}));
  EXPECT_EQ(ProblemLines(s), (std::vector<unsigned>{6, 7, 8, 9, 10, 12}));
}

TEST(RegFormat, StringTypedHexIsAnsiInRegedit4AndGetsItsTerminator) {
  const std::u16string body =
      u"[HKEY_CURRENT_USER\\k]\n"
      u"\"a\"=hex(7):4c,69,6e,65\n"
      u"\"b\"=hex(7):4c,69,6e,65,00\n"
      u"\"c\"=hex(7):61,00,62,00,00\n"
      u"\"d\"=hex(2):\n"
      u"\"e\"=hex(1):61,62\n"
      u"\"f\"=hex(2):c3,a9\n";  // UTF-8, the stand-in's ANSI code page
  EXPECT_EQ(Values(Parse(body)), (std::vector<std::string>{
                                     Val(u"a", REG_MULTI_SZ, Sz(u"Line")),
                                     Val(u"b", REG_MULTI_SZ, Sz(u"Line")),
                                     Val(u"c", REG_MULTI_SZ, Sz(u"a") + Sz(u"b") + Sz(u"")),
                                     Val(u"d", REG_EXPAND_SZ, ""),
                                     Val(u"e", REG_SZ, Utf16(u"ab")),
                                     Val(u"f", REG_EXPAND_SZ, Sz(u"\u00e9")),
                                 }));
  const std::u16string body5 =
      u"[HKEY_CURRENT_USER\\k]\n"
      u"\"a\"=hex(7):4c,00,69,00\n"
      u"\"b\"=hex(7):4c,00,00,00\n"
      u"\"c\"=hex(2):4c,00,00,00,00,00\n"
      u"\"d\"=hex(1):4c,00\n"
      u"\"e\"=hex(6):4c,00\n";
  EXPECT_EQ(Values(Parse(body5, u"Windows Registry Editor Version 5.00")),
            (std::vector<std::string>{
                Val(u"a", REG_MULTI_SZ, Sz(u"Li")),
                Val(u"b", REG_MULTI_SZ, Sz(u"L")),
                Val(u"c", REG_EXPAND_SZ, Sz(u"L") + Sz(u"")),
                Val(u"d", REG_SZ, Utf16(u"L")),
                Val(u"e", REG_LINK, Utf16(u"L")),
            }));
}

TEST(RegFormat, KeyLinesAndDeletions) {
  RegScript s = Parse(
      u"  [HKEY_CURRENT_USER\\a]b] trailing text ; ignored\n"   // 2
      u"[-HKEY_CURRENT_USER\\gone]\n"                          // 3
      u"[ -HKEY_CURRENT_USER\\not deleted]\n"                  // 4: a key named " -HKEY..."
      u"[HKEY_CURRENT_USER\\open\n"                            // 5
      u"[]\n"                                                  // 6
      u"HKEY_CURRENT_USER\\x]\n"                               // 7
      u"\"v1\"=-\n"                                            // 8
      u"\"v2\"=  \t-\t  \n"                                    // 9
      u"\"v3\"=- ;note\n"                                      // 10
      u"\"v4\"=-\"Test\"\n"                                    // 11
      u"\"v5\"=- #note\n"                                      // 12
      u"@=-\n");                                               // 13
  std::vector<std::string> ops;
  for (const RegOp& op : s.ops) {
    static const char* const kKinds[] = {"key", "delete key", "bad key", "value", "delete value"};
    ops.push_back(std::to_string(op.line) + " " + kKinds[op.kind] + " " + U(op.key) + U(op.name));
  }
  EXPECT_EQ(ops, (std::vector<std::string>{
                     "2 key HKEY_CURRENT_USER\\a]b",
                     "3 delete key HKEY_CURRENT_USER\\gone",
                     "4 key  -HKEY_CURRENT_USER\\not deleted",
                     "5 bad key ",
                     "6 bad key ",
                     "8 delete value v1",
                     "9 delete value v2",
                     "10 delete value v3",
                     "13 delete value ",
                 }));
  EXPECT_EQ(ProblemLines(s), (std::vector<unsigned>{5, 6, 7, 11, 12}));
}

TEST(RegFormat, TheIrregularFileKeepsWhatTheEditorWouldTake) {
  REG_TESTDATA(path, "regashii-irregular-regedit5.reg");
  RegScript s = ParseRegScript(DecodeRegFile(testing_support::ReadFileBytes(path)));
  ASSERT_EQ(s.version, RegVersion::kVersion5) << "a comment may follow the header";
  ASSERT_FALSE(s.ops.empty());
  EXPECT_EQ(s.ops[0].kind, RegOp::kKey);
  EXPECT_EQ(U(s.ops[0].key), "HKEY_CURRENT_USER\\Software\\regashii\\\\irre]\";gular") << "to the last ']'";
  std::string counting;
  for (int i = 0; i < 32; ++i) counting.push_back(static_cast<char>(i));
  EXPECT_EQ(Values(s), (std::vector<std::string>{
                           Val(u"", REG_SZ, Sz(u"")),
                           Val(u"dword", REG_DWORD, Bytes({0})),
                           Val(u"sz-line-break", REG_SZ, Sz(u"a\nb")),
                           Val(u"hex-continuations", REG_BINARY, Bytes({0, 1, 2})),
                           Val(u"semi;colons", REG_SZ, Sz(u"and\"quotes;")),
                           Val(u"hex-continuations-with-long-name "
                               u"............................................ end",
                               REG_BINARY, counting),
                       }));
  EXPECT_EQ(ProblemLines(s), (std::vector<unsigned>{11})) << "the dword followed by a backslash";
}

}  // namespace
