// The host's progress function, as the host registers it and the function
// sink calls it: (step, maximum, context); a non-zero answer cancels.
#pragma once

#include <windows.h>

typedef int (*LPPROGRESSCALLBACK)(ULONG current, ULONG max, void* context);
