// Applying a VCDIFF delta (RFC 3284) to a base: the subset written by our encoder and by xdelta3 -S none.
// The delta is read in order, the base on demand by offset (never loaded whole), the target handed on a
// window at a time: memory is bounded by one window, whatever the files' sizes.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The base a delta was made against, read by offset.
class DeltaBase {
public:
    virtual ~DeltaBase() = default;
    virtual uint64_t Size() const = 0;
    // Reads exactly `size` bytes at `offset`; false when it cannot.
    virtual bool ReadAt(uint64_t offset, unsigned char* buffer, uint32_t size) = 0;
};
// The delta's bytes, in order.
class DeltaInput {
public:
    virtual ~DeltaInput() = default;
    // Up to `size` bytes; 0 at the end (or on a failed read, which `Failed` then tells).
    virtual uint32_t Read(unsigned char* buffer, uint32_t size) = 0;
    virtual bool Failed() const { return false; }
};
// Where the target goes, a window at a time.
class DeltaOutput {
public:
    virtual ~DeltaOutput() = default;
    virtual bool Write(const unsigned char* data, uint32_t size) = 0;
};

enum class DeltaError {
    None,
    Damaged,      // not a delta, or a damaged, truncated or hostile one
    Unsupported,  // a VCDIFF feature this decoder refuses (named in the problem)
    WrongBase,    // the delta reaches past the base, or its target does not check out against it
    Io,           // the base, the delta or the output could not be read or written
};

struct DeltaResult {
    DeltaError error = DeltaError::None;
    std::string problem;  // one line naming it
    uint64_t targetSize = 0;
};

// Applies `delta` to `base`, writing the target to `output`. False, with `result` naming the problem, on
// any failure; what was written by then is incomplete.
bool ApplyDelta(DeltaInput& delta, DeltaBase& base, DeltaOutput& output, DeltaResult& result);
// The same, delta and base in memory.
bool ApplyDelta(const std::vector<unsigned char>& delta, const std::vector<unsigned char>& base, DeltaOutput& output,
                DeltaResult& result);
// The same, all in memory: `target` gets what was produced (all of it on success).
bool ApplyDelta(const std::vector<unsigned char>& delta, const std::vector<unsigned char>& base,
                std::vector<unsigned char>& target, DeltaResult& result);
// Walks a delta for a base of `baseSize` bytes without the base: every window's header, sections,
// instructions and addresses checked as ApplyDelta checks them, the windows' Adler-32 left aside.
// result.targetSize tells what it would produce. False, with `result` naming the problem, as ApplyDelta, and as
// soon as it would produce more than `targetLimit` bytes.
bool CheckDeltaStructure(DeltaInput& delta, uint64_t baseSize, DeltaResult& result, uint64_t targetLimit = UINT64_MAX);

// Applies a delta as a stream the reader pulls from: Read hands out the target in order, decoding a window
// whenever it needs more (one window in memory, as ApplyDelta).
class DeltaStream {
public:
    DeltaStream(DeltaInput& delta, DeltaBase& base);
    ~DeltaStream();
    DeltaStream(const DeltaStream&) = delete;
    DeltaStream& operator=(const DeltaStream&) = delete;
    // Exactly `size` bytes of the target; false on a failure or when the target ends before them (Result
    // names the problem).
    bool Read(unsigned char* buffer, uint32_t size);
    // True when the target ends where the reads ended and the delta ends there too.
    bool Finish();
    const DeltaResult& Result() const;

    struct State;

private:
    std::unique_ptr<State> state_;
};
