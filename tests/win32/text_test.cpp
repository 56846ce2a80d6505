// UTF-16 text: the typed printf formatter (the conversions the system's log
// lines and statements use, values that do not match, output cut at the
// buffer's end with guard characters after it), the secure copies, UTF-8
// conversion and the case-insensitive compares.
#include <gtest/gtest.h>

#include <windows.h>

#include <cerrno>
#include <climits>
#include <string>

#include "common/fresh_root.h"

namespace {

constexpr WCHAR kGuard = 0xBEEF;

// A buffer of N characters followed by guard characters that must survive.
template <size_t N>
struct Guarded {
  WCHAR buf[N + 4];
  Guarded() {
    for (WCHAR& c : buf) c = kGuard;
  }
  bool GuardsIntact() const {
    for (size_t i = N; i < N + 4; ++i)
      if (buf[i] != kGuard) return false;
    return true;
  }
  std::u16string Text() const { return std::u16string(buf, wcsnlen(buf, N)); }
};

template <class... Args>
std::u16string F(const WCHAR* fmt, const Args&... args) {
  WCHAR out[8192];
  int n = swprintf_s(out, fmt, args...);
  EXPECT_GE(n, 0) << "format did not fit";
  return out;
}

class FormatTest : public testing_support::FreshRoot {};
class TextTest : public testing_support::FreshRoot {};

TEST_F(FormatTest, ConversionsOfTheSystem) {
  EXPECT_EQ(F(u"%s|%ls", u"wide", u"text"), u"wide|text");
  EXPECT_EQ(F(u"%S|%hs", "narrow", "grüße"), u"narrow|grüße");  // narrow text is UTF-8
  EXPECT_EQ(F(u"%d %i %ld", -42, 7, static_cast<LONG>(-7)), u"-42 7 -7");
  EXPECT_EQ(F(u"%u", 4000000000u), u"4000000000");
  EXPECT_EQ(F(u"%x %X", 255, 255), u"ff FF");
  EXPECT_EQ(F(u"[%4x]", 0xab), u"[  ab]");
  EXPECT_EQ(F(u"%08X", 0xBEEFu), u"0000BEEF");
  EXPECT_EQ(F(u"%02d:%02d:%03d", 5, 42, 7), u"05:42:007");
  EXPECT_EQ(F(u"%04x", 0x1f), u"001f");
  EXPECT_EQ(F(u"%I64d %I64u", -5000000000LL, ULLONG_MAX), u"-5000000000 18446744073709551615");
  EXPECT_EQ(F(u"%lld %llu %zu", LLONG_MIN, 1ULL << 40, static_cast<size_t>(12)),
            u"-9223372036854775808 1099511627776 12");
  EXPECT_EQ(F(u"%p", reinterpret_cast<void*>(0x1234)), u"0000000000001234");
  EXPECT_EQ(F(u"%c%c", u'é', 'A'), u"éA");
  EXPECT_EQ(F(u"100%% sure"), u"100% sure");
  EXPECT_EQ(F(u"%.2f|%6.1f|%e", 3.14159, 2.25, 1.5), u"3.14|   2.2|1.500000e+00");
}

TEST_F(FormatTest, NegativeValuesAsThirtyTwoBitWords) {
  // Result codes are LONG: printed in hex they are their 32-bit pattern.
  EXPECT_EQ(F(u"0x%08X", E_FAIL), u"0x80004005");
  EXPECT_EQ(F(u"%x", static_cast<HRESULT>(0x80040111)), u"80040111");
  EXPECT_EQ(F(u"%08lx", E_FAIL), u"80004005");
  EXPECT_EQ(F(u"%x", -1), u"ffffffff");
  EXPECT_EQ(F(u"%x", static_cast<long long>(-1)), u"ffffffff");  // %x reads 32 bits
  EXPECT_EQ(F(u"%I64x", static_cast<long long>(-1)), u"ffffffffffffffff");
  EXPECT_EQ(F(u"%d", 0x80004005u), u"-2147467259");
  EXPECT_EQ(F(u"%u", -1), u"4294967295");
  EXPECT_EQ(F(u"%hd|%hu", 70000, -1), u"4464|65535");
  EXPECT_EQ(F(u"%d", INT_MIN), u"-2147483648");
}

TEST_F(FormatTest, WidthPrecisionAndFlags) {
  EXPECT_EQ(F(u"[%-5d]", 3), u"[3    ]");
  EXPECT_EQ(F(u"[%-05d]", 3), u"[3    ]");  // '-' wins over '0'
  EXPECT_EQ(F(u"[%05d]", -3), u"[-0003]");
  EXPECT_EQ(F(u"[%+d|% d]", 3, 3), u"[+3| 3]");
  EXPECT_EQ(F(u"[%.3d]", 7), u"[007]");
  EXPECT_EQ(F(u"[%8.3d]", -7), u"[    -007]");
  EXPECT_EQ(F(u"[%.0d]", 0), u"[]");
  EXPECT_EQ(F(u"[%5.1s]", u"abc"), u"[    a]");
  EXPECT_EQ(F(u"[%-6s]", u"ab"), u"[ab    ]");
  EXPECT_EQ(F(u"[%.2S]", "narrow"), u"[na]");
  EXPECT_EQ(F(u"[%*d|%-*d]", 4, 7, 3, 8), u"[   7|8  ]");
  EXPECT_EQ(F(u"[%.*s]", 2, u"abcdef"), u"[ab]");
  EXPECT_EQ(F(u"%#x %#X %#o %o", 255, 255, 8, 8), u"0xff 0XFF 010 10");
  EXPECT_EQ(F(u"[%3c]", u'x'), u"[  x]");
  EXPECT_EQ(F(u"[%20p]", nullptr), u"[    0000000000000000]");
}

TEST_F(FormatTest, ValuesThatDoNotMatchPrintMarkers) {
  EXPECT_EQ(F(u"%d", u"text"), u"(invalid)");
  EXPECT_EQ(F(u"%s", 42), u"(invalid)");
  EXPECT_EQ(F(u"%x", 2.5), u"(invalid)");
  EXPECT_EQ(F(u"%c", u"string"), u"(invalid)");
  EXPECT_EQ(F(u"%f", u"x"), u"(invalid)");
  EXPECT_EQ(F(u"%p", 1.5), u"(invalid)");
  EXPECT_EQ(F(u"%s and %s", u"one"), u"one and (missing)");
  EXPECT_EQ(F(u"%d%d%d"), u"(missing)(missing)(missing)");
  EXPECT_EQ(F(u"%d", 1, u"extra", 3.0), u"1");
  EXPECT_EQ(F(u"%s|%S", static_cast<const WCHAR*>(nullptr), static_cast<const char*>(nullptr)), u"(null)|(null)");
  EXPECT_EQ(F(u"%*d", u"width", 5), u"5");  // a width that is no number is no width
  int untouched = 17;
  EXPECT_EQ(F(u"a%nb", &untouched), u"ab");  // %n never writes
  EXPECT_EQ(untouched, 17);
  EXPECT_EQ(F(u"50%"), u"50%");
  EXPECT_EQ(F(u"%y|%-"), u"%y|%-");
}

TEST_F(FormatTest, HugeWidthsAreBoundedAndNeverOverrun) {
  std::u16string wide = F(u"%99999d", 1);
  EXPECT_EQ(wide.size(), 4096u);
  EXPECT_EQ(wide.back(), u'1');
  std::u16string precise = F(u"%.99999f", 1.0);
  EXPECT_EQ(precise.substr(0, 4), u"1.00");
  Guarded<16> g;
  EXPECT_EQ(_snwprintf_s(g.buf, 16, _TRUNCATE, u"%99999d", 1), -1);
  EXPECT_EQ(g.Text(), std::u16string(15, u' '));
  EXPECT_TRUE(g.GuardsIntact());
}

TEST_F(FormatTest, TruncationStopsAtTheBufferEnd) {
  Guarded<8> fits;
  EXPECT_EQ(_snwprintf_s(fits.buf, 8, _TRUNCATE, u"%s", u"1234567"), 7);  // exactly full
  EXPECT_EQ(fits.Text(), u"1234567");
  EXPECT_EQ(fits.buf[7], 0);
  EXPECT_TRUE(fits.GuardsIntact());

  Guarded<8> cut;
  EXPECT_EQ(_snwprintf_s(cut.buf, 8, _TRUNCATE, u"%s%d", u"123456", 78), -1);
  EXPECT_EQ(cut.Text(), u"1234567");
  EXPECT_TRUE(cut.GuardsIntact());

  Guarded<8> counted;
  EXPECT_EQ(_snwprintf_s(counted.buf, 8, 3, u"abcdef"), -1);  // count below the size: cut to count
  EXPECT_EQ(counted.Text(), u"abc");
  EXPECT_TRUE(counted.GuardsIntact());

  Guarded<8> tooMuch;
  EXPECT_EQ(_snwprintf_s(tooMuch.buf, 8, 20, u"abcdefghij"), -1);  // count beyond the size: nothing
  EXPECT_EQ(tooMuch.Text(), u"");
  EXPECT_TRUE(tooMuch.GuardsIntact());

  WCHAR arr[6];
  EXPECT_EQ(_snwprintf_s(arr, _TRUNCATE, u"%d", 1234567), -1);
  EXPECT_EQ(std::u16string(arr), u"12345");
}

TEST_F(FormatTest, SwprintfOverflowLeavesAnEmptyString) {
  Guarded<8> g;
  EXPECT_EQ(swprintf_s(g.buf, 8, u"%d", 123456789), -1);
  EXPECT_EQ(g.buf[0], 0);
  EXPECT_TRUE(g.GuardsIntact());
  Guarded<8> padded;
  EXPECT_EQ(swprintf_s(padded.buf, 8, u"%20s", u"x"), -1);
  EXPECT_EQ(padded.buf[0], 0);
  EXPECT_TRUE(padded.GuardsIntact());
  Guarded<8> ok;
  EXPECT_EQ(swprintf_s(ok.buf, 8, u"%s", u"1234567"), 7);
  EXPECT_TRUE(ok.GuardsIntact());
  EXPECT_EQ(swprintf_s(static_cast<WCHAR*>(nullptr), 8, u"x"), -1);
  EXPECT_EQ(swprintf_s(static_cast<WCHAR*>(ok.buf), size_t{0}, u"x"), -1);
}

TEST_F(FormatTest, FormatTypedReportsTruncation) {
  Guarded<4> g;
  bool truncated = false;
  EXPECT_EQ(standin::FormatTyped(g.buf, 4, u"%s", &truncated, u"abcdef"), 3);
  EXPECT_TRUE(truncated);
  EXPECT_EQ(g.Text(), u"abc");
  EXPECT_TRUE(g.GuardsIntact());
  Guarded<4> none;
  EXPECT_EQ(standin::FormatTyped(none.buf, 0, u"%s", &truncated, u"abc"), 0);
  EXPECT_TRUE(truncated);
  EXPECT_EQ(none.buf[0], kGuard);  // no room: nothing written, not even a terminator
  EXPECT_EQ(standin::FormatTyped(g.buf, 4, u"ab", &truncated), 2);
  EXPECT_FALSE(truncated);
}

// ---- conversions ----

bool HasLoneSurrogate(const std::u16string& s) {
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] >= 0xD800 && s[i] <= 0xDBFF) {
      if (i + 1 == s.size() || s[i + 1] < 0xDC00 || s[i + 1] > 0xDFFF) return true;
      ++i;
    } else if (s[i] >= 0xDC00 && s[i] <= 0xDFFF) {
      return true;
    }
  }
  return false;
}

TEST_F(TextTest, Utf8RoundTripWithSurrogatePairs) {
  std::u16string text = u"a é € 😀 \U0010FFFF";
  std::string utf8 = standin::ToUtf8(text);
  EXPECT_EQ(utf8, "a \xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 \xF4\x8F\xBF\xBF");
  EXPECT_EQ(standin::ToUtf16(utf8), text);
}

TEST_F(TextTest, LoneSurrogatesBecomeReplacementCharacters) {
  const std::string fffd = "\xEF\xBF\xBD";
  EXPECT_EQ(standin::ToUtf8(std::u16string{u'a', 0xD800, u'b'}), "a" + fffd + "b");
  EXPECT_EQ(standin::ToUtf8(std::u16string{0xDC00, u'b'}), fffd + "b");
  EXPECT_EQ(standin::ToUtf8(std::u16string{u'a', 0xD83D}), "a" + fffd);  // cut pair at the end
  EXPECT_EQ(standin::ToUtf8(std::u16string{0xDE00, 0xD83D}), fffd + fffd);  // reversed pair
}

TEST_F(TextTest, InvalidUtf8NeverYieldsBrokenUtf16) {
  const char* bad[] = {"\xC3", "a\x80z", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xF8\x88\x80\x80\x80",
                       "ok\xE2\x82"};
  for (const char* b : bad) {
    std::u16string out = standin::ToUtf16(b);
    EXPECT_NE(out.find(u'\uFFFD'), std::u16string::npos) << b;
    EXPECT_FALSE(HasLoneSurrogate(out)) << b;
  }
  EXPECT_EQ(standin::ToUtf16("a\x80z"), u"a\uFFFDz");
  EXPECT_EQ(standin::ToUtf16("ok\xE2\x82"), u"ok\uFFFD\uFFFD");
}

TEST_F(TextTest, MultiByteToWideCharSizesAndShortBuffers) {
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "grüße", -1, nullptr, 0), 6);  // with the terminator
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "grüße", 7, nullptr, 0), 5);     // counted: no terminator
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "\xF0\x9F\x98\x80", -1, nullptr, 0), 3);
  Guarded<6> exact;
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "grüße", -1, exact.buf, 6), 6);
  EXPECT_EQ(exact.Text(), u"grüße");
  EXPECT_TRUE(exact.GuardsIntact());
  Guarded<5> shortBuf;
  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "grüße", -1, shortBuf.buf, 5), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_TRUE(shortBuf.GuardsIntact());
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "x", 0, shortBuf.buf, 5), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, nullptr, -1, shortBuf.buf, 5), 0);
}

TEST_F(TextTest, WideCharToMultiByteSizesAndShortBuffers) {
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"€😀", -1, nullptr, 0, nullptr, nullptr), 8);
  char out[8];
  BOOL usedDefault = TRUE;
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"€😀", -1, out, 8, nullptr, &usedDefault), 8);
  EXPECT_STREQ(out, "\xE2\x82\xAC\xF0\x9F\x98\x80");
  EXPECT_FALSE(usedDefault);
  char shortBuf[9];
  std::memset(shortBuf, 'G', sizeof shortBuf);
  SetLastError(0);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"€😀", -1, shortBuf, 7, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(shortBuf[7], 'G');
  EXPECT_EQ(shortBuf[8], 'G');
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"abc", 2, out, 8, nullptr, nullptr), 2);
}

TEST_F(TextTest, SecureCopiesNeverPassTheBuffer) {
  Guarded<5> a;
  EXPECT_EQ(wcscpy_s(a.buf, 5, u"abcd"), 0);
  EXPECT_EQ(a.Text(), u"abcd");
  EXPECT_EQ(wcscpy_s(a.buf, 5, u"abcde"), ERANGE);
  EXPECT_EQ(a.buf[0], 0);
  EXPECT_TRUE(a.GuardsIntact());
  EXPECT_EQ(wcscpy_s(a.buf, 5, nullptr), EINVAL);

  Guarded<5> n;
  EXPECT_EQ(wcsncpy_s(n.buf, 5, u"abcdefgh", _TRUNCATE), STRUNCATE);
  EXPECT_EQ(n.Text(), u"abcd");
  EXPECT_EQ(wcsncpy_s(n.buf, 5, u"abcdefgh", 3), 0);
  EXPECT_EQ(n.Text(), u"abc");
  EXPECT_EQ(wcsncpy_s(n.buf, 5, u"abcdefgh", 10), ERANGE);
  EXPECT_EQ(n.buf[0], 0);
  EXPECT_EQ(wcsncpy_s(n.buf, 5, u"ab", 10), 0);  // a short source with a large count fits
  EXPECT_EQ(n.Text(), u"ab");
  EXPECT_TRUE(n.GuardsIntact());
  // An unterminated source is read only up to count.
  const WCHAR unterminated[3] = {u'x', u'y', u'z'};
  EXPECT_EQ(wcsncpy_s(n.buf, 5, unterminated, 3), 0);
  EXPECT_EQ(n.Text(), u"xyz");

  Guarded<5> c;
  wcscpy_s(c.buf, 5, u"ab");
  EXPECT_EQ(wcscat_s(c.buf, 5, u"cd"), 0);
  EXPECT_EQ(c.Text(), u"abcd");
  EXPECT_EQ(wcscat_s(c.buf, 5, u"e"), ERANGE);
  EXPECT_EQ(c.buf[0], 0);
  EXPECT_TRUE(c.GuardsIntact());
  for (int i = 0; i < 5; ++i) c.buf[i] = u'u';  // no terminator inside the buffer
  EXPECT_EQ(wcscat_s(c.buf, 5, u"x"), EINVAL);
  EXPECT_TRUE(c.GuardsIntact());

  Guarded<4> l;
  EXPECT_EQ(lstrcpynW(l.buf, u"abcdef", 4), l.buf);
  EXPECT_EQ(l.Text(), u"abc");
  EXPECT_TRUE(l.GuardsIntact());
  lstrcpynW(l.buf, u"abcdef", 1);
  EXPECT_EQ(l.buf[0], 0);
}

TEST_F(TextTest, CaseInsensitiveComparesDifferOnNonAscii) {
  // The platform's lstrcmpiW knows every letter; the C library's _wcsicmp
  // in the "C" locale only A to Z.
  EXPECT_EQ(lstrcmpiW(u"ÄRGER Σ", u"ärger σ"), 0);
  EXPECT_NE(_wcsicmp(u"ÄRGER", u"ärger"), 0);
  EXPECT_EQ(_wcsicmp(u"ABC", u"abc"), 0);
  EXPECT_EQ(_wcsnicmp(u"ABCx", u"abcy", 3), 0);
  EXPECT_LT(lstrcmpiW(u"abc", u"ABCD"), 0);
  EXPECT_GT(lstrcmpiW(u"b", u"A"), 0);
  EXPECT_LT(lstrcmpiW(nullptr, u"a"), 0);
  EXPECT_EQ(lstrcmpiW(nullptr, nullptr), 0);
  EXPECT_EQ(lstrcmpW(u"a", u"a"), 0);
  EXPECT_NE(lstrcmpW(u"a", u"A"), 0);
  EXPECT_EQ(standin::CompareNoCase(u"straße", u"STRASSE") == 0, false);
}

TEST_F(TextTest, IntegerParsingKeepsThePlatformsLongRange) {
  WCHAR* end = nullptr;
  const WCHAR* s = u"  -12abc";
  EXPECT_EQ(wcstol(s, &end, 10), -12);
  EXPECT_EQ(end, s + 5);
  EXPECT_EQ(wcstol(u"0x1F", nullptr, 16), 31);
  EXPECT_EQ(wcstol(u"0x1F", nullptr, 0), 31);
  EXPECT_EQ(wcstol(u"010", nullptr, 0), 8);
  const WCHAR* none = u"abc";
  EXPECT_EQ(wcstol(none, &end, 10), 0);
  EXPECT_EQ(end, none);

  errno = 0;
  EXPECT_EQ(wcstol(u"2147483647", nullptr, 10), 2147483647L);
  EXPECT_EQ(errno, 0);
  EXPECT_EQ(wcstol(u"-2147483648", nullptr, 10), -2147483648L);
  EXPECT_EQ(wcstol(u"99999999999", nullptr, 10), 2147483647L);
  EXPECT_EQ(errno, ERANGE);
  EXPECT_EQ(wcstol(u"-99999999999999999999999", nullptr, 10), -2147483648L);
  EXPECT_EQ(wcstoul(u"-1", nullptr, 10), 0xFFFFFFFFul);
  errno = 0;
  EXPECT_EQ(wcstoul(u"4294967295", nullptr, 10), 0xFFFFFFFFul);
  EXPECT_EQ(errno, 0);
  EXPECT_EQ(wcstoul(u"4294967296", nullptr, 10), 0xFFFFFFFFul);
  EXPECT_EQ(errno, ERANGE);
  EXPECT_EQ(_wtoi(u"42x"), 42);
  EXPECT_EQ(_wtoi(u"-9223372036854775808"), INT_MIN);
}

}  // namespace
