// The compact library's start and stop, through its exports: Init looks for
// "MAPIX" and "MAPIXVER" before it touches MAPI, initialises without a count,
// and every Term undoes one Init.
#include <winreg.h>

#include <standin/fault.h>

#include "compact/compact_support.h"

namespace testing_support {
namespace copying {
namespace {

const char16_t kSubsystem[] = u"SOFTWARE\\Microsoft\\Windows Messaging Subsystem";
const char16_t kApps[] = u"SOFTWARE\\Microsoft\\Windows Messaging Subsystem\\msmapiapps";

class CompactLifecycle : public CopyMachine {
 protected:
  void SetUp() override {
    CopyMachine::SetUp();
    // Only counts the calls.
    standin::ArmFault("MAPIInitialize", MAPI_E_CALL_FAILED, 100000);
  }

  static void SetValue(const char16_t* name, DWORD type, const std::u16string& text) {
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSubsystem, 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                             static_cast<DWORD>((text.size() + 1) * sizeof(char16_t))),
              ERROR_SUCCESS);
    RegCloseKey(key);
  }
  static void DeleteValue(const char16_t* name) {
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSubsystem, 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueW(key, name), ERROR_SUCCESS);
    RegCloseKey(key);
  }
  static bool Registered() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kApps, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
    WCHAR data[64] = {};
    DWORD type = 0, size = sizeof(data) - sizeof(WCHAR);
    LSTATUS status = RegQueryValueExW(key, u"Corvane", nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS && std::u16string(data) == u"Microsoft Outlook";
  }
  // Init refused before MAPI was asked, by the member and by the flat export.
  void ExpectRefusedUntouched() {
    EXPECT_EQ(COutlookFacade::Init(), 0);
    EXPECT_EQ(Init2(), 0);
    EXPECT_EQ(standin::FaultCallCount("MAPIInitialize"), 0u) << "MAPI was never called";
    EXPECT_FALSE(Registered()) << "nothing is registered before the checks pass";
  }
  // The profile's store list: empty while MAPI is not initialised.
  static size_t ListedStores() {
    std::vector<CString> paths, names;
    COutlookFacade facade;
    facade.GetOutlookPst(paths, names);
    return paths.size();
  }
};

TEST_F(CompactLifecycle, MapixOfZeroRefusesWithMapiUntouched) {
  SetValue(u"MAPIX", REG_SZ, u"0");
  ExpectRefusedUntouched();
}

TEST_F(CompactLifecycle, MissingMapixRefusesWithMapiUntouched) {
  DeleteValue(u"MAPIX");
  ExpectRefusedUntouched();
}

TEST_F(CompactLifecycle, MapiVersionMustHoldSomethingOfAnyLength) {
  DeleteValue(u"MAPIXVER");
  ExpectRefusedUntouched();
  SetValue(u"MAPIXVER", REG_SZ, u"");
  ExpectRefusedUntouched();

  // Longer than ten bytes, as real installations write it.
  SetValue(u"MAPIXVER", REG_SZ, u"1.0.2536.0");
  standin::ArmFault("MAPIInitialize", MAPI_E_CALL_FAILED, 100000);
  ASSERT_EQ(COutlookFacade::Init(), 1);
  EXPECT_EQ(standin::FaultCallCount("MAPIInitialize"), 1u);
  EXPECT_TRUE(Registered());
  COutlookFacade::Term();
}

TEST_F(CompactLifecycle, EveryInitIsUndoneByOneTerm) {
  AddStore("Outlook", "Mail");
  ASSERT_EQ(COutlookFacade::Init(), 1);
  ASSERT_EQ(Init2(), 1) << "the flat export is the same entry";
  EXPECT_EQ(ListedStores(), 1u);
  COutlookFacade::Term();
  EXPECT_EQ(ListedStores(), 1u) << "two Inits and one Term leave MAPI initialised";
  Term2();
  EXPECT_EQ(ListedStores(), 0u) << "the second Term uninitialises it";

  // No count to refuse a Term too many: MAPI is asked to uninitialise again,
  // and a following Init works as ever.
  COutlookFacade::Term();
  ASSERT_EQ(COutlookFacade::Init(), 1);
  EXPECT_EQ(ListedStores(), 1u);
  COutlookFacade::Term();
}

}  // namespace
}  // namespace copying
}  // namespace testing_support
