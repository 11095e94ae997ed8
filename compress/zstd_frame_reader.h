// Reading one zstd frame (RFC 8878) as a payload entry stores it: exactly one frame, recording its content
// size and checksum, no dictionary, a window of at most 8 MiB; pulled from its stored bytes in order, with one
// fixed allocation whatever the frame.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>

struct ZSTD_DCtx_s;

// The largest window a frame may need: 8 MiB (window log 23, what level 19 uses). A frame that asks for more
// is refused as damage.
const unsigned kMaxFrameWindowLog = 23;

// Pulls stored bytes: fills up to `size` bytes, returns how many (0 when none are left); a read failure is
// reported by setting a flag the caller owns.
using StoredBytesSource = std::function<uint32_t(unsigned char* bytes, uint32_t size)>;

// One per run, reused for entry after entry: it allocates once (the decoder's context with room for the
// largest window, and its input buffer) and never grows, so a damaged or hostile frame cannot make it
// allocate. After the first fault every call fails and Problem() names that fault.
class ZstdFrameReader {
public:
    ZstdFrameReader();
    ~ZstdFrameReader();
    ZstdFrameReader(const ZstdFrameReader&) = delete;
    ZstdFrameReader& operator=(const ZstdFrameReader&) = delete;

    // False when the allocation failed; then every frame is refused.
    bool Ready() const;
    // Starts one frame, whose content must be exactly `contentSize` bytes, read from `source` (which must
    // outlive the frame's reads). Drops what was left of the previous frame.
    void Begin(const StoredBytesSource& source, uint64_t contentSize);
    // Exactly `size` content bytes into `out`, or false: damage, the source ran dry, a header this reader
    // refuses (checked on the first call), or more bytes asked for than the content holds.
    bool Read(unsigned char* out, uint32_t size);
    // After the last Read: true only when the frame ended exactly at contentSize, its checksum verified,
    // and the source has no byte left.
    bool Finish();
    // A short English phrase naming the first fault, or nullptr when there was none.
    const char* Problem() const;

private:
    bool Start();
    bool Decode(unsigned char* out, uint32_t size, uint32_t& produced);
    bool Refill();
    bool Fail(const char* problem);

    std::unique_ptr<unsigned char[]> workspace_;  // the decoder's context and its window, fixed
    std::unique_ptr<unsigned char[]> input_;
    ZSTD_DCtx_s* context_ = nullptr;  // inside workspace_
    uint32_t inputCapacity_ = 0;
    uint32_t inputPos_ = 0;
    uint32_t inputSize_ = 0;
    uint32_t headerLeft_ = 0;  // the frame header's bytes not yet handed to the decoder
    const StoredBytesSource* source_ = nullptr;
    uint64_t contentSize_ = 0;
    uint64_t produced_ = 0;
    bool started_ = false;
    bool ended_ = false;  // the decoder reached the frame's end (its checksum verified)
    const char* problem_ = nullptr;
};
