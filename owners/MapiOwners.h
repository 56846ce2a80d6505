// Scoped owners of what the MAPI subsystem allocates: blocks from its
// allocator and row sets. Same family as the interface and handle owners.
#pragma once

#include <mapix.h>
#include <mapiutil.h>

#include "owners/ScopedOwner.h"

template <class T>
struct CMapiBufferTraits {
  using Value = T*;
  static Value Empty() { return nullptr; }
  static bool IsValid(Value p) { return p != nullptr; }
  static void Free(Value p) { MAPIFreeBuffer(p); }
};

// A block from MAPIAllocateBuffer (with its chained blocks): a property value
// array, an entry identifier, a tag array.
template <class T>
using CMapiBuffer = CScopedPointer<CMapiBufferTraits<T>>;

struct CRowSetTraits {
  using Value = LPSRowSet;
  static Value Empty() { return nullptr; }
  static bool IsValid(Value p) { return p != nullptr; }
  static void Free(Value p) { FreeProws(p); }
};

// A row set from HrQueryAllRows or IMAPITable::QueryRows, freed row by row.
class CRowSet : public CScopedPointer<CRowSetTraits> {
 public:
  using CScopedPointer<CRowSetTraits>::CScopedPointer;
  ULONG Count() const { return Get() ? Get()->cRows : 0; }
};
