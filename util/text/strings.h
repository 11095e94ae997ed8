// Text and path helpers: bounded formatting, byte-string copy and compare, ASCII lower-casing that is
// safe for Shift-JIS and UTF-8, character search by whole characters, and path splitting.
#pragma once
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <string>

#include "util/base/path_capacity.h"

// Formatting into a caller's buffer of `capacity` units. "%s" takes a wide string (the
// Microsoft runtime's meaning, which every wide format of the system relies on). The result is the count
// written without the terminator, or -1 when the text does not fit or cannot be formatted; then the
// buffer holds an empty string and nothing was written past its end.
int FormatWide(wchar_t* dest, size_t capacity, const wchar_t* format, ...);
// The system's own formatter behind it (strings_win.cpp, strings_posix.cpp), with that meaning of "%s": what
// it returns for a text that does not fit differs by system, and FormatWide makes it one answer.
int FormatWideWith(wchar_t* dest, size_t capacity, const wchar_t* format, va_list args);

// Byte-wise comparison as unsigned values: -1, 0 or 1.
int StrCompare(const char* a, const char* b);
// Lowers A-Z in place; bytes inside multi-byte characters are never touched. Returns its argument.
char* ToLowerAscii(char* text);
void ToLowerAscii(std::string& text);

// Splits a byte path into drive, directory (with its trailing separator), name and extension (with its
// dot), each in UTF-8; null outputs are skipped. "\" and "/" both separate. False when a part would
// exceed kFolderCapacity - 1 bytes or the path does not convert; the outputs are then untouched.
bool SplitPath(std::string* drive, std::string* dir, std::string* name, std::string* ext, const char* path);
