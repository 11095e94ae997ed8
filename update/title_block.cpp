// Reading the updater's caption from its own file.
#include "update/title_block.h"

#include <windows.h>

#include <cwchar>
#include <string>

#include "update/package_layout.h"
#include "util/encoding.h"
#include "util/file.h"
#include "util/strings.h"

int ReadTitleBlock(wchar_t* title, const wchar_t* path)
{
    wchar_t ownPath[kFolderCapacity];
    if (!path) {
        DWORD n = GetModuleFileNameW(nullptr, ownPath, kFolderCapacity);
        if (n == 0 || n >= kFolderCapacity)
            return 0;
        path = ownPath;
    }
    CFileDX file;
    if (!file.Open(path))
        return 0;
    const uint32_t size = file.GetSize();
    if (size == 0xFFFFFFFF || size < kTitleBlockOffset)
        return 0;
    char block[kTitleBlockSize];
    file.Seek(kTitleBlockOffset);
    if (file.Read(block, kTitleBlockSize) != kTitleBlockSize)
        return 0;
    block[kTitleBlockSize - 1] = '\0';  // a block without its NUL is read as its first 1023 bytes
    std::wstring wide;
    if (!MultiByteToWide(block, wide) || wide.size() >= kTitleBlockSize)
        return 0;
    wmemcpy(title, wide.c_str(), wide.size() + 1);
    return 1;
}
