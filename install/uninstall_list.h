// The game's uninstall list ("uninst.lst"): one path per line, extended with what an update installed.
#pragma once
#include <string>
#include <vector>

#include "util/fs/system_names.h"

class FolderReader;


// The list in memory: lines normalised to UTF-8 with ASCII capitals lowered, each group in first-seen
// order without duplicates. Lines beginning with "$" form the dollar group, written after the file group.
struct UninstallGroups {
    std::vector<std::string> files;
    std::vector<std::string> dollars;
};

// Appends the lines of a NUL-terminated text. Lines end at CR, LF or any run of them; blanks and tabs that
// open a line are dropped; empty lines vanish; lines of any length are kept whole.
void ParseUninstallList(const char* text, UninstallGroups& groups);
// The file's bytes: every file line then every dollar line, each followed by LF, then one NUL.
std::string FormatUninstallList(const UninstallGroups& groups);
// The uninstall list's new bytes: "uninst.lst" in the installation `folder` read completely, each
// non-empty target name added to the file group. False when the list is missing, cannot be read
// completely, or leads out of the folder.
bool PlanUninstallList(const FolderReader& folder, const std::vector<std::wstring>& targetNames, std::string& text);
