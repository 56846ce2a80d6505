// Self-registration of in-process servers: a registration tool loads the
// server module and calls these exports.
#pragma once

#include "objbase.h"

#define SELFREG_E_FIRST MAKE_SCODE(SEVERITY_ERROR, FACILITY_ITF, 0x0200)
#define SELFREG_E_CLASS (SELFREG_E_FIRST + 1)

// Writes (removes) the server's classes under HKEY_CLASSES_ROOT\CLSID;
// SELFREG_E_CLASS when a class cannot be written.
WINOLEAPI DllRegisterServer(void);
WINOLEAPI DllUnregisterServer(void);
