// Shared pieces of the MAPI session, profile and mail-account tests: the
// stand-in's MAPI fixture of tests/mapi (mail client installed, MAPI
// initialised, a fresh root) plus the library's log sent to a file of the test,
// without the time prefix, so that lines can be matched.
#pragma once

#include <gtest/gtest.h>

#include <afx.h>
#include <standin/root.h>

#include <filesystem>
#include <string>
#include <vector>

#include "../mapi/profile_support.h"
#include "common/library_log.h"
#include "support/Log.h"

namespace mapipack_session {

using profile_test::Buffer;
using profile_test::Com;
using profile_test::Narrow;
using profile_test::Rows;

inline std::string Utf8(const CString& s) { return standin::ToUtf8(s.GetString()); }

class LoggedMapiFixture : public profile_test::MapiFixture {
 protected:
  void SetUp() override {
    MapiFixture::SetUp();
    log_.Start(RootFile("Logs/test.log"));
    ASSERT_TRUE(log_.Active());
  }
  void TearDown() override {
    log_.Stop();
    MapiFixture::TearDown();
  }

  // The log's lines (without the byte-order mark; empty lines dropped).
  std::vector<std::string> LogLines() const { return log_.Lines(); }
  std::vector<std::string> LinesWith(const std::string& fragment) const {
    std::vector<std::string> out;
    for (const std::string& line : LogLines())
      if (line.find(fragment) != std::string::npos) out.push_back(line);
    return out;
  }
  size_t CountLines(const std::string& fragment) const { return LinesWith(fragment).size(); }
  void ClearLog() { log_.Clear(); }
  std::string LogText() const { return log_.Text(); }

  // Whether a line reports callText as failed with the code (hex, as %4x).
  bool HasFailedCall(const std::string& unit, const std::string& callText, const std::string& hex) const {
    for (const std::string& line : LogLines()) {
      if (line.rfind("ERROR: File:'.\\MAPIPack\\" + unit + "' Line: ", 0) != 0) continue;
      if (line.find(";  " + callText + " failed, HRESULT:0x" + hex + ",error:") != std::string::npos) return true;
    }
    return false;
  }
  bool HasSkipped(const std::string& callText, const std::string& hex) const {
    const std::string want = "INFO: Skinnping " + callText + " because hRes = 0x" + hex + ".";
    for (const std::string& line : LogLines())
      if (line == want) return true;
    return false;
  }

  // The section of a service (or provider) opened for writing.
  void SetSectionProp(const char* profile, const std::string& uid, const SPropValue& value) {
    Com<IMsgServiceAdmin> services;
    Services(profile, &services);
    Com<IProfSect> section;
    std::string id = uid;
    ASSERT_EQ(S_OK, services->OpenProfileSection(reinterpret_cast<LPMAPIUID>(id.data()), nullptr, MAPI_MODIFY,
                                                 section.put()));
    SPropValue v = value;
    ASSERT_EQ(S_OK, HrSetOneProp(section.get(), &v));
  }
  void RenameService(const char* profile, const std::string& serviceUid, const char16_t* name) {
    SPropValue v = {};
    v.ulPropTag = PR_SERVICE_NAME_W;
    v.Value.lpszW = const_cast<LPWSTR>(name);
    SetSectionProp(profile, serviceUid, v);
  }
  // Writes PR_PST_PATH_A straight into a service's provider section (no store
  // file is made for it).
  void SetProviderPath(const char* profile, const std::string& serviceUid, const std::string& narrowPath) {
    Com<IMsgServiceAdmin> services;
    Services(profile, &services);
    std::string provider = ProviderUid(services.get(), serviceUid);
    ASSERT_EQ(16u, provider.size());
    std::string copy = narrowPath;
    SPropValue v = {};
    v.ulPropTag = PR_PST_PATH_A;
    v.Value.lpszA = copy.data();
    SetSectionProp(profile, provider, v);
  }
  // A string property of a service's first provider section, as UTF-8.
  std::string ProviderText(const char* profile, const std::string& serviceUid, ULONG tag) {
    Com<IMsgServiceAdmin> services;
    Services(profile, &services);
    std::string provider = ProviderUid(services.get(), serviceUid);
    Com<IProfSect> section;
    if (services->OpenProfileSection(reinterpret_cast<LPMAPIUID>(provider.data()), nullptr, 0, section.put()) != S_OK)
      return "<no section>";
    Buffer<SPropValue> value;
    if (HrGetOneProp(section.get(), tag, value.put()) != S_OK) return "<missing>";
    if (PROP_TYPE(value->ulPropTag) == PT_UNICODE) return standin::ToUtf8(value->Value.lpszW);
    return value->Value.lpszA;
  }
  // The services of a profile: uid, name (UTF-8) and flags, in table order.
  struct ServiceRow {
    std::string uid;
    std::string name;
    LONG flags = 0;
  };
  std::vector<ServiceRow> ServiceRows(const char* profile) {
    std::vector<ServiceRow> out;
    Com<IMsgServiceAdmin> services;
    Services(profile, &services);
    Com<IMAPITable> table;
    EXPECT_EQ(S_OK, services->GetMsgServiceTable(0, table.put()));
    profile_test::Columns<3> cols{3, {PR_SERVICE_UID, PR_SERVICE_NAME_A, PR_RESOURCE_FLAGS}};
    Rows rows;
    EXPECT_EQ(S_OK, HrQueryAllRows(table.get(), cols.get(), nullptr, nullptr, 0, rows.put()));
    for (ULONG i = 0; rows.get() && i < rows->cRows; ++i) {
      const SPropValue* p = rows->aRow[i].lpProps;
      out.push_back({profile_test::UidOf(p[0]), p[1].Value.lpszA, p[2].Value.l});
    }
    return out;
  }


 private:
  testing_support::LibraryLogFile log_;
};

}  // namespace mapipack_session
