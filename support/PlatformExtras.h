// Names the platform documents that mingw-w64's headers lack, with the
// documented values. The stand-in's headers have them all, so each is defined
// only where the headers in use do not define it.
#pragma once

#include <mapidefs.h>
#include <mapitags.h>

// Flags of IMAPISession::OpenMsgStore and OpenEntry for stores of a profile in
// cached mode.
#ifndef MDB_ONLINE
#define MDB_ONLINE ((ULONG)0x00000100)
#endif
#ifndef MAPI_NO_CACHE
#define MAPI_NO_CACHE ((ULONG)0x00000200)
#endif
#ifndef MAPI_FORCE_ACCESS
#define MAPI_FORCE_ACCESS ((ULONG)0x00080000)
#endif

// Special folders named by the inbox and the store.
#ifndef PR_IPM_DRAFTS_ENTRYID
#define PR_IPM_DRAFTS_ENTRYID PROP_TAG(PT_BINARY, 0x36D7)
#endif
#ifndef PR_ADDITIONAL_REN_ENTRYIDS
#define PR_ADDITIONAL_REN_ENTRYIDS PROP_TAG(PT_MV_BINARY, 0x36D8)
#endif

// The path of a personal store file, in the profile section of its service.
#ifndef PR_PST_PATH_A
#define PR_PST_PATH_A PROP_TAG(PT_STRING8, 0x6700)
#endif
#ifndef PR_PST_PATH_W
#define PR_PST_PATH_W PROP_TAG(PT_UNICODE, 0x6700)
#endif
