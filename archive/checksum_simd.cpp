// The content checksum, 64 bytes at a time in vector registers.
//
// Per byte x: sum = sum * 233 + x; a += sum; b ^= sum (low bytes); c += x; d ^= x. Over a block of n bytes
// the recurrence unrolls into
//   sum_k = 233^k * sum_0 + SUM_{j<=k} 233^(k-j) * x_j   (mod 2^32)
// so the block's 32-bit sum is a dot product with fixed weights, and the low byte s_k of every
// intermediate sum (which a and b need) is a prefix scan of an 8-bit recurrence.
// 233 is invertible mod 256, so u_k = 233^-k * s_k = s_0 + SUM_{j<=k} 233^-j * x_j is a plain prefix sum
// of weighted bytes: within a register lanes add the lane 1, 2 and 4 places before them (and, in 256-bit
// registers, the high half adds the low half's total), runs chain by adding their totals, and one multiply
// per lane turns u back into s.
// Lanes are 16 bits wide with the byte in the low half: a product's low byte depends only on the factors'
// low bytes, so the high halves may hold anything. a and b accumulate whole 16-bit lanes and are folded
// once per call.
#include "archive/checksum_simd.h"

#include <cpuid.h>
#include <immintrin.h>

namespace {

const uint32_t kBlock = 64;

uint32_t Pow233(uint64_t n)
{
    uint32_t result = 1, base = 233;
    for (; n; n >>= 1) {
        if (n & 1)
            result *= base;
        base *= base;
    }
    return result;
}

// Weights of one block, built once: powers of 233 by lane, and the dot-product weights of the 32-bit sum
// split into signed 16-bit halves (w = lo + 65536 * hi, mod 2^32) for the pairwise multiply-add.
struct BlockConstants {
    uint16_t fromStart[kBlock];  // 233^(k+1): lane k's factor for the block's starting low byte
    uint16_t inverse[kBlock];    // 233^-(k+1) mod 2^16: lane k's weight in the inverted scan
    int16_t weightLo[kBlock];    // 233^(63-k), low half as a signed value
    int16_t weightHi[kBlock];    // the matching high half
    BlockConstants()
    {
        // 233 is odd, so it has an inverse mod 2^16; Newton's iteration doubles the correct bits each step.
        // Unsigned arithmetic throughout: two 16-bit values promote to int, whose product may overflow.
        uint32_t inv = 233;
        for (int i = 0; i < 4; ++i)
            inv = (inv * (2u - 233u * inv)) & 0xFFFF;
        uint32_t invPow = 1;
        for (uint32_t k = 0; k < kBlock; ++k) {
            invPow = (invPow * inv) & 0xFFFF;
            inverse[k] = static_cast<uint16_t>(invPow);
            fromStart[k] = static_cast<uint16_t>(Pow233(k + 1));
            const uint32_t w = Pow233(kBlock - 1 - k);
            const int32_t lo = static_cast<int16_t>(w & 0xFFFF);
            weightLo[k] = static_cast<int16_t>(lo);
            weightHi[k] = static_cast<int16_t>((w - static_cast<uint32_t>(lo)) >> 16);
        }
    }
};

const BlockConstants& Constants()
{
    static const BlockConstants constants;
    return constants;
}

// Folds the vector accumulators and the per-call totals back into the 8-byte state.
void Finish(ContentChecksum& checksum, uint32_t blocks, uint32_t dotSum, uint32_t aLanes, uint32_t bLanes,
            uint64_t byteSum, uint32_t byteXor)
{
    checksum.sum = Pow233(static_cast<uint64_t>(blocks) * kBlock) * checksum.sum + dotSum;
    checksum.a = static_cast<uint8_t>(checksum.a + aLanes);
    checksum.b = static_cast<uint8_t>(checksum.b ^ bLanes);
    checksum.c = static_cast<uint8_t>(checksum.c + byteSum);
    checksum.d = static_cast<uint8_t>(checksum.d ^ byteXor ^ (byteXor >> 8) ^ (byteXor >> 16) ^ (byteXor >> 24));
}

inline __m128i MulLo32Sse2(__m128i a, __m128i b)
{
    const __m128i even = _mm_mul_epu32(a, b);
    const __m128i odd = _mm_mul_epu32(_mm_srli_si128(a, 4), _mm_srli_si128(b, 4));
    return _mm_unpacklo_epi32(_mm_shuffle_epi32(even, _MM_SHUFFLE(0, 0, 2, 0)),
                              _mm_shuffle_epi32(odd, _MM_SHUFFLE(0, 0, 2, 0)));
}

inline uint32_t HorizontalSum32Sse2(__m128i v)
{
    v = _mm_add_epi32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(1, 0, 3, 2)));
    v = _mm_add_epi32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(2, 3, 0, 1)));
    return static_cast<uint32_t>(_mm_cvtsi128_si32(v));
}

inline uint32_t HorizontalXor32Sse2(__m128i v)
{
    v = _mm_xor_si128(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(1, 0, 3, 2)));
    v = _mm_xor_si128(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(2, 3, 0, 1)));
    return static_cast<uint32_t>(_mm_cvtsi128_si32(v));
}

// The sums and XORs of 16-bit lanes, folded to 32 bits (only their low bytes matter).
inline void FoldWordLanesSse2(__m128i aAcc, __m128i bAcc, uint32_t& a, uint32_t& b)
{
    a = HorizontalSum32Sse2(_mm_add_epi32(_mm_and_si128(aAcc, _mm_set1_epi32(0xFFFF)), _mm_srli_epi32(aAcc, 16)));
    const uint32_t x = HorizontalXor32Sse2(bAcc);
    b = x ^ (x >> 16);
}

}  // namespace

void UpdateContentChecksumBytewise(ContentChecksum& checksum, const unsigned char* p, uint32_t length)
{
    uint32_t sum = checksum.sum;
    uint8_t a = checksum.a, b = checksum.b, c = checksum.c, d = checksum.d;
    for (uint32_t i = 0; i < length; ++i) {
        const uint8_t x = p[i];
        sum = sum * 233 + x;
        a = static_cast<uint8_t>(a + sum);
        b = static_cast<uint8_t>(b ^ sum);
        c = static_cast<uint8_t>(c + x);
        d = static_cast<uint8_t>(d ^ x);
    }
    checksum = {sum, a, b, c, d};
}

void UpdateContentChecksumSse2(ContentChecksum& checksum, const unsigned char* p, uint32_t length)
{
    const uint32_t blocks = length / kBlock;
    if (blocks == 0) {
        UpdateContentChecksumBytewise(checksum, p, length);
        return;
    }
    const BlockConstants& k = Constants();
    const __m128i zero = _mm_setzero_si128();
    const __m128i blockStep = _mm_set1_epi16(static_cast<short>(Pow233(kBlock)));
    const __m128i blockStep32 = _mm_set1_epi32(static_cast<int>(Pow233(kBlock)));

    __m128i start = _mm_set1_epi16(static_cast<short>(checksum.sum & 0xFF));  // low byte before the block
    __m128i aAcc = zero, bAcc = zero, dot = zero, byteSum = zero, byteXor = zero;
    for (uint32_t blk = 0; blk < blocks; ++blk, p += kBlock) {
        __m128i dotLo = zero, dotHi = zero, running = start;
#pragma GCC unroll 4
        for (int q = 0; q < 4; ++q) {
            const __m128i raw = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * q));
            byteSum = _mm_add_epi64(byteSum, _mm_sad_epu8(raw, zero));
            byteXor = _mm_xor_si128(byteXor, raw);
            const __m128i halves[2] = {_mm_unpacklo_epi8(raw, zero), _mm_unpackhi_epi8(raw, zero)};
#pragma GCC unroll 2
            for (int h = 0; h < 2; ++h) {
                const int t = 2 * q + h;
                const __m128i x = halves[h];
                const __m128i* lane = reinterpret_cast<const __m128i*>(k.inverse + 8 * t);
                dotLo = _mm_add_epi32(dotLo, _mm_madd_epi16(x, _mm_loadu_si128(reinterpret_cast<const __m128i*>(k.weightLo + 8 * t))));
                dotHi = _mm_add_epi32(dotHi, _mm_madd_epi16(x, _mm_loadu_si128(reinterpret_cast<const __m128i*>(k.weightHi + 8 * t))));
                __m128i v = _mm_mullo_epi16(x, _mm_loadu_si128(lane));
                v = _mm_add_epi16(v, _mm_slli_si128(v, 2));
                v = _mm_add_epi16(v, _mm_slli_si128(v, 4));
                v = _mm_add_epi16(v, _mm_slli_si128(v, 8));
                const __m128i u = _mm_add_epi16(v, running);
                // The run's total depends on the data alone: the chain between runs is a single add.
                const __m128i total = _mm_shufflehi_epi16(v, _MM_SHUFFLE(3, 3, 3, 3));
                running = _mm_add_epi16(running, _mm_unpackhi_epi64(total, total));
                const __m128i s = _mm_mullo_epi16(u, _mm_loadu_si128(reinterpret_cast<const __m128i*>(k.fromStart + 8 * t)));
                aAcc = _mm_add_epi16(aAcc, s);
                bAcc = _mm_xor_si128(bAcc, s);
            }
        }
        start = _mm_mullo_epi16(running, blockStep);
        dot = _mm_add_epi32(MulLo32Sse2(dot, blockStep32), _mm_add_epi32(dotLo, _mm_slli_epi32(dotHi, 16)));
    }
    uint32_t aLanes, bLanes;
    FoldWordLanesSse2(aAcc, bAcc, aLanes, bLanes);
    const uint64_t bytes = static_cast<uint64_t>(_mm_cvtsi128_si64(byteSum)) +
                           static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(byteSum, byteSum)));
    Finish(checksum, blocks, HorizontalSum32Sse2(dot), aLanes, bLanes, bytes, HorizontalXor32Sse2(byteXor));
    UpdateContentChecksumBytewise(checksum, p, length - blocks * kBlock);
}

namespace {

// The 64-byte block form: the tails of the segmented form below. Long on purpose: one kernel whose constants
// stay in registers across its hot loop; split, they would pass through memory between the parts.
__attribute__((target("avx2"))) void UpdateBlocksAvx2(ContentChecksum& checksum, const unsigned char* p, uint32_t length)
{
    const uint32_t blocks = length / kBlock;
    if (blocks == 0) {
        UpdateContentChecksumBytewise(checksum, p, length);
        return;
    }
    // Here the scan runs on u_k = 233^-k * s_k, which only adds: u_k = s_0 + SUM_{j<=k} 233^-j * x_j. The
    // weights and the way back (s_k = 233^k * u_k) are fixed per lane of the block.
    const BlockConstants& k = Constants();
    const __m256i zero = _mm256_setzero_si256();
    const __m256i highHalf = _mm256_inserti128_si256(zero, _mm_set1_epi16(-1), 1);
    const __m256i blockStep = _mm256_set1_epi16(static_cast<short>(Pow233(kBlock)));
    const __m256i blockStep32 = _mm256_set1_epi32(static_cast<int>(Pow233(kBlock)));
    __m256i inverse[4], power[4], weightLo[4], weightHi[4];
    for (int t = 0; t < 4; ++t) {
        inverse[t] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(k.inverse + 16 * t));
        power[t] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(k.fromStart + 16 * t));
        weightLo[t] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(k.weightLo + 16 * t));
        weightHi[t] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(k.weightHi + 16 * t));
    }

    __m256i start = _mm256_set1_epi16(static_cast<short>(checksum.sum & 0xFF));  // low byte before the block
    __m256i aAcc = zero, bAcc = zero, dot = zero, byteSum = zero, byteXor = zero;
    for (uint32_t blk = 0; blk < blocks; ++blk, p += kBlock) {
        __m256i dotLo = zero, dotHi = zero, running = start;
#pragma GCC unroll 2
        for (int q = 0; q < 2; ++q) {
            const __m256i raw = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32 * q));
            byteSum = _mm256_add_epi64(byteSum, _mm256_sad_epu8(raw, zero));
            byteXor = _mm256_xor_si256(byteXor, raw);
            const __m256i halves[2] = {_mm256_cvtepu8_epi16(_mm256_castsi256_si128(raw)),
                                       _mm256_cvtepu8_epi16(_mm256_extracti128_si256(raw, 1))};
#pragma GCC unroll 2
            for (int h = 0; h < 2; ++h) {
                const int t = 2 * q + h;
                const __m256i x = halves[h];
                dotLo = _mm256_add_epi32(dotLo, _mm256_madd_epi16(x, weightLo[t]));
                dotHi = _mm256_add_epi32(dotHi, _mm256_madd_epi16(x, weightHi[t]));
                __m256i v = _mm256_mullo_epi16(x, inverse[t]);
                v = _mm256_add_epi16(v, _mm256_slli_si256(v, 2));
                v = _mm256_add_epi16(v, _mm256_slli_si256(v, 4));
                v = _mm256_add_epi16(v, _mm256_slli_si256(v, 8));
                const __m256i lowTotal =
                    _mm256_permute4x64_epi64(_mm256_shufflehi_epi16(v, _MM_SHUFFLE(3, 3, 3, 3)), 0x55);
                v = _mm256_add_epi16(v, _mm256_and_si256(lowTotal, highHalf));
                const __m256i u = _mm256_add_epi16(v, running);
                // The run's total depends on the data alone: the chain between runs is a single add.
                running = _mm256_add_epi16(
                    running, _mm256_permute4x64_epi64(_mm256_shufflehi_epi16(v, _MM_SHUFFLE(3, 3, 3, 3)), 0xFF));
                const __m256i s = _mm256_mullo_epi16(u, power[t]);
                aAcc = _mm256_add_epi16(aAcc, s);
                bAcc = _mm256_xor_si256(bAcc, s);
            }
        }
        start = _mm256_mullo_epi16(running, blockStep);
        dot = _mm256_add_epi32(_mm256_mullo_epi32(dot, blockStep32),
                               _mm256_add_epi32(dotLo, _mm256_slli_epi32(dotHi, 16)));
    }
    const __m128i aHalf = _mm_add_epi16(_mm256_castsi256_si128(aAcc), _mm256_extracti128_si256(aAcc, 1));
    const __m128i bHalf = _mm_xor_si128(_mm256_castsi256_si128(bAcc), _mm256_extracti128_si256(bAcc, 1));
    const __m128i dotHalf = _mm_add_epi32(_mm256_castsi256_si128(dot), _mm256_extracti128_si256(dot, 1));
    const __m128i sumHalf = _mm_add_epi64(_mm256_castsi256_si128(byteSum), _mm256_extracti128_si256(byteSum, 1));
    const __m128i xorHalf = _mm_xor_si128(_mm256_castsi256_si128(byteXor), _mm256_extracti128_si256(byteXor, 1));
    uint32_t aLanes, bLanes;
    FoldWordLanesSse2(aHalf, bHalf, aLanes, bLanes);
    const uint64_t bytes = static_cast<uint64_t>(_mm_cvtsi128_si64(sumHalf)) +
                           static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(sumHalf, sumHalf)));
    Finish(checksum, blocks, HorizontalSum32Sse2(dotHalf), aLanes, bLanes, bytes, HorizontalXor32Sse2(xorHalf));
    _mm256_zeroupper();
    UpdateContentChecksumBytewise(checksum, p, length - blocks * kBlock);
}

}  // namespace

namespace {

// The segmented forms, for runs of a whole superblock or more: kSegments(form) contiguous segments of
// kSegmentLength bytes. Pass 1 reads each segment for the part of the 32-bit sum its bytes contribute, a dot
// product with fixed weights, and for c and d; chaining those parts gives every segment's starting sum.
// Pass 2 then runs the low byte's own recurrence, s = 233 * s + x, in all segments at once, one 16-bit lane
// a segment, on bytes transposed so that a register holds the same place of every segment; a and b take
// each s as it comes. That recurrence is two operations a byte for a register of lanes, where the scan of
// one stream needs a dozen.
const uint32_t kSegmentLength = 512;

struct SegmentConstants {
    int16_t weightLo[kSegmentLength];  // 233^(L-1-j), its low half as a signed value
    int16_t weightHi[kSegmentLength];  // the matching high half (w = lo + 65536 * hi, mod 2^32)
    uint32_t step;                     // 233^L: the whole segment's factor on its starting sum
    SegmentConstants()
    {
        for (uint32_t j = 0; j < kSegmentLength; ++j) {
            const uint32_t w = Pow233(kSegmentLength - 1 - j);
            const int32_t lo = static_cast<int16_t>(w & 0xFFFF);
            weightLo[j] = static_cast<int16_t>(lo);
            weightHi[j] = static_cast<int16_t>((w - static_cast<uint32_t>(lo)) >> 16);
        }
        step = Pow233(kSegmentLength);
    }
};

const SegmentConstants& Segments()
{
    static const SegmentConstants constants;
    return constants;
}

// Chains the segments' parts of the sum: sums[c] is the sum before segment c; returns the sum after all.
uint32_t ChainSegments(uint32_t sum, const uint32_t* parts, uint32_t count, uint16_t* starts)
{
    const uint32_t step = Segments().step;
    for (uint32_t c = 0; c < count; ++c) {
        starts[c] = static_cast<uint16_t>(sum & 0xFF);
        sum = step * sum + parts[c];
    }
    return sum;
}

const uint32_t kSegmentsAvx2 = 32;  // two registers of 16 lanes

struct Avx2Totals {
    __m256i a, b, bytes, xors;
};

__attribute__((target("avx2"))) inline uint32_t HorizontalSum32Avx2(__m256i v)
{
    return HorizontalSum32Sse2(_mm_add_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1)));
}

// One row of 8 segments in each 128-bit half: the 16 bytes at `offset` of segments first..first+7 and
// first+8..first+15, transposed into 16 registers of 16-bit lanes (lane i: segment first+i), fed to the
// recurrence in place order.
__attribute__((target("avx2"), always_inline)) inline void RecurAvx2(const unsigned char* const* segment,
                                                                      uint32_t offset, __m256i& s, __m256i& aAcc,
                                                                      __m256i& bAcc)
{
    const __m256i zero = _mm256_setzero_si256();
    const __m256i factor = _mm256_set1_epi16(233);
    __m256i r[8];
#pragma GCC unroll 8
    for (int i = 0; i < 8; ++i)
        r[i] = _mm256_inserti128_si256(
            _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(segment[i] + offset))),
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(segment[i + 8] + offset)), 1);
    __m256i a[8], b[8];
#pragma GCC unroll 4
    for (int i = 0; i < 4; ++i) {
        a[2 * i] = _mm256_unpacklo_epi8(r[2 * i], r[2 * i + 1]);  // places 0-7 of rows 2i, 2i+1
        a[2 * i + 1] = _mm256_unpackhi_epi8(r[2 * i], r[2 * i + 1]);  // places 8-15
    }
#pragma GCC unroll 2
    for (int i = 0; i < 2; ++i) {
#pragma GCC unroll 2
        for (int h = 0; h < 2; ++h) {
            b[4 * i + 2 * h] = _mm256_unpacklo_epi16(a[4 * i + h], a[4 * i + h + 2]);  // 4 places of 4 rows
            b[4 * i + 2 * h + 1] = _mm256_unpackhi_epi16(a[4 * i + h], a[4 * i + h + 2]);
        }
    }
    // b[0..3]: places 0-3, 4-7, 8-11, 12-15 of rows 0-3; b[4..7] the same of rows 4-7.
#pragma GCC unroll 4
    for (int m = 0; m < 4; ++m) {
        const __m256i pair[2] = {_mm256_unpacklo_epi32(b[m], b[m + 4]), _mm256_unpackhi_epi32(b[m], b[m + 4])};
#pragma GCC unroll 2
        for (int q = 0; q < 2; ++q) {  // each: two places of rows 0-7
            const __m256i places[2] = {_mm256_unpacklo_epi8(pair[q], zero), _mm256_unpackhi_epi8(pair[q], zero)};
#pragma GCC unroll 2
            for (int k = 0; k < 2; ++k) {
                s = _mm256_add_epi16(_mm256_mullo_epi16(s, factor), places[k]);
                aAcc = _mm256_add_epi16(aAcc, s);
                bAcc = _mm256_xor_si256(bAcc, s);
            }
        }
    }
}

__attribute__((target("avx2"))) void SuperblockAvx2(uint32_t& sum, const unsigned char* p, Avx2Totals& t)
{
    const SegmentConstants& k = Segments();
    const __m256i zero = _mm256_setzero_si256();
    uint32_t parts[kSegmentsAvx2];
    __m256i bytes = t.bytes, xors = t.xors;
    for (uint32_t c = 0; c < kSegmentsAvx2; ++c) {
        const unsigned char* q = p + c * kSegmentLength;
        __m256i lo = zero, hi = zero;
#pragma GCC unroll 4
        for (uint32_t j = 0; j < kSegmentLength; j += 32) {
            const __m256i raw = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q + j));
            bytes = _mm256_add_epi64(bytes, _mm256_sad_epu8(raw, zero));
            xors = _mm256_xor_si256(xors, raw);
            const __m256i x0 = _mm256_cvtepu8_epi16(_mm256_castsi256_si128(raw));
            const __m256i x1 = _mm256_cvtepu8_epi16(_mm256_extracti128_si256(raw, 1));
            lo = _mm256_add_epi32(lo, _mm256_add_epi32(
                _mm256_madd_epi16(x0, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(k.weightLo + j))),
                _mm256_madd_epi16(x1, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(k.weightLo + j + 16)))));
            hi = _mm256_add_epi32(hi, _mm256_add_epi32(
                _mm256_madd_epi16(x0, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(k.weightHi + j))),
                _mm256_madd_epi16(x1, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(k.weightHi + j + 16)))));
        }
        parts[c] = HorizontalSum32Avx2(lo) + (HorizontalSum32Avx2(hi) << 16);
    }
    t.bytes = bytes;
    t.xors = xors;
    uint16_t starts[kSegmentsAvx2];
    sum = ChainSegments(sum, parts, kSegmentsAvx2, starts);
    const unsigned char* segment[kSegmentsAvx2];
    for (uint32_t c = 0; c < kSegmentsAvx2; ++c)
        segment[c] = p + c * kSegmentLength;
    __m256i s0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(starts));
    __m256i s1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(starts + 16));
    __m256i aAcc = t.a, bAcc = t.b;
    // Pass 1 waits for memory and pass 2 does not: while this pass runs, fetch the next superblock (a
    // prefetch never faults, so the last one may reach past the run). Into the second-level cache, not the
    // first: there the next superblock would evict the lines this pass is still reading from (Zen 4's L1 holds
    // 32 KiB, this superblock and the next 32 KiB with AVX2 and 64 KiB with AVX-512, which ran at half the
    // speed of memory for it).
    const char* next = reinterpret_cast<const char*>(p) + kSegmentsAvx2 * kSegmentLength;
    const uint32_t linesPerStep = kSegmentsAvx2 * kSegmentLength / 64 / (kSegmentLength / 16);
    for (uint32_t offset = 0; offset < kSegmentLength; offset += 16) {
        for (uint32_t line = 0; line < linesPerStep; ++line)
            _mm_prefetch(next + (offset / 16 * linesPerStep + line) * 64, _MM_HINT_T1);
        RecurAvx2(segment, offset, s0, aAcc, bAcc);
        RecurAvx2(segment + 16, offset, s1, aAcc, bAcc);
    }
    t.a = aAcc;
    t.b = bAcc;
}

}  // namespace

__attribute__((target("avx2"))) void UpdateContentChecksumAvx2(ContentChecksum& checksum, const unsigned char* p,
                                                               uint32_t length)
{
    const uint32_t superblock = kSegmentsAvx2 * kSegmentLength;
    const uint32_t count = length / superblock;
    if (count) {
        const __m256i zero = _mm256_setzero_si256();
        Avx2Totals t = {zero, zero, zero, zero};
        uint32_t sum = checksum.sum;
        for (uint32_t i = 0; i < count; ++i, p += superblock)
            SuperblockAvx2(sum, p, t);
        const __m128i aHalf = _mm_add_epi16(_mm256_castsi256_si128(t.a), _mm256_extracti128_si256(t.a, 1));
        const __m128i bHalf = _mm_xor_si128(_mm256_castsi256_si128(t.b), _mm256_extracti128_si256(t.b, 1));
        const __m128i sumHalf = _mm_add_epi64(_mm256_castsi256_si128(t.bytes), _mm256_extracti128_si256(t.bytes, 1));
        const __m128i xorHalf = _mm_xor_si128(_mm256_castsi256_si128(t.xors), _mm256_extracti128_si256(t.xors, 1));
        uint32_t aLanes, bLanes;
        FoldWordLanesSse2(aHalf, bHalf, aLanes, bLanes);
        const uint64_t bytes = static_cast<uint64_t>(_mm_cvtsi128_si64(sumHalf)) +
                               static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(sumHalf, sumHalf)));
        // Finish multiplies the old sum by 233^(blocks * 64): with no blocks it keeps the chained sum.
        checksum.sum = sum;
        Finish(checksum, 0, 0, aLanes, bLanes, bytes, HorizontalXor32Sse2(xorHalf));
        _mm256_zeroupper();
    }
    UpdateBlocksAvx2(checksum, p, length - count * superblock);
}

bool CpuHasAvx2()
{
    unsigned eax, ebx, ecx, edx;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx))
        return false;
    const bool osSavesYmm = (ecx & bit_OSXSAVE) && (ecx & bit_AVX);
    if (!osSavesYmm)
        return false;
    unsigned xcrLo, xcrHi;
    __asm__("xgetbv" : "=a"(xcrLo), "=d"(xcrHi) : "c"(0));
    if ((xcrLo & 6) != 6)  // the OS saves both XMM and YMM state
        return false;
    return __get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) && (ebx & bit_AVX2);
}

namespace {

const uint32_t kSegmentsAvx512 = 64;  // two registers of 32 lanes

#define AVX512_TARGET __attribute__((target("avx2,avx512f,avx512bw")))

// As RecurAvx2, with four 128-bit quarters of 8 segments each: lane i holds segment first+i.
AVX512_TARGET __attribute__((always_inline)) inline void RecurAvx512(const unsigned char* const* segment,
                                                                     uint32_t offset, __m512i& s, __m512i& aAcc,
                                                                     __m512i& bAcc)
{
    const __m512i zero = _mm512_setzero_si512();
    const __m512i factor = _mm512_set1_epi16(233);
    __m512i r[8];
#pragma GCC unroll 8
    for (int i = 0; i < 8; ++i) {
        __m512i row = _mm512_castsi128_si512(_mm_loadu_si128(reinterpret_cast<const __m128i*>(segment[i] + offset)));
        row = _mm512_inserti32x4(row, _mm_loadu_si128(reinterpret_cast<const __m128i*>(segment[i + 8] + offset)), 1);
        row = _mm512_inserti32x4(row, _mm_loadu_si128(reinterpret_cast<const __m128i*>(segment[i + 16] + offset)), 2);
        r[i] = _mm512_inserti32x4(row, _mm_loadu_si128(reinterpret_cast<const __m128i*>(segment[i + 24] + offset)), 3);
    }
    __m512i a[8], b[8];
#pragma GCC unroll 4
    for (int i = 0; i < 4; ++i) {
        a[2 * i] = _mm512_unpacklo_epi8(r[2 * i], r[2 * i + 1]);
        a[2 * i + 1] = _mm512_unpackhi_epi8(r[2 * i], r[2 * i + 1]);
    }
#pragma GCC unroll 2
    for (int i = 0; i < 2; ++i) {
#pragma GCC unroll 2
        for (int h = 0; h < 2; ++h) {
            b[4 * i + 2 * h] = _mm512_unpacklo_epi16(a[4 * i + h], a[4 * i + h + 2]);
            b[4 * i + 2 * h + 1] = _mm512_unpackhi_epi16(a[4 * i + h], a[4 * i + h + 2]);
        }
    }
#pragma GCC unroll 4
    for (int m = 0; m < 4; ++m) {
        const __m512i pair[2] = {_mm512_unpacklo_epi32(b[m], b[m + 4]), _mm512_unpackhi_epi32(b[m], b[m + 4])};
#pragma GCC unroll 2
        for (int q = 0; q < 2; ++q) {
            const __m512i first = _mm512_add_epi16(_mm512_mullo_epi16(s, factor), _mm512_unpacklo_epi8(pair[q], zero));
            s = _mm512_add_epi16(_mm512_mullo_epi16(first, factor), _mm512_unpackhi_epi8(pair[q], zero));
            aAcc = _mm512_add_epi16(aAcc, _mm512_add_epi16(first, s));
            bAcc = _mm512_ternarylogic_epi32(bAcc, first, s, 0x96);  // a three-way XOR
        }
    }
}

struct Avx512Totals {
    __m512i a, b, bytes, xors;
};

AVX512_TARGET void SuperblockAvx512(uint32_t& sum, const unsigned char* p, Avx512Totals& t)
{
    const SegmentConstants& k = Segments();
    const __m512i zero = _mm512_setzero_si512();
    uint32_t parts[kSegmentsAvx512];
    __m512i bytes = t.bytes, xors = t.xors;
    for (uint32_t c = 0; c < kSegmentsAvx512; ++c) {
        const unsigned char* q = p + c * kSegmentLength;
        __m512i lo = zero, hi = zero;
#pragma GCC unroll 4
        for (uint32_t j = 0; j < kSegmentLength; j += 64) {
            const __m512i raw = _mm512_loadu_si512(q + j);
            bytes = _mm512_add_epi64(bytes, _mm512_sad_epu8(raw, zero));
            xors = _mm512_xor_si512(xors, raw);
            const __m512i x0 = _mm512_cvtepu8_epi16(_mm512_castsi512_si256(raw));
            const __m512i x1 = _mm512_cvtepu8_epi16(_mm512_extracti64x4_epi64(raw, 1));
            lo = _mm512_add_epi32(lo, _mm512_add_epi32(_mm512_madd_epi16(x0, _mm512_loadu_si512(k.weightLo + j)),
                                                       _mm512_madd_epi16(x1, _mm512_loadu_si512(k.weightLo + j + 32))));
            hi = _mm512_add_epi32(hi, _mm512_add_epi32(_mm512_madd_epi16(x0, _mm512_loadu_si512(k.weightHi + j)),
                                                       _mm512_madd_epi16(x1, _mm512_loadu_si512(k.weightHi + j + 32))));
        }
        parts[c] = static_cast<uint32_t>(_mm512_reduce_add_epi32(lo)) +
                   (static_cast<uint32_t>(_mm512_reduce_add_epi32(hi)) << 16);
    }
    t.bytes = bytes;
    t.xors = xors;
    uint16_t starts[kSegmentsAvx512];
    sum = ChainSegments(sum, parts, kSegmentsAvx512, starts);
    const unsigned char* segment[kSegmentsAvx512];
    for (uint32_t c = 0; c < kSegmentsAvx512; ++c)
        segment[c] = p + c * kSegmentLength;
    __m512i s0 = _mm512_loadu_si512(starts);
    __m512i s1 = _mm512_loadu_si512(starts + 32);
    __m512i aAcc = t.a, bAcc = t.b;
    // As in SuperblockAvx2: fetch the next superblock while this pass needs no memory.
    const char* next = reinterpret_cast<const char*>(p) + kSegmentsAvx512 * kSegmentLength;
    const uint32_t linesPerStep = kSegmentsAvx512 * kSegmentLength / 64 / (kSegmentLength / 16);
    for (uint32_t offset = 0; offset < kSegmentLength; offset += 16) {
        for (uint32_t line = 0; line < linesPerStep; ++line)
            _mm_prefetch(next + (offset / 16 * linesPerStep + line) * 64, _MM_HINT_T1);
        RecurAvx512(segment, offset, s0, aAcc, bAcc);
        RecurAvx512(segment + 32, offset, s1, aAcc, bAcc);
    }
    t.a = aAcc;
    t.b = bAcc;
}

AVX512_TARGET __m128i Quarters16(__m512i v, bool xorThem)
{
    const __m256i half = xorThem ? _mm256_xor_si256(_mm512_castsi512_si256(v), _mm512_extracti64x4_epi64(v, 1))
                                 : _mm256_add_epi16(_mm512_castsi512_si256(v), _mm512_extracti64x4_epi64(v, 1));
    return xorThem ? _mm_xor_si128(_mm256_castsi256_si128(half), _mm256_extracti128_si256(half, 1))
                   : _mm_add_epi16(_mm256_castsi256_si128(half), _mm256_extracti128_si256(half, 1));
}

}  // namespace

AVX512_TARGET void UpdateContentChecksumAvx512(ContentChecksum& checksum, const unsigned char* p, uint32_t length)
{
    const uint32_t superblock = kSegmentsAvx512 * kSegmentLength;
    const uint32_t count = length / superblock;
    if (count) {
        const __m512i zero = _mm512_setzero_si512();
        Avx512Totals t = {zero, zero, zero, zero};
        uint32_t sum = checksum.sum;
        for (uint32_t i = 0; i < count; ++i, p += superblock)
            SuperblockAvx512(sum, p, t);
        uint32_t aLanes, bLanes;
        FoldWordLanesSse2(Quarters16(t.a, false), Quarters16(t.b, true), aLanes, bLanes);
        const uint64_t bytes = static_cast<uint64_t>(_mm512_reduce_add_epi64(t.bytes));
        checksum.sum = sum;
        Finish(checksum, 0, 0, aLanes, bLanes, bytes, HorizontalXor32Sse2(Quarters16(t.xors, true)));
        _mm256_zeroupper();
    }
    // What is left is less than a superblock: the AVX2 forms take it.
    UpdateContentChecksumAvx2(checksum, p, length - count * superblock);
}

bool CpuHasAvx512Bw()
{
    unsigned eax, ebx, ecx, edx;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx) || !(ecx & bit_OSXSAVE))
        return false;
    unsigned xcrLo, xcrHi;
    __asm__("xgetbv" : "=a"(xcrLo), "=d"(xcrHi) : "c"(0));
    if ((xcrLo & 0xE6) != 0xE6)  // the OS saves XMM, YMM, the opmask registers and all of ZMM state
        return false;
    return __get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) && (ebx & bit_AVX512F) && (ebx & bit_AVX512BW) &&
           (ebx & bit_AVX2);
}
