// The update driver: copies and verifies every payload entry, installs them, and updates the lists.
#pragma once
#include <cstdint>

#include "update/writer/held_installation.h"

// Holds the installation folder and every subfolder that the package in `packagePath` (null: this
// program's own file) writes in (update/writer/held_installation.h). The entry calls it as soon as the folder is
// known, before the user is asked, and keeps `held` until the run ends. For a delta package whose targets the
// installed version list doubts, it reads those targets' bytes too, and sets held.doesNotApply only when they
// confirm it; then what an interrupted run left is settled at once, since no run follows.
void HoldInstallationFor(const wchar_t* folder, const wchar_t* packagePath, HeldInstallation& held);
// Applies the update carried by the package in `packagePath` (null: this program's own file) to the held
// installation, driving the progress dialog in g_hProgressDlg and honouring g_cancelRequested and
// g_abortRequested. Returns a result code of update/package/package.h. Every temporary file that was not installed
// is removed before it returns.
uint32_t RunUpdate(HeldInstallation& held, const wchar_t* packagePath = nullptr);
// Holds the folder, then runs the update as the program does: for callers that ask nothing in between. A
// package told early not to apply ends there with kResultNotApplicable, as the program ends.
uint32_t HoldAndRunUpdate(const wchar_t* folder, const wchar_t* packagePath);
