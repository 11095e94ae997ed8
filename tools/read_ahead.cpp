// A ring of chunk buffers between a reading thread and the caller's consumer.
#include "tools/read_ahead.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "util/file.h"

namespace {

const uint32_t kChunk = 0x80000;  // 512 KiB: few enough hand-overs, and a ring of them stays in the cache
const size_t kSlots = 4;

struct Ring {
    std::mutex lock;
    std::condition_variable changed;
    std::vector<std::vector<unsigned char>> buffers = std::vector<std::vector<unsigned char>>(kSlots);
    std::vector<uint32_t> sizes = std::vector<uint32_t>(kSlots, 0);
    size_t filled = 0;    // chunks read and not yet consumed
    bool failed = false;  // the reader stopped short
    bool stop = false;    // the consumer gave up
};

}  // namespace

bool StreamWithReadAhead(CFileDX& file, uint64_t length, const ChunkFunction& consume, const ChunkFunction& inspect)
{
    if (length == 0)
        return true;
    Ring ring;
    for (auto& b : ring.buffers)
        b.resize(kChunk);
    std::thread reader([&] {
        uint64_t left = length;
        for (size_t slot = 0; left > 0; slot = (slot + 1) % kSlots) {
            {
                std::unique_lock<std::mutex> hold(ring.lock);
                ring.changed.wait(hold, [&] { return ring.filled < kSlots || ring.stop; });
                if (ring.stop)
                    return;
            }
            const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(left, kChunk));
            const bool ok = file.Read(ring.buffers[slot].data(), n) == n &&
                            (!inspect || inspect(ring.buffers[slot].data(), n));
            std::lock_guard<std::mutex> hold(ring.lock);
            if (!ok) {
                ring.failed = true;
                ring.changed.notify_all();
                return;
            }
            ring.sizes[slot] = n;
            ++ring.filled;
            left -= n;
            ring.changed.notify_all();
        }
    });
    bool ok = true;
    uint64_t left = length;
    for (size_t slot = 0; left > 0 && ok; slot = (slot + 1) % kSlots) {
        {
            std::unique_lock<std::mutex> hold(ring.lock);
            ring.changed.wait(hold, [&] { return ring.filled > 0 || ring.failed; });
            if (ring.filled == 0) {
                ok = false;
                break;
            }
        }
        const uint32_t n = ring.sizes[slot];
        ok = consume(ring.buffers[slot].data(), n);
        left -= n;
        std::lock_guard<std::mutex> hold(ring.lock);
        --ring.filled;
        ring.stop = !ok;
        ring.changed.notify_all();
    }
    reader.join();
    return ok;
}
