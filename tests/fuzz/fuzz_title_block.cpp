// The title block at 0xA0000 of the updater's own file, read as the updater reads its caption: what it
// reads, encoded again by the package builder, reads back the same.
#include <string>
#include <vector>

#include "tests/fuzz/fuzz_support.h"
#include "update/package/package_layout.h"
#include "update/package/title_block.h"
#include "util/text/encoding.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    wchar_t title[kTitleBlockSize];
    if (!ReadTitleBlock(title, InputFile(data, std::min<size_t>(size, kTitleBlockSize + 16), kTitleBlockOffset).c_str()))
        return 0;
    std::string utf8;
    std::vector<unsigned char> block;
    std::string error;
    if (!WideToMultiByte(title, Encoding::Utf8, utf8, true) || !EncodeTitleBlock(utf8, block, error))
        return 0;  // a title the builder would refuse
    FUZZ_CHECK(block.size() == kTitleBlockSize);
    wchar_t again[kTitleBlockSize];
    FUZZ_CHECK(ReadTitleBlock(again, InputFile(block.data(), block.size(), kTitleBlockOffset, std::string(), "again").c_str()));
    FUZZ_CHECK(std::wstring(again) == std::wstring(title));
    return 0;
}
