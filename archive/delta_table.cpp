// Reader and writer of the delta table.
//
// Layout (little-endian):
//   header    0  magic[8]     "KDT_V1__"
//             8  count u32    records that follow
//            12  reserved u32 0
//            16  checksum u64 content checksum (stored form) of the records' bytes
//   record    0  target[248]  NUL-terminated, zero-filled; code page 932, or UTF-8 for a name without a
//                             code page 932 form, as the version list stores names
//           248  entry[96]    the payload entry holding the delta, stored as the archive index stores it
//           344  baseSize u64, 352 baseChecksum u64, 360 deltaChecksum u64, 368 targetSize u64,
//           376  targetChecksum u64 (checksums in their stored form)
#include "archive/delta_table.h"

#include "archive/read_le.h"
#include "archive/record_table.h"
#include "archive/records.h"

namespace {

const uint32_t kNumbersOffset = kDeltaTargetWidth + kDeltaEntryWidth;

}  // namespace

bool EncodeDeltaTable(const std::vector<DeltaRecord>& records, std::vector<unsigned char>& bytes)
{
    if (records.size() > kMaxDeltaRecords)
        return false;
    std::vector<unsigned char> out = NewRecordTable(kDeltaTableMagic, static_cast<uint32_t>(records.size()), kDeltaRecordSize);
    for (size_t i = 0; i < records.size(); ++i) {
        const DeltaRecord& r = records[i];
        unsigned char* rec = out.data() + kDeltaTableHeaderSize + i * kDeltaRecordSize;
        if (!PutNameField(rec, kDeltaTargetWidth, r.target) || !PutNameField(rec + kDeltaTargetWidth, kDeltaEntryWidth, r.entry))
            return false;
        WriteU64(rec + kNumbersOffset, r.baseSize);
        WriteU64(rec + kNumbersOffset + 8, r.baseChecksum);
        WriteU64(rec + kNumbersOffset + 16, r.deltaChecksum);
        WriteU64(rec + kNumbersOffset + 24, r.targetSize);
        WriteU64(rec + kNumbersOffset + 32, r.targetChecksum);
    }
    SealRecordTable(out);
    bytes.swap(out);
    return true;
}

bool DecodeDeltaTable(const unsigned char* bytes, size_t size, std::vector<DeltaRecord>& records,
                      std::string& problem)
{
    uint32_t count = 0;
    if (!OpenRecordTable(bytes, size, kDeltaTableMagic, kDeltaRecordSize, kMaxDeltaRecords, "delta table", count, problem))
        return false;
    std::vector<DeltaRecord> out(count);
    for (uint32_t i = 0; i < count; ++i) {
        const unsigned char* rec = bytes + kDeltaTableHeaderSize + static_cast<size_t>(i) * kDeltaRecordSize;
        DeltaRecord& r = out[i];
        if (!ReadNameField(reinterpret_cast<const char*>(rec), kDeltaTargetWidth, r.target) ||
            !ReadNameField(reinterpret_cast<const char*>(rec + kDeltaTargetWidth), kDeltaEntryWidth, r.entry) ||
            r.target.empty() || r.entry.empty()) {
            problem = "record " + std::to_string(i + 1) + " has no readable target or entry name";
            return false;
        }
        r.baseSize = ReadU64(rec + kNumbersOffset);
        r.baseChecksum = ReadU64(rec + kNumbersOffset + 8);
        r.deltaChecksum = ReadU64(rec + kNumbersOffset + 16);
        r.targetSize = ReadU64(rec + kNumbersOffset + 24);
        r.targetChecksum = ReadU64(rec + kNumbersOffset + 32);
    }
    records.swap(out);
    return true;
}
