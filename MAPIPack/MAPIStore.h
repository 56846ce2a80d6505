// One opened message store: its display name and file path, the top of its
// personal folder tree, folders named by catalog records, and the folder kinds
// of those records.
#pragma once

#include <mapix.h>
#include <windows.h>

#include "owners/ScopedOwner.h"
#include "support/CatalogData.h"

class CMAPIStore {
 public:
  explicit CMAPIStore(IMsgStore* store);  // adds a reference; store may be null
  virtual ~CMAPIStore();
  CMAPIStore(const CMAPIStore&) = delete;
  CMAPIStore& operator=(const CMAPIStore&) = delete;

  int GetStoreDisplayName(LPWSTR name);  // name: 256 characters
  int GetPSTFilePath(LPWSTR path);       // path: MAX_PATH characters
  // The caller owns the returned folder.
  IMAPIFolder* OpenIPMSubtree();
  IMAPIFolder* OpenCatalogFolder(OLCATALOGDATA record);
  void ClassifyFolders(OLCATALOGDATA* records, ULONG count);
  static void ApplyFolderClasses(OLCATALOGDATA* records, ULONG count);

 private:
  CInterfacePtr<IMsgStore> m_storePtr;
};
