// One MAPI folder: its sub-folders as catalog records, sub-folder creation,
// message counts, and the incremental copy of a folder (its messages, then its
// sub-folder tree) from a source store into a destination store.
#pragma once

#include <mapix.h>
#include <windows.h>

#include "owners/ScopedOwner.h"
#include "support/CatalogData.h"

// Copies the items of one folder into another; returns a copy result.
typedef int (*ItemCopier)(IMAPIFolder* source, IMAPIFolder* destination, IMAPIProgress* progress);

class CMAPIFolder {
 public:
  explicit CMAPIFolder(IMAPIFolder* folder);  // adds a reference; may be null
  CMAPIFolder(IMAPIFolder* folder, int type);
  virtual ~CMAPIFolder();
  CMAPIFolder(const CMAPIFolder&) = delete;
  CMAPIFolder& operator=(const CMAPIFolder&) = delete;

  // The array is allocated with new[] and owned by the caller.
  int GetCategory(ULONG* count, OLCATALOGDATA** records);
  // The caller owns the returned folder.
  IMAPIFolder* CreateSubFolder(const OLCATALOGDATA& record);
  int ProcessFolder(IMsgStore* sourceStore, IMsgStore* destStore, IMAPIFolder* destFolder, int recurse,
                    IMAPIProgress* progress);
  ULONG GetContentCount();
  ULONG GetTotalContentCount(IMsgStore* store);

  static int CopyFolderContents(IMAPIFolder* sourceFolder, IMAPIFolder* destinationFolder, IMAPIProgress* progress);
  static int CopyFolderHierarchy(IMsgStore* sourceStore, IMsgStore* destStore, IMAPIFolder* sourceFolder,
                                 IMAPIFolder* destinationFolder, IMAPIProgress* progress, ItemCopier copier,
                                 int recurse);
  static ULONG _getCreateFolderFlag();

 private:
  CInterfacePtr<IMAPIFolder> m_folderPtr;
  int m_nType = 0;
};
