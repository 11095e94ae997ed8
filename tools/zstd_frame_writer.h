// Writing one zstd frame (RFC 8878) as a payload entry stores it: the content size and checksum recorded, no
// dictionary, a window of at most 8 MiB (compress/zstd_frame_reader.h's limit), single-threaded, so the same
// content and level give the same bytes on every system.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>

// The level the builder compresses at unless told otherwise: zstd's highest whose window fits the limit.
const int kDefaultCompressionLevel = 19;
const int kMaxCompressionLevel = 19;

// Reads `contentSize` bytes through `read` (it fills exactly n bytes, or returns false), hands the frame's
// bytes to `write` in order (false stops). False on a read or write failure, a level outside 1..19, or when
// zstd fails. `stopAbove`, when nonzero, stops early, returning true with `abandoned` set, as soon as the
// frame's bytes exceed it: a file that does not shrink costs one pass and no memory.
bool WriteZstdFrame(const std::function<bool(unsigned char*, uint32_t)>& read, uint64_t contentSize, int level,
                    const std::function<bool(const unsigned char*, size_t)>& write, uint64_t stopAbove,
                    bool& abandoned);
