// The payload's archive index as the updater reads it from its own file: header, count and records.
#include <vector>

#include "archive/archive_index.h"
#include "tests/fuzz/fuzz_support.h"
#include "util/fs/file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CFileDX file;
    FUZZ_CHECK(file.Open(InputFile(data, size).c_str()));
    ArchiveHeader header{};
    std::vector<ArchiveEntry> entries;
    if (!ReadArchiveIndex(header, entries, file))
        return 0;
    // An index is only read whole from the file: its records lie inside it, and each entry starts behind it.
    const uint64_t dataStart = kArchiveHeaderSize + static_cast<uint64_t>(header.count) * ArchiveRecordSize(header.magic);
    FUZZ_CHECK(entries.size() == header.count);
    FUZZ_CHECK(dataStart <= size);
    for (const ArchiveEntry& e : entries)
        FUZZ_CHECK(e.position >= dataStart && e.position - dataStart <= 0xFFFFFFFFull);
    return 0;
}
