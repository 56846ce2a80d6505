// The item loop that the calendar and contact merges share. Each source item
// is looked up among the destination's items as they were read at the start
// (the first row in table order with the merge's key). An item the destination
// lacks is copied; an item whose destination copy is older is replaced; an
// item whose destination copy is not older is skipped.
//
// Replacement order: the replacement is created, copied and saved first, and
// the older destination item is deleted only after the new one has been saved.
// If the replacement fails, the older copy stays in place instead of being lost.
#pragma once

#include <mapix.h>
#include <windows.h>

#include "MAPIPack/RowIndex.h"

// One call of the loop: the text the log gives it and its source position.
struct CMergeCall {
  LPCWSTR text;
  int line;
};

// What sets one merge apart from the other.
struct CMergeRules {
  LPCWSTR unit;  // the source unit named in the log
  // The identity of an item; rows with equal keys name the same item.
  CRowKeyText (*key)(const SRow& row);
  ULONG modifiedColumn;      // PR_LAST_MODIFICATION_TIME among the content columns
  ULONG entryIdColumn;       // PR_ENTRYID among the content columns
  LPSPropTagArray excluded;  // what the item copy leaves out
  bool stepOnSkip;           // a skipped item still makes a progress step
  bool saveOnlyCreated;      // the save step runs only when a message was made
  CMergeCall open, create, copy, save, deleteOlder;
  int copyFailedLine;
  int canceledLine;
};

// Runs the loop over the rows both folders' contents tables gave; returns a
// copy result.
int MergeItems(const CMergeRules& rules, IMAPIFolder* sourceFolder, IMAPIFolder* destinationFolder,
               IMAPIProgress* progress, const SRowSet* sourceRows, const SRowSet* destinRows);

// A time column as one number, both halves as stored.
ULONGLONG MergeTimeValue(const SPropValue& value);
