// The engine's archive index: a 16-byte header and fixed-size records naming each entry's data.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

class CFileDX;

struct ArchiveHeader {
    char magic[12];  // "VORLAN ARC20" or "PackFile    ", no terminator
    uint32_t count;  // number of index records
};

struct ArchiveEntry {
    std::string name;   // UTF-8
    uint64_t position;  // from the archive's first byte: data start + stored offset
    uint32_t size;
};

const char kArchiveMagic[] = "VORLAN ARC20";
const char kOldArchiveMagic[] = "PackFile    ";
const uint32_t kArchiveMagicSize = 12;
const uint32_t kArchiveCountOffset = 12;  // in the header
const uint32_t kArchiveHeaderSize = 16;  // magic[12], count u32
const uint32_t kArchiveRecordSize = 128;
const uint32_t kOldArchiveRecordSize = 32;
const uint32_t kArchiveNameWidth = 96;  // the name field, NUL included; then offset u32 and size u32
const uint32_t kOldArchiveNameWidth = 16;

// Reads header and index from where the file pointer stands (never seeks). On success the pointer stands
// at the data start; on failure header and entries are left as they were.
bool ReadArchiveIndex(ArchiveHeader& header, std::vector<ArchiveEntry>& entries, CFileDX& file);

// Record size for a header's magic, or 0 when the magic is neither version's.
uint32_t ArchiveRecordSize(const char* magic);

// One record as the writer stores it: the name's bytes (code page 932 or ASCII, without the NUL), the offset
// from the data start, and the size.
struct ArchiveIndexRecord {
    std::string storedName;
    uint32_t offset;
    uint32_t size;
};
// Encodes a current-version ("VORLAN ARC20") header and index, the exact bytes ReadArchiveIndex reads.
// False, with nothing encoded, when a name does not fit its field with its NUL.
bool EncodeArchiveIndex(const std::vector<ArchiveIndexRecord>& records, std::vector<unsigned char>& bytes);
