// Installing the copied files with a way back: originals kept aside by rename, put back on failure. Every
// rename and delete goes through a handle opened by a single name below a held folder.
#include "update/package/install_phase.h"

#include "archive/checksum.h"
#include "update/package/package.h"
#include "util/fs/file.h"
#include "util/held/relative_files.h"

namespace {

const DWORD kOriginalAccess = DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES;

std::wstring KeptName(const PreparedFile& f) { return f.name + kKeptSuffix; }

// True when the open file's content has the checksum `value` (stored form).
bool HasChecksum(CFileDX& file, uint64_t value)
{
    const uint32_t size = file.GetSize();
    std::vector<unsigned char> buffer(kCopyChunk);
    uint64_t actual = 0;
    return size != 0xFFFFFFFF && ChecksumFromFile(file, size, buffer.data(), kCopyChunk, actual) && actual == value;
}

// Step one: judges a "<name>.kept" found before anything was renamed (see InstallTargets). False when it
// leads out of the folder or cannot be opened, put back or deleted.
bool JudgeLeftover(PreparedFile& f, const std::wstring& root)
{
    if (!f.keptListed)
        return true;  // one that appeared since cannot be kept aside over: keeping the original fails
    bool original = false, targetStands = false;
    {
        CFileDX content;
        if (!OpenIn(content, f.folder, KeptName(f)))
            return IsNotFound(GetLastError());
        if (!IsInside(content, root))
            return false;
        original = f.recorded && HasChecksum(content, f.recordedValue);
        CFileDX target;
        targetStands = OpenIn(target, f.folder, f.name) != 0;
        if (targetStands && original && HasChecksum(target, f.recordedValue))
            original = false;  // the target is what the list records: the kept file is stale
    }
    UniqueHandle leftover(OpenFileIn(f.folder, KeptName(f), kOriginalAccess, kShareAll));
    if (!leftover.IsValid())
        return false;
    if (!original)
        return DeleteHandle(leftover.Get());
    if (targetStands) {
        f.kept.Reset(leftover.Release());
        return true;
    }
    return RenameHandle(leftover.Get(), f.folder, f.name, false);
}

// Step two: the installed file is renamed aside. Its attributes are not touched: a read-only file renames
// as it is and comes back as it was, and a file with further names stays as it is for them. A link out of
// the folder is not kept: the new file's rename replaces the link itself, and what it leads to is not
// touched. Fails when the file is held open by another program.
bool KeepOriginal(PreparedFile& f, const std::wstring& root)
{
    UniqueHandle original(OpenFileIn(f.folder, f.name, kOriginalAccess, kShareAll));
    if (!original.IsValid())
        return IsNotFound(GetLastError());
    if (!IsHandleInside(original.Get(), root))
        return true;
    if (!RenameHandle(original.Get(), f.folder, KeptName(f), false))
        return false;
    f.kept.Reset(original.Release());
    return true;
}

// Undoes, newest first, the first `moved` renames of new files and every keeping aside: new files go (their
// names free again), and the kept originals go back under their names, over whatever stands there.
void RollBack(std::vector<PreparedFile>& files, size_t moved)
{
    for (size_t i = files.size(); i-- > 0;) {
        PreparedFile& f = files[i];
        if (i < moved && f.file) {
            DeleteWhenClosed(*f.file);
            f.file->Close();
        }
        if (f.kept.IsValid() && RenameHandle(f.kept.Get(), f.folder, f.name, true))
            f.kept.Reset(nullptr);
    }
}

}  // namespace

uint32_t InstallTargets(const std::wstring& root, std::vector<PreparedFile>& files)
{
    // What an interrupted run left is judged first, for every target, so that a run that fails early still
    // leaves every original under its name and no stale leftover.
    for (PreparedFile& f : files) {
        if (!JudgeLeftover(f, root)) {
            RollBack(files, 0);
            return kResultInstallFailed;
        }
    }
    size_t moved = 0;
    for (PreparedFile& f : files) {
        if (f.file && ((!f.kept.IsValid() && !KeepOriginal(f, root)) || !MoveTo(*f.file, f.folder, f.name, true))) {
            RollBack(files, moved);
            return kResultInstallFailed;
        }
        ++moved;
    }
    return kResultSuccess;
}

void RemoveKeptOriginals(std::vector<PreparedFile>& files)
{
    for (PreparedFile& f : files) {
        if (f.kept.IsValid())
            DeleteHandle(f.kept.Get());
        f.kept.Reset(nullptr);
    }
}
