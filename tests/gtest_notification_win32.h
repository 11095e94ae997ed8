// GoogleTest's Notification (a one-way signal between threads) for the Win32 threading model, whose C++
// runtime has no std::mutex or std::condition_variable: a manual-reset event. Included before GoogleTest,
// which then takes this one instead of its own.
#pragma once
#include <windows.h>

namespace testing {
namespace internal {

class Notification {
public:
    Notification() : event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~Notification() { CloseHandle(event_); }
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;
    void Notify() { SetEvent(event_); }
    void WaitForNotification() { WaitForSingleObject(event_, INFINITE); }

private:
    HANDLE event_;
};

}  // namespace internal
}  // namespace testing
