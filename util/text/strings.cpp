// Text and path helpers over NUL-terminated byte strings and UTF-16 paths.
#include "util/text/strings.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>

#include "util/text/encoding.h"

int FormatWide(wchar_t* dest, size_t capacity, const wchar_t* format, ...)
{
    if (capacity == 0)
        return -1;
    va_list args;
    va_start(args, format);
    const int n = FormatWideWith(dest, capacity, format, args);
    va_end(args);
    if (n < 0 || static_cast<size_t>(n) > capacity - 1) {
        dest[0] = L'\0';
        return -1;
    }
    dest[n] = L'\0';
    return n;
}

int StrCompare(const char* a, const char* b)
{
    const unsigned char* x = reinterpret_cast<const unsigned char*>(a);
    const unsigned char* y = reinterpret_cast<const unsigned char*>(b);
    for (;; ++x, ++y) {
        if (*x != *y)
            return *x < *y ? -1 : 1;
        if (*x == 0)
            return 0;
    }
}

char* ToLowerAscii(char* text)
{
    uint32_t enc = DetectEncoding(text);
    if (enc == Encoding::Ascii) {
        for (char* p = text; *p; ++p) {
            if (*p >= 'A' && *p <= 'Z')
                *p = static_cast<char>(*p + 0x20);
        }
        return text;
    }
    for (char* p = text; *p;) {
        uint32_t code = 0;
        uint32_t len = DecodeChar(&code, p, enc);
        if (len == 1 && code >= 'A' && code <= 'Z')
            *p = static_cast<char>(*p + 0x20);
        p += len;
    }
    return text;
}

void ToLowerAscii(std::string& text)
{
    if (!text.empty())
        ToLowerAscii(&text[0]);
}

bool SplitPath(std::string* drive, std::string* dir, std::string* name, std::string* ext, const char* path)
{
    std::wstring wide;
    if (!MultiByteToWide(path, wide) || wide.size() >= kFolderCapacity)
        return false;

    size_t dirStart = 0;
    if (wide.size() >= 2 && wide[1] == L':')
        dirStart = 2;
    size_t nameStart = wide.find_last_of(L"\\/");
    nameStart = (nameStart == std::wstring::npos || nameStart < dirStart) ? dirStart : nameStart + 1;
    size_t dot = wide.rfind(L'.');
    size_t extStart = (dot == std::wstring::npos || dot < nameStart) ? wide.size() : dot;

    const std::wstring parts[4] = {wide.substr(0, dirStart), wide.substr(dirStart, nameStart - dirStart),
                                   wide.substr(nameStart, extStart - nameStart), wide.substr(extStart)};
    std::string converted[4];
    for (int i = 0; i < 4; ++i) {
        if (!WideToMultiByte(parts[i].c_str(), Encoding::Utf8, converted[i]) || converted[i].size() >= kFolderCapacity)
            return false;
    }
    std::string* outs[4] = {drive, dir, name, ext};
    for (int i = 0; i < 4; ++i) {
        if (outs[i])
            outs[i]->swap(converted[i]);
    }
    return true;
}
