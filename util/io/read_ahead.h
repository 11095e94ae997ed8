// Streaming a file through a consumer while a second thread reads ahead of it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "util/base/threads.h"

class CFileDX;

using ChunkFunction = std::function<bool(const unsigned char* bytes, uint32_t size)>;
// Fills `bytes` with exactly `size` bytes of a stream; false when it cannot.
using ChunkReader = std::function<bool(unsigned char* bytes, uint32_t size)>;

// The chunks a stream keeps in flight: its buffer holds this many chunks.
const size_t kReadAheadChunks = 4;

// A reading thread that serves one stream after another: starting a thread costs about a millisecond
// under Wine, as much as a chunk's own work, so a run of many files keeps one. It starts with the first
// stream that needs it and ends with the object.
class ReadAheadThread {
public:
    ReadAheadThread();
    ~ReadAheadThread();
    ReadAheadThread(const ReadAheadThread&) = delete;
    ReadAheadThread& operator=(const ReadAheadThread&) = delete;

    // Runs `job` in the thread; false, and nothing run, when no thread can be started.
    bool Start(const std::function<void()>& job);
    // Returns once the job started last has ended.
    void Wait();

    struct Shared;  // what the two threads share

private:
    std::unique_ptr<Shared> shared_;
    Thread thread_;
};

// Reads `length` bytes from where the file pointer stands and hands them to `consume` in order, in chunks
// of `chunk` bytes (the last one shorter), while a second thread reads the next chunks and, right after
// each read, hands the chunk to `inspect` (when given) in order too: the work of one thread overlaps the
// other's, so a file streams at the speed of the slower of the two, not of their sum. `buffer` holds
// kReadAheadChunks chunks; nothing else is allocated. The second thread is `reader`'s when given, else one
// of the call's own. A file of one chunk, or one where no thread can be started, is read in the caller's
// thread, both in turn. False when the file runs short or a read fails, or as soon as `inspect` or
// `consume` does; no call follows a false. `idle`, when given, is called in the caller's thread every
// kIdleIntervalMs while it waits for the next chunk (a window's answer while a slow read or a delta window is
// under way); false from it stops the stream as a false from `consume` does.
const unsigned kIdleIntervalMs = 10;
using IdleFunction = std::function<bool()>;
bool StreamWithReadAhead(CFileDX& file, uint64_t length, uint32_t chunk, unsigned char* buffer,
                         const ChunkFunction& consume, const ChunkFunction& inspect = nullptr,
                         ReadAheadThread* reader = nullptr, const IdleFunction& idle = nullptr);
// The same for any stream read in order: `read` fills each chunk, in the reading thread (or the caller's, as
// above).
bool StreamWithReadAhead(const ChunkReader& read, uint64_t length, uint32_t chunk, unsigned char* buffer,
                         const ChunkFunction& consume, const ChunkFunction& inspect = nullptr,
                         ReadAheadThread* reader = nullptr, const IdleFunction& idle = nullptr);
