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

#include <cstring>

#include "archive/checksum.h"
#include "archive/read_le.h"
#include "archive/records.h"

namespace {

const uint32_t kCountOffset = 8;
const uint32_t kReservedOffset = 12;
const uint32_t kChecksumOffset = 16;
const uint32_t kNumbersOffset = kDeltaTargetWidth + kDeltaEntryWidth;

uint64_t ChecksumOfRecords(const unsigned char* bytes, size_t size)
{
    ContentChecksum checksum{};
    UpdateContentChecksum(checksum, bytes, static_cast<uint32_t>(size));
    return StoredChecksum(checksum);
}

bool PutName(unsigned char* field, uint32_t width, const std::string& name)
{
    std::string stored;
    if (!EncodeNameField(name, stored) || stored.empty() || stored.size() >= width)
        return false;
    memcpy(field, stored.data(), stored.size());
    return true;
}

}  // namespace

bool EncodeDeltaTable(const std::vector<DeltaRecord>& records, std::vector<unsigned char>& bytes)
{
    if (records.size() > kMaxDeltaRecords)
        return false;
    std::vector<unsigned char> out(kDeltaTableHeaderSize + records.size() * kDeltaRecordSize, 0);
    memcpy(out.data(), kDeltaTableMagic, 8);
    WriteU32(out.data() + kCountOffset, static_cast<uint32_t>(records.size()));
    for (size_t i = 0; i < records.size(); ++i) {
        const DeltaRecord& r = records[i];
        unsigned char* rec = out.data() + kDeltaTableHeaderSize + i * kDeltaRecordSize;
        if (!PutName(rec, kDeltaTargetWidth, r.target) || !PutName(rec + kDeltaTargetWidth, kDeltaEntryWidth, r.entry))
            return false;
        WriteU64(rec + kNumbersOffset, r.baseSize);
        WriteU64(rec + kNumbersOffset + 8, r.baseChecksum);
        WriteU64(rec + kNumbersOffset + 16, r.deltaChecksum);
        WriteU64(rec + kNumbersOffset + 24, r.targetSize);
        WriteU64(rec + kNumbersOffset + 32, r.targetChecksum);
    }
    WriteU64(out.data() + kChecksumOffset,
             ChecksumOfRecords(out.data() + kDeltaTableHeaderSize, out.size() - kDeltaTableHeaderSize));
    bytes.swap(out);
    return true;
}

bool DecodeDeltaTable(const unsigned char* bytes, size_t size, std::vector<DeltaRecord>& records,
                      std::string& problem)
{
    if (size < kDeltaTableHeaderSize || memcmp(bytes, kDeltaTableMagic, 8) != 0) {
        problem = "it is not a delta table of version 1";
        return false;
    }
    const uint32_t count = ReadU32(bytes + kCountOffset);
    if (count > kMaxDeltaRecords || size != kDeltaTableHeaderSize + static_cast<uint64_t>(count) * kDeltaRecordSize) {
        problem = "its count (" + std::to_string(count) + ") and its size (" + std::to_string(size) + " bytes) disagree";
        return false;
    }
    if (ReadU32(bytes + kReservedOffset) != 0) {
        problem = "its reserved field is not 0";
        return false;
    }
    if (ReadU64(bytes + kChecksumOffset) != ChecksumOfRecords(bytes + kDeltaTableHeaderSize, size - kDeltaTableHeaderSize)) {
        problem = "its checksum does not match its records";
        return false;
    }
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
