// Fixed-size records of the archive index and the version list: reading them whole, and their name fields.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class CFileDX;

// Reads `count` records of `size` bytes with one read from where the file pointer stands. A damaged count
// fails here, before anything is allocated for it: the records must take less than 4 GiB and no more than
// the file holds.
bool ReadRecordBlock(CFileDX& file, uint32_t count, uint32_t size, std::vector<unsigned char>& block);

// Reads a name field of `width` bytes into UTF-8. False when the field holds no NUL or the name is not
// valid code page 932 or UTF-8 text: the record is damaged.
bool ReadNameField(const char* field, size_t width, std::string& name);
// The bytes a name is stored as in a name field: its code page 932 form, or, for a name that has none (one
// read as UTF-8 from an installed list), its UTF-8 bytes as they were read. Either must read back as the same
// name; false when neither does.
bool EncodeNameField(const std::string& name, std::string& bytes);
