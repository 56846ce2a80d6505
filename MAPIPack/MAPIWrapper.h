// The library's contact with the MAPI runtime: registration with the MAPI
// stub, initialisation under a process-wide count, logon to a named profile and
// opening a store of that profile by its display name.
#pragma once

#include <mapix.h>
#include <windows.h>

#include "owners/ScopedOwner.h"

// 0: an ordinary process; 1: a process that runs as a service.
typedef int MapiMode;
#define MAPI_MODE_NORMAL 0
#define MAPI_MODE_SERVICE 1

class CMAPIWrapper {
 public:
  CMAPIWrapper() = default;
  virtual ~CMAPIWrapper();
  CMAPIWrapper(const CMAPIWrapper&) = delete;
  CMAPIWrapper& operator=(const CMAPIWrapper&) = delete;

  static int RegisterMapiApp();
  static int InitializeMapi(MapiMode mode);
  static void UninitializeMapi();
  // Successful initialisations not yet undone (always 0 in the compact build,
  // which does not count them).
  static LONG GetInitializeCount();

  int Logon(LPCWSTR profileName, MapiMode mode);
  // The first store of the session whose display name equals displayName
  // without regard to case; the caller owns the returned reference.
  IMsgStore* OpenStoreByName(LPCWSTR displayName);

 private:
  // Lowers the count by one; false, with a log line, when it is already 0.
  static bool ReleaseCountedInitialisation();

  CInterfacePtr<IMAPISession> m_sessionPtr;
};
