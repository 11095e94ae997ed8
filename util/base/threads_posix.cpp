// Threads, locks and conditions from the standard library.
#include "util/base/threads.h"

#include <chrono>
#include <system_error>

void Mutex::Lock() { lock_.lock.lock(); }

void Mutex::Unlock() { lock_.lock.unlock(); }

void Condition::Wait(Mutex& mutex) { condition_.condition.wait(mutex.lock_.lock); }

void Condition::WaitFor(Mutex& mutex, unsigned ms)
{
    condition_.condition.wait_for(mutex.lock_.lock, std::chrono::milliseconds(ms));
}

void Condition::NotifyAll() { condition_.condition.notify_all(); }

bool Thread::Start(std::function<void()> run)
{
    if (started_)
        return false;
    try {
        thread_.thread = std::thread(std::move(run));
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
    thread_.thread.join();
    started_ = false;
}
