// The MAPI subsystem: initialisation, logon, profile administration.
#pragma once

#include "mapicode.h"
#include "mapidefs.h"
#include "mapiguid.h"
#include "mapitags.h"

#define MAPIAPI extern "C" STANDIN_API

#define MAPI_INIT_VERSION 0
#define MAPI_MULTITHREAD_NOTIFICATIONS ((ULONG)0x00000001)
#define MAPI_NO_COINIT ((ULONG)0x00000008)
#define MAPI_NT_SERVICE ((ULONG)0x00010000)

typedef struct {
  ULONG ulVersion;
  ULONG ulFlags;
} MAPIINIT_0, *LPMAPIINIT_0;
typedef MAPIINIT_0 MAPIINIT;
typedef MAPIINIT* LPMAPIINIT;

// Logon flags.
#define MAPI_LOGON_UI ((ULONG)0x00000001)
#define MAPI_NEW_SESSION ((ULONG)0x00000002)
#define MAPI_ALLOW_OTHERS ((ULONG)0x00000008)
#define MAPI_EXPLICIT_PROFILE ((ULONG)0x00000010)
#define MAPI_EXTENDED ((ULONG)0x00000020)
#define MAPI_FORCE_DOWNLOAD ((ULONG)0x00001000)
#define MAPI_SERVICE_UI_ALWAYS ((ULONG)0x00002000)
#define MAPI_NO_MAIL ((ULONG)0x00008000)
#define MAPI_PASSWORD_UI ((ULONG)0x00020000)
#define MAPI_TIMEOUT_SHORT ((ULONG)0x00100000)
#define MAPI_USE_DEFAULT ((ULONG)0x00000040)

// Fails with MAPI_E_NOT_INITIALIZED-like errors unless the mail client is
// installed in the platform root. Counted: each success needs one
// MAPIUninitialize.
MAPIAPI HRESULT STDMETHODCALLTYPE MAPIInitialize(LPVOID lpMapiInit);
MAPIAPI void STDMETHODCALLTYPE MAPIUninitialize(void);
// The profile name is narrow text unless ulFlags has MAPI_UNICODE.
MAPIAPI HRESULT STDMETHODCALLTYPE MAPILogonEx(ULONG_PTR ulUIParam, LPWSTR lpszProfileName, LPWSTR lpszPassword,
                                              ULONG ulFlags, LPMAPISESSION* lppSession);
MAPIAPI HRESULT STDMETHODCALLTYPE MAPIAdminProfiles(ULONG ulFlags, LPPROFADMIN* lppProfAdmin);

// Memory: a block and the blocks chained to it are freed together.
typedef SCODE(STDMETHODCALLTYPE ALLOCATEBUFFER)(ULONG cbSize, LPVOID* lppBuffer);
typedef SCODE(STDMETHODCALLTYPE ALLOCATEMORE)(ULONG cbSize, LPVOID lpObject, LPVOID* lppBuffer);
typedef ULONG(STDMETHODCALLTYPE FREEBUFFER)(LPVOID lpBuffer);
typedef ALLOCATEBUFFER* LPALLOCATEBUFFER;
typedef ALLOCATEMORE* LPALLOCATEMORE;
typedef FREEBUFFER* LPFREEBUFFER;
MAPIAPI SCODE STDMETHODCALLTYPE MAPIAllocateBuffer(ULONG cbSize, LPVOID* lppBuffer);
MAPIAPI SCODE STDMETHODCALLTYPE MAPIAllocateMore(ULONG cbSize, LPVOID lpObject, LPVOID* lppBuffer);
MAPIAPI ULONG STDMETHODCALLTYPE MAPIFreeBuffer(LPVOID lpBuffer);
