// A flushing thread fed through a queue of files.
#include "util/io/flush_behind.h"

#include <vector>

#include "util/fs/file.h"

struct FlushBehind::Queue {
    Mutex lock;
    Condition changed;
    std::vector<CFileDX*> files;  // every file handed in
    size_t flushed = 0;           // files[0..flushed) are on the disk
    bool busy = false;            // files[flushed] is being flushed
    bool failed = false;
    bool stop = false;
};

FlushBehind::FlushBehind() : queue_(new Queue)
{
    // Without a thread, Finish flushes in the caller's thread.
    thread_.Start([this] {
        Queue& q = *queue_;
        const Locked hold(q.lock);
        for (;;) {
            q.changed.Wait(q.lock, [&] { return q.stop || q.flushed < q.files.size(); });
            if (q.stop)
                return;
            CFileDX* file = q.files[q.flushed];
            q.busy = true;
            q.lock.Unlock();
            const bool ok = file->Flush() != 0;
            q.lock.Lock();
            q.busy = false;
            q.failed = q.failed || !ok;
            q.stop = q.stop || !ok;
            q.flushed += ok ? 1 : 0;
            q.changed.NotifyAll();
        }
    });
}

FlushBehind::~FlushBehind()
{
    {
        const Locked hold(queue_->lock);
        queue_->stop = true;
        queue_->changed.NotifyAll();
    }
    thread_.Join();
}

void FlushBehind::Add(CFileDX& file)
{
    const Locked hold(queue_->lock);
    queue_->files.push_back(&file);
    queue_->changed.NotifyAll();
}

bool FlushBehind::Failed()
{
    const Locked hold(queue_->lock);
    return queue_->failed;
}

bool FlushBehind::Finish(const std::function<bool()>& keepGoing, unsigned intervalMs)
{
    Queue& q = *queue_;
    if (!thread_.Running()) {
        for (; q.flushed < q.files.size(); ++q.flushed) {
            if (!keepGoing() || !q.files[q.flushed]->Flush())
                return false;
        }
        return true;
    }
    const Locked hold(q.lock);
    for (;;) {
        // A wait may end early or late by a little: the caller's window is answered every interval or so.
        if (q.flushed == q.files.size() || q.stop)
            break;
        q.changed.WaitFor(q.lock, intervalMs);
        if (q.flushed == q.files.size() || q.stop)
            break;
        q.lock.Unlock();
        const bool going = keepGoing();
        q.lock.Lock();
        if (!going) {
            q.stop = true;
            q.changed.NotifyAll();
            break;
        }
    }
    q.changed.Wait(q.lock, [&] { return !q.busy; });
    return !q.failed && q.flushed == q.files.size();
}
