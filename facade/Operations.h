// Pieces that the listing, backup and synchronise operations share.
#pragma once

#include <afx.h>
#include <windows.h>

#include "CatalogData.h"

// Logs the title, the two paths with the count, and each record's index, name
// and kind.
void LogOperationParameters(LPCWSTR title, ULONG count, LPCWSTR source, LPCWSTR destination,
                            const OLCATALOGDATA* records);
// True when a file (not a folder) exists at path.
bool IsExistingFile(LPCWSTR path);
// Settles a backup destination: a store path as given, a folder or nothing
// turned into a free store name; 0 when the destination's folder is missing.
int NormalizeBackupDestination(CString& destination);
