// MAPI's utility functions over tables, rows and properties.
#include <vector>

#include "core.h"

using namespace standin::mapi;

namespace {
constexpr LONG kAllRows = 0x7FFFFFFF;  // LONG is 32 bits, unlike the C long
}  // namespace

MAPIAPI void STDMETHODCALLTYPE FreeProws(LPSRowSet lpRows) {
  if (!lpRows) return;
  for (ULONG i = 0; i < lpRows->cRows; ++i) MAPIFreeBuffer(lpRows->aRow[i].lpProps);
  MAPIFreeBuffer(lpRows);
}

MAPIAPI void STDMETHODCALLTYPE FreePadrlist(LPADRLIST lpAdrlist) {
  if (!lpAdrlist) return;
  for (ULONG i = 0; i < lpAdrlist->cEntries; ++i) MAPIFreeBuffer(lpAdrlist->aEntries[i].rgPropVals);
  MAPIFreeBuffer(lpAdrlist);
}

MAPIAPI HRESULT STDMETHODCALLTYPE HrQueryAllRows(LPMAPITABLE lpTable, LPSPropTagArray lpPropTags,
                                                 LPSRestriction lpRestriction, LPSSortOrderSet lpSortOrderSet,
                                                 LONG crowsMax, LPSRowSet* lppRows) {
  MAPI_FAULT_POINT("HrQueryAllRows");
  if (!lpTable || !lppRows || crowsMax < 0) return MAPI_E_INVALID_PARAMETER;
  *lppRows = nullptr;
  HRESULT hr = S_OK;
  if (lpPropTags && FAILED(hr = lpTable->SetColumns(lpPropTags, TBL_BATCH))) return hr;
  if (lpRestriction && FAILED(hr = lpTable->Restrict(lpRestriction, TBL_BATCH))) return hr;
  if (lpSortOrderSet && FAILED(hr = lpTable->SortTable(lpSortOrderSet, TBL_BATCH))) return hr;
  if (FAILED(hr = lpTable->SeekRow(BOOKMARK_BEGINNING, 0, nullptr))) return hr;

  // Rows come in batches; their property arrays move into one final set.
  std::vector<SRow> rows;
  auto dropRows = [&rows] {
    for (SRow& r : rows) MAPIFreeBuffer(r.lpProps);
  };
  for (;;) {
    LPSRowSet batch = nullptr;
    hr = lpTable->QueryRows(crowsMax && crowsMax < kAllRows ? crowsMax + 1 : kAllRows, 0, &batch);
    if (FAILED(hr)) {
      dropRows();
      return hr;
    }
    const ULONG got = batch ? batch->cRows : 0;
    for (ULONG i = 0; i < got; ++i) rows.push_back(batch->aRow[i]);
    MAPIFreeBuffer(batch);
    if (got == 0) break;
    if (crowsMax && rows.size() > static_cast<size_t>(crowsMax)) {
      dropRows();
      return MAPI_E_TABLE_TOO_BIG;
    }
  }
  void* block = nullptr;
  hr = MAPIAllocateBuffer(static_cast<ULONG>(CbNewSRowSet(rows.size())), &block);
  if (FAILED(hr)) {
    dropRows();
    return hr;
  }
  auto* set = static_cast<LPSRowSet>(block);
  set->cRows = static_cast<ULONG>(rows.size());
  for (size_t i = 0; i < rows.size(); ++i) set->aRow[i] = rows[i];
  *lppRows = set;
  return S_OK;
}

MAPIAPI HRESULT STDMETHODCALLTYPE HrGetOneProp(LPMAPIPROP lpMapiProp, ULONG ulPropTag, LPSPropValue* lppProp) {
  MAPI_FAULT_POINT("HrGetOneProp");
  if (!lpMapiProp || !lppProp) return MAPI_E_INVALID_PARAMETER;
  *lppProp = nullptr;
  SizedSPropTagArray(1, tags) = {1, {ulPropTag}};
  ULONG count = 0;
  LPSPropValue values = nullptr;
  HRESULT hr = lpMapiProp->GetProps(reinterpret_cast<LPSPropTagArray>(&tags), 0, &count, &values);
  if (FAILED(hr)) {
    MAPIFreeBuffer(values);
    return hr;
  }
  if (!values || count != 1) {
    MAPIFreeBuffer(values);
    return MAPI_E_CALL_FAILED;
  }
  if (PROP_TYPE(values->ulPropTag) == PT_ERROR) {
    // The property's own error when it carries one (MAPI_E_NOT_FOUND mostly).
    const HRESULT err = FAILED(values->Value.err) ? values->Value.err : MAPI_E_NOT_FOUND;
    MAPIFreeBuffer(values);
    return err;
  }
  *lppProp = values;
  return S_OK;
}

MAPIAPI HRESULT STDMETHODCALLTYPE HrSetOneProp(LPMAPIPROP lpMapiProp, LPSPropValue lpProp) {
  MAPI_FAULT_POINT("HrSetOneProp");
  if (!lpMapiProp || !lpProp) return MAPI_E_INVALID_PARAMETER;
  LPSPropProblemArray problems = nullptr;
  HRESULT hr = lpMapiProp->SetProps(1, lpProp, &problems);
  if (SUCCEEDED(hr) && problems && problems->cProblem) hr = problems->aProblem[0].scode;
  MAPIFreeBuffer(problems);
  return hr;
}

MAPIAPI LPSPropValue STDMETHODCALLTYPE PpropFindProp(LPSPropValue lpPropArray, ULONG cValues, ULONG ulPropTag) {
  if (!lpPropArray) return nullptr;
  const bool anyType = PROP_TYPE(ulPropTag) == PT_UNSPECIFIED;
  for (ULONG i = 0; i < cValues; ++i) {
    const ULONG tag = lpPropArray[i].ulPropTag;
    if (tag == ulPropTag || (anyType && PROP_ID(tag) == PROP_ID(ulPropTag))) return &lpPropArray[i];
  }
  return nullptr;
}
