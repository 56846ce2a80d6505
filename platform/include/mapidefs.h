// MAPI base definitions: property tags and typed property values.
#pragma once

#include "windows.h"

typedef LONG SCODE;

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

// Pointer-sized members are 64-bit on this target: the value union is 16 bytes.
static_assert(sizeof(SPropValue) == 24 && offsetof(SPropValue, Value) == 8, "property value layout");
