// Threads and locks, bound per build like the rest of the seam but at link time: the Windows
// binding (platform/win32/win32_threads.cpp) uses CreateThread and critical sections, which every
// 32-bit Windows has, from 95 and NT 3.1 on; the host binding (platform/host/host_threads.cpp)
// uses the standard library, so that the sanitizers see real threads. Product and test code use
// these instead of std::thread, std::mutex and std::condition_variable, which the Windows
// toolchain either lacks or builds on calls that are failing stubs on Windows 9x.
#pragma once

#include <cstdint>
#include <functional>

namespace quorel {

// Identifies the calling thread among the threads alive. (std::this_thread::get_id answers the
// same value on every thread with the Windows toolchain.)
using ThreadId = std::uintptr_t;
ThreadId CurrentThreadId();

// Starts body(context) on a new thread that nobody joins. False when no thread could be made;
// body has then not run and never will. Throws nothing.
bool StartThread(void (*body)(void* context), void* context);

// A thread that its owner joins. The body starts at construction; the destructor joins a thread
// not joined yet. Throws std::runtime_error when the thread cannot be made.
class Thread {
 public:
  explicit Thread(std::function<void()> body);
  ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;
  Thread(Thread&& other) noexcept;
  Thread& operator=(Thread&& other) = delete;

  // Waits until the body has returned. Once only; later calls return at once.
  void Join();

  struct Impl;

 private:
  Impl* impl_;
};

// A non-recursive lock. lock/unlock are lower case so that std::lock_guard and std::unique_lock
// take it.
class Lock {
 public:
  Lock();
  ~Lock();
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

  void lock();
  void unlock();

  struct Impl;

 private:
  Impl* impl_;
};

// Waiting for a state that another thread changes under a Lock. A wait may end without a
// notification (on Windows after a few milliseconds at most), so callers wait in a loop on
// their predicate, as the overloads with a predicate do.
class Condition {
 public:
  Condition();
  ~Condition();
  Condition(const Condition&) = delete;
  Condition& operator=(const Condition&) = delete;

  // Releases the held lock while waiting and holds it again on return.
  void Wait(Lock& held);
  // As Wait, but returns after about timeoutMilliseconds at the latest.
  void WaitFor(Lock& held, uint32_t timeoutMilliseconds);
  void NotifyAll();

  template <typename Predicate>
  void Wait(Lock& held, Predicate ready) {
    while (!ready()) Wait(held);
  }

  struct Impl;

 private:
  Impl* impl_;
};

}  // namespace quorel
