// Small helpers shared by the operations.
#pragma once

#include <windows.h>

// Logs the current user's roaming application-data folder; opens every
// operation's log.
void LogSessionBanner();
