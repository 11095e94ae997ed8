// A ring of chunks between a reading thread and the caller's consumer.
#include "util/io/read_ahead.h"

#include <algorithm>

#include "util/fs/file.h"

namespace {

struct Ring {
    Mutex lock;
    Condition changed;
    uint32_t sizes[kReadAheadChunks] = {};
    size_t filled = 0;    // chunks read and not yet consumed
    bool failed = false;  // the reader stopped short
    bool stop = false;    // the consumer gave up
};

// One chunk read and inspected; false when either fails.
bool ReadChunk(const ChunkReader& read, unsigned char* bytes, uint32_t size, const ChunkFunction& inspect)
{
    return read(bytes, size) && (!inspect || inspect(bytes, size));
}

}  // namespace

struct ReadAheadThread::Shared {
    Mutex lock;
    Condition changed;
    std::function<void()> job;  // handed in and not yet ended
    bool quit = false;
};

ReadAheadThread::ReadAheadThread() : shared_(new Shared) {}

ReadAheadThread::~ReadAheadThread()
{
    if (!thread_.Running())
        return;
    {
        const Locked hold(shared_->lock);
        shared_->quit = true;
        shared_->changed.NotifyAll();
    }
    thread_.Join();
}

bool ReadAheadThread::Start(const std::function<void()>& job)
{
    Shared& s = *shared_;
    const bool started = thread_.Running() || thread_.Start([&s] {
        const Locked hold(s.lock);
        for (;;) {
            s.changed.Wait(s.lock, [&] { return s.quit || s.job; });
            if (!s.job)
                return;
            s.lock.Unlock();
            s.job();
            s.lock.Lock();
            s.job = nullptr;
            s.changed.NotifyAll();
        }
    });
    if (!started)
        return false;
    const Locked hold(s.lock);
    s.job = job;
    s.changed.NotifyAll();
    return true;
}

void ReadAheadThread::Wait()
{
    const Locked hold(shared_->lock);
    shared_->changed.Wait(shared_->lock, [&] { return !shared_->job; });
}

bool StreamWithReadAhead(CFileDX& file, uint64_t length, uint32_t chunk, unsigned char* buffer,
                         const ChunkFunction& consume, const ChunkFunction& inspect, ReadAheadThread* reader,
                         const IdleFunction& idle)
{
    return StreamWithReadAhead([&file](unsigned char* bytes, uint32_t size) { return file.Read(bytes, size) == size; },
                               length, chunk, buffer, consume, inspect, reader, idle);
}

namespace {

// The reading thread's side: fills the ring's slots in turn with the next chunk of `file`, inspected, until
// `length` bytes are read, a read or an inspection fails (`failed`), or the consumer stops.
void FillRing(Ring& ring, const ChunkReader& file, uint64_t length, uint32_t chunk, unsigned char* buffer,
              const ChunkFunction& inspect)
{
    uint64_t left = length;
    for (size_t slot = 0; left > 0; slot = (slot + 1) % kReadAheadChunks) {
        {
            const Locked hold(ring.lock);
            ring.changed.Wait(ring.lock, [&] { return ring.filled < kReadAheadChunks || ring.stop; });
            if (ring.stop)
                return;
        }
        const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(left, chunk));
        const bool ok = ReadChunk(file, buffer + slot * chunk, n, inspect);
        const Locked hold(ring.lock);
        if (!ok) {
            ring.failed = true;
            ring.changed.NotifyAll();
            return;
        }
        ring.sizes[slot] = n;
        ++ring.filled;
        left -= n;
        ring.changed.NotifyAll();
    }
}

// The whole stream in the caller's thread, one chunk at a time through the first slot.
bool StreamInThisThread(const ChunkReader& file, uint64_t length, uint32_t chunk, unsigned char* buffer,
                        const ChunkFunction& consume, const ChunkFunction& inspect)
{
    for (uint64_t left = length; left > 0;) {
        const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(left, chunk));
        if (!ReadChunk(file, buffer, n, inspect) || !consume(buffer, n))
            return false;
        left -= n;
    }
    return true;
}

// The consumer's side: waits until the reader has a chunk ready, answering `idle` every kIdleIntervalMs
// meanwhile when given. False when the reader failed with nothing left to consume, or `idle` said stop (the
// reader is then told to stop).
bool WaitForChunk(Ring& ring, const IdleFunction& idle)
{
    bool ok = true;
    bool ready = false;
    while (!ready && ok) {
        {
            const Locked hold(ring.lock);
            if (!idle)
                ring.changed.Wait(ring.lock, [&] { return ring.filled > 0 || ring.failed; });
            else if (ring.filled == 0 && !ring.failed)
                ring.changed.WaitFor(ring.lock, kIdleIntervalMs);
            ready = ring.filled > 0 || ring.failed;
            ok = ring.filled > 0 || !ring.failed;
        }
        // The caller's window is answered outside the lock, so the reader goes on meanwhile.
        if (!ready && !idle()) {
            const Locked hold(ring.lock);
            ring.stop = true;
            ring.changed.NotifyAll();
            ok = false;
        }
    }
    return ok;
}

}  // namespace

bool StreamWithReadAhead(const ChunkReader& file, uint64_t length, uint32_t chunk, unsigned char* buffer,
                         const ChunkFunction& consume, const ChunkFunction& inspect, ReadAheadThread* reader,
                         const IdleFunction& idle)
{
    Ring ring;
    // One chunk leaves nothing to overlap, and a new thread costs about a millisecond under Wine, as much as
    // the chunk's own work: such a file is read in the caller's thread, as when no thread starts.
    ReadAheadThread own;
    ReadAheadThread& thread = reader ? *reader : own;
    if (length <= chunk || !thread.Start([&] { FillRing(ring, file, length, chunk, buffer, inspect); }))
        return StreamInThisThread(file, length, chunk, buffer, consume, inspect);
    bool ok = true;
    uint64_t left = length;
    for (size_t slot = 0; left > 0 && ok; slot = (slot + 1) % kReadAheadChunks) {
        ok = WaitForChunk(ring, idle);
        if (!ok)
            break;
        const uint32_t n = ring.sizes[slot];
        ok = consume(buffer + slot * chunk, n);
        left -= n;
        const Locked hold(ring.lock);
        --ring.filled;
        ring.stop = !ok;
        ring.changed.NotifyAll();
    }
    thread.Wait();
    return ok;
}
