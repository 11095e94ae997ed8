// The elevated writer's file operations, in one table: whatever the updater creates, writes, flushes,
// renames, changes or deletes goes through g_fileOps. The program uses the system's operations; a test may
// put its own in front of them to number every operation of a run, stop a run after one as a kill would
// (every later operation failing without effect), or fail one. The logic itself carries no test hooks.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

struct FileOps {
    // A new file `name` below `folder`, exclusively, for reading, writing and deleting (CreateFileIn).
    HANDLE (*create)(HANDLE folder, const std::wstring& name);
    // One write; the count written, 0 when the call fails.
    uint32_t (*write)(HANDLE file, const void* data, uint32_t size);
    bool (*flush)(HANDLE file);
    // Renames the open file to `name` below `folder` (RenameHandle).
    bool (*rename)(HANDLE file, HANDLE folder, const std::wstring& name, bool replace);
    bool (*setAttributes)(HANDLE file, DWORD attributes);
    // Marks the open file for deletion when its last handle closes.
    bool (*remove)(HANDLE file);
    // Closes a handle; not an operation on the disk, but the end of what was written through it.
    void (*close)(HANDLE file);
};

extern FileOps g_fileOps;
// The system's operations, which g_fileOps holds unless a test put its own in front of them.
const FileOps& SystemFileOps();
