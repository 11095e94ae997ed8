// Display widths after the East Asian Width property (wide and fullwidth ranges) and combining marks.
#include "tools/columns.h"

#include <cstdint>

#include "util/text/encoding.h"

namespace {

struct Range {
    uint32_t first, last;
};

const Range kWide[] = {
    {0x1100, 0x115F},   {0x231A, 0x231B},   {0x2329, 0x232A},   {0x2E80, 0x303E},   {0x3041, 0x33FF},
    {0x3400, 0x4DBF},   {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},   {0xA960, 0xA97F},   {0xAC00, 0xD7A3},
    {0xF900, 0xFAFF},   {0xFE10, 0xFE19},   {0xFE30, 0xFE6F},   {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6},
    {0x1F300, 0x1F64F}, {0x1F900, 0x1F9FF}, {0x20000, 0x2FFFD}, {0x30000, 0x3FFFD},
};
const Range kCombining[] = {{0x0300, 0x036F}, {0x1AB0, 0x1AFF}, {0x1DC0, 0x1DFF}, {0x20D0, 0x20FF},
                            {0x3099, 0x309A}, {0xFE00, 0xFE0F}, {0xFE20, 0xFE2F}};

template <size_t N>
bool InRanges(uint32_t code, const Range (&ranges)[N])
{
    for (const Range& r : ranges)
        if (code >= r.first && code <= r.last)
            return true;
    return false;
}

}  // namespace

size_t DisplayWidth(const std::string& utf8)
{
    size_t width = 0;
    for (const char* p = utf8.c_str(); *p;) {
        uint32_t code = 0;
        const uint32_t length = DecodeUtf8Char(&code, p);
        if (length == 0)
            break;
        width += InRanges(code, kCombining) ? 0 : InRanges(code, kWide) ? 2 : 1;
        p += length;
    }
    return width;
}

std::string PadToWidth(const std::string& utf8, size_t columns)
{
    const size_t width = DisplayWidth(utf8);
    return width >= columns ? utf8 : utf8 + std::string(columns - width, ' ');
}

std::string Counted(size_t n, const char* one, const char* many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}
