// The library's export table is exactly its documented surface.
#include <cstdio>
#include <set>
#include <string>

#include "common/fresh_root.h"

namespace testing_support {
namespace {

// Defined dynamic symbols of a shared object (version nodes left out).
std::set<std::string> DynamicExports(const std::string& path) {
  std::set<std::string> names;
  std::string command = "nm -D --defined-only '" + path + "' 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return names;
  char line[4096];
  while (fgets(line, sizeof line, pipe)) {
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    size_t space = text.rfind(' ');
    std::string kind = space != std::string::npos && space >= 2 ? text.substr(space - 1, 1) : "";
    if (kind == "A") continue;  // version definitions
    names.insert(space == std::string::npos ? text : text.substr(space + 1));
  }
  pclose(pipe);
  return names;
}

// What the library documents as its exports, today.
const std::set<std::string> kDocumentedExports = {
    // The exported class: construction, destruction, virtual table and type
    // information, and its members.
    "_ZN14COutlookFacadeC1Ev",
    "_ZN14COutlookFacadeC2Ev",
    "_ZN14COutlookFacadeD0Ev",
    "_ZN14COutlookFacadeD1Ev",
    "_ZN14COutlookFacadeD2Ev",
    "_ZTV14COutlookFacade",
    "_ZTI14COutlookFacade",
    "_ZTS14COutlookFacade",
    "_ZN14COutlookFacade4InitEi",
    "_ZN14COutlookFacade4TermEv",
    "_ZN14COutlookFacade18IsInstalledOutlookEv",
    "_ZN14COutlookFacade11SetCallBackERK14_CALLBACKDATASPv",
    "_ZN14COutlookFacade14SetProfileNameEPKDs",
    "_ZN14COutlookFacade13GetOutlookPstERSt6vectorI7CStringSaIS1_EES4_",
    "_ZN14COutlookFacade10GetCatalogEPKDsPP14_OLCATALOGDATAPj",
    "_ZN14COutlookFacade10GetCatalogER7CStringS1_PP14_OLCATALOGDATAPjPKDs",
    "_ZN14COutlookFacade13GetSubCatalogEPKDsRKSt6vectorI14_OLCATALOGDATASaIS3_EEPPS3_Pj",
    "_ZN14COutlookFacade13GetSubCatalogER7CStringS1_RKSt6vectorI14_OLCATALOGDATASaIS3_EEPPS3_PjPKDs",
    "_ZN14COutlookFacade12GetTotalSizeEv",
    "_ZN14COutlookFacade14AttatchPSTFileEPKDsS1_",
    "_ZN14COutlookFacade13BackupMessageEPKDsR7CStringP14_OLCATALOGDATAji",
    "_ZN14COutlookFacade16BackupMessageImpEP14_OLCATALOGDATAjRK7CStringS4_S4_S4_i",
    "_ZN14COutlookFacade11SyncMessageEPKDsS1_P14_OLCATALOGDATAj",
    "_ZN14COutlookFacade14SyncMessageImpEP14_OLCATALOGDATAjRK7CStringS4_S4_S4_",
    "_ZN14COutlookFacade14CollectMessageEPKDsR7CStringP14_OLCATALOGDATAj",
    "_ZN14COutlookFacade18AutoCollectMessageER7CString",
    "_ZN14COutlookFacade18AutoRestoreMessageER7CString",
    "_ZN14COutlookFacade23ExistUnsupportedAccountEv",
    "_ZN14COutlookFacade16ExistPOP3AccountEv",
    "_ZN14COutlookFacade17GetNotPOP3AccountERSt6vectorI7CStringSaIS1_EE",
    // The lifecycle and flat operation exports.
    "Init2",
    "Term2",
    "IsInstalledOutlook",
    "SafeQuit",
    "GetOutlookPstW2",
    "GetOutlookPstW2CallBack",
    "FreeArray2",
    "SyncMessageW2",
    "AttatchPSTFileW2",
    "BackupMessageW2",
    "CollectMessageW2",
    // The configuration exports.
    "BOutlookConfig",
    "ROutlookConfig",
};

TEST(ExportTable, TheLibraryExportsOnlyItsDocumentedSurface) {
  std::set<std::string> exported = DynamicExports(BuiltProgram("libcorvane.so"));
  EXPECT_EQ(exported, kDocumentedExports);
}

// The compact build's table: listing, backup and synchronisation only.
const std::set<std::string> kCompactExports = {
    "_ZN14COutlookFacadeC1Ev",
    "_ZN14COutlookFacadeC2Ev",
    "_ZN14COutlookFacadeD0Ev",
    "_ZN14COutlookFacadeD1Ev",
    "_ZN14COutlookFacadeD2Ev",
    "_ZTV14COutlookFacade",
    "_ZTI14COutlookFacade",
    "_ZTS14COutlookFacade",
    "_ZN14COutlookFacade4InitEv",
    "_ZN14COutlookFacade4TermEv",
    "_ZN14COutlookFacade18IsInstalledOutlookEv",
    "_ZN14COutlookFacade14SetProfileNameEPKDs",
    "_ZN14COutlookFacade13GetOutlookPstERSt6vectorI7CStringSaIS1_EES4_",
    "_ZN14COutlookFacade10GetCatalogEPKDsPP14_OLCATALOGDATAPj",
    "_ZN14COutlookFacade10GetCatalogER7CStringS1_PP14_OLCATALOGDATAPjPKDs",
    "_ZN14COutlookFacade13GetSubCatalogEPKDsRKSt6vectorI14_OLCATALOGDATASaIS3_EEPPS3_Pj",
    "_ZN14COutlookFacade13GetSubCatalogER7CStringS1_RKSt6vectorI14_OLCATALOGDATASaIS3_EEPPS3_PjPKDs",
    "_ZN14COutlookFacade13BackupMessageEPKDsR7CStringP14_OLCATALOGDATAj",
    "_ZN14COutlookFacade16BackupMessageImpEP14_OLCATALOGDATAjRK7CStringS4_S4_S4_",
    "_ZN14COutlookFacade11SyncMessageEPKDsS1_P14_OLCATALOGDATAj",
    "_ZN14COutlookFacade14SyncMessageImpEP14_OLCATALOGDATAjRK7CStringS4_S4_S4_",
    "Init2",
    "Term2",
    "IsInstalledOutlook",
    "GetOutlookPstW2",
    "GetOutlookPstW2CallBack",
    "FreeArray2",
    "SyncMessageW2",
};

TEST(ExportTable, TheCompactLibraryExportsOnlyItsOwnSurface) {
  std::set<std::string> exported = DynamicExports(BuiltProgram("libcorvane_compact.so"));
  EXPECT_EQ(exported, kCompactExports);
}

}  // namespace
}  // namespace testing_support
