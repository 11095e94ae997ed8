// Whole-file replacement through a new file, a flush and one rename through its handle.
#include "util/held/replace_file.h"

#include "util/base/handles.h"
#include "util/fs/file.h"
#include "util/held/contained_files.h"
#include "util/held/relative_files.h"

bool IsReadOnlyIn(HANDLE folder, const std::wstring& name)
{
    const UniqueHandle file(OpenFileIn(folder, name, FILE_READ_ATTRIBUTES, kShareAll));
    return file.IsValid() && (AttributesOf(file.Get()) & FILE_ATTRIBUTE_READONLY);
}

bool ReplaceFileIn(HANDLE folder, const std::wstring& name, const void* data, uint32_t size, const std::wstring& root)
{
    if (IsReadOnlyIn(folder, name))
        return false;
    CFileDX file;
    if (!CreateOver(file, folder, name + kReplacementSuffix, root))
        return false;
    // A rename can reach the disk before the data it names: flush first.
    if (file.Write(data, size) == size && file.Flush() && MoveTo(file, folder, name, true))
        return true;
    DeleteWhenClosed(file);
    return false;
}

bool ReplaceFileContents(const wchar_t* path, const void* data, uint32_t size)
{
    const std::wstring full = path;
    const size_t cut = full.find_last_of(L"\\/");
    if (cut == std::wstring::npos)
        return false;
    UniqueHandle folder;
    std::wstring root;
    return HoldFolderAt(full.substr(0, cut + (cut == 2 ? 1 : 0)).c_str(), folder, root) &&
           ReplaceFileIn(folder.Get(), full.substr(cut + 1), data, size, root);
}
