// Backing up through the library, shared by the backup command and the demo.
#pragma once

#include "Operation.h"

namespace host {

struct BackupResult {
  Outcome outcome;
  std::string destination;  // the store file the library settled on
};

// The destination argument as the library takes it; bad input throws
// UsageError, since the library refuses a missing folder without saying why.
WString BackupDestination(COutlookFacade& facade, const std::string& argument, const StoreRef& source);

// Runs the backup of folders with progress shown under label.
BackupResult Backup(COutlookFacade& facade, const StoreRef& source, const WString& destination,
                    std::vector<OLCATALOGDATA> folders, const std::string& label);

}  // namespace host
