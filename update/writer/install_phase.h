// The install phase: every verified temporary file renamed over its target, all or nothing.
#pragma once
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "update/package/package_layout.h"
#include "util/base/handles_win.h"

class CFileDX;

// A file of the installation that a run settles: a verified file waiting to be installed (its temporary
// file, open since it was created), a target installed already, or a file the installed version list
// records beside which an interrupted run may have left its own files. The held folder and name it lies at,
// and what the installation's version list records for it.
struct PreparedFile {
    HANDLE folder = nullptr;
    std::wstring name;
    std::wstring path;  // below the installation folder, where known (a refused run's files)
    CFileDX* file = nullptr;  // open; renamed through this handle, so the bytes verified are the bytes moved.
                              // Null when nothing moves: the target is installed already, or the file is
                              // no target of the package.
    bool installs = true;     // this run installs the name (moves `file` in, or finds the target there)
    bool keptListed = true;   // a "<name>.kept" stood there when the run began (false: none to judge)
    bool tempListed = false;  // a "<name>.tmp" that is not this run's stood there: it is removed
    bool recorded = false;    // the installed version list has a record for the name...
    uint64_t recordedValue = 0;  // ...with this checksum, in its stored form
    // What the run's patch decision learnt by reading the name and its kept file (a target with deltas);
    // read here when unknown.
    bool nameRead = false, nameStands = false;
    uint64_t nameChecksum = 0;
    bool keptRead = false, keptStands = false;
    uint64_t keptChecksum = 0;
    bool patchedFromKept = false;  // the kept file is the base this run patched from (or, identical, the target)
    bool putBack = false;          // set by the judgement: an original goes back under the name (SettleLeftovers:
                                   // held in `kept` until PutBackOriginals; InstallTargets: gone back)
    bool linkAtName = false;       // set by the install: a link stood at the name, replaced as itself
    bool putBackLater = false;     // an original goes back only when PutBackOriginals is called
    // The file the decision was made on (the target, or with patchedFromKept its kept original), held
    // sharing reading alone since it was checksummed; renamed through this handle, closed once the lists are
    // saved or before a rollback puts an original back over it.
    std::unique_ptr<CFileDX> decided;
    UniqueHandle kept;        // the original, standing under "<name>.kept": this run's own (InstallTargets), or
                              // one that goes back (SettleLeftovers)
    UniqueHandle stale;       // a stale "<name>.kept" left until the lists are saved (the run needs not its name)
};

// Renames every prepared file over its target, in order, through its own handle. First every "<name>.kept"
// and "<name>.tmp" an interrupted run left is judged: a temporary file is removed; a kept file is the
// original by KeptIsOriginal (patch_targets.h), else stale: deleted at once where the run keeps the installed
// file aside under its name, else once the lists are saved (RemoveKeptOriginals). An original stays aside as
// this run's own where the run installs the name, and goes back under the name otherwise. Then, before a rename
// replaces an installed file, that file is renamed aside to "<name>.kept" through a handle of its own,
// attributes untouched; a link at the name is not kept, the rename replaces it as itself. When any rename
// fails, every file this run moved in is deleted again (its handle closed) and every kept file put back, so
// the folder holds the installation the run found; a kept file that cannot be put back stays beside its
// target. Nothing that leads out of `root` (the folder's final path) is kept, put back or deleted.
// kResultSuccess, or kResultInstallFailed.
uint32_t InstallTargets(const std::wstring& root, std::vector<PreparedFile>& files);
// Judges the leftovers beside `files` as InstallTargets does, for a run that installs nothing: temporary
// files and stale kept files go, and every original is held to go back under its name (putBack set), which
// PutBackOriginals does once the version list records it: a run stopped in between finds each original
// still aside and recorded, so it is judged the original again. Every file is settled, whatever another's
// outcome; false when one could not be.
bool SettleLeftovers(const std::wstring& root, std::vector<PreparedFile>& files);
// Renames every original SettleLeftovers held back under its name, and commits the renames. False when one
// could not go back; it stays aside, for the next run to judge.
bool PutBackOriginals(std::vector<PreparedFile>& files);
// Deletes the kept originals of a complete install, once its lists are saved, and lets the decided files go.
// One that cannot be deleted stays; the next run judges it by its content.
void RemoveKeptOriginals(std::vector<PreparedFile>& files);
