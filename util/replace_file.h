// Replacing a file's whole contents so that it is never seen half-written.
#pragma once
#include <cstdint>
#include <string>

// Writes `size` bytes to a new file "<path>.new" beside `path`, forces them to the disk, and moves the new
// file over `path` only when every byte was written. True on success; on any failure the old file is
// unchanged and the new one is removed. A read-only target is refused, as Windows itself refuses to replace
// one. The new file must lie below `root` (a final path; empty: the folder that holds `path`, resolved
// now); a link standing at either name is replaced, never written through.
bool ReplaceFileContents(const wchar_t* path, const void* data, uint32_t size, const std::wstring& root = std::wstring());
