// Message services of a profile: the catalog of services the stand-in knows,
// IMsgServiceAdmin, IProviderAdmin and IProfSect. All state is in the profile's
// sections (profile_store.h).
#pragma once

#include <string>

#include "profile_store.h"

namespace standin::mapi {

// The store provider kinds (PR_MDB_PROVIDER of a store provider section).
extern const MAPIUID kPstMdbProvider;
extern const MAPIUID kUnicodePstMdbProvider;
extern const MAPIUID kImapMdbProvider;

// IMsgServiceAdmin over an existing profile.
LPSERVICEADMIN NewServiceAdmin(std::u16string profile);

// Opens a section of the profile. Without MAPI_MODIFY the section is read-only
// and must exist; with it a missing section is created.
HRESULT OpenProfileSection(const std::u16string& profile, const MAPIUID* uid, LPCIID iid, ULONG flags, LPPROFSECT* out);

// Whether a store provider section names a personal-folders store.
bool IsPstProvider(const Row& providerSection);

}  // namespace standin::mapi
