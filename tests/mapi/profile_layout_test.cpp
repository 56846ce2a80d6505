// How profiles sit in the registry: what a registry export carries and what an
// import must bring back.
#include "profile_support.h"

namespace {

using namespace profile_test;

const char16_t kServiceList[] = u"9207f3e0a3b11019908b08002b2a56c2";

class MapiProfileLayout : public MapiFixture {
 protected:
  std::u16string Key(const std::u16string& rel) const { return std::u16string(kProfilesKey) + u"\\" + rel; }

  // A value's type and bytes; ERROR_FILE_NOT_FOUND as type 0 and no data.
  std::pair<DWORD, std::string> Value(const std::u16string& key, const char16_t* name) {
    RegOwner k;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, k.put()) != ERROR_SUCCESS) return {0, {}};
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(k.get(), name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return {0, {}};
    std::string data(size, '\0');
    EXPECT_EQ(ERROR_SUCCESS,
              RegQueryValueExW(k.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size));
    return {type, data};
  }

  void SetBinary(const std::u16string& key, const char16_t* name, const std::string& data) {
    RegOwner k;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                             k.put(), nullptr));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(k.get(), name, 0, REG_BINARY, reinterpret_cast<const BYTE*>(data.data()),
                                            static_cast<DWORD>(data.size())));
  }

  static std::string Utf16Bytes(const std::u16string& text) {
    return std::string(reinterpret_cast<const char*>(text.c_str()), (text.size() + 1) * 2);
  }

  static void Privileges() {
    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token));
    for (const char16_t* name : {SE_BACKUP_NAME, SE_RESTORE_NAME}) {
      TOKEN_PRIVILEGES tp{};
      tp.PrivilegeCount = 1;
      ASSERT_TRUE(LookupPrivilegeValueW(nullptr, name, &tp.Privileges[0].Luid));
      tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
      ASSERT_TRUE(AdjustTokenPrivileges(token, FALSE, &tp, sizeof tp, nullptr, nullptr));
    }
    CloseHandle(token);
  }
};

TEST_F(MapiProfileLayout, SectionsAreKeysNamedByUidAndPropertiesAreTypedValues) {
  Com<IMsgServiceAdmin> services;
  Services("Outlook", &services);
  std::u16string path = WinPath("Mail.pst");
  std::string service = AddPst(services.get(), path, u"Mail ✉");
  std::string provider = ProviderUid(services.get(), service);

  // The service list: the service UIDs back to back.
  EXPECT_EQ((std::pair<DWORD, std::string>{REG_BINARY, service}),
            Value(Key(std::u16string(u"Outlook\\") + kServiceList), u"01023d0e"));
  std::u16string serviceKey = u"Outlook\\" + HexOf(service);
  EXPECT_EQ((std::pair<DWORD, std::string>{REG_BINARY, std::string("MSUPST MS\0", 10)}),
            Value(Key(serviceKey), u"001e3d09"));
  EXPECT_EQ(service, Value(Key(serviceKey), u"01023d0c").second);
  LONG flags = SERVICE_DEFAULT_STORE;
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&flags), 4), Value(Key(serviceKey), u"00033009").second);
  EXPECT_EQ(provider, Value(Key(serviceKey), u"01023d00").second);

  std::u16string providerKey = u"Outlook\\" + HexOf(provider);
  // Narrow text ends in one null byte, wide text in one null unit.
  EXPECT_EQ(standin::ToUtf8(path) + std::string(1, '\0'), Value(Key(providerKey), u"001e6700").second);
  EXPECT_EQ(Utf16Bytes(u"Mail ✉"), Value(Key(providerKey), u"001f3001").second);
  EXPECT_EQ(0u, Value(Key(providerKey), u"001f6700").first);

  Com<IProfAdmin> admin;
  Admin(&admin);
  ASSERT_EQ(S_OK, admin->SetDefaultProfile(Narrow("Outlook"), 0));
  EXPECT_EQ((std::pair<DWORD, std::string>{REG_SZ, Utf16Bytes(u"Outlook")}), Value(kProfilesKey, u"DefaultProfile"));
}

TEST_F(MapiProfileLayout, AProfileWrittenStraightIntoTheRegistryIsReadByMapi) {
  std::string service(16, '\x21'), provider(16, '\x22');
  std::u16string base = Key(u"Imported");
  SetBinary(base + u"\\" + kServiceList, u"01023d0e", service);
  std::u16string s = base + u"\\" + HexOf(service);
  SetBinary(s, u"001e3d09", std::string("CONTAB\0", 7));
  SetBinary(s, u"01023d0c", service);
  SetBinary(s, u"001f3001", Utf16Bytes(u"Kontakte"));
  SetBinary(s, u"01023d01", provider);
  std::u16string p = base + u"\\" + HexOf(provider);
  SetBinary(p, u"01023d0c", service);
  SetBinary(p, u"0102300c", provider);
  LONG type = MAPI_AB_PROVIDER;
  SetBinary(p, u"00033e03", std::string(reinterpret_cast<const char*>(&type), 4));
  // Values that are no properties, and an account key, are left alone.
  SetBinary(p, u"Account Name", "x");
  SetBinary(base + u"\\9375CFF0413111d3B88A00104B2A6676\\00000002", u"Account Name", Utf16Bytes(u"imap"));

  Com<IMsgServiceAdmin> services;
  Services("imported", &services);
  Com<IMAPITable> table;
  ASSERT_EQ(S_OK, services->GetMsgServiceTable(0, table.put()));
  Columns<3> cols{3, {PR_SERVICE_NAME_W, PR_DISPLAY_NAME_A, PR_SERVICE_UID}};
  Rows rows;
  ASSERT_EQ(S_OK, HrQueryAllRows(table.get(), cols.get(), nullptr, nullptr, 0, rows.put()));
  ASSERT_EQ(1u, rows->cRows);
  EXPECT_EQ(u"CONTAB", std::u16string(rows->aRow[0].lpProps[0].Value.lpszW));
  EXPECT_STREQ("Kontakte", rows->aRow[0].lpProps[1].Value.lpszA);
  EXPECT_EQ(provider, ProviderUid(services.get(), service));

  Com<IProfSect> section;
  ASSERT_EQ(S_OK,
            services->OpenProfileSection(reinterpret_cast<LPMAPIUID>(provider.data()), nullptr, 0, section.put()));
  ULONG count = 0;
  Buffer<SPropValue> all;
  ASSERT_EQ(S_OK, section->GetProps(nullptr, 0, &count, all.put()));
  EXPECT_EQ(3u, count);

  ASSERT_EQ(S_OK, services->DeleteMsgService(reinterpret_cast<LPMAPIUID>(service.data())));
  EXPECT_EQ(REG_BINARY, Value(base + u"\\9375CFF0413111d3B88A00104B2A6676\\00000002", u"Account Name").first);
}

TEST_F(MapiProfileLayout, AHiveOfTheProfilesKeyBringsEveryProfileBack) {
  Privileges();
  NewProfile("Second");
  Com<IMsgServiceAdmin> services;
  Services("Second", &services);
  std::string service = AddPst(services.get(), WinPath("s.pst"), u"Second Store");
  services.Reset();
  Com<IProfAdmin> admin;
  Admin(&admin);
  ASSERT_EQ(S_OK, admin->SetDefaultProfile(Narrow("Second"), 0));

  std::u16string hive = standin::ToUtf16(RootFile("profiles.hiv"));
  {
    RegOwner key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, kProfilesKey, 0, KEY_READ, key.put()));
    ASSERT_EQ(ERROR_SUCCESS, RegSaveKeyExW(key.get(), hive.c_str(), nullptr, REG_LATEST_FORMAT));
  }
  ASSERT_EQ(S_OK, admin->DeleteProfile(Narrow("Second"), 0));
  ASSERT_EQ(S_OK, admin->DeleteProfile(Narrow("Outlook"), 0));
  {
    RegOwner key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, kProfilesKey, 0, KEY_ALL_ACCESS, key.put()));
    ASSERT_EQ(ERROR_SUCCESS, RegRestoreKeyW(key.get(), hive.c_str(), REG_FORCE_RESTORE));
  }

  Com<IMAPITable> table;
  ASSERT_EQ(S_OK, admin->GetProfileTable(0, table.put()));
  Columns<2> cols{2, {PR_DISPLAY_NAME_A, PR_DEFAULT_PROFILE}};
  Rows rows;
  ASSERT_EQ(S_OK, HrQueryAllRows(table.get(), cols.get(), nullptr, nullptr, 0, rows.put()));
  ASSERT_EQ(2u, rows->cRows);
  EXPECT_STREQ("Outlook", rows->aRow[0].lpProps[0].Value.lpszA);
  EXPECT_STREQ("Second", rows->aRow[1].lpProps[0].Value.lpszA);
  EXPECT_TRUE(rows->aRow[1].lpProps[1].Value.b);

  Services("Second", &services);
  EXPECT_EQ(std::vector<std::string>{service}, ServiceUids(services.get()));
  Com<IProfSect> section;
  std::string provider = ProviderUid(services.get(), service);
  ASSERT_EQ(S_OK,
            services->OpenProfileSection(reinterpret_cast<LPMAPIUID>(provider.data()), nullptr, 0, section.put()));
  Buffer<SPropValue> path;
  ASSERT_EQ(S_OK, HrGetOneProp(section.get(), PR_PST_PATH_W, path.put()));
  EXPECT_EQ(WinPath("s.pst"), std::u16string(path->Value.lpszW));
}

}  // namespace
