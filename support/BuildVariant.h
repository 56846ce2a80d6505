// The library is built twice from the same sources: the full build, and the
// compact build (CORVANE_COMPACT) for hosts that need only the listing, backup
// and synchronisation. Each behaviour in which the two differ is one constant
// here; the shared code asks the constant instead of testing the build. Where a
// whole function differs (the compact Init, the backup's entry points without
// a logon mode), both versions stand side by side in one marked block of their
// unit. The compact build has no log at all: see support/Log.h.
#pragma once

#include "support/CatalogData.h"

#if defined(CORVANE_COMPACT)
inline constexpr bool kCompactBuild = true;
#else
inline constexpr bool kCompactBuild = false;
#endif

// "MAPIX" is found by enumerating the subsystem key's values, and a non-empty
// "MAPIXVER" is required besides, before the library registers with MAPI.
inline constexpr bool kRequiresMapiVersion = kCompactBuild;
// Successful MAPI initialisations are counted, so that a Term too many is
// refused instead of uninitialising MAPI.
inline constexpr bool kCountsMapiInitialisation = !kCompactBuild;

// A facade holds a progress sink; backup and synchronise report progress to
// it and stop when the host cancels.
inline constexpr bool kHasProgress = !kCompactBuild;
// Backup and synchronise take the machine-wide operation mutex.
inline constexpr bool kHasOperationMutex = !kCompactBuild;
// Backup and synchronise leave their copy's result code in the thread's last
// error; the compact build answers only whether the copy succeeded.
inline constexpr bool kHandsBackResultCode = !kCompactBuild;
// Backup prepares its temporary profile as synchronise does (a stale profile
// is deleted only when it exists, and must go) and attaches the stores no
// profile holds as "QorDestination" and "QorSource" instead of under their
// paths.
inline constexpr bool kBackupAttachesAsSync = kCompactBuild;

// The store list puts the default store first and the rest by file name,
// and logs it; the compact build keeps the order of the service table.
inline constexpr bool kOrdersStoreList = !kCompactBuild;
// The catalog listing puts the "root" record in front of a level when the
// top of the store holds messages.
inline constexpr bool kListsRootRecord = !kCompactBuild;
// The highest kind the store classification gives. The compact build knows no
// configuration kind: such folders are ordinary folders there and are listed.
inline constexpr LONG kMaxFolderKind = kCompactBuild ? OLFOLDER_HOMEPAGE : OLFOLDER_CONFIG;

// Calendar and contact folders are merged item by item; without the merges
// every folder takes the plain content copy.
inline constexpr bool kHasItemMerges = !kCompactBuild;
// A message whose copy fails is tried once more, and a failure stops the
// folder's copy. The compact build tries once, records the failure in the
// folder's result and goes on with the next message.
inline constexpr bool kRetriesFailedCopy = !kCompactBuild;
inline constexpr bool kStopsAtFailedCopy = !kCompactBuild;
