// The delta table as the updater reads it from its payload: what it accepts has the count its size says and
// encodes back to the same bytes. Each input is read as it is and again with its records' checksum made
// right, so that mutations of the records reach the record decoding rather than stopping at the checksum.
#include <cstring>
#include <string>
#include <vector>

#include "archive/checksum.h"
#include "archive/delta_table.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

void CheckTable(const uint8_t* data, size_t size)
{
    std::vector<DeltaRecord> records;
    std::string problem;
    if (!DecodeDeltaTable(data, size, records, problem)) {
        FUZZ_CHECK(!problem.empty() && records.empty());
        return;
    }
    FUZZ_CHECK(records.size() <= kMaxDeltaRecords && size == kDeltaTableHeaderSize + records.size() * kDeltaRecordSize);
    std::vector<unsigned char> again;
    if (!EncodeDeltaTable(records, again))
        return;  // a name read as UTF-8 whose stored form no longer fits: the builder never writes one
    std::vector<DeltaRecord> back;
    FUZZ_CHECK(DecodeDeltaTable(again.data(), again.size(), back, problem) && back.size() == records.size());
    for (size_t i = 0; i < records.size(); ++i) {
        const DeltaRecord &a = records[i], &b = back[i];
        FUZZ_CHECK(a.target == b.target && a.entry == b.entry && a.baseSize == b.baseSize &&
                   a.baseChecksum == b.baseChecksum && a.deltaChecksum == b.deltaChecksum &&
                   a.targetSize == b.targetSize && a.targetChecksum == b.targetChecksum);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CheckTable(data, size);
    if (size < kDeltaTableHeaderSize)
        return 0;
    std::vector<uint8_t> fixed(data, data + size);
    ContentChecksum checksum{};
    UpdateContentChecksum(checksum, fixed.data() + kDeltaTableHeaderSize, static_cast<uint32_t>(size - kDeltaTableHeaderSize));
    const uint64_t value = StoredChecksum(checksum);
    for (int i = 0; i < 8; ++i)
        fixed[16 + i] = static_cast<uint8_t>(value >> (8 * i));  // little-endian, at offset 16
    CheckTable(fixed.data(), fixed.size());
    return 0;
}
