// The version list ("kpx.hvl"): each archive's path below the installation folder and its ContentChecksum.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

class CFileDX;

struct VersionListHeader {
    char magic[8];      // "KHV_V2__" (256-byte records) or "KHV_____" (64-byte records)
    uint32_t reserved;  // not interpreted; written back as read
    uint32_t count;     // records that EncodeVersionList writes
};

struct VersionRecord {
    std::string name;  // UTF-8, relative to the installation folder, e.g. "Archive\data01200.arc"
    uint64_t value;    // ContentChecksum in its stored form
};

const char kVersionListMagic[] = "KHV_V2__";
const char kOldVersionListMagic[] = "KHV_____";
const uint32_t kVersionMagicSize = 8;
const uint32_t kVersionReservedOffset = 8;  // in the header
const uint32_t kVersionCountOffset = 12;
const uint32_t kVersionHeaderSize = 16;    // magic[8], reserved u32, count u32
const uint32_t kVersionRecordSize = 256;   // name field, then the value u64 in the last 8 bytes
const uint32_t kOldVersionRecordSize = 64;
const uint32_t kVersionValueSize = 8;

// Record size for a header's magic, or 0 when the magic is neither version's.
uint32_t VersionRecordSize(const char* magic);

// Reads from where the file pointer stands (never seeks), at most `limit` bytes: a list whose records would
// reach past them is refused. Outputs untouched on failure.
bool ReadVersionList(VersionListHeader& header, std::vector<VersionRecord>& records, CFileDX& file,
                     uint64_t limit = UINT64_MAX);
bool LoadVersionList(VersionListHeader& header, std::vector<VersionRecord>& records, const wchar_t* path);
// Encodes header.count records from the start of `records` in the header's version. Names are stored in
// code page 932; a name without an exact code page 932 form keeps its UTF-8 bytes, so it reads back as
// the same name. False, with nothing encoded, for an unknown magic, too few records, or a name that does
// not fit its field.
bool EncodeVersionList(const VersionListHeader& header, const std::vector<VersionRecord>& records,
                       std::vector<unsigned char>& bytes);
