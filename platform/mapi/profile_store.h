// Where profiles live: the registry, and nowhere else, so that an export of the
// Profiles key carries every profile and an import brings it back.
//
// Layout under HKCU\Software\Microsoft\Windows NT\CurrentVersion\Windows
// Messaging Subsystem\Profiles:
//   value "DefaultProfile" (REG_SZ)       the default profile's name
//   <profile name>\                       one key per profile
//     <32 lower-case hex digits>\         one key per profile section (its UID)
//       <8 hex digits> (REG_BINARY)       one value per property
//
// A property's value name is its tag as the subsystem writes it: the type in
// four hex digits, then the id ("001f3001" is PR_DISPLAY_NAME_W, "001e6700"
// PR_PST_PATH_A). Data: PT_UNICODE as UTF-16LE with a terminating null unit,
// PT_STRING8 as the bytes with a terminating null byte, everything else in the
// OwnedProp encoding of core.h (PT_LONG 4 bytes little-endian, PT_BINARY as is,
// multi-valued: a count and length-prefixed elements).
//
// Sections the stand-in keeps:
//   kServiceListSection  PR_SERVICES: the service UIDs, 16 bytes each, in
//                        order of creation.
//   <service UID>        PR_SERVICE_NAME_A, PR_SERVICE_UID, PR_DISPLAY_NAME_*,
//                        PR_RESOURCE_FLAGS, PR_SERVICE_DLL_NAME_A,
//                        PR_STORE_PROVIDERS / PR_AB_PROVIDERS (provider UIDs).
//   <provider UID>       PR_PROVIDER_UID, PR_SERVICE_UID, PR_SERVICE_NAME_A,
//                        PR_RESOURCE_TYPE, PR_RESOURCE_FLAGS, PR_DISPLAY_NAME_*,
//                        PR_PROVIDER_DLL_NAME_A, PR_MDB_PROVIDER (stores),
//                        PR_PST_PATH_* (personal folders).
// kServiceListSection is "9207f3e0a3b11019908b08002b2a56c2". The default store
// is the service with SERVICE_DEFAULT_STORE in PR_RESOURCE_FLAGS; its store
// provider carries STATUS_DEFAULT_STORE. Other subkeys of a profile (accounts)
// are left alone.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "core.h"

namespace standin::mapi::profiles {

extern const WCHAR kProfilesPath[];
extern const WCHAR kDefaultProfileValue[];
extern const MAPIUID kServiceListSection;

// One owner per open key.
class RegKey {
 public:
  RegKey() = default;
  ~RegKey() { Reset(); }
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;
  HKEY get() const { return key_; }
  HKEY* put() {
    Reset();
    return &key_;
  }
  void Reset();

 private:
  HKEY key_ = nullptr;
};

// Registry status -> MAPI code.
HRESULT FromRegistry(LSTATUS status);

std::u16string UidHex(const MAPIUID& uid);
MAPIUID NewUid();
MAPIUID UidFromBytes(const std::string& bytes, size_t offset = 0);
std::string UidBytes(const MAPIUID& uid);
std::u16string ValueNameOf(ULONG tag);
bool ParseValueName(std::u16string_view name, ULONG* tag);

// Registry data of a property and back (see the layout above).
std::string EncodeValue(const OwnedProp& prop);
bool DecodeValue(ULONG tag, const std::string& data, OwnedProp* out);

// A name argument: narrow (UTF-8, the stand-in's ANSI code page) unless flags
// has MAPI_UNICODE. Null gives an empty name.
std::u16string NameArg(const WCHAR* name, ULONG flags);

// A profile name must be usable as one key name.
bool ValidProfileName(std::u16string_view name);

HRESULT ListProfiles(std::vector<std::u16string>* names);
// S_OK, MAPI_E_NOT_FOUND, or a registry failure.
HRESULT ProfileExists(const std::u16string& name);
// MAPI_E_NO_ACCESS when a profile of that name (in any letter case) exists,
// MAPI_E_CALL_FAILED when the registry refuses the new key.
HRESULT CreateProfile(const std::u16string& name);
HRESULT DeleteProfile(const std::u16string& name);
// An empty name when none is set (or the one set names no profile).
HRESULT GetDefaultProfile(std::u16string* name);
HRESULT SetDefaultProfile(const std::u16string& name);

// Sections. ReadSection gives MAPI_E_NOT_FOUND for a missing section.
HRESULT SectionExists(const std::u16string& profile, const MAPIUID& uid);
HRESULT ReadSection(const std::u16string& profile, const MAPIUID& uid, Row* props);
// Creates the section when missing. Writing a string property replaces its
// other string form, so one value per property id holds the text.
HRESULT WriteSection(const std::u16string& profile, const MAPIUID& uid, const Row& props);
HRESULT DeleteSectionProps(const std::u16string& profile, const MAPIUID& uid, const std::vector<ULONG>& tags);
HRESULT DeleteSection(const std::u16string& profile, const MAPIUID& uid);

// Reading helpers over a section's row: a string property in either form.
std::optional<std::u16string> RowText(const Row& row, ULONG id);
std::optional<LONG> RowLong(const Row& row, ULONG tag);
// The 16-byte UIDs packed in a binary property.
std::vector<MAPIUID> RowUidList(const Row& row, ULONG tag);
OwnedProp MakeUidList(ULONG tag, const std::vector<MAPIUID>& uids);
// The row with each string property also in its other form.
Row WithBothStringForms(const Row& row);

inline bool SameUid(const MAPIUID& a, const MAPIUID& b) {
  for (int i = 0; i < 16; ++i)
    if (a.ab[i] != b.ab[i]) return false;
  return true;
}

}  // namespace standin::mapi::profiles
