// Splitting a path into drive, folder, name and extension, and composing one,
// with the platform's path rules; short buffers are refused, never overrun.
#include <gtest/gtest.h>

#include <windows.h>

#include <cerrno>
#include <string>

#include "common/fresh_root.h"

namespace {

constexpr WCHAR kGuard = 0xBEEF;

struct Parts {
  WCHAR drive[8], dir[64], fname[32], ext[16];
  WCHAR guard = kGuard;
  errno_t Split(const WCHAR* path) { return _wsplitpath_s(path, drive, dir, fname, ext); }
};

class SplitPathTest : public testing_support::FreshRoot {};

TEST_F(SplitPathTest, SplitsDriveFolderNameAndExtension) {
  struct Case {
    const WCHAR* path;
    const WCHAR *drive, *dir, *fname, *ext;
  } cases[] = {
      {u"Z:\\data\\mail\\backup.pst", u"Z:", u"\\data\\mail\\", u"backup", u".pst"},
      {u"Z:/data/mail/host.exe", u"Z:", u"/data/mail/", u"host", u".exe"},
      {u"Z:\\data/mixed\\archive.tar.gz", u"Z:", u"\\data/mixed\\", u"archive.tar", u".gz"},
      {u"Z:\\data\\folder\\", u"Z:", u"\\data\\folder\\", u"", u""},
      {u"Z:\\data\\noext", u"Z:", u"\\data\\", u"noext", u""},
      {u"Z:\\dotted.dir\\name", u"Z:", u"\\dotted.dir\\", u"name", u""},
      {u"relative.pst", u"", u"", u"relative", u".pst"},
      {u"Z:name.txt", u"Z:", u"", u"name", u".txt"},
      {u"", u"", u"", u"", u""},
  };
  for (const Case& c : cases) {
    Parts p;
    ASSERT_EQ(p.Split(c.path), 0) << standin::ToUtf8(c.path);
    EXPECT_EQ(std::u16string(p.drive), c.drive) << standin::ToUtf8(c.path);
    EXPECT_EQ(std::u16string(p.dir), c.dir) << standin::ToUtf8(c.path);
    EXPECT_EQ(std::u16string(p.fname), c.fname) << standin::ToUtf8(c.path);
    EXPECT_EQ(std::u16string(p.ext), c.ext) << standin::ToUtf8(c.path);
  }
  // Unwanted parts are passed as null with no room.
  WCHAR name[16];
  EXPECT_EQ(_wsplitpath_s(u"Z:\\a\\b.c", nullptr, 0, nullptr, 0, name, 16, nullptr, 0), 0);
  EXPECT_EQ(std::u16string(name), u"b");
}

TEST_F(SplitPathTest, ShortBuffersEmptyEveryPartAndAreNotOverrun) {
  Parts p;
  std::u16string longName(40, u'n');  // longer than fname's 32
  std::u16string path = u"Z:\\x\\" + longName + u".pst";
  EXPECT_EQ(p.Split(path.c_str()), ERANGE);
  EXPECT_EQ(p.drive[0], 0);
  EXPECT_EQ(p.dir[0], 0);
  EXPECT_EQ(p.fname[0], 0);
  EXPECT_EQ(p.ext[0], 0);
  EXPECT_EQ(p.guard, kGuard);
  // Exactly full (31 characters and the terminator) still fits.
  std::u16string fits = u"Z:\\x\\" + std::u16string(31, u'n');
  EXPECT_EQ(p.Split(fits.c_str()), 0);
  EXPECT_EQ(std::u16string(p.fname).size(), 31u);
  EXPECT_EQ(p.guard, kGuard);

  EXPECT_EQ(p.Split(nullptr), EINVAL);
  WCHAR dir[8];
  EXPECT_EQ(_wsplitpath_s(u"Z:\\a", nullptr, 4, dir, 8, nullptr, 0, nullptr, 0), EINVAL) << "pointer and size disagree";
}

TEST_F(SplitPathTest, ComposesAndRefusesWhatDoesNotFit) {
  WCHAR path[MAX_PATH];
  ASSERT_EQ(_wmakepath_s(path, u"Z:", u"\\data\\mail\\", u"host.exe", u"pst"), 0);
  EXPECT_EQ(std::u16string(path), u"Z:\\data\\mail\\host.exe.pst");
  ASSERT_EQ(_wmakepath_s(path, u"Z", u"/data", u"x", u".pst"), 0);
  EXPECT_EQ(std::u16string(path), u"Z:/data\\x.pst") << "colon and separator added";
  ASSERT_EQ(_wmakepath_s(path, nullptr, u"", u"*", u"*"), 0);
  EXPECT_EQ(std::u16string(path), u"*.*");

  // A split path composes back to itself.
  Parts p;
  ASSERT_EQ(p.Split(u"Z:\\data\\backup.pst"), 0);
  ASSERT_EQ(_wmakepath_s(path, p.drive, p.dir, p.fname, p.ext), 0);
  EXPECT_EQ(std::u16string(path), u"Z:\\data\\backup.pst");

  struct {
    WCHAR buf[10];
    WCHAR guard = kGuard;
  } small;
  EXPECT_EQ(_wmakepath_s(small.buf, u"Z:", u"\\d\\", u"name", u"pst"), ERANGE);
  EXPECT_EQ(small.buf[0], 0);
  EXPECT_EQ(small.guard, kGuard);
  ASSERT_EQ(_wmakepath_s(small.buf, u"Z:", u"\\d\\", u"na", u"p"), 0) << "nine characters fit";
  EXPECT_EQ(std::u16string(small.buf), u"Z:\\d\\na.p");
  EXPECT_EQ(_wmakepath_s(nullptr, 0, u"Z:", nullptr, nullptr, nullptr), EINVAL);
}

}  // namespace
