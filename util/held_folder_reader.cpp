// Reading the installation folder through the system's own calls.
#include "util/held_folder_reader.h"

#include "util/code_page.h"
#include "util/file.h"
#include "util/replace_file.h"
#include "util/strings.h"

FolderReader::Opened HeldFolderReader::OpenList(const std::wstring& name, CFileDX& file) const
{
    if (!held_ || !file.OpenIn(held_, name)) {
        const DWORD error = GetLastError();
        return held_ && (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) ? Opened::Missing
                                                                                          : Opened::Refused;
    }
    if (file.IsInside(root_))
        return Opened::Yes;
    file.Close();
    return Opened::Refused;
}

bool HeldFolderReader::OpenInstalled(const std::wstring& name, CFileDX& file) const
{
    return file.Open((folder_ + L"\\" + name).c_str()) != 0;
}

bool HeldFolderReader::Exists(const std::wstring& name) const
{
    wchar_t path[kPathCapacity];
    return FormatWide(path, kPathCapacity, L"%s\\%s", folder_.c_str(), name.c_str()) >= 0 &&
           GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

bool HeldFolderReader::IsReadOnly(const std::wstring& name) const { return held_ && IsReadOnlyIn(held_, name); }

namespace {

// The path with every existing part in its long form, as far down as the parts exist; the rest as given.
std::wstring LongPathOf(const std::wstring& path, size_t floor)
{
    std::wstring head = path, tail;
    while (head.size() >= floor) {  // down to the folder itself, which may be spelled short too
        wchar_t resolved[kPathCapacity];
        const DWORD n = GetLongPathNameW(head.c_str(), resolved, kPathCapacity);
        if (n > 0 && n < kPathCapacity)
            return resolved + tail;
        const size_t cut = head.find_last_of(L'\\');
        if (cut == std::wstring::npos || cut < floor)
            break;
        tail = head.substr(cut) + tail;
        head.resize(cut);
    }
    return path;
}

// The key a name is found by: upper-cased as the system compares file names.
std::wstring NameKey(const std::wstring& name)
{
    std::wstring key = name;
    for (wchar_t& unit : key)
        unit = UpperCaseUnit(unit);
    return key;
}

}  // namespace

// A package's checks ask for several names in each folder: every target and the names written beside it,
// most of them missing. The system resolves a path part by part, each part a search of its folder, so
// each folder is resolved once and listed once, and a name is then found in the listing by its long or
// its short (8.3) name, as the system's search finds it: a few hundred names cost a few searches, not a
// few thousand.
std::wstring HeldFolderReader::LongName(const std::wstring& name) const
{
    wchar_t path[kPathCapacity];
    if (FormatWide(path, kPathCapacity, L"%s\\%s", folder_.c_str(), name.c_str()) < 0)
        return name;
    const std::wstring full = path;
    const size_t cut = full.find_last_of(L'\\');
    const std::wstring leaf = full.substr(cut + 1);
    // A trailing dot or blank is dropped by the system's reading of a path: such names go part by part.
    if (cut < folder_.size() || leaf.empty() || leaf.back() == L'.' || leaf.back() == L' ')
        return LongPathOf(full, folder_.size());
    const std::wstring parent = full.substr(0, cut);
    auto known = listings_.find(parent);
    if (known == listings_.end()) {
        Listing listing;
        listing.longPath = LongPathOf(parent, folder_.size());
        WIN32_FIND_DATAW found;
        const HANDLE search = FindFirstFileExW((parent + L"\\*").c_str(), FindExInfoStandard, &found,
                                               FindExSearchNameMatch, nullptr, 0);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                // The first of two names that differ only in case wins, as it would in a search.
                listing.names.emplace(NameKey(found.cFileName), found.cFileName);
                if (found.cAlternateFileName[0])
                    listing.names.emplace(NameKey(found.cAlternateFileName), found.cFileName);
            } while (FindNextFileW(search, &found));
            FindClose(search);
        }
        known = listings_.emplace(parent, std::move(listing)).first;
    }
    // A pattern character names no file.
    const auto entry = leaf.find_first_of(L"*?<>\"") == std::wstring::npos ? known->second.names.find(NameKey(leaf))
                                                                             : known->second.names.end();
    return known->second.longPath + L"\\" + (entry == known->second.names.end() ? leaf : entry->second);
}
