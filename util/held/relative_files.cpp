// Handle-relative creation, renaming and deletion, every one through g_fileOps.
#include "util/held/relative_files.h"

#include "util/base/handles_win.h"
#include "util/fs/file.h"
#include "util/fs/file_ops_win.h"

HANDLE CreateFileIn(HANDLE folder, const std::wstring& name) { return g_fileOps.create(folder, name); }

bool RenameHandle(HANDLE file, HANDLE folder, const std::wstring& name, bool replace)
{
    return g_fileOps.rename(file, folder, name, replace);
}

bool FlushFolder(HANDLE folder) { return g_fileOps.flushFolder(folder); }

bool DeleteHandle(HANDLE file)
{
    if (g_fileOps.remove(file))
        return true;
    const DWORD error = GetLastError();
    const DWORD attributes = AttributesOf(file);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY)) {
        SetLastError(error);
        return false;
    }
    // A read-only file refuses deletion. Its attributes belong to every name it has, so they are given
    // back at once through the same handle: only this name goes.
    if (!g_fileOps.setAttributes(file, attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY)))
        return false;
    const bool deleted = g_fileOps.remove(file);
    const DWORD deleteError = GetLastError();
    g_fileOps.setAttributes(file, attributes);
    SetLastError(deleteError);
    return deleted;
}

int CreateNewIn(CFileDX& file, HANDLE folder, const std::wstring& name)
{
    return !file.IsOpen() && file.Adopt(CreateFileIn(folder, name)) ? 1 : 0;
}

int MoveTo(CFileDX& file, HANDLE folder, const std::wstring& name, bool replace)
{
    return file.IsOpen() && RenameHandle(file.Handle(), folder, name, replace) ? 1 : 0;
}

int DeleteWhenClosed(CFileDX& file) { return file.IsOpen() && DeleteHandle(file.Handle()) ? 1 : 0; }
