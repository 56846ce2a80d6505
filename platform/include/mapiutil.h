// Helper functions of MAPI's utility library.
#pragma once

#include "mapix.h"

MAPIAPI void STDMETHODCALLTYPE FreeProws(LPSRowSet lpRows);
MAPIAPI void STDMETHODCALLTYPE FreePadrlist(LPADRLIST lpAdrlist);
// Reads a whole table: columns, an optional restriction and sort order, at most
// crowsMax rows (0: all).
MAPIAPI HRESULT STDMETHODCALLTYPE HrQueryAllRows(LPMAPITABLE lpTable, LPSPropTagArray lpPropTags,
                                                 LPSRestriction lpRestriction, LPSSortOrderSet lpSortOrderSet,
                                                 LONG crowsMax, LPSRowSet* lppRows);
MAPIAPI HRESULT STDMETHODCALLTYPE HrGetOneProp(LPMAPIPROP lpMapiProp, ULONG ulPropTag, LPSPropValue* lppProp);
MAPIAPI HRESULT STDMETHODCALLTYPE HrSetOneProp(LPMAPIPROP lpMapiProp, LPSPropValue lpProp);
// Makes sure the store holds the standard folder tree (idempotent).
MAPIAPI HRESULT STDMETHODCALLTYPE HrValidateIPMSubtree(LPMDB lpMDB, ULONG ulFlags, ULONG* lpcValues,
                                                       LPSPropValue* lppValues, LPMAPIERROR* lpperr);
MAPIAPI LPSPropValue STDMETHODCALLTYPE PpropFindProp(LPSPropValue lpPropArray, ULONG cValues, ULONG ulPropTag);
