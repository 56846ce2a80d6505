// Reading a property value's wide string only when it really is one.
#pragma once

#include <mapidefs.h>

// The value's wide string, owned by the value; null unless the value is of type
// PT_UNICODE with a readable, terminated string.
LPCWSTR GetValidString(const SPropValue* value);
// Whether a narrow string is readable memory up to its terminator.
bool IsReadableNarrow(const char* s);
