// The MAPI stand-in's shared pieces: COM object base, owned property values,
// the one table model every table uses, the one restriction evaluator, fault
// points, and the contracts between the subsystem, profiles and store files.
// Internal to the stand-in; the library sees only the platform headers.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <mapiutil.h>
#include <standin/comobject.h>
#include <standin/fault.h>

// Exported from the stand-in's shared object for its own tests and tools.
#pragma GCC visibility push(default)

namespace standin::mapi {

// ---- fault points ----
// Every interface method and subsystem function starts with its fault point,
// named as the platform spells it: "MAPILogonEx", "IMAPIFolder::CopyMessages",
// "IMAPITable::QueryRows", ... An armed code is returned as the call's result
// (errors and warnings alike).
#define MAPI_FAULT_POINT(name) STANDIN_FAULT_POINT(name)

// ---- COM objects ----
using standin::ComObject;

// ---- owned property values ----
// One property with its data owned, as tables and store files keep it.
// Encoding of data by type:
//   PT_I2 2 bytes, PT_LONG/PT_ERROR/PT_R4 4, PT_BOOLEAN 2 (0 or 1),
//   PT_DOUBLE/PT_APPTIME/PT_CURRENCY/PT_I8/PT_SYSTIME 8 (little-endian; a
//   SYSTIME is the FILETIME as one 64-bit number), PT_CLSID 16,
//   PT_STRING8 the narrow bytes, PT_UNICODE the UTF-16LE units, PT_BINARY the
//   bytes (none of them with a terminator), multi-valued types a 32-bit count
//   followed by each element as a 32-bit byte length and its encoding.
struct OwnedProp {
  ULONG tag = PR_NULL;
  std::string data;
};
using Row = std::vector<OwnedProp>;

// SPropValue -> owned; false for a type the stand-in cannot keep (PT_OBJECT...).
bool ToOwned(const SPropValue& value, OwnedProp* out);
// Owned -> SPropValue; variable data is allocated with MAPIAllocateMore on
// parent (which must be a MAPIAllocateBuffer block).
HRESULT ToMapi(const OwnedProp& prop, SPropValue* out, void* parent);
// A missing property as MAPI reports it: PT_ERROR with MAPI_E_NOT_FOUND.
SPropValue NotFoundValue(ULONG tag);
// Convenience constructors.
OwnedProp MakeLong(ULONG tag, LONG value);
OwnedProp MakeBool(ULONG tag, bool value);
OwnedProp MakeUnicode(ULONG tag, std::u16string_view text);
OwnedProp MakeString8(ULONG tag, std::string_view text);
OwnedProp MakeBinary(ULONG tag, const void* bytes, size_t size);
OwnedProp MakeSysTime(ULONG tag, const FILETIME& time);
// The row's property with this tag (same id and type), or null.
const OwnedProp* FindProp(const Row& row, ULONG tag);
// The row's property for a requested tag as MAPI answers it: the same tag;
// else, for PT_UNSPECIFIED, the first property of that id; else a PT_STRING8/
// PT_UNICODE value (single or MV) of that id converted into *scratch (UTF-8 is
// the narrow code page) with the requested tag. Null when none.
const OwnedProp* ResolveProp(const Row& row, ULONG tag, OwnedProp* scratch);
// Copies of values the caller owns into one MAPI buffer: an SPropValue array
// (for GetProps) or a row set (for QueryRows), with the requested columns in
// order and NotFoundValue for missing ones.
HRESULT BuildPropArray(const Row& row, const SPropTagArray* columns, ULONG* count, LPSPropValue* out);
HRESULT BuildRowSet(const std::vector<const Row*>& rows, const SPropTagArray* columns, LPSRowSet* out);

// ---- restrictions ----
// The one evaluator: RES_AND, RES_OR, RES_NOT, RES_CONTENT, RES_PROPERTY,
// RES_COMPAREPROPS, RES_BITMASK, RES_SIZE, RES_EXIST. Nesting deeper than 64
// levels or an unknown type is MAPI_E_TOO_COMPLEX.
HRESULT EvaluateRestriction(const Row& row, const SRestriction* restriction, bool* matches);
// Orders two values as restrictions compare them (<0, 0, >0): same-type values
// by value (strings as binary text, PT_BINARY by length then bytes), values of
// different types by type.
int CompareValues(const OwnedProp& a, const OwnedProp& b);

// ---- the table model ----
// A table over a snapshot of rows (each row holds all its properties). Columns
// default to the given default columns; QueryRows reads from the cursor.
// Faults are taken as "<faultPrefix>::<Method>", e.g. "IMAPITable::QueryRows".
LPMAPITABLE NewRowTable(std::vector<Row> rows, std::vector<ULONG> defaultColumns,
                        const char* faultPrefix = "IMAPITable");
// The same table over rows read when first needed: load gets the columns set
// by then (rows must carry at least those) or null for rows with every
// property. Large folders read only what their callers ask for.
using RowLoader = std::function<HRESULT(const std::vector<ULONG>* columns, std::vector<Row>* rows)>;
LPMAPITABLE NewLoadedRowTable(RowLoader load, std::vector<ULONG> defaultColumns,
                              const char* faultPrefix = "IMAPITable");

// ---- subsystem ----
// Whether the stand-in mail client is installed in the platform root: the
// Windows Messaging Subsystem key holds "MAPIX" = "1" (see standin/mapi.h).
bool ClientInstalled();
// Whether MAPIInitialize has succeeded more often than MAPIUninitialize ran.
bool SubsystemInitialized();

// ---- contracts between profiles, sessions and store files ----
// Creates a new, empty store file at path (a Windows path) with the display
// name and the standard folder tree; MAPI_E_COLLISION when a file exists.
HRESULT CreateStoreFile(const std::u16string& path, const std::u16string& displayName);
// Opens a store file as a message store. The store's display name is the one
// its profile section gives. MAPI_E_NOT_FOUND for a missing file,
// MAPI_E_CORRUPT_STORE for a file that is not a store or is damaged.
HRESULT OpenStoreFile(const std::u16string& path, const std::u16string& displayName, ULONG flags, LPMDB* out);
// The 16-byte UID of a store file (its entry identifiers carry it), without
// opening it as a store.
HRESULT ReadStoreUid(const std::u16string& path, MAPIUID* uid);

}  // namespace standin::mapi

#pragma GCC visibility pop
