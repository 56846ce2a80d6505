// The subsystem's life and the mail client's installation in the registry.
#include <mapix.h>
#include <standin/fault.h>
#include <standin/mapi.h>
#include <standin/registry.h>
#include <windows.h>
#include <winreg.h>

#include <string>

#include "../../platform/mapi/core.h"
#include "common/fresh_root.h"

namespace {

class MapiCoreSubsystem : public testing_support::FreshRoot {
 protected:
  void TearDown() override {
    // The count is process-wide: leave it as found for the next test.
    while (standin::mapi::SubsystemInitialized()) MAPIUninitialize();
    FreshRoot::TearDown();
  }
};

std::u16string ReadString(HKEY root, const char16_t* path, const char16_t* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return u"<no key>";
  char16_t buf[128] = {};
  DWORD type = 0, size = sizeof(buf) - 2;
  LSTATUS st = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(buf), &size);
  RegCloseKey(key);
  if (st != ERROR_SUCCESS) return u"<no value>";
  return type == REG_SZ ? std::u16string(buf) : u"<not REG_SZ>";
}

bool KeyExists(HKEY root, const char16_t* path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

const char16_t kSubsystem[] = u"SOFTWARE\\Microsoft\\Windows Messaging Subsystem";

TEST_F(MapiCoreSubsystem, WithoutTheMailClientInitializeFails) {
  EXPECT_FALSE(standin::MailClientInstalled());
  EXPECT_EQ(MAPIInitialize(nullptr), MAPI_E_NOT_INITIALIZED);
  EXPECT_FALSE(standin::mapi::SubsystemInitialized());
  MAPIUninitialize();  // harmless when nothing was initialised

  // "MAPIX" must be the string "1".
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSubsystem, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  DWORD one = 1;
  ASSERT_EQ(RegSetValueExW(key, u"MAPIX", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4), ERROR_SUCCESS);
  EXPECT_EQ(MAPIInitialize(nullptr), MAPI_E_NOT_INITIALIZED);
  ASSERT_EQ(RegSetValueExW(key, u"MAPIX", 0, REG_SZ, reinterpret_cast<const BYTE*>(u"0"), 4), ERROR_SUCCESS);
  EXPECT_EQ(MAPIInitialize(nullptr), MAPI_E_NOT_INITIALIZED);
  ASSERT_EQ(RegSetValueExW(key, u"MAPIX", 0, REG_SZ, reinterpret_cast<const BYTE*>(u"1"), 4), ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(MAPIInitialize(nullptr), S_OK);
  MAPIUninitialize();
}

TEST_F(MapiCoreSubsystem, InitializeIsCounted) {
  ASSERT_EQ(standin::InstallMailClient(), S_OK);
  MAPIINIT_0 init = {MAPI_INIT_VERSION, MAPI_MULTITHREAD_NOTIFICATIONS | MAPI_NO_COINIT};
  ASSERT_EQ(MAPIInitialize(&init), S_OK);
  ASSERT_EQ(MAPIInitialize(nullptr), S_OK);
  EXPECT_TRUE(standin::mapi::SubsystemInitialized());
  MAPIUninitialize();
  EXPECT_TRUE(standin::mapi::SubsystemInitialized());
  MAPIUninitialize();
  EXPECT_FALSE(standin::mapi::SubsystemInitialized());
  MAPIUninitialize();  // one too many does not drive the count below zero
  ASSERT_EQ(MAPIInitialize(nullptr), S_OK);
  EXPECT_TRUE(standin::mapi::SubsystemInitialized());
  MAPIUninitialize();
  EXPECT_FALSE(standin::mapi::SubsystemInitialized());
}

TEST_F(MapiCoreSubsystem, BadInitBlocksAndFaultsAreNotCounted) {
  ASSERT_EQ(standin::InstallMailClient(), S_OK);
  MAPIINIT_0 wrongVersion = {1, 0};
  EXPECT_EQ(MAPIInitialize(&wrongVersion), MAPI_E_VERSION);
  MAPIINIT_0 unknownFlag = {MAPI_INIT_VERSION, MAPI_NT_SERVICE | 0x4};
  EXPECT_EQ(MAPIInitialize(&unknownFlag), MAPI_E_UNKNOWN_FLAGS);
  standin::ArmFault("MAPIInitialize", MAPI_E_NOT_ENOUGH_MEMORY, 1);
  EXPECT_EQ(MAPIInitialize(nullptr), MAPI_E_NOT_ENOUGH_MEMORY);
  EXPECT_FALSE(standin::mapi::SubsystemInitialized());
  EXPECT_EQ(MAPIInitialize(nullptr), S_OK);  // only the first call was armed
  MAPIUninitialize();
}

TEST_F(MapiCoreSubsystem, InstallWritesTheClientsKeysAndIsIdempotent) {
  ASSERT_EQ(standin::InstallMailClient(), S_OK);
  ASSERT_EQ(standin::InstallMailClient(), S_OK);
  EXPECT_TRUE(standin::MailClientInstalled());
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kSubsystem, u"MAPIX"), u"1");
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kSubsystem, u"MAPIXVER"), u"1.0.0.1");
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Microsoft\\Windows Messaging Subsystem\\msmapiapps"));
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Classes\\Outlook.Application\\CLSID", u""),
            u"{0006F03A-0000-0000-C000-000000000046}");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, u"CLSID\\{0006F03A-0000-0000-C000-000000000046}\\ProgID", u""),
            u"Outlook.Application");
  EXPECT_TRUE(
      KeyExists(HKEY_CURRENT_USER,
                u"Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows Messaging Subsystem\\Profiles\\Outlook"));

  // A second install leaves what others added to the profile alone.
  HKEY profile = nullptr;
  ASSERT_EQ(
      RegOpenKeyExW(HKEY_CURRENT_USER,
                    u"Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows Messaging Subsystem\\Profiles\\Outlook",
                    0, KEY_WRITE, &profile),
      ERROR_SUCCESS);
  HKEY section = nullptr;
  ASSERT_EQ(RegCreateKeyExW(profile, u"0a0d020000000000c000000000000046", 0, nullptr, 0, KEY_WRITE, nullptr, &section,
                            nullptr),
            ERROR_SUCCESS);
  RegCloseKey(section);
  RegCloseKey(profile);
  ASSERT_EQ(standin::InstallMailClient(), S_OK);
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER,
                        u"Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows Messaging Subsystem\\Profiles\\"
                        u"Outlook\\0a0d020000000000c000000000000046"));
}

TEST_F(MapiCoreSubsystem, InstallReportsARefusedRegistryWrite) {
  ASSERT_EQ(standin::SetRegistryKeyReadOnly(u"HKLM", u"SOFTWARE\\Classes", true), ERROR_SUCCESS);
  EXPECT_EQ(standin::InstallMailClient(), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
  ASSERT_EQ(standin::SetRegistryKeyReadOnly(u"HKLM", u"SOFTWARE\\Classes", false), ERROR_SUCCESS);

  standin::ArmFault("RegSetValueExW", ERROR_DISK_FULL, 1);
  EXPECT_EQ(standin::InstallMailClient(), HRESULT_FROM_WIN32(ERROR_DISK_FULL));
  EXPECT_EQ(standin::InstallMailClient(), S_OK);
  EXPECT_TRUE(standin::MailClientInstalled());
}

}  // namespace
