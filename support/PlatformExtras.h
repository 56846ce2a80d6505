// Names the platform documents that mingw-w64's headers lack, with the
// documented values: MAPI flags and property tags, and the mail client's
// account management. The stand-in's headers have them all, so each is
// defined only where the headers in use do not define it.
#pragma once

#include <mapidefs.h>
#include <mapitags.h>
#include <windows.h>

// Flags of IMAPISession::OpenMsgStore and OpenEntry for stores of a profile in
// cached mode.
#ifndef MDB_ONLINE
#define MDB_ONLINE ((ULONG)0x00000100)
#endif
#ifndef MAPI_NO_CACHE
#define MAPI_NO_CACHE ((ULONG)0x00000200)
#endif
#ifndef MAPI_FORCE_ACCESS
#define MAPI_FORCE_ACCESS ((ULONG)0x00080000)
#endif

// Special folders named by the inbox and the store.
#ifndef PR_IPM_DRAFTS_ENTRYID
#define PR_IPM_DRAFTS_ENTRYID PROP_TAG(PT_BINARY, 0x36D7)
#endif
#ifndef PR_ADDITIONAL_REN_ENTRYIDS
#define PR_ADDITIONAL_REN_ENTRYIDS PROP_TAG(PT_MV_BINARY, 0x36D8)
#endif

// The path of a personal store file, in the profile section of its service.
#ifndef PR_PST_PATH_A
#define PR_PST_PATH_A PROP_TAG(PT_STRING8, 0x6700)
#endif
#ifndef PR_PST_PATH_W
#define PR_PST_PATH_W PROP_TAG(PT_UNICODE, 0x6700)
#endif

// The mail client's account management: the account manager, an in-process
// server of the mail client (CLSID_OlkAccountManager), the enumerators and
// accounts it hands out, and the helper a client gives it. The interfaces keep
// the platform's slot order. The identifiers are defined in one unit of the
// library, which includes initguid.h first.
#if __has_include(<acctmgmt.h>)
#include <acctmgmt.h>
#else
#include <objbase.h>

#define ACCT_INIT_NOSYNCH_MAPI_ACCTS 0x00000001
#define ACCT_INIT_NO_STORES_CHECK 0x00000002
#define ACCT_INIT_NO_NOTIFICATIONS 0x00000004
#define OLK_ACCOUNT_NO_FLAGS 0

#define E_ACCT_NOT_FOUND _HRESULT_TYPEDEF_(0x800C8101L)
#define E_ACCT_UI_BUSY _HRESULT_TYPEDEF_(0x800C8102L)
#define E_ACCT_WRONG_SORT_ORDER _HRESULT_TYPEDEF_(0x800C8105L)
#define E_OLK_REGISTRY _HRESULT_TYPEDEF_(0x800C8001L)
#define E_OLK_ALREADY_INITIALIZED _HRESULT_TYPEDEF_(0x800C8002L)
#define E_OLK_PARAM_NOT_SUPPORTED _HRESULT_TYPEDEF_(0x800C8003L)
#define E_OLK_NOT_INITIALIZED _HRESULT_TYPEDEF_(0x800C8005L)
#define E_OLK_PROP_READ_ONLY _HRESULT_TYPEDEF_(0x800C800DL)

#define NOTIFY_ACCT_CHANGED 1
#define NOTIFY_ACCT_CREATED 2
#define NOTIFY_ACCT_DELETED 3
#define NOTIFY_ACCT_ORDER_CHANGED 4
#define NOTIFY_ACCT_PREDELETED 5

#define PROP_ACCT_ID PROP_TAG(PT_LONG, 0x0001)
#define PROP_ACCT_NAME PROP_TAG(PT_UNICODE, 0x0002)
#define PROP_ACCT_USER_DISPLAY_NAME PROP_TAG(PT_UNICODE, 0x000B)
#define PROP_ACCT_USER_EMAIL_ADDR PROP_TAG(PT_UNICODE, 0x000C)

#define DEFINE_OLKGUID(name, l) \
  DEFINE_GUID(name, l, 0xB0D6, 0x11D2, 0x8C, 0x3B, 0x00, 0x10, 0x4B, 0x2A, 0x66, 0x76)
DEFINE_OLKGUID(CLSID_OlkAccountManager, 0xED475410);
DEFINE_OLKGUID(CLSID_OlkPOP3Account, 0xED475411);
DEFINE_OLKGUID(CLSID_OlkIMAP4Account, 0xED475412);
DEFINE_OLKGUID(CLSID_OlkMAPIAccount, 0xED475414);
DEFINE_OLKGUID(CLSID_OlkMail, 0xED475418);
DEFINE_OLKGUID(CLSID_OlkAddressBook, 0xED475419);
DEFINE_OLKGUID(CLSID_OlkStore, 0xED475420);
DEFINE_GUID(CLSID_OlkHotmailAccount, 0x4DB5CBF0, 0x3B77, 0x4852, 0xBC, 0x8E, 0xBB, 0x81, 0x90, 0x88, 0x61, 0xF3);
DEFINE_GUID(CLSID_OlkLDAPAccount, 0x4DB5CBF2, 0x3B77, 0x4852, 0xBC, 0x8E, 0xBB, 0x81, 0x90, 0x88, 0x61, 0xF3);
#undef DEFINE_OLKGUID

#define DEFINE_OLKIID(name, l) \
  DEFINE_GUID(name, l, 0xAF41, 0x11D2, 0x8C, 0x3B, 0x00, 0x10, 0x4B, 0x2A, 0x66, 0x76)
DEFINE_OLKIID(IID_IOlkErrorUnknown, 0x9240A6C0);
DEFINE_OLKIID(IID_IOlkEnum, 0x9240A6C1);
DEFINE_OLKIID(IID_IOlkAccountNotify, 0x9240A6C3);
DEFINE_OLKIID(IID_IOlkAccountHelper, 0x9240A6CB);
DEFINE_OLKIID(IID_IOlkAccountManager, 0x9240A6CD);
DEFINE_OLKIID(IID_IOlkAccount, 0x9240A6D2);
#undef DEFINE_OLKIID

typedef struct {
  DWORD cb;
  BYTE* pb;
} ACCT_BIN;

// dwType is PT_LONG (dw), PT_UNICODE (pwsz) or PT_BINARY (bin).
typedef struct {
  DWORD dwType;
  union {
    DWORD dw;
    WCHAR* pwsz;
    ACCT_BIN bin;
  } Val;
} ACCT_VARIANT;

struct IOlkAccountHelper : public IUnknown {
  STDMETHOD(PlaceHolder1)(LPVOID) PURE;
  STDMETHOD(GetIdentity)(LPWSTR pwszIdentity, DWORD* pcch) PURE;
  STDMETHOD(GetMapiSession)(LPUNKNOWN* ppmsess) PURE;
  STDMETHOD(HandsOffSession)() PURE;
};

struct IOlkErrorUnknown : public IUnknown {
  STDMETHOD(GetLastError)(HRESULT hr, LPWSTR* ppwszError) PURE;
};

struct IOlkAccountNotify : public IOlkErrorUnknown {
  STDMETHOD(Notify)(DWORD dwNotify, DWORD dwAcctID, DWORD dwFlags) PURE;
};

struct IOlkEnum : public IUnknown {
  STDMETHOD(GetCount)(DWORD* pulCount) PURE;
  STDMETHOD(Reset)() PURE;
  STDMETHOD(GetNext)(LPUNKNOWN* ppunk) PURE;
  STDMETHOD(Skip)(DWORD cSkip) PURE;
};

struct IOlkAccount : public IOlkErrorUnknown {
  STDMETHOD(PlaceHolder1)() PURE;
  STDMETHOD(PlaceHolder2)() PURE;
  STDMETHOD(PlaceHolder3)() PURE;
  STDMETHOD(PlaceHolder4)() PURE;
  STDMETHOD(PlaceHolder5)() PURE;
  STDMETHOD(PlaceHolder6)() PURE;
  STDMETHOD(GetAccountInfo)(CLSID* pclsidType, DWORD* pcCategories, CLSID** prgclsidCategory) PURE;
  STDMETHOD(GetProp)(DWORD dwProp, ACCT_VARIANT* pVar) PURE;
  STDMETHOD(SetProp)(DWORD dwProp, ACCT_VARIANT* pVar) PURE;
  STDMETHOD(PlaceHolder7)() PURE;
  STDMETHOD(PlaceHolder8)() PURE;
  STDMETHOD(PlaceHolder9)() PURE;
  STDMETHOD(FreeMemory)(BYTE* pv) PURE;
  STDMETHOD(PlaceHolder10)() PURE;
  STDMETHOD(SaveChanges)(DWORD dwFlags) PURE;
};

struct IOlkAccountManager : public IOlkErrorUnknown {
  STDMETHOD(Init)(IOlkAccountHelper* pAcctHelper, DWORD dwFlags) PURE;
  STDMETHOD(DisplayAccountList)(HWND hwnd, DWORD dwFlags, LPCWSTR lpwszReserved, DWORD dwReserved,
                                const CLSID* pclsidReserved1, const CLSID* pclsidReserved2) PURE;
  STDMETHOD(PlaceHolder1)() PURE;
  STDMETHOD(PlaceHolder2)() PURE;
  STDMETHOD(PlaceHolder3)() PURE;
  STDMETHOD(PlaceHolder4)() PURE;
  STDMETHOD(PlaceHolder5)() PURE;
  STDMETHOD(FindAccount)(DWORD dwProp, ACCT_VARIANT* pVar, IOlkAccount** ppAccount) PURE;
  STDMETHOD(PlaceHolder6)() PURE;
  STDMETHOD(PlaceHolder7)() PURE;
  STDMETHOD(PlaceHolder8)() PURE;
  STDMETHOD(DeleteAccount)(DWORD dwAcctID) PURE;
  STDMETHOD(PlaceHolder9)() PURE;
  STDMETHOD(SaveChanges)(DWORD dwAcctID, DWORD dwFlags) PURE;
  STDMETHOD(GetOrder)(const CLSID* pclsidCategory, DWORD* pcAccts, DWORD** prgAccts) PURE;
  STDMETHOD(SetOrder)(const CLSID* pclsidCategory, DWORD cAccts, DWORD* rgAccts) PURE;
  STDMETHOD(EnumerateAccounts)(const CLSID* pclsidCategory, const CLSID* pclsidType, DWORD dwFlags,
                               IOlkEnum** ppEnum) PURE;
  STDMETHOD(PlaceHolder10)() PURE;
  STDMETHOD(PlaceHolder11)() PURE;
  STDMETHOD(FreeMemory)(BYTE* pv) PURE;
  STDMETHOD(Advise)(IOlkAccountNotify* pNotify, DWORD* pdwCookie) PURE;
  STDMETHOD(Unadvise)(DWORD dwCookie) PURE;
};
#endif
