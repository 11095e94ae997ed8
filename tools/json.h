// The few pieces of JSON that mkupdate's --json output is made of.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// A JSON string of UTF-8 text, quoted and escaped.
std::string JsonString(const std::string& text);
// A checksum or other 64-bit value as a JSON string of 16 upper-case hex digits.
std::string JsonHex64(uint64_t value);
// Bytes as a JSON string of hex digit pairs.
std::string JsonHexBytes(const std::vector<unsigned char>& bytes);
// A JSON array of already formatted values.
std::string JsonArray(const std::vector<std::string>& values);
