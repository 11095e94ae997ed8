// Files reached through an open folder handle and a bare name, never through a path string: what an
// elevated program creates, renames and deletes in a folder that other users may change while it runs
// (what it only looks at is util/fs/relative_reads_win.h's). Every create, write, flush, rename, attribute
// change and delete goes through g_fileOps (util/fs/file_ops_win.h).
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "util/fs/relative_reads_win.h"

class CFileDX;

// Creates a new file `name` below `folder` for writing, reading and deleting, exclusively; fails where
// anything stands at the name, a link included. Null on failure, with GetLastError set.
HANDLE CreateFileIn(HANDLE folder, const std::wstring& name);

// Renames the file open in `file` (with DELETE access) to `name` below `folder`. A file standing at
// the name is replaced only when `replace` is set; a link standing there is replaced as itself.
bool RenameHandle(HANDLE file, HANDLE folder, const std::wstring& name, bool replace);
// Commits the renames made below `folder` (g_fileOps.flushFolder). A file system that cannot flush a
// folder's entries (a share that refuses it) commits them its own way; callers take false as no failure.
bool FlushFolder(HANDLE folder);
// Deletes the name the handle was opened through (DELETE access). A read-only file loses that name
// too; when it has further names, its attributes end as they were.
bool DeleteHandle(HANDLE file);

// The same for the file a CFileDX holds. CreateNewIn makes a new file where nothing stands (CreateFileIn);
// MoveTo renames it (RenameHandle); DeleteWhenClosed deletes it (DeleteHandle). 1 on success, 0 otherwise
// (also when CreateNewIn finds it open).
int CreateNewIn(CFileDX& file, HANDLE folder, const std::wstring& name);
int MoveTo(CFileDX& file, HANDLE folder, const std::wstring& name, bool replace);
int DeleteWhenClosed(CFileDX& file);
