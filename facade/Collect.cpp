// Collecting the user's stores into a collection folder, as the one store
// "outlook.pst" beside its catalog "mail.db3", and restoring such a collection
// into the user's profile. The copies are backups; the catalog is the
// collection's own small database.
#include <shlobj.h>
#include <shlwapi.h>

#include <memory>
#include <string>
#include <vector>

#include "catalogdb/CollectionCatalog.h"
#include "facade/Boundary.h"
#include "facade/Operations.h"
#include "facade/OutlookFacade.h"
#include "support/OutlookTrivial.h"
#include "support/TextConvert.h"
#include "support/Log.h"

namespace {

typedef std::basic_string<WCHAR> WideString;

const WCHAR kCollectedStore[] = TEXT("outlook.pst");
const WCHAR kCatalogFile[] = TEXT("mail.db3");
const WCHAR kRestoredStore[] = TEXT("restore.pst");
const WCHAR kRestoredStoreName[] = TEXT("QorDestination");

void AppendBackslash(CString& path) {
  if (path.IsEmpty() || path[path.GetLength() - 1] != TEXT('\\')) path += TEXT('\\');
}

// Narrow text of the database layer, for the log. Its messages may quote a
// catalog from anywhere: no character of it starts a line of its own.
WideString ForLog(const char* narrow) {
  WideString wide;
  if (!WideText(narrow, CP_THREAD_ACP, wide)) wide = TEXT("?");
  for (WCHAR& c : wide)
    if (c < 0x20) c = TEXT('?');
  return wide;
}

// Runs the work of one member. No C++ exception leaves the library: a failure
// of the catalog database is logged and the member fails, as does any other
// (see RunWithoutThrowing).
template <class Work>
int Guarded(Work work) {
  return RunWithoutThrowing(0, [&] {
    try {
      return work();
    } catch (const CppSQLite3Exception& e) {
      LogMessage(LOG_ERROR, TEXT("Catalog database failed, error:%d, %s"), e.Code(), ForLog(e.Message()).c_str());
      return 0;
    }
  });
}

// Writes the catalog beside the collected store: the store's file name and
// the collected folders.
bool WriteCatalog(const CString& collectedPath, const OLCATALOGDATA* records, DWORD count) {
  int slash = collectedPath.ReverseFind(TEXT('\\'));
  CString database = collectedPath.Left(slash + 1) + kCatalogFile;
  std::string databaseName, fileName;
  bool converted =
      NarrowText(database, CP_THREAD_ACP, databaseName) && NarrowText(collectedPath.GetString() + slash + 1, CP_THREAD_ACP, fileName);
  std::vector<CCatalogFolder> folders;
  for (DWORD i = 0; converted && i < count; ++i) {
    WideString name(records[i].szName, wcsnlen(records[i].szName, OLCATALOG_NAME_CHARS));
    CCatalogFolder folder = {records[i].nType, std::string()};
    converted = NarrowText(name.c_str(), CP_THREAD_ACP, folder.strName);
    folders.push_back(std::move(folder));
  }
  if (!converted) {
    LogMessage(LOG_ERROR, TEXT("A name cannot be written to the catalog %s"), database.GetString());
    return false;
  }
  WriteCollectionCatalog(databaseName.c_str(), fileName.c_str(), folders);
  return true;
}

// The collected store that the catalog of folder (ending in a backslash)
// names. The catalog may come from anywhere: only an existing file directly
// inside the folder is taken.
bool FindCollectedStore(const CString& folder, CString& source) {
  CString database = folder + kCatalogFile;
  std::string databaseName, storeName;
  if (!NarrowText(database, CP_THREAD_ACP, databaseName)) {
    LogMessage(LOG_ERROR, TEXT("The catalog's path cannot be converted: %s"), database.GetString());
    return false;
  }
  if (!ReadCollectedStoreName(databaseName.c_str(), storeName)) {
    LogMessage(LOG_ERROR, TEXT("The catalog %s names no collected store."), database.GetString());
    return false;
  }
  WideString name;
  if (!WideText(storeName.c_str(), CP_THREAD_ACP, name) || !IsPlainFileName(name.c_str())) {
    // The name itself stays out of the log: it may be made to look like lines of its own.
    LogMessage(LOG_ERROR, TEXT("The catalog %s names a collected store that is no file of its folder."),
               database.GetString());
    return false;
  }
  source = folder + name.c_str();
  if (source.GetLength() >= MAX_PATH) {
    LogMessage(LOG_ERROR, TEXT("The path is too long: %s"), source.GetString());
    return false;
  }
  if (!IsExistingFile(source)) {
    LogMessage(LOG_ERROR, TEXT("The collected store does not exist: %s"), source.GetString());
    return false;
  }
  return true;
}

// "restore.pst" in the user's roaming application-data folder, which is made
// when missing.
bool FallbackRestoreTarget(CString& target) {
  WCHAR folder[MAX_PATH] = {};
  if (!SHGetSpecialFolderPathW(nullptr, folder, CSIDL_APPDATA, TRUE)) {
    LogMessage(LOG_ERROR, TEXT("SHGetSpecialFolderPathW(NULL, szPath, CSIDL_APPDATA, TRUE) failed, error:%d"),
               static_cast<int>(GetLastError()));
    return false;
  }
  target = folder;
  AppendBackslash(target);
  target += kRestoredStore;
  return true;
}

// A collection folder as the host gave it: not empty (that would be the
// drive's root), no NUL inside (only the text before it would be used), no
// pattern and no device.
bool IsCollectionFolder(const CString& folder) {
  if (!folder.IsEmpty() && IsWholeString(folder) && !HasWildcard(folder) && !NamesDevice(folder)) return true;
  LogMessage(LOG_ERROR, TEXT("The collection folder is invalid: %s"), folder.GetString());
  return false;
}

}  // namespace

int COutlookFacade::CollectMessage(LPCWSTR sourcePst, CString& collectionPath, OLCATALOGDATA* records, DWORD count) {
  return Guarded([&] {
    if (!IsCollectionFolder(collectionPath)) return 0;
    AppendBackslash(collectionPath);
    if (!PathIsDirectoryW(collectionPath)) return 0;
    collectionPath += kCollectedStore;
    if (!BackupMessage(sourcePst, collectionPath, records, count, 0)) return 0;
    return WriteCatalog(collectionPath, records, count) ? 1 : 0;
  });
}

int COutlookFacade::AutoCollectMessage(CString& collectionDir) {
  return Guarded([&] {
    if (!IsCollectionFolder(collectionDir)) return 0;
    std::vector<CString> paths, names;
    GetOutlookPst(paths, names);
    int result = 1;
    for (const CString& path : paths) {
      OLCATALOGDATA* listed = nullptr;
      DWORD count = 0;
      CString destination(collectionDir);
      int ok = GetCatalog(path, &listed, &count);
      std::unique_ptr<OLCATALOGDATA[]> records(listed);
      // A store that cannot be listed is left out, and the collection is not
      // whole; the other stores are still collected.
      if (!ok) {
        LogMessage(LOG_ERROR, TEXT("The store could not be listed and is not collected: %s"), path.GetString());
        result = 0;
      } else if (!CollectMessage(path, destination, records.get(), count)) {
        result = 0;
      }
    }
    return result;
  });
}

int COutlookFacade::AutoRestoreMessage(CString& collectionDir) {
  return Guarded([&] {
    std::vector<CString> paths, names;
    GetOutlookPst(paths, names);
    // Into the default store; without one, into a new store that is attached.
    bool attach = paths.empty();
    CString target;
    if (!attach)
      target = paths[0];
    else if (!FallbackRestoreTarget(target))
      return 0;

    if (!IsCollectionFolder(collectionDir)) return 0;
    CString folder(collectionDir), source;
    AppendBackslash(folder);
    if (!FindCollectedStore(folder, source)) return 0;

    OLCATALOGDATA* listed = nullptr;
    DWORD count = 0;
    int ok = GetCatalog(source, &listed, &count);
    std::unique_ptr<OLCATALOGDATA[]> records(listed);
    if (!ok) return 0;
    int result = BackupMessage(source, target, records.get(), count, 0);
    // Mail in a store the profile does not hold is not restored for the user.
    if (result && attach && AttatchPSTFile(target, kRestoredStoreName) != 0) {
      LogMessage(LOG_ERROR, TEXT("The restored store could not be attached; the copy stays in %s"), target.GetString());
      return 0;
    }
    return result;
  });
}
