// A flushing thread fed through a queue of files.
#include "util/flush_behind.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <vector>

#include "util/file.h"

struct FlushBehind::Queue {
    std::mutex lock;
    std::condition_variable changed;
    std::vector<CFileDX*> files;  // every file handed in
    size_t flushed = 0;           // files[0..flushed) are on the disk
    bool busy = false;            // files[flushed] is being flushed
    bool failed = false;
    bool stop = false;
};

FlushBehind::FlushBehind() : queue_(new Queue)
{
    try {
        thread_ = std::thread([this] {
            Queue& q = *queue_;
            std::unique_lock<std::mutex> hold(q.lock);
            for (;;) {
                q.changed.wait(hold, [&] { return q.stop || q.flushed < q.files.size(); });
                if (q.stop)
                    return;
                CFileDX* file = q.files[q.flushed];
                q.busy = true;
                hold.unlock();
                const bool ok = file->Flush() != 0;
                hold.lock();
                q.busy = false;
                q.failed = q.failed || !ok;
                q.stop = q.stop || !ok;
                q.flushed += ok ? 1 : 0;
                q.changed.notify_all();
            }
        });
    } catch (const std::system_error&) {
        // Finish flushes in the caller's thread.
    }
}

FlushBehind::~FlushBehind()
{
    {
        std::lock_guard<std::mutex> hold(queue_->lock);
        queue_->stop = true;
        queue_->changed.notify_all();
    }
    if (thread_.joinable())
        thread_.join();
}

void FlushBehind::Add(CFileDX& file)
{
    std::lock_guard<std::mutex> hold(queue_->lock);
    queue_->files.push_back(&file);
    queue_->changed.notify_all();
}

bool FlushBehind::Failed()
{
    std::lock_guard<std::mutex> hold(queue_->lock);
    return queue_->failed;
}

bool FlushBehind::Finish(const std::function<bool()>& keepGoing, unsigned intervalMs)
{
    Queue& q = *queue_;
    if (!thread_.joinable()) {
        for (; q.flushed < q.files.size(); ++q.flushed) {
            if (!keepGoing() || !q.files[q.flushed]->Flush())
                return false;
        }
        return true;
    }
    std::unique_lock<std::mutex> hold(q.lock);
    for (;;) {
        const auto done = [&] { return q.flushed == q.files.size() || q.stop; };
        if (q.changed.wait_for(hold, std::chrono::milliseconds(intervalMs), done))
            break;
        hold.unlock();
        const bool going = keepGoing();
        hold.lock();
        if (!going) {
            q.stop = true;
            q.changed.notify_all();
            break;
        }
    }
    q.changed.wait(hold, [&] { return !q.busy; });
    return !q.failed && q.flushed == q.files.size();
}
