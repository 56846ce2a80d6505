// Included by the source that holds an extension module's DllMain. On the
// platform it brings the module's start-up glue; here that glue is the
// load-time entry object (platform/framework/dllentry, CMake target cvdllentry)
// that the module links in last, and which calls the module's DllMain.
#pragma once

#include "afxwin.h"
