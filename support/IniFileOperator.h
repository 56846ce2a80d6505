// Finds the log settings file: a bare name is looked for beside the host
// executable (not beside this library).
#pragma once

#include <string>

#include <windows.h>

class CIniFileOperator {
 public:
  CIniFileOperator() = default;
  virtual ~CIniFileOperator() = default;

  // Locates the file; true when a directory search finds it.
  bool Locate(LPCWSTR fileName);
  LPCWSTR GetFilePath() const { return m_strFilePath.c_str(); }

 private:
  std::basic_string<WCHAR> m_strFilePath;
};
