// The host binding of threads and locks: the standard library's own.
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/threads.h"

namespace quorel {

ThreadId CurrentThreadId() {
  thread_local const char marker = 0;
  return reinterpret_cast<ThreadId>(&marker);
}

bool StartThread(void (*body)(void* context), void* context) {
  try {
    std::thread(body, context).detach();
    return true;
  } catch (...) {  // no thread (std::system_error) or no memory for it
    return false;
  }
}

struct Thread::Impl {
  std::thread thread;
};

Thread::Thread(std::function<void()> body) : impl_(new Impl) {
  try {
    impl_->thread = std::thread(std::move(body));
  } catch (const std::system_error& error) {
    delete impl_;
    throw std::runtime_error(error.what());
  }
}

Thread::Thread(Thread&& other) noexcept : impl_(std::exchange(other.impl_, nullptr)) {}

Thread::~Thread() {
  if (impl_ == nullptr) return;
  Join();
  delete impl_;
}

void Thread::Join() {
  if (impl_ != nullptr && impl_->thread.joinable()) impl_->thread.join();
}

struct Lock::Impl {
  std::mutex mutex;
};

Lock::Lock() : impl_(new Impl) {}
Lock::~Lock() {
  delete impl_;
}
void Lock::lock() {
  impl_->mutex.lock();
}
void Lock::unlock() {
  impl_->mutex.unlock();
}

struct Condition::Impl {
  std::condition_variable_any variable;
};

Condition::Condition() : impl_(new Impl) {}
Condition::~Condition() {
  delete impl_;
}
void Condition::Wait(Lock& held) {
  impl_->variable.wait(held);
}
void Condition::WaitFor(Lock& held, uint32_t timeoutMilliseconds) {
  impl_->variable.wait_for(held, std::chrono::milliseconds(timeoutMilliseconds));
}
void Condition::NotifyAll() {
  impl_->variable.notify_all();
}

}  // namespace quorel
