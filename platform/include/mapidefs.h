// MAPI base definitions: property tags and typed property values.
#pragma once

#include "windows.h"
#include "mapicode.h"
#include "unknwn.h"

typedef LONG SCODE;
typedef GUID* LPGUID;

// Property types (the low 16 bits of a property tag).
#define PT_UNSPECIFIED ((ULONG)0)
#define PT_NULL ((ULONG)1)
#define PT_I2 ((ULONG)2)
#define PT_SHORT PT_I2
#define PT_LONG ((ULONG)3)
#define PT_I4 PT_LONG
#define PT_R4 ((ULONG)4)
#define PT_FLOAT PT_R4
#define PT_DOUBLE ((ULONG)5)
#define PT_R8 PT_DOUBLE
#define PT_CURRENCY ((ULONG)6)
#define PT_APPTIME ((ULONG)7)
#define PT_ERROR ((ULONG)10)
#define PT_BOOLEAN ((ULONG)11)
#define PT_OBJECT ((ULONG)13)
#define PT_I8 ((ULONG)20)
#define PT_LONGLONG PT_I8
#define PT_STRING8 ((ULONG)30)
#define PT_UNICODE ((ULONG)31)
#define PT_SYSTIME ((ULONG)64)
#define PT_CLSID ((ULONG)72)
#define PT_BINARY ((ULONG)258)
#define MV_FLAG 0x1000
#define PT_MV_I2 (MV_FLAG | PT_I2)
#define PT_MV_LONG (MV_FLAG | PT_LONG)
#define PT_MV_R4 (MV_FLAG | PT_R4)
#define PT_MV_DOUBLE (MV_FLAG | PT_DOUBLE)
#define PT_MV_CURRENCY (MV_FLAG | PT_CURRENCY)
#define PT_MV_APPTIME (MV_FLAG | PT_APPTIME)
#define PT_MV_SYSTIME (MV_FLAG | PT_SYSTIME)
#define PT_MV_STRING8 (MV_FLAG | PT_STRING8)
#define PT_MV_BINARY (MV_FLAG | PT_BINARY)
#define PT_MV_UNICODE (MV_FLAG | PT_UNICODE)
#define PT_MV_CLSID (MV_FLAG | PT_CLSID)
#define PT_MV_I8 (MV_FLAG | PT_I8)
#define PT_TSTRING PT_UNICODE
#define PT_MV_TSTRING PT_MV_UNICODE

#define PROP_TYPE_MASK ((ULONG)0x0000FFFF)
#define PROP_TYPE(ulPropTag) (((ULONG)(ulPropTag)) & PROP_TYPE_MASK)
#define PROP_ID(ulPropTag) (((ULONG)(ulPropTag)) >> 16)
#define PROP_TAG(ulPropType, ulPropID) ((((ULONG)(ulPropID)) << 16) | ((ULONG)(ulPropType)))
#define CHANGE_PROP_TYPE(ulPropTag, ulPropType) \
  (((ULONG)0xFFFF0000 & (ULONG)(ulPropTag)) | (ULONG)(ulPropType))
#define PROP_ID_NULL 0
#define PROP_ID_INVALID 0xFFFF
#define PR_NULL PROP_TAG(PT_NULL, PROP_ID_NULL)

typedef struct _SBinary {
  ULONG cb;
  LPBYTE lpb;
} SBinary, *LPSBinary;

typedef union tagCY {
  struct {
    ULONG Lo;
    LONG Hi;
  } s;
  LONGLONG int64;
} CY, CURRENCY;

typedef struct _SShortArray {
  ULONG cValues;
  short* lpi;
} SShortArray;
typedef struct _SLongArray {
  ULONG cValues;
  LONG* lpl;
} SLongArray;
typedef struct _SRealArray {
  ULONG cValues;
  float* lpflt;
} SRealArray;
typedef struct _SDoubleArray {
  ULONG cValues;
  double* lpdbl;
} SDoubleArray;
typedef struct _SCurrencyArray {
  ULONG cValues;
  CURRENCY* lpcur;
} SCurrencyArray;
typedef struct _SAppTimeArray {
  ULONG cValues;
  double* lpat;
} SAppTimeArray;
typedef struct _SDateTimeArray {
  ULONG cValues;
  FILETIME* lpft;
} SDateTimeArray;
typedef struct _SBinaryArray {
  ULONG cValues;
  SBinary* lpbin;
} SBinaryArray;
typedef struct _SLPSTRArray {
  ULONG cValues;
  LPSTR* lppszA;
} SLPSTRArray;
typedef struct _SWStringArray {
  ULONG cValues;
  LPWSTR* lppszW;
} SWStringArray;
typedef struct _SGuidArray {
  ULONG cValues;
  GUID* lpguid;
} SGuidArray;
typedef struct _SLargeIntegerArray {
  ULONG cValues;
  LARGE_INTEGER* lpli;
} SLargeIntegerArray;

typedef union _PV {
  short int i;
  LONG l;
  ULONG ul;
  float flt;
  double dbl;
  unsigned short int b;
  CURRENCY cur;
  double at;
  FILETIME ft;
  LPSTR lpszA;
  SBinary bin;
  LPWSTR lpszW;
  GUID* lpguid;
  LARGE_INTEGER li;
  SShortArray MVi;
  SLongArray MVl;
  SRealArray MVflt;
  SDoubleArray MVdbl;
  SCurrencyArray MVcur;
  SAppTimeArray MVat;
  SDateTimeArray MVft;
  SBinaryArray MVbin;
  SLPSTRArray MVszA;
  SWStringArray MVszW;
  SGuidArray MVguid;
  SLargeIntegerArray MVli;
  SCODE err;
  LONG x;
} __UPV;

typedef struct _SPropValue {
  ULONG ulPropTag;
  ULONG dwAlignPad;
  union _PV Value;
} SPropValue, *LPSPropValue;

// The value union holds 8 bytes and a pointer and a count: 16 bytes where
// pointers are 64-bit, 8 where they are 32-bit.
static_assert(sizeof(SPropValue) == (sizeof(void*) == 8 ? 24 : 16) && offsetof(SPropValue, Value) == 8,
              "property value layout");

// ---- flags ----
#define MAPI_UNICODE ((ULONG)0x80000000)
#define MAPI_MODIFY ((ULONG)0x00000001)
#define MAPI_ACCESS_MODIFY ((ULONG)0x00000001)
#define MAPI_ACCESS_READ ((ULONG)0x00000002)
#define MAPI_ACCESS_DELETE ((ULONG)0x00000004)
#define MAPI_ACCESS_CREATE_HIERARCHY ((ULONG)0x00000008)
#define MAPI_ACCESS_CREATE_CONTENTS ((ULONG)0x00000010)
#define MAPI_ACCESS_CREATE_ASSOCIATED ((ULONG)0x00000020)
#define MAPI_DEFERRED_ERRORS ((ULONG)0x00000008)
#define MAPI_BEST_ACCESS ((ULONG)0x00000010)
#define MAPI_NO_CACHE ((ULONG)0x00000200)
#define MAPI_ASSOCIATED ((ULONG)0x00000040)
#define MAPI_DIALOG ((ULONG)0x00000008)
#define MAPI_MOVE ((ULONG)0x00000001)
#define MAPI_NOREPLACE ((ULONG)0x00000002)
#define MAPI_DECLINE_OK ((ULONG)0x00000004)
#define MAPI_NO_STRINGS ((ULONG)0x00000001)
#define MAPI_CREATE ((ULONG)0x00000002)
#define MAPI_TOP_LEVEL ((ULONG)0x00000001)
#define MAPI_FORCE_ACCESS ((ULONG)0x00080000)
#define MAPI_FULL_IPM_TREE ((ULONG)0x00000080)
#define MAPI_FORCE_CREATE 1
#define MDB_NO_DIALOG ((ULONG)0x00000001)
#define MDB_WRITE ((ULONG)0x00000004)
#define MDB_TEMPORARY ((ULONG)0x00000020)
#define MDB_NO_MAIL ((ULONG)0x00000080)
#define MDB_ONLINE ((ULONG)0x00000100)
#define KEEP_OPEN_READONLY ((ULONG)0x00000001)
#define KEEP_OPEN_READWRITE ((ULONG)0x00000002)
#define FORCE_SAVE ((ULONG)0x00000004)
#define FOLDER_ROOT ((ULONG)0x00000000)
#define FOLDER_GENERIC ((ULONG)0x00000001)
#define FOLDER_SEARCH ((ULONG)0x00000002)
#define OPEN_IF_EXISTS ((ULONG)0x00000001)
#define DEL_MESSAGES ((ULONG)0x00000001)
#define DEL_FOLDERS ((ULONG)0x00000004)
#define DEL_ASSOCIATED ((ULONG)0x00000008)
#define CONVENIENT_DEPTH ((ULONG)0x00000001)
#define SHOW_SOFT_DELETES ((ULONG)0x00000002)
#define TBL_ALL_COLUMNS ((ULONG)0x00000001)
#define TBL_BATCH ((ULONG)0x00000002)
#define TBL_NOWAIT ((ULONG)0x00000001)
#define TBL_ASYNC ((ULONG)0x00000001)
#define TBL_NOADVANCE ((ULONG)0x00000001)
#define DIR_BACKWARD ((ULONG)0x00000001)
#define TBLSTAT_COMPLETE ((ULONG)0)
#define TBLSTAT_SORTING ((ULONG)9)
#define TBLSTAT_SORT_ERROR ((ULONG)10)
#define TBLSTAT_SETTING_COLS ((ULONG)11)
#define TBLSTAT_SETCOL_ERROR ((ULONG)13)
#define TBLSTAT_RESTRICTING ((ULONG)14)
#define TBLSTAT_RESTRICT_ERROR ((ULONG)15)
#define TBLTYPE_SNAPSHOT ((ULONG)0)
#define TBLTYPE_KEYSET ((ULONG)1)
#define TBLTYPE_DYNAMIC ((ULONG)2)
#define MV_INSTANCE 0x2000
#define BOOKMARK_BEGINNING ((ULONG_PTR)0)
#define BOOKMARK_CURRENT ((ULONG_PTR)1)
#define BOOKMARK_END ((ULONG_PTR)2)
typedef ULONG_PTR BOOKMARK;
#define SERVICE_DEFAULT_STORE ((ULONG)0x00000001)
#define SERVICE_SINGLE_COPY ((ULONG)0x00000002)
#define SERVICE_CREATE_WITH_STORE ((ULONG)0x00000004)
#define SERVICE_PRIMARY_IDENTITY ((ULONG)0x00000008)
#define SERVICE_NO_PRIMARY_IDENTITY ((ULONG)0x00000020)
#define STATUS_DEFAULT_STORE ((ULONG)0x00000002)
#define SERVICE_UI_ALWAYS ((ULONG)0x00000002)
#define SERVICE_UI_ALLOWED ((ULONG)0x00000010)
#define UI_SERVICE ((ULONG)0x00000002)
#define MSG_SERVICE_UI_READ_ONLY ((ULONG)0x00000008)
#define MAPI_DEFAULT_SERVICES ((ULONG)0x00000001)
#define MAPI_STORE_PROVIDER ((ULONG)33)
#define MAPI_AB_PROVIDER ((ULONG)34)
#define MAPI_TRANSPORT_PROVIDER ((ULONG)35)

// Object types (PR_OBJECT_TYPE).
#define MAPI_STORE ((ULONG)0x00000001)
#define MAPI_ADDRBOOK ((ULONG)0x00000002)
#define MAPI_FOLDER ((ULONG)0x00000003)
#define MAPI_ABCONT ((ULONG)0x00000004)
#define MAPI_MESSAGE ((ULONG)0x00000005)
#define MAPI_MAILUSER ((ULONG)0x00000006)
#define MAPI_ATTACH ((ULONG)0x00000007)
#define MAPI_DISTLIST ((ULONG)0x00000008)
#define MAPI_PROFSECT ((ULONG)0x00000009)
#define MAPI_STATUS ((ULONG)0x0000000A)
#define MAPI_SESSION ((ULONG)0x0000000B)

// Recipient types, message flags, attachment methods.
#define MAPI_ORIG 0
#define MAPI_TO 1
#define MAPI_CC 2
#define MAPI_BCC 3
#define MSGFLAG_READ ((ULONG)0x00000001)
#define MSGFLAG_UNMODIFIED ((ULONG)0x00000002)
#define MSGFLAG_SUBMIT ((ULONG)0x00000004)
#define MSGFLAG_UNSENT ((ULONG)0x00000008)
#define MSGFLAG_HASATTACH ((ULONG)0x00000010)
#define MSGFLAG_FROMME ((ULONG)0x00000020)
#define ATTACH_BY_VALUE ((ULONG)0x00000001)
#define MODRECIP_ADD ((ULONG)0x00000002)
#define MODRECIP_MODIFY ((ULONG)0x00000004)
#define MODRECIP_REMOVE ((ULONG)0x00000008)

// ---- identifiers ----
typedef struct _MAPIUID {
  BYTE ab[16];
} MAPIUID, *LPMAPIUID;

typedef struct _ENTRYID {
  BYTE abFlags[4];
  BYTE ab[1];
} ENTRYID, *LPENTRYID;
#define CbNewENTRYID(cb) (offsetof(ENTRYID, ab) + (cb))

typedef const IID* LPCIID;

// ---- property arrays, rows and tables ----
typedef struct _SPropTagArray {
  ULONG cValues;
  ULONG aulPropTag[1];
} SPropTagArray, *LPSPropTagArray;
#define CbNewSPropTagArray(c) (offsetof(SPropTagArray, aulPropTag) + (c) * sizeof(ULONG))
#define SizedSPropTagArray(c, name) \
  struct _SPropTagArray_##name {    \
    ULONG cValues;                  \
    ULONG aulPropTag[c];            \
  } name

typedef struct _SPropProblem {
  ULONG ulIndex;
  ULONG ulPropTag;
  SCODE scode;
} SPropProblem, *LPSPropProblem;
typedef struct _SPropProblemArray {
  ULONG cProblem;
  SPropProblem aProblem[1];
} SPropProblemArray, *LPSPropProblemArray;

typedef struct _SRow {
  ULONG ulAdrEntryPad;
  ULONG cValues;
  LPSPropValue lpProps;
} SRow, *LPSRow;
typedef struct _SRowSet {
  ULONG cRows;
  SRow aRow[1];
} SRowSet, *LPSRowSet;
#define CbNewSRowSet(c) (offsetof(SRowSet, aRow) + (c) * sizeof(SRow))

typedef struct _ADRENTRY {
  ULONG ulReserved1;
  ULONG cValues;
  LPSPropValue rgPropVals;
} ADRENTRY, *LPADRENTRY;
typedef struct _ADRLIST {
  ULONG cEntries;
  ADRENTRY aEntries[1];
} ADRLIST, *LPADRLIST;
#define CbNewADRLIST(c) (offsetof(ADRLIST, aEntries) + (c) * sizeof(ADRENTRY))

typedef SBinaryArray ENTRYLIST, *LPENTRYLIST;

typedef struct _SSortOrder {
  ULONG ulPropTag;
  ULONG ulOrder;
} SSortOrder, *LPSSortOrder;
typedef struct _SSortOrderSet {
  ULONG cSorts;
  ULONG cCategories;
  ULONG cExpanded;
  SSortOrder aSort[1];
} SSortOrderSet, *LPSSortOrderSet;
#define CbNewSSortOrderSet(c) (offsetof(SSortOrderSet, aSort) + (c) * sizeof(SSortOrder))
#define SizedSSortOrderSet(c, name) \
  struct _SSortOrderSet_##name {    \
    ULONG cSorts;                   \
    ULONG cCategories;              \
    ULONG cExpanded;                \
    SSortOrder aSort[c];            \
  } name
#define TABLE_SORT_ASCEND ((ULONG)0x00000000)
#define TABLE_SORT_DESCEND ((ULONG)0x00000001)

// ---- restrictions ----
#define RES_AND ((ULONG)0x00000000)
#define RES_OR ((ULONG)0x00000001)
#define RES_NOT ((ULONG)0x00000002)
#define RES_CONTENT ((ULONG)0x00000003)
#define RES_PROPERTY ((ULONG)0x00000004)
#define RES_COMPAREPROPS ((ULONG)0x00000005)
#define RES_BITMASK ((ULONG)0x00000006)
#define RES_SIZE ((ULONG)0x00000007)
#define RES_EXIST ((ULONG)0x00000008)
#define RES_SUBRESTRICTION ((ULONG)0x00000009)
#define RELOP_LT ((ULONG)0)
#define RELOP_LE ((ULONG)1)
#define RELOP_GT ((ULONG)2)
#define RELOP_GE ((ULONG)3)
#define RELOP_EQ ((ULONG)4)
#define RELOP_NE ((ULONG)5)
#define FL_FULLSTRING ((ULONG)0x00000000)
#define FL_SUBSTRING ((ULONG)0x00000001)
#define FL_PREFIX ((ULONG)0x00000002)
#define FL_IGNORECASE ((ULONG)0x00010000)
#define BMR_EQZ ((ULONG)0)
#define BMR_NEZ ((ULONG)1)

struct _SRestriction;
typedef struct _SRestriction* LPSRestriction;
typedef struct _SAndRestriction {
  ULONG cRes;
  LPSRestriction lpRes;
} SAndRestriction;
typedef struct _SOrRestriction {
  ULONG cRes;
  LPSRestriction lpRes;
} SOrRestriction;
typedef struct _SNotRestriction {
  ULONG ulReserved;
  LPSRestriction lpRes;
} SNotRestriction;
typedef struct _SContentRestriction {
  ULONG ulFuzzyLevel;
  ULONG ulPropTag;
  LPSPropValue lpProp;
} SContentRestriction;
typedef struct _SPropertyRestriction {
  ULONG relop;
  ULONG ulPropTag;
  LPSPropValue lpProp;
} SPropertyRestriction;
typedef struct _SComparePropsRestriction {
  ULONG relop;
  ULONG ulPropTag1;
  ULONG ulPropTag2;
} SComparePropsRestriction;
typedef struct _SBitMaskRestriction {
  ULONG relBMR;
  ULONG ulPropTag;
  ULONG ulMask;
} SBitMaskRestriction;
typedef struct _SSizeRestriction {
  ULONG relop;
  ULONG ulPropTag;
  ULONG cb;
} SSizeRestriction;
typedef struct _SExistRestriction {
  ULONG ulReserved1;
  ULONG ulPropTag;
  ULONG ulReserved2;
} SExistRestriction;
typedef struct _SSubRestriction {
  ULONG ulSubObject;
  LPSRestriction lpRes;
} SSubRestriction;
typedef struct _SRestriction {
  ULONG rt;
  union {
    SComparePropsRestriction resCompareProps;
    SAndRestriction resAnd;
    SOrRestriction resOr;
    SNotRestriction resNot;
    SContentRestriction resContent;
    SPropertyRestriction resProperty;
    SBitMaskRestriction resBitMask;
    SSizeRestriction resSize;
    SExistRestriction resExist;
    SSubRestriction resSub;
  } res;
} SRestriction;

// ---- errors ----
typedef struct _MAPIERROR {
  ULONG ulVersion;
  LPWSTR lpszError;     // narrow text unless MAPI_UNICODE was asked for
  LPWSTR lpszComponent;
  ULONG ulLowLevelError;
  ULONG ulContext;
} MAPIERROR, *LPMAPIERROR;
#define MAPI_ERROR_VERSION 0x00000000L

typedef struct _MAPINAMEID {
  LPGUID lpguid;
  ULONG ulKind;
  union {
    LONG lID;
    LPWSTR lpwstrName;
  } Kind;
} MAPINAMEID, *LPMAPINAMEID;

// Interfaces the stand-in names in signatures but does not implement.
struct IMAPIAdviseSink;
typedef IMAPIAdviseSink* LPMAPIADVISESINK;
typedef struct _NOTIFKEY {
  ULONG cb;
  BYTE ab[1];
} NOTIFKEY, *LPNOTIFKEY;
struct IAddrBook;
typedef IAddrBook* LPADRBOOK;

// ---- interfaces ----
struct IMAPIProgress;
typedef IMAPIProgress* LPMAPIPROGRESS;
struct IMAPITable;
typedef IMAPITable* LPMAPITABLE;

// Reports the progress of a long operation; the library implements it.
struct IMAPIProgress : public IUnknown {
  STDMETHOD(Progress)(ULONG ulValue, ULONG ulCount, ULONG ulTotal) PURE;
  STDMETHOD(GetFlags)(ULONG* lpulFlags) PURE;
  STDMETHOD(GetMax)(ULONG* lpulMax) PURE;
  STDMETHOD(GetMin)(ULONG* lpulMin) PURE;
  STDMETHOD(SetLimits)(ULONG* lpulMin, ULONG* lpulMax, ULONG* lpulFlags) PURE;
};
#define MAPI_TOP_LEVEL_PROGRESS MAPI_TOP_LEVEL

struct IMAPITable : public IUnknown {
  STDMETHOD(GetLastError)(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError) PURE;
  STDMETHOD(Advise)(ULONG ulEventMask, LPMAPIADVISESINK lpAdviseSink, ULONG_PTR* lpulConnection) PURE;
  STDMETHOD(Unadvise)(ULONG_PTR ulConnection) PURE;
  STDMETHOD(GetStatus)(ULONG* lpulTableStatus, ULONG* lpulTableType) PURE;
  STDMETHOD(SetColumns)(LPSPropTagArray lpPropTagArray, ULONG ulFlags) PURE;
  STDMETHOD(QueryColumns)(ULONG ulFlags, LPSPropTagArray* lpPropTagArray) PURE;
  STDMETHOD(GetRowCount)(ULONG ulFlags, ULONG* lpulCount) PURE;
  STDMETHOD(SeekRow)(BOOKMARK bkOrigin, LONG lRowCount, LONG* lplRowsSought) PURE;
  STDMETHOD(SeekRowApprox)(ULONG ulNumerator, ULONG ulDenominator) PURE;
  STDMETHOD(QueryPosition)(ULONG* lpulRow, ULONG* lpulNumerator, ULONG* lpulDenominator) PURE;
  STDMETHOD(FindRow)(LPSRestriction lpRestriction, BOOKMARK bkOrigin, ULONG ulFlags) PURE;
  STDMETHOD(Restrict)(LPSRestriction lpRestriction, ULONG ulFlags) PURE;
  STDMETHOD(CreateBookmark)(BOOKMARK* lpbkPosition) PURE;
  STDMETHOD(FreeBookmark)(BOOKMARK bkPosition) PURE;
  STDMETHOD(SortTable)(LPSSortOrderSet lpSortCriteria, ULONG ulFlags) PURE;
  STDMETHOD(QuerySortOrder)(LPSSortOrderSet* lppSortCriteria) PURE;
  STDMETHOD(QueryRows)(LONG lRowCount, ULONG ulFlags, LPSRowSet* lppRows) PURE;
  STDMETHOD(Abort)() PURE;
  STDMETHOD(ExpandRow)(ULONG cbInstanceKey, LPBYTE pbInstanceKey, ULONG ulRowCount, ULONG ulFlags,
                       LPSRowSet* lppRows, ULONG* lpulMoreRows) PURE;
  STDMETHOD(CollapseRow)(ULONG cbInstanceKey, LPBYTE pbInstanceKey, ULONG ulFlags, ULONG* lpulRowCount) PURE;
  STDMETHOD(WaitForCompletion)(ULONG ulFlags, ULONG ulTimeout, ULONG* lpulTableStatus) PURE;
  STDMETHOD(GetCollapseState)(ULONG ulFlags, ULONG cbInstanceKey, LPBYTE lpbInstanceKey, ULONG* lpcbCollapseState,
                              LPBYTE* lppbCollapseState) PURE;
  STDMETHOD(SetCollapseState)(ULONG ulFlags, ULONG cbCollapseState, LPBYTE pbCollapseState,
                              BOOKMARK* lpbkLocation) PURE;
};

struct IMAPIProp : public IUnknown {
  STDMETHOD(GetLastError)(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError) PURE;
  STDMETHOD(SaveChanges)(ULONG ulFlags) PURE;
  STDMETHOD(GetProps)(LPSPropTagArray lpPropTagArray, ULONG ulFlags, ULONG* lpcValues, LPSPropValue* lppPropArray) PURE;
  STDMETHOD(GetPropList)(ULONG ulFlags, LPSPropTagArray* lppPropTagArray) PURE;
  STDMETHOD(OpenProperty)(ULONG ulPropTag, LPCIID lpiid, ULONG ulInterfaceOptions, ULONG ulFlags,
                          LPUNKNOWN* lppUnk) PURE;
  STDMETHOD(SetProps)(ULONG cValues, LPSPropValue lpPropArray, LPSPropProblemArray* lppProblems) PURE;
  STDMETHOD(DeleteProps)(LPSPropTagArray lpPropTagArray, LPSPropProblemArray* lppProblems) PURE;
  STDMETHOD(CopyTo)(ULONG ciidExclude, LPCIID rgiidExclude, LPSPropTagArray lpExcludeProps, ULONG_PTR ulUIParam,
                    LPMAPIPROGRESS lpProgress, LPCIID lpInterface, LPVOID lpDestObj, ULONG ulFlags,
                    LPSPropProblemArray* lppProblems) PURE;
  STDMETHOD(CopyProps)(LPSPropTagArray lpIncludeProps, ULONG_PTR ulUIParam, LPMAPIPROGRESS lpProgress,
                       LPCIID lpInterface, LPVOID lpDestObj, ULONG ulFlags, LPSPropProblemArray* lppProblems) PURE;
  STDMETHOD(GetNamesFromIDs)(LPSPropTagArray* lppPropTags, LPGUID lpPropSetGuid, ULONG ulFlags, ULONG* lpcPropNames,
                             LPMAPINAMEID** lpppPropNames) PURE;
  STDMETHOD(GetIDsFromNames)(ULONG cPropNames, LPMAPINAMEID* lppPropNames, ULONG ulFlags,
                             LPSPropTagArray* lppPropTags) PURE;
};
typedef IMAPIProp* LPMAPIPROP;

struct IMAPIContainer : public IMAPIProp {
  STDMETHOD(GetContentsTable)(ULONG ulFlags, LPMAPITABLE* lppTable) PURE;
  STDMETHOD(GetHierarchyTable)(ULONG ulFlags, LPMAPITABLE* lppTable) PURE;
  STDMETHOD(OpenEntry)(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, ULONG ulFlags, ULONG* lpulObjType,
                       LPUNKNOWN* lppUnk) PURE;
  STDMETHOD(SetSearchCriteria)(LPSRestriction lpRestriction, LPENTRYLIST lpContainerList, ULONG ulSearchFlags) PURE;
  STDMETHOD(GetSearchCriteria)(ULONG ulFlags, LPSRestriction* lppRestriction, LPENTRYLIST* lppContainerList,
                               ULONG* lpulSearchState) PURE;
};
typedef IMAPIContainer* LPMAPICONTAINER;

struct IMessage;
typedef IMessage* LPMESSAGE;
struct IMAPIFolder;
typedef IMAPIFolder* LPMAPIFOLDER;

struct IMAPIFolder : public IMAPIContainer {
  STDMETHOD(CreateMessage)(LPCIID lpInterface, ULONG ulFlags, LPMESSAGE* lppMessage) PURE;
  STDMETHOD(CopyMessages)(LPENTRYLIST lpMsgList, LPCIID lpInterface, LPVOID lpDestFolder, ULONG_PTR ulUIParam,
                          LPMAPIPROGRESS lpProgress, ULONG ulFlags) PURE;
  STDMETHOD(DeleteMessages)(LPENTRYLIST lpMsgList, ULONG_PTR ulUIParam, LPMAPIPROGRESS lpProgress,
                            ULONG ulFlags) PURE;
  STDMETHOD(CreateFolder)(ULONG ulFolderType, LPWSTR lpszFolderName, LPWSTR lpszFolderComment, LPCIID lpInterface,
                          ULONG ulFlags, LPMAPIFOLDER* lppFolder) PURE;
  STDMETHOD(CopyFolder)(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, LPVOID lpDestFolder,
                        LPWSTR lpszNewFolderName, ULONG_PTR ulUIParam, LPMAPIPROGRESS lpProgress,
                        ULONG ulFlags) PURE;
  STDMETHOD(DeleteFolder)(ULONG cbEntryID, LPENTRYID lpEntryID, ULONG_PTR ulUIParam, LPMAPIPROGRESS lpProgress,
                          ULONG ulFlags) PURE;
  STDMETHOD(SetReadFlags)(LPENTRYLIST lpMsgList, ULONG_PTR ulUIParam, LPMAPIPROGRESS lpProgress,
                          ULONG ulFlags) PURE;
  STDMETHOD(GetMessageStatus)(ULONG cbEntryID, LPENTRYID lpEntryID, ULONG ulFlags, ULONG* lpulMessageStatus) PURE;
  STDMETHOD(SetMessageStatus)(ULONG cbEntryID, LPENTRYID lpEntryID, ULONG ulNewStatus, ULONG ulNewStatusMask,
                              ULONG* lpulOldStatus) PURE;
  STDMETHOD(SaveContentsSort)(LPSSortOrderSet lpSortCriteria, ULONG ulFlags) PURE;
  STDMETHOD(EmptyFolder)(ULONG_PTR ulUIParam, LPMAPIPROGRESS lpProgress, ULONG ulFlags) PURE;
};

struct IAttach : public IMAPIProp {};
typedef IAttach* LPATTACH;

struct IMessage : public IMAPIProp {
  STDMETHOD(GetAttachmentTable)(ULONG ulFlags, LPMAPITABLE* lppTable) PURE;
  STDMETHOD(OpenAttach)(ULONG ulAttachmentNum, LPCIID lpInterface, ULONG ulFlags, LPATTACH* lppAttach) PURE;
  STDMETHOD(CreateAttach)(LPCIID lpInterface, ULONG ulFlags, ULONG* lpulAttachmentNum, LPATTACH* lppAttach) PURE;
  STDMETHOD(DeleteAttach)(ULONG ulAttachmentNum, ULONG_PTR ulUIParam, LPMAPIPROGRESS lpProgress, ULONG ulFlags) PURE;
  STDMETHOD(GetRecipientTable)(ULONG ulFlags, LPMAPITABLE* lppTable) PURE;
  STDMETHOD(ModifyRecipients)(ULONG ulFlags, LPADRLIST lpMods) PURE;
  STDMETHOD(SubmitMessage)(ULONG ulFlags) PURE;
  STDMETHOD(SetReadFlag)(ULONG ulFlags) PURE;
};

struct IMsgStore : public IMAPIProp {
  STDMETHOD(Advise)(ULONG cbEntryID, LPENTRYID lpEntryID, ULONG ulEventMask, LPMAPIADVISESINK lpAdviseSink,
                    ULONG_PTR* lpulConnection) PURE;
  STDMETHOD(Unadvise)(ULONG_PTR ulConnection) PURE;
  STDMETHOD(CompareEntryIDs)(ULONG cbEntryID1, LPENTRYID lpEntryID1, ULONG cbEntryID2, LPENTRYID lpEntryID2,
                             ULONG ulFlags, ULONG* lpulResult) PURE;
  STDMETHOD(OpenEntry)(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, ULONG ulFlags, ULONG* lpulObjType,
                       LPUNKNOWN* lppUnk) PURE;
  STDMETHOD(SetReceiveFolder)(LPWSTR lpszMessageClass, ULONG ulFlags, ULONG cbEntryID, LPENTRYID lpEntryID) PURE;
  STDMETHOD(GetReceiveFolder)(LPWSTR lpszMessageClass, ULONG ulFlags, ULONG* lpcbEntryID, LPENTRYID* lppEntryID,
                              LPWSTR* lppszExplicitClass) PURE;
  STDMETHOD(GetReceiveFolderTable)(ULONG ulFlags, LPMAPITABLE* lppTable) PURE;
  STDMETHOD(StoreLogoff)(ULONG* lpulFlags) PURE;
  STDMETHOD(AbortSubmit)(ULONG cbEntryID, LPENTRYID lpEntryID, ULONG ulFlags) PURE;
  STDMETHOD(GetOutgoingQueue)(ULONG ulFlags, LPMAPITABLE* lppTable) PURE;
  STDMETHOD(SetLockState)(LPMESSAGE lpMessage, ULONG ulLockState) PURE;
  STDMETHOD(FinishedMsg)(ULONG ulFlags, ULONG cbEntryID, LPENTRYID lpEntryID) PURE;
  STDMETHOD(NotifyNewMail)(void* lpNotification) PURE;
};
typedef IMsgStore* LPMDB;

// A profile section: properties kept in the profile (the registry).
struct IProfSect : public IMAPIProp {};
typedef IProfSect* LPPROFSECT;

struct IProviderAdmin : public IUnknown {
  STDMETHOD(GetLastError)(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError) PURE;
  STDMETHOD(GetProviderTable)(ULONG ulFlags, LPMAPITABLE* lppTable) PURE;
  STDMETHOD(CreateProvider)(LPWSTR lpszProvider, ULONG cValues, LPSPropValue lpProps, ULONG_PTR ulUIParam,
                            ULONG ulFlags, MAPIUID* lpUID) PURE;
  STDMETHOD(DeleteProvider)(LPMAPIUID lpUID) PURE;
  STDMETHOD(OpenProfileSection)(LPMAPIUID lpUID, LPCIID lpInterface, ULONG ulFlags, LPPROFSECT* lppProfSect) PURE;
};
typedef IProviderAdmin* LPPROVIDERADMIN;

struct IMsgServiceAdmin : public IUnknown {
  STDMETHOD(GetLastError)(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError) PURE;
  STDMETHOD(GetMsgServiceTable)(ULONG ulFlags, LPMAPITABLE* lppTable) PURE;
  STDMETHOD(CreateMsgService)(LPWSTR lpszService, LPWSTR lpszDisplayName, ULONG_PTR ulUIParam, ULONG ulFlags) PURE;
  STDMETHOD(DeleteMsgService)(LPMAPIUID lpUID) PURE;
  STDMETHOD(CopyMsgService)(LPMAPIUID lpUID, LPWSTR lpszDisplayName, LPCIID lpInterfaceToCopy, LPCIID lpInterfaceDst,
                            LPVOID lpObjectDst, ULONG_PTR ulUIParam, ULONG ulFlags) PURE;
  STDMETHOD(RenameMsgService)(LPMAPIUID lpUID, ULONG ulFlags, LPWSTR lpszDisplayName) PURE;
  STDMETHOD(ConfigureMsgService)(LPMAPIUID lpUID, ULONG_PTR ulUIParam, ULONG ulFlags, ULONG cValues,
                                 LPSPropValue lpProps) PURE;
  STDMETHOD(OpenProfileSection)(LPMAPIUID lpUID, LPCIID lpInterface, ULONG ulFlags, LPPROFSECT* lppProfSect) PURE;
  STDMETHOD(MsgServiceTransportOrder)(ULONG cUID, LPMAPIUID lpUIDList, ULONG ulFlags) PURE;
  STDMETHOD(AdminProviders)(LPMAPIUID lpUID, ULONG ulFlags, LPPROVIDERADMIN* lppProviderAdmin) PURE;
  STDMETHOD(SetPrimaryIdentity)(LPMAPIUID lpUID, ULONG ulFlags) PURE;
  STDMETHOD(GetProviderTable)(ULONG ulFlags, LPMAPITABLE* lppTable) PURE;
};
typedef IMsgServiceAdmin* LPSERVICEADMIN;

struct IProfAdmin : public IUnknown {
  STDMETHOD(GetLastError)(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError) PURE;
  STDMETHOD(GetProfileTable)(ULONG ulFlags, LPMAPITABLE* lppTable) PURE;
  STDMETHOD(CreateProfile)(LPWSTR lpszProfileName, LPWSTR lpszPassword, ULONG_PTR ulUIParam, ULONG ulFlags) PURE;
  STDMETHOD(DeleteProfile)(LPWSTR lpszProfileName, ULONG ulFlags) PURE;
  STDMETHOD(ChangeProfilePassword)(LPWSTR lpszProfileName, LPWSTR lpszOldPassword, LPWSTR lpszNewPassword,
                                   ULONG ulFlags) PURE;
  STDMETHOD(CopyProfile)(LPWSTR lpszOldProfileName, LPWSTR lpszOldPassword, LPWSTR lpszNewProfileName,
                         ULONG_PTR ulUIParam, ULONG ulFlags) PURE;
  STDMETHOD(RenameProfile)(LPWSTR lpszOldProfileName, LPWSTR lpszOldPassword, LPWSTR lpszNewProfileName,
                           ULONG_PTR ulUIParam, ULONG ulFlags) PURE;
  STDMETHOD(SetDefaultProfile)(LPWSTR lpszProfileName, ULONG ulFlags) PURE;
  STDMETHOD(AdminServices)(LPWSTR lpszProfileName, LPWSTR lpszPassword, ULONG_PTR ulUIParam, ULONG ulFlags,
                           LPSERVICEADMIN* lppServiceAdmin) PURE;
};
typedef IProfAdmin* LPPROFADMIN;

struct IMAPISession : public IUnknown {
  STDMETHOD(GetLastError)(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError) PURE;
  STDMETHOD(GetMsgStoresTable)(ULONG ulFlags, LPMAPITABLE* lppTable) PURE;
  STDMETHOD(OpenMsgStore)(ULONG_PTR ulUIParam, ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface,
                          ULONG ulFlags, LPMDB* lppMDB) PURE;
  STDMETHOD(OpenAddressBook)(ULONG_PTR ulUIParam, LPCIID lpInterface, ULONG ulFlags, LPADRBOOK* lppAdrBook) PURE;
  STDMETHOD(OpenProfileSection)(LPMAPIUID lpUID, LPCIID lpInterface, ULONG ulFlags, LPPROFSECT* lppProfSect) PURE;
  STDMETHOD(GetStatusTable)(ULONG ulFlags, LPMAPITABLE* lppTable) PURE;
  STDMETHOD(OpenEntry)(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, ULONG ulFlags, ULONG* lpulObjType,
                       LPUNKNOWN* lppUnk) PURE;
  STDMETHOD(CompareEntryIDs)(ULONG cbEntryID1, LPENTRYID lpEntryID1, ULONG cbEntryID2, LPENTRYID lpEntryID2,
                             ULONG ulFlags, ULONG* lpulResult) PURE;
  STDMETHOD(Advise)(ULONG cbEntryID, LPENTRYID lpEntryID, ULONG ulEventMask, LPMAPIADVISESINK lpAdviseSink,
                    ULONG_PTR* lpulConnection) PURE;
  STDMETHOD(Unadvise)(ULONG_PTR ulConnection) PURE;
  STDMETHOD(MessageOptions)(ULONG_PTR ulUIParam, ULONG ulFlags, LPWSTR lpszAdrType, LPMESSAGE lpMessage) PURE;
  STDMETHOD(QueryDefaultMessageOpt)(LPWSTR lpszAdrType, ULONG ulFlags, ULONG* lpcValues,
                                    LPSPropValue* lppOptions) PURE;
  STDMETHOD(EnumAdrTypes)(ULONG ulFlags, ULONG* lpcAdrTypes, LPWSTR** lpppszAdrTypes) PURE;
  STDMETHOD(QueryIdentity)(ULONG* lpcbEntryID, LPENTRYID* lppEntryID) PURE;
  STDMETHOD(Logoff)(ULONG_PTR ulUIParam, ULONG ulFlags, ULONG ulReserved) PURE;
  STDMETHOD(SetDefaultStore)(ULONG ulFlags, ULONG cbEntryID, LPENTRYID lpEntryID) PURE;
  STDMETHOD(AdminServices)(ULONG ulFlags, LPSERVICEADMIN* lppServiceAdmin) PURE;
  STDMETHOD(ShowForm)(ULONG_PTR ulUIParam, LPMDB lpMsgStore, LPMAPIFOLDER lpParentFolder, LPCIID lpInterface,
                      ULONG ulMessageToken, LPMESSAGE lpMessageSent, ULONG ulFlags, ULONG ulMessageStatus,
                      ULONG ulMessageFlags, ULONG ulAccess, LPWSTR lpszMessageClass) PURE;
  STDMETHOD(PrepareForm)(LPCIID lpInterface, LPMESSAGE lpMessage, ULONG* lpulMessageToken) PURE;
};
typedef IMAPISession* LPMAPISESSION;
