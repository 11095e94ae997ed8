// Whole-file replacement through a temporary file and one move.
#include "util/replace_file.h"

#include <windows.h>

#include <string>

#include "util/file.h"

bool ReplaceFileContents(const wchar_t* path, const void* data, uint32_t size)
{
    DWORD attributes = GetFileAttributesW(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        return false;
    const std::wstring fresh = std::wstring(path) + L".new";
    bool written = false;
    {
        CFileDX file;
        if (!file.Create(fresh.c_str(), 0))
            return false;
        written = file.Write(data, size) == size;
    }
    if (written && MoveFileExW(fresh.c_str(), path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    DeleteFileW(fresh.c_str());
    return false;
}
