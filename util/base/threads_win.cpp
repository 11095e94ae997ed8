// Threads, locks and conditions straight from kernel32.
#include "util/base/threads.h"

#include <windows.h>

static_assert(sizeof(SRWLOCK) == sizeof(void*) && sizeof(CONDITION_VARIABLE) == sizeof(void*),
              "a lock and a condition are one pointer each");

void Mutex::Lock() { AcquireSRWLockExclusive(reinterpret_cast<PSRWLOCK>(&lock_)); }

void Mutex::Unlock() { ReleaseSRWLockExclusive(reinterpret_cast<PSRWLOCK>(&lock_)); }

void Condition::Wait(Mutex& mutex) { WaitFor(mutex, INFINITE); }

void Condition::WaitFor(Mutex& mutex, unsigned ms)
{
    SleepConditionVariableSRW(reinterpret_cast<PCONDITION_VARIABLE>(&condition_),
                              reinterpret_cast<PSRWLOCK>(&mutex.lock_), ms, 0);
}

void Condition::NotifyAll() { WakeAllConditionVariable(reinterpret_cast<PCONDITION_VARIABLE>(&condition_)); }

namespace {

DWORD WINAPI RunThread(void* run)
{
    (*static_cast<std::function<void()>*>(run))();
    return 0;
}

}  // namespace

bool Thread::Start(std::function<void()> run)
{
    if (started_)
        return false;
    run_.reset(new std::function<void()>(std::move(run)));
    handle_ = CreateThread(nullptr, 0, RunThread, run_.get(), 0, nullptr);
    started_ = handle_ != nullptr;
    return started_;
}

void Thread::Join()
{
    if (!started_)
        return;
    WaitForSingleObject(handle_, INFINITE);
    CloseHandle(handle_);
    handle_ = nullptr;
    started_ = false;
    run_.reset();
}
