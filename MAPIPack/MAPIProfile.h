// Administration of MAPI profiles and the message services inside them. Each
// operation obtains its own administration objects and releases them before it
// returns; MAPI must have been initialised by the caller.
#pragma once

#include <afx.h>
#include <windows.h>

#include <vector>

class CMAPIProfile {
 public:
  CMAPIProfile() = default;
  virtual ~CMAPIProfile() = default;

  int CreateProfile(LPCWSTR profileName);
  int DeleteProfile(LPCWSTR profileName);
  int CountProfiles(LPCWSTR profileName);
  int GetProfileNames(std::vector<CString>& names);
  int AttachPSTFileToProfile(LPCWSTR pstPath, LPCWSTR profileName, LPCWSTR displayName);
  void GetPSTServices(LPCWSTR profileName, std::vector<CString>& displayNames, std::vector<CString>& pstPaths);
  // A file that only the profile `skipped` holds counts as held by none: an
  // operation's temporary profile left by an interrupted run must not be
  // taken for the file's owner.
  int FindProfileOfPSTFile(LPCWSTR pstPath, CString& profileName, CString& displayName,
                           LPCWSTR skipped = nullptr);

  // These work on the profile "Outlook".
  int DeletePSTFileFromProfile(LPCWSTR pstPath);
  // The default store's service is configured with the file (display name
  // "Personal Folders") when the file does not exist yet, or when
  // configureExisting says the file is one the caller made itself.
  int SetDefaultPSTFile(LPCWSTR pstPath, bool configureExisting = false);
  int DeleteMinorPSTFiles();
  int GetDefaultPSTPath(LPWSTR path);  // path: MAX_PATH characters
};
