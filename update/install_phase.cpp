// Installing the copied files with a way back: originals kept aside by rename, put back on failure.
#include "update/install_phase.h"

#include <windows.h>

#include "util/contained_files.h"
#include "util/strings.h"

namespace {

InstallFaults g_faults;

struct Target {
    wchar_t temp[kPathCapacity];
    wchar_t final[kPathCapacity];
    wchar_t kept[kPathCapacity];
    bool keptAside = false;  // the original stands under `kept`
    bool movedIn = false;    // the new file stands under `final`
    bool readOnly = false;   // the original was read-only, and is again once put back
};

struct Counters {
    int moves = 0, putBacks = 0, steps = 0;
};

bool Exists(const wchar_t* path) { return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES; }

// Counts one file-system step; true when a test asked for the run to stop here as a kill would.
bool Interrupt(Counters& n) { return ++n.steps == g_faults.interruptAtStep; }

bool MoveNewFileIn(Counters& n, const Target& t)
{
    if (++n.moves == g_faults.failMove)
        return false;
    return MoveFileExW(t.temp, t.final, MOVEFILE_REPLACE_EXISTING) != 0;
}

// Puts the original back over whatever stands at the target, in one rename.
bool PutBack(Counters& n, const Target& t)
{
    if (++n.putBacks == g_faults.failPutBack)
        return false;
    return MoveFileExW(t.kept, t.final, MOVEFILE_REPLACE_EXISTING) != 0;
}

// Undoes, newest first, what this run did: the kept originals go back under their names, and new files
// whose targets did not exist before are removed. A kept file that cannot go back stays where it is.
void RollBack(Counters& n, std::vector<Target>& list, const std::wstring& root, bool& interrupted)
{
    for (auto t = list.rbegin(); t != list.rend(); ++t) {
        if (!t->keptAside && !t->movedIn)
            continue;
        if (Interrupt(n)) {
            interrupted = true;
            return;
        }
        if (t->keptAside) {
            if (PutBack(n, *t) && t->readOnly)
                SetReadOnlyInside(t->final, root);
        } else
            RemoveInside(t->final, root);
    }
}

}  // namespace

void SetInstallFaults(const InstallFaults& faults) { g_faults = faults; }

bool InstallTargets(const wchar_t* folder, const std::wstring& root, const std::vector<std::wstring>& targets,
                    bool& interrupted)
{
    interrupted = false;
    Counters n;
    std::vector<Target> list;
    for (const std::wstring& name : targets) {
        if (name.empty())
            continue;
        Target t;
        if (FormatWide(t.temp, kPathCapacity, L"%s\\%s.tmp", folder, name.c_str()) < 0 ||
            FormatWide(t.final, kPathCapacity, L"%s\\%s", folder, name.c_str()) < 0 ||
            FormatWide(t.kept, kPathCapacity, L"%s\\%s%s", folder, name.c_str(), kKeptSuffix) < 0)
            return false;
        list.push_back(t);
    }
    bool ok = true;
    for (Target& t : list) {
        // A kept file of a killed run is the original: where the target is gone it goes back first, so that
        // the target stands under its own name; beside a target it stays, as this run's kept file. A name
        // that leads out of the folder is never renamed: under Wine that would move what it leads to.
        if (LiesInside(t.kept, root)) {
            if (Interrupt(n))
                return !(interrupted = true);
            if (!Exists(t.final) && !MoveFileExW(t.kept, t.final, 0)) {
                ok = false;
                break;
            }
            t.keptAside = Exists(t.kept);
        }
        // An installed read-only archive is replaced too. A link at the target that leads out of the folder
        // is not kept: the move of the new file replaces the link itself, and what it leads to is not touched.
        t.readOnly = ClearReadOnlyInside(t.final, root);
        if (!t.keptAside && LiesInside(t.final, root)) {
            if (Interrupt(n))
                return !(interrupted = true);
            if (!MoveFileExW(t.final, t.kept, 0)) {
                ok = false;
                break;
            }
            t.keptAside = true;
        }
        if (Interrupt(n))
            return !(interrupted = true);
        if (!MoveNewFileIn(n, t)) {
            ok = false;
            break;
        }
        t.movedIn = true;
    }
    if (!ok) {
        RollBack(n, list, root, interrupted);
        return false;
    }
    for (Target& t : list) {
        if (!t.keptAside)
            continue;
        if (Interrupt(n))
            return !(interrupted = true);
        RemoveInside(t.kept, root);
    }
    return true;
}
