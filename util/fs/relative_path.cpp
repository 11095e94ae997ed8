// Checking relative target paths before anything is written under them.
#include "util/fs/relative_path.h"

#include <vector>

#include "util/text/code_page.h"
#include "util/text/encoding.h"

namespace {

bool IsDeviceName(const std::wstring& part)
{
    std::wstring base = part.substr(0, part.find(L'.'));
    while (!base.empty() && base.back() == L' ')
        base.pop_back();
    for (auto& c : base)  // device names are ASCII
        if (c >= L'a' && c <= L'z')
            c = static_cast<wchar_t>(c - 0x20);
    if (base == L"CON" || base == L"PRN" || base == L"AUX" || base == L"NUL")
        return true;
    return base.size() == 4 && (base.compare(0, 3, L"COM") == 0 || base.compare(0, 3, L"LPT") == 0) &&
           base[3] >= L'1' && base[3] <= L'9';
}

// The parts of a relative name that reach a file, "\"-joined: separators of either kind, empty and "." parts
// dropped, as Windows drops them when it resolves the name.
std::wstring ResolvedParts(const std::wstring& path)
{
    std::wstring out;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find_first_of(L"\\/", start);
        if (end == std::wstring::npos)
            end = path.size();
        const std::wstring part = path.substr(start, end - start);
        if (!part.empty() && part != L".")
            out += (out.empty() ? L"" : L"\\") + part;
        start = end + 1;
    }
    return out;
}

}  // namespace

bool IsSafeRelativePath(const std::wstring& path)
{
    if (path.empty() || path.find(L':') != std::wstring::npos)
        return false;
    size_t start = 0;
    for (;;) {
        size_t end = path.find_first_of(L"\\/", start);
        std::wstring part = path.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
        if (part.empty() || part == L"." || part == L".." || part.back() == L'.' || part.back() == L' ' ||
            IsDeviceName(part))
            return false;
        if (end == std::wstring::npos)
            return true;
        start = end + 1;
    }
}

std::wstring RelativePathKey(const std::wstring& name)
{
    std::wstring key = ResolvedParts(name);
    for (wchar_t& c : key)
        c = UpperCaseUnit(c);
    return key;
}

bool SameRelativePath(const std::wstring& a, const std::wstring& b) { return RelativePathKey(a) == RelativePathKey(b); }

bool SameRelativePath(const std::string& a, const std::string& b)
{
    std::wstring wa, wb;
    if (!MultiByteToWide(a.c_str(), wa) || !MultiByteToWide(b.c_str(), wb))
        return a == b;
    return SameRelativePath(wa, wb);
}

bool RelativePathParts(const std::wstring& name, std::vector<std::wstring>& parts)
{
    parts.clear();
    for (size_t start = 0;;) {
        const size_t end = name.find_first_of(L"\\/", start);
        std::wstring part = name.substr(start, end == std::wstring::npos ? end : end - start);
        if (part == L"..") {
            if (parts.empty())
                return false;
            parts.pop_back();
        } else if (part != L".") {
            while (!part.empty() && (part.back() == L'.' || part.back() == L' '))
                part.pop_back();
            if (part.find(L':') != std::wstring::npos)
                return false;
            if (!part.empty())
                parts.push_back(part);
        }
        if (end == std::wstring::npos)
            return !parts.empty();
        start = end + 1;
    }
}
