#include "catalogdb/CollectionCatalog.h"

#include "catalogdb/SqlText.h"

namespace {

const char kCategoryTable[] = "category";
const char kFolderTable[] = "outlookfolder";

// The row kind of this library's mail collections.
const int kMailCollection = 1;

// Undone when it ends without Commit, so that a failure part-way leaves the
// catalog as it was.
class CCatalogTransaction {
 public:
  explicit CCatalogTransaction(CppSQLite3DB& db) : m_db(db) {
    // The write lock from the start: the checks and the writes see one catalog.
    m_db.ExecuteUpdate("begin immediate;");
  }
  ~CCatalogTransaction() {
    if (m_bCommitted) return;
    try {
      m_db.ExecuteUpdate("rollback;");
    } catch (const CppSQLite3Exception&) {
      // SQLite has already undone a transaction that an I/O error ended.
    }
  }
  CCatalogTransaction(const CCatalogTransaction&) = delete;
  CCatalogTransaction& operator=(const CCatalogTransaction&) = delete;

  void Commit() {
    m_db.ExecuteUpdate("commit;");
    m_bCommitted = true;
  }

 private:
  CppSQLite3DB& m_db;
  bool m_bCommitted = false;
};

}  // namespace

void WriteCollectionCatalog(const char* szDatabase, const char* szCollectedFile,
                            const std::vector<CCatalogFolder>& folders) {
  CppSQLite3DB db;
  db.Open(szDatabase);
  CCatalogTransaction transaction(db);
  if (!db.TableExists(kCategoryTable))
    db.ExecuteUpdate(CSqlText("create table %s (Id integer primary key asc,cat_type integer not null,"
                              "cat_dest text not null,cat_desc text);",
                              kCategoryTable));
  db.ExecuteUpdate(CSqlText("delete from %s where cat_type = %d;", kCategoryTable, kMailCollection));
  db.ExecuteUpdate(CSqlText("insert into %s(cat_type, cat_dest, cat_desc) values(%d,'%q', 'outlook');", kCategoryTable,
                            kMailCollection, szCollectedFile ? szCollectedFile : ""));
  if (!db.TableExists(kFolderTable))
    db.ExecuteUpdate(CSqlText("create table %s(Id integer primary key asc,ou_name text not null,"
                              "ou_type integer not null,ou_parent integer,ou_class text);",
                              kFolderTable));
  db.ExecuteUpdate(CSqlText("delete from %s;", kFolderTable));
  for (const CCatalogFolder& folder : folders)
    db.ExecuteUpdate(
        CSqlText("insert into %s(ou_type,ou_name) values(%d,'%q');", kFolderTable, folder.nType, folder.strName.c_str()));
  transaction.Commit();
}

bool ReadCollectedStoreName(const char* szDatabase, std::string& fileName) {
  CppSQLite3DB db;
  db.OpenExisting(szDatabase);
  CppSQLite3Query query = db.ExecuteQuery(CSqlText("select cat_dest from %s where cat_desc = 'outlook';", kCategoryTable));
  if (query.AtEnd()) return false;
  const char* text = query.ColumnText(0);
  fileName = text ? text : "";
  query.Finalize();
  return true;
}
