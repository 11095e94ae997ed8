// The payload's zstd frames written with libzstd's streaming encoder, the content read and the frame handed on
// a buffer at a time.
#include "tools/zstd_frame_writer.h"

#include <memory>
#include <vector>

#define ZSTD_STATIC_LINKING_ONLY  // the level's parameters, to keep its window within the reader's limit
#include <zstd.h>

#include "compress/zstd_frame_reader.h"

namespace {

struct FreeContext {
    void operator()(ZSTD_CCtx* context) const { ZSTD_freeCCtx(context); }
};

bool Set(ZSTD_CCtx* context, ZSTD_cParameter parameter, int value)
{
    return !ZSTD_isError(ZSTD_CCtx_setParameter(context, parameter, value));
}

}  // namespace

bool WriteZstdFrame(const std::function<bool(unsigned char*, uint32_t)>& read, uint64_t contentSize, int level,
                    const std::function<bool(const unsigned char*, size_t)>& write, uint64_t stopAbove,
                    bool& abandoned)
{
    abandoned = false;
    if (level < 1 || level > kMaxCompressionLevel)
        return false;
    std::unique_ptr<ZSTD_CCtx, FreeContext> context(ZSTD_createCCtx());
    if (!context)
        return false;
    // The level's own window for this size, unless it exceeds what the reader accepts (zstd shrinks it
    // further for small contents either way).
    const unsigned windowLog = ZSTD_getCParams(level, contentSize, 0).windowLog;
    if (!Set(context.get(), ZSTD_c_compressionLevel, level) || !Set(context.get(), ZSTD_c_checksumFlag, 1) ||
        !Set(context.get(), ZSTD_c_contentSizeFlag, 1) || !Set(context.get(), ZSTD_c_dictIDFlag, 0) ||
        !Set(context.get(), ZSTD_c_nbWorkers, 0) ||
        (windowLog > kMaxFrameWindowLog && !Set(context.get(), ZSTD_c_windowLog, kMaxFrameWindowLog)) ||
        ZSTD_isError(ZSTD_CCtx_setPledgedSrcSize(context.get(), contentSize)))
        return false;

    std::vector<unsigned char> in(ZSTD_CStreamInSize()), out(ZSTD_CStreamOutSize());
    uint64_t left = contentSize, written = 0;
    for (;;) {
        const uint32_t n = static_cast<uint32_t>(left < in.size() ? left : in.size());
        if (n > 0 && !read(in.data(), n))
            return false;
        left -= n;
        const ZSTD_EndDirective mode = left == 0 ? ZSTD_e_end : ZSTD_e_continue;
        ZSTD_inBuffer input = {in.data(), n, 0};
        size_t remaining;
        do {  // until zstd took all of this input (and, at the end, flushed the whole frame)
            ZSTD_outBuffer output = {out.data(), out.size(), 0};
            remaining = ZSTD_compressStream2(context.get(), &output, &input, mode);
            if (ZSTD_isError(remaining))
                return false;
            if (output.pos > 0 && !write(out.data(), output.pos))
                return false;
            written += output.pos;
            if (stopAbove != 0 && written > stopAbove) {
                abandoned = true;
                return true;
            }
        } while (mode == ZSTD_e_end ? remaining != 0 : input.pos < input.size);
        if (mode == ZSTD_e_end)
            return true;
    }
}
