// The rules for names below the installation folder: which say where a file may go, and the name a
// whole-file replacement writes its new file under.
#pragma once
#include <string>

// True when `path` stays inside the folder it is relative to: not empty; no drive, no ":" anywhere (no
// alternate streams); no leading separator; no empty, "." or ".." part; no part ending in a dot or a blank
// (Windows would drop them and alias another name); no reserved device name (CON, PRN, AUX, NUL, COM1-9,
// LPT1-9, with or without an extension). Both "\" and "/" separate parts.
bool IsSafeRelativePath(const std::wstring& path);

// The one comparison of two names below the installation folder, as Windows resolves them to a file: "\" and
// "/" alike, empty and "." parts dropped, every letter compared in Windows' own upper case (non-ASCII ones
// too). The UTF-8 form takes the names as version records and uninstall lines hold them (Shift-JIS read too).
bool SameRelativePath(const std::wstring& a, const std::wstring& b);
bool SameRelativePath(const std::string& a, const std::string& b);

// The suffix of a new file written beside a name and then renamed over it ("<name>.new"): the lists' new
// files, and the file that replaces a link standing at a name.
const wchar_t kReplacementSuffix[] = L".new";
