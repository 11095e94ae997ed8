// The Windows side of threads.h: kernel32's objects as a Mutex, a Condition and a Thread hold them.
#pragma once
#include <functional>
#include <memory>

struct SystemLock {
    void* lock = nullptr;  // an SRWLOCK, which starts as all zeros
};
struct SystemCondition {
    void* condition = nullptr;  // a CONDITION_VARIABLE, which starts as all zeros
};
struct SystemThread {
    std::unique_ptr<std::function<void()>> run;  // the thread's, until it is joined
    void* handle = nullptr;
};
