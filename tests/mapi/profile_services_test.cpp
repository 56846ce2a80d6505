// Message services of a profile: IMsgServiceAdmin, IProviderAdmin, IProfSect.
#include <filesystem>

#include "profile_support.h"

namespace {

using namespace profile_test;

class MapiProfileServices : public MapiFixture {
 protected:
  void SetUp() override {
    MapiFixture::SetUp();
    Services("Outlook", &services_);
  }
  LPMAPIUID Uid(std::string& uid) { return reinterpret_cast<LPMAPIUID>(uid.data()); }

  // Opens the first provider's section as the library does.
  void Section(std::string serviceUid, Com<IProfSect>* section, ULONG flags = MAPI_MODIFY | MAPI_FORCE_ACCESS) {
    std::string provider = ProviderUid(services_.get(), serviceUid);
    ASSERT_EQ(16u, provider.size());
    ASSERT_EQ(S_OK, services_->OpenProfileSection(Uid(provider), nullptr, flags, section->put()));
  }

  // Service names and resource flags of the service table.
  std::vector<std::pair<std::u16string, LONG>> Table() {
    std::vector<std::pair<std::u16string, LONG>> out;
    Com<IMAPITable> table;
    EXPECT_EQ(S_OK, services_->GetMsgServiceTable(0, table.put()));
    Columns<3> cols{3, {PR_SERVICE_NAME_W, PR_SERVICE_UID, PR_RESOURCE_FLAGS}};
    Rows rows;
    EXPECT_EQ(S_OK, HrQueryAllRows(table.get(), cols.get(), nullptr, nullptr, 0, rows.put()));
    for (ULONG i = 0; i < rows->cRows; ++i)
      out.emplace_back(rows->aRow[i].lpProps[0].Value.lpszW, rows->aRow[i].lpProps[2].Value.l);
    return out;
  }

  Com<IMsgServiceAdmin> services_;
};

TEST_F(MapiProfileServices, CatalogServicesAppearInOrderOfCreation) {
  AddService(services_.get(), "CONTAB");
  AddService(services_.get(), "msupst ms");
  AddService(services_.get(), "INTERSTOR");
  AddService(services_.get(), "MSPST MS");
  // The first store service is the default store, and only it.
  EXPECT_EQ((std::vector<std::pair<std::u16string, LONG>>{{u"CONTAB", 0},
                                                          {u"MSUPST MS", static_cast<LONG>(SERVICE_DEFAULT_STORE)},
                                                          {u"INTERSTOR", 0},
                                                          {u"MSPST MS", 0}}),
            Table());
  // Only the Unicode personal folders, as the library restricts the table.
  char upst[] = "MSUPST MS";
  SPropValue name;
  name.ulPropTag = PR_SERVICE_NAME_A;
  name.Value.lpszA = upst;
  SRestriction only;
  only.rt = RES_PROPERTY;
  only.res.resProperty.relop = RELOP_EQ;
  only.res.resProperty.ulPropTag = PR_SERVICE_NAME_A;
  only.res.resProperty.lpProp = &name;
  Com<IMAPITable> table;
  ASSERT_EQ(S_OK, services_->GetMsgServiceTable(0, table.put()));
  Columns<3> cols{3, {PR_SERVICE_NAME_A, PR_SERVICE_UID, PR_RESOURCE_FLAGS}};
  Rows rows;
  ASSERT_EQ(S_OK, HrQueryAllRows(table.get(), cols.get(), &only, nullptr, 0, rows.put()));
  ASSERT_EQ(1u, rows->cRows);
  EXPECT_STREQ("MSUPST MS", rows->aRow[0].lpProps[0].Value.lpszA);
  EXPECT_EQ(static_cast<LONG>(SERVICE_DEFAULT_STORE), rows->aRow[0].lpProps[2].Value.l);

  EXPECT_EQ(MAPI_E_NOT_FOUND, services_->CreateMsgService(Narrow("MSEMS"), nullptr, 0, 0));
  EXPECT_EQ(S_OK, services_->CreateMsgService(Wide(u"CONTAB"), Wide(u"Kontakte"), 0, MAPI_UNICODE));
  EXPECT_EQ(5u, Table().size());
}

TEST_F(MapiProfileServices, NewServiceIsFoundByItsUidAndHasOneProvider) {
  std::string first = AddService(services_.get(), "MSUPST MS");
  std::string second = AddService(services_.get(), "MSUPST MS");
  ASSERT_EQ(16u, first.size());
  EXPECT_NE(first, second);

  Com<IProviderAdmin> providers;
  ASSERT_EQ(S_OK, services_->AdminProviders(Uid(second), 0, providers.put()));
  Com<IMAPITable> table;
  ASSERT_EQ(S_OK, providers->GetProviderTable(0, table.put()));
  Columns<4> cols{4, {PR_PROVIDER_UID, PR_RESOURCE_TYPE, PR_SERVICE_UID, PR_DISPLAY_NAME_W}};
  Rows rows;
  ASSERT_EQ(S_OK, HrQueryAllRows(table.get(), cols.get(), nullptr, nullptr, 0, rows.put()));
  ASSERT_EQ(1u, rows->cRows);
  EXPECT_EQ(static_cast<LONG>(MAPI_STORE_PROVIDER), rows->aRow[0].lpProps[1].Value.l);
  EXPECT_EQ(second, UidOf(rows->aRow[0].lpProps[2]));
  EXPECT_EQ(u"Personal Folders", std::u16string(rows->aRow[0].lpProps[3].Value.lpszW));
  EXPECT_NE(second, UidOf(rows->aRow[0].lpProps[0]));

  std::string contab = AddService(services_.get(), "CONTAB");
  Com<IProviderAdmin> abProviders;
  ASSERT_EQ(S_OK, services_->AdminProviders(Uid(contab), 0, abProviders.put()));
  Com<IMAPITable> abTable;
  ASSERT_EQ(S_OK, abProviders->GetProviderTable(0, abTable.put()));
  Rows abRows;
  ASSERT_EQ(S_OK, HrQueryAllRows(abTable.get(), cols.get(), nullptr, nullptr, 0, abRows.put()));
  ASSERT_EQ(1u, abRows->cRows);
  EXPECT_EQ(static_cast<LONG>(MAPI_AB_PROVIDER), abRows->aRow[0].lpProps[1].Value.l);

  std::string missing(16, '\x7f');
  EXPECT_EQ(MAPI_E_NOT_FOUND, services_->AdminProviders(Uid(missing), 0, providers.put()));
}

TEST_F(MapiProfileServices, ConfigureCreatesTheStoreFileAndKeepsPathAndName) {
  std::u16string path = WinPath("mail/Archive.pst");
  std::filesystem::create_directories(RootFile("mail"));
  std::string uid = AddPst(services_.get(), path, u"Archiv 2024");
  ASSERT_TRUE(std::filesystem::exists(RootFile("mail/Archive.pst")));
  MAPIUID storeUid;
  EXPECT_EQ(S_OK, standin::mapi::ReadStoreUid(path, &storeUid));

  Com<IProfSect> section;
  Section(uid, &section);
  // The path was given narrow; it reads back in either form.
  Columns<4> cols{4, {PR_PST_PATH_W, PR_PST_PATH_A, PR_DISPLAY_NAME_W, PR_DISPLAY_NAME_A}};
  ULONG count = 0;
  Buffer<SPropValue> values;
  ASSERT_EQ(S_OK, section->GetProps(cols.get(), 0, &count, values.put()));
  ASSERT_EQ(4u, count);
  EXPECT_EQ(path, std::u16string(values.get()[0].Value.lpszW));
  EXPECT_EQ(standin::ToUtf8(path), values.get()[1].Value.lpszA);
  EXPECT_EQ(u"Archiv 2024", std::u16string(values.get()[2].Value.lpszW));
  EXPECT_STREQ("Archiv 2024", values.get()[3].Value.lpszA);

  // Configuring again with the same, now existing, file keeps it.
  std::string again = standin::ToUtf8(path);
  SPropValue prop;
  prop.ulPropTag = PR_PST_PATH_A;
  prop.Value.lpszA = again.data();
  EXPECT_EQ(S_OK, services_->ConfigureMsgService(Uid(uid), 0, 0, 1, &prop));
  MAPIUID sameUid;
  EXPECT_EQ(S_OK, standin::mapi::ReadStoreUid(path, &sameUid));
  EXPECT_EQ(0, std::memcmp(storeUid.ab, sameUid.ab, 16));
}

TEST_F(MapiProfileServices, ConfigureRefusesAFileThatIsNoStoreAndNeedsAPath) {
  std::string uid = AddService(services_.get(), "MSUPST MS");
  EXPECT_EQ(MAPI_E_UNCONFIGURED, services_->ConfigureMsgService(Uid(uid), 0, 0, 0, nullptr));
  testing_support::WriteFileBytes(RootFile("junk.pst"), std::string(4096, 'x'));
  std::string junk = standin::ToUtf8(WinPath("junk.pst"));
  SPropValue prop;
  prop.ulPropTag = PR_PST_PATH_A;
  prop.Value.lpszA = junk.data();
  HRESULT hr = services_->ConfigureMsgService(Uid(uid), 0, 0, 1, &prop);
  EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
  // Nothing of the refused path reached the profile.
  Com<IProfSect> section;
  Section(uid, &section);
  Buffer<SPropValue> value;
  EXPECT_EQ(MAPI_E_NOT_FOUND, HrGetOneProp(section.get(), PR_PST_PATH_A, value.put()));
  EXPECT_EQ(std::string(4096, 'x'), testing_support::ReadFileBytes(RootFile("junk.pst")));
  std::string missing(16, '\x01');
  EXPECT_EQ(MAPI_E_NOT_FOUND, services_->ConfigureMsgService(Uid(missing), 0, 0, 1, &prop));
}

TEST_F(MapiProfileServices, SectionsReadWriteAndReportMissingProperties) {
  std::string uid = AddPst(services_.get(), WinPath("a.pst"), u"A");
  Com<IProfSect> section;
  Section(uid, &section);
  // Written wide, read narrow: one property id holds one text.
  std::u16string moved = WinPath("b.pst");
  SPropValue wide;
  wide.ulPropTag = PR_PST_PATH_W;
  wide.Value.lpszW = moved.data();
  ASSERT_EQ(S_OK, HrSetOneProp(section.get(), &wide));
  ASSERT_EQ(S_OK, section->SaveChanges(0));
  Buffer<SPropValue> narrow;
  ASSERT_EQ(S_OK, HrGetOneProp(section.get(), PR_PST_PATH_A, narrow.put()));
  EXPECT_EQ(standin::ToUtf8(moved), narrow->Value.lpszA);

  Columns<2> cols{2, {PR_DISPLAY_NAME_W, PROP_TAG(PT_LONG, 0x6677)}};
  ULONG count = 0;
  Buffer<SPropValue> values;
  ASSERT_EQ(MAPI_W_ERRORS_RETURNED, section->GetProps(cols.get(), 0, &count, values.put()));
  ASSERT_EQ(2u, count);
  EXPECT_EQ(PROP_TAG(PT_ERROR, 0x6677), values.get()[1].ulPropTag);
  EXPECT_EQ(MAPI_E_NOT_FOUND, values.get()[1].Value.err);

  Columns<1> gone{1, {PR_PST_PATH_W}};
  ASSERT_EQ(S_OK, section->DeleteProps(gone.get(), nullptr));
  EXPECT_EQ(MAPI_E_NOT_FOUND, HrGetOneProp(section.get(), PR_PST_PATH_A, narrow.put()));

  // A section opened without MAPI_MODIFY is read-only.
  Com<IProfSect> readOnly;
  Section(uid, &readOnly, 0);
  EXPECT_EQ(MAPI_E_NO_ACCESS, HrSetOneProp(readOnly.get(), &wide));
  std::string fresh(16, '\x42');
  Com<IProfSect> none;
  EXPECT_EQ(MAPI_E_NOT_FOUND, services_->OpenProfileSection(Uid(fresh), nullptr, 0, none.put()));
  EXPECT_EQ(S_OK, services_->OpenProfileSection(Uid(fresh), nullptr, MAPI_MODIFY, none.put()));
  EXPECT_EQ(MAPI_E_INTERFACE_NOT_SUPPORTED,
            services_->OpenProfileSection(Uid(fresh), &IID_IMsgStore, MAPI_MODIFY, none.put()));
}

TEST_F(MapiProfileServices, DeletingTheDefaultStoreHandsTheMarkOn) {
  std::string contab = AddService(services_.get(), "CONTAB");
  std::string first = AddService(services_.get(), "MSUPST MS");
  std::string second = AddService(services_.get(), "MSPST MS");
  std::string missing(16, '\x11');
  EXPECT_EQ(MAPI_E_NOT_FOUND, services_->DeleteMsgService(Uid(missing)));
  std::string provider = ProviderUid(services_.get(), first);
  ASSERT_EQ(S_OK, services_->DeleteMsgService(Uid(first)));
  EXPECT_EQ(MAPI_E_NOT_FOUND, services_->DeleteMsgService(Uid(first)));
  EXPECT_EQ((std::vector<std::pair<std::u16string, LONG>>{{u"CONTAB", 0},
                                                          {u"MSPST MS", static_cast<LONG>(SERVICE_DEFAULT_STORE)}}),
            Table());
  // The deleted provider's section went with it.
  Com<IProfSect> section;
  EXPECT_EQ(MAPI_E_NOT_FOUND, services_->OpenProfileSection(Uid(provider), nullptr, 0, section.put()));
}

TEST_F(MapiProfileServices, FaultsOnCreateAndConfigureLeaveTheProfileAsItWas) {
  standin::ArmFault("IMsgServiceAdmin::CreateMsgService", MAPI_E_NOT_ENOUGH_MEMORY, 1);
  EXPECT_EQ(MAPI_E_NOT_ENOUGH_MEMORY, services_->CreateMsgService(Narrow("MSUPST MS"), nullptr, 0, 0));
  EXPECT_TRUE(Table().empty());
  // A registry write failing half-way leaves no service behind.
  standin::ArmFault("RegSetValueExW", ERROR_ACCESS_DENIED, 3);
  EXPECT_EQ(MAPI_E_NO_ACCESS, services_->CreateMsgService(Narrow("MSUPST MS"), nullptr, 0, 0));
  standin::ClearFault("RegSetValueExW");
  EXPECT_TRUE(Table().empty());

  std::string uid = AddService(services_.get(), "MSUPST MS");
  std::string path = standin::ToUtf8(WinPath("f.pst"));
  SPropValue prop;
  prop.ulPropTag = PR_PST_PATH_A;
  prop.Value.lpszA = path.data();
  standin::ArmFault("IMsgServiceAdmin::ConfigureMsgService", MAPI_E_CALL_FAILED, 1);
  EXPECT_EQ(MAPI_E_CALL_FAILED, services_->ConfigureMsgService(Uid(uid), 0, 0, 1, &prop));
  EXPECT_FALSE(std::filesystem::exists(RootFile("f.pst")));
  standin::ArmFault("IMsgServiceAdmin::DeleteMsgService", MAPI_E_CALL_FAILED, 1);
  EXPECT_EQ(MAPI_E_CALL_FAILED, services_->DeleteMsgService(Uid(uid)));
  standin::ArmFault("IProviderAdmin::GetProviderTable", MAPI_E_CALL_FAILED, 1);
  Com<IProviderAdmin> providers;
  ASSERT_EQ(S_OK, services_->AdminProviders(Uid(uid), 0, providers.put()));
  Com<IMAPITable> table;
  EXPECT_EQ(MAPI_E_CALL_FAILED, providers->GetProviderTable(0, table.put()));
  standin::ArmFault("IProfSect::SaveChanges", MAPI_E_CALL_FAILED, 1);
  Com<IProfSect> section;
  Section(uid, &section);
  EXPECT_EQ(MAPI_E_CALL_FAILED, section->SaveChanges(0));
  EXPECT_EQ(1u, Table().size());
}

}  // namespace
