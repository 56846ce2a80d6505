// Rewrites a collection catalog in a loop, for the tests that kill a
// collection part-way through its catalog:
//   cataloghost <catalog> <first> <folders>
// Writes collection n = first, first + 1, ...: the collected file
// "store-<n>.pst" and the folders "<n>.<k>" for k below <folders>, and prints
// "written <n>" once each is in.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "catalogdb/CollectionCatalog.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: cataloghost <catalog> <first> <folders>\n");
    return 2;
  }
  long first = std::atol(argv[2]);
  int folderCount = std::atoi(argv[3]);
  try {
    for (long n = first;; ++n) {
      std::vector<CCatalogFolder> folders;
      for (int k = 0; k < folderCount; ++k) folders.push_back({k % 15, std::to_string(n) + "." + std::to_string(k)});
      WriteCollectionCatalog(argv[1], ("store-" + std::to_string(n) + ".pst").c_str(), folders);
      std::printf("written %ld\n", n);
      std::fflush(stdout);
    }
  } catch (const CppSQLite3Exception& e) {
    std::fprintf(stderr, "%s\n", e.Message() ? e.Message() : "");
    return 1;
  }
}
