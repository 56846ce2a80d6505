// MAPILogonEx and the session: the store table and opening stores from it.
#include <sqlite3.h>

#include <filesystem>

#include "profile_support.h"

namespace {

using namespace profile_test;

constexpr ULONG kLogonFlags = MAPI_USE_DEFAULT | MAPI_EXTENDED | MAPI_NEW_SESSION;

struct StoreRow {
  std::u16string name;
  std::string entryId;
  LONG flags = 0;
  bool isDefault = false;
};

class MapiSession : public MapiFixture {
 protected:
  void Logon(const char* profile, Com<IMAPISession>* session, ULONG flags = kLogonFlags) {
    ASSERT_EQ(S_OK, MAPILogonEx(0, Narrow(profile), nullptr, flags, session->put()));
  }

  // The store table read as the library reads it: one row per QueryRows.
  std::vector<StoreRow> Stores(IMAPISession* session) {
    std::vector<StoreRow> out;
    Com<IMAPITable> table;
    EXPECT_EQ(S_OK, session->GetMsgStoresTable(0, table.put()));
    if (!table.get()) return out;
    Columns<4> cols{4, {PR_DISPLAY_NAME_W, PR_ENTRYID, PR_RESOURCE_FLAGS, PR_DEFAULT_STORE}};
    EXPECT_EQ(S_OK, table->SetColumns(cols.get(), 0));
    for (;;) {
      Rows rows;
      if (FAILED(table->QueryRows(1, 0, rows.put())) || rows->cRows != 1) break;
      const SPropValue* p = rows->aRow[0].lpProps;
      out.push_back({p[0].Value.lpszW, UidOf(p[1]), p[2].Value.l, p[3].Value.b != 0});
    }
    return out;
  }

  // "Outlook" with a PST, an address book, an IMAP store and a second PST.
  void Populate() {
    Com<IMsgServiceAdmin> services;
    Services("Outlook", &services);
    AddPst(services.get(), WinPath("main.pst"), u"Personal Folders");
    AddService(services.get(), "CONTAB");
    AddService(services.get(), "INTERSTOR");
    AddPst(services.get(), WinPath("archive.pst"), u"Archive", "MSPST MS");
  }
};

TEST_F(MapiSession, LogonNeedsInitialisationAndAnExistingProfile) {
  LPMAPISESSION session = reinterpret_cast<LPMAPISESSION>(0x1);
  EXPECT_EQ(MAPI_E_LOGON_FAILED, MAPILogonEx(0, Narrow("Nobody"), nullptr, kLogonFlags, &session));
  EXPECT_EQ(nullptr, session);
  // No default profile: an empty name has nothing to stand for.
  EXPECT_EQ(MAPI_E_LOGON_FAILED, MAPILogonEx(0, Narrow(""), nullptr, kLogonFlags, &session));
  EXPECT_EQ(MAPI_E_INVALID_PARAMETER, MAPILogonEx(0, Narrow("Outlook"), nullptr, kLogonFlags, nullptr));
  MAPIUninitialize();
  EXPECT_EQ(MAPI_E_NOT_INITIALIZED, MAPILogonEx(0, Narrow("Outlook"), nullptr, kLogonFlags, &session));
  ASSERT_EQ(S_OK, MAPIInitialize(nullptr));
  Com<IMAPISession> named;
  Logon("outlook", &named);
  Com<IMAPISession> service;
  Logon("Outlook", &service, MAPI_NT_SERVICE);
  Com<IMAPISession> wide;
  EXPECT_EQ(S_OK, MAPILogonEx(0, Wide(u"Outlook"), nullptr, kLogonFlags | MAPI_UNICODE, wide.put()));
}

TEST_F(MapiSession, EmptyNameWithUseDefaultTakesTheDefaultProfile) {
  NewProfile("Other");
  Com<IMsgServiceAdmin> services;
  Services("Other", &services);
  AddPst(services.get(), WinPath("other.pst"), u"Other Store");
  Com<IProfAdmin> admin;
  Admin(&admin);
  ASSERT_EQ(S_OK, admin->SetDefaultProfile(Narrow("Other"), 0));
  Com<IMAPISession> session;
  Logon("", &session);
  std::vector<StoreRow> stores = Stores(session.get());
  ASSERT_EQ(1u, stores.size());
  EXPECT_EQ(u"Other Store", stores[0].name);
  Com<IMAPISession> none;
  EXPECT_EQ(MAPI_E_LOGON_FAILED, MAPILogonEx(0, Narrow(""), nullptr, MAPI_EXTENDED, none.put()));
}

TEST_F(MapiSession, StoreTableListsEveryStoreAndMarksTheDefault) {
  Populate();
  Com<IMAPISession> session;
  Logon("Outlook", &session);
  std::vector<StoreRow> stores = Stores(session.get());
  ASSERT_EQ(3u, stores.size());
  EXPECT_EQ(u"Personal Folders", stores[0].name);
  EXPECT_EQ(u"Internet Folders", stores[1].name);
  EXPECT_EQ(u"Archive", stores[2].name);
  EXPECT_EQ(static_cast<LONG>(STATUS_DEFAULT_STORE), stores[0].flags & static_cast<LONG>(STATUS_DEFAULT_STORE));
  EXPECT_TRUE(stores[0].isDefault);
  EXPECT_FALSE(stores[1].isDefault);
  EXPECT_FALSE(stores[2].isDefault);
  EXPECT_EQ(0, stores[2].flags & static_cast<LONG>(STATUS_DEFAULT_STORE));
  EXPECT_NE(stores[0].entryId, stores[2].entryId);
}

TEST_F(MapiSession, OpenMsgStoreOpensTheFileTheSectionNames) {
  Populate();
  Com<IMAPISession> session;
  Logon("Outlook", &session);
  std::vector<StoreRow> stores = Stores(session.get());
  ASSERT_EQ(3u, stores.size());
  for (size_t i : {size_t{0}, size_t{2}}) {
    Com<IMsgStore> store;
    HRESULT hr = session->OpenMsgStore(0, static_cast<ULONG>(stores[i].entryId.size()),
                                       reinterpret_cast<LPENTRYID>(stores[i].entryId.data()), nullptr,
                                       MAPI_BEST_ACCESS | MDB_ONLINE, store.put());
    ASSERT_FALSE(FAILED(hr)) << std::hex << hr;
    ASSERT_NE(nullptr, store.get());
    Buffer<SPropValue> name;
    ASSERT_EQ(S_OK, HrGetOneProp(store.get(), PR_DISPLAY_NAME_W, name.put()));
    EXPECT_EQ(stores[i].name, std::u16string(name->Value.lpszW));
  }
  // The IMAP store has no file behind it here.
  Com<IMsgStore> imap;
  EXPECT_EQ(MAPI_E_FAILONEPROVIDER, session->OpenMsgStore(0, static_cast<ULONG>(stores[1].entryId.size()),
                                                          reinterpret_cast<LPENTRYID>(stores[1].entryId.data()),
                                                          nullptr, MAPI_BEST_ACCESS | MDB_ONLINE, imap.put()));
  std::string bad = stores[0].entryId;
  bad[5] ^= 1;
  EXPECT_EQ(MAPI_E_INVALID_ENTRYID,
            session->OpenMsgStore(0, static_cast<ULONG>(bad.size()), reinterpret_cast<LPENTRYID>(bad.data()), nullptr,
                                  MAPI_BEST_ACCESS, imap.put()));
  EXPECT_EQ(MAPI_E_INVALID_ENTRYID, session->OpenMsgStore(0, 3, reinterpret_cast<LPENTRYID>(bad.data()), nullptr,
                                                          MAPI_BEST_ACCESS, imap.put()));
  // A store entry identifier belongs to its profile.
  NewProfile("Empty");
  Com<IMAPISession> other;
  Logon("Empty", &other);
  EXPECT_EQ(MAPI_E_NOT_FOUND, other->OpenMsgStore(0, static_cast<ULONG>(stores[0].entryId.size()),
                                                  reinterpret_cast<LPENTRYID>(stores[0].entryId.data()), nullptr,
                                                  MAPI_BEST_ACCESS, imap.put()));
  // A store file gone from disk is reported, not papered over.
  std::filesystem::remove(RootFile("archive.pst"));
  EXPECT_EQ(MAPI_E_NOT_FOUND, session->OpenMsgStore(0, static_cast<ULONG>(stores[2].entryId.size()),
                                                    reinterpret_cast<LPENTRYID>(stores[2].entryId.data()), nullptr,
                                                    MAPI_BEST_ACCESS | MDB_ONLINE, imap.put()));
}

TEST_F(MapiSession, SessionAdministersItsProfileUntilLogoff) {
  Populate();
  Com<IMAPISession> session;
  Logon("Outlook", &session);
  Com<IMsgServiceAdmin> services;
  ASSERT_EQ(S_OK, session->AdminServices(0, services.put()));
  EXPECT_EQ(4u, ServiceUids(services.get()).size());
  std::string provider = ProviderUid(services.get(), ServiceUids(services.get())[0]);
  Com<IProfSect> section;
  ASSERT_EQ(S_OK, session->OpenProfileSection(reinterpret_cast<LPMAPIUID>(provider.data()), nullptr, 0, section.put()));
  Buffer<SPropValue> path;
  ASSERT_EQ(S_OK, HrGetOneProp(section.get(), PR_PST_PATH_A, path.put()));
  EXPECT_EQ(standin::ToUtf8(WinPath("main.pst")), path->Value.lpszA);
  // What the session wrote to a store it still holds is committed at logoff.
  std::vector<StoreRow> stores = Stores(session.get());
  Com<IMsgStore> store;
  ASSERT_EQ(S_OK, session->OpenMsgStore(0, static_cast<ULONG>(stores[0].entryId.size()),
                                        reinterpret_cast<LPENTRYID>(stores[0].entryId.data()), nullptr,
                                        MAPI_BEST_ACCESS, store.put()));
  SPropValue comment{};
  std::u16string text = u"written before logoff";
  comment.ulPropTag = PR_COMMENT_W;
  comment.Value.lpszW = reinterpret_cast<LPWSTR>(text.data());
  ASSERT_EQ(S_OK, HrSetOneProp(store.get(), &comment));
  auto committed = [&] {
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open(RootFile("main.pst").c_str(), &db), SQLITE_OK);
    sqlite3_stmt* stmt = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db, "SELECT count(*) FROM objects WHERE id = 1 AND instr(props, X'1F000430') > 0", -1, &stmt, nullptr), SQLITE_OK);
    int n = sqlite3_step(stmt) == SQLITE_ROW ? sqlite3_column_int(stmt, 0) : -1;
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return n;
  };

  ASSERT_EQ(S_OK, session->Logoff(0, 0, 0));
  EXPECT_EQ(committed(), 1);
  Com<IMAPITable> table;
  EXPECT_EQ(MAPI_E_END_OF_SESSION, session->GetMsgStoresTable(0, table.put()));
  Com<IMsgServiceAdmin> after;
  EXPECT_EQ(MAPI_E_END_OF_SESSION, session->AdminServices(0, after.put()));
  LPADRBOOK book = nullptr;
  EXPECT_EQ(MAPI_E_NO_SUPPORT, session->OpenAddressBook(0, nullptr, 0, &book));
}

TEST_F(MapiSession, FaultsOnLogonTableAndOpenReachTheCaller) {
  Populate();
  standin::ArmFault("MAPILogonEx", MAPI_E_LOGON_FAILED, 1);
  Com<IMAPISession> session;
  EXPECT_EQ(MAPI_E_LOGON_FAILED, MAPILogonEx(0, Narrow("Outlook"), nullptr, kLogonFlags, session.put()));
  Logon("Outlook", &session);
  std::vector<StoreRow> stores = Stores(session.get());
  ASSERT_EQ(3u, stores.size());

  standin::ArmFault("IMAPISession::GetMsgStoresTable", MAPI_E_CALL_FAILED, 1);
  Com<IMAPITable> table;
  EXPECT_EQ(MAPI_E_CALL_FAILED, session->GetMsgStoresTable(0, table.put()));

  Com<IMsgStore> store;
  standin::ArmFault("IMAPISession::OpenMsgStore", MAPI_E_CALL_FAILED, 1);
  EXPECT_EQ(MAPI_E_CALL_FAILED, session->OpenMsgStore(0, static_cast<ULONG>(stores[0].entryId.size()),
                                                      reinterpret_cast<LPENTRYID>(stores[0].entryId.data()), nullptr,
                                                      MAPI_BEST_ACCESS | MDB_ONLINE, store.put()));
  EXPECT_EQ(nullptr, store.get());
  standin::ArmFault("IMAPITable::QueryRows", MAPI_E_CALL_FAILED, 2);
  EXPECT_EQ(1u, Stores(session.get()).size());
}

}  // namespace
