// Merging a calendar folder into a destination that may hold earlier copies:
// items are recognised by their creation time; an older copy is replaced.
#pragma once

#include <mapix.h>

int MergeCalendarFolder(IMAPIFolder* sourceFolder, IMAPIFolder* destinationFolder, IMAPIProgress* progress);
