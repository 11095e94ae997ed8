// JSON strings, hex values and arrays for mkupdate's machine-readable output.
#include "tools/json.h"

#include <cstdio>

std::string JsonString(const std::string& text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escape[8];
            snprintf(escape, sizeof escape, "\\u%04X", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string JsonHex64(uint64_t value)
{
    char text[24];
    snprintf(text, sizeof text, "\"%016llX\"", static_cast<unsigned long long>(value));
    return text;
}

std::string JsonHexBytes(const std::vector<unsigned char>& bytes)
{
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out = "\"";
    for (unsigned char b : bytes) {
        out += kDigits[b >> 4];
        out += kDigits[b & 15];
    }
    return out + "\"";
}

std::string JsonArray(const std::vector<std::string>& values)
{
    std::string out = "[";
    for (size_t i = 0; i < values.size(); ++i)
        out += (i ? ", " : "") + values[i];
    return out + "]";
}

JsonObject& JsonObject::Value(const char* name, const std::string& json)
{
    body_ += (body_.empty() ? "" : ", ") + JsonString(name) + ": " + json;
    return *this;
}
