// The interface and class identifiers the library uses, defined once, here:
// the platform's headers only declare them unless initguid.h came first, and
// its MAPI header then defines only those named by USES_IID_. (The stand-in's
// headers define them inline, so this unit adds nothing there.)
#if defined(_WIN32)
#include <initguid.h>
#endif

#define USES_IID_IMAPISession
#define USES_IID_IMAPIFolder
#define USES_IID_IMessage
#define USES_IID_IMAPIProgress
#include <mapiguid.h>
#include <mapix.h>

#include "support/PlatformExtras.h"
