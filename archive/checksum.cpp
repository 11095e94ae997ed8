// The content checksum, computed as data streams past, through the fastest form this CPU has.
#include "archive/checksum.h"

#include "archive/checksum_simd.h"
#include "util/file.h"

namespace {

using UpdateFn = void (*)(ContentChecksum&, const unsigned char*, uint32_t);

// Every x86-64 CPU has SSE2; AVX2 and AVX-512 need the CPU and the OS's saved-state support. Null: the CPU
// or the OS lacks the form.
UpdateFn FormFunction(ChecksumForm form)
{
    switch (form) {
    case ChecksumForm::Bytewise: return UpdateContentChecksumBytewise;
    case ChecksumForm::Sse2: return UpdateContentChecksumSse2;
    case ChecksumForm::Avx2: return CpuHasAvx2() ? UpdateContentChecksumAvx2 : nullptr;
    case ChecksumForm::Avx512: return CpuHasAvx512Bw() ? UpdateContentChecksumAvx512 : nullptr;
    default:
        return CpuHasAvx512Bw() ? UpdateContentChecksumAvx512
               : CpuHasAvx2()   ? UpdateContentChecksumAvx2
                                : UpdateContentChecksumSse2;
    }
}

UpdateFn& ChosenUpdate()
{
    static UpdateFn update = FormFunction(ChecksumForm::Best);  // chosen once, at the first use
    return update;
}

}  // namespace

void UpdateContentChecksum(ContentChecksum& checksum, const void* bytes, uint32_t length)
{
    ChosenUpdate()(checksum, static_cast<const unsigned char*>(bytes), length);
}

bool ForceChecksumForm(ChecksumForm form)
{
    const UpdateFn update = FormFunction(form);
    if (!update)
        return false;
    ChosenUpdate() = update;
    return true;
}

uint64_t StoredChecksum(const ContentChecksum& checksum)
{
    return checksum.sum | (static_cast<uint64_t>(checksum.a) << 32) | (static_cast<uint64_t>(checksum.b) << 40) |
           (static_cast<uint64_t>(checksum.c) << 48) | (static_cast<uint64_t>(checksum.d) << 56);
}

bool ChecksumFromFile(CFileDX& file, uint64_t length, unsigned char* buffer, uint32_t capacity, uint64_t& value)
{
    ContentChecksum checksum{};
    for (uint64_t done = 0; done < length;) {
        const uint32_t n = length - done < capacity ? static_cast<uint32_t>(length - done) : capacity;
        if (file.Read(buffer, n) != n)
            return false;
        UpdateContentChecksum(checksum, buffer, n);
        done += n;
    }
    value = StoredChecksum(checksum);
    return true;
}
