// Replacing a file's whole contents so that it is never seen half-written.
#pragma once
#include <cstdint>

// Writes `size` bytes to a new file beside `path` and moves it over `path` only when every byte was
// written. True on success; on any failure the old file is unchanged and the new one is removed. A
// read-only target is refused, as Windows itself refuses to replace one.
bool ReplaceFileContents(const wchar_t* path, const void* data, uint32_t size);
