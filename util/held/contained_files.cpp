// Creating and removing files below a held folder through handles whose final path is checked.
#include "util/held/contained_files.h"

#include "util/base/handles_win.h"
#include "util/fs/file.h"
#include "util/held/relative_files.h"

bool RemoveIn(HANDLE folder, const std::wstring& name, const std::wstring& root)
{
    const UniqueHandle h(OpenFileIn(folder, name, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, kShareAll));
    if (!h.IsValid()) {
        return IsNotFound(GetLastError());
    }
    // A read-only leftover of an earlier run must not stop this one; DeleteHandle gives a file with further
    // names its attributes back.
    return IsHandleInside(h.Get(), root) && DeleteHandle(h.Get());
}

bool CreateOver(CFileDX& file, HANDLE folder, const std::wstring& name, const std::wstring& root)
{
    // The name is usually free: created at once, it costs one look-up instead of two (Wine looks through
    // the whole folder for a name that is not there, in any case). Where anything stands, creating fails,
    // and it is removed first.
    if (CreateNewIn(file, folder, name) || (RemoveIn(folder, name, root) && CreateNewIn(file, folder, name))) {
        if (IsInside(file, root))
            return true;
        DeleteWhenClosed(file);  // the folder leads outside after all: the new file goes again, empty
        file.Close();
        return false;
    }
    // Something stays at the name: a link that cannot be opened as itself (one out of the folder, or one
    // whose target is gone), or one planted in between.
    const std::wstring helper = ReplacementName(name);
    if (!RemoveIn(folder, helper, root) || !CreateNewIn(file, folder, helper))
        return false;
    // The handle stays on the new file through the rename, which stays in the held folder.
    if (IsInside(file, root) && MoveTo(file, folder, name, true))
        return true;
    DeleteWhenClosed(file);
    file.Close();
    return false;
}
