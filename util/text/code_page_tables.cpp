// The code page conversions and the case-blind comparison from tables of our own, for systems other than
// Windows: the same results as the system's functions give on Windows, unit for unit (the tables were
// taken from them; the test code_page_identity compares every byte pair and every unit).
#include "util/text/code_page.h"

#include <cstdint>
#include <vector>

namespace {

struct EncodeException {
    uint16_t unit;
    uint16_t bytes;
};
struct CaseMapping {
    uint16_t unit;
    uint16_t upper;
};

#include "util/text/code_page_tables.inc"

const uint16_t kReplacement = 0x30FB;  // code page 932's replacement: KATAKANA MIDDLE DOT
const uint16_t kNoForm = 0x003F;      // "?"

int LeadIndex(unsigned char b) { return b <= 0x9F ? b - 0x81 : b - 0xE0 + 0x1F; }

// Every unit's bytes in code page 932, one byte or lead * 256 + trail; built once.
const std::vector<uint16_t>& EncodeTable()
{
    static const std::vector<uint16_t> table = [] {
        std::vector<uint16_t> t(0x10000, 0);
        for (int b = 1; b < 256; ++b)
            if (kSingleByteValid[b] == '1' && t[kSingleByte[b]] == 0)
                t[kSingleByte[b]] = static_cast<uint16_t>(b);
        for (int lead = 0x81; lead <= 0xFC; ++lead) {
            if (!IsShiftJisLeadByte(static_cast<unsigned char>(lead)))
                continue;
            for (int trail = 0x40; trail <= 0xFC; ++trail) {
                const uint16_t unit = kDoubleByte[LeadIndex(static_cast<unsigned char>(lead))][trail - 0x40];
                if (unit && t[unit] == 0)
                    t[unit] = static_cast<uint16_t>(lead * 256 + trail);
            }
        }
        for (const EncodeException& e : kEncodeExceptions)
            t[e.unit] = e.bytes;
        for (uint16_t& bytes : t)
            if (bytes == 0)
                bytes = kNoForm;
        t[0] = 0;
        return t;
    }();
    return table;
}

const std::vector<uint16_t>& UpperTable()
{
    static const std::vector<uint16_t> table = [] {
        std::vector<uint16_t> t(0x10000);
        for (uint32_t u = 0; u < 0x10000; ++u)
            t[u] = static_cast<uint16_t>(u);
        for (const CaseMapping& m : kUpperCase)
            t[m.unit] = m.upper;
        return t;
    }();
    return table;
}

// One UTF-8 character from s (its terminator included in the bytes up to end). The value, or -1 for an
// invalid sequence, which then has taken as many bytes as Windows' converter takes for it: a sequence
// cut short by the end takes the rest, the terminator too. This is the converter's validating decoder;
// DecodeUtf8Char (encoding.h) is the string walk's, which trusts text already classified as UTF-8 and never
// refuses a byte: the two answer different questions and differ on purpose.
int32_t DecodeUtf8(const unsigned char*& s, const unsigned char* end)
{
    const unsigned char lead = *s++;
    if (lead < 0x80)
        return lead;
    const int more = lead >= 0xC2 && lead <= 0xDF ? 1 : lead >= 0xE0 && lead <= 0xEF ? 2 : lead >= 0xF0 && lead <= 0xF4 ? 3 : 0;
    if (more == 0)
        return -1;
    if (end - s < more) {
        s = end;
        return -1;
    }
    uint32_t value = lead & (0x7F >> (more + 1));
    for (int i = 0; i < more; ++i) {
        const unsigned char c = *s ^ 0x80;
        if (c >= 0x40)
            return -1;  // the byte that is no continuation starts the next character
        value = (value << 6) | c;
        // Overlong forms, surrogates and values beyond U+10FFFF end the sequence as soon as they show; a
        // value beyond U+10FFFF leaves the byte that shows it to the next character.
        const int left = more - 1 - i;
        if (left == 1 && value >= (0x110000 >> 6))
            return -1;
        ++s;
        if ((left == 2 && value < 0x10) || (left == 1 && (value < 0x20 || (value >= (0xD800 >> 6) && value <= (0xDFFF >> 6)))) ||
            (left == 0 && value < 0x80))
            return -1;
    }
    return static_cast<int32_t>(value);
}

}  // namespace

bool BytesToUtf16(CodePage page, const char* text, bool strict, std::wstring& out)
{
    const unsigned char* s = reinterpret_cast<const unsigned char*>(text);
    std::wstring units;
    if (page == CodePage::ShiftJis) {
        for (; *s; ++s) {
            uint16_t unit;
            bool valid;
            if (IsShiftJisLeadByte(s[0]) && s[1] != 0) {
                const uint16_t pair = s[1] >= 0x40 && s[1] <= 0xFC ? kDoubleByte[LeadIndex(s[0])][s[1] - 0x40] : 0;
                valid = pair != 0;
                unit = valid ? pair : kReplacement;
                ++s;
            } else {
                unit = kSingleByte[s[0]];
                valid = kSingleByteValid[s[0]] == '1';
            }
            if (!valid && strict)
                return false;
            units += static_cast<wchar_t>(unit);
        }
    } else {
        const unsigned char* end = s;
        while (*end)
            ++end;
        ++end;  // the terminator belongs to the input
        while (s < end) {
            const int32_t c = DecodeUtf8(s, end);
            if (c < 0 && strict)
                return false;
            if (c < 0) {
                units += static_cast<wchar_t>(0xFFFD);
            } else if (c >= 0x10000) {
                units += static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
                units += static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
            } else {
                units += static_cast<wchar_t>(c);
            }
        }
        if (!units.empty() && units.back() == 0)
            units.pop_back();
    }
    out.swap(units);
    return true;
}

bool Utf16ToBytes(CodePage page, const wchar_t* text, bool strict, std::string& out)
{
    std::string bytes;
    for (const wchar_t* p = text; *p; ++p) {
        const uint32_t u = static_cast<uint32_t>(*p) & 0xFFFF;
        if (page == CodePage::ShiftJis) {
            const uint16_t b = EncodeTable()[u];
            if (b > 0xFF)
                bytes += static_cast<char>(b >> 8);
            bytes += static_cast<char>(b & 0xFF);
            continue;
        }
        uint32_t c = u;
        if (u >= 0xD800 && u <= 0xDBFF && p[1] >= 0xDC00 && p[1] <= 0xDFFF) {
            c = 0x10000 + ((u - 0xD800) << 10) + (static_cast<uint32_t>(p[1]) - 0xDC00);
            ++p;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            if (strict)
                return false;
            c = 0xFFFD;
        }
        if (c < 0x80) {
            bytes += static_cast<char>(c);
        } else if (c < 0x800) {
            bytes += static_cast<char>(0xC0 | (c >> 6));
            bytes += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            bytes += static_cast<char>(0xE0 | (c >> 12));
            bytes += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            bytes += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            bytes += static_cast<char>(0xF0 | (c >> 18));
            bytes += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            bytes += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            bytes += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    out.swap(bytes);
    return true;
}

wchar_t UpperCaseUnit(wchar_t unit) { return static_cast<wchar_t>(UpperTable()[static_cast<uint32_t>(unit) & 0xFFFF]); }

bool SameTextIgnoringCase(const wchar_t* a, size_t aLength, const wchar_t* b, size_t bLength)
{
    if (aLength != bLength)
        return false;
    for (size_t i = 0; i < aLength; ++i)
        if (UpperCaseUnit(a[i]) != UpperCaseUnit(b[i]))
            return false;
    return true;
}
