// Pieces that the listing, backup and synchronise operations share.
#pragma once

#include <afx.h>
#include <windows.h>

#include <initializer_list>
#include <memory>
#include <type_traits>

#include "MAPIPack/MAPIFolder.h"
#include "MAPIPack/MAPIHelpers.h"
#include "MAPIPack/MAPIProfile.h"
#include "MAPIPack/MAPIWrapper.h"
#include "support/AutoMutex.h"
#include "support/BuildVariant.h"
#include "support/CatalogData.h"

// Display names of the stores that synchronise (and the compact build's
// backup) attach to the temporary profile.
inline constexpr WCHAR kSourceStoreName[] = TEXT("QorSource");
inline constexpr WCHAR kDestinationStoreName[] = TEXT("QorDestination");

// Logs the title, the two paths with the count, and each record's index, name
// and kind.
void LogOperationParameters(LPCWSTR title, ULONG count, LPCWSTR source, LPCWSTR destination,
                            const OLCATALOGDATA* records);
// True when a file (not a folder) exists at path.
bool IsExistingFile(LPCWSTR path);
// False when the host's string holds a NUL: the text before it would name
// another file or folder than the one the host passed.
bool IsWholeString(const CString& text);
// Settles a backup destination: a store path as given, a folder or nothing
// turned into a free store name; 0 when the destination's folder is missing.
int NormalizeBackupDestination(CString& destination);

// The thread's last error as the host finds it after BackupMessage or
// SyncMessage: the copy's result code once HandBack has handed it over, and
// otherwise (a call that stopped before its copy, or any call of the compact
// build) what it was before the call, whatever platform calls ran meanwhile.
class CLastErrorKeeper {
 public:
  CLastErrorKeeper() : m_saved(GetLastError()) {}
  ~CLastErrorKeeper() {
    if (!m_handedBack) SetLastError(m_saved);
  }
  CLastErrorKeeper(const CLastErrorKeeper&) = delete;
  CLastErrorKeeper& operator=(const CLastErrorKeeper&) = delete;

  // The operation's answer for a copy's result code: 1 for success, else 0.
  // Called once the mutex is released, so that nothing after it overwrites
  // the code.
  int HandBack(int result);

 private:
  DWORD m_saved;
  bool m_handedBack = false;
};
// What BackupMessageImp and SyncMessageImp answer: the copy's result code, or
// in the compact build 1 when the copy succeeded, else 0.
int ImpAnswer(int result);

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

// The profiles and service display names that hold a copy's two store files;
// empty for a file that no profile holds.
struct CStoreHolders {
  CString sourceProfile, sourceStoreName, destProfile, destStoreName;
  // False when a search fails. A destination that is no file yet has none;
  // the temporary profile (a leftover of an interrupted run) holds none.
  bool Find(CMAPIProfile& profile, LPCWSTR tempProfileName, LPCWSTR source, LPCWSTR destination);
};

// The working profile is deleted and made afresh by an operation: it must be
// named, and be neither the client's own profile "Outlook" nor a profile that
// holds a store of the operation (that one would be lost). Logs why not.
bool IsUsableWorkingProfile(LPCWSTR name, std::initializer_list<LPCWSTR> holders = {});

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
  // For a source and destination of which either no profile holds: makes the
  // profile, then attaches each unheld store to it, the destination first
  // (attaching a path that names no file makes the store). False when any of
  // it fails.
  bool AttachUnheldPair(bool deletionMustSucceed, LPCWSTR source, LPCWSTR sourceName, LPCWSTR destination,
                        LPCWSTR destinationName, CStoreHolders& holders);
  // A store no profile holds is attached to the temporary profile under
  // displayName; profile and storeName then name it there. Nothing to do for a
  // held store.
  bool AttachUnheld(LPCWSTR path, LPCWSTR displayName, CString& profile, CString& storeName);
  LPCWSTR Name() const { return m_name; }

 private:
  CMAPIProfile& m_admin;
  LPCWSTR m_name;
  bool m_made = false;
};

// The compact build runs its copies without the operation mutex.
class CNoOperationLock {
 public:
  DWORD Acquire() { return 0; }
};
typedef std::conditional_t<kHasOperationMutex, AutoMutex, CNoOperationLock> COperationLock;

// What a backup or synchronisation holds while it copies: the machine-wide
// operation mutex, the profiles that hold its two stores, and the temporary
// profile for a store that none holds. Released in reverse order: the
// temporary profile goes before the mutex.
class CCopyRun {
 public:
  explicit CCopyRun(LPCWSTR tempProfileName) : m_tempProfile(m_profile, tempProfileName) {}

  // Takes the mutex and finds the profiles of both stores; false when either
  // fails.
  bool Begin(LPCWSTR source, LPCWSTR destination) {
    return m_mutex.Acquire() == 0 && holders.Find(m_profile, m_tempProfile.Name(), source, destination);
  }
  // Makes the temporary profile when a store needs it and attaches the stores
  // no profile holds (see CTempProfile::AttachUnheldPair).
  bool AttachUnheld(bool deletionMustSucceed, LPCWSTR source, LPCWSTR sourceName, LPCWSTR destination,
                    LPCWSTR destinationName) {
    return m_tempProfile.AttachUnheldPair(deletionMustSucceed, source, sourceName, destination, destinationName,
                                          holders);
  }
  // The copy is over: the temporary profile goes, and a failure is logged.
  void End(int result);

  CStoreHolders holders;

 private:
  COperationLock m_mutex;
  CMAPIProfile m_profile;
  CTempProfile m_tempProfile;
};

// The sub-folders of a folder, owned; false when they cannot be listed. A
// folder without sub-folders gives count 0 and no array.
bool ListSubFolders(CMAPIFolder& folder, std::unique_ptr<OLCATALOGDATA[]>& records, ULONG* count);
