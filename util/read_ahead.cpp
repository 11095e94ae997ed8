// A ring of chunks between a reading thread and the caller's consumer.
#include "util/read_ahead.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "util/file.h"

namespace {

struct Ring {
    std::mutex lock;
    std::condition_variable changed;
    uint32_t sizes[kReadAheadChunks] = {};
    size_t filled = 0;    // chunks read and not yet consumed
    bool failed = false;  // the reader stopped short
    bool stop = false;    // the consumer gave up
};

// One chunk read and inspected; false when either fails.
bool ReadChunk(CFileDX& file, unsigned char* bytes, uint32_t size, const ChunkFunction& inspect)
{
    return file.Read(bytes, size) == size && (!inspect || inspect(bytes, size));
}

}  // namespace

struct ReadAheadThread::Shared {
    std::mutex lock;
    std::condition_variable changed;
    std::function<void()> job;  // handed in and not yet ended
    bool quit = false;
};

ReadAheadThread::ReadAheadThread() : shared_(new Shared) {}

ReadAheadThread::~ReadAheadThread()
{
    if (!thread_.joinable())
        return;
    {
        std::lock_guard<std::mutex> hold(shared_->lock);
        shared_->quit = true;
        shared_->changed.notify_all();
    }
    thread_.join();
}

bool ReadAheadThread::Start(const std::function<void()>& job)
{
    Shared& s = *shared_;
    if (!thread_.joinable()) {
        try {
            thread_ = std::thread([&s] {
                std::unique_lock<std::mutex> hold(s.lock);
                for (;;) {
                    s.changed.wait(hold, [&] { return s.quit || s.job; });
                    if (!s.job)
                        return;
                    hold.unlock();
                    s.job();
                    hold.lock();
                    s.job = nullptr;
                    s.changed.notify_all();
                }
            });
        } catch (const std::system_error&) {
            return false;
        }
    }
    std::lock_guard<std::mutex> hold(s.lock);
    s.job = job;
    s.changed.notify_all();
    return true;
}

void ReadAheadThread::Wait()
{
    std::unique_lock<std::mutex> hold(shared_->lock);
    shared_->changed.wait(hold, [&] { return !shared_->job; });
}

bool StreamWithReadAhead(CFileDX& file, uint64_t length, uint32_t chunk, unsigned char* buffer,
                         const ChunkFunction& consume, const ChunkFunction& inspect, ReadAheadThread* reader)
{
    Ring ring;
    auto reading = [&] {
        uint64_t left = length;
        for (size_t slot = 0; left > 0; slot = (slot + 1) % kReadAheadChunks) {
            {
                std::unique_lock<std::mutex> hold(ring.lock);
                ring.changed.wait(hold, [&] { return ring.filled < kReadAheadChunks || ring.stop; });
                if (ring.stop)
                    return;
            }
            const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(left, chunk));
            const bool ok = ReadChunk(file, buffer + slot * chunk, n, inspect);
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
    };
    // One chunk leaves nothing to overlap, and a new thread costs about a millisecond under Wine, as much as
    // the chunk's own work: such a file is read in the caller's thread, as when no thread starts.
    ReadAheadThread own;
    ReadAheadThread& thread = reader ? *reader : own;
    if (length <= chunk || !thread.Start(reading)) {
        for (uint64_t left = length; left > 0;) {
            const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(left, chunk));
            if (!ReadChunk(file, buffer, n, inspect) || !consume(buffer, n))
                return false;
            left -= n;
        }
        return true;
    }
    bool ok = true;
    uint64_t left = length;
    for (size_t slot = 0; left > 0 && ok; slot = (slot + 1) % kReadAheadChunks) {
        {
            std::unique_lock<std::mutex> hold(ring.lock);
            ring.changed.wait(hold, [&] { return ring.filled > 0 || ring.failed; });
            if (ring.filled == 0) {
                ok = false;
                break;
            }
        }
        const uint32_t n = ring.sizes[slot];
        ok = consume(buffer + slot * chunk, n);
        left -= n;
        std::lock_guard<std::mutex> hold(ring.lock);
        --ring.filled;
        ring.stop = !ok;
        ring.changed.notify_all();
    }
    thread.Wait();
    return ok;
}
