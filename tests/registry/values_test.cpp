// Values: types and bytes, sizes and short buffers, names, enumeration, and
// RegGetValueW's type restriction and string termination.
#include <cstdlib>
#include <cstring>

#include "reg_support.h"

using namespace regtest;

namespace {

constexpr BYTE kGuard = 0xBD;

class RegValues : public testing_support::FreshRoot {
 protected:
  void SetUp() override {
    FreshRoot::SetUp();
    ASSERT_EQ(ERROR_SUCCESS, Create(HKEY_CURRENT_USER, u"Software\\Values", &key_));
  }
  Key key_;
};

struct Sample {
  DWORD type;
  std::string bytes;
};

std::vector<Sample> EveryType() {
  const char sz[] = "h\0i\0\0\0";
  const char multi[] = "a\0\0\0b\0\0\0\0\0";
  const char odd[] = "\x01\x02\x03";
  const char qword[] = "\x01\x02\x03\x04\x05\x06\x07\x08";
  return {
      {REG_SZ, std::string(sz, sizeof sz - 1)},
      {REG_SZ, std::string(sz, 4)},  // not terminated: kept as given
      {REG_EXPAND_SZ, std::string(sz, sizeof sz - 1)},
      {REG_BINARY, std::string("\0\xff\0\x80", 4)},
      {REG_DWORD, std::string("\x78\x56\x34\x12", 4)},
      {REG_MULTI_SZ, std::string(multi, sizeof multi - 1)},
      {REG_QWORD, std::string(qword, 8)},
      {REG_NONE, std::string()},
      {REG_BINARY, std::string(odd, 3)},
      {0x12345678, std::string("any type number", 15)},
      {REG_BINARY, std::string(70000, 'x')},
  };
}

TEST_F(RegValues, EveryTypeComesBackByteForByteWithoutOverrun) {
  int n = 0;
  for (const Sample& s : EveryType()) {
    SCOPED_TRACE("sample " + std::to_string(n));
    std::u16string name = u"v" + standin::ToUtf16(std::to_string(n++));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key_, name.c_str(), 0, s.type,
                                            reinterpret_cast<const BYTE*>(s.bytes.data()),
                                            static_cast<DWORD>(s.bytes.size())));
    DWORD type = 0xdeadbeef, size = 0xdeadbeef;
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(key_, name.c_str(), nullptr, &type, nullptr, &size));
    EXPECT_EQ(s.type, type);
    ASSERT_EQ(s.bytes.size(), size);
    std::vector<BYTE> buf(size + 2, kGuard);
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(key_, name.c_str(), nullptr, &type, buf.data(), &size));
    EXPECT_EQ(s.bytes, std::string(buf.begin(), buf.begin() + size));
    EXPECT_EQ(kGuard, buf[size]);
    EXPECT_EQ(kGuard, buf[size + 1]);
  }
}

TEST_F(RegValues, ShortBufferGivesMoreDataAndTheSizeAndTouchesNothing) {
  ASSERT_EQ(ERROR_SUCCESS, SetString(key_, u"s", u"foobar"));
  BYTE buf[16];
  std::memset(buf, kGuard, sizeof buf);
  DWORD type = 0, size = 13;
  EXPECT_EQ(ERROR_MORE_DATA, RegQueryValueExW(key_, u"s", nullptr, &type, buf, &size));
  EXPECT_EQ(14u, size);
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
  for (BYTE b : buf) EXPECT_EQ(kGuard, b);

  size = 0;
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key_, u"s", nullptr, nullptr, nullptr, &size));
  EXPECT_EQ(14u, size);
  EXPECT_EQ(ERROR_INVALID_PARAMETER, RegQueryValueExW(key_, u"s", nullptr, nullptr, buf, nullptr));
  DWORD reserved = 0;
  EXPECT_EQ(ERROR_INVALID_PARAMETER, RegQueryValueExW(key_, u"s", &reserved, nullptr, nullptr, &size));

  // One variable for type and size: the size is read before the type lands.
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key_, u"d", 0, REG_BINARY, reinterpret_cast<const BYTE*>("\1\2\3\4"), 4));
  DWORD both = 4;
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key_, u"d", nullptr, &both, buf, &both));

  // A missing value: the size is cleared only when no buffer was offered.
  size = 99;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExW(key_, u"missing", nullptr, nullptr, nullptr, &size));
  EXPECT_EQ(0u, size);
  size = sizeof buf;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExW(key_, u"missing", nullptr, nullptr, buf, &size));
  EXPECT_EQ(sizeof buf, size);
}

TEST_F(RegValues, NamesAreCaseInsensitiveAndTheDefaultValueHasTwoSpellings) {
  ASSERT_EQ(ERROR_SUCCESS, SetDword(key_, u"Straße™", 1));
  ASSERT_EQ(ERROR_SUCCESS, SetDword(key_, u"STRASSE™", 9));  // a different name: no full folding of ß
  ASSERT_EQ(ERROR_SUCCESS, SetDword(key_, u"straße™", 2));
  DWORD type = 0;
  std::string bytes;
  ASSERT_EQ(ERROR_SUCCESS, Read(key_, u"STRAßE™", &type, &bytes));
  EXPECT_EQ(std::string("\x02\0\0\0", 4), bytes);
  WCHAR name[32];
  DWORD len = 32;
  ASSERT_EQ(ERROR_SUCCESS, RegEnumValueW(key_, 0, name, &len, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(std::u16string(u"Straße™"), std::u16string(name, len));  // the first spelling stays

  DWORD size = 0;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExW(key_, nullptr, nullptr, nullptr, nullptr, &size));
  ASSERT_EQ(ERROR_SUCCESS, SetString(key_, nullptr, u"default"));
  ASSERT_EQ(ERROR_SUCCESS, Read(key_, u"", &type, &bytes));
  EXPECT_EQ(16u, bytes.size());
  ASSERT_EQ(ERROR_SUCCESS, RegDeleteValueW(key_, u""));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteValueW(key_, nullptr));
}

TEST_F(RegValues, LongNamesAreRefusedNotCut) {
  std::u16string longest(16383, u'v'), tooLong(16384, u'v');
  EXPECT_EQ(ERROR_SUCCESS, SetDword(key_, longest.c_str(), 1));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, SetDword(key_, tooLong.c_str(), 1));
  DWORD size = 0;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExW(key_, tooLong.c_str(), nullptr, nullptr, nullptr, &size));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteValueW(key_, tooLong.c_str()));
  DWORD values = 0, maxName = 0;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryInfoKeyW(key_, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                                            &maxName, nullptr, nullptr, nullptr));
  EXPECT_EQ(1u, values);
  EXPECT_EQ(16383u, maxName);
}

TEST_F(RegValues, NullDataNeedsZeroSize) {
  EXPECT_EQ(ERROR_NOACCESS, RegSetValueExW(key_, u"n", 0, REG_SZ, nullptr, 4));
  EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(key_, u"n", 0, REG_SZ, nullptr, 0));
  DWORD type = 0, size = 99;
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key_, u"n", nullptr, &type, nullptr, &size));
  EXPECT_EQ(0u, size);
}

TEST_F(RegValues, EnumerationKeepsCreationOrderAndReportsShortBuffers) {
  for (const char16_t* n : {u"A", u"C", u"D", u"B"}) ASSERT_EQ(ERROR_SUCCESS, SetDword(key_, n, 0));
  ASSERT_EQ(ERROR_SUCCESS, SetDword(key_, u"c", 5));  // an update keeps the place
  std::u16string order;
  WCHAR name[8];
  for (DWORD i = 0;; ++i) {
    DWORD len = 8;
    LONG rc = RegEnumValueW(key_, i, name, &len, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    ASSERT_EQ(ERROR_SUCCESS, rc);
    order += std::u16string(name, len);
  }
  EXPECT_EQ(u"ACDB", order);

  ASSERT_EQ(ERROR_SUCCESS, RegDeleteTreeW(key_, nullptr));
  ASSERT_EQ(ERROR_SUCCESS, SetString(key_, u"Test", u"foobar"));
  WCHAR data[8];
  auto reset = [&] {
    std::fill(std::begin(name), std::end(name), u'x');
    std::fill(std::begin(data), std::end(data), u'x');
  };
  DWORD len = 2, dataLen = 4, type = 0;
  reset();  // both too short: only the sizes and type come back
  EXPECT_EQ(ERROR_MORE_DATA, RegEnumValueW(key_, 0, name, &len, nullptr, &type, reinterpret_cast<BYTE*>(data), &dataLen));
  EXPECT_EQ(2u, len);
  EXPECT_EQ(14u, dataLen);
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
  EXPECT_EQ(u'x', name[0]);
  EXPECT_EQ(u'x', data[0]);
  len = 8, dataLen = 4;
  reset();  // only the data too short: the name is written
  EXPECT_EQ(ERROR_MORE_DATA, RegEnumValueW(key_, 0, name, &len, nullptr, &type, reinterpret_cast<BYTE*>(data), &dataLen));
  EXPECT_EQ(4u, len);
  EXPECT_EQ(std::u16string(u"Test"), std::u16string(name));
  EXPECT_EQ(u'x', data[0]);
  len = 8, dataLen = 14;
  reset();
  EXPECT_EQ(ERROR_SUCCESS, RegEnumValueW(key_, 0, name, &len, nullptr, &type, reinterpret_cast<BYTE*>(data), &dataLen));
  EXPECT_EQ(std::u16string(u"foobar"), std::u16string(data));
  EXPECT_EQ(u'x', data[7]);
  EXPECT_EQ(ERROR_INVALID_PARAMETER, RegEnumValueW(key_, 0, nullptr, &len, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, RegEnumValueW(key_, 0, name, nullptr, nullptr, nullptr, nullptr, nullptr));
}

class RegGetValue : public RegValues {
 protected:
  void SetUp() override {
    RegValues::SetUp();
    const DWORD qw[2] = {0x12345678, 0x87654321};
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key_, u"DWORD", 0, REG_DWORD, reinterpret_cast<const BYTE*>(qw), 4));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key_, u"BIN32", 0, REG_BINARY, reinterpret_cast<const BYTE*>(qw), 4));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key_, u"BIN64", 0, REG_BINARY, reinterpret_cast<const BYTE*>(qw), 8));
  }
};

TEST_F(RegGetValue, TypeRestrictionRefusesButStillReports) {
  DWORD type = 0, size = 4, dw = 0;
  EXPECT_EQ(ERROR_INVALID_PARAMETER, RegGetValueW(key_, nullptr, u"DWORD", RRF_RT_REG_DWORD, &type, &dw, nullptr));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, RegGetValueW(key_, nullptr, u"DWORD", 0, &type, &dw, &size));
  ASSERT_EQ(ERROR_SUCCESS, RegGetValueW(key_, nullptr, u"DWORD", RRF_RT_REG_DWORD, &type, &dw, &size));
  EXPECT_EQ(0x12345678u, dw);

  dw = 0;
  EXPECT_EQ(ERROR_UNSUPPORTED_TYPE, RegGetValueW(key_, nullptr, u"DWORD", RRF_RT_REG_BINARY, &type, &dw, &size));
  EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
  EXPECT_EQ(0x12345678u, dw);
  EXPECT_EQ(ERROR_UNSUPPORTED_TYPE,
            RegGetValueW(key_, nullptr, u"DWORD", RRF_RT_REG_SZ | RRF_ZEROONFAILURE, &type, &dw, &size));
  EXPECT_EQ(0u, dw);

  EXPECT_EQ(ERROR_SUCCESS, RegGetValueW(key_, nullptr, u"BIN32", RRF_RT_DWORD, &type, &dw, &size));
  DWORD qw[2] = {};
  size = sizeof qw;
  EXPECT_EQ(ERROR_DATATYPE_MISMATCH, RegGetValueW(key_, nullptr, u"BIN64", RRF_RT_DWORD, &type, qw, &size));
  EXPECT_EQ(ERROR_SUCCESS, RegGetValueW(key_, nullptr, u"BIN64", RRF_RT_QWORD, &type, qw, &size));
  EXPECT_EQ(0x87654321u, qw[1]);
  dw = 0xdeadbeef, size = 4;
  EXPECT_EQ(ERROR_MORE_DATA, RegGetValueW(key_, nullptr, u"BIN64", RRF_RT_REG_BINARY, &type, &dw, &size));
  EXPECT_EQ(0xdeadbeefu, dw);
  EXPECT_EQ(8u, size);
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegGetValueW(key_, nullptr, u"none", RRF_RT_ANY, nullptr, nullptr, nullptr));
  // Through a subkey path, from a predefined key.
  EXPECT_EQ(ERROR_SUCCESS, RegGetValueW(HKEY_CURRENT_USER, u"Software\\Values", u"dword", RRF_RT_REG_DWORD, nullptr,
                                        nullptr, nullptr));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegGetValueW(HKEY_CURRENT_USER, u"Software\\NoKey", u"dword", RRF_RT_REG_DWORD,
                                               nullptr, nullptr, nullptr));
}

TEST_F(RegGetValue, StringsAlwaysComeBackTerminated) {
  const char16_t unterminated[] = u"FullString";
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key_, u"s", 0, REG_SZ, reinterpret_cast<const BYTE*>(unterminated), 20));
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key_, u"empty", 0, REG_SZ, reinterpret_cast<const BYTE*>(u""), 0));
  WCHAR buf[16];
  std::fill(std::begin(buf), std::end(buf), u'#');
  DWORD size = 20;
  EXPECT_EQ(ERROR_MORE_DATA, RegGetValueW(key_, nullptr, u"s", RRF_RT_REG_SZ, nullptr, buf, &size));
  EXPECT_EQ(22u, size);
  EXPECT_EQ(u'#', buf[0]);
  EXPECT_EQ(ERROR_SUCCESS, RegGetValueW(key_, nullptr, u"s", RRF_RT_REG_SZ, nullptr, buf, &size));
  EXPECT_EQ(std::u16string(u"FullString"), std::u16string(buf));
  EXPECT_EQ(u'#', buf[11]);
  size = 0;
  EXPECT_EQ(ERROR_SUCCESS, RegGetValueW(key_, nullptr, u"empty", RRF_RT_REG_SZ, nullptr, nullptr, &size));
  EXPECT_EQ(2u, size);
  // The raw query keeps the bytes as stored.
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key_, u"s", nullptr, nullptr, nullptr, &size));
  EXPECT_EQ(20u, size);
}

TEST_F(RegGetValue, ExpandableStringsAreExpandedUnlessAskedNotTo) {
  setenv("CORVANE_REG_TEST_VAR", "bar", 1);
  const char16_t text[] = u"%CORVANE_REG_TEST_VAR%\\sub %UNSET_CORVANE_VAR%";
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key_, u"e", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(text),
                                          sizeof text));
  WCHAR buf[64];
  DWORD size = sizeof buf, type = 0;
  ASSERT_EQ(ERROR_SUCCESS, RegGetValueW(key_, nullptr, u"e", RRF_RT_REG_SZ, &type, buf, &size));
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
  EXPECT_EQ(std::u16string(u"bar\\sub %UNSET_CORVANE_VAR%"), std::u16string(buf));
  EXPECT_EQ((std::u16string(buf).size() + 1) * 2, size);
  size = sizeof buf;
  ASSERT_EQ(ERROR_SUCCESS,
            RegGetValueW(key_, nullptr, u"e", RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, &type, buf, &size));
  EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), type);
  EXPECT_EQ(std::u16string(text), std::u16string(buf));
  EXPECT_EQ(ERROR_UNSUPPORTED_TYPE,
            RegGetValueW(key_, nullptr, u"e", RRF_RT_REG_SZ | RRF_NOEXPAND, nullptr, nullptr, nullptr));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, RegGetValueW(key_, nullptr, u"e", RRF_RT_REG_EXPAND_SZ, nullptr, nullptr, nullptr));
  unsetenv("CORVANE_REG_TEST_VAR");
}

}  // namespace
