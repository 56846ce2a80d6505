// Marks the library's documented exports; everything else stays hidden.
#pragma once

#if defined(_WIN32)
#define CORVANE_API __declspec(dllexport)
#else
#define CORVANE_API __attribute__((visibility("default")))
#endif
