// A compressed entry as the updater reads it: the first 8 bytes of the input are the recorded content size
// (little-endian), the rest the stored bytes, handed out in varying chunks and read in varying chunks. Whatever
// the bytes, the reader ends with a verdict, never reads or writes outside its buffers, names the fault it
// refuses, gives the same verdict (and when it accepts, the same content) when everything is handed over at
// once, and accepts only one whole frame of exactly that content (which libzstd's one-shot decoder, stricter
// on empty blocks, gives too when it accepts it). One reader serves every input, as one serves a whole run.
#include <algorithm>
#include <cstring>
#include <vector>

#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>

#include "compress/zstd_frame_reader.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// Contents above this are read only this far: the verdict on the header and the first blocks is what matters,
// and a few bytes of RLE blocks can claim gigabytes.
const uint64_t kReadLimit = 256 << 10;

// The chunk sizes cycle through these from a start the input chooses, so an input replays the same way.
const uint32_t kChunks[] = {1, 3, 17, 4096, 131075, 7, 65536, 2};

struct Verdict {
    bool accepted = false;
    bool whole = false;  // the content was read to its end (else only up to kReadLimit)
    std::vector<unsigned char> content;
};

// Reads the stored bytes as a frame of `contentSize` bytes, the source handing out `kChunks` from `start` on
// (or everything at once when `start` is negative), the content asked for in chunks of its own.
Verdict ReadFrame(ZstdFrameReader& reader, const uint8_t* stored, size_t storedSize, uint64_t contentSize, int start)
{
    size_t at = 0, call = start < 0 ? 0 : static_cast<size_t>(start);
    const StoredBytesSource source = [&](unsigned char* bytes, uint32_t n) {
        FUZZ_CHECK(n > 0);
        const uint32_t chunk = start < 0 ? n : kChunks[call++ % 8];
        const uint32_t given = static_cast<uint32_t>(std::min<size_t>({n, chunk, storedSize - at}));
        memcpy(bytes, stored + at, given);
        at += given;
        return given;
    };
    reader.Begin(source, contentSize);
    Verdict verdict;
    const uint64_t reading = std::min(contentSize, kReadLimit);
    bool ok = true;
    size_t read = call;
    while (ok && verdict.content.size() < reading) {
        const uint64_t chunk = start < 0 ? reading : kChunks[read++ % 8] * 3 + 1;
        const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(chunk, reading - verdict.content.size()));
        const size_t from = verdict.content.size();
        verdict.content.resize(from + n);
        ok = reader.Read(verdict.content.data() + from, n);
    }
    verdict.whole = reading == contentSize;
    verdict.accepted = ok && (!verdict.whole || reader.Finish());
    // A refusal names its fault; an acceptance has none.
    FUZZ_CHECK(verdict.accepted == (reader.Problem() == nullptr));
    FUZZ_CHECK(at <= storedSize);
    if (verdict.accepted && verdict.whole)
        FUZZ_CHECK(at == storedSize);
    // A refused entry's bytes are thrown away, and how many came out before the refusal depends on the chunks:
    // when damage stands behind the content's last byte, a Read in small chunks gets the content and Finish
    // finds the damage; handed everything at once, the decoder reads on to the damage in the Read itself.
    if (!verdict.accepted)
        verdict.content.clear();
    return verdict;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 8)
        return 0;
    uint64_t contentSize = 0;
    for (int i = 7; i >= 0; --i)
        contentSize = (contentSize << 8) | data[i];
    const uint8_t* stored = data + 8;
    const size_t storedSize = size - 8;

    static ZstdFrameReader reader;
    FUZZ_CHECK(reader.Ready());
    const Verdict chunked = ReadFrame(reader, stored, storedSize, contentSize, data[0] % 8);
    const Verdict atOnce = ReadFrame(reader, stored, storedSize, contentSize, -1);
    // A read that stops at kReadLimit never reaches Finish: its acceptance only says no fault came up yet, and
    // the reader handed everything may already have seen the next block's damage. So two verdicts are held to
    // each other when the content was read whole, and two partial contents when both were accepted. Only the
    // other way round holds for partial reads: a fault the chunked reader met, the one handed everything meets.
    if (chunked.whole || (chunked.accepted && atOnce.accepted)) {
        FUZZ_CHECK(chunked.accepted == atOnce.accepted);
        FUZZ_CHECK(chunked.content == atOnce.content);
    } else if (!chunked.accepted) {
        FUZZ_CHECK(!atOnce.accepted);
    }
    if (!chunked.accepted || !chunked.whole)
        return 0;
    // An accepted frame is exactly one whole frame, all the stored bytes, with this content.
    FUZZ_CHECK(ZSTD_findFrameCompressedSize(stored, storedSize) == storedSize);
    FUZZ_CHECK(ZSTD_getFrameContentSize(stored, storedSize) == contentSize);
    std::vector<unsigned char> again(chunked.content.size() + 1);
    const size_t decoded = ZSTD_decompress(again.data(), again.size(), stored, storedSize);
    if (!ZSTD_isError(decoded))
        FUZZ_CHECK(decoded == chunked.content.size() &&
                   std::equal(chunked.content.begin(), chunked.content.end(), again.begin()));
    return 0;
}
