// What the compact library does not export cannot be found: a host that looks
// an absent operation up by name gets nothing.
#include <dlfcn.h>

#include <string>

#include "compact/compact_support.h"

namespace testing_support {
namespace {

// The full build's members and exports that the compact build leaves out.
const char* const kAbsent[] = {
    "_ZN14COutlookFacade4InitEi",
    "_ZN14COutlookFacade11SetCallBackERK14_CALLBACKDATASPv",
    "_ZN14COutlookFacade12GetTotalSizeEv",
    "_ZN14COutlookFacade14AttatchPSTFileEPKDsS1_",
    "_ZN14COutlookFacade13BackupMessageEPKDsR7CStringP14_OLCATALOGDATAji",
    "_ZN14COutlookFacade16BackupMessageImpEP14_OLCATALOGDATAjRK7CStringS4_S4_S4_i",
    "_ZN14COutlookFacade14CollectMessageEPKDsR7CStringP14_OLCATALOGDATAj",
    "_ZN14COutlookFacade18AutoCollectMessageER7CString",
    "_ZN14COutlookFacade18AutoRestoreMessageER7CString",
    "_ZN14COutlookFacade16ExistPOP3AccountEv",
    "_ZN14COutlookFacade23ExistUnsupportedAccountEv",
    "_ZN14COutlookFacade17GetNotPOP3AccountERSt6vectorI7CStringSaIS1_EE",
    "SafeQuit",
    "AttatchPSTFileW2",
    "BackupMessageW2",
    "CollectMessageW2",
    "BOutlookConfig",
    "ROutlookConfig",
};

TEST(CompactExports, AbsentOperationsAreNotFoundByName) {
  void* library = dlopen(BuiltProgram("libcorvane_compact.so").c_str(), RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(library, nullptr) << "this program links the compact library";
  for (const char* name : kAbsent) EXPECT_EQ(dlsym(library, name), nullptr) << name;
  // What it offers is found.
  for (const char* name : {"Init2", "SyncMessageW2", "_ZN14COutlookFacade4InitEv",
                           "_ZN14COutlookFacade13BackupMessageEPKDsR7CStringP14_OLCATALOGDATAj"})
    EXPECT_NE(dlsym(library, name), nullptr) << name;
  dlclose(library);
}

}  // namespace
}  // namespace testing_support
