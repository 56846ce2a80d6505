// A module registered as a server that has no class-object export.
#include <objbase.h>

extern "C" STANDIN_API HRESULT STDAPICALLTYPE NotAClassObjectExport(void) { return S_OK; }
