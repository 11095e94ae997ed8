// Finding the installed game: one registry value under the game's own key.
#pragma once
#include <cstddef>

// Reads HKLM\Software\<vendor>\<title>, value "InstalledFolder" (REG_SZ only), into `folder`, a buffer of
// kFolderCapacity units, with one pair of surrounding double quotes removed. 1 when a folder was stored;
// 0 otherwise (missing key or value, another type, a value that does not fit), with `folder` unchanged.
int GetInstalledFolder(wchar_t* folder, const wchar_t* vendor, const wchar_t* title);
