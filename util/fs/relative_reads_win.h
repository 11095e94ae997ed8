// Files and folders looked at through an open folder handle and a bare name, never through a path string,
// and the final paths that prove where a handle leads: what the installation folder's reader needs, and
// what the elevated writer (util/held) builds on. Nothing here creates, writes, renames or deletes.
#pragma once
#include <windows.h>

#include <string>

#include "util/base/handles_win.h"

class CFileDX;

// Sharing that lets others do anything, for opens that only look or that must not stand in anybody's way.
const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// True for the errors that say nothing stands at a name: the name, or a folder on its way, is missing.
inline bool IsNotFound(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// `path` (a full path) in the form the system takes at any length: "\\?\C:\x", "\\?\UNC\server\x".
std::wstring ExtendedPath(const std::wstring& path);

// Opens a folder to hold it: listing and traversal, others may read and write in it, but nobody may
// rename or delete it while the handle is open. `parent` null: `name` is a full path, followed where it
// leads; otherwise a single name below `parent`, a link at it opened as itself where the system allows
// it. Null on failure, with GetLastError set.
HANDLE HoldFolder(HANDLE parent, const std::wstring& name);
// Holds `folder` (a full path) open as HoldFolder does, and takes its final path.
bool HoldFolderAt(const wchar_t* folder, UniqueHandle& held, std::wstring& root);

// Opens the subfolder `name` below `folder` to look in it (listing and traversal), links followed as a path
// would follow them, others free to do anything meanwhile: for reading, never for writing. Null on failure.
HANDLE LookUpIn(HANDLE folder, const std::wstring& name);
// FILE_ATTRIBUTE_* of what stands at the single name `name` below `folder` (a link as itself where the
// system allows it, as GetFileAttributesW answers by path), or INVALID_FILE_ATTRIBUTES when nothing does.
DWORD AttributesIn(HANDLE folder, const std::wstring& name);

// Opens the file `name` below `folder` as itself (never following a link where the system allows it)
// with `access` and sharing `share`. Null on failure, with GetLastError set (ERROR_FILE_NOT_FOUND when
// nothing stands there).
HANDLE OpenFileIn(HANDLE folder, const std::wstring& name, DWORD access, DWORD share);
// The same for a CFileDX: reads `name` below `folder`, sharing reading. 1 on success, 0 otherwise (also when
// `file` is open already).
int OpenIn(CFileDX& file, HANDLE folder, const std::wstring& name);

// FILE_ATTRIBUTE_* of the open object, or INVALID_FILE_ATTRIBUTES.
DWORD AttributesOf(HANDLE file);

// The final path of what an open handle reaches ("\\?\C:\Games\x"), links and short names resolved, at any
// length. False when it cannot be resolved.
bool FinalPathOf(HANDLE handle, std::wstring& path);
// True when the object the handle reaches has a final path strictly below `root` (a folder's final path).
bool IsHandleInside(HANDLE handle, const std::wstring& root);
// The same for the file a CFileDX holds.
bool IsInside(CFileDX& file, const std::wstring& root);
// True when the handle reaches a file that is no link of any kind (no reparse point) and whose final path
// is `path` (in any case).
bool IsItselfAt(CFileDX& file, const std::wstring& path);
// The same for a handle and the name `name` it was opened through below `folder`: true when it reaches that
// entry itself, not what a link there leads to (Wine follows a link even when asked not to).
bool IsItselfIn(HANDLE file, HANDLE folder, const std::wstring& name);
