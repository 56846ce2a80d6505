// Keys a test marks read-only refuse every writer and still serve readers.
#include <standin/registry.h>

#include "reg_support.h"

using namespace regtest;

namespace {

class RegReadOnly : public testing_support::FreshRoot {
 protected:
  void SetUp() override {
    FreshRoot::SetUp();
    Key key, below;
    ASSERT_EQ(ERROR_SUCCESS, Create(HKEY_CURRENT_USER, u"Software\\Locked\\Below", &below));
    ASSERT_EQ(ERROR_SUCCESS, Create(HKEY_CURRENT_USER, u"Software\\Locked", &key));
    ASSERT_EQ(ERROR_SUCCESS, SetDword(key, u"v", 1));
    ASSERT_EQ(ERROR_SUCCESS, standin::SetRegistryKeyReadOnly(u"HKCU", u"software\\LOCKED", true));
  }
};

TEST_F(RegReadOnly, WritersAreRefusedReadersServed) {
  Key key;
  for (REGSAM sam : {static_cast<REGSAM>(KEY_WRITE), static_cast<REGSAM>(KEY_SET_VALUE),
                     static_cast<REGSAM>(KEY_ALL_ACCESS), static_cast<REGSAM>(DELETE), static_cast<REGSAM>(GENERIC_WRITE)}) {
    SCOPED_TRACE(sam);
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Locked", 0, sam, key.out()));
    EXPECT_EQ(ERROR_ACCESS_DENIED, Create(HKEY_CURRENT_USER, u"Software\\Locked\\Below", &key, sam));
  }
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Locked", 0, KEY_READ, key.out()));
  DWORD type = 0;
  std::string bytes;
  EXPECT_EQ(ERROR_SUCCESS, Read(key, u"v", &type, &bytes));
  // The most a caller may have is reading.
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyW(HKEY_CURRENT_USER, u"Software\\Locked", key.out()));
  EXPECT_EQ(ERROR_SUCCESS, Read(key, u"v", &type, &bytes));
  EXPECT_EQ(ERROR_ACCESS_DENIED, SetDword(key, u"v", 2));
}

TEST_F(RegReadOnly, NothingBelowCanBeCreatedOrDeleted) {
  Key parent, child;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, u"Software", 0, KEY_ALL_ACCESS, parent.out()));
  EXPECT_EQ(ERROR_ACCESS_DENIED, Create(parent, u"Locked\\New", &child));
  EXPECT_EQ(ERROR_ACCESS_DENIED, Create(parent, u"Locked\\Below\\Deeper\\Still", &child));
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyW(parent, u"Locked\\Below"));
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteTreeW(parent, u"Locked"));
  // A tree holding a locked key is refused whole, not half deleted.
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteTreeW(HKEY_CURRENT_USER, u"Software"));
  Key locked;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(parent, u"Locked", 0, KEY_READ, locked.out()));
  EXPECT_EQ(std::vector<std::u16string>{u"Below"}, SubKeys(locked));
}

TEST_F(RegReadOnly, UnlockingMakesTheKeyWritableAgain) {
  ASSERT_EQ(ERROR_SUCCESS, standin::SetRegistryKeyReadOnly(u"HKCU", u"Software\\Locked", false));
  Key key;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Locked", 0, KEY_ALL_ACCESS, key.out()));
  EXPECT_EQ(ERROR_SUCCESS, SetDword(key, u"v", 2));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, standin::SetRegistryKeyReadOnly(u"HKU", u"x", true));
}

TEST_F(RegReadOnly, LockingAMissingKeyCreatesItAndALockedRootRefusesPredefinedWriters) {
  ASSERT_EQ(ERROR_SUCCESS, standin::SetRegistryKeyReadOnly(u"HKLM", u"SOFTWARE\\Vendor\\Product", true));
  Key key;
  EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Vendor\\Product", 0, KEY_READ, key.out()));
  EXPECT_EQ(ERROR_ACCESS_DENIED, Create(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Vendor\\Product\\X", &key));

  ASSERT_EQ(ERROR_SUCCESS, standin::SetRegistryKeyReadOnly(u"HKEY_CURRENT_USER", u"", true));
  EXPECT_EQ(ERROR_ACCESS_DENIED, SetDword(HKEY_CURRENT_USER, u"v", 1));
  EXPECT_EQ(ERROR_ACCESS_DENIED, Create(HKEY_CURRENT_USER, u"Elsewhere", &key));
  DWORD subKeys = 0;
  EXPECT_EQ(ERROR_SUCCESS, RegQueryInfoKeyW(HKEY_CURRENT_USER, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr,
                                            nullptr, nullptr, nullptr, nullptr, nullptr));
}

}  // namespace
