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
const uint32_t kArchiveRecordSize = 128;
const uint32_t kOldArchiveRecordSize = 32;

// Reads header and index from where the file pointer stands (never seeks). On success the pointer stands
// at the data start; on failure header and entries are left as they were.
bool ReadArchiveIndex(ArchiveHeader& header, std::vector<ArchiveEntry>& entries, CFileDX& file);

// Record size for a header's magic, or 0 when the magic is neither version's.
uint32_t ArchiveRecordSize(const char* magic);
