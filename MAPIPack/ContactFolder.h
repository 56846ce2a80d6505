// Merging a contacts folder into a destination that may hold earlier copies:
// contacts are recognised by given name, surname and creation time.
#pragma once

#include <mapix.h>

int MergeContactFolder(IMAPIFolder* sourceFolder, IMAPIFolder* destinationFolder, IMAPIProgress* progress);
// 0: different items; 1: the same item, destination not older; 2: the same
// item, destination older. Row sets hold the contact merge's content columns.
int CompareContactRows(ULONG si, ULONG di, const SRowSet* sourceRows, const SRowSet* destinRows);
