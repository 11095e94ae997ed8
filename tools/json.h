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

// A JSON object written member by member, in the order given: {"name": value, "name": value}.
class JsonObject {
public:
    JsonObject& Value(const char* name, const std::string& json);  // an already formatted value
    JsonObject& Text(const char* name, const std::string& utf8) { return Value(name, JsonString(utf8)); }
    JsonObject& Number(const char* name, uint64_t value) { return Value(name, std::to_string(value)); }
    JsonObject& Bool(const char* name, bool value) { return Value(name, value ? "true" : "false"); }
    JsonObject& Null(const char* name) { return Value(name, "null"); }
    std::string Str() const { return "{" + body_ + "}"; }

private:
    std::string body_;
};
