// Reader and writer of the engine's archive index.
//
// Layout (little-endian):
//   header   0  magic[12]  "VORLAN ARC20" (128-byte records) or "PackFile    " (32-byte records)
//           12  count u32
//   record   0  name       NUL-terminated, zero-filled: 96 bytes (current) or 16 bytes (older)
//                          then offset u32 (from the data start) and size u32; the rest is not read
//   data start = 16 + count * record size
#include "archive/archive_index.h"

#include <cstring>

#include "archive/read_le.h"
#include "archive/records.h"
#include "util/fs/file.h"

uint32_t ArchiveRecordSize(const char* magic)
{
    if (memcmp(magic, kArchiveMagic, kArchiveMagicSize) == 0)
        return kArchiveRecordSize;
    if (memcmp(magic, kOldArchiveMagic, kArchiveMagicSize) == 0)
        return kOldArchiveRecordSize;
    return 0;
}

bool ReadArchiveIndex(ArchiveHeader& header, std::vector<ArchiveEntry>& entries, CFileDX& file)
{
    unsigned char raw[kArchiveHeaderSize];
    if (file.Read(raw, kArchiveHeaderSize) != kArchiveHeaderSize)
        return false;
    ArchiveHeader h;
    memcpy(h.magic, raw, kArchiveMagicSize);
    h.count = ReadU32(raw + kArchiveCountOffset);
    const uint32_t recordSize = ArchiveRecordSize(h.magic);
    if (recordSize == 0)
        return false;
    const uint32_t nameWidth = recordSize == kArchiveRecordSize ? kArchiveNameWidth : kOldArchiveNameWidth;

    std::vector<unsigned char> index;
    if (!ReadRecordBlock(file, h.count, recordSize, index))
        return false;
    const uint64_t indexSize = index.size();

    std::vector<ArchiveEntry> list;
    list.reserve(h.count);
    for (uint32_t i = 0; i < h.count; ++i) {
        const unsigned char* rec = index.data() + static_cast<size_t>(i) * recordSize;
        ArchiveEntry e;
        if (!ReadNameField(reinterpret_cast<const char*>(rec), nameWidth, e.name))
            return false;
        e.position = indexSize + kArchiveHeaderSize + ReadU32(rec + nameWidth);
        e.size = ReadU32(rec + nameWidth + 4);
        list.push_back(std::move(e));
    }
    header = h;
    entries.swap(list);
    return true;
}

bool EncodeArchiveIndex(const std::vector<ArchiveIndexRecord>& records, std::vector<unsigned char>& bytes)
{
    std::vector<unsigned char> out(kArchiveHeaderSize + records.size() * kArchiveRecordSize, 0);
    memcpy(out.data(), kArchiveMagic, sizeof kArchiveMagic - 1);
    WriteU32(out.data() + kArchiveCountOffset, static_cast<uint32_t>(records.size()));
    for (size_t i = 0; i < records.size(); ++i) {
        const ArchiveIndexRecord& r = records[i];
        if (r.storedName.size() >= kArchiveNameWidth)
            return false;
        unsigned char* rec = out.data() + kArchiveHeaderSize + i * kArchiveRecordSize;
        memcpy(rec, r.storedName.data(), r.storedName.size());
        WriteU32(rec + kArchiveNameWidth, r.offset);
        WriteU32(rec + kArchiveNameWidth + 4, r.size);
    }
    bytes.swap(out);
    return true;
}
