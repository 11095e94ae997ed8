// Streaming a file through a consumer while a second thread reads ahead of it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>

class CFileDX;

using ChunkFunction = std::function<bool(const unsigned char* bytes, uint32_t size)>;

// The chunks a stream keeps in flight: its buffer holds this many chunks.
const size_t kReadAheadChunks = 4;

// Reads `length` bytes from where the file pointer stands and hands them to `consume` in order, in chunks
// of `chunk` bytes (the last one shorter), while a second thread reads the next chunks and, right after
// each read, hands the chunk to `inspect` (when given) in order too: the work of one thread overlaps the
// other's, so a file streams at the speed of the slower of the two, not of their sum. `buffer` holds
// kReadAheadChunks chunks; nothing else is allocated. When no thread can be started, the caller's thread
// does both in turn. False when the file runs short or a read fails, or as soon as `inspect` or `consume`
// does; no call follows a false.
bool StreamWithReadAhead(CFileDX& file, uint64_t length, uint32_t chunk, unsigned char* buffer,
                         const ChunkFunction& consume, const ChunkFunction& inspect = nullptr);
