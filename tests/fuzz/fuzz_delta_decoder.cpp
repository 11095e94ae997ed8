// A VCDIFF delta as mkupdate apply (and the updater) reads it, against a base of the input's choosing:
// whatever the bytes, the decoder ends with a verdict, reads the base only inside it, writes no more than
// the windows it accepted, and says why it refused; pulled as a stream, it gives the same verdict.
#include <algorithm>
#include <cstring>
#include <string>

#include "delta/delta_decoder.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

class Base : public DeltaBase {
public:
    Base(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint64_t Size() const override { return size_; }
    bool ReadAt(uint64_t offset, unsigned char* buffer, uint32_t size) override
    {
        FUZZ_CHECK(offset <= size_ && size <= size_ - offset);
        if (size > 0)
            memcpy(buffer, data_ + offset, size);
        return true;
    }

private:
    const uint8_t* data_;
    size_t size_;
};

class Input : public DeltaInput {
public:
    Input(const uint8_t* data, size_t size) : data_(data), left_(size) {}
    uint32_t Read(unsigned char* buffer, uint32_t size) override
    {
        const uint32_t n = static_cast<uint32_t>(size < left_ ? size : left_);
        if (n == 0)
            return 0;
        memcpy(buffer, data_, n);
        data_ += n;
        left_ -= n;
        return n;
    }

private:
    const uint8_t* data_;
    size_t left_;
};

// A window may build 16 MiB of target from a few bytes (a COPY of its own output), and the target is built
// twice here: a few hundred bytes of such windows would outlast the fuzzer's timeout on a sound decoder. So
// the output refuses past a budget, and such an input is judged no further.
const uint64_t kOutputBudget = 64 << 20;

class Output : public DeltaOutput {
public:
    bool Write(const unsigned char*, uint32_t size) override
    {
        if (size > kOutputBudget - written) {
            overBudget = true;
            return false;
        }
        written += size;
        return true;
    }
    uint64_t written = 0;
    bool overBudget = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The first two bytes say how much of the rest is the base; the delta follows it.
    if (size < 2)
        return 0;
    const size_t baseSize = std::min<size_t>(size - 2, data[0] | (data[1] << 8));
    Base base(data + 2, baseSize);
    Input delta(data + 2 + baseSize, size - 2 - baseSize);
    Output out;
    DeltaResult result;
    const bool applied = ApplyDelta(delta, base, out, result);
    if (out.overBudget)
        return 0;
    if (applied)
        FUZZ_CHECK(result.error == DeltaError::None && out.written == result.targetSize);
    else
        FUZZ_CHECK(result.error != DeltaError::None && !result.problem.empty() && out.written == result.targetSize);

    // The updater pulls the target through DeltaStream in chunks of its own: the same verdict, and the
    // whole target exactly when ApplyDelta gives it, read in odd-sized pieces.
    Input again(data + 2 + baseSize, size - 2 - baseSize);
    DeltaStream stream(again, base);
    unsigned char piece[777];
    uint64_t pulled = 0;
    const uint64_t expected = applied ? result.targetSize : result.targetSize + 1;
    bool reading = true;
    while (reading && pulled < expected) {
        const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(sizeof piece, expected - pulled));
        reading = stream.Read(piece, n);
        pulled += reading ? n : 0;
    }
    if (applied)
        FUZZ_CHECK(reading && pulled == result.targetSize && stream.Finish());
    else
        FUZZ_CHECK(!(reading && stream.Finish()) && !stream.Result().problem.empty());
    return 0;
}
