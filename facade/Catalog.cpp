// Listing for the host: the store files of the profile "Outlook" in the order
// the host shows them, their total size, and the folder tree of a store file
// one level at a time.
#include <memory>
#include <new>
#include <utility>

#include "MAPIPack/MAPIFolder.h"
#include "MAPIPack/MAPIHelpers.h"
#include "MAPIPack/MAPIProfile.h"
#include "MAPIPack/MAPIStore.h"
#include "MAPIPack/MAPIWrapper.h"
#include "MAPIPack/MailAccount.h"
#include "facade/Boundary.h"
#include "facade/Operations.h"
#include "facade/OutlookFacade.h"
#include "support/BuildVariant.h"
#include "support/Log.h"
#include "support/OutlookTrivial.h"

namespace {

typedef std::unique_ptr<OLCATALOGDATA[]> CatalogArray;

// Display name given to a store file attached to the temporary profile.
const WCHAR kTempStoreName[] = TEXT("temp");
const WCHAR kRootName[] = TEXT("root");
// Store display names as the store layer reads them.
constexpr size_t kStoreNameChars = 256;

// The file-name part of a path: the text after its last separator.
LPCWSTR FileNamePart(const CString& path) {
  LPCWSTR text = path.GetString();
  LPCWSTR name = text;
  for (LPCWSTR p = text; *p; ++p)
    if (*p == TEXT('\\') || *p == TEXT('/')) name = p + 1;
  return name;
}

void SwapEntries(std::vector<CString>& paths, std::vector<CString>& names, size_t a, size_t b) {
  std::swap(paths[a], paths[b]);
  std::swap(names[a], names[b]);
}

bool SameFolder(const OLCATALOGDATA& listed, const OLCATALOGDATA& wanted) {
  // The host's record need not be terminated: never read past its field.
  return listed.nType == wanted.nType && _wcsnicmp(listed.szName, wanted.szName, OLCATALOG_NAME_CHARS) == 0;
}

// Puts the record that stands for the store's top folder in front. Only the
// kind and the name travel into the new array. False when memory runs out.
bool PrependRoot(CatalogArray& records, ULONG& count) {
  CatalogArray grown(new (std::nothrow) OLCATALOGDATA[count + 1]());
  if (!grown) return false;
  grown[0].nType = OLFOLDER_ROOT;
  wcscpy_s(grown[0].szName, kRootName);
  for (ULONG k = 1; k <= count; ++k) {
    grown[k].nType = records[k - 1].nType;
    wcscpy_s(grown[k].szName, records[k - 1].szName);
  }
  records = std::move(grown);
  ++count;
  return true;
}

// Configuration folders are never shown: the last record takes the place of
// each one.
void RemoveConfigurationFolders(OLCATALOGDATA* records, ULONG& count) {
  for (ULONG i = 0; i < count;) {
    if (records[i].nType == OLFOLDER_CONFIG) {
      --count;
      records[i] = records[count];
    } else {
      ++i;
    }
  }
}

}  // namespace

void COutlookFacade::GetOutlookPst(std::vector<CString>& pstPaths, std::vector<CString>& displayNames) {
  RunWithoutThrowing([&] {
    LogMessage(LOG_INFO, TEXT("<!--GetOutlookPst-->"));
    LogSessionBanner();
    pstPaths.clear();
    displayNames.clear();
    if constexpr (!kOrdersStoreList) {
      // The compact build: the profile's stores in the order of its service table.
      CMAPIProfile().GetPSTServices(OUTLOOK_PROFILE_NAME, displayNames, pstPaths);
      return;
    }
    // A failed inspection leaves what it found; the lists stay pairwise.
    GetProfilePSTFiles(pstPaths, displayNames);
    const size_t n = pstPaths.size() < displayNames.size() ? pstPaths.size() : displayNames.size();
    pstPaths.resize(n);
    displayNames.resize(n);
    if (n == 0) return;

    WCHAR defaultPath[MAX_PATH] = {};
    CMAPIProfile profile;
    if (profile.GetDefaultPSTPath(defaultPath) != 0) return;

    // The default store first.
    for (size_t i = 1; i < n; ++i) {
      if (pstPaths[i].CompareNoCase(defaultPath) == 0) {
        SwapEntries(pstPaths, displayNames, 0, i);
        break;
      }
    }
    // Then the others by file name, the greatest first.
    if (n >= 3) {
      for (size_t p = 1; p + 1 < n; ++p) {
        size_t best = p;
        for (size_t j = p + 1; j < n; ++j)
          if (_wcsicmp(FileNamePart(pstPaths[best]), FileNamePart(pstPaths[j])) < 0) best = j;
        if (best != p) SwapEntries(pstPaths, displayNames, p, best);
      }
    }
    for (size_t i = 0; i < n; ++i)
      LogMessage(LOG_INFO, TEXT("path is:%s and display:%s"), pstPaths[i].GetString(), displayNames[i].GetString());
  });
}

#if !defined(CORVANE_COMPACT)
// The compact build has no total size.
LONGLONG COutlookFacade::GetTotalSize() {
  return RunWithoutThrowing(0, [&] {
    std::vector<CString> paths, names;
    GetOutlookPst(paths, names);
    LONGLONG total = 0;
    for (const CString& path : paths) {
      WIN32_FILE_ATTRIBUTE_DATA data = {};
      if (!GetFileAttributesExW(path, GetFileExInfoStandard, &data)) continue;
      total += static_cast<LONGLONG>((static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
    }
    return total;
  });
}
#endif  // CORVANE_COMPACT

int COutlookFacade::GetCatalog(LPCWSTR pstPath, OLCATALOGDATA** records, DWORD* count) {
  return RunWithoutThrowing(0, [&] {
    LogMessage(LOG_INFO, TEXT("<!------GetCatalog---------->"));
    LogSessionBanner();
    if (!records || !count) return 0;
    int result = GetSubCatalog(pstPath, std::vector<OLCATALOGDATA>(), records, count);
    LogOperationParameters(TEXT("---<Get catalog>---"), *count, pstPath ? pstPath : TEXT(""), TEXT(""), *records);
    return result;
  });
}

int COutlookFacade::GetCatalog(CString& pstPath, CString& storeName, OLCATALOGDATA** records, DWORD* count,
                               LPCWSTR profileName) {
  return RunWithoutThrowing(
      0, [&] { return GetSubCatalog(pstPath, storeName, std::vector<OLCATALOGDATA>(), records, count, profileName); });
}

int COutlookFacade::GetSubCatalog(LPCWSTR pstPath, const std::vector<OLCATALOGDATA>& folderPath,
                                  OLCATALOGDATA** records, DWORD* count) {
  return RunWithoutThrowing(0, [&] {
    if (!records || !count) return 0;
    if (!pstPath || !IsExistingFile(pstPath)) return 1;
    // Store paths travel in buffers of MAX_PATH characters further on.
    if (wcsnlen(pstPath, MAX_PATH) >= MAX_PATH) {
      LogMessage(LOG_ERROR, TEXT("The path is too long: %s"), pstPath);
      return 0;
    }

    CMAPIProfile profile;
    CString holder, storeName;
    if (!profile.FindProfileOfPSTFile(pstPath, holder, storeName)) return 0;
    if (!holder.IsEmpty()) {
      CString path;
      return GetSubCatalog(path, storeName, folderPath, records, count, holder);
    }

    // No profile holds the file: list it through the temporary profile, made
    // afresh for the call.
    if (!IsUsableWorkingProfile(m_szProfileName)) return 0;
    int existing = profile.CountProfiles(m_szProfileName);
    if (existing < 0) return 0;
    if (existing > 0 && !profile.DeleteProfile(m_szProfileName)) return 0;
    if (!profile.CreateProfile(m_szProfileName)) return 0;
    int result = 0;
    if (profile.AttachPSTFileToProfile(pstPath, m_szProfileName, kTempStoreName)) {
      CString path, tempStore(kTempStoreName);
      result = GetSubCatalog(path, tempStore, folderPath, records, count, m_szProfileName);
    }
    // The temporary profile goes on failure too: left behind, it would hold the
    // file and be taken for the file's own profile by the next operation.
    if (!profile.DeleteProfile(m_szProfileName)) return 0;
    return result;
  });
}

int COutlookFacade::GetSubCatalog(CString& pstPath, CString& storeName, const std::vector<OLCATALOGDATA>& folderPath,
                                  OLCATALOGDATA** records, DWORD* count, LPCWSTR profileName) {
  return RunWithoutThrowing(0, [&] {
    if (!records || !count) return 0;
    // Released in reverse order: folders, the store, then the session.
    CMAPIWrapper session;
    if (!session.Logon(profileName, MAPI_MODE_NORMAL)) return 0;
    storeName.Trim();
    CInterfacePtr<IMsgStore> storePtr(session.OpenStoreByName(storeName.IsEmpty() ? nullptr : storeName.GetString()));
    if (!storePtr) return 0;
    CMAPIStore store(storePtr.Get());

    WCHAR name[kStoreNameChars] = {};
    WCHAR path[MAX_PATH] = {};
    if (!store.GetStoreDisplayName(name)) return 0;
    storeName = name;
    if (!store.GetPSTFilePath(path)) return 0;
    pstPath = path;

    CInterfacePtr<IMAPIFolder> subtreePtr(store.OpenIPMSubtree());
    if (!subtreePtr) return 0;

    CatalogArray level;
    ULONG levelCount = 0;
    CMAPIFolder subtree(subtreePtr.Get());
    if (!ListSubFolders(subtree, level, &levelCount)) {
      *count = 0;
      return 0;
    }
    store.ClassifyFolders(level.get(), levelCount);

    for (const OLCATALOGDATA& wanted : folderPath) {
      const OLCATALOGDATA* found = nullptr;
      for (ULONG i = 0; i < levelCount && !found; ++i)
        if (SameFolder(level[i], wanted)) found = &level[i];
      *records = nullptr;
      *count = 0;
      if (!found) return 0;
      CInterfacePtr<IMAPIFolder> folderPtr(store.OpenCatalogFolder(*found));
      level.reset();
      levelCount = 0;
      CMAPIFolder folder(folderPtr.Get());
      if (!ListSubFolders(folder, level, &levelCount)) return 0;
    }

    if (kListsRootRecord && subtree.GetContentCount() > 0 && !PrependRoot(level, levelCount)) return 0;
    if (level) RemoveConfigurationFolders(level.get(), levelCount);

    // A level without subfolders leaves the caller's pointer as it was.
    *count = levelCount;
    if (level) *records = level.release();
    return 1;
  });
}
