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

std::wstring HeldFolderReader::LongName(const std::wstring& name) const
{
    wchar_t path[kPathCapacity];
    if (FormatWide(path, kPathCapacity, L"%s\\%s", folder_.c_str(), name.c_str()) < 0)
        return name;
    std::wstring head = path, tail;
    while (head.size() >= folder_.size()) {  // down to the folder itself, which may be spelled short too
        wchar_t resolved[kPathCapacity];
        const DWORD n = GetLongPathNameW(head.c_str(), resolved, kPathCapacity);
        if (n > 0 && n < kPathCapacity)
            return resolved + tail;
        const size_t cut = head.find_last_of(L'\\');
        if (cut == std::wstring::npos || cut < folder_.size())
            break;
        tail = head.substr(cut) + tail;
        head.resize(cut);
    }
    return path;
}
