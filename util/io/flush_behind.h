// Flushing written files in a thread of their own while the caller writes the next ones.
#pragma once
#include <functional>
#include <memory>

#include "util/base/threads.h"

class CFileDX;

// Files handed in are forced to the disk one after another, in the order they came, by a thread of the
// flusher's own: the disk writes one file while the next is being copied, instead of the copy and the
// disk's writing taking turns. A file must not be written, closed or deleted from its Add until Finish
// has returned true, or the flusher is gone. Without a thread, Finish flushes them in the caller's thread.
class FlushBehind {
public:
    FlushBehind();
    // No further flush starts; waits for the one under way.
    ~FlushBehind();
    FlushBehind(const FlushBehind&) = delete;
    FlushBehind& operator=(const FlushBehind&) = delete;

    void Add(CFileDX& file);
    // True once a flush has failed: the files that follow need not be written.
    bool Failed();
    // Waits until every file handed in is flushed, calling `keepGoing` in the caller's thread at least
    // every `intervalMs` (to answer its window). Once that returns false no further flush starts, and
    // Finish returns false after the one under way. True when every file was flushed.
    bool Finish(const std::function<bool()>& keepGoing, unsigned intervalMs);

private:
    struct Queue;
    std::unique_ptr<Queue> queue_;
    Thread thread_;
};
