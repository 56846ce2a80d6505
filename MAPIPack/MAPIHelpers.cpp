#include "MAPIPack/MAPIHelpers.h"

LPMAPIUID FirstProviderUid(CHResultChain& chain, int line, const CProviderSectionCalls& calls,
                           IProviderAdmin* providers, CRowSet& rows, bool* listed) {
  enum { eProviderUid, eProviderColumns };
  SizedSPropTagArray(eProviderColumns, columns) = {eProviderColumns, {PR_PROVIDER_UID}};
  CInterfacePtr<IMAPITable> tablePtr;
  chain.Step(calls.providerTable, line,
             [&] { return Obtained(providers->GetProviderTable(0, tablePtr.Put()), tablePtr); });
  chain.Step(calls.providerRows, line, [&] {
    return Obtained(HrQueryAllRows(tablePtr.Get(), Tags(columns), nullptr, nullptr, 0, rows.Put()), rows);
  });
  *listed = !chain.Failed() && rows.Count() > 0;
  return rows.Count() ? UidOf(rows->aRow[0], eProviderUid) : nullptr;
}

HRESULT OpenProviderSectionStep(CHResultChain& chain, int line, const CProviderSectionCalls& calls,
                                IMsgServiceAdmin* services, LPMAPIUID providerUid, CInterfacePtr<IProfSect>& section) {
  return chain.Step(calls.openSection, line, [&]() -> HRESULT {
    if (!providerUid) return MAPI_E_NOT_FOUND;
    return Obtained(services->OpenProfileSection(providerUid, nullptr, kProfileSectionFlags, section.Put()), section);
  });
}

void ReadServiceRows(CHResultChain& chain, int line, const CServiceTableCalls& calls, IMsgServiceAdmin* services,
                     LPSPropTagArray columns, CRowSet& rows) {
  CInterfacePtr<IMAPITable> tablePtr;
  chain.Step(calls.table, line, [&] { return Obtained(services->GetMsgServiceTable(0, tablePtr.Put()), tablePtr); });
  chain.Step(calls.rows, line,
             [&] { return Obtained(HrQueryAllRows(tablePtr.Get(), columns, nullptr, nullptr, 0, rows.Put()), rows); });
}
