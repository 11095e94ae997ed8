// Reader and writer of the compression table.
//
// Layout (little-endian), framed as the delta table is:
//   header    0  magic[8]     "KCT_V1__"
//             8  count u32    records that follow
//            12  reserved u32 0
//            16  checksum u64 content checksum (stored form) of the records' bytes
//   record    0  entry[96]    NUL-terminated, zero-filled: the payload entry, stored as the archive index stores it
//            96  form u32     1: one zstd frame
//           100  reserved u32 0
//           104  storedSize u64, 112 contentSize u64, 120 storedChecksum u64, 128 contentChecksum u64
#include "archive/compression_table.h"

#include "archive/read_le.h"
#include "archive/record_table.h"
#include "archive/records.h"

namespace {

const uint32_t kFormOffset = kCompressionEntryWidth;
const uint32_t kReservedOffset = kFormOffset + 4;
const uint32_t kNumbersOffset = kReservedOffset + 4;

}  // namespace

bool EncodeCompressionTable(const std::vector<CompressionRecord>& records, std::vector<unsigned char>& bytes)
{
    if (records.size() > kMaxCompressionRecords)
        return false;
    std::vector<unsigned char> out =
        NewRecordTable(kCompressionTableMagic, static_cast<uint32_t>(records.size()), kCompressionRecordSize);
    for (size_t i = 0; i < records.size(); ++i) {
        const CompressionRecord& r = records[i];
        unsigned char* rec = out.data() + kCompressionTableHeaderSize + i * kCompressionRecordSize;
        if (!PutNameField(rec, kCompressionEntryWidth, r.entry))
            return false;
        WriteU32(rec + kFormOffset, static_cast<uint32_t>(r.form));
        WriteU64(rec + kNumbersOffset, r.storedSize);
        WriteU64(rec + kNumbersOffset + 8, r.contentSize);
        WriteU64(rec + kNumbersOffset + 16, r.storedChecksum);
        WriteU64(rec + kNumbersOffset + 24, r.contentChecksum);
    }
    SealRecordTable(out);
    bytes.swap(out);
    return true;
}

bool DecodeCompressionTable(const unsigned char* bytes, size_t size, std::vector<CompressionRecord>& records,
                            std::string& problem)
{
    uint32_t count = 0;
    if (!OpenRecordTable(bytes, size, kCompressionTableMagic, kCompressionRecordSize, kMaxCompressionRecords,
                         "compression table", count, problem))
        return false;
    std::vector<CompressionRecord> out(count);
    for (uint32_t i = 0; i < count; ++i) {
        const unsigned char* rec = bytes + kCompressionTableHeaderSize + static_cast<size_t>(i) * kCompressionRecordSize;
        CompressionRecord& r = out[i];
        const std::string number = "record " + std::to_string(i + 1);
        if (!ReadNameField(reinterpret_cast<const char*>(rec), kCompressionEntryWidth, r.entry) || r.entry.empty()) {
            problem = number + " has no readable entry name";
            return false;
        }
        if (ReadU32(rec + kFormOffset) != static_cast<uint32_t>(EntryForm::Zstd) || ReadU32(rec + kReservedOffset) != 0) {
            problem = number + " (\"" + r.entry + "\") has a form other than zstd, or a reserved field that is not 0";
            return false;
        }
        r.form = EntryForm::Zstd;
        r.storedSize = ReadU64(rec + kNumbersOffset);
        r.contentSize = ReadU64(rec + kNumbersOffset + 8);
        r.storedChecksum = ReadU64(rec + kNumbersOffset + 16);
        r.contentChecksum = ReadU64(rec + kNumbersOffset + 24);
    }
    records.swap(out);
    return true;
}
