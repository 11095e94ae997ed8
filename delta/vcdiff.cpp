// The default code table and the window checksum.
#include "delta/vcdiff.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vcdiff {

const CodeEntry* DefaultCodeTable()
{
    static const struct Table {
        CodeEntry entries[256];
        Table()
        {
            unsigned i = 0;
            entries[i++].first = {kRun, 0, 0};
            for (uint8_t size = 0; size <= 17; ++size)
                entries[i++].first = {kAdd, size, 0};
            for (uint8_t mode = 0; mode < kModes; ++mode) {
                entries[i++].first = {kCopy, 0, mode};
                for (uint8_t size = 4; size <= 18; ++size)
                    entries[i++].first = {kCopy, size, mode};
            }
            for (uint8_t mode = 0; mode < 6; ++mode)
                for (uint8_t add = 1; add <= 4; ++add)
                    for (uint8_t copy = 4; copy <= 6; ++copy)
                        entries[i++] = {{kAdd, add, 0}, {kCopy, copy, mode}};
            for (uint8_t mode = 6; mode < kModes; ++mode)
                for (uint8_t add = 1; add <= 4; ++add)
                    entries[i++] = {{kAdd, add, 0}, {kCopy, 4, mode}};
            for (uint8_t mode = 0; mode < kModes; ++mode)
                entries[i++] = {{kCopy, 4, mode}, {kAdd, 1, 0}};
        }
    } table;
    return table.entries;
}

uint32_t Adler32(uint32_t adler, const unsigned char* data, size_t size)
{
    const uint32_t kBase = 65521;
    uint32_t a = adler & 0xFFFF, b = adler >> 16;
    while (size > 0) {
        // 5552 bytes (347 runs of 16) is the most that can be summed before b may pass 32 bits.
        size_t n = size < 5552 ? size : 5552;
        size -= n;
#if defined(__SSE2__)
        // Sixteen bytes at a time without a chain from byte to byte: over d0..d15, a grows by their sum and
        // b by 16 a + 16 d0 + 15 d1 + ... + d15. The sums go in vector lanes: `sums` the bytes (two lanes of
        // eight), `before` the bytes of the earlier runs once per run (each counts 16 times in b), `weighted`
        // the weighted bytes of each run.
        if (n >= 16) {
            const size_t runs = n / 16;
            const __m128i zero = _mm_setzero_si128();
            const __m128i firstWeights = _mm_setr_epi16(16, 15, 14, 13, 12, 11, 10, 9);
            const __m128i lastWeights = _mm_setr_epi16(8, 7, 6, 5, 4, 3, 2, 1);
            __m128i sums = zero, before = zero, weighted = zero;
            for (size_t r = 0; r < runs; ++r, data += 16) {
                const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data));
                before = _mm_add_epi32(before, sums);
                sums = _mm_add_epi32(sums, _mm_sad_epu8(bytes, zero));
                weighted = _mm_add_epi32(weighted, _mm_madd_epi16(_mm_unpacklo_epi8(bytes, zero), firstWeights));
                weighted = _mm_add_epi32(weighted, _mm_madd_epi16(_mm_unpackhi_epi8(bytes, zero), lastWeights));
            }
            uint32_t lanes[4], beforeLanes[4], sumLanes[4];
            _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes), weighted);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(beforeLanes), before);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(sumLanes), sums);
            // Within 5552 bytes every lane stays below 2^31; their totals are taken in 64 bits.
            const uint64_t wide = uint64_t{b} + uint64_t{a} * 16 * runs + lanes[0] + lanes[1] + lanes[2] + lanes[3] +
                                  16 * (uint64_t{beforeLanes[0]} + beforeLanes[2]);
            a += sumLanes[0] + sumLanes[2];
            b = static_cast<uint32_t>(wide % kBase);
            n -= runs * 16;
        }
#else
        for (; n >= 16; n -= 16, data += 16) {
            uint32_t sum = 0, weighted = 0;
            for (int i = 0; i < 16; ++i) {
                sum += data[i];
                weighted += static_cast<uint32_t>(16 - i) * data[i];
            }
            b += 16 * a + weighted;
            a += sum;
        }
#endif
        while (n--) {
            a += *data++;
            b += a;
        }
        a %= kBase;
        b %= kBase;
    }
    return (b << 16) | a;
}

}  // namespace vcdiff
