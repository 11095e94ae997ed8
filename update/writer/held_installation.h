// The installation folder as one run holds it: the folder and every subfolder the run writes in, open
// without delete sharing from before the user is asked until the run ends, so that no other process can
// rename, delete or replace them in between. Every file the run writes is reached through these handles.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "util/base/handles_win.h"

struct HeldFolder {
    std::wstring path;  // below the installation folder, "\" separators, as the targets spell it
    UniqueHandle handle;
};

struct HeldInstallation {
    std::wstring folder;  // as registered
    std::wstring root;    // its final path, taken from the held handle
    UniqueHandle handle;
    std::vector<HeldFolder> subfolders;
    // kResultInstallFailed when the folder, or a subfolder a target lies in, is missing, is a link or
    // leads out of the folder: nothing may be written then.
    uint32_t result = 0;
    // A delta package whose targets the installed version list shows it cannot patch nor copy: the player
    // is told so rather than asked.
    bool doesNotApply = false;
};

// Holds `folder` alone, as a start: held.result stays kResultInstallFailed until HoldInstallation has held
// the targets' folders too. False when the folder cannot be held.
bool HoldInstallationFolder(const wchar_t* folder, HeldInstallation& held);
// Holds `folder` (unless it is held already) and every folder on the way to each target (paths below it, "\" separators).
// Returns held.result.
uint32_t HoldInstallation(const wchar_t* folder, const std::vector<std::wstring>& targets, HeldInstallation& held);
// The held folder that a target lies in, and the target's own name in it. Null when that folder is not
// held (or the installation is not).
HANDLE FolderOf(const HeldInstallation& held, const std::wstring& target, std::wstring& name);
