// Files and folders reached through an open folder handle and a bare name, never through a path string:
// what an elevated program writes in a folder that other users may change while it runs.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

// Opens a folder to hold it: listing and traversal, others may read and write in it, but nobody may
// rename or delete it while the handle is open. `parent` null: `name` is a full path, followed where it
// leads; otherwise a single name below `parent`, a link at it opened as itself where the system allows
// it. Null on failure, with GetLastError set.
HANDLE HoldFolder(HANDLE parent, const std::wstring& name);

// Opens the file `name` below `folder` as itself (never following a link where the system allows it)
// with `access` and sharing `share`. Null on failure, with GetLastError set (ERROR_FILE_NOT_FOUND when
// nothing stands there).
HANDLE OpenFileIn(HANDLE folder, const std::wstring& name, DWORD access, DWORD share);
// Creates a new file `name` below `folder` for writing, reading and deleting, exclusively; fails where
// anything stands at the name, a link included. Null on failure, with GetLastError set.
HANDLE CreateFileIn(HANDLE folder, const std::wstring& name);

// Renames the file open in `file` (with DELETE access) to `name` below `folder`. A file standing at
// the name is replaced only when `replace` is set; a link standing there is replaced as itself.
bool RenameHandle(HANDLE file, HANDLE folder, const std::wstring& name, bool replace);
// Deletes the name the handle was opened through (DELETE access). A read-only file loses that name
// too; when it has further names, its attributes end as they were.
bool DeleteHandle(HANDLE file);

// FILE_ATTRIBUTE_* of the open object, or INVALID_FILE_ATTRIBUTES.
DWORD AttributesOf(HANDLE file);
