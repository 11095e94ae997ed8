// The payload's zstd frames read with libzstd's streaming decoder in a static context: one workspace sized
// for the largest window we accept, so the decoder itself never allocates.
#include "compress/zstd_frame_reader.h"

#include <new>

#define ZSTD_STATIC_LINKING_ONLY  // the static context and the frame header's fields
#include <zstd.h>
#include <zstd_errors.h>

namespace {

const char kNotAFrame[] = "the stored bytes are not a zstd frame";
const char kEndsInside[] = "the stored bytes end inside the frame";
const char kSkippable[] = "a skippable frame stands where the frame should";
const char kNoContentSize[] = "the frame does not record its content size";
const char kWrongContentSize[] = "the frame's content size is not the recorded one";
const char kNoChecksum[] = "the frame carries no checksum";
const char kDictionary[] = "the frame needs a dictionary";
const char kWindowTooLarge[] = "the frame needs a window over 8 MiB";
const char kChecksum[] = "the frame's checksum does not match";
const char kDamaged[] = "the frame is damaged";
const char kTrailing[] = "bytes follow the frame";
const char kPastContent[] = "more bytes were asked for than the frame's content holds";
const char kNotAllRead[] = "the frame's content was not read to its end";
const char kNoMemory[] = "the zstd decoder could not allocate its memory";

const char* ProblemOf(size_t error)
{
    switch (ZSTD_getErrorCode(error)) {
    case ZSTD_error_checksum_wrong:
        return kChecksum;
    case ZSTD_error_frameParameter_windowTooLarge:
        return kWindowTooLarge;
    case ZSTD_error_dictionary_wrong:
        return kDictionary;
    default:
        return kDamaged;
    }
}

}  // namespace

ZstdFrameReader::ZstdFrameReader()
{
    const size_t workspaceSize = ZSTD_estimateDStreamSize(size_t{1} << kMaxFrameWindowLog);
    inputCapacity_ = static_cast<uint32_t>(ZSTD_DStreamInSize());
    workspace_.reset(new (std::nothrow) unsigned char[workspaceSize]);
    input_.reset(new (std::nothrow) unsigned char[inputCapacity_]);
    if (!workspace_ || !input_)
        return;
    context_ = ZSTD_initStaticDCtx(workspace_.get(), workspaceSize);
    if (context_ && ZSTD_isError(ZSTD_DCtx_setParameter(context_, ZSTD_d_windowLogMax, kMaxFrameWindowLog)))
        context_ = nullptr;
}

ZstdFrameReader::~ZstdFrameReader() = default;  // the context lives in workspace_ and owns nothing else

bool ZstdFrameReader::Ready() const { return context_ != nullptr; }

void ZstdFrameReader::Begin(const StoredBytesSource& source, uint64_t contentSize)
{
    source_ = &source;
    contentSize_ = contentSize;
    produced_ = 0;
    inputPos_ = inputSize_ = 0;
    started_ = ended_ = false;
    headerLeft_ = 0;
    problem_ = context_ ? nullptr : kNoMemory;
    if (context_)
        ZSTD_DCtx_reset(context_, ZSTD_reset_session_only);  // keeps the window limit
}

bool ZstdFrameReader::Fail(const char* problem)
{
    if (!problem_)
        problem_ = problem;
    return false;
}

// Pulls the next stored bytes into the empty input buffer; false when the source has none left.
bool ZstdFrameReader::Refill()
{
    inputPos_ = 0;
    inputSize_ = (*source_)(input_.get(), inputCapacity_);
    if (inputSize_ > inputCapacity_)
        inputSize_ = 0;  // a source that claims more than it was given is treated as dry
    return inputSize_ > 0;
}

// The frame header, before the decoder sees a byte: what the decoder alone would accept (a skippable frame,
// no content size, no checksum, a dictionary) is refused here. The window limit is checked twice: here, and
// by the decoder's own ZSTD_d_windowLogMax.
bool ZstdFrameReader::Start()
{
    started_ = true;
    ZSTD_frameHeader header;
    for (;;) {
        const size_t needed = ZSTD_getFrameHeader(&header, input_.get() + inputPos_, inputSize_ - inputPos_);
        if (ZSTD_isError(needed))
            return Fail(kNotAFrame);
        if (needed == 0)
            break;
        if (needed > inputCapacity_ - inputSize_ + inputPos_)
            return Fail(kNotAFrame);  // cannot happen: a header is at most 18 bytes
        // Moves what is buffered to the front and appends what the source gives until the header is whole.
        const uint32_t buffered = inputSize_ - inputPos_;
        for (uint32_t i = 0; i < buffered; ++i)
            input_[i] = input_[inputPos_ + i];
        inputPos_ = 0;
        inputSize_ = buffered;
        const uint32_t got = (*source_)(input_.get() + inputSize_, inputCapacity_ - inputSize_);
        if (got == 0 || got > inputCapacity_ - inputSize_)
            return Fail(kEndsInside);
        inputSize_ += got;
    }
    if (header.frameType == ZSTD_skippableFrame)
        return Fail(kSkippable);
    if (header.windowSize > (uint64_t{1} << kMaxFrameWindowLog))
        return Fail(kWindowTooLarge);
    if (header.frameContentSize == ZSTD_CONTENTSIZE_UNKNOWN)
        return Fail(kNoContentSize);
    if (header.frameContentSize != contentSize_)
        return Fail(kWrongContentSize);
    if (!header.checksumFlag)
        return Fail(kNoChecksum);
    if (header.dictID != 0)
        return Fail(kDictionary);
    const size_t headerSize = ZSTD_frameHeaderSize(input_.get() + inputPos_, inputSize_ - inputPos_);
    if (ZSTD_isError(headerSize) || headerSize > inputSize_ - inputPos_)
        return Fail(kNotAFrame);  // cannot happen once the header was read whole
    headerLeft_ = static_cast<uint32_t>(headerSize);
    return true;
}

// Runs the decoder until `size` bytes came out or the frame ended; `produced` tells how many came out.
bool ZstdFrameReader::Decode(unsigned char* out, uint32_t size, uint32_t& produced)
{
    ZSTD_outBuffer output = {out, size, 0};
    while (!ended_ && output.pos < output.size) {
        if (inputPos_ == inputSize_ && !Refill()) {
            // The decoder may still hold decoded bytes or wait for the frame's last bytes: one call with no
            // input tells which.
            ZSTD_inBuffer none = {input_.get(), 0, 0};
            const size_t before = output.pos;
            const size_t left = ZSTD_decompressStream(context_, &output, &none);
            if (ZSTD_isError(left))
                return Fail(ProblemOf(left));
            ended_ = left == 0;
            if (!ended_ && output.pos == before)
                return Fail(kEndsInside);
            continue;
        }
        // The header goes to the decoder alone. Handed a whole frame with room for its whole content, libzstd
        // decodes it in one pass, which refuses some frames (an empty compressed block) that its block-by-block
        // path accepts: alone, the header never offers it the whole frame, so the verdict does not depend on
        // how the stored bytes or the content are cut into chunks.
        const uint32_t end = headerLeft_ > 0 ? inputPos_ + headerLeft_ : inputSize_;
        ZSTD_inBuffer input = {input_.get(), end, inputPos_};
        const size_t left = ZSTD_decompressStream(context_, &output, &input);
        headerLeft_ -= static_cast<uint32_t>(input.pos - inputPos_ < headerLeft_ ? input.pos - inputPos_ : headerLeft_);
        inputPos_ = static_cast<uint32_t>(input.pos);
        if (ZSTD_isError(left))
            return Fail(ProblemOf(left));
        ended_ = left == 0;
    }
    produced = static_cast<uint32_t>(output.pos);
    return true;
}

bool ZstdFrameReader::Read(unsigned char* out, uint32_t size)
{
    if (problem_ || (!started_ && !Start()))
        return false;
    if (size > contentSize_ - produced_)
        return Fail(kPastContent);
    uint32_t produced = 0;
    if (!Decode(out, size, produced))
        return false;
    produced_ += produced;
    // The decoder checks the content against the header's size itself; a frame that ends early is damage.
    return produced == size || Fail(kDamaged);
}

bool ZstdFrameReader::Finish()
{
    if (problem_ || (!started_ && !Start()))
        return false;
    if (produced_ != contentSize_)
        return Fail(kNotAllRead);
    // The frame's last block and checksum may still be ahead: decoding on to the end must give no byte more.
    unsigned char extra;
    uint32_t produced = 0;
    if (!Decode(&extra, 1, produced))
        return false;
    if (produced != 0)
        return Fail(kDamaged);
    if (inputPos_ < inputSize_ || Refill())
        return Fail(kTrailing);
    return true;
}

const char* ZstdFrameReader::Problem() const { return problem_; }
