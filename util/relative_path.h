// The rule for names that say where a file goes below the installation folder.
#pragma once
#include <string>

// True when `path` stays inside the folder it is relative to: not empty; no drive, no ":" anywhere (no
// alternate streams); no leading separator; no empty, "." or ".." part; no part ending in a dot or a blank
// (Windows would drop them and alias another name); no reserved device name (CON, PRN, AUX, NUL, COM1-9,
// LPT1-9, with or without an extension). Both "\" and "/" separate parts.
bool IsSafeRelativePath(const std::wstring& path);
