// The title block: 1024 bytes at offset 0xA0000 of the updater's own file, holding its caption.
#pragma once

// Fills `title` (kTitleBlockSize units) from the title block of `path`, or of this program's own file when
// path is null. 1 on success; 0 (title untouched) when the file cannot be opened or holds fewer than
// 1024 bytes at 0xA0000. A block without a NUL is read as its first 1023 bytes.
int ReadTitleBlock(wchar_t* title, const wchar_t* path = nullptr);
