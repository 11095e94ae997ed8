// The content checksum, computed as data streams past, through the fastest form this CPU has.
#include "archive/checksum.h"

#include "archive/checksum_simd.h"

namespace {

using UpdateFn = void (*)(ContentChecksum&, const unsigned char*, uint32_t);

// Chosen once: every x86-64 CPU has SSE2; AVX2 needs the CPU and the OS's saved-state support.
UpdateFn ChooseUpdate() { return CpuHasAvx2() ? UpdateContentChecksumAvx2 : UpdateContentChecksumSse2; }

}  // namespace

void UpdateContentChecksum(ContentChecksum& checksum, const void* bytes, uint32_t length)
{
    static const UpdateFn update = ChooseUpdate();
    update(checksum, static_cast<const unsigned char*>(bytes), length);
}

uint64_t StoredChecksum(const ContentChecksum& checksum)
{
    return checksum.sum | (static_cast<uint64_t>(checksum.a) << 32) | (static_cast<uint64_t>(checksum.b) << 40) |
           (static_cast<uint64_t>(checksum.c) << 48) | (static_cast<uint64_t>(checksum.d) << 56);
}
