// CString: buffer growth and the GetBuffer/ReleaseBuffer protocol, independence
// of copies (also when a string is built from itself), formatting through the
// typed formatter, comparison of non-ASCII text and the clamping of positions.
#include <afx.h>

#include <gtest/gtest.h>

#include <climits>
#include <stdexcept>
#include <string>

#include "common/fresh_root.h"

namespace {

class CStringTest : public testing_support::FreshRoot {};

std::u16string Text(const CString& s) { return std::u16string(s.GetString(), static_cast<size_t>(s.GetLength())); }

TEST_F(CStringTest, AppendingGrowsTheBufferAndKeepsItTerminated) {
  CString s;
  std::u16string expected;
  for (int i = 0; i < 5000; ++i) {
    WCHAR c = static_cast<WCHAR>(u'a' + i % 26);
    if (i % 3 == 0) s += c;
    else if (i % 3 == 1) s.AppendChar(c);
    else s += CString(c, 1);
    expected += c;
    ASSERT_EQ(s.GetLength(), static_cast<int>(expected.size()));
    ASSERT_GE(s.GetAllocLength(), s.GetLength());
    ASSERT_EQ(s.GetString()[s.GetLength()], 0);
  }
  EXPECT_EQ(Text(s), expected);
  s.FreeExtra();
  EXPECT_EQ(s.GetAllocLength(), s.GetLength());
  EXPECT_EQ(Text(s), expected);
}

TEST_F(CStringTest, CopiesStayIndependentAfterChanges) {
  CString a(u"shared text");
  CString b = a;
  CString c;
  c = a;
  a.SetAt(0, u'S');
  a += u" grows";
  LPWSTR buf = c.GetBuffer(64);
  buf[0] = u'X';
  c.ReleaseBuffer();
  EXPECT_EQ(a, u"Shared text grows");
  EXPECT_EQ(b, u"shared text");
  EXPECT_EQ(c, u"Xhared text");

  CString moved = std::move(b);
  EXPECT_EQ(moved, u"shared text");
  EXPECT_TRUE(b.IsEmpty());  // NOLINT(bugprone-use-after-move): a moved-from string is empty and usable
  b += u"again";
  EXPECT_EQ(b, u"again");
  EXPECT_EQ(moved, u"shared text");

  // The empty strings share nothing that a change could reach.
  CString e1, e2;
  e1.GetBuffer(4)[0] = u'z';
  e1.ReleaseBuffer(1);
  EXPECT_EQ(e1, u"z");
  EXPECT_TRUE(e2.IsEmpty());
  EXPECT_TRUE(CString().IsEmpty());
}

TEST_F(CStringTest, StringsBuiltFromThemselves) {
  CString s(u"0123456789");
  s = s.GetString() + 4;  // the source lies inside the target
  EXPECT_EQ(s, u"456789");
  s += s;
  EXPECT_EQ(s, u"456789456789");
  s.Append(s.GetString() + 10, 2);
  EXPECT_EQ(s, u"45678945678989");
  s.Insert(2, s.GetString() + 12);
  EXPECT_EQ(s, u"4589678945678989");
  CString t(u"ab");
  t.Format(u"%s-%s-%d", t.GetString(), static_cast<LPCWSTR>(t), t.GetLength());
  EXPECT_EQ(t, u"ab-ab-2");
  t.AppendFormat(u"+%s", t);
  EXPECT_EQ(t, u"ab-ab-2+ab-ab-2");
  CString u(u"xx");
  for (int i = 0; i < 12; ++i) u += u;  // doubles past several reallocations
  EXPECT_EQ(u.GetLength(), 2 << 12);
  EXPECT_EQ(u.Find(u'y'), -1);
}

TEST_F(CStringTest, GetBufferGivesTheAskedRoomPlusATerminator) {
  CString s(u"abc");
  LPWSTR buf = s.GetBuffer(50);
  EXPECT_EQ(std::u16string(buf), u"abc");  // the text is kept
  for (int i = 0; i < 50; ++i) buf[i] = u'q';
  buf[50] = 0;  // the terminator's place belongs to the caller too
  s.ReleaseBuffer();
  EXPECT_EQ(s.GetLength(), 50);
  EXPECT_EQ(Text(s), std::u16string(50, u'q'));

  // Asking for less than the text keeps the text.
  CString longer(u"a fairly long piece of text");
  LPWSTR same = longer.GetBuffer(3);
  EXPECT_EQ(std::u16string(same), u"a fairly long piece of text");
  longer.ReleaseBuffer(8);
  EXPECT_EQ(longer, u"a fairly");

  CString empty;
  LPWSTR room = empty.GetBuffer(-5);  // a negative size is no size
  ASSERT_NE(room, nullptr);
  room[0] = 0;
  empty.ReleaseBuffer();
  EXPECT_TRUE(empty.IsEmpty());
}

TEST_F(CStringTest, ReleaseBufferNeverLooksPastTheRoom) {
  CString s;
  LPWSTR buf = s.GetBuffer(8);
  int room = s.GetAllocLength();
  for (int i = 0; i < room; ++i) buf[i] = u'x';  // no terminator written
  s.ReleaseBuffer(-1);
  EXPECT_EQ(s.GetLength(), room);

  CString t;
  t.GetBuffer(4);
  t.ReleaseBuffer(1000);  // more than the room: cut to it
  EXPECT_EQ(t.GetLength(), t.GetAllocLength());
  EXPECT_EQ(t.GetString()[t.GetLength()], 0);

  CString u(u"abcdef");
  LPWSTR ubuf = u.GetBuffer(10);
  ubuf[2] = 0;
  u.ReleaseBuffer();
  EXPECT_EQ(u, u"ab");
}

TEST_F(CStringTest, GetBufferSetLengthShortensOrPadsWithZeros) {
  CString s(u"abcdefgh");
  s.GetBufferSetLength(5);
  EXPECT_EQ(s, u"abcde");
  EXPECT_EQ(s.GetLength(), 5);
  CString t(u"ab");
  LPWSTR buf = t.GetBufferSetLength(6);
  EXPECT_EQ(t.GetLength(), 6);
  EXPECT_EQ(buf[6], 0);
  buf[2] = u'c', buf[3] = u'd', buf[4] = u'e', buf[5] = u'f';
  EXPECT_EQ(t, u"abcdef");
}

TEST_F(CStringTest, FormatGrowsForLongResults) {
  std::u16string piece(3000, u'w');
  CString s;
  s.Format(u"[%s|%s|%s|%s]", piece.c_str(), piece.c_str(), piece.c_str(), piece.c_str());
  EXPECT_EQ(s.GetLength(), 4 * 3000 + 5);
  EXPECT_EQ(s.Left(1), u"[");
  EXPECT_EQ(s.Right(1), u"]");
  s.Format(u"%3000d", 7);
  EXPECT_EQ(s.GetLength(), 3000);
  EXPECT_EQ(s.Right(2), u" 7");
}

TEST_F(CStringTest, FormatConversionsOfTheSystem) {
  CString s;
  s.Format(u"%s=%d (0x%08X) %ls %S %I64d %u%%", u"hr", static_cast<HRESULT>(E_FAIL), static_cast<HRESULT>(E_FAIL),
           CString(u"wide"), "narrow", -5000000000LL, 42u);
  EXPECT_EQ(s, u"hr=-2147467259 (0x80004005) wide narrow -5000000000 42%");
  s.AppendFormat(u" %02d:%03d %c", 7, 9, u'Z');
  EXPECT_EQ(s, u"hr=-2147467259 (0x80004005) wide narrow -5000000000 42% 07:009 Z");
}

TEST_F(CStringTest, FormatWithValuesThatDoNotMatchPrintsMarkers) {
  CString s;
  s.Format(u"%d|%s|%x", u"text", 42);
  EXPECT_EQ(s, u"(invalid)|(invalid)|(missing)");
  s.Format(u"%s", static_cast<LPCWSTR>(nullptr));
  EXPECT_EQ(s, u"(null)");
  s.Format(u"no conversions", 1, 2, 3);  // extra values are ignored
  EXPECT_EQ(s, u"no conversions");
  s.Format(nullptr);
  EXPECT_TRUE(s.IsEmpty());
}

TEST_F(CStringTest, CompareNoCaseFoldsNonAsciiLetters) {
  CString umlauts(u"ÄÖÜ Größe");
  EXPECT_NE(umlauts.CompareNoCase(u"äöü GRÖSSE"), 0);  // ß has no one-letter capital
  EXPECT_EQ(umlauts.CompareNoCase(u"äöü grÖße"), 0);
  EXPECT_EQ(CString(u"Σίσυφος").CompareNoCase(u"ΣΊΣΥΦΟΣ"), 0);
  EXPECT_EQ(CString(u"Привет").CompareNoCase(u"пРИВЕТ"), 0);
  EXPECT_NE(CString(u"Привет").Compare(u"пРИВЕТ"), 0);
  // Ordering: case-insensitive by folded letter, ordinal by code unit.
  EXPECT_LT(CString(u"apple").CompareNoCase(u"Banana"), 0);
  EXPECT_GT(CString(u"apple").Compare(u"Banana"), 0);
  EXPECT_LT(CString(u"abc").CompareNoCase(u"ABCD"), 0);
  EXPECT_EQ(CString().CompareNoCase(nullptr), 0);
  EXPECT_EQ(CString().Compare(nullptr), 0);
  EXPECT_TRUE(CString(u"a") < CString(u"b"));
  EXPECT_TRUE(u"a" < CString(u"b"));
  EXPECT_TRUE(CString(u"b") > u"a");
  EXPECT_TRUE(u"x" == CString(u"x"));
  EXPECT_TRUE(CString(u"x") != u"X");
}

TEST_F(CStringTest, CaseMappingCoversNonAscii) {
  CString s(u"Grüße aus Ærøskøbing, ΣΟΦΙΑ");
  s.MakeUpper();
  EXPECT_EQ(s, u"GRÜßE AUS ÆRØSKØBING, ΣΟΦΙΑ");
  s.MakeLower();
  EXPECT_EQ(s, u"grüße aus ærøskøbing, σοφια");
  CString emoji(u"a😀b");  // surrogates stay as they are
  emoji.MakeUpper();
  EXPECT_EQ(emoji, u"A😀B");
}

TEST_F(CStringTest, PartsClampTheirPositions) {
  CString s(u"0123456789");
  EXPECT_EQ(s.Left(-1), u"");
  EXPECT_EQ(s.Left(3), u"012");
  EXPECT_EQ(s.Left(100), u"0123456789");
  EXPECT_EQ(s.Right(-1), u"");
  EXPECT_EQ(s.Right(3), u"789");
  EXPECT_EQ(s.Right(100), u"0123456789");
  EXPECT_EQ(s.Mid(-5, 3), u"012");
  EXPECT_EQ(s.Mid(7), u"789");
  EXPECT_EQ(s.Mid(2, INT_MAX), u"23456789");  // no overflow in first + count
  EXPECT_EQ(s.Mid(INT_MAX - 1, INT_MAX), u"");
  EXPECT_EQ(s.Mid(10), u"");
  EXPECT_EQ(s.Mid(3, -2), u"");

  EXPECT_EQ(s.Find(u'3'), 3);
  EXPECT_EQ(s.Find(u'3', 4), -1);
  EXPECT_EQ(s.Find(u'0', 10), -1);
  EXPECT_EQ(s.Find(u'0', -1), -1);
  EXPECT_EQ(s.Find(u"789"), 7);
  EXPECT_EQ(s.Find(u"7890"), -1);
  EXPECT_EQ(s.Find(u"89", 9), -1);
  EXPECT_EQ(s.Find(u"", 10), 10);
  EXPECT_EQ(s.Find(u"0", 11), -1);
  EXPECT_EQ(s.FindOneOf(u"975"), 5);
  EXPECT_EQ(CString(u"a\\b\\c").ReverseFind(u'\\'), 3);
  EXPECT_EQ(s.ReverseFind(u'x'), -1);
}

TEST_F(CStringTest, IndexesOutsideTheTextThrow) {
  CString s(u"abc");
  EXPECT_EQ(s.GetAt(3), 0);  // the terminator may be read
  EXPECT_EQ(s[1], u'b');
  EXPECT_THROW(s.GetAt(4), std::out_of_range);
  EXPECT_THROW(s.GetAt(-1), std::out_of_range);
  EXPECT_THROW(s.SetAt(3, u'x'), std::out_of_range);
  EXPECT_THROW(CString().SetAt(0, u'x'), std::out_of_range);
  EXPECT_EQ(s, u"abc");
}

TEST_F(CStringTest, EditingOperations) {
  CString s(u" \t padded text \r\n");
  s.Trim();
  EXPECT_EQ(s, u"padded text");
  CString dots(u"..a.b..");
  dots.TrimLeft(u'.');
  EXPECT_EQ(dots, u"a.b..");
  dots.TrimRight(u".b");
  EXPECT_EQ(dots, u"a");
  CString all(u"   ");
  all.Trim();
  EXPECT_TRUE(all.IsEmpty());

  CString r(u"aaaa");
  EXPECT_EQ(r.Replace(u"aa", u"b"), 2);
  EXPECT_EQ(r, u"bb");
  CString r2(u"aaa");
  EXPECT_EQ(r2.Replace(u"aa", u"b"), 1);  // matches do not overlap
  EXPECT_EQ(r2, u"ba");
  CString path(u"a\\b\\c");
  EXPECT_EQ(path.Replace(u"\\", u"\\\\"), 2);
  EXPECT_EQ(path, u"a\\\\b\\\\c");
  EXPECT_EQ(path.Replace(u"", u"x"), 0);
  EXPECT_EQ(path.Replace(u"\\\\", nullptr), 2);
  EXPECT_EQ(path, u"abc");
  EXPECT_EQ(path.Replace(u'b', u'B'), 1);
  EXPECT_EQ(path.Replace(u'B', u'B'), 0);
  EXPECT_EQ(path, u"aBc");

  CString m(u"m-i-s-s");
  EXPECT_EQ(m.Remove(u'-'), 3);
  EXPECT_EQ(m, u"miss");
  EXPECT_EQ(m.Insert(100, u"!"), 5);  // past the end: appended
  EXPECT_EQ(m.Insert(-3, u'>'), 6);
  EXPECT_EQ(m, u">miss!");
  EXPECT_EQ(m.Delete(1, 2), 4);
  EXPECT_EQ(m, u">ss!");
  EXPECT_EQ(m.Delete(2, INT_MAX), 2);
  EXPECT_EQ(m.Delete(5, 1), 2);
  EXPECT_EQ(m, u">s");
  EXPECT_EQ(CString(u"abc").MakeReverse(), u"cba");
}

TEST_F(CStringTest, TokenizeSkipsDelimiterRuns) {
  CString s(u"  alpha,,beta ;gamma;  ");
  int pos = 0;
  std::vector<std::u16string> tokens;
  for (CString t = s.Tokenize(u" ,;", pos); pos != -1; t = s.Tokenize(u" ,;", pos)) tokens.push_back(Text(t));
  EXPECT_EQ(tokens, (std::vector<std::u16string>{u"alpha", u"beta", u"gamma"}));
  int none = 0;
  EXPECT_TRUE(CString(u";;;").Tokenize(u";", none).IsEmpty());
  EXPECT_EQ(none, -1);
  int whole = 0;
  EXPECT_EQ(CString(u"a b").Tokenize(u"", whole), u"a b");
  CString after = CString(u"a b").Tokenize(u"", whole);
  EXPECT_TRUE(after.IsEmpty());
  EXPECT_EQ(whole, -1);
}

TEST_F(CStringTest, NarrowTextIsUtf8) {
  CString s("Grüße 😀");
  EXPECT_EQ(Text(s), u"Grüße 😀");
  EXPECT_EQ(s.GetLength(), 8);  // the emoji is a surrogate pair
  CString bad("a\xff" "b");
  EXPECT_EQ(Text(bad), u"a\uFFFDb");
  CString cut("abcdef", 3);
  EXPECT_EQ(cut, u"abc");
  CString none(static_cast<LPCSTR>(nullptr));
  EXPECT_TRUE(none.IsEmpty());
  s = "neu";
  s += " und mehr";
  EXPECT_EQ(s, u"neu und mehr");
}

TEST_F(CStringTest, CountedTextKeepsEmbeddedNuls) {
  const WCHAR raw[] = {u'a', 0, u'b'};
  CString s(raw, 3);
  EXPECT_EQ(s.GetLength(), 3);
  EXPECT_EQ(s.GetAt(2), u'b');
  CString t = s;
  EXPECT_EQ(t.GetLength(), 3);
  EXPECT_EQ(CString(u"x", -4).GetLength(), 0);
  EXPECT_EQ(CString(u'=', 4), u"====");
  EXPECT_TRUE(CString(u'=', 0).IsEmpty());
}

TEST_F(CStringTest, ConcatenationInAllDirections) {
  CString a(u"left");
  EXPECT_EQ(a + u"|" + CString(u"right"), u"left|right");
  EXPECT_EQ(u"<" + a, u"<left");
  EXPECT_EQ(a + u'!', u"left!");
  EXPECT_EQ(u'¡' + a, u"¡left");
  EXPECT_EQ(a + static_cast<LPCWSTR>(nullptr), u"left");
  EXPECT_EQ(a, u"left");
}

}  // namespace
