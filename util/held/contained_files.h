// Writing inside a folder that other users may write to, from an elevated program: every file is reached
// through a held folder handle and a single name, and nothing is written, deleted or changed through a link
// that leads out of the folder.
#pragma once
#include <windows.h>

#include <string>

#include "util/fs/relative_path.h"
#include "util/fs/relative_reads_win.h"

class CFileDX;

// Removes what stands at `name` below the held `folder` when it lies below `root` (the folder's final
// path): a file, or a link as itself where the system can open a link as itself. Never follows a link to
// delete or change its target, and never changes the attributes of a file with further names. True when
// nothing stands there afterwards; false when something stays (a link out of the folder that cannot be
// opened as itself, a locked file, a folder).
bool RemoveIn(HANDLE folder, const std::wstring& name, const std::wstring& root);

// Creates a new, empty file at `name` below the held `folder` and opens it in `file` (CreateNewIn).
// Whatever stood there is removed first; a link that cannot be removed is replaced by renaming a new file
// of this program's over it ("<name>.new"), and a rename replaces a link, never its target. The open
// file's final path must lie below `root`: a file that would lie outside gets no byte and is deleted again.
// False when the file would lie outside, or the name cannot be taken.
bool CreateOver(CFileDX& file, HANDLE folder, const std::wstring& name, const std::wstring& root);
