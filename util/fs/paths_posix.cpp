// The file system by path on POSIX systems: UTF-16 paths given to the system as UTF-8.
#include "util/fs/paths.h"
#include "util/fs/paths_posix.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "util/text/code_page.h"

std::string PosixPath(const std::wstring& path)
{
    std::string bytes;
    Utf16ToBytes(CodePage::Utf8, path.c_str(), false, bytes);
    for (char& c : bytes)
        if (c == '\\')
            c = '/';
    return bytes;
}

PathKind KindOf(const std::wstring& path)
{
    struct stat st;
    if (stat(PosixPath(path).c_str(), &st) != 0)
        return PathKind::None;
    return S_ISDIR(st.st_mode) ? PathKind::Folder : PathKind::File;
}

bool FileSizeOf(const std::wstring& path, uint64_t& size)
{
    struct stat st;
    if (stat(PosixPath(path).c_str(), &st) != 0 || S_ISDIR(st.st_mode))
        return false;
    size = static_cast<uint64_t>(st.st_size);
    return true;
}

bool MoveReplacing(const std::wstring& from, const std::wstring& to)
{
    return rename(PosixPath(from).c_str(), PosixPath(to).c_str()) == 0;
}

bool RemoveFile(const std::wstring& path) { return unlink(PosixPath(path).c_str()) == 0; }

bool ListFolder(const std::wstring& folder, std::vector<FolderItem>& items)
{
    std::error_code error;
    std::filesystem::directory_iterator it(PosixPath(folder), error), end;
    for (; !error && it != end; it.increment(error)) {
        std::wstring name;
        // Links are followed, as Windows lists what a link to a folder leads to as a folder.
        const bool folder = it->is_directory(error);
        if (error || !BytesToUtf16(CodePage::Utf8, it->path().filename().c_str(), false, name))
            return false;
        items.push_back({name, folder});
    }
    return !error;
}
