// What the fuzz targets share: each input becomes a real file (or a folder holding one), read by the same
// readers the updater and mkupdate use, since every reader of outside input reads a file.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

// Writes `size` bytes at offset `at` of a file of this process (the bytes before it are zeros, stored
// sparse), replacing what it held; then `tail`, right behind them or at offset `tailAt` when that lies
// further (zeros in between, sparse too). Its path.
std::wstring InputFile(const uint8_t* data, size_t size, uint64_t at = 0, const std::string& tail = std::string(),
                       const char* name = "input", uint64_t tailAt = 0);
// A folder of this process holding only `name` with these bytes. Its path.
std::wstring InputFolder(const uint8_t* data, size_t size, const char* name);

// A property that does not hold is a finding like a crash: libFuzzer keeps the input that showed it.
#define FUZZ_CHECK(condition)                                                                        \
    do {                                                                                             \
        if (!(condition)) {                                                                          \
            fprintf(stderr, "%s:%d: property does not hold: %s\n", __FILE__, __LINE__, #condition); \
            abort();                                                                                 \
        }                                                                                            \
    } while (0)
