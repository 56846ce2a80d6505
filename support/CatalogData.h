// The catalog record: one folder of a message store as the library lists it,
// takes it back from the host and opens it again. Arrays of it cross the library
// boundary, so its layout is fixed.
#pragma once

#include <windows.h>

#include <cstddef>

#define OLCATALOG_ENTRYID_BYTES 24
#define OLCATALOG_NAME_CHARS 50

typedef struct _OLCATALOGDATA {
  LONG nType;        // folder kind, OLFOLDER_*
  ULONG cbEntryID;   // full length of the folder's entry identifier
  BYTE abEntryID[OLCATALOG_ENTRYID_BYTES];  // its first 24 bytes
  WCHAR szName[OLCATALOG_NAME_CHARS];       // display name, terminated
  WCHAR szClass[OLCATALOG_NAME_CHARS];      // container class, or all zero
} OLCATALOGDATA, *LPOLCATALOGDATA;

static_assert(sizeof(OLCATALOGDATA) == 232, "OLCATALOGDATA crosses the library boundary");
static_assert(offsetof(OLCATALOGDATA, nType) == 0);
static_assert(offsetof(OLCATALOGDATA, cbEntryID) == 4);
static_assert(offsetof(OLCATALOGDATA, abEntryID) == 8);
static_assert(offsetof(OLCATALOGDATA, szName) == 32);
static_assert(offsetof(OLCATALOGDATA, szClass) == 132);

// Folder kinds carried in nType.
enum OlFolderKind {
  OLFOLDER_NORMAL = 0,    // any other folder; every folder below the top level
  OLFOLDER_INBOX = 1,
  OLFOLDER_OUTBOX = 2,
  OLFOLDER_SENTMAIL = 3,
  OLFOLDER_DELETED = 4,
  OLFOLDER_DRAFTS = 5,
  OLFOLDER_JUNK = 6,
  OLFOLDER_CALENDAR = 7,  // "IPF.Appointment"
  OLFOLDER_CONTACTS = 8,  // "IPF.Contact"
  OLFOLDER_TASKS = 9,     // "IPF.Task"
  OLFOLDER_NOTES = 10,    // "IPF.StickyNote"
  OLFOLDER_JOURNAL = 11,  // "IPF.Journal"
  OLFOLDER_HOMEPAGE = 12, // "IPF.Note.OutlookHomepage"
  OLFOLDER_CONFIG = 13,   // configuration and feed folders, never shown to the host
  OLFOLDER_ROOT = 14,     // the top of the store itself, named "root"
};
