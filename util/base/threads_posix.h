// The POSIX side of threads.h: the standard library's objects as a Mutex, a Condition and a Thread hold them.
#pragma once
#include <condition_variable>
#include <mutex>
#include <thread>

struct SystemLock {
    std::mutex lock;
};
struct SystemCondition {
    std::condition_variable_any condition;
};
struct SystemThread {
    std::thread thread;
};
