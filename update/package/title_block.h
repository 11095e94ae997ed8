// The title block: 1024 bytes at offset 0xA0000 of the updater's own file, holding its caption.
#pragma once
#include <string>
#include <vector>

// Fills `title` (kTitleBlockSize units) from the title block of `path`, or of this program's own file when
// path is null. 1 on success; 0 (title untouched) when the file cannot be opened or holds fewer than
// 1024 bytes at 0xA0000. A block without a NUL is read as its first 1023 bytes.
int ReadTitleBlock(wchar_t* title, const wchar_t* path = nullptr);
// The title block's bytes for a UTF-8 title: its code page 932 form, NUL, zeros to 1024 bytes. False with
// `error` (one line) when the title is empty, not UTF-8, without a faithful code page 932 form, or longer
// than 1023 bytes in it.
bool EncodeTitleBlock(const std::string& title, std::vector<unsigned char>& block, std::string& error);
