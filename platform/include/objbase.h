// COM: the registry lookups of classes (the class identifier registered for a
// program identifier, class identifiers in their registry text form
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"), and the runtime of the COM
// library: apartments, in-process servers, task memory.
#pragma once

#include "unknwn.h"
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

// ---- the COM library (its own shared object) ----
// Every call with a result starts with its fault point, named as the call
// ("CoCreateInstance"); CoUninitialize and CoFreeUnusedLibraries are counted.

typedef enum tagCOINIT {
  COINIT_MULTITHREADED = 0x0,
  COINIT_APARTMENTTHREADED = 0x2,
  COINIT_DISABLE_OLE1DDE = 0x4,
  COINIT_SPEED_OVER_MEMORY = 0x8,
} COINIT;

typedef enum tagCLSCTX {
  CLSCTX_INPROC_SERVER = 0x1,
  CLSCTX_INPROC_HANDLER = 0x2,
  CLSCTX_LOCAL_SERVER = 0x4,
  CLSCTX_REMOTE_SERVER = 0x10,
} CLSCTX;
#define CLSCTX_INPROC (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER)
#define CLSCTX_SERVER (CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER)
#define CLSCTX_ALL (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER)

struct COSERVERINFO;

// Apartments, per thread. The first call of a thread enters it into a
// single-threaded apartment (CoInitialize, COINIT_APARTMENTTHREADED) or the
// process's multithreaded apartment: S_OK. Each further call with the same model
// is counted and answers S_FALSE; one with the other model changes nothing and
// answers RPC_E_CHANGED_MODE. Each successful call is matched by one
// CoUninitialize; the last leaves the apartment. A thread that ends inside an
// apartment leaves it then. E_INVALIDARG for a reserved pointer or unknown flags.
WINOLEAPI CoInitialize(LPVOID pvReserved);
WINOLEAPI CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit);
// Does nothing on a thread outside an apartment. When the last apartment of the
// process is left, the servers that say they can be unloaded are unloaded.
extern "C" STANDIN_API void STDAPICALLTYPE CoUninitialize(void);

// The class object of an in-process server. The class is looked up as the
// platform registers it: HKEY_CLASSES_ROOT\CLSID\{...}\InprocServer32, whose
// default value (REG_SZ or REG_EXPAND_SZ) names the server module; the module
// is loaded once per process (LoadLibraryW) and asked through its export
// DllGetClassObject, whose result is returned unchanged. Only in-process
// servers exist (the registration's ThreadingModel is not looked at; objects
// are used on any thread). pServerInfo is ignored.
// CO_E_NOTINITIALIZED on a thread outside an apartment while the process has
// no multithreaded apartment (a thread outside an apartment uses the process's
// multithreaded apartment when there is one); REGDB_E_CLASSNOTREG for a class
// without an in-process server (or a context without CLSCTX_INPROC_SERVER);
// REGDB_E_READREGDB when the registry cannot be read; the module's load error
// as an HRESULT (HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND) for a missing file,
// ERROR_BAD_EXE_FORMAT for one that is no module); CO_E_ERRORINDLL for a module
// without DllGetClassObject. *ppv is null on every failure.
WINOLEAPI CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, COSERVERINFO* pServerInfo, REFIID riid,
                           LPVOID* ppv);
// CoGetClassObject for IClassFactory, then IClassFactory::CreateInstance
// (whose result, E_NOINTERFACE included, is returned), then the class object is
// released. E_POINTER without ppv.
WINOLEAPI CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext, REFIID riid, LPVOID* ppv);
// Unloads the in-process servers whose DllCanUnloadNow answers S_OK.
extern "C" STANDIN_API void STDAPICALLTYPE CoFreeUnusedLibraries(void);

// Task memory: blocks any module of the process may free. They need no
// apartment. An allocation of 0 bytes gives a block of its own; Realloc to 0
// frees the block and returns null.
extern "C" STANDIN_API LPVOID STDAPICALLTYPE CoTaskMemAlloc(SIZE_T cb);
extern "C" STANDIN_API LPVOID STDAPICALLTYPE CoTaskMemRealloc(LPVOID pv, SIZE_T cb);
extern "C" STANDIN_API void STDAPICALLTYPE CoTaskMemFree(LPVOID pv);

// The exports of an in-process server module, and their types.
typedef HRESULT(STDAPICALLTYPE* LPFNGETCLASSOBJECT)(REFCLSID, REFIID, LPVOID*);
typedef HRESULT(STDAPICALLTYPE* LPFNCANUNLOADNOW)(void);
WINOLEAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv);
WINOLEAPI DllCanUnloadNow(void);
