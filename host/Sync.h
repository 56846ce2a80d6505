// Synchronising through the library, shared by the sync command and the demo.
#pragma once

#include "Operation.h"

namespace host {

// The top-level folders of either store chosen by name or kind (all when
// nothing is chosen); UsageError when neither store has one.
std::vector<OLCATALOGDATA> SyncSelection(COutlookFacade& facade, const StoreRef& source, const StoreRef& destination,
                                         const std::vector<std::string>& names, const std::vector<std::string>& kinds);

Outcome Sync(COutlookFacade& facade, const StoreRef& source, const StoreRef& destination,
             std::vector<OLCATALOGDATA> folders, const std::string& label);

}  // namespace host
