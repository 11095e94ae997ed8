// The content checksum, computed as data streams past, through the fastest form this CPU has.
#include "archive/checksum.h"

#include <x86intrin.h>

#include <vector>

#include "archive/checksum_simd.h"
#include "util/fs/file.h"

namespace {

using UpdateFn = void (*)(ContentChecksum&, const unsigned char*, uint32_t);

struct Choice {
    ChecksumForm form;
    UpdateFn update;
};

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
        return nullptr;
    }
}

// The fastest form on this processor, timed at the first use over a buffer in the cache, as every caller
// checksums a chunk it has just read: which form wins depends on how a processor runs wide vectors (Zen 4
// splits each 512-bit operation into two halves, Intel's cores may lower their clock for them), which no
// table of today's processors can tell of tomorrow's. Each form has three tries; the best of each counts.
// Every form gives the same checksum, so the choice decides the speed only. Under a millisecond.
Choice Calibrated()
{
    std::vector<unsigned char> buffer(64 * 1024);
    uint32_t x = 2463534242u;
    for (unsigned char& b : buffer) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<unsigned char>(x);
    }
    // Timed in processor cycles (the time-stamp counter): no system call, nothing more imported, and the
    // forms are compared with each other only.
    Choice best = {ChecksumForm::Sse2, UpdateContentChecksumSse2};
    unsigned long long bestCycles = 0;
    for (ChecksumForm form : {ChecksumForm::Sse2, ChecksumForm::Avx2, ChecksumForm::Avx512}) {
        const UpdateFn update = FormFunction(form);
        if (!update)
            continue;
        unsigned long long fastest = 0;
        for (int attempt = 0; attempt < 3; ++attempt) {
            ContentChecksum checksum{};
            const unsigned long long start = __rdtsc();
            for (int pass = 0; pass < 4; ++pass)
                update(checksum, buffer.data(), static_cast<uint32_t>(buffer.size()));
            const unsigned long long cycles = __rdtsc() - start;
            fastest = attempt == 0 || cycles < fastest ? cycles : fastest;
        }
        if (bestCycles == 0 || fastest < bestCycles) {
            best = {form, update};
            bestCycles = fastest;
        }
    }
    return best;
}

Choice& Chosen()
{
    static Choice choice = Calibrated();  // chosen once, at the first use
    return choice;
}

}  // namespace

void UpdateContentChecksum(ContentChecksum& checksum, const void* bytes, uint32_t length)
{
    Chosen().update(checksum, static_cast<const unsigned char*>(bytes), length);
}

ChecksumForm ChosenChecksumForm() { return Chosen().form; }

bool ForceChecksumForm(ChecksumForm form)
{
    if (form == ChecksumForm::Best) {
        Chosen() = Calibrated();
        return true;
    }
    const UpdateFn update = FormFunction(form);
    if (!update)
        return false;
    Chosen() = {form, update};
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
