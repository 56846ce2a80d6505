// Class lookups by program identifier through the registry's classes key, and
// the braced text form of class identifiers.
#include <gtest/gtest.h>

#include <objbase.h>
#include <windows.h>
#include <standin/fault.h>

#include <string>

#include "common/fresh_root.h"

namespace {

class ProgIdTest : public testing_support::FreshRoot {
 protected:
  // Writes HKLM\SOFTWARE\Classes\<progId>[\CLSID] with the given default value.
  static void Register(const std::u16string& progId, const std::u16string* clsidText) {
    std::u16string path = u"SOFTWARE\\Classes\\" + progId + (clsidText ? u"\\CLSID" : u"");
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    if (clsidText) {
      ASSERT_EQ(RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(clsidText->c_str()),
                               static_cast<DWORD>((clsidText->size() + 1) * sizeof(WCHAR))),
                ERROR_SUCCESS);
    }
    ASSERT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  }
};

const GUID kSentinel = {0xDEADBEEF, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};

TEST_F(ProgIdTest, FindsTheRegisteredClassAndReportsEachKindOfMiss) {
  const std::u16string text = u"{0006F03A-0000-0000-C000-000000000046}";
  Register(u"Mail.Application", &text);
  CLSID clsid = kSentinel;
  ASSERT_EQ(CLSIDFromProgID(u"mail.application", &clsid), S_OK) << "program identifiers ignore letter case";
  EXPECT_EQ(clsid, (GUID{0x0006F03A, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}}));
  WCHAR round[39] = {};
  EXPECT_EQ(StringFromGUID2(clsid, round, 39), 39);
  EXPECT_EQ(std::u16string(round), text);
  EXPECT_EQ(StringFromGUID2(clsid, round, 38), 0) << "no room for the terminator";

  clsid = kSentinel;
  EXPECT_EQ(CLSIDFromProgID(u"Nothing.Here", &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(clsid, GUID{}) << "a failed lookup leaves no stale class behind";
  Register(u"Half.Registered", nullptr);
  EXPECT_EQ(CLSIDFromProgID(u"Half.Registered", &clsid), REGDB_E_CLASSNOTREG);
  const std::u16string bad = u"{0006F03A-0000-0000-C000-00000000004G}";
  Register(u"Bad.Text", &bad);
  EXPECT_EQ(CLSIDFromProgID(u"Bad.Text", &clsid), CO_E_CLASSSTRING);
  const std::u16string longer = text + u"trailing text beyond any class identifier";
  Register(u"Long.Text", &longer);
  EXPECT_EQ(CLSIDFromProgID(u"Long.Text", &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromProgID(u"", &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromProgID(u"Mail.Application\\CLSID", &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromProgID(nullptr, &clsid), E_INVALIDARG);
  EXPECT_EQ(CLSIDFromProgID(u"Mail.Application", nullptr), E_INVALIDARG);

  standin::ArmFault("CLSIDFromProgID", REGDB_E_READREGDB, 1);
  EXPECT_EQ(CLSIDFromProgID(u"Mail.Application", &clsid), REGDB_E_READREGDB);
  EXPECT_EQ(CLSIDFromProgID(u"Mail.Application", &clsid), S_OK) << "armed for one call only";
  standin::ArmFault("RegOpenKeyExW", ERROR_ACCESS_DENIED, 1);
  EXPECT_EQ(CLSIDFromProgID(u"Mail.Application", &clsid), REGDB_E_READREGDB);
}

TEST_F(ProgIdTest, ParsesOnlyTheExactBracedForm) {
  CLSID clsid = kSentinel;
  EXPECT_EQ(CLSIDFromString(u"{00020300-0000-0000-c000-000000000046}", &clsid), S_OK);
  EXPECT_EQ(clsid, (GUID{0x00020300, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}}));
  for (const char16_t* text : {u"", u"00020300-0000-0000-C000-000000000046", u"{00020300-0000-0000-C000-000000000046",
                               u"{00020300-0000-0000-C000-0000000000460}", u"{00020300+0000-0000-C000-000000000046}",
                               u"{0002030 -0000-0000-C000-000000000046}"}) {
    clsid = kSentinel;
    EXPECT_EQ(CLSIDFromString(text, &clsid), CO_E_CLASSSTRING) << standin::ToUtf8(text);
    EXPECT_EQ(clsid, GUID{});
  }
}

}  // namespace
