// Private-profile files: numbers read as the platform reads them, defaults,
// values and lists cut to the buffer, the encodings a settings file comes in,
// and files named without a folder, which live in the root's Windows folder.
#include <gtest/gtest.h>

#include <windows.h>
#include <standin/fault.h>
#include <standin/root.h>

#include <climits>
#include <filesystem>
#include <string>

#include "common/fresh_root.h"

namespace {

using testing_support::ReadFileBytes;
using testing_support::WriteFileBytes;

constexpr WCHAR kGuard = 0xBEEF;

class IniTest : public testing_support::FreshRoot {
 protected:
  void SetUp() override {
    FreshRoot::SetUp();
    path_ = RootFile("settings.ini");
    file_ = standin::ToWindowsPath(path_);
  }
  void Write(const std::string& bytes) { WriteFileBytes(path_, bytes); }
  UINT Int(const WCHAR* section, const WCHAR* key, INT def) {
    return GetPrivateProfileIntW(section, key, def, file_.c_str());
  }
  std::u16string String(const WCHAR* section, const WCHAR* key, const WCHAR* def = u"") {
    WCHAR buf[256];
    DWORD n = GetPrivateProfileStringW(section, key, def, buf, 256, file_.c_str());
    EXPECT_EQ(n, wcslen(buf));
    return buf;
  }
  std::string path_;
  std::u16string file_;
};

TEST_F(IniTest, NumbersAsThePlatformReadsThem) {
  Write(
      "[log section]\r\n"
      "level=2\r\n"
      "trailing=12abc\r\n"
      "minus=-1\r\n"
      "hex=0x10\r\n"
      "garbage=abc\r\n"
      "empty=\r\n"
      "spaced =  7  \r\n"
      "plus=+5\r\n");
  EXPECT_EQ(Int(u"log section", u"level", 9), 2u);
  EXPECT_EQ(Int(u"log section", u"missing", 9), 9u);
  EXPECT_EQ(Int(u"log section", u"trailing", 9), 12u);
  EXPECT_EQ(Int(u"log section", u"minus", 9), UINT_MAX);
  EXPECT_EQ(Int(u"log section", u"hex", 9), 16u);
  EXPECT_EQ(Int(u"log section", u"garbage", 9), 0u);
  EXPECT_EQ(Int(u"log section", u"empty", 9), 9u);
  EXPECT_EQ(Int(u"log section", u"spaced", 9), 7u);
  EXPECT_EQ(Int(u"log section", u"plus", 9), 5u);
  EXPECT_EQ(Int(u"other section", u"level", -3), static_cast<UINT>(-3));
  EXPECT_EQ(GetPrivateProfileIntW(u"log section", u"level", 4, standin::ToWindowsPath(RootFile("none.ini")).c_str()),
            4u);
}

TEST_F(IniTest, DefaultsLoseTrailingBlanks) {
  Write("[s]\r\nk=v\r\n");
  WCHAR buf[32];
  EXPECT_EQ(GetPrivateProfileStringW(u"s", u"none", u"fallback   ", buf, 32, file_.c_str()), 8u);
  EXPECT_EQ(std::u16string(buf), u"fallback");
  EXPECT_EQ(GetPrivateProfileStringW(u"s", u"none", nullptr, buf, 32, file_.c_str()), 0u);
  EXPECT_EQ(buf[0], 0);
  SetLastError(0);
  EXPECT_EQ(GetPrivateProfileStringW(u"s", u"k", u"x", buf, 32, standin::ToWindowsPath(RootFile("no.ini")).c_str()),
            1u);
  EXPECT_EQ(std::u16string(buf), u"x");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(IniTest, ValuesAreCutToTheBuffer) {
  Write("[s]\r\nk=abcdefgh\r\n");
  WCHAR buf[5 + 2];
  buf[5] = buf[6] = kGuard;
  EXPECT_EQ(GetPrivateProfileStringW(u"s", u"k", u"", buf, 5, file_.c_str()), 4u);  // size - 1
  EXPECT_EQ(std::u16string(buf), u"abcd");
  EXPECT_EQ(buf[5], kGuard);
  EXPECT_EQ(buf[6], kGuard);
  EXPECT_EQ(GetPrivateProfileStringW(u"s", u"k", u"", buf, 1, file_.c_str()), 0u);
  EXPECT_EQ(buf[0], 0);
  EXPECT_EQ(GetPrivateProfileStringW(u"s", u"k", u"", buf, 0, file_.c_str()), 0u);
}

TEST_F(IniTest, ListsEndWithADoubleTerminator) {
  Write("[first]\r\na=1\r\nb=2\r\n[second]\r\nc=3\r\n[third]\r\n");
  WCHAR buf[64];
  std::fill(std::begin(buf), std::end(buf), kGuard);
  DWORD n = GetPrivateProfileStringW(nullptr, nullptr, u"", buf, 64, file_.c_str());
  EXPECT_EQ(n, 19u);
  EXPECT_EQ(std::u16string(buf, n + 1), std::u16string(u"first\0second\0third\0", 19) + u'\0');
  EXPECT_EQ(buf[n + 1], kGuard);

  n = GetPrivateProfileStringW(u"FIRST", nullptr, u"", buf, 64, file_.c_str());
  EXPECT_EQ(std::u16string(buf, n + 1), std::u16string(u"a\0b\0\0", 5));

  // Cut: the last name is cut and followed by two terminators; size - 2.
  std::fill(std::begin(buf), std::end(buf), kGuard);
  n = GetPrivateProfileStringW(nullptr, nullptr, u"", buf, 10, file_.c_str());
  EXPECT_EQ(n, 8u);
  EXPECT_EQ(std::u16string(buf, 10), std::u16string(u"first\0se\0\0", 10));
  EXPECT_EQ(buf[10], kGuard);

  n = GetPrivateProfileStringW(u"third", nullptr, u"", buf, 64, file_.c_str());
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(buf[0], 0);
}

TEST_F(IniTest, NamesIgnoreCaseAndQuotesAreStripped) {
  Write(
      "; a comment line\r\n"
      "[Log Section]\r\n"
      "  File  =  \"corvane log.txt\"  \r\n"
      "single='x y'\r\n"
      "unbalanced=\"abc\r\n"
      "equation=a=b=c\r\n"
      "Grüße=Ärger\r\n");
  EXPECT_EQ(String(u"log section", u"FILE"), u"corvane log.txt");
  EXPECT_EQ(String(u"LOG SECTION", u"single"), u"x y");
  EXPECT_EQ(String(u"log section", u"unbalanced"), u"\"abc");
  EXPECT_EQ(String(u"log section", u"equation"), u"a=b=c");
  EXPECT_EQ(String(u"log section", u"GRÜSSE", u"none"), u"none");
  EXPECT_EQ(String(u"log section", u"grüße"), u"Ärger");
  EXPECT_EQ(String(u"log section", u"; a comment line", u"none"), u"none");
}

TEST_F(IniTest, Utf16AndUtf8FilesWithByteOrderMarks) {
  std::u16string text = u"[s]\r\nname=Jürgen 😀\r\n";
  std::string utf16 = "\xFF\xFE";
  for (char16_t c : text) utf16 += static_cast<char>(c & 0xFF), utf16 += static_cast<char>(c >> 8);
  Write(utf16);
  EXPECT_EQ(String(u"s", u"name"), u"Jürgen 😀");
  Write("\xEF\xBB\xBF[s]\nname=J\xC3\xBCrgen\n");  // LF line ends as well
  EXPECT_EQ(String(u"s", u"name"), u"Jürgen");
  Write("[s]\nname=plain\n");
  EXPECT_EQ(String(u"s", u"name"), u"plain");
}

TEST_F(IniTest, FileNameWithoutFolderLivesInTheWindowsFolder) {
  std::filesystem::create_directories(RootFile("Windows"));
  WriteFileBytes(RootFile("Windows/win.ini"), "[windows]\r\nload=yes\r\n");
  WCHAR buf[16];
  EXPECT_EQ(GetPrivateProfileStringW(u"windows", u"load", u"", buf, 16, u"win.ini"), 3u);
  EXPECT_EQ(std::u16string(buf), u"yes");
  EXPECT_EQ(GetPrivateProfileIntW(u"windows", u"missing", 5, u"WIN.INI"), 5u);

  EXPECT_TRUE(WritePrivateProfileStringW(u"new", u"key", u"value", u"made.ini"));
  EXPECT_EQ(ReadFileBytes(RootFile("Windows/made.ini")), "[new]\r\nkey=value\r\n");
}

TEST_F(IniTest, WritingChangesOnlyWhatIsAsked) {
  ASSERT_TRUE(WritePrivateProfileStringW(u"a", u"one", u"1", file_.c_str()));
  ASSERT_TRUE(WritePrivateProfileStringW(u"a", u"two", u"2", file_.c_str()));
  ASSERT_TRUE(WritePrivateProfileStringW(u"b", u"three", u"3", file_.c_str()));
  ASSERT_TRUE(WritePrivateProfileStringW(u"A", u"ONE", u"uno", file_.c_str()));  // the same key
  EXPECT_EQ(ReadFileBytes(path_), "[a]\r\none=uno\r\ntwo=2\r\n[b]\r\nthree=3\r\n");
  ASSERT_TRUE(WritePrivateProfileStringW(u"a", u"two", nullptr, file_.c_str()));  // removes the key
  ASSERT_TRUE(WritePrivateProfileStringW(u"b", nullptr, nullptr, file_.c_str()));  // removes the section
  EXPECT_EQ(ReadFileBytes(path_), "[a]\r\none=uno\r\n");

  standin::ArmFault("WritePrivateProfileStringW", ERROR_ACCESS_DENIED);
  EXPECT_FALSE(WritePrivateProfileStringW(u"a", u"one", u"changed", file_.c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(ReadFileBytes(path_), "[a]\r\none=uno\r\n");
}

}  // namespace
