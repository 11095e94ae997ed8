// ContentChecksum: the 64-bit checksum of a file's contents that version lists store.
#pragma once
#include <cstdint>

struct ContentChecksum {
    uint32_t sum;  // running polynomial sum: sum = sum * 233 + byte
    uint8_t a;     // sum of the low bytes of `sum`
    uint8_t b;     // XOR of the low bytes of `sum`
    uint8_t c;     // sum of the bytes
    uint8_t d;     // XOR of the bytes
};

// Folds `length` bytes into the checksum. Feeding a stream in runs of any lengths gives the same result
// as feeding it at once.
void UpdateContentChecksum(ContentChecksum& checksum, const void* bytes, uint32_t length);

// The forms of the computation. UpdateContentChecksum uses the fastest this CPU and its OS support, timed
// once at the first use (Best).
enum class ChecksumForm { Best, Bytewise, Sse2, Avx2, Avx512 };
// The form UpdateContentChecksum uses now: the one Best chose, unless a test forced another.
ChecksumForm ChosenChecksumForm();
// For the tests and the benchmark only: makes UpdateContentChecksum use `form` from now on (Best: times the
// forms again). False, changing nothing, when this processor (or its OS) lacks it. The program itself never
// calls it.
bool ForceChecksumForm(ChecksumForm form);

class CFileDX;
// Reads `length` bytes from where the file pointer stands, through `buffer` of `capacity` bytes, into the
// content checksum in its stored form. False when the file runs short.
bool ChecksumFromFile(CFileDX& file, uint64_t length, unsigned char* buffer, uint32_t capacity, uint64_t& value);

// The stored form, as a little-endian u64: sum, then a, b, c, d.
uint64_t StoredChecksum(const ContentChecksum& checksum);
