// Encoding detection and code-page conversion. Byte strings carry no encoding tag: each operation
// classifies its input on the spot (ASCII, UTF-8, or else Shift-JIS) and acts on that verdict.
#include "util/text/encoding.h"

#include <cwchar>

#include "util/text/code_page.h"

namespace {

// Number of leading one bits of a UTF-8 lead byte, 0xC2..0xFF.
uint32_t Utf8SequenceLength(unsigned char lead)
{
    uint32_t n = 0;
    while (n < 8 && (lead & (0x80u >> n)))
        ++n;
    return n;
}

CodePage CodePageOf(uint32_t encoding) { return encoding == Encoding::Native ? CodePage::ShiftJis : CodePage::Utf8; }

}  // namespace

uint32_t DetectEncoding(const char* text)
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    int goodSequences = 0;
    while (*p) {
        if (*p < 0x80) {
            ++p;
            continue;
        }
        if (*p < 0xC2)
            return Encoding::Native;
        uint32_t len = Utf8SequenceLength(*p);
        for (uint32_t i = 1; i < len; ++i) {
            // The terminator fails this test too, so a cut sequence reads as Shift-JIS.
            if ((p[i] & 0xC0) != 0x80)
                return Encoding::Native;
        }
        p += len;
        if (++goodSequences == 6)
            return Encoding::Utf8;
    }
    return goodSequences ? Encoding::Utf8 : Encoding::Ascii;
}

// The string walk's lead bytes are code page 932's and 0xFF, on purpose: a walk that lower-cases or
// searches steps over the byte after 0xFF untouched, as the byte after any lead, so a name that is not
// valid code page 932 is never changed inside what might be a character. Conversions follow the code page
// itself (IsShiftJisLeadByte), where 0xFF is an undefined single byte.
int IsSjisLeadByte(const unsigned char* p) { return IsShiftJisLeadByte(*p) || *p == 0xFF; }

uint32_t DecodeUtf8Char(uint32_t* code, const char* p)
{
    const unsigned char* s = reinterpret_cast<const unsigned char*>(p);
    if (s[0] < 0x80) {
        if (code)
            *code = s[0];
        return 1;
    }
    uint32_t len = Utf8SequenceLength(s[0]);
    if (len < 2)
        len = 1;
    for (uint32_t i = 1; i < len; ++i) {
        if (s[i] == 0) {  // cut short by the terminator: one byte
            if (code)
                *code = s[0];
            return 1;
        }
    }
    uint32_t value = len == 1 ? s[0] : (s[0] & (0xFFu >> (len + 1)));
    for (uint32_t i = 1; i < len; ++i)
        value = (value << 6) | (s[i] & 0x3F);
    if (code)
        *code = value;
    return len;
}

uint32_t DecodeChar(uint32_t* code, const char* p, uint32_t encoding)
{
    const unsigned char* s = reinterpret_cast<const unsigned char*>(p);
    switch (encoding) {
    case Encoding::Native:
        if (IsSjisLeadByte(s) && s[1] != 0) {
            if (code)
                *code = s[0] * 256u + s[1];
            return 2;
        }
        if (code)
            *code = s[0];
        return 1;
    case Encoding::Utf8: {
        uint32_t first = 0;
        uint32_t len = DecodeUtf8Char(&first, p);
        if (first >= 0xD800 && first <= 0xDBFF && s[len] != 0) {
            uint32_t second = 0;
            uint32_t len2 = DecodeUtf8Char(&second, p + len);
            if (second >= 0xDC00 && second <= 0xDFFF) {
                if (code)
                    *code = ((first - 0xD7C0) * 1024) | (second - 0xDC00);
                return len + len2;
            }
        }
        if (code)
            *code = first;
        return len;
    }
    case Encoding::Ascii:
        if (code)
            *code = s[0];
        return 1;
    default:
        if (code)
            *code = 0;
        return 0;
    }
}

bool MultiByteToWide(const char* text, std::wstring& out, bool strict)
{
    const uint32_t enc = DetectEncoding(text);
    return BytesToUtf16(enc == Encoding::Utf8 || enc == Encoding::Ascii ? CodePage::Utf8 : CodePage::ShiftJis, text, strict, out);
}

bool WideToMultiByte(const wchar_t* text, uint32_t target, std::string& out, bool strict)
{
    const CodePage page = CodePageOf(target);
    std::string bytes;
    if (!Utf16ToBytes(page, text, strict, bytes))
        return false;
    if (strict && page == CodePage::ShiftJis) {
        // Best-fit mappings and default characters both show as a text that does not convert back.
        std::wstring again;
        if (!BytesToUtf16(page, bytes.c_str(), false, again) || wcscmp(again.c_str(), text) != 0)
            return false;
    }
    out.swap(bytes);
    return true;
}

bool ToMultiByte(const char* text, uint32_t target, std::string& out, bool strict)
{
    uint32_t enc = DetectEncoding(text);
    if (enc == Encoding::Ascii || CodePageOf(enc) == CodePageOf(target)) {
        if (strict && enc == Encoding::Native) {
            // A byte-for-byte copy checks nothing: make sure the Shift-JIS text is valid.
            std::wstring probe;
            if (!MultiByteToWide(text, probe, true))
                return false;
        }
        out.assign(text);
        return true;
    }
    std::wstring wide;
    if (!MultiByteToWide(text, wide, strict))
        return false;
    return WideToMultiByte(wide.c_str(), target, out, strict);
}

std::string ToUtf8(const std::wstring& text)
{
    std::string out;
    WideToMultiByte(text.c_str(), Encoding::Utf8, out);
    return out;
}
