// The catalog's database access: a connection, a cursor that reads the first
// row of a query, and the one exception every failure throws. Text is 8-bit
// and goes to SQLite as it is; converting from and to wide text is the
// callers' business. Nothing here knows the catalog's tables.
//
// Thread safety: an object is used by one thread at a time. Between processes
// SQLite's file locks apply, waited on for the busy time-out.
#pragma once

struct sqlite3;
struct sqlite3_stmt;

// The code of errors found by this layer rather than by SQLite.
#define CPPSQLITE_ERROR 1000

class CppSQLite3Exception {
 public:
  // The message reads "<code name>[<code>]: <text>"; a null text is empty.
  CppSQLite3Exception(int nErrorCode, const char* szErrorText);
  CppSQLite3Exception(const CppSQLite3Exception& other);
  CppSQLite3Exception& operator=(const CppSQLite3Exception&) = delete;
  virtual ~CppSQLite3Exception();

  int Code() const { return m_nCode; }
  // Null when no memory was left to format it; the code still stands.
  const char* Message() const { return m_szMessage; }

  // "SQLITE_BUSY" for 5, "CPPSQLITE_ERROR" for 1000, "UNKNOWN_ERROR" for a
  // code without a name.
  static const char* CodeName(int nCode);

 private:
  int m_nCode;
  char* m_szMessage;  // from SQLite's formatter, freed with sqlite3_free
};

// A query's statement, stepped once: its first row, if it has one, is
// current. There is no stepping further.
class CppSQLite3Query {
 public:
  CppSQLite3Query(CppSQLite3Query&& other) noexcept;
  CppSQLite3Query& operator=(CppSQLite3Query&& other) noexcept;
  CppSQLite3Query(const CppSQLite3Query&) = delete;
  CppSQLite3Query& operator=(const CppSQLite3Query&) = delete;
  // Finalizes an owned statement; an error then is dropped.
  virtual ~CppSQLite3Query();

  // True when the query found no row.
  bool AtEnd() const { return m_bAtEnd; }
  int ColumnCount() const;
  // The column's text in the current row, null for an SQL NULL. Owned by the
  // statement: valid until the statement is finalized.
  const char* ColumnText(int nColumn) const;
  void Finalize();

 private:
  friend class CppSQLite3DB;
  CppSQLite3Query(sqlite3* pDB, sqlite3_stmt* pStmt, bool bAtEnd, bool bOwnsStatement);
  void CheckStatement() const;

  sqlite3* m_pDB;             // not owned
  sqlite3_stmt* m_pStmt;      // null once finalized, or for a text without a statement
  bool m_bAtEnd;
  int m_nColumns;
  bool m_bOwnsStatement;
};

class CppSQLite3DB {
 public:
  // Closed, with a busy time-out of 60 seconds.
  CppSQLite3DB();
  // Closes the connection; queries must be gone before.
  virtual ~CppSQLite3DB();
  CppSQLite3DB(const CppSQLite3DB&) = delete;
  CppSQLite3DB& operator=(const CppSQLite3DB&) = delete;

  // Opens the database file for reading and writing, creating it when missing.
  void Open(const char* szFile);
  // Opens an existing database file: a missing file is an error
  // (SQLITE_CANTOPEN), never a new database.
  void OpenExisting(const char* szFile);

  bool TableExists(const char* szTable);
  // Runs statements that return no rows; the number of rows the last one
  // changed.
  int ExecuteUpdate(const char* szSQL);
  // Compiles the first statement of the text and takes its first step.
  CppSQLite3Query ExecuteQuery(const char* szSQL);
  // The first column of the first row, read as a decimal number.
  int ExecuteScalar(const char* szSQL);

 private:
  // Sets the busy time-out on a connection just opened, or throws its error.
  void Opened(int rc);
  void Close();
  void CheckOpen() const;
  sqlite3_stmt* Compile(const char* szSQL);

  sqlite3* m_pDB;
  int m_nBusyTimeoutMs;
};
