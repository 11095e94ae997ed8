// Creating and removing files below a held folder through handles whose final path is checked.
#include "util/contained_files.h"

#include "util/file.h"
#include "util/handles.h"
#include "util/relative_files.h"

namespace {
const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
}

bool RemoveIn(HANDLE folder, const std::wstring& name, const std::wstring& root)
{
    const UniqueHandle h(OpenFileIn(folder, name, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, kShareAll));
    if (!h.IsValid()) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    // A read-only leftover of an earlier run must not stop this one; DeleteHandle gives a file with further
    // names its attributes back.
    return IsHandleInside(h.Get(), root) && DeleteHandle(h.Get());
}

bool CreateIn(CFileDX& file, HANDLE folder, const std::wstring& name, const std::wstring& root)
{
    if (RemoveIn(folder, name, root) && file.CreateIn(folder, name)) {
        if (file.IsInside(root))
            return true;
        file.Delete();  // the folder leads outside after all: the new file goes again, empty
        file.Close();
        return false;
    }
    // Something stays at the name: a link that cannot be opened as itself (one out of the folder, or one
    // whose target is gone), or one planted in between.
    const std::wstring helper = name + kReplacementSuffix;
    if (!RemoveIn(folder, helper, root) || !file.CreateIn(folder, helper))
        return false;
    // The handle stays on the new file through the rename, which stays in the held folder.
    if (file.IsInside(root) && file.MoveTo(folder, name, true))
        return true;
    file.Delete();
    file.Close();
    return false;
}

bool HoldFolderAt(const wchar_t* folder, UniqueHandle& held, std::wstring& root)
{
    held.Reset(HoldFolder(nullptr, folder));
    if (held.IsValid() && FinalPathOf(held.Get(), root))
        return true;
    held.Reset(nullptr);
    return false;
}
