// Marks the library's documented exports; everything else stays hidden.
#pragma once

#if defined(_WIN32)
// Empty: the DLL's .def lists its exports, and dllexport would add to them.
#define CORVANE_API
#else
#define CORVANE_API __attribute__((visibility("default")))
#endif
