// Pieces that the listing, backup and synchronise operations share.
#pragma once

#include <afx.h>
#include <windows.h>

#include "support/CatalogData.h"
#include "MAPIPack/MAPIFolder.h"
#include "MAPIPack/MAPIHelpers.h"
#include "MAPIPack/MAPIProfile.h"
#include "MAPIPack/MAPIWrapper.h"

#include <memory>

// Logs the title, the two paths with the count, and each record's index, name
// and kind.
void LogOperationParameters(LPCWSTR title, ULONG count, LPCWSTR source, LPCWSTR destination,
                            const OLCATALOGDATA* records);
// True when a file (not a folder) exists at path.
bool IsExistingFile(LPCWSTR path);
// Settles a backup destination: a store path as given, a folder or nothing
// turned into a free store name; 0 when the destination's folder is missing.
int NormalizeBackupDestination(CString& destination);

// A host's name and class fields need not be terminated; they are cut to
// their last character.
void TerminateNames(OLCATALOGDATA* records, ULONG count);

// One selected folder and where it goes.
struct CFolderPair {
  CInterfacePtr<IMAPIFolder> source;
  CInterfacePtr<IMAPIFolder> destination;
  int type = OLFOLDER_NORMAL;
};

// The two stores that backup and synchronise copy between, opened through
// their profiles: the sessions, the stores, the top of each personal folder
// tree and the folders directly below it. Members are declared so that they
// go in the order the operations release them: listings and top folders,
// then the stores (the source first), then the sessions (the source first).
class COpenedStores {
 public:
  // Logs on to the destination's profile and opens its store by display name,
  // then the same for the source; false when a logon fails or a store is
  // missing.
  bool Open(const CString& sourceProfile, const CString& sourceStoreName, const CString& destProfile,
            const CString& destStoreName, MapiMode mode);
  // Opens both top folders and lists what is below them; false when any of it
  // fails.
  bool ListTopFolders();

  CMAPIWrapper destSession;
  CMAPIWrapper sourceSession;
  CInterfacePtr<IMsgStore> destStore;
  CInterfacePtr<IMsgStore> sourceStore;
  CInterfacePtr<IMAPIFolder> destSubtree;
  CInterfacePtr<IMAPIFolder> sourceSubtree;
  std::unique_ptr<OLCATALOGDATA[]> sourceFolders;
  std::unique_ptr<OLCATALOGDATA[]> destFolders;
  ULONG sourceCount = 0;
  ULONG destCount = 0;
};

// The facade's temporary profile, deleted on every way out once it was made:
// a profile left behind would still hold the stores of this run and mislead
// the next one.
class CTempProfile {
 public:
  CTempProfile(CMAPIProfile& admin, LPCWSTR name) : m_admin(admin), m_name(name) {}
  ~CTempProfile() { Remove(); }
  CTempProfile(const CTempProfile&) = delete;
  CTempProfile& operator=(const CTempProfile&) = delete;

  // A profile of that name left by an earlier run goes first. Backup ignores
  // whether that deletion worked; synchronise deletes only a profile that
  // exists and makes nothing when it cannot.
  bool Make(bool deletionMustSucceed);
  void Remove();
  // A store no profile holds is attached to the temporary profile under
  // displayName; profile and storeName then name it there. Nothing to do for a
  // held store.
  bool AttachUnheld(LPCWSTR path, LPCWSTR displayName, CString& profile, CString& storeName);

 private:
  CMAPIProfile& m_admin;
  LPCWSTR m_name;
  bool m_made = false;
};

// The sub-folders of a folder, owned; false when they cannot be listed. A
// folder without sub-folders gives count 0 and no array.
bool ListSubFolders(CMAPIFolder& folder, std::unique_ptr<OLCATALOGDATA[]>& records, ULONG* count);
