// Whether the library runs as a 32-bit process on 64-bit Windows, which
// decides the registry branch of the mail client's settings.
#pragma once

#include <windows.h>

bool IsRunningUnderWow64();
