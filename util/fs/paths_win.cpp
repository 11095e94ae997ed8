// The file system by path, through the system's wide-character calls.
#include "util/fs/paths.h"

#include <windows.h>

#include "util/base/handles_win.h"

PathKind KindOf(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return PathKind::None;
    return attributes & FILE_ATTRIBUTE_DIRECTORY ? PathKind::Folder : PathKind::File;
}

bool FileSizeOf(const std::wstring& path, uint64_t& size)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
}

bool MoveReplacing(const std::wstring& from, const std::wstring& to)
{
    return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool RemoveFile(const std::wstring& path) { return DeleteFileW(path.c_str()) != 0; }

bool ListFolder(const std::wstring& folder, std::vector<FolderItem>& items)
{
    WIN32_FIND_DATAW fd;
    const FindHandle h(FindFirstFileW((folder + L"\\*").c_str(), &fd));
    if (!h.IsValid())
        return false;
    do {
        const std::wstring name = fd.cFileName;
        if (name != L"." && name != L"..")
            items.push_back({name, (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
    } while (FindNextFileW(h.Get(), &fd));
    // A listing that breaks off would leave names out.
    return GetLastError() == ERROR_NO_MORE_FILES;
}
