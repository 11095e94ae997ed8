// Replacing a file's whole contents so that it is never seen half-written.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "util/held/contained_files.h"

// True when the file `name` below the held `folder` is read-only: Windows refuses to replace it, and so
// does ReplaceFileIn.
bool IsReadOnlyIn(HANDLE folder, const std::wstring& name);

// Writes `size` bytes to a new file "<name>.new" beside `name` below the held `folder`, forces them to the
// disk, and renames the new file, through its handle, over `name` only when every byte was written. True
// on success; on any failure the old file is unchanged and the new one is removed. A read-only target is
// refused, as Windows itself refuses to replace one. The new file must lie below `root` (the folder's
// final path); a link standing at either name is replaced, never written through.
bool ReplaceFileIn(HANDLE folder, const std::wstring& name, const void* data, uint32_t size, const std::wstring& root);
