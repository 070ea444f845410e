// Force-included into GoogleTest and its users in the MinGW build.
// GoogleTest's Notification is built on std::mutex and
// std::condition_variable, which the win32 thread model of MinGW GCC 12
// lacks; everything else in GoogleTest uses its own Win32 primitives. This
// stand-in is what GoogleTest expects from GTEST_HAS_NOTIFICATION_. Only
// GoogleTest's own threading helpers wait on it, so spinning is fine.
#pragma once

#include <atomic>

namespace testing {
namespace internal {

class Notification {
public:
    Notification() : notified_(false) {}
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;

    void Notify() { notified_.store(true); }
    void WaitForNotification()
    {
        while (!notified_.load()) {
        }
    }

private:
    std::atomic<bool> notified_;
};

} // namespace internal
} // namespace testing

#define GTEST_HAS_NOTIFICATION_ 1
