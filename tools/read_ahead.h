// Streaming a file through a consumer while a second thread reads ahead of it.
#pragma once
#include <cstdint>
#include <functional>

class CFileDX;

using ChunkFunction = std::function<bool(const unsigned char* bytes, uint32_t size)>;

// Reads `length` bytes from where the file pointer stands and hands them to `consume` in order, chunk by
// chunk, while a second thread reads the next chunks and, right after each read, hands the chunk to
// `inspect` (when given) in order too: the work of one thread overlaps the other's, so a file streams at
// the speed of the slower of the two, not of their sum. Memory stays a few chunks. False when the file
// runs short or a read fails, or as soon as `inspect` or `consume` does.
bool StreamWithReadAhead(CFileDX& file, uint64_t length, const ChunkFunction& consume,
                         const ChunkFunction& inspect = nullptr);
