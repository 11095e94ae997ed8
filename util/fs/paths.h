// What the package builder and the dry run ask of the file system by path: whether something stands at
// a path, a file's size, a folder's names, and moving or removing a finished file.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

enum class PathKind { None, File, Folder };
// What stands at `path`, links followed.
PathKind KindOf(const std::wstring& path);
// The size of the file at `path`; false for a folder or nothing.
bool FileSizeOf(const std::wstring& path, uint64_t& size);
// Moves the file `from` to `to`, replacing a file there.
bool MoveReplacing(const std::wstring& from, const std::wstring& to);
bool RemoveFile(const std::wstring& path);

struct FolderItem {
    std::wstring name;
    bool folder;
};
// The names in `folder` ("." and ".." left out). False when it cannot be read to its end.
bool ListFolder(const std::wstring& folder, std::vector<FolderItem>& items);
