#include "catalogdb/DatabaseLayer.h"

#include <sqlite3.h>

#include <climits>
#include <cstdlib>

#include "catalogdb/SqlText.h"

namespace {

const int kBusyTimeoutMs = 60000;

const char kNotOpen[] = "Database not open";
const char kNoStatement[] = "Null Virtual Machine pointer";
const char kBadColumn[] = "Invalid field index requested";
const char kBadScalar[] = "Invalid scalar query";

// The connection's own error text; empty when it has none.
const char* ErrorText(sqlite3* pDB) {
  const char* text = pDB ? sqlite3_errmsg(pDB) : nullptr;
  return text ? text : "";
}

// The platform's decimal rule: leading blanks, an optional sign, the digits
// that follow; no digits give 0, and a value past the range stops at its end.
int DecimalValue(const char* text) {
  if (!text) return 0;
  long long value = std::strtoll(text, nullptr, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

}  // namespace

// ---- CppSQLite3Exception ----

CppSQLite3Exception::CppSQLite3Exception(int nErrorCode, const char* szErrorText)
    : m_nCode(nErrorCode),
      m_szMessage(sqlite3_mprintf("%s[%d]: %s", CodeName(nErrorCode), nErrorCode, szErrorText ? szErrorText : "")) {}

CppSQLite3Exception::CppSQLite3Exception(const CppSQLite3Exception& other)
    : m_nCode(other.m_nCode), m_szMessage(other.m_szMessage ? sqlite3_mprintf("%s", other.m_szMessage) : nullptr) {}

CppSQLite3Exception::~CppSQLite3Exception() { sqlite3_free(m_szMessage); }

const char* CppSQLite3Exception::CodeName(int nCode) {
  static const char* const kNames[] = {
      "SQLITE_OK",       "SQLITE_ERROR",  "SQLITE_INTERNAL", "SQLITE_PERM",     "SQLITE_ABORT",    "SQLITE_BUSY",
      "SQLITE_LOCKED",   "SQLITE_NOMEM",  "SQLITE_READONLY", "SQLITE_INTERRUPT", "SQLITE_IOERR",    "SQLITE_CORRUPT",
      "SQLITE_NOTFOUND", "SQLITE_FULL",   "SQLITE_CANTOPEN", "SQLITE_PROTOCOL", "SQLITE_EMPTY",    "SQLITE_SCHEMA",
      "SQLITE_TOOBIG",   "SQLITE_CONSTRAINT", "SQLITE_MISMATCH", "SQLITE_MISUSE", "SQLITE_NOLFS",  "SQLITE_AUTH",
      "SQLITE_FORMAT",   "SQLITE_RANGE"};
  if (nCode >= 0 && nCode < static_cast<int>(sizeof kNames / sizeof kNames[0])) return kNames[nCode];
  switch (nCode) {
    case SQLITE_ROW: return "SQLITE_ROW";
    case SQLITE_DONE: return "SQLITE_DONE";
    case CPPSQLITE_ERROR: return "CPPSQLITE_ERROR";
    default: return "UNKNOWN_ERROR";
  }
}

// ---- CppSQLite3Query ----

CppSQLite3Query::CppSQLite3Query(sqlite3* pDB, sqlite3_stmt* pStmt, bool bAtEnd, bool bOwnsStatement)
    : m_pDB(pDB),
      m_pStmt(pStmt),
      m_bAtEnd(bAtEnd),
      m_nColumns(pStmt ? sqlite3_column_count(pStmt) : 0),
      m_bOwnsStatement(bOwnsStatement) {}

CppSQLite3Query::CppSQLite3Query(CppSQLite3Query&& other) noexcept
    : m_pDB(other.m_pDB),
      m_pStmt(other.m_pStmt),
      m_bAtEnd(other.m_bAtEnd),
      m_nColumns(other.m_nColumns),
      m_bOwnsStatement(other.m_bOwnsStatement) {
  other.m_pStmt = nullptr;
}

CppSQLite3Query& CppSQLite3Query::operator=(CppSQLite3Query&& other) noexcept {
  if (this != &other) {
    if (m_pStmt && m_bOwnsStatement) sqlite3_finalize(m_pStmt);
    m_pDB = other.m_pDB;
    m_pStmt = other.m_pStmt;
    m_bAtEnd = other.m_bAtEnd;
    m_nColumns = other.m_nColumns;
    m_bOwnsStatement = other.m_bOwnsStatement;
    other.m_pStmt = nullptr;
  }
  return *this;
}

CppSQLite3Query::~CppSQLite3Query() {
  if (m_pStmt && m_bOwnsStatement) sqlite3_finalize(m_pStmt);
}

void CppSQLite3Query::CheckStatement() const {
  if (!m_pStmt) throw CppSQLite3Exception(CPPSQLITE_ERROR, kNoStatement);
}

int CppSQLite3Query::ColumnCount() const {
  CheckStatement();
  return m_nColumns;
}

const char* CppSQLite3Query::ColumnText(int nColumn) const {
  CheckStatement();
  if (nColumn < 0 || nColumn >= m_nColumns) throw CppSQLite3Exception(CPPSQLITE_ERROR, kBadColumn);
  return reinterpret_cast<const char*>(sqlite3_column_text(m_pStmt, nColumn));
}

void CppSQLite3Query::Finalize() {
  if (!m_pStmt || !m_bOwnsStatement) return;
  int rc = sqlite3_finalize(m_pStmt);
  m_pStmt = nullptr;
  if (rc != SQLITE_OK) throw CppSQLite3Exception(rc, ErrorText(m_pDB));
}

// ---- CppSQLite3DB ----

CppSQLite3DB::CppSQLite3DB() : m_pDB(nullptr), m_nBusyTimeoutMs(kBusyTimeoutMs) {}

CppSQLite3DB::~CppSQLite3DB() { Close(); }

void CppSQLite3DB::Close() {
  if (m_pDB) sqlite3_close(m_pDB);
  m_pDB = nullptr;
}

void CppSQLite3DB::Open(const char* szFile) {
  Close();
  Opened(sqlite3_open(szFile ? szFile : "", &m_pDB));
}

void CppSQLite3DB::OpenExisting(const char* szFile) {
  Close();
  Opened(sqlite3_open_v2(szFile ? szFile : "", &m_pDB, SQLITE_OPEN_READWRITE, nullptr));
}

void CppSQLite3DB::Opened(int rc) {
  // A failed open leaves SQLite's handle in place; the destructor closes it.
  if (rc != SQLITE_OK) throw CppSQLite3Exception(rc, ErrorText(m_pDB));
  sqlite3_busy_timeout(m_pDB, m_nBusyTimeoutMs);
}

void CppSQLite3DB::CheckOpen() const {
  if (!m_pDB) throw CppSQLite3Exception(CPPSQLITE_ERROR, kNotOpen);
}

bool CppSQLite3DB::TableExists(const char* szTable) {
  // Quoted by SQLite, so that any name is asked about as it is.
  CSqlText sql("select count(*) from sqlite_master where type='table' and name='%q'", szTable ? szTable : "");
  return ExecuteScalar(sql) > 0;
}

int CppSQLite3DB::ExecuteUpdate(const char* szSQL) {
  CheckOpen();
  char* error = nullptr;
  int rc = sqlite3_exec(m_pDB, szSQL, nullptr, nullptr, &error);
  if (rc == SQLITE_OK) return sqlite3_changes(m_pDB);
  CppSQLite3Exception failure(rc, error);
  sqlite3_free(error);
  throw failure;
}

sqlite3_stmt* CppSQLite3DB::Compile(const char* szSQL) {
  CheckOpen();
  sqlite3_stmt* statement = nullptr;
  // The legacy interface: a failed step reports its specific error at finalize.
  int rc = sqlite3_prepare(m_pDB, szSQL, -1, &statement, nullptr);
  if (rc != SQLITE_OK) throw CppSQLite3Exception(rc, "");
  return statement;
}

CppSQLite3Query CppSQLite3DB::ExecuteQuery(const char* szSQL) {
  sqlite3_stmt* statement = Compile(szSQL);
  // A text of blanks or comments compiles to no statement: a query without rows.
  if (!statement) return CppSQLite3Query(m_pDB, nullptr, true, true);
  int rc = sqlite3_step(statement);
  if (rc == SQLITE_DONE) return CppSQLite3Query(m_pDB, statement, true, true);
  if (rc == SQLITE_ROW) return CppSQLite3Query(m_pDB, statement, false, true);
  int specific = sqlite3_finalize(statement);
  throw CppSQLite3Exception(specific != SQLITE_OK ? specific : rc, ErrorText(m_pDB));
}

int CppSQLite3DB::ExecuteScalar(const char* szSQL) {
  CppSQLite3Query query = ExecuteQuery(szSQL);
  if (!query.m_pStmt) throw CppSQLite3Exception(CPPSQLITE_ERROR, kNoStatement);
  if (query.AtEnd() || query.ColumnCount() < 1) throw CppSQLite3Exception(CPPSQLITE_ERROR, kBadScalar);
  int value = DecimalValue(query.ColumnText(0));
  query.Finalize();
  return value;
}
