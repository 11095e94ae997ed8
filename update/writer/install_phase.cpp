// Installing the copied files with a way back: originals kept aside by rename, put back on failure. Every
// rename and delete goes through a handle opened by a single name below a held folder.
#include "update/writer/install_phase.h"

#include <algorithm>

#include "archive/checksum.h"
#include "update/package/package.h"
#include "update/package/patch_targets.h"
#include "util/fs/file.h"
#include "util/held/relative_files.h"

namespace {

const DWORD kOriginalAccess = DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES;

std::wstring KeptName(const PreparedFile& f) { return f.name + kKeptSuffix; }

// Commits every rename made below the files' folders, each folder once: the version list saved next must
// never reach the disk ahead of the files it records.
void CommitRenames(const std::vector<PreparedFile>& files)
{
    std::vector<HANDLE> flushed;
    for (const PreparedFile& f : files) {
        if (!f.folder || std::find(flushed.begin(), flushed.end(), f.folder) != flushed.end())
            continue;
        FlushFolder(f.folder);
        flushed.push_back(f.folder);
    }
}

// True when the open file's content has the checksum `value` (stored form).
bool HasChecksum(CFileDX& file, uint64_t value)
{
    const uint32_t size = file.GetSize();
    std::vector<unsigned char> buffer(kCopyChunk);
    uint64_t actual = 0;
    return size != 0xFFFFFFFF && ChecksumFromFile(file, size, buffer.data(), kCopyChunk, actual) && actual == value;
}

// What the name's own content and its kept file's are, as far as the judgement needs them: what the patch
// decision read, or read here.
KeptFacts FactsOf(PreparedFile& f, CFileDX& keptContent)
{
    KeptFacts facts;
    facts.patchedFrom = f.patchedFromKept;
    if (!f.keptRead) {
        // Read whole once: what it holds also says what the version list records once it is put back.
        std::vector<unsigned char> buffer(kCopyChunk);
        const uint32_t size = keptContent.GetSize();
        f.keptRead = true;
        f.keptStands = size != 0xFFFFFFFF && ChecksumFromFile(keptContent, size, buffer.data(), kCopyChunk, f.keptChecksum);
    }
    facts.keptHasRecorded = f.recorded && f.keptStands && f.keptChecksum == f.recordedValue;
    if (f.nameRead) {
        facts.nameStands = f.nameStands;
        facts.nameHasRecorded = f.recorded && f.nameStands && f.nameChecksum == f.recordedValue;
    } else {
        CFileDX target;
        facts.nameStands = OpenIn(target, f.folder, f.name) != 0 || !IsNotFound(GetLastError());
        facts.nameHasRecorded = f.recorded && target.IsOpen() && HasChecksum(target, f.recordedValue);
    }
    return facts;
}

// Step one: judges a "<name>.kept" found before anything was renamed (see InstallTargets). False when it
// leads out of the folder or cannot be opened, put back or deleted.
bool JudgeLeftover(PreparedFile& f, const std::wstring& root)
{
    if (!f.keptListed)
        return true;  // one that appeared since cannot be kept aside over: keeping the original fails
    UniqueHandle leftover;
    bool original = true, superseded = false;
    if (f.patchedFromKept && f.decided) {
        // The base this run patched from, held since it was checksummed: judged by what the decision read,
        // renamed or deleted through that same handle.
        KeptFacts facts;
        facts.nameStands = f.nameStands;
        facts.patchedFrom = true;
        facts.nameHasRecorded = f.recorded && f.nameStands && f.nameChecksum == f.recordedValue;
        original = KeptIsOriginal(facts);
        superseded = facts.nameHasRecorded;
        leftover.Reset(f.decided->Release());
        f.decided.reset();
    } else {
        KeptFacts facts;
        {
            CFileDX content;
            if (!OpenIn(content, f.folder, KeptName(f)))
                return IsNotFound(GetLastError());
            if (!IsInside(content, root))
                return false;
            // A link planted at the name is no leftover of ours: it is left alone, never moved or deleted.
            if (!IsItselfIn(content.Handle(), f.folder, KeptName(f)))
                return true;
            facts = FactsOf(f, content);
        }
        original = KeptIsOriginal(facts);
        superseded = facts.nameHasRecorded;
        leftover.Reset(OpenFileIn(f.folder, KeptName(f), kOriginalAccess, kShareAll));
        if (!leftover.IsValid())
            return false;
    }
    // A stale file goes at once where this run needs its name, to keep the installed file aside, or where the
    // saved version list vouches for the file at the name; otherwise it may still be the only copy of some
    // version, and goes once the lists are saved.
    if (!original && (f.file || superseded))
        return DeleteHandle(leftover.Get());
    if (!original) {
        f.stale = std::move(leftover);
        return true;
    }
    if (f.installs) {
        f.kept = std::move(leftover);  // this run's own from now on
        return true;
    }
    // No run installs the name: the original goes back, over what an interrupted run had put there (a
    // link there included, replaced as itself). A run that installs nothing puts it back once its version
    // list records it (PutBackOriginals); a failed install, at once.
    if (f.putBackLater) {
        f.kept = std::move(leftover);
        f.putBack = true;
        return true;
    }
    f.putBack = RenameHandle(leftover.Get(), f.folder, f.name, true);
    return f.putBack;
}

// Removes a "<name>.tmp" an interrupted run left beside a name this run writes no temporary file for.
bool RemoveLeftoverTemporary(PreparedFile& f, const std::wstring& root)
{
    if (!f.tempListed)
        return true;
    UniqueHandle temp(OpenFileIn(f.folder, f.name + kTemporarySuffix, kOriginalAccess, kShareAll));
    if (!temp.IsValid())
        return IsNotFound(GetLastError());
    // A link planted at the name is not ours and is left alone: deleting through it could reach what it leads
    // to (Wine follows a link even when asked not to).
    if (!IsHandleInside(temp.Get(), root) || !IsItselfIn(temp.Get(), f.folder, f.name + kTemporarySuffix))
        return true;
    return DeleteHandle(temp.Get());
}

// Step two: the installed file is renamed aside. Its attributes are not touched: a read-only file renames
// as it is and comes back as it was, and a file with further names stays as it is for them. A link is not
// kept: the new file's rename replaces the link itself, and what it leads to is not touched. Fails when the
// file is held open by another program.
bool KeepOriginal(PreparedFile& f, const std::wstring& root)
{
    UniqueHandle original;
    if (f.decided && !f.patchedFromKept) {
        // The base patched from, held since it was checksummed: renamed aside through that same handle.
        original.Reset(f.decided->Release());
        f.decided.reset();
    } else {
        // First looked at without any access that sharing weighs: a link at the name (which Wine follows,
        // perhaps to a file this run holds) is not kept, and is not opened for deleting either.
        UniqueHandle look(OpenFileIn(f.folder, f.name, FILE_READ_ATTRIBUTES, kShareAll));
        if (!look.IsValid() && IsNotFound(GetLastError()))
            return true;
        if (look.IsValid() && (!IsHandleInside(look.Get(), root) || !IsItselfIn(look.Get(), f.folder, f.name))) {
            f.linkAtName = true;
            return true;
        }
        original.Reset(OpenFileIn(f.folder, f.name, kOriginalAccess, kShareAll));
    }
    if (!original.IsValid())
        return IsNotFound(GetLastError());
    if (!IsHandleInside(original.Get(), root) || !IsItselfIn(original.Get(), f.folder, f.name))
        return true;
    if (!RenameHandle(original.Get(), f.folder, KeptName(f), false))
        return false;
    f.kept = std::move(original);
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
        // A decided file held by the run would stand in the way of the original's rename over it.
        if (f.kept.IsValid())
            f.decided.reset();
        if (f.kept.IsValid() && RenameHandle(f.kept.Get(), f.folder, f.name, true))
            f.kept.Reset(nullptr);
    }
    CommitRenames(files);
}

// Step one for every file: what an interrupted run left is judged before anything is renamed. With
// `allOrNothing`, the first file that cannot be settled ends it; else every file is settled all the same.
bool JudgeAll(const std::wstring& root, std::vector<PreparedFile>& files, bool allOrNothing)
{
    bool all = true;
    for (PreparedFile& f : files) {
        const bool temporary = RemoveLeftoverTemporary(f, root);
        const bool settled = JudgeLeftover(f, root) && temporary;
        all = all && settled;
        if (!all && allOrNothing)
            return false;
    }
    return all;
}

}  // namespace

uint32_t InstallTargets(const std::wstring& root, std::vector<PreparedFile>& files)
{
    // What an interrupted run left is judged first, for every file, so that a run that fails early still
    // leaves every original under its name and no stale leftover.
    if (!JudgeAll(root, files, true)) {
        RollBack(files, 0);
        return kResultInstallFailed;
    }
    size_t moved = 0;
    for (PreparedFile& f : files) {
        // Where an original already stands aside, the file at the name is replaced: the run's own hold on it
        // (the base it patched from) would stand in the way.
        if (f.file && f.kept.IsValid())
            f.decided.reset();
        const bool kept = !f.file || f.kept.IsValid() || KeepOriginal(f, root);
        // Wine replaces a link by path and weighs what it leads to: a file this run holds (another target)
        // would refuse the rename. The holds go; every byte they guarded is verified in its new file already.
        if (f.linkAtName)
            for (PreparedFile& g : files)
                g.decided.reset();
        if (f.file && (!kept || !MoveTo(*f.file, f.folder, f.name, true))) {
            RollBack(files, moved);
            return kResultInstallFailed;
        }
        ++moved;
    }
    CommitRenames(files);
    return kResultSuccess;
}

bool SettleLeftovers(const std::wstring& root, std::vector<PreparedFile>& files)
{
    for (PreparedFile& f : files) {
        f.installs = false;
        f.putBackLater = true;
    }
    bool judged = JudgeAll(root, files, false);
    for (PreparedFile& f : files) {
        f.decided.reset();
        if (f.stale.IsValid())
            judged = DeleteHandle(f.stale.Get()) && judged;
        f.stale.Reset(nullptr);
    }
    return judged;
}

bool PutBackOriginals(std::vector<PreparedFile>& files)
{
    bool all = true;
    for (PreparedFile& f : files) {
        if (f.installs || !f.kept.IsValid())
            continue;
        all = RenameHandle(f.kept.Get(), f.folder, f.name, true) && all;
        f.kept.Reset(nullptr);
    }
    CommitRenames(files);
    return all;
}

void RemoveKeptOriginals(std::vector<PreparedFile>& files)
{
    for (PreparedFile& f : files) {
        f.decided.reset();
        if (f.stale.IsValid())
            DeleteHandle(f.stale.Get());
        f.stale.Reset(nullptr);
        if (f.kept.IsValid())
            DeleteHandle(f.kept.Get());
        f.kept.Reset(nullptr);
    }
}
