// A version list as the updater reads the payload's (inside its entry, at most the entry's bytes): what it
// reads, written again by the writer, reads back the same.
#include <cstring>
#include <vector>

#include "archive/version_list.h"
#include "tests/fuzz/fuzz_support.h"
#include "util/fs/file.h"

namespace {

bool Read(const uint8_t* data, size_t size, uint64_t limit, VersionListHeader& header, std::vector<VersionRecord>& records,
          const char* name)
{
    CFileDX file;
    FUZZ_CHECK(file.Open(InputFile(data, size, 0, std::string(), name).c_str()));
    return ReadVersionList(header, records, file, limit);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The first byte says how much of the rest the entry holds: lists that reach past their entry are refused.
    if (size < 1)
        return 0;
    const uint64_t limit = data[0] == 0xFF ? UINT64_MAX : (size - 1) * data[0] / 0xFE;
    VersionListHeader header{};
    std::vector<VersionRecord> records;
    if (!Read(data + 1, size - 1, limit, header, records, "list"))
        return 0;
    const uint32_t recordSize = VersionRecordSize(header.magic);
    FUZZ_CHECK(recordSize != 0 && records.size() == header.count);
    FUZZ_CHECK(kVersionHeaderSize + static_cast<uint64_t>(header.count) * recordSize <= std::min<uint64_t>(limit, size - 1));

    std::vector<unsigned char> written;
    if (!EncodeVersionList(header, records, written))
        return 0;  // a name whose stored form would not fit: the updater does not save such a list
    VersionListHeader again{};
    std::vector<VersionRecord> back;
    FUZZ_CHECK(Read(written.data(), written.size(), UINT64_MAX, again, back, "written"));
    FUZZ_CHECK(memcmp(again.magic, header.magic, sizeof header.magic) == 0 && again.reserved == header.reserved &&
               again.count == header.count);
    for (size_t i = 0; i < records.size(); ++i)
        FUZZ_CHECK(back[i].name == records[i].name && back[i].value == records[i].value);
    return 0;
}
