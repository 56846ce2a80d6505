// The catalog reader: a collection's catalog database whose bytes are the
// input, read as restore reads it (the collected store's name, then that name
// as text of the thread's code page).
#include <windows.h>

#include <string>

#include "catalogdb/CollectionCatalog.h"
#include "fuzz_target.h"
#include "support/TextConvert.h"

int FuzzOne(const uint8_t* data, size_t size) {
  fuzzing::InputRoot root;
  std::string database = root.File("mail.db3");
  fuzzing::WriteBytes(database, std::string_view(reinterpret_cast<const char*>(data), size));
  try {
    std::string storeName;
    if (ReadCollectedStoreName(database.c_str(), storeName)) {
      std::basic_string<WCHAR> wide;
      WideText(storeName.c_str(), CP_THREAD_ACP, wide);
    }
  } catch (const CppSQLite3Exception&) {
    // A file that is no catalog: restore reports it and stops.
  }
  return 0;
}
