// Task memory: one allocator that every module of the process shares.
#include <objbase.h>

#include <cstdlib>

#include <standin/fault.h>

extern "C" {

LPVOID STDAPICALLTYPE CoTaskMemAlloc(SIZE_T cb) {
  int32_t code = 0;
  if (standin::TakeFault("CoTaskMemAlloc", &code)) return nullptr;
  return std::malloc(cb ? cb : 1);
}

LPVOID STDAPICALLTYPE CoTaskMemRealloc(LPVOID pv, SIZE_T cb) {
  int32_t code = 0;
  if (standin::TakeFault("CoTaskMemRealloc", &code)) return nullptr;
  if (pv && cb == 0) {
    std::free(pv);
    return nullptr;
  }
  return std::realloc(pv, cb ? cb : 1);
}

void STDAPICALLTYPE CoTaskMemFree(LPVOID pv) { std::free(pv); }

}  // extern "C"
