// The wide formatter of the Microsoft runtime.
#include "util/text/strings.h"

#include <cstdio>

int FormatWideWith(wchar_t* dest, size_t capacity, const wchar_t* format, va_list args)
{
    // _vsnwprintf is the Microsoft runtime's formatter, where "%s" of a wide format is a wide string.
    // It returns -1 when the text is longer than the count and leaves the terminator to us.
    return _vsnwprintf(dest, capacity - 1, format, args);
}
