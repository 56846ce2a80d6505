// The catalog of a collection folder, "mail.db3": which file in the folder is
// the collected store (table "category") and which folders were collected
// (table "outlookfolder"). Names are 8-bit text in the calling thread's ANSI
// code page, converted by the caller. Failures throw CppSQLite3Exception.
#pragma once

#include <string>
#include <vector>

#include "catalogdb/DatabaseLayer.h"

// One collected folder: its kind and its name.
struct CCatalogFolder {
  int nType;
  std::string strName;
};

// Records a collection: the collected store's file name as the one row of
// kind 1 in "category" (rows of other kinds stay), and the folders, in order,
// as the only rows of "outlookfolder". The tables are made when missing. All
// of it or nothing: a failure leaves the previous catalog as it was.
void WriteCollectionCatalog(const char* szDatabase, const char* szCollectedFile,
                            const std::vector<CCatalogFolder>& folders);

// The file name the catalog records for the collected store, as stored; false
// when it records none. A missing database file is an error, never made.
bool ReadCollectedStoreName(const char* szDatabase, std::string& fileName);
