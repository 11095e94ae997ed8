// The delta table as the updater reads it from its payload: what it accepts has the count its size says and
// encodes back to the same bytes.
#include <string>
#include <vector>

#include "archive/delta_table.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<DeltaRecord> records;
    std::string problem;
    if (!DecodeDeltaTable(data, size, records, problem)) {
        FUZZ_CHECK(!problem.empty() && records.empty());
        return 0;
    }
    FUZZ_CHECK(records.size() <= kMaxDeltaRecords && size == kDeltaTableHeaderSize + records.size() * kDeltaRecordSize);
    std::vector<unsigned char> again;
    if (!EncodeDeltaTable(records, again))
        return 0;  // a name read as UTF-8 whose stored form no longer fits: the builder never writes one
    std::vector<DeltaRecord> back;
    FUZZ_CHECK(DecodeDeltaTable(again.data(), again.size(), back, problem) && back.size() == records.size());
    for (size_t i = 0; i < records.size(); ++i) {
        const DeltaRecord &a = records[i], &b = back[i];
        FUZZ_CHECK(a.target == b.target && a.entry == b.entry && a.baseSize == b.baseSize &&
                   a.baseChecksum == b.baseChecksum && a.deltaChecksum == b.deltaChecksum &&
                   a.targetSize == b.targetSize && a.targetChecksum == b.targetChecksum);
    }
    return 0;
}
