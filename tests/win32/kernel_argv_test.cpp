// CommandLineToArgvW: the platform's splitting rules, case by case.
#include <vector>

#include "common/fresh_root.h"

#include <standin/fault.h>

using namespace testing_support;

namespace {

class KernelArgvTest : public FreshRoot {};

std::vector<std::u16string> Split(const char16_t* line) {
  int argc = -1;
  LPWSTR* argv = CommandLineToArgvW(line, &argc);
  std::vector<std::u16string> out;
  if (!argv) return {u"<failed>"};
  for (int i = 0; i < argc; ++i) out.emplace_back(argv[i]);
  EXPECT_EQ(nullptr, argv[argc]) << "the list ends with a null";
  LocalFree(argv);  // one block
  return out;
}

TEST_F(KernelArgvTest, Cases) {
  struct Case {
    const char16_t* line;
    std::vector<std::u16string> args;
  } cases[] = {
      {u"test.exe", {u"test.exe"}},
      {u"test.exe ", {u"test.exe"}},
      {u"test.exe\t", {u"test.exe"}},
      {u"test.exe\r", {u"test.exe"}},
      {u"test.exe\na", {u"test.exe", u"a"}},
      {u"test.exe a  b\t\tc", {u"test.exe", u"a", u"b", u"c"}},
      // The program name: quotes and backslashes are plain, no escapes.
      {u"\"C:\\Program Files\\a.exe\" x", {u"C:\\Program Files\\a.exe", u"x"}},
      {u"\"a b\"c d", {u"a b", u"c", u"d"}},
      {u"C:\\dir\\\"x y\"", {u"C:\\dir\\\"x", u"y"}},
      {u"\"This is a test.exe\"\r", {u"This is a test.exe", u"\r"}},
      {u" leading", {u"", u"leading"}},
      // Later arguments: quotes group, backslashes escape only before a quote.
      {u"p \"a b\" \"c d\"", {u"p", u"a b", u"c d"}},
      {u"p a b \"c", {u"p", u"a", u"b", u"c"}},
      {u"p a\\\\\\b d\"e f\"g h", {u"p", u"a\\\\\\b", u"de fg", u"h"}},
      {u"p a\\\\\\\"b c d", {u"p", u"a\\\"b", u"c", u"d"}},
      {u"p a\\\\\\\\\"b c\" d e", {u"p", u"a\\\\b c", u"d", u"e"}},
      {u"p \"g\\\\\" h", {u"p", u"g\\", u"h"}},
      {u"p \\\\server\\share", {u"p", u"\\\\server\\share"}},
      {u"p \"\" \"\" \"\"", {u"p", u"", u"", u""}},
      {u"p \"", {u"p", u""}},
      // Runs of quotes: every third is literal; two in a row end quoting.
      {u"p \"a \" d\"", {u"p", u"a ", u"d"}},
      {u"p \"0 1\"\" 2", {u"p", u"0 1\"", u"2"}},
      {u"p \"0 1\"\"\" 2", {u"p", u"0 1\" 2"}},
      {u"p \"\"\" x", {u"p", u"\"", u"x"}},
      {u"p \"\"\"\" x", {u"p", u"\" x"}},
      {u"p \"\"\"\"\" x", {u"p", u"\"", u"x"}},
      {u"p \"\"\"\"\"\" x", {u"p", u"\"\"", u"x"}},
      {u"p \"\"\"\"\"\"\" x", {u"p", u"\"\" x"}},
      {u"p a\"\"b", {u"p", u"ab"}},
  };
  for (const Case& c : cases) EXPECT_EQ(c.args, Split(c.line)) << standin::ToUtf8(c.line);
}

TEST_F(KernelArgvTest, EmptyLineNamesTheProgramAndNullIsRefused) {
  WCHAR self[1024];
  DWORD n = GetModuleFileNameW(nullptr, self, 1024);
  ASSERT_GT(n, 0u);
  EXPECT_EQ(std::vector<std::u16string>{std::u16string(self, n)}, Split(u""));

  int argc = 12345;
  SetLastError(0xdeadbeef);
  EXPECT_EQ(nullptr, CommandLineToArgvW(nullptr, &argc));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
  EXPECT_EQ(12345, argc);
  EXPECT_EQ(nullptr, CommandLineToArgvW(u"x", nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());

  standin::ArmFault("CommandLineToArgvW", ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(nullptr, CommandLineToArgvW(u"x y", &argc));
  EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY), GetLastError());
}

}  // namespace
