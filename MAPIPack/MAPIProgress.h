// The progress sinks handed to the copy: a window that receives a message per
// step, a function of the host, or nothing. A sink cancels by clearing its
// flags, which the copy loops read before each message and folder.
#pragma once

#include <mapix.h>
#include <windows.h>

#include "support/ProgressCallback.h"

HRESULT CreateProgressWnd(HWND window, UINT message, void* userData, IMAPIProgress** out);
HRESULT CreateProcessMethod(LPPROGRESSCALLBACK callback, void* userData, IMAPIProgress** out);
HRESULT CreateProcessDumb(IMAPIProgress** out);

// True when the sink's flags are 0: the host has cancelled. Without a sink
// nothing can cancel (the compact build has none).
inline bool IsProgressCancelled(IMAPIProgress* progress) {
  if (!progress) return false;
  ULONG flags = MAPI_TOP_LEVEL;
  progress->GetFlags(&flags);
  return flags == 0;
}
