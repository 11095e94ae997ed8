// Holding the installation folder and its subfolders open, each opened relative to its parent.
#include "update/writer/held_installation.h"

#include "update/package/package.h"
#include "util/fs/file.h"
#include "util/fs/relative_path.h"
#include "util/held/contained_files.h"
#include "util/held/relative_files.h"

namespace {

const HeldFolder* Find(const HeldInstallation& held, const std::wstring& path)
{
    for (const HeldFolder& f : held.subfolders)
        if (SameRelativePath(f.path, path))
            return &f;
    return nullptr;
}

// Holds the subfolder `path` below the installation, its parents first. A link, or a folder that leads
// out of the installation, is refused.
bool HoldSubfolder(HeldInstallation& held, const std::wstring& path)
{
    if (Find(held, path))
        return true;
    const size_t cut = path.find_last_of(L'\\');
    HANDLE parent = held.handle.Get();
    if (cut != std::wstring::npos) {
        if (!HoldSubfolder(held, path.substr(0, cut)))
            return false;
        parent = Find(held, path.substr(0, cut))->handle.Get();
    }
    HeldFolder f;
    f.path = path;
    f.handle.Reset(HoldFolder(parent, path.substr(cut == std::wstring::npos ? 0 : cut + 1)));
    if (!f.handle.IsValid() || (AttributesOf(f.handle.Get()) & FILE_ATTRIBUTE_REPARSE_POINT) ||
        !IsHandleInside(f.handle.Get(), held.root))
        return false;
    held.subfolders.push_back(std::move(f));
    return true;
}

}  // namespace

bool HoldInstallationFolder(const wchar_t* folder, HeldInstallation& held)
{
    held.folder = folder;
    held.subfolders.clear();
    held.result = kResultInstallFailed;
    return HoldFolderAt(folder, held.handle, held.root);
}

uint32_t HoldInstallation(const wchar_t* folder, const std::vector<std::wstring>& targets, HeldInstallation& held)
{
    const bool alreadyHeld = held.handle.IsValid() && held.folder == folder;
    held.subfolders.clear();
    held.result = kResultInstallFailed;
    if (!alreadyHeld && !HoldInstallationFolder(folder, held))
        return held.result;
    for (const std::wstring& target : targets) {
        const size_t cut = target.find_last_of(L'\\');
        if (cut != std::wstring::npos && !HoldSubfolder(held, target.substr(0, cut)))
            return held.result;
    }
    held.result = kResultSuccess;
    return held.result;
}

HANDLE FolderOf(const HeldInstallation& held, const std::wstring& target, std::wstring& name)
{
    if (held.result != kResultSuccess || !held.handle.IsValid())
        return nullptr;
    const size_t cut = target.find_last_of(L'\\');
    if (cut == std::wstring::npos) {
        name = target;
        return held.handle.Get();
    }
    const HeldFolder* f = Find(held, target.substr(0, cut));
    if (!f)
        return nullptr;
    name = target.substr(cut + 1);
    return f->handle.Get();
}
