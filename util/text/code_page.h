// Conversions between the two code pages the system stores text in and UTF-16, exactly as Windows makes
// them, and Windows' comparison of names without regard to case. Wide strings hold UTF-16 code units on
// every system (on Windows each wchar_t is one; elsewhere each wchar_t holds one unit's value).
#pragma once
#include <string>

enum class CodePage { ShiftJis, Utf8 };  // code pages 932 and 65001

// The NUL-terminated `text` as UTF-16, as MultiByteToWideChar makes it: with `strict`
// (MB_ERR_INVALID_CHARS) an invalid sequence fails the conversion; without, it becomes the code page's
// replacement character. False, `out` untouched, on failure.
bool BytesToUtf16(CodePage page, const char* text, bool strict, std::wstring& out);
// The NUL-terminated `text` in the code page, as WideCharToMultiByte makes it with no default character:
// for code page 932 a unit without a form becomes its best fit or "?"; for UTF-8 a lone surrogate becomes
// U+FFFD, or with `strict` (WC_ERR_INVALID_CHARS) fails the conversion. False, `out` untouched, on failure.
bool Utf16ToBytes(CodePage page, const wchar_t* text, bool strict, std::string& out);

// True when `b` opens a double-byte character of code page 932: 0x81-0x9F and 0xE0-0xFC. (0x80, 0xA0 and
// 0xFD-0xFF stand alone there, each an undefined single byte.)
inline bool IsShiftJisLeadByte(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

// True when the two names are equal once each unit is upper-cased as Windows does for file names
// (CompareStringOrdinal with ignoreCase).
bool SameTextIgnoringCase(const wchar_t* a, size_t aLength, const wchar_t* b, size_t bLength);
inline bool SameTextIgnoringCase(const std::wstring& a, const std::wstring& b)
{
    return SameTextIgnoringCase(a.data(), a.size(), b.data(), b.size());
}
// The unit as Windows upper-cases it for that comparison.
wchar_t UpperCaseUnit(wchar_t unit);
