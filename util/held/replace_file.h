// Replacing a file's whole contents so that it is never seen half-written.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "util/held/contained_files.h"

// Writes `size` bytes to a new file "<name>.new" beside `name` below the held `folder`, forces them to the
// disk, and renames the new file, through its handle, over `name` only when every byte was written. True
// on success; on any failure the old file is unchanged and the new one is removed (a read-only target
// among them: Windows refuses to replace one, so callers ask first). The new file must lie below `root` (the folder's
// final path); a link standing at either name is replaced, never written through.
bool ReplaceFileIn(HANDLE folder, const std::wstring& name, const void* data, uint32_t size, const std::wstring& root);
