// Our encoder, then our decoder: any target comes back from its delta against any base. The input is cut
// in two at a point it chooses; the target repeats and shuffles parts of the base so that matches abound.
#include <vector>

#include "delta/delta_decoder.h"
#include "delta/delta_encoder.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const size_t cut = std::min<size_t>(size - 1, data[0] * (size - 1) / 255);
    const std::vector<unsigned char> base(data + 1, data + 1 + cut);
    // The target: the rest of the input, with the base before and after it (copies far and near).
    std::vector<unsigned char> target(data + 1 + cut, data + size);
    target.insert(target.begin(), base.begin() + base.size() / 2, base.end());
    target.insert(target.end(), base.begin(), base.begin() + base.size() / 3);
    const std::vector<unsigned char> delta = MakeDelta(base.data(), base.size(), target.data(), target.size());
    std::vector<unsigned char> back;
    DeltaResult result;
    FUZZ_CHECK(ApplyDelta(delta, base, back, result));
    FUZZ_CHECK(back == target);
    return 0;
}
