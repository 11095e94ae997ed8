// The install phase: every verified temporary file renamed over its target, all or nothing.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "update/package/package_layout.h"
#include "util/base/handles.h"

class CFileDX;

// A verified file waiting to be installed: its temporary file, open since it was created, the held folder
// and name it goes to, and what the installation's version list records for that target.
struct PreparedFile {
    HANDLE folder = nullptr;
    std::wstring name;
    CFileDX* file = nullptr;  // open; renamed through this handle, so the bytes verified are the bytes moved.
                              // Null for a target installed already: nothing moves, its leftover is judged.
    bool keptListed = true;   // a "<name>.kept" stood there when the run began (false: none to judge)
    bool recorded = false;    // the installed version list has a record for the target...
    uint64_t recordedValue = 0;  // ...with this checksum, in its stored form
    UniqueHandle kept;        // set by InstallTargets: the original, standing under "<name>.kept"
};

// Renames every prepared file over its target, in order, through its own handle. Before a rename replaces
// an installed file, that file is renamed aside to "<name>.kept" through a handle of its own, attributes
// untouched. A "<name>.kept" found beforehand is the original only when it is what an interrupted run left:
// its content has the checksum the version list records for the target, while the target's has not. Then
// it goes back where the target is missing, and is kept as this run's own beside one; any other is a
// leftover and is deleted, never put back. When any rename fails, every file this run moved in is deleted
// again (its handle closed) and every kept file put back, so the folder holds the installation the run
// found; a kept file that cannot be put back stays beside its target. Nothing that leads out of `root`
// (the folder's final path) is kept, put back or deleted. kResultSuccess, or kResultInstallFailed.
uint32_t InstallTargets(const std::wstring& root, std::vector<PreparedFile>& files);
// Deletes the kept originals of a complete install, once its lists are saved. One that cannot be deleted
// stays; the next run judges it by its content.
void RemoveKeptOriginals(std::vector<PreparedFile>& files);
