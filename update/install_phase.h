// The install phase: every verified temporary file moved over its target, all or nothing.
#pragma once
#include <string>
#include <vector>

// Each installed file is first kept aside under this suffix ("Archive\data01200.arc.kept"), so that a
// failed run can put it back. The package checks refuse targets of that form.
const wchar_t kKeptSuffix[] = L".kept";

// Moves "<folder>\<target>.tmp" over "<folder>\<target>" for every non-empty target, in order. Before a
// move replaces an installed file, that file is renamed aside to "<target>.kept". When any move fails,
// every file this run moved in is taken out again and every kept file put back, so the folder holds the
// installation the run found; a kept file that cannot be put back stays beside its target. On success the
// kept files are deleted. A kept file left by a killed run is taken for the original: it is put back
// where its target is missing, and otherwise kept as this run's own. `root` is the folder's final path.
// True when every target was installed. `interrupted` is set when a test's fault stopped the run as a
// kill would, with nothing undone.
bool InstallTargets(const wchar_t* folder, const std::wstring& root, const std::vector<std::wstring>& targets,
                    bool& interrupted);

// Faults for the tests, counted from 1 over the run's moves of new files, its put-backs, and all of its
// file-system steps in the install phase; 0 never. The program itself never sets them.
struct InstallFaults {
    int failMove = 0;
    int failPutBack = 0;
    int interruptAtStep = 0;
};
void SetInstallFaults(const InstallFaults& faults);
