// The rules for names below the installation folder: which say where a file may go, and the name a
// whole-file replacement writes its new file under.
#pragma once
#include <string>
#include <vector>

#include "util/fs/system_names.h"

// True when `path` stays inside the folder it is relative to: not empty; no drive, no ":" anywhere (no
// alternate streams); no leading separator; no empty, "." or ".." part; no part ending in a dot or a blank
// (Windows would drop them and alias another name); no reserved device name (CON, PRN, AUX, NUL, COM1-9,
// LPT1-9, with or without an extension). Both "\" and "/" separate parts.
bool IsSafeRelativePath(const std::wstring& path);

// The one rule for "do these two names below the installation folder reach one file", as Windows resolves
// them: "\" and "/" alike, empty and "." parts dropped, every letter in Windows' own upper case (non-ASCII
// ones too). RelativePathKey is the name in that form, for keeping names in a map; SameRelativePath compares
// two by it. The UTF-8 form takes the names as version records and uninstall lines hold them (Shift-JIS read
// too).
std::wstring RelativePathKey(const std::wstring& name);
bool SameRelativePath(const std::wstring& a, const std::wstring& b);
bool SameRelativePath(const std::string& a, const std::string& b);

// The parts of a relative name as the system reads a path: "\" and "/" separate, empty parts and "." name
// the folder they stand in, ".." its parent, and the dots and blanks that end a part are dropped. False
// when the name leads above the folder or names a drive or a stream (a ":"): nothing below the folder.
bool RelativePathParts(const std::wstring& name, std::vector<std::wstring>& parts);
