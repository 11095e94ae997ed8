// Writing inside a folder that other users may write to, from an elevated program: nothing is written,
// deleted or changed through a link that leads out of the folder.
#pragma once
#include <string>

class CFileDX;

// Removes what stands at `path` when it lies below `root` (a final path): a file, or a link as itself
// where the system can open a link as itself. Never follows a link to delete or change its target. True
// when nothing stands there afterwards; false when something stays (a link out of the folder that cannot be
// opened as itself, a locked file, a folder).
bool RemoveInside(const wchar_t* path, const std::wstring& root);

// Creates a new, empty file at `path` and opens it in `file` (CFileDX::kCreateNew). Whatever stood there
// is removed first; a link that cannot be removed is replaced by renaming a new file of this program's
// over it ("<path>.new"), and a rename replaces a link, never its target. The open file's final path must
// lie below `root`: a file that would lie outside gets no byte and is deleted again. False when the file
// would lie outside, or the name cannot be taken.
bool CreateInside(CFileDX& file, const wchar_t* path, const std::wstring& root);

// True when something stands at `path` and what it reaches lies below `root`. Under Wine a rename or a
// delete by the name of a link acts on the link's target, so only such names may be renamed or deleted.
bool LiesInside(const wchar_t* path, const std::wstring& root);

// Clears (or sets) the read-only attribute of the file at `path` if it lies below `root`, so that a move
// can replace it (or so that a file put back is as it was). A link out of the folder is left as it is, and
// so is its target. ClearReadOnlyInside is true when the file was read-only.
bool ClearReadOnlyInside(const wchar_t* path, const std::wstring& root);
void SetReadOnlyInside(const wchar_t* path, const std::wstring& root);
