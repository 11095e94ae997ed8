// The delta table ("KPX.dlt"): in a delta package, which payload entries are VCDIFF deltas, and for each the
// target it produces and the base it applies to.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "util/fs/system_names.h"

struct DeltaRecord {
    std::string target;      // UTF-8: the target as the payload's version list names it
    std::string entry;       // UTF-8: the payload entry that holds the delta
    uint64_t baseSize;       // the base the delta applies to: its size...
    uint64_t baseChecksum;   // ...and its content checksum (stored form)
    uint64_t deltaChecksum;  // the content checksum of the delta entry's own bytes (stored form)
    uint64_t targetSize;     // what applying it produces: its size...
    uint64_t targetChecksum;  // ...and its checksum, which the target's version record must hold too
};

const char kDeltaTableMagic[] = "KDT_V1__";
const uint32_t kDeltaTableHeaderSize = 24;  // magic[8], count u32, reserved u32, checksum u64
const uint32_t kDeltaRecordSize = 384;
const uint32_t kDeltaTargetWidth = 248;  // name fields, NUL included (the target's as wide as a version record's)
const uint32_t kDeltaEntryWidth = 96;
const uint32_t kMaxDeltaRecords = 255;  // one payload entry each, beside the version list

// Encodes the table, the exact bytes DecodeDeltaTable reads. False when a name does not fit its field or
// there are more than kMaxDeltaRecords records.
bool EncodeDeltaTable(const std::vector<DeltaRecord>& records, std::vector<unsigned char>& bytes);
// Decodes a table that fills exactly `size` bytes. False, with `problem` naming the fault, when it is not a
// delta table of this version, its size and count disagree, its checksum does not match its records, or a
// name field holds no name.
bool DecodeDeltaTable(const unsigned char* bytes, size_t size, std::vector<DeltaRecord>& records,
                      std::string& problem);
