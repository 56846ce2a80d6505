// Collecting stores into a collection folder and restoring from one through
// the library, shared by the collect and restore commands and the demo.
#pragma once

#include "Operation.h"

namespace host {

// The collection folder argument: an existing folder, as the library names
// it. Bad input throws UsageError.
WString CollectionFolder(const std::string& argument);

// One store to collect and the folders of it that go.
struct CollectSource {
  StoreRef store;
  std::vector<OLCATALOGDATA> folders;
};

struct CollectResult {
  Outcome outcome;              // of the whole run
  nlohmann::json stores;        // per store: source, name, folders and its own outcome
  std::string collected;        // the collection's store file
};

// Collects the stores one after the other into the folder, each with its
// progress; a cancelled one ends the run.
CollectResult Collect(COutlookFacade& facade, const std::vector<CollectSource>& sources, const std::string& folder);
// Every store of the profile, by the library's own choice of folders.
CollectResult CollectAll(COutlookFacade& facade, const std::string& folder);

struct RestoreResult {
  Outcome outcome;
  std::string destination;  // the store the collection went into
  bool attached = false;    // a new store, attached to the profile
};

// Restores the collection in folder into the user's profile.
RestoreResult Restore(COutlookFacade& facade, const std::string& folder);

}  // namespace host
