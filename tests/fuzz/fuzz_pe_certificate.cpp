// The PE headers `mkupdate list` reads to find an Authenticode certificate table: the input is the start of
// an updater file, behind it an empty payload. A certificate it reports lies inside the file.
#include <string>

#include "tests/fuzz/fuzz_support.h"
#include "tools/package_reader.h"
#include "update/package/package_layout.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > kTitleBlockOffset)
        size = kTitleBlockOffset;
    // The title block's zeros up to the payload, then an index of no entries: a file mkupdate lists.
    const std::string index("VORLAN ARC20\0\0\0\0", 16);
    UpdaterContents contents;
    std::string error;
    if (!ReadUpdaterFile(InputFile(data, size, 0, index, "input", kPayloadOffset), contents, error))
        return 0;
    // The file is what this harness wrote, whatever the reader says of its size.
    const uint64_t fileSize = kPayloadOffset + index.size();
    FUZZ_CHECK(contents.fileSize == fileSize);
    if (contents.hasCertificate)
        FUZZ_CHECK(contents.certificateSize > 0 &&
                   static_cast<uint64_t>(contents.certificateOffset) + contents.certificateSize <= fileSize);
    return 0;
}
