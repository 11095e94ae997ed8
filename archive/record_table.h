// The framing the payload's own tables share (the delta table, the compression table): a 24-byte header,
// magic[8], count u32, reserved u32 (0) and the content checksum (stored form) of the records' bytes, then
// `count` records of one fixed size.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

const uint32_t kRecordTableHeaderSize = 24;

// A zero-filled table of `count` records of `recordSize` bytes, its magic and count in place; the records are
// filled in behind kRecordTableHeaderSize, then SealRecordTable writes the checksum.
std::vector<unsigned char> NewRecordTable(const char* magic, uint32_t count, uint32_t recordSize);
void SealRecordTable(std::vector<unsigned char>& bytes);
// Checks a table that fills exactly `size` bytes: its magic, that its count (at most `maxCount`) and size agree,
// its reserved field and its checksum. False with `problem` naming the fault in the words of `what` ("delta
// table"); `count` is then the table's count of records.
bool OpenRecordTable(const unsigned char* bytes, size_t size, const char* magic, uint32_t recordSize, uint32_t maxCount,
                     const char* what, uint32_t& count, std::string& problem);
// Puts a name into a name field of `width` bytes (NUL-terminated, zero-filled), stored as the version list
// stores names; false when it is empty, has no stored form or does not fit with its NUL.
bool PutNameField(unsigned char* field, uint32_t width, const std::string& name);
