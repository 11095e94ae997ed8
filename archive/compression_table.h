// The compression table ("KPX.cmp"): in a compressed package, which payload entries are stored as one zstd
// frame (RFC 8878) rather than as they are, and for each its stored and content sizes and checksums. An entry
// the table does not name is stored as it is; a package without the table stores every entry so.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// How an entry's stored bytes give its content.
enum class EntryForm : uint32_t { Stored = 0, Zstd = 1 };

struct CompressionRecord {
    std::string entry;         // UTF-8: the payload entry, as the archive index names it
    EntryForm form;            // always Zstd in a table: a stored entry has no record
    uint64_t storedSize;       // the entry's bytes in the payload (its index size): one zstd frame
    uint64_t contentSize;      // what the frame gives
    uint64_t storedChecksum;   // content checksum (stored form) of the stored bytes
    uint64_t contentChecksum;  // ...and of the content: the target's version record, or the delta's own
};

const char kCompressionTableMagic[] = "KCT_V1__";
const uint32_t kCompressionTableHeaderSize = 24;  // magic[8], count u32, reserved u32, checksum u64
const uint32_t kCompressionRecordSize = 136;
const uint32_t kCompressionEntryWidth = 96;  // the entry's name, NUL included, as wide as the index's
const uint32_t kMaxCompressionRecords = 255;  // one payload entry each, beside the version list

// Encodes the table, the exact bytes DecodeCompressionTable reads. False when a name does not fit its field
// or there are more than kMaxCompressionRecords records.
bool EncodeCompressionTable(const std::vector<CompressionRecord>& records, std::vector<unsigned char>& bytes);
// Decodes a table that fills exactly `size` bytes. False, with `problem` naming the fault, when it is not a
// compression table of this version, its size and count disagree, its checksum does not match its records,
// a reserved field is not 0, a name field holds no name, or a record's form is not zstd.
bool DecodeCompressionTable(const unsigned char* bytes, size_t size, std::vector<CompressionRecord>& records,
                            std::string& problem);
