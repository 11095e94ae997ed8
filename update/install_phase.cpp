// Installing the copied files with a way back: originals kept aside by rename, put back on failure. Every
// rename and delete goes through a handle opened by a single name below a held folder.
#include "update/install_phase.h"

#include "util/file.h"
#include "util/handles.h"
#include "util/relative_files.h"

namespace {

InstallFaults g_faults;

const DWORD kOriginalAccess = DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES;
const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

struct Target {
    PreparedFile* prepared;
    std::wstring keptName;
    UniqueHandle kept;     // the original, standing under keptName
    bool movedIn = false;  // the new file stands under the target's name
};

struct Counters {
    int moves = 0, putBacks = 0, steps = 0;
};

bool NotFound(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// Counts one file-system step; true when a test asked for the run to stop here as a kill would.
bool Interrupt(Counters& n) { return ++n.steps == g_faults.interruptAtStep; }

bool MoveNewFileIn(Counters& n, const Target& t)
{
    if (++n.moves == g_faults.failMove)
        return false;
    return t.prepared->file->MoveTo(t.prepared->folder, t.prepared->name, true) != 0;
}

// Puts the original back under its name, over whatever stands there.
bool PutBack(Counters& n, const Target& t)
{
    if (++n.putBacks == g_faults.failPutBack)
        return false;
    return RenameHandle(t.kept.Get(), t.prepared->folder, t.prepared->name, true);
}

// Undoes, newest first, what this run did: new files go (their names free again), and the kept originals
// go back under their names. A kept file that cannot go back stays where it is.
void RollBack(Counters& n, std::vector<Target>& list, bool& interrupted)
{
    for (auto t = list.rbegin(); t != list.rend(); ++t) {
        if (!t->kept.IsValid() && !t->movedIn)
            continue;
        if (Interrupt(n)) {
            interrupted = true;
            return;
        }
        if (t->movedIn) {
            t->prepared->file->Delete();
            t->prepared->file->Close();
        }
        if (t->kept.IsValid())
            PutBack(n, *t);
    }
}

// Step one for a target: a kept file of a killed run is the original. Where the target is gone it goes
// back first, so that the target stands under its own name; beside a target it stays, as this run's kept
// file. A kept name that leads out of the folder, or cannot be opened, fails the run.
bool AdoptLeftover(Counters& n, Target& t, const std::wstring& root, bool& interrupted)
{
    UniqueHandle leftover(OpenFileIn(t.prepared->folder, t.keptName, kOriginalAccess, kShareAll));
    if (!leftover.IsValid())
        return NotFound(GetLastError());
    if (!IsHandleInside(leftover.Get(), root))
        return false;
    if (Interrupt(n))
        return !(interrupted = true);
    const UniqueHandle standing(OpenFileIn(t.prepared->folder, t.prepared->name, FILE_READ_ATTRIBUTES, kShareAll));
    if (standing.IsValid()) {
        t.kept.Reset(leftover.Release());
        return true;
    }
    return RenameHandle(leftover.Get(), t.prepared->folder, t.prepared->name, false);
}

// Step two: the installed file is renamed aside. Its attributes are not touched: a read-only file renames
// as it is and comes back as it was, and a file with further names stays as it is for them. A link out of
// the folder is not kept: the new file's rename replaces the link itself, and what it leads to is not
// touched. Fails when the file is held open by another program.
bool KeepOriginal(Counters& n, Target& t, const std::wstring& root, bool& interrupted)
{
    UniqueHandle original(OpenFileIn(t.prepared->folder, t.prepared->name, kOriginalAccess, kShareAll));
    if (!original.IsValid())
        return NotFound(GetLastError());
    if (!IsHandleInside(original.Get(), root))
        return true;
    if (Interrupt(n))
        return !(interrupted = true);
    if (!RenameHandle(original.Get(), t.prepared->folder, t.keptName, false))
        return false;
    t.kept.Reset(original.Release());
    return true;
}

}  // namespace

void SetInstallFaults(const InstallFaults& faults) { g_faults = faults; }

bool InstallTargets(const std::wstring& root, std::vector<PreparedFile>& files, bool& interrupted)
{
    interrupted = false;
    Counters n;
    std::vector<Target> list;
    list.reserve(files.size());
    for (PreparedFile& f : files)
        list.push_back(Target{&f, f.name + kKeptSuffix, UniqueHandle(), false});
    bool ok = true;
    for (Target& t : list) {
        ok = AdoptLeftover(n, t, root, interrupted) && !interrupted &&
             (t.kept.IsValid() || KeepOriginal(n, t, root, interrupted)) && !interrupted;
        if (interrupted)
            return false;
        if (ok && Interrupt(n))
            return !(interrupted = true);
        if (!ok || !MoveNewFileIn(n, t)) {
            ok = false;
            break;
        }
        t.movedIn = true;
    }
    if (!ok) {
        RollBack(n, list, interrupted);
        return false;
    }
    for (Target& t : list) {
        if (!t.kept.IsValid())
            continue;
        if (Interrupt(n))
            return !(interrupted = true);
        DeleteHandle(t.kept.Get());
    }
    return true;
}
