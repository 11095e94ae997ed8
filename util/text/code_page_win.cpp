// The code page conversions and the case-blind comparison through the system's own functions.
#include "util/text/code_page.h"

#include <windows.h>

#include "util/base/system_functions_win.h"

namespace {

UINT Number(CodePage page) { return page == CodePage::ShiftJis ? 932 : CP_UTF8; }

}  // namespace

bool BytesToUtf16(CodePage page, const char* text, bool strict, std::wstring& out)
{
    const DWORD flags = strict ? MB_ERR_INVALID_CHARS : 0;
    const int needed = MultiByteToWideChar(Number(page), flags, text, -1, nullptr, 0);
    if (needed < 1)
        return false;
    std::wstring buffer(static_cast<size_t>(needed), L'\0');
    if (MultiByteToWideChar(Number(page), flags, text, -1, &buffer[0], needed) != needed)
        return false;
    // Wine folds the terminator into the replacement of a UTF-8 sequence it cuts short: keep that
    // replacement rather than take it for the terminator.
    if (buffer.back() == L'\0')
        buffer.pop_back();
    out.swap(buffer);
    return true;
}

bool Utf16ToBytes(CodePage page, const wchar_t* text, bool strict, std::string& out)
{
    const DWORD flags = strict && page == CodePage::Utf8 ? WC_ERR_INVALID_CHARS : 0;
    const int needed = WideCharToMultiByte(Number(page), flags, text, -1, nullptr, 0, nullptr, nullptr);
    if (needed < 1)
        return false;
    std::string buffer(static_cast<size_t>(needed), '\0');
    if (WideCharToMultiByte(Number(page), flags, text, -1, &buffer[0], needed, nullptr, nullptr) != needed)
        return false;
    buffer.resize(static_cast<size_t>(needed) - 1);
    out.swap(buffer);
    return true;
}

bool SameTextIgnoringCase(const wchar_t* a, size_t aLength, const wchar_t* b, size_t bLength)
{
    return CompareStringOrdinal(a, static_cast<int>(aLength), b, static_cast<int>(bLength), TRUE) == CSTR_EQUAL;
}

wchar_t UpperCaseUnit(wchar_t unit)
{
    // The table CompareStringOrdinal compares by; ntdll has it as one function.
    using Upcase = WCHAR(NTAPI*)(WCHAR);
    static const Upcase upcase = ResolveSystem<Upcase>(ResolveSystemFunction(L"ntdll.dll", "RtlUpcaseUnicodeChar"));
    return upcase ? upcase(unit) : unit;
}
