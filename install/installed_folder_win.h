// Finding the installed game: one registry value under the game's own key.
#pragma once
#include <cstddef>

// The game's own key: HKLM\Software\Kovo\硝子の羽を数えて.
const wchar_t kGameVendor[] = L"Kovo";
const wchar_t kGameTitle[] = L"\u785D\u5B50\u306E\u7FBD\u3092\u6570\u3048\u3066";

// Reads HKLM\Software\<vendor>\<title>, value "InstalledFolder" (REG_SZ only), into `folder`, a buffer of
// kFolderCapacity units, with one pair of surrounding double quotes removed. 1 when a folder was stored;
// 0 otherwise (missing key or value, another type, a value that does not fit), with `folder` unchanged.
int GetInstalledFolder(wchar_t* folder, const wchar_t* vendor, const wchar_t* title);

// An empty or relative folder would send every write to wherever the current directory or drive happens
// to be: only a drive path ("C:\...") or a UNC path names an installation.
bool IsAbsoluteFolder(const wchar_t* folder);
