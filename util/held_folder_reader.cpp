// Reading the installation folder through the system's own calls.
#include "util/held_folder_reader.h"

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

}  // namespace

// A package's checks ask for several names in each folder (every target and the names written beside it).
// The system resolves a path part by part, each part a directory search, so the folder a name lies in is
// resolved once, and the name itself with one search in it: the same answer in a tenth of the searches.
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
    auto known = longFolders_.find(parent);
    if (known == longFolders_.end())
        known = longFolders_.emplace(parent, LongPathOf(parent, folder_.size())).first;
    // A pattern character names no file, and a search for it would match others.
    if (leaf.find_first_of(L"*?<>\"") != std::wstring::npos)
        return known->second + L"\\" + leaf;
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileExW(full.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE)
        return known->second + L"\\" + leaf;
    FindClose(search);
    return known->second + L"\\" + found.cFileName;
}
