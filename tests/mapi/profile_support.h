// Shared pieces of the profile and session tests: an initialised subsystem on a
// fresh root, scoped owners, and short ways to make profiles and services.
#pragma once

#include <mapiutil.h>
#include <mapix.h>
#include <standin/fault.h>
#include <standin/mapi.h>
#include <standin/registry.h>
#include <standin/root.h>
#include <wcrt.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "../../platform/mapi/core.h"
#include "common/fresh_root.h"

namespace profile_test {

template <class T>
class Com {
 public:
  Com() = default;
  ~Com() { Reset(); }
  Com(const Com&) = delete;
  Com& operator=(const Com&) = delete;
  T* operator->() const { return p_; }
  T* get() const { return p_; }
  T** put() {
    Reset();
    return &p_;
  }
  void Reset() {
    if (p_) p_->Release();
    p_ = nullptr;
  }

 private:
  T* p_ = nullptr;
};

class Rows {
 public:
  ~Rows() { FreeProws(p_); }
  Rows() = default;
  Rows(const Rows&) = delete;
  Rows& operator=(const Rows&) = delete;
  LPSRowSet operator->() const { return p_; }
  LPSRowSet get() const { return p_; }
  LPSRowSet* put() {
    FreeProws(p_);
    p_ = nullptr;
    return &p_;
  }

 private:
  LPSRowSet p_ = nullptr;
};

template <class T>
class Buffer {
 public:
  ~Buffer() { MAPIFreeBuffer(p_); }
  Buffer() = default;
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  T** put() {
    MAPIFreeBuffer(p_);
    p_ = nullptr;
    return &p_;
  }

 private:
  T* p_ = nullptr;
};

class RegOwner {
 public:
  RegOwner() = default;
  RegOwner(const RegOwner&) = delete;
  RegOwner& operator=(const RegOwner&) = delete;
  ~RegOwner() {
    if (key_) {
      EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key_));
    }
  }
  HKEY get() const { return key_; }
  HKEY* put() { return &key_; }

 private:
  HKEY key_ = nullptr;
};

template <size_t N>
struct Columns {
  ULONG cValues = N;
  ULONG aulPropTag[N];
  LPSPropTagArray get() { return reinterpret_cast<LPSPropTagArray>(this); }
};

// Narrow names travel in LPWSTR arguments, as MAPI callers cast them.
inline LPWSTR Narrow(const char* text) { return reinterpret_cast<LPWSTR>(const_cast<char*>(text)); }
inline LPWSTR Wide(const char16_t* text) { return const_cast<LPWSTR>(text); }

inline const char16_t kProfilesKey[] =
    u"Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows Messaging Subsystem\\Profiles";

inline std::string UidOf(const SPropValue& v) {
  return std::string(reinterpret_cast<const char*>(v.Value.bin.lpb), v.Value.bin.cb);
}
inline std::u16string HexOf(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::u16string out;
  for (unsigned char b : bytes) {
    out += static_cast<char16_t>(kDigits[b >> 4]);
    out += static_cast<char16_t>(kDigits[b & 15]);
  }
  return out;
}

// Every test: the mail client installed, MAPI initialised, on a fresh root.
class MapiFixture : public testing_support::FreshRoot {
 protected:
  void SetUp() override {
    FreshRoot::SetUp();
    ASSERT_EQ(S_OK, standin::InstallMailClient());
    ASSERT_EQ(S_OK, MAPIInitialize(nullptr));
    initialised_ = true;
  }
  void TearDown() override {
    if (initialised_) MAPIUninitialize();
    FreshRoot::TearDown();
  }

  std::u16string WinPath(const std::string& rel) const { return standin::ToWindowsPath(RootFile(rel)); }

  void Admin(Com<IProfAdmin>* admin) { ASSERT_EQ(S_OK, MAPIAdminProfiles(0, admin->put())); }

  void NewProfile(const char* name) {
    Com<IProfAdmin> admin;
    Admin(&admin);
    ASSERT_EQ(S_OK, admin->CreateProfile(Narrow(name), nullptr, 0, 0));
  }

  void Services(const char* profile, Com<IMsgServiceAdmin>* services) {
    Com<IProfAdmin> admin;
    Admin(&admin);
    ASSERT_EQ(S_OK, admin->AdminServices(Narrow(profile), nullptr, 0, 0, services->put()));
  }

  // Service UIDs of the profile in table order.
  std::vector<std::string> ServiceUids(IMsgServiceAdmin* services) {
    std::vector<std::string> uids;
    Com<IMAPITable> table;
    EXPECT_EQ(S_OK, services->GetMsgServiceTable(0, table.put()));
    if (!table.get()) return uids;
    Columns<1> cols{1, {PR_SERVICE_UID}};
    Rows rows;
    EXPECT_EQ(S_OK, HrQueryAllRows(table.get(), cols.get(), nullptr, nullptr, 0, rows.put()));
    for (ULONG i = 0; rows.get() && i < rows->cRows; ++i) uids.push_back(UidOf(rows->aRow[i].lpProps[0]));
    return uids;
  }

  // Creates a service and gives back its UID (the one row the table gained).
  std::string AddService(IMsgServiceAdmin* services, const char* name) {
    std::vector<std::string> before = ServiceUids(services);
    EXPECT_EQ(S_OK, services->CreateMsgService(Narrow(name), nullptr, 0, 0));
    for (const std::string& uid : ServiceUids(services)) {
      bool old = false;
      for (const std::string& b : before) old = old || b == uid;
      if (!old) return uid;
    }
    ADD_FAILURE() << "no new service row";
    return {};
  }

  // A personal-folders service configured with a new store file.
  std::string AddPst(IMsgServiceAdmin* services, const std::u16string& path, const char16_t* display,
                     const char* kind = "MSUPST MS") {
    std::string uid = AddService(services, kind);
    std::string narrowPath = standin::ToUtf8(path);
    SPropValue props[2];
    props[0].ulPropTag = PR_DISPLAY_NAME_W;
    props[0].Value.lpszW = const_cast<LPWSTR>(display);
    props[1].ulPropTag = PR_PST_PATH_A;
    props[1].Value.lpszA = narrowPath.data();
    EXPECT_EQ(S_OK, services->ConfigureMsgService(reinterpret_cast<LPMAPIUID>(uid.data()), 0, 0, 2, props));
    return uid;
  }

  // The first provider UID of a service.
  std::string ProviderUid(IMsgServiceAdmin* services, std::string serviceUid) {
    Com<IProviderAdmin> providers;
    EXPECT_EQ(S_OK, services->AdminProviders(reinterpret_cast<LPMAPIUID>(serviceUid.data()), 0, providers.put()));
    if (!providers.get()) return {};
    Com<IMAPITable> table;
    EXPECT_EQ(S_OK, providers->GetProviderTable(0, table.put()));
    Columns<1> cols{1, {PR_PROVIDER_UID}};
    Rows rows;
    EXPECT_EQ(S_OK, HrQueryAllRows(table.get(), cols.get(), nullptr, nullptr, 0, rows.put()));
    if (!rows.get() || rows->cRows == 0) return {};
    return UidOf(rows->aRow[0].lpProps[0]);
  }

 private:
  bool initialised_ = false;
};

}  // namespace profile_test
