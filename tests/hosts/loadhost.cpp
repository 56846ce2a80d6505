// Loads a shared object the way a host loads the library, then unloads it:
//   loadhost <path of the shared object>
#include <dlfcn.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: loadhost <shared object>\n");
    return 2;
  }
  void* module = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (!module) {
    std::fprintf(stderr, "loadhost: %s\n", dlerror());
    return 1;
  }
  std::printf("loaded\n");
  std::fflush(stdout);
  dlclose(module);
  return 0;
}
