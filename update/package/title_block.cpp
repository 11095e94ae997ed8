// The updater's caption in its own file: read by the updater, written by the package builder.
#include "update/package/title_block.h"

#include <cstring>
#include <cwchar>
#include <string>

#include "update/package/package_layout.h"
#include "util/fs/file.h"
#include "util/text/code_page.h"
#include "util/text/encoding.h"
#include "util/text/strings.h"

int ReadTitleBlock(wchar_t* title, const wchar_t* path)
{
    std::wstring ownPath;
    if (!path) {
        if (!OwnProgramPath(ownPath))
            return 0;
        path = ownPath.c_str();
    }
    CFileDX file;
    if (!file.Open(path))
        return 0;
    const uint32_t size = file.GetSize();
    if (size == 0xFFFFFFFF || size < kTitleBlockOffset)
        return 0;
    char block[kTitleBlockSize];
    if (!file.Seek(kTitleBlockOffset) || file.Read(block, kTitleBlockSize) != kTitleBlockSize)
        return 0;
    block[kTitleBlockSize - 1] = '\0';  // a block without its NUL is read as its first 1023 bytes
    std::wstring wide;
    if (!MultiByteToWide(block, wide) || wide.size() >= kTitleBlockSize)
        return 0;
    wmemcpy(title, wide.c_str(), wide.size() + 1);
    return 1;
}

bool EncodeTitleBlock(const std::string& title, std::vector<unsigned char>& block, std::string& error)
{
    std::wstring wide, back;
    std::string stored;
    if (title.empty() || !BytesToUtf16(CodePage::Utf8, title.c_str(), true, wide)) {
        error = "the title must be non-empty UTF-8 text";
        return false;
    }
    if (!WideToMultiByte(wide.c_str(), Encoding::Native, stored, true) || !MultiByteToWide(stored.c_str(), back) ||
        back != wide) {
        error = "the title has no faithful Shift-JIS (code page 932) form";
        return false;
    }
    if (stored.size() > kTitleBlockSize - 1) {
        error = "the title is " + std::to_string(stored.size()) + " bytes in code page 932; at most 1023 fit";
        return false;
    }
    block.assign(kTitleBlockSize, 0);
    memcpy(block.data(), stored.data(), stored.size());
    return true;
}
