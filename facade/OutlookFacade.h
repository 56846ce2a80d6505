// The library's exported class: a backup application creates one facade, sets
// its progress sink and working profile name, and runs operations one at a
// time between Init and Term.
#pragma once

#include <afx.h>
#include <mapidefs.h>

#include <vector>

#include "owners/ScopedOwner.h"
#include "support/CatalogData.h"
#include "support/ProgressCallback.h"

#if defined(_WIN32)
// Empty: the DLL's .def lists its exports, and dllexport would add to them.
#define CORVANE_FACADE_API
#else
#define CORVANE_FACADE_API __attribute__((visibility("default")))
#endif


#define CALLBACK_TYPE_WINDOW 1
#define CALLBACK_TYPE_FUNCTION 2

// The host's choice of progress sink, read once by SetCallBack.
typedef struct _CALLBACKDATAS {
  LONG nType;              // 1 window, 2 function, anything else silent
  UINT_PTR pfnCallBack;    // the window handle (1) or the LPPROGRESSCALLBACK (2)
  ULONG uMsg;              // the window message number (1)
} CALLBACKDATAS;

// The temporary profile name a facade starts with.
#define DEFAULT_TEMP_PROFILE_NAME TEXT("QorILantheTemp")
#define FACADE_PROFILE_NAME_CHARS 50

class CORVANE_FACADE_API COutlookFacade : public CObject {
 public:
  COutlookFacade();
  ~COutlookFacade() override;

  // Each successful Init is balanced by Term.
  static void Term();
  static int IsInstalledOutlook();

  void SetProfileName(LPCWSTR name);

  // Listing.
  void GetOutlookPst(std::vector<CString>& pstPaths, std::vector<CString>& displayNames);
  int GetCatalog(LPCWSTR pstPath, OLCATALOGDATA** records, DWORD* count);
  int GetCatalog(CString& pstPath, CString& storeName, OLCATALOGDATA** records, DWORD* count, LPCWSTR profileName);
  int GetSubCatalog(LPCWSTR pstPath, const std::vector<OLCATALOGDATA>& folderPath, OLCATALOGDATA** records,
                    DWORD* count);
  int GetSubCatalog(CString& pstPath, CString& storeName, const std::vector<OLCATALOGDATA>& folderPath,
                    OLCATALOGDATA** records, DWORD* count, LPCWSTR profileName);

  // Synchronise: 1 success (also when a path names no file), 0 failure; the
  // result code is handed back as BackupMessage hands back its own.
  int SyncMessage(LPCWSTR source, LPCWSTR destination, OLCATALOGDATA* records, ULONG count);

#if defined(CORVANE_COMPACT)
  // ---- The compact build: listing, backup and synchronisation only. ----
  // Init registers with MAPI and initialises it, uncounted: every Init is
  // undone by one Term. Backup always logs on in the normal mode, reports no
  // progress and answers only 1 (copied) or 0; the last error is left alone.
  static int Init();
  int BackupMessage(LPCWSTR source, CString& destination, OLCATALOGDATA* records, ULONG count);

 private:
  int BackupMessageImp(OLCATALOGDATA* records, ULONG count, const CString& sourceProfile, const CString& destProfile,
                       const CString& sourceStoreName, const CString& destStoreName);
#else
  // ---- The full build. ----
  // Lifecycle, once per unit of work.
  static int Init(int mode);

  void SetCallBack(const CALLBACKDATAS& data, void* context);
  LONGLONG GetTotalSize();

  // Attaching a store to the profile "Outlook": 0 attached, 1 not.
  int AttatchPSTFile(LPCWSTR szPath, LPCWSTR szDisplayName);

  // Backup: 1 success, 0 failure; the copy's result code is left in the
  // thread's last error (synchronise does the same).
  int BackupMessage(LPCWSTR source, CString& destination, OLCATALOGDATA* records, ULONG count, int mode);

  // Collecting into a folder ("outlook.pst" and its catalog "mail.db3") and
  // restoring from one into the user's profile: 1 success, 0 failure.
  // collectionPath comes back as the collected store's path.
  int CollectMessage(LPCWSTR sourcePst, CString& collectionPath, OLCATALOGDATA* records, DWORD count);
  int AutoCollectMessage(CString& collectionDir);
  int AutoRestoreMessage(CString& collectionDir);

  // The mail accounts of the profile "Outlook": -1 such an account exists, 0
  // none does, a positive value is an error code.
  static int ExistUnsupportedAccount();
  static int ExistPOP3Account();
  // Appends the accounts the host does not support: 0, or an error code.
  static int GetNotPOP3Account(std::vector<CString>& addresses);

 private:
  int BackupMessageImp(OLCATALOGDATA* records, ULONG count, const CString& sourceProfile, const CString& destProfile,
                       const CString& sourceStoreName, const CString& destStoreName, int mode);
#endif
  int SyncMessageImp(OLCATALOGDATA* records, ULONG count, const CString& sourceProfile, const CString& destProfile,
                     const CString& sourceStoreName, const CString& destStoreName);

  // Both builds have the same layout; the compact build's sink stays empty.
  WCHAR m_szProfileName[FACADE_PROFILE_NAME_CHARS];
  CInterfacePtr<IMAPIProgress> m_progressPtr;  // one pointer, as the layout requires
};
