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
        uint16_t inv = 233;
        for (int i = 0; i < 4; ++i)
            inv = static_cast<uint16_t>(inv * (2 - 233 * inv));
        uint16_t invPow = 1;
        for (uint32_t k = 0; k < kBlock; ++k) {
            invPow = static_cast<uint16_t>(invPow * inv);
            inverse[k] = invPow;
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

__attribute__((target("avx2"))) void UpdateContentChecksumAvx2(ContentChecksum& checksum, const unsigned char* p,
                                                               uint32_t length)
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
