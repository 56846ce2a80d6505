// Keys: creating, opening, names and paths, access masks, deleting, enumerating.
#include <standin/registry.h>
#include <standin/root.h>

#include "reg_support.h"

using namespace regtest;

namespace {

class RegKeys : public testing_support::FreshRoot {};

TEST_F(RegKeys, CreatesANestedPathInOneCallAndReportsTheDisposition) {
  Key key;
  DWORD disposition = 0xdeadbeef;
  ASSERT_EQ(ERROR_SUCCESS, Create(HKEY_CURRENT_USER, u"Software\\Corvane\\A\\B\\C", &key, KEY_ALL_ACCESS, &disposition));
  EXPECT_EQ(static_cast<DWORD>(REG_CREATED_NEW_KEY), disposition);
  ASSERT_EQ(ERROR_SUCCESS, Create(HKEY_CURRENT_USER, u"Software\\Corvane\\A\\B\\C", &key, KEY_ALL_ACCESS, &disposition));
  EXPECT_EQ(static_cast<DWORD>(REG_OPENED_EXISTING_KEY), disposition);
  Key mid;
  EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Corvane\\A\\B", 0, KEY_READ, mid.out()));
  EXPECT_EQ(std::vector<std::u16string>{u"C"}, SubKeys(mid));
}

TEST_F(RegKeys, NamesAreCaseInsensitiveAndKeepTheirCase) {
  Key key;
  ASSERT_EQ(ERROR_SUCCESS, Create(HKEY_CURRENT_USER, u"Software\\MiXed\\Ärger™", &key));
  Key again;
  DWORD disposition = 0;
  // Folding is full Unicode, not just A-Z.
  ASSERT_EQ(ERROR_SUCCESS, Create(HKEY_CURRENT_USER, u"SOFTWARE\\mixed\\äRGER™", &again, KEY_READ, &disposition));
  EXPECT_EQ(static_cast<DWORD>(REG_OPENED_EXISTING_KEY), disposition);
  Key parent;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, u"software\\MIXED", 0, KEY_READ, parent.out()));
  EXPECT_EQ(std::vector<std::u16string>{u"Ärger™"}, SubKeys(parent));
}

TEST_F(RegKeys, PathRulesRefuseWhatWouldBeCutOrGuessed) {
  Key key;
  EXPECT_EQ(ERROR_BAD_PATHNAME, Create(HKEY_CURRENT_USER, u"\\Software\\X", &key));
  EXPECT_EQ(ERROR_BAD_PATHNAME, Create(HKEY_CURRENT_USER, u"Software\\\\X", &key));
  EXPECT_EQ(nullptr, key.get());
  EXPECT_EQ(ERROR_SUCCESS, Create(HKEY_CURRENT_USER, u"Software\\Trailing\\\\", &key));

  std::u16string longest(255, u'k'), tooLong(256, u'k');
  EXPECT_EQ(ERROR_SUCCESS, Create(HKEY_CURRENT_USER, (u"Software\\" + longest).c_str(), &key));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, Create(HKEY_CURRENT_USER, (u"Software\\L\\" + tooLong).c_str(), &key));
  EXPECT_EQ(ERROR_INVALID_PARAMETER,
            RegOpenKeyExW(HKEY_CURRENT_USER, (u"Software\\" + tooLong).c_str(), 0, KEY_READ, key.out()));
  // Nothing of the refused path was made, not even its first part.
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\L", 0, KEY_READ, key.out()));
}

TEST_F(RegKeys, EmptySubKeyOpensTheKeyItself) {
  Key key;
  ASSERT_EQ(ERROR_SUCCESS, Create(HKEY_CURRENT_USER, u"Software\\Self", &key));
  Key same;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(key, u"", 0, KEY_READ, same.out()));
  EXPECT_NE(key.get(), same.get());
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(key, nullptr, 0, KEY_READ, same.out()));
  EXPECT_NE(key.get(), same.get());
  ASSERT_EQ(ERROR_SUCCESS, SetDword(key, u"v", 7));
  DWORD type = 0;
  std::string bytes;
  EXPECT_EQ(ERROR_SUCCESS, Read(same, u"v", &type, &bytes));

  HKEY result = reinterpret_cast<HKEY>(0x1234);
  EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, nullptr, 0, KEY_READ, &result));
  EXPECT_EQ(HKEY_CURRENT_USER, result);
  // The legacy form gives the handle back as it came.
  EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyW(key, u"", &result));
  EXPECT_EQ(key.get(), result);
}

TEST_F(RegKeys, BadArgumentsAndMissingKeys) {
  HKEY result = reinterpret_cast<HKEY>(0x1234);
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Nowhere", 0, KEY_READ, &result));
  EXPECT_EQ(nullptr, result);
  EXPECT_EQ(ERROR_INVALID_PARAMETER, RegOpenKeyExW(HKEY_CURRENT_USER, u"Software", 0, KEY_READ, nullptr));
  EXPECT_EQ(ERROR_BADKEY, RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\X", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                          nullptr, nullptr));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, RegCreateKeyW(HKEY_CURRENT_USER, u"Software\\X", nullptr));
  result = reinterpret_cast<HKEY>(0x1234);
  EXPECT_EQ(ERROR_INVALID_HANDLE, RegOpenKeyExW(nullptr, u"Software", 0, KEY_READ, &result));
  EXPECT_EQ(nullptr, result);
  EXPECT_EQ(ERROR_INVALID_HANDLE, RegOpenKeyExW(reinterpret_cast<HKEY>(0x7777), u"x", 0, KEY_READ, &result));
  EXPECT_EQ(ERROR_INVALID_HANDLE, RegOpenKeyExW(HKEY_USERS, u".DEFAULT", 0, KEY_READ, &result));

  Key key;
  ASSERT_EQ(ERROR_SUCCESS, Create(HKEY_CURRENT_USER, u"Software\\Close", &key));
  HKEY raw = key.get();
  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(raw));
  EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(raw));
  *key.out() = nullptr;
  EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(nullptr));
  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(HKEY_LOCAL_MACHINE));
  EXPECT_EQ(ERROR_INVALID_HANDLE, SetDword(raw, u"v", 1));
}

TEST_F(RegKeys, ClassesRootIsMachineSoftwareClasses) {
  Key cls;
  ASSERT_EQ(ERROR_SUCCESS, Create(HKEY_CLASSES_ROOT, u".txt", &cls));
  ASSERT_EQ(ERROR_SUCCESS, SetString(cls, nullptr, u"txtfile"));
  Key machine;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Classes\\.TXT", 0, KEY_READ, machine.out()));
  DWORD type = 0;
  std::string bytes;
  ASSERT_EQ(ERROR_SUCCESS, Read(machine, u"", &type, &bytes));
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
}

TEST_F(RegKeys, AccessMaskOfTheHandleIsEnforced) {
  Key setup;
  ASSERT_EQ(ERROR_SUCCESS, Create(HKEY_CURRENT_USER, u"Software\\Access\\Sub", &setup));
  ASSERT_EQ(ERROR_SUCCESS, SetDword(setup, u"v", 1));

  Key reader;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Access\\Sub", 0, KEY_READ, reader.out()));
  DWORD type = 0;
  std::string bytes;
  EXPECT_EQ(ERROR_SUCCESS, Read(reader, u"v", &type, &bytes));
  EXPECT_EQ(ERROR_ACCESS_DENIED, SetDword(reader, u"v", 2));
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteValueW(reader, u"v"));
  Key child;
  EXPECT_EQ(ERROR_ACCESS_DENIED, Create(reader, u"New", &child));

  Key writer;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Access", 0, KEY_SET_VALUE, writer.out()));
  EXPECT_EQ(ERROR_SUCCESS, SetDword(writer, u"w", 2));
  DWORD size = 0;
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegQueryValueExW(writer, u"w", nullptr, nullptr, nullptr, &size));
  WCHAR name[32];
  DWORD len = 32;
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegEnumKeyExW(writer, 0, name, &len, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegQueryInfoKeyW(writer, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                                  nullptr, nullptr, nullptr, nullptr, nullptr));

  // Generic rights map onto key rights.
  Key generic;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Access", 0, GENERIC_READ, generic.out()));
  EXPECT_EQ(ERROR_SUCCESS, RegEnumKeyExW(generic, 0, name, &len, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(ERROR_ACCESS_DENIED, SetDword(generic, u"w", 3));
}

TEST_F(RegKeys, DeleteRefusesKeysWithSubkeysAndRoots) {
  Key key;
  ASSERT_EQ(ERROR_SUCCESS, Create(HKEY_CURRENT_USER, u"Software\\Del\\Child", &key));
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyW(HKEY_CURRENT_USER, u"Software\\Del"));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, RegDeleteKeyW(HKEY_CURRENT_USER, nullptr));
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyW(HKEY_CURRENT_USER, u""));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteKeyW(HKEY_CURRENT_USER, u"Software\\Del\\Missing"));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyW(key, u""));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyExW(HKEY_CURRENT_USER, u"software\\DEL", KEY_WOW64_64KEY, 0));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Del", 0, KEY_READ, key.out()));
}

TEST_F(RegKeys, HandleOfADeletedKeyStaysDeletedEvenWhenTheNameComesBack) {
  Key held;
  ASSERT_EQ(ERROR_SUCCESS, Create(HKEY_CURRENT_USER, u"Software\\Gone", &held));
  ASSERT_EQ(ERROR_SUCCESS, SetDword(held, u"v", 1));
  ASSERT_EQ(ERROR_SUCCESS, RegDeleteTreeW(HKEY_CURRENT_USER, u"Software\\Gone"));
  Key reborn;
  ASSERT_EQ(ERROR_SUCCESS, Create(HKEY_CURRENT_USER, u"Software\\Gone", &reborn));

  DWORD size = 4, type = 0;
  BYTE buf[4];
  EXPECT_EQ(ERROR_KEY_DELETED, RegQueryValueExW(held, u"v", nullptr, &type, buf, &size));
  EXPECT_EQ(ERROR_KEY_DELETED, SetDword(held, u"v", 2));
  WCHAR name[32];
  DWORD len = 32;
  EXPECT_EQ(ERROR_KEY_DELETED, RegEnumKeyExW(held, 0, name, &len, nullptr, nullptr, nullptr, nullptr));
  len = 32;
  EXPECT_EQ(ERROR_KEY_DELETED, RegEnumValueW(held, 0, name, &len, nullptr, nullptr, nullptr, nullptr));
  Key sub;
  EXPECT_EQ(ERROR_KEY_DELETED, RegOpenKeyExW(held, u"x", 0, KEY_READ, sub.out()));
  EXPECT_EQ(ERROR_KEY_DELETED, Create(held, u"x", &sub));
  EXPECT_EQ(ERROR_KEY_DELETED, RegFlushKey(held));
  // The new key of the same name is untouched by all that.
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExW(reborn, u"v", nullptr, nullptr, nullptr, &size));
  EXPECT_EQ(ERROR_SUCCESS, RegFlushKey(reborn));
}

TEST_F(RegKeys, DeleteTreeTakesSubtreeOrEmptiesTheKey) {
  Key top, deep;
  ASSERT_EQ(ERROR_SUCCESS, Create(HKEY_CURRENT_USER, u"Software\\Tree\\A\\B", &deep));
  ASSERT_EQ(ERROR_SUCCESS, Create(HKEY_CURRENT_USER, u"Software\\Tree", &top));
  ASSERT_EQ(ERROR_SUCCESS, SetDword(top, u"v", 1));
  ASSERT_EQ(ERROR_SUCCESS, SetDword(deep, u"v", 1));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteTreeW(top, u"Missing"));
  ASSERT_EQ(ERROR_SUCCESS, RegDeleteTreeW(top, u"A"));
  EXPECT_TRUE(SubKeys(top).empty());
  EXPECT_EQ(ERROR_KEY_DELETED, SetDword(deep, u"v", 2));
  DWORD size = 0;
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(top, u"v", nullptr, nullptr, nullptr, &size));

  Key again;
  ASSERT_EQ(ERROR_SUCCESS, Create(top, u"C\\D", &again));
  ASSERT_EQ(ERROR_SUCCESS, RegDeleteTreeW(top, nullptr));
  EXPECT_TRUE(SubKeys(top).empty());
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExW(top, u"v", nullptr, nullptr, nullptr, &size));
  EXPECT_EQ(ERROR_SUCCESS, SetDword(top, u"still", 1));
}

TEST_F(RegKeys, EnumeratesSubkeysSortedCaseInsensitively) {
  Key top;
  ASSERT_EQ(ERROR_SUCCESS, Create(HKEY_CURRENT_USER, u"Software\\Order", &top));
  for (const char16_t* name : {u"b", u"ä", u"C", u"A", u"B2", u"a1"}) {
    Key k;
    ASSERT_EQ(ERROR_SUCCESS, Create(top, name, &k));
  }
  EXPECT_EQ((std::vector<std::u16string>{u"A", u"a1", u"b", u"B2", u"C", u"ä"}), SubKeys(top));

  // A short buffer writes nothing, not even past its own end.
  WCHAR name[8];
  std::fill(std::begin(name), std::end(name), u'#');
  DWORD len = 2;
  EXPECT_EQ(ERROR_MORE_DATA, RegEnumKeyExW(top, 1, name, &len, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(2u, len);
  EXPECT_EQ(u'#', name[0]);
  len = 3;
  FILETIME written{};
  EXPECT_EQ(ERROR_SUCCESS, RegEnumKeyExW(top, 1, name, &len, nullptr, nullptr, nullptr, &written));
  EXPECT_EQ(2u, len);
  EXPECT_EQ(std::u16string(u"a1"), std::u16string(name));
  EXPECT_EQ(u'#', name[3]);
  EXPECT_NE(0u, written.dwHighDateTime);
  len = 8;
  EXPECT_EQ(ERROR_NO_MORE_ITEMS, RegEnumKeyExW(top, 6, name, &len, nullptr, nullptr, nullptr, nullptr));
}

TEST_F(RegKeys, QueryInfoCountsMaximaClassAndLastWrite) {
  SYSTEMTIME early{2020, 1, 3, 1, 10, 0, 0, 0};
  standin::SetSystemTimeOverride(&early);
  Key top;
  WCHAR cls[] = u"MyClass";
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\Info", 0, cls, 0, KEY_ALL_ACCESS, nullptr,
                                           top.out(), nullptr));
  FILETIME before{};
  ASSERT_EQ(ERROR_SUCCESS, RegQueryInfoKeyW(top, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                            nullptr, nullptr, nullptr, &before));
  SYSTEMTIME later{2021, 6, 2, 1, 10, 0, 0, 0};
  standin::SetSystemTimeOverride(&later);
  Key a, b;
  WCHAR subClass[] = u"LongerClass";
  ASSERT_EQ(ERROR_SUCCESS,
            RegCreateKeyExW(top, u"Child", 0, subClass, 0, KEY_ALL_ACCESS, nullptr, a.out(), nullptr));
  ASSERT_EQ(ERROR_SUCCESS, Create(top, u"LongestChildName", &b));
  ASSERT_EQ(ERROR_SUCCESS, SetString(top, u"name", u"0123456789"));
  ASSERT_EQ(ERROR_SUCCESS, SetDword(top, u"a much longer name", 1));

  DWORD subKeys = 0, maxSub = 0, maxClass = 0, values = 0, maxName = 0, maxData = 0, sd = 0, clsLen = 0;
  FILETIME after{};
  ASSERT_EQ(ERROR_SUCCESS, RegQueryInfoKeyW(top, nullptr, &clsLen, nullptr, &subKeys, &maxSub, &maxClass, &values,
                                            &maxName, &maxData, &sd, &after));
  EXPECT_EQ(7u, clsLen);
  EXPECT_EQ(2u, subKeys);
  EXPECT_EQ(16u, maxSub);
  EXPECT_EQ(11u, maxClass);
  EXPECT_EQ(2u, values);
  EXPECT_EQ(18u, maxName);
  EXPECT_EQ(22u, maxData);
  EXPECT_NE(0u, sd);
  EXPECT_EQ(1, CompareFileTime(&after, &before));

  WCHAR buf[16];
  std::fill(std::begin(buf), std::end(buf), u'#');
  clsLen = 7;  // no room for the terminator
  EXPECT_EQ(ERROR_MORE_DATA, RegQueryInfoKeyW(top, buf, &clsLen, nullptr, nullptr, nullptr, nullptr, nullptr,
                                              nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(u'#', buf[0]);
  clsLen = 8;
  EXPECT_EQ(ERROR_SUCCESS, RegQueryInfoKeyW(top, buf, &clsLen, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                            nullptr, nullptr, nullptr));
  EXPECT_EQ(std::u16string(u"MyClass"), std::u16string(buf));
  EXPECT_EQ(u'#', buf[8]);
  EXPECT_EQ(ERROR_INVALID_PARAMETER, RegQueryInfoKeyW(top, buf, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                                      nullptr, nullptr, nullptr, nullptr));
}

TEST_F(RegKeys, ChildrenOfAVolatileKeyMustBeVolatile) {
  Key v, child;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\Volatile", 0, nullptr, REG_OPTION_VOLATILE,
                                           KEY_ALL_ACCESS, nullptr, v.out(), nullptr));
  EXPECT_EQ(ERROR_CHILD_MUST_BE_VOLATILE, Create(v, u"Stable", &child));
  EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExW(v, u"Fleeting", 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr,
                                           child.out(), nullptr));
  // Opening it again needs no options.
  EXPECT_EQ(ERROR_SUCCESS, Create(v, u"Fleeting", &child));
}

}  // namespace
