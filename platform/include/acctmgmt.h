// The mail client's account management: the account manager, an in-process
// server of the mail client (CLSID_OlkAccountManager), the enumerators and
// accounts it hands out, and the helper a client gives it. Interfaces keep the
// platform's slot order; placeholder slots answer E_NOTIMPL.
#pragma once

#include "mapidefs.h"
#include "unknwn.h"
#include "windef.h"

// ---- constants ----
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

// Account properties (IOlkAccount::GetProp).
#define PROP_ACCT_ID PROP_TAG(PT_LONG, 0x0001)
#define PROP_ACCT_NAME PROP_TAG(PT_UNICODE, 0x0002)
#define PROP_ACCT_USER_DISPLAY_NAME PROP_TAG(PT_UNICODE, 0x000B)
#define PROP_ACCT_USER_EMAIL_ADDR PROP_TAG(PT_UNICODE, 0x000C)

// ---- class identifiers: the manager, account types, account categories ----
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

// ---- interface identifiers ----
#define DEFINE_OLKIID(name, l) \
  DEFINE_GUID(name, l, 0xAF41, 0x11D2, 0x8C, 0x3B, 0x00, 0x10, 0x4B, 0x2A, 0x66, 0x76)
DEFINE_OLKIID(IID_IOlkErrorUnknown, 0x9240A6C0);
DEFINE_OLKIID(IID_IOlkEnum, 0x9240A6C1);
DEFINE_OLKIID(IID_IOlkAccountNotify, 0x9240A6C3);
DEFINE_OLKIID(IID_IOlkAccountHelper, 0x9240A6CB);
DEFINE_OLKIID(IID_IOlkAccountManager, 0x9240A6CD);
DEFINE_OLKIID(IID_IOlkAccount, 0x9240A6D2);
#undef DEFINE_OLKIID

// ---- data types ----
typedef struct {
  DWORD cb;
  BYTE* pb;
} ACCT_BIN;

// A property value: dwType is PT_LONG (dw), PT_UNICODE (pwsz) or PT_BINARY
// (bin). Strings and binary values that GetProp returns are freed with the
// account's FreeMemory.
typedef struct {
  DWORD dwType;
  union {
    DWORD dw;
    WCHAR* pwsz;
    ACCT_BIN bin;
  } Val;
} ACCT_VARIANT;

// ---- interfaces ----

// Implemented by the client: the profile whose accounts are managed, and the
// MAPI session logged on to it.
struct IOlkAccountHelper : public IUnknown {
  STDMETHOD(PlaceHolder1)(LPVOID) PURE;
  // The profile name into pwszIdentity, *pcch characters with the terminator.
  STDMETHOD(GetIdentity)(LPWSTR pwszIdentity, DWORD* pcch) PURE;
  // A reference to the MAPI session (its IUnknown); the caller releases it.
  STDMETHOD(GetMapiSession)(LPUNKNOWN* ppmsess) PURE;
  STDMETHOD(HandsOffSession)() PURE;
};

struct IOlkErrorUnknown : public IUnknown {
  // A text for the error, freed with the object's FreeMemory.
  STDMETHOD(GetLastError)(HRESULT hr, LPWSTR* ppwszError) PURE;
};

struct IOlkAccountNotify : public IOlkErrorUnknown {
  STDMETHOD(Notify)(DWORD dwNotify, DWORD dwAcctID, DWORD dwFlags) PURE;
};

// The accounts of an enumeration, as IUnknown objects that answer IOlkAccount.
// GetNext hands out the next one, or S_FALSE with a null object at the end.
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
  // The account's type and its categories (an array freed with FreeMemory).
  STDMETHOD(GetAccountInfo)(CLSID* pclsidType, DWORD* pcCategories, CLSID** prgclsidCategory) PURE;
  // E_ACCT_NOT_FOUND when the account has no such value, E_INVALIDARG for a
  // property the account does not know.
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
  // Asks the helper for the profile and its session. E_OLK_ALREADY_INITIALIZED
  // when the manager was initialised before.
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
  // E_ACCT_NOT_FOUND for an id that names no account.
  STDMETHOD(DeleteAccount)(DWORD dwAcctID) PURE;
  STDMETHOD(PlaceHolder9)() PURE;
  STDMETHOD(SaveChanges)(DWORD dwAcctID, DWORD dwFlags) PURE;
  STDMETHOD(GetOrder)(const CLSID* pclsidCategory, DWORD* pcAccts, DWORD** prgAccts) PURE;
  STDMETHOD(SetOrder)(const CLSID* pclsidCategory, DWORD cAccts, DWORD* rgAccts) PURE;
  // The accounts of a category (null: all) and of a type (null: any).
  STDMETHOD(EnumerateAccounts)(const CLSID* pclsidCategory, const CLSID* pclsidType, DWORD dwFlags,
                               IOlkEnum** ppEnum) PURE;
  STDMETHOD(PlaceHolder10)() PURE;
  STDMETHOD(PlaceHolder11)() PURE;
  STDMETHOD(FreeMemory)(BYTE* pv) PURE;
  STDMETHOD(Advise)(IOlkAccountNotify* pNotify, DWORD* pdwCookie) PURE;
  STDMETHOD(Unadvise)(DWORD dwCookie) PURE;
};
