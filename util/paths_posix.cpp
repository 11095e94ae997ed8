// The file system by path on POSIX systems: UTF-16 paths given to the system as UTF-8.
#include "util/paths.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "util/code_page.h"

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
    const std::string path = PosixPath(folder);
    DIR* dir = opendir(path.c_str());
    if (!dir)
        return false;
    bool complete = true;
    for (;;) {
        errno = 0;
        const dirent* entry = readdir(dir);
        if (!entry) {
            complete = errno == 0;
            break;
        }
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        std::wstring wide;
        struct stat st;
        if (!BytesToUtf16(CodePage::Utf8, name.c_str(), false, wide) || stat((path + "/" + name).c_str(), &st) != 0) {
            complete = false;
            break;
        }
        items.push_back({wide, S_ISDIR(st.st_mode)});
    }
    closedir(dir);
    return complete;
}
