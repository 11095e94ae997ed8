// Reader and writer of the version list.
//
// Layout (little-endian):
//   header   0  magic[8]   "KHV_V2__" (version 2) or "KHV_____" (version 1)
//            8  reserved u32
//           12  count u32
//   record   version 2: name[248] then value u64 at 248 (256 bytes)
//            version 1: name[56]  then value u64 at 56  (64 bytes)
//            names are NUL-terminated and zero-filled, code page 932 or ASCII
#include "archive/version_list.h"

#include <cstring>

#include "archive/read_le.h"
#include "archive/records.h"
#include "util/fs/file.h"
#include "util/text/encoding.h"

uint32_t VersionRecordSize(const char* magic)
{
    if (memcmp(magic, kVersionListMagic, kVersionMagicSize) == 0)
        return kVersionRecordSize;
    if (memcmp(magic, kOldVersionListMagic, kVersionMagicSize) == 0)
        return kOldVersionRecordSize;
    return 0;
}

bool ReadVersionList(VersionListHeader& header, std::vector<VersionRecord>& records, CFileDX& file, uint64_t limit)
{
    unsigned char raw[kVersionHeaderSize];
    if (limit < kVersionHeaderSize || file.Read(raw, kVersionHeaderSize) != kVersionHeaderSize)
        return false;
    VersionListHeader h;
    memcpy(h.magic, raw, kVersionMagicSize);
    h.reserved = ReadU32(raw + kVersionReservedOffset);
    h.count = ReadU32(raw + kVersionCountOffset);
    const uint32_t recordSize = VersionRecordSize(h.magic);
    if (recordSize == 0 || kVersionHeaderSize + static_cast<uint64_t>(h.count) * recordSize > limit)
        return false;
    const uint32_t nameWidth = recordSize - kVersionValueSize;

    std::vector<unsigned char> body;
    if (!ReadRecordBlock(file, h.count, recordSize, body))
        return false;

    std::vector<VersionRecord> list;
    list.reserve(h.count);
    for (uint32_t i = 0; i < h.count; ++i) {
        const unsigned char* rec = body.data() + static_cast<size_t>(i) * recordSize;
        VersionRecord r;
        if (!ReadNameField(reinterpret_cast<const char*>(rec), nameWidth, r.name))
            return false;
        r.value = ReadU64(rec + nameWidth);
        list.push_back(std::move(r));
    }
    header = h;
    records.swap(list);
    return true;
}

bool LoadVersionList(VersionListHeader& header, std::vector<VersionRecord>& records, const wchar_t* path)
{
    CFileDX file;
    if (!file.Open(path))
        return false;
    return ReadVersionList(header, records, file);
}

bool EncodeVersionList(const VersionListHeader& header, const std::vector<VersionRecord>& records,
                       std::vector<unsigned char>& bytes)
{
    const uint32_t recordSize = VersionRecordSize(header.magic);
    if (recordSize == 0 || header.count > records.size())
        return false;
    const uint64_t total = kVersionHeaderSize + static_cast<uint64_t>(header.count) * recordSize;
    if (total >= 0x100000000ull)
        return false;
    const uint32_t nameWidth = recordSize - kVersionValueSize;
    std::vector<unsigned char> out(static_cast<size_t>(total), 0);
    memcpy(out.data(), header.magic, kVersionMagicSize);
    WriteU32(out.data() + kVersionReservedOffset, header.reserved);
    WriteU32(out.data() + kVersionCountOffset, header.count);
    for (uint32_t i = 0; i < header.count; ++i) {
        unsigned char* rec = out.data() + kVersionHeaderSize + static_cast<size_t>(i) * recordSize;
        std::string native;
        // The name must keep its NUL inside the field; a longer one would be cut into another name.
        if (!EncodeNameField(records[i].name, native) || native.size() >= nameWidth)
            return false;
        memcpy(rec, native.data(), native.size());
        WriteU64(rec + nameWidth, records[i].value);
    }
    bytes.swap(out);
    return true;
}
