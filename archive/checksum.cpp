// The content checksum, computed as data streams past.
#include "archive/checksum.h"

void UpdateContentChecksum(ContentChecksum& checksum, const void* bytes, uint32_t length)
{
    const unsigned char* p = static_cast<const unsigned char*>(bytes);
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

uint64_t StoredChecksum(const ContentChecksum& checksum)
{
    return checksum.sum | (static_cast<uint64_t>(checksum.a) << 32) | (static_cast<uint64_t>(checksum.b) << 40) |
           (static_cast<uint64_t>(checksum.c) << 48) | (static_cast<uint64_t>(checksum.d) << 56);
}
