// The install phase: every verified temporary file renamed over its target, all or nothing.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

class CFileDX;

// Each installed file is first kept aside under this suffix ("Archive\data01200.arc.kept"), so that a
// failed run can put it back. The package checks refuse targets of that form.
const wchar_t kKeptSuffix[] = L".kept";

// A verified file waiting to be installed: its temporary file, open since it was created, and the held
// folder and name it goes to.
struct PreparedFile {
    HANDLE folder = nullptr;
    std::wstring name;
    CFileDX* file = nullptr;  // open; renamed through this handle, so the bytes verified are the bytes moved
};

// Renames every prepared file over its target, in order, through its own handle. Before a rename replaces
// an installed file, that file is renamed aside to "<name>.kept" through a handle of its own. When any
// rename fails, every file this run moved in is deleted again (its handle closed) and every kept file put
// back, so the folder holds the installation the run found; a kept file that cannot be put back stays
// beside its target. On success the kept files are deleted and every prepared file stays open. A kept
// file left by a killed run is taken for the original: it is put back where its target is missing, and
// otherwise kept as this run's own. Nothing that leads out of `root` (the folder's final path) is kept,
// put back or deleted. True when every target was installed. `interrupted` is set when a test's fault
// stopped the run as a kill would, with nothing undone.
bool InstallTargets(const std::wstring& root, std::vector<PreparedFile>& files, bool& interrupted);

// Faults for the tests, counted from 1 over the run's moves of new files, its put-backs, and all of its
// file-system steps in the install phase; 0 never. The program itself never sets them.
struct InstallFaults {
    int failMove = 0;
    int failPutBack = 0;
    int interruptAtStep = 0;
};
void SetInstallFaults(const InstallFaults& faults);
