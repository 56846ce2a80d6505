// Reading the log settings file, apart from applying what it says.
#pragma once

#include "support/Log.h"

#if !defined(CORVANE_COMPACT)
// Reads the settings of the file at iniPath, the log file named below
// logFolder (null: none known); false when they leave the log as it is.
// *maxSize: the size in MiB at which the log is set aside.
bool ReadLogSettings(LPCWSTR iniPath, LPCWSTR logFolder, LogSettings* settings, int* maxSize);
#endif
