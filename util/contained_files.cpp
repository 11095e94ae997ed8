// Creating, clearing and removing files below a folder through handles whose final path is checked.
#include "util/contained_files.h"

#include <windows.h>

#include "util/file.h"
#include "util/handles.h"

namespace {

const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opens the name itself: a link as the link where the system allows it (Windows), else what it reaches.
HANDLE OpenName(const wchar_t* path, DWORD access)
{
    return CreateFileW(path, access, kShareAll, nullptr, OPEN_EXISTING,
                       FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// Gives the file the read-only attribute or takes it away; true when the attribute was there before.
bool SetReadOnly(HANDLE h, bool readOnly)
{
    FILE_BASIC_INFO info;
    if (!GetFileInformationByHandleEx(h, FileBasicInfo, &info, sizeof info))
        return false;
    const bool was = (info.FileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
    if (was == readOnly)
        return was;
    info.FileAttributes ^= FILE_ATTRIBUTE_READONLY;
    if (info.FileAttributes == 0)
        info.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    else if (readOnly)
        info.FileAttributes &= ~static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL);
    SetFileInformationByHandle(h, FileBasicInfo, &info, sizeof info);
    return was;
}


}  // namespace

bool RemoveInside(const wchar_t* path, const std::wstring& root)
{
    const UniqueHandle h(OpenName(path, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES));
    if (!h.IsValid()) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    if (!IsHandleInside(h.Get(), root))
        return false;
    SetReadOnly(h.Get(), false);  // a read-only leftover of an earlier run must not stop this one
    FILE_DISPOSITION_INFO disposition = {TRUE};
    return SetFileInformationByHandle(h.Get(), FileDispositionInfo, &disposition, sizeof disposition) != 0;
}

bool CreateInside(CFileDX& file, const wchar_t* path, const std::wstring& root)
{
    if (RemoveInside(path, root) && file.Create(path, CFileDX::kCreateNew)) {
        if (file.IsInside(root))
            return true;
        file.Delete();  // a folder on the way leads outside: the new file goes again, empty
        file.Close();
        return false;
    }
    // Something stays at the name: a link that cannot be opened as itself (one out of the folder, or one
    // whose target is gone), or one planted in between.
    const std::wstring helper = std::wstring(path) + L".new";
    if (!RemoveInside(helper.c_str(), root) || !file.Create(helper.c_str(), CFileDX::kCreateNew))
        return false;
    // The handle stays on the new file through the rename; the rename stays in the same folder.
    if (file.IsInside(root) && MoveFileExW(helper.c_str(), path, MOVEFILE_REPLACE_EXISTING))
        return true;
    file.Delete();
    file.Close();
    return false;
}

bool LiesInside(const wchar_t* path, const std::wstring& root)
{
    const UniqueHandle h(OpenName(path, FILE_READ_ATTRIBUTES));
    return h.IsValid() && IsHandleInside(h.Get(), root);
}

bool ClearReadOnlyInside(const wchar_t* path, const std::wstring& root)
{
    const UniqueHandle h(OpenName(path, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES));
    return h.IsValid() && IsHandleInside(h.Get(), root) && SetReadOnly(h.Get(), false);
}

void SetReadOnlyInside(const wchar_t* path, const std::wstring& root)
{
    const UniqueHandle h(OpenName(path, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES));
    if (h.IsValid() && IsHandleInside(h.Get(), root))
        SetReadOnly(h.Get(), true);
}
