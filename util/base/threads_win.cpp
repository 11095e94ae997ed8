// Threads, locks and conditions straight from kernel32.
#include "util/base/threads.h"

#include <windows.h>

static_assert(sizeof(SRWLOCK) == sizeof(void*) && sizeof(CONDITION_VARIABLE) == sizeof(void*),
              "a lock and a condition are one pointer each");

void Mutex::Lock() { AcquireSRWLockExclusive(reinterpret_cast<PSRWLOCK>(&lock_.lock)); }

void Mutex::Unlock() { ReleaseSRWLockExclusive(reinterpret_cast<PSRWLOCK>(&lock_.lock)); }

void Condition::Wait(Mutex& mutex) { WaitFor(mutex, INFINITE); }

void Condition::WaitFor(Mutex& mutex, unsigned ms)
{
    SleepConditionVariableSRW(reinterpret_cast<PCONDITION_VARIABLE>(&condition_.condition),
                              reinterpret_cast<PSRWLOCK>(&mutex.lock_.lock), ms, 0);
}

void Condition::NotifyAll() { WakeAllConditionVariable(reinterpret_cast<PCONDITION_VARIABLE>(&condition_.condition)); }

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
    thread_.run.reset(new std::function<void()>(std::move(run)));
    thread_.handle = CreateThread(nullptr, 0, RunThread, thread_.run.get(), 0, nullptr);
    started_ = thread_.handle != nullptr;
    return started_;
}

void Thread::Join()
{
    if (!started_)
        return;
    WaitForSingleObject(thread_.handle, INFINITE);
    CloseHandle(thread_.handle);
    thread_.handle = nullptr;
    started_ = false;
    thread_.run.reset();
}
