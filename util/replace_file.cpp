// Whole-file replacement through a new file, a flush and one move.
#include "util/replace_file.h"

#include <windows.h>

#include "util/contained_files.h"
#include "util/file.h"

bool ReplaceFileContents(const wchar_t* path, const void* data, uint32_t size, const std::wstring& root)
{
    std::wstring within = root;
    if (within.empty()) {
        std::wstring parent = path;
        const size_t cut = parent.find_last_of(L"\\/");
        if (cut == std::wstring::npos || !FinalFolderPath(parent.substr(0, cut + (cut == 2 ? 1 : 0)).c_str(), within))
            return false;
    }
    DWORD attributes = GetFileAttributesW(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        return false;
    const std::wstring fresh = std::wstring(path) + L".new";
    bool written = false;
    {
        CFileDX file;
        if (!CreateInside(file, fresh.c_str(), within))
            return false;
        // A rename can reach the disk before the data it names: flush first.
        written = file.Write(data, size) == size && file.Flush();
    }
    if (written && MoveFileExW(fresh.c_str(), path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    RemoveInside(fresh.c_str(), within);
    return false;
}
