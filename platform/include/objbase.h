// COM's registry lookups: the class identifier registered for a program
// identifier, and class identifiers in their registry text form
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
#pragma once

#include "windows.h"

#ifndef STDAPICALLTYPE
#define STDAPICALLTYPE
#endif
#define WINOLEAPI extern "C" STANDIN_API HRESULT STDAPICALLTYPE

typedef WCHAR OLECHAR;
typedef OLECHAR* LPOLESTR;
typedef const OLECHAR* LPCOLESTR;

// Reads "<ProgID>\CLSID" below the classes key. S_OK with the class, or
// CO_E_CLASSSTRING (no such program identifier, or its class text is not a
// class identifier), REGDB_E_CLASSNOTREG (the program identifier names no
// class), REGDB_E_READREGDB (the registry could not be read), E_INVALIDARG.
// *clsid is zeroed on every failure.
WINOLEAPI CLSIDFromProgID(LPCOLESTR progId, LPCLSID clsid);
// Parses the braced text form. NOERROR, or CO_E_CLASSSTRING with *clsid zeroed.
WINOLEAPI CLSIDFromString(LPCOLESTR text, LPCLSID clsid);
// Writes the braced text form (39 characters with the terminator); the number
// of characters written including the terminator, or 0 when cch is too small.
extern "C" STANDIN_API int STDAPICALLTYPE StringFromGUID2(REFGUID guid, LPOLESTR text, int cch);
