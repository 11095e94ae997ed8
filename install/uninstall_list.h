// The game's uninstall list ("uninst.lst"): one path per line, extended with what an update installed.
#pragma once
#include <string>
#include <vector>

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
// Replaces the file at path with the formatted list; false (old file unchanged) when that fails.
// `root` as for ReplaceFileContents.
bool WriteUninstallList(const wchar_t* path, const UninstallGroups& groups, const std::wstring& root = std::wstring());
// The uninstall list's new bytes: "<folder>\uninst.lst" read completely, each non-empty target name added
// to the file group. False when the list is missing, cannot be read completely, or leads out of `root`
// (the folder's final path; empty: resolved now).
bool PlanUninstallList(const wchar_t* folder, const std::vector<std::wstring>& targetNames, const std::wstring& root,
                       std::string& text);
// Reads "<folder>\uninst.lst" completely, adds each non-empty target name to the file group, and writes
// the list back. False when the list is missing, cannot be read completely, leads out of `root` (the
// folder's final path; empty: resolved now), or cannot be replaced.
bool UpdateUninstallList(const wchar_t* folder, const std::vector<std::wstring>& targetNames,
                         const std::wstring& root = std::wstring());
