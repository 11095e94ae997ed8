// The file operations of the Windows file layer, in one table: whatever the elevated updater creates, writes,
// flushes, renames, changes or deletes goes through g_fileOps. The program uses the system's operations; a
// test may put its own in front of them to number every operation of a run, stop a run after one as a kill
// would (every later operation failing without effect), or fail one. The logic itself carries no test hooks.
// Beside the table, the one call into ntdll that opens a name relative to a folder handle.
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
    // Commits the entries of the open folder: a rename below it reaches the disk with it. Until then a power
    // cut may take the rename back while data flushed earlier, or a file saved in another folder, stays.
    bool (*flushFolder)(HANDLE folder);
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

// What OpenRelative opens at a name, and what it does with a link standing there.
enum class RelativeKind { File, Folder, Either };
enum class LinkRule { AsItself, Followed };
// One NtCreateFile of the single name `name` below `folder` (no "\" or "/"): an existing object, or with
// `create` a new file where nothing stands, a link included. A link at the name is opened as itself where the
// system allows it (LinkRule::AsItself), or followed. Null on failure, with GetLastError set
// (ERROR_FILE_NOT_FOUND when nothing stands there, ERROR_INVALID_NAME for a name that is not single).
HANDLE OpenRelative(HANDLE folder, const std::wstring& name, DWORD access, DWORD share, bool create, RelativeKind kind,
                    LinkRule links = LinkRule::AsItself);
// The object's own name as the system keeps it, in its DOS form ("\\?\C:\x"), at any length. False when it
// cannot be asked or has no DOS form (a name under a device rather than a drive letter).
bool ObjectPathOf(HANDLE handle, std::wstring& path);
