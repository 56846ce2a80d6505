// Profile administration: MAPIAdminProfiles and IProfAdmin.
#include "profile_support.h"

namespace {

using namespace profile_test;

class MapiProfileAdmin : public MapiFixture {
 protected:
  // Narrow display names of the profile table, read whole with a restriction.
  std::vector<std::string> Names(LPSRestriction restriction = nullptr) {
    std::vector<std::string> names;
    Com<IProfAdmin> admin;
    Admin(&admin);
    Com<IMAPITable> table;
    EXPECT_EQ(S_OK, admin->GetProfileTable(0, table.put()));
    Columns<1> cols{1, {PR_DISPLAY_NAME_A}};
    Rows rows;
    EXPECT_EQ(S_OK, HrQueryAllRows(table.get(), cols.get(), restriction, nullptr, 0, rows.put()));
    for (ULONG i = 0; rows.get() && i < rows->cRows; ++i) names.push_back(rows->aRow[i].lpProps[0].Value.lpszA);
    return names;
  }
};

TEST_F(MapiProfileAdmin, NeedsAnInitialisedSubsystem) {
  MAPIUninitialize();
  LPPROFADMIN admin = reinterpret_cast<LPPROFADMIN>(0x1);
  EXPECT_EQ(MAPI_E_NOT_INITIALIZED, MAPIAdminProfiles(0, &admin));
  EXPECT_EQ(nullptr, admin);
  ASSERT_EQ(S_OK, MAPIInitialize(nullptr));
  EXPECT_EQ(S_OK, MAPIAdminProfiles(0, &admin));
  ASSERT_NE(nullptr, admin);
  admin->Release();
  EXPECT_EQ(MAPI_E_INVALID_PARAMETER, MAPIAdminProfiles(0, nullptr));
}

TEST_F(MapiProfileAdmin, CreateTwiceIsAccessDeniedWhateverTheCase) {
  NewProfile("Backup Temp");
  Com<IProfAdmin> admin;
  Admin(&admin);
  EXPECT_EQ(E_ACCESSDENIED, admin->CreateProfile(Narrow("Backup Temp"), nullptr, 0, 0));
  EXPECT_EQ(E_ACCESSDENIED, admin->CreateProfile(Narrow("BACKUP temp"), nullptr, 0, 0));
  EXPECT_EQ(E_ACCESSDENIED, admin->CreateProfile(Wide(u"backup TEMP"), nullptr, 0, MAPI_UNICODE));
  EXPECT_EQ(MAPI_E_INVALID_PARAMETER, admin->CreateProfile(Narrow(""), nullptr, 0, 0));
  EXPECT_EQ(MAPI_E_INVALID_PARAMETER, admin->CreateProfile(Narrow("a\\b"), nullptr, 0, 0));
  EXPECT_EQ((std::vector<std::string>{"Backup Temp", "Outlook"}), Names());
}

TEST_F(MapiProfileAdmin, DeleteMissingIsNotFoundAndDeleteRemovesEverything) {
  Com<IProfAdmin> admin;
  Admin(&admin);
  EXPECT_EQ(MAPI_E_NOT_FOUND, admin->DeleteProfile(Narrow("Nobody"), 0));
  NewProfile("Temp");
  Com<IMsgServiceAdmin> services;
  Services("Temp", &services);
  AddService(services.get(), "CONTAB");
  EXPECT_EQ(S_OK, admin->DeleteProfile(Narrow("TEMP"), 0));
  EXPECT_EQ(MAPI_E_NOT_FOUND, admin->DeleteProfile(Narrow("Temp"), 0));
  EXPECT_EQ(std::vector<std::string>{"Outlook"}, Names());
  RegOwner raw;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExW(HKEY_CURRENT_USER, (std::u16string(kProfilesKey) + u"\\Temp").c_str(),
                                                0, KEY_READ, raw.put()));
  // The service administration object outlives its profile without crashing.
  Com<IMAPITable> table;
  EXPECT_EQ(S_OK, services->GetMsgServiceTable(0, table.put()));
}

TEST_F(MapiProfileAdmin, NarrowAndUnicodeNamesMeetInOneProfile) {
  Com<IProfAdmin> admin;
  Admin(&admin);
  ASSERT_EQ(S_OK, admin->CreateProfile(Wide(u"Пошта ™"), nullptr, 0, MAPI_UNICODE));
  // The stand-in's ANSI code page is UTF-8.
  EXPECT_EQ(E_ACCESSDENIED, admin->CreateProfile(Narrow("Пошта ™"), nullptr, 0, 0));
  Com<IMsgServiceAdmin> services;
  EXPECT_EQ(S_OK, admin->AdminServices(Narrow("Пошта ™"), nullptr, 0, 0, services.put()));
  services.Reset();
  EXPECT_EQ(S_OK, admin->AdminServices(Wide(u"пошта ™"), nullptr, 0, MAPI_UNICODE, services.put()));

  Com<IMAPITable> table;
  ASSERT_EQ(S_OK, admin->GetProfileTable(MAPI_UNICODE, table.put()));
  Columns<2> cols{2, {PR_DISPLAY_NAME_W, PR_DISPLAY_NAME_A}};
  Rows rows;
  ASSERT_EQ(S_OK, HrQueryAllRows(table.get(), cols.get(), nullptr, nullptr, 0, rows.put()));
  ASSERT_EQ(2u, rows->cRows);
  EXPECT_EQ(u"Outlook", std::u16string(rows->aRow[0].lpProps[0].Value.lpszW));
  EXPECT_EQ(u"Пошта ™", std::u16string(rows->aRow[1].lpProps[0].Value.lpszW));
  EXPECT_STREQ("Пошта ™", rows->aRow[1].lpProps[1].Value.lpszA);
}

TEST_F(MapiProfileAdmin, TableAnswersRestrictionsOfOrAndProperty) {
  NewProfile("Alpha");
  NewProfile("Beta");
  NewProfile("Gamma");
  char alpha[] = "Alpha", gamma[] = "Gamma", outlook[] = "Outlook";
  SPropValue values[3];
  values[0].ulPropTag = PR_DISPLAY_NAME_A;
  values[0].Value.lpszA = alpha;
  values[1].ulPropTag = PR_DISPLAY_NAME_A;
  values[1].Value.lpszA = gamma;
  values[2].ulPropTag = PR_DISPLAY_NAME_A;
  values[2].Value.lpszA = outlook;
  SRestriction leaves[3];
  for (int i = 0; i < 3; ++i) {
    leaves[i].rt = RES_PROPERTY;
    leaves[i].res.resProperty.relop = RELOP_EQ;
    leaves[i].res.resProperty.ulPropTag = PR_DISPLAY_NAME_A;
    leaves[i].res.resProperty.lpProp = &values[i];
  }
  SRestriction any;
  any.rt = RES_OR;
  any.res.resOr.cRes = 3;
  any.res.resOr.lpRes = leaves;
  EXPECT_EQ((std::vector<std::string>{"Alpha", "Gamma", "Outlook"}), Names(&any));
  EXPECT_EQ(std::vector<std::string>{"Gamma"}, Names(&leaves[1]));
}

TEST_F(MapiProfileAdmin, DefaultProfileIsMarkedInTheTableAndForgottenOnDelete) {
  NewProfile("Second");
  Com<IProfAdmin> admin;
  Admin(&admin);
  EXPECT_EQ(MAPI_E_NOT_FOUND, admin->SetDefaultProfile(Narrow("Nobody"), 0));
  ASSERT_EQ(S_OK, admin->SetDefaultProfile(Narrow("second"), 0));
  auto defaults = [&] {
    std::vector<bool> marks;
    Com<IMAPITable> table;
    EXPECT_EQ(S_OK, admin->GetProfileTable(0, table.put()));
    Columns<1> cols{1, {PR_DEFAULT_PROFILE}};
    Rows rows;
    EXPECT_EQ(S_OK, HrQueryAllRows(table.get(), cols.get(), nullptr, nullptr, 0, rows.put()));
    for (ULONG i = 0; i < rows->cRows; ++i) marks.push_back(rows->aRow[i].lpProps[0].Value.b != 0);
    return marks;
  };
  EXPECT_EQ((std::vector<bool>{false, true}), defaults());
  ASSERT_EQ(S_OK, admin->DeleteProfile(Narrow("Second"), 0));
  NewProfile("Second");
  EXPECT_EQ((std::vector<bool>{false, false}), defaults());
}

TEST_F(MapiProfileAdmin, AdminServicesOfAMissingProfileIsNotFound) {
  Com<IProfAdmin> admin;
  Admin(&admin);
  LPSERVICEADMIN services = reinterpret_cast<LPSERVICEADMIN>(0x1);
  EXPECT_EQ(MAPI_E_NOT_FOUND, admin->AdminServices(Narrow("Nobody"), nullptr, 0, 0, &services));
  EXPECT_EQ(nullptr, services);
  EXPECT_EQ(MAPI_E_NOT_FOUND, admin->AdminServices(Wide(u"Nobody"), nullptr, 0, MAPI_UNICODE, &services));
  Com<IMAPITable> table;
  EXPECT_EQ(MAPI_E_NO_SUPPORT, admin->CopyProfile(nullptr, nullptr, nullptr, 0, 0));
}

TEST_F(MapiProfileAdmin, FaultsReachTheCallerAndChangeNothing) {
  standin::ArmFault("MAPIAdminProfiles", MAPI_E_CALL_FAILED, 1);
  LPPROFADMIN raw = nullptr;
  EXPECT_EQ(MAPI_E_CALL_FAILED, MAPIAdminProfiles(0, &raw));
  Com<IProfAdmin> admin;
  Admin(&admin);
  standin::ArmFault("IProfAdmin::CreateProfile", MAPI_E_NOT_ENOUGH_MEMORY, 1);
  EXPECT_EQ(MAPI_E_NOT_ENOUGH_MEMORY, admin->CreateProfile(Narrow("Temp"), nullptr, 0, 0));
  EXPECT_EQ(std::vector<std::string>{"Outlook"}, Names());
  // A registry that refuses writers makes creation fail, and not as "exists".
  ASSERT_EQ(ERROR_SUCCESS, standin::SetRegistryKeyReadOnly(u"HKCU", kProfilesKey, true));
  EXPECT_EQ(MAPI_E_CALL_FAILED, admin->CreateProfile(Narrow("Temp"), nullptr, 0, 0));
  ASSERT_EQ(ERROR_SUCCESS, standin::SetRegistryKeyReadOnly(u"HKCU", kProfilesKey, false));
  standin::ArmFault("IProfAdmin::DeleteProfile", MAPI_E_CALL_FAILED, 1);
  EXPECT_EQ(MAPI_E_CALL_FAILED, admin->DeleteProfile(Narrow("Outlook"), 0));
  standin::ArmFault("IProfAdmin::GetProfileTable", MAPI_E_CALL_FAILED, 1);
  Com<IMAPITable> table;
  EXPECT_EQ(MAPI_E_CALL_FAILED, admin->GetProfileTable(0, table.put()));
  EXPECT_EQ(std::vector<std::string>{"Outlook"}, Names());
}

}  // namespace
