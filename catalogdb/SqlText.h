// Statement text made by SQLite's own formatter: "%q" doubles the quotes of a
// value placed between single quotes, "%s" places text as it is, and the
// text is as long as it needs to be, never cut.
#pragma once

#include <sqlite3.h>

#include "catalogdb/DatabaseLayer.h"

class CSqlText {
 public:
  template <class... Args>
  explicit CSqlText(const char* szFormat, Args... args) : m_szText(sqlite3_mprintf(szFormat, args...)) {
    if (!m_szText) throw CppSQLite3Exception(SQLITE_NOMEM, "out of memory");
  }
  ~CSqlText() { sqlite3_free(m_szText); }
  CSqlText(const CSqlText&) = delete;
  CSqlText& operator=(const CSqlText&) = delete;

  operator const char*() const { return m_szText; }

 private:
  char* m_szText;
};
