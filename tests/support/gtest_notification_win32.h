// GoogleTest's Notification for the Windows test build. GoogleTest builds it on std::mutex and
// std::condition_variable, which the win32 thread model of the toolchain does not have. Included
// ahead of every translation unit that sees GoogleTest (tests/CMakeLists.txt), with
// GTEST_HAS_NOTIFICATION_ set so that GoogleTest takes this one. No Windows header here: it
// would reach every test.
#pragma once

#include <atomic>
#include <chrono>
#include <thread>

namespace testing::internal {

class Notification {
 public:
  Notification() = default;
  Notification(const Notification&) = delete;
  Notification& operator=(const Notification&) = delete;

  void Notify() { notified_.store(true, std::memory_order_release); }
  void WaitForNotification() {
    while (!notified_.load(std::memory_order_acquire)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }

 private:
  std::atomic<bool> notified_{false};
};

}  // namespace testing::internal
