// A selected folder as the test hosts take it on their command line:
// "<kind>:<name>".
#pragma once

#include <cstdlib>
#include <string>

#include <wcrt.h>

#include "support/CatalogData.h"

inline bool ParseRecord(const std::string& text, OLCATALOGDATA* record) {
  size_t colon = text.find(':');
  if (colon == std::string::npos) return false;
  *record = OLCATALOGDATA{};
  record->nType = std::atoi(text.substr(0, colon).c_str());
  std::u16string name = standin::ToUtf16(text.substr(colon + 1));
  wcsncpy_s(record->szName, name.c_str(), _TRUNCATE);
  return true;
}
