// Threads, locks and conditions from the standard library.
#include "util/base/threads.h"

#include <chrono>
#include <system_error>

void Mutex::Lock() { lock_.lock(); }

void Mutex::Unlock() { lock_.unlock(); }

void Condition::Wait(Mutex& mutex) { condition_.wait(mutex.lock_); }

void Condition::WaitFor(Mutex& mutex, unsigned ms) { condition_.wait_for(mutex.lock_, std::chrono::milliseconds(ms)); }

void Condition::NotifyAll() { condition_.notify_all(); }

bool Thread::Start(std::function<void()> run)
{
    if (started_)
        return false;
    try {
        thread_ = std::thread(std::move(run));
    } catch (const std::system_error&) {
        return false;
    }
    started_ = true;
    return true;
}

void Thread::Join()
{
    if (!started_)
        return;
    thread_.join();
    started_ = false;
}
