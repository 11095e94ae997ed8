// The payload tables' shared framing.
#include "archive/record_table.h"

#include <cstring>

#include "archive/checksum.h"
#include "archive/read_le.h"
#include "archive/records.h"

namespace {

const uint32_t kCountOffset = 8;
const uint32_t kReservedOffset = 12;
const uint32_t kChecksumOffset = 16;

uint64_t ChecksumOfRecords(const unsigned char* bytes, size_t size)
{
    ContentChecksum checksum{};
    UpdateContentChecksum(checksum, bytes + kRecordTableHeaderSize, static_cast<uint32_t>(size - kRecordTableHeaderSize));
    return StoredChecksum(checksum);
}

}  // namespace

std::vector<unsigned char> NewRecordTable(const char* magic, uint32_t count, uint32_t recordSize)
{
    std::vector<unsigned char> out(kRecordTableHeaderSize + static_cast<size_t>(count) * recordSize, 0);
    memcpy(out.data(), magic, 8);
    WriteU32(out.data() + kCountOffset, count);
    return out;
}

void SealRecordTable(std::vector<unsigned char>& bytes)
{
    WriteU64(bytes.data() + kChecksumOffset, ChecksumOfRecords(bytes.data(), bytes.size()));
}

bool OpenRecordTable(const unsigned char* bytes, size_t size, const char* magic, uint32_t recordSize, uint32_t maxCount,
                     const char* what, uint32_t& count, std::string& problem)
{
    if (size < kRecordTableHeaderSize || memcmp(bytes, magic, 8) != 0) {
        problem = std::string("it is not a ") + what + " of version 1";
        return false;
    }
    count = ReadU32(bytes + kCountOffset);
    if (count > maxCount || size != kRecordTableHeaderSize + static_cast<uint64_t>(count) * recordSize) {
        problem = "its count (" + std::to_string(count) + ") and its size (" + std::to_string(size) + " bytes) disagree";
        return false;
    }
    if (ReadU32(bytes + kReservedOffset) != 0) {
        problem = "its reserved field is not 0";
        return false;
    }
    if (ReadU64(bytes + kChecksumOffset) != ChecksumOfRecords(bytes, size)) {
        problem = "its checksum does not match its records";
        return false;
    }
    return true;
}

bool PutNameField(unsigned char* field, uint32_t width, const std::string& name)
{
    std::string stored;
    if (!EncodeNameField(name, stored) || stored.empty() || stored.size() >= width)
        return false;
    memcpy(field, stored.data(), stored.size());
    return true;
}
