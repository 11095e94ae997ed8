// checksum_bench: throughput of each form of the content checksum next to memcpy over the same data.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "archive/checksum.h"
#include "archive/checksum_simd.h"

namespace {

const size_t kSize = 256u << 20;
const uint32_t kChunk = 1u << 20;  // the updater feeds 1 MiB at a time

double Seconds()
{
    static LARGE_INTEGER frequency;
    if (!frequency.QuadPart)
        QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

template <typename F>
double BestGbPerSecond(F run)
{
    double best = 0;
    for (int rep = 0; rep < 5; ++rep) {
        const double t0 = Seconds();
        run();
        const double gbs = kSize / (Seconds() - t0) / 1e9;
        if (gbs > best)
            best = gbs;
    }
    return best;
}

}  // namespace

int main()
{
    std::vector<unsigned char> data(kSize), copy(kSize);
    uint32_t x = 12345;
    for (size_t i = 0; i < kSize; ++i) {
        x = x * 1664525u + 1013904223u;
        data[i] = static_cast<unsigned char>(x >> 24);
    }
    memcpy(copy.data(), data.data(), kSize);

    const char* names[] = {"Best", "byte loop", "SSE2", "AVX2", "AVX-512"};  // by ChecksumForm
    struct Form {
        const char* name;
        void (*update)(ContentChecksum&, const unsigned char*, uint32_t);
    } forms[] = {{names[1], UpdateContentChecksumBytewise},
                 {names[2], UpdateContentChecksumSse2},
                 {names[3], CpuHasAvx2() ? UpdateContentChecksumAvx2 : nullptr},
                 {names[4], CpuHasAvx512Bw() ? UpdateContentChecksumAvx512 : nullptr}};
    printf("checksum throughput over %zu MiB in %u KiB runs (best of 5)\n", kSize >> 20, kChunk >> 10);
    printf("  the updater's choice (timed at its first use): %s\n", names[static_cast<int>(ChosenChecksumForm())]);
    double byteLoop = 0, chosenGbs = 0, fastestOther = 0;
    uint64_t first = 0;
    for (const Form& f : forms) {
        if (!f.update) {
            printf("  %-10s not available on this CPU\n", f.name);
            continue;
        }
        ContentChecksum result{};
        const double gbs = BestGbPerSecond([&] {
            ContentChecksum c{};
            for (size_t off = 0; off < kSize; off += kChunk)
                f.update(c, data.data() + off, kChunk);
            result = c;
        });
        if (!byteLoop) {
            byteLoop = gbs;
            first = StoredChecksum(result);
        }
        if (f.name == names[static_cast<int>(ChosenChecksumForm())])
            chosenGbs = gbs;
        else if (gbs > fastestOther)
            fastestOther = gbs;
        printf("  %-10s %6.2f GB/s  %5.2fx the byte loop  checksum %016llX%s\n", f.name, gbs, gbs / byteLoop,
               static_cast<unsigned long long>(StoredChecksum(result)),
               StoredChecksum(result) == first ? "" : "  MISMATCH");
    }
    const double copyGbs = BestGbPerSecond([&] {
        for (size_t off = 0; off < kSize; off += kChunk)
            memcpy(copy.data() + off, data.data() + off, kChunk);
    });
    printf("  %-10s %6.2f GB/s  %5.2fx the byte loop\n", "memcpy", copyGbs, copyGbs / byteLoop);
    printf("  the chosen form: %.2fx memcpy, %.2fx the fastest other form\n", chosenGbs / copyGbs, chosenGbs / fastestOther);
    return 0;
}
