// Detection of Shift-JIS, UTF-8 and ASCII byte strings, character decoding, and code-page conversion
// between byte strings (code page 932 or 65001) and UTF-16.
#pragma once
#include <cstdint>
#include <string>

// Encoding identifiers: verdicts of DetectEncoding and targets of the conversions.
namespace Encoding {
enum : uint32_t {
    Native = 0,           // Shift-JIS, code page 932
    Utf8 = 1,             // code page 65001
    Ascii = 0x80000000u,  // only bytes below 0x80; also the verdict for an empty string
    Auto = 0xFFFFFFFFu,   // as an argument only: detect from the string itself
};
}  // namespace Encoding

uint32_t DetectEncoding(const char* text);
int IsSjisLeadByte(const unsigned char* p);

// Decode one character at p. The result is its length in bytes (0 only for an unknown encoding or at the
// terminator's position with a zero code). A character whose claimed bytes run into the terminator is read
// as the single byte at p, so a walk never steps past the end of the string.
uint32_t DecodeChar(uint32_t* code, const char* p, uint32_t encoding);
uint32_t DecodeUtf8Char(uint32_t* code, const char* p);

// Conversions. Each returns false and leaves `out` untouched when the conversion fails. With `strict`,
// bytes that are invalid in the source code page, or characters the target code page cannot represent,
// are failures too; without it they become the code page's replacement characters.
bool MultiByteToWide(const char* text, std::wstring& out, bool strict = false);
bool ToMultiByte(const char* text, uint32_t target, std::string& out, bool strict = false);
bool WideToMultiByte(const wchar_t* text, uint32_t target, std::string& out, bool strict = false);
// UTF-16 as UTF-8, for names and messages shown to a person; a unit that does not convert becomes the
// replacement character.
std::string ToUtf8(const std::wstring& text);
