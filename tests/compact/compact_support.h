// Shared set-up of the compact library's tests. The library is reached only
// through its exports (this program links libcorvane_compact.so and sees the
// compact class); machines are arranged with the admin tool, as for the full
// build's copies.
#pragma once

#include "facade/OutlookFacade.h"
#include "facade/OutlookFacade2.h"
#include "facade/copy_machine.h"

namespace testing_support {
namespace copying {

// A machine with the mail client installed and MAPI initialised through the
// compact library for the length of the test.
class CompactTest : public CopyMachine {
 protected:
  void SetUp() override {
    CopyMachine::SetUp();
    ASSERT_EQ(COutlookFacade::Init(), 1);
    initialised_ = true;
  }
  void TearDown() override {
    if (initialised_) COutlookFacade::Term();
    CopyMachine::TearDown();
  }

  // The top-level records of a store file as the compact library lists them.
  static std::vector<OLCATALOGDATA> TopLevel(COutlookFacade& facade, const std::string& path) {
    return Level(facade, path, {});
  }
  static std::vector<OLCATALOGDATA> Level(COutlookFacade& facade, const std::string& path,
                                          const std::vector<OLCATALOGDATA>& folderPath) {
    OLCATALOGDATA* records = nullptr;
    DWORD count = 0;
    int ok = folderPath.empty() ? facade.GetCatalog(Win(path).c_str(), &records, &count)
                                : facade.GetSubCatalog(Win(path).c_str(), folderPath, &records, &count);
    EXPECT_EQ(ok, 1) << path;
    std::vector<OLCATALOGDATA> level(records, records + (records ? count : 0));
    delete[] records;
    return level;
  }
  static const OLCATALOGDATA* Named(const std::vector<OLCATALOGDATA>& level, const std::u16string& name) {
    for (const OLCATALOGDATA& r : level)
      if (name == r.szName) return &r;
    return nullptr;
  }

 private:
  bool initialised_ = false;
};

}  // namespace copying
}  // namespace testing_support
