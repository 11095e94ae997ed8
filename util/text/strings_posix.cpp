// The C library's wide formatter, taught the Microsoft runtime's "%s".
#include "util/text/strings.h"

#include <cwchar>
#include <string>

int FormatWideWith(wchar_t* dest, size_t capacity, const wchar_t* format, va_list args)
{
    // The C library's wide formatter reads "%s" as a narrow string: say "%ls" for the system's meaning.
    std::wstring own;
    for (const wchar_t* p = format; *p; ++p) {
        own += *p;
        if (*p == L'%' && p[1] == L'%')
            own += *++p;
        else if (*p == L'%' && p[1] == L's')
            own += L'l';
    }
    return vswprintf(dest, capacity, own.c_str(), args);
}
