// Threads, a lock and a condition of the system's own: on Windows its threads, slim reader/writer locks and
// condition variables, straight from kernel32 (a threading library would bring functions into the elevated
// updater's import table that nothing of ours calls); elsewhere the standard library's.
#pragma once
#include <functional>
#include <memory>

#if defined(_WIN32)
#include "util/base/threads_win.h"
#else
#include "util/base/threads_posix.h"
#endif

class Mutex {
public:
    Mutex() = default;
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;
    void Lock();
    void Unlock();

private:
    friend class Condition;
    SystemLock lock_;
};

// Holds a Mutex for its scope.
class Locked {
public:
    explicit Locked(Mutex& mutex) : mutex_(mutex) { mutex_.Lock(); }
    ~Locked() { mutex_.Unlock(); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;

private:
    Mutex& mutex_;
};

class Condition {
public:
    Condition() = default;
    Condition(const Condition&) = delete;
    Condition& operator=(const Condition&) = delete;
    // With `mutex` held: releases it until notified (or woken spuriously, or `ms` have passed), and holds
    // it again before returning.
    void Wait(Mutex& mutex);
    void WaitFor(Mutex& mutex, unsigned ms);
    // With `mutex` held: waits until `done()` is true.
    template <typename Done>
    void Wait(Mutex& mutex, Done done)
    {
        while (!done())
            Wait(mutex);
    }
    void NotifyAll();

private:
    SystemCondition condition_;
};

// A thread that runs one function. Its owner joins it before the owner goes (the destructor joins too).
class Thread {
public:
    Thread() = default;
    ~Thread() { Join(); }
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;
    // Starts `run` in a new thread; false, and nothing run, when none can be started (or one runs).
    bool Start(std::function<void()> run);
    bool Running() const { return started_; }
    // Returns once the function has ended; at once when none was started.
    void Join();

private:
    bool started_ = false;
    SystemThread thread_;
};
