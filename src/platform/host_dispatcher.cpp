#include "platform/host_dispatcher.h"

#include <chrono>
#include <mutex>

namespace quorel {

HostDispatcher::~HostDispatcher() {
  std::lock_guard<Lock> lock(mutex_);
  closing_ = true;
  for (Item* item : queue_) item->done = true;
  queue_.clear();
  cv_.NotifyAll();
  cv_.Wait(mutex_, [&] { return inside_ == 0; });
}

void HostDispatcher::RunOnUiThread(const std::function<void()>& work) {
  if (CurrentThreadId() == uiThread_) {
    work();
    return;
  }
  std::lock_guard<Lock> lock(mutex_);
  if (closing_) return;
  Item item{&work, false};
  ++inside_;
  queue_.push_back(&item);
  cv_.NotifyAll();
  cv_.Wait(mutex_, [&] { return item.done; });
  // The last one out wakes a waiting destructor. Notified under the lock, so the destructor
  // cannot go on before this thread has let go of the mutex.
  if (--inside_ == 0) cv_.NotifyAll();
}

int HostDispatcher::Waiting() {
  std::lock_guard<Lock> lock(mutex_);
  return inside_;
}

int HostDispatcher::Pump() {
  int ran = 0;
  for (;;) {
    Item* item = nullptr;
    {
      std::lock_guard<Lock> lock(mutex_);
      if (queue_.empty()) break;
      item = queue_.front();
      queue_.pop_front();
    }
    try {
      (*item->work)();
    } catch (...) {
      std::lock_guard<Lock> lock(mutex_);
      item->done = true;
      cv_.NotifyAll();
      throw;
    }
    {
      std::lock_guard<Lock> lock(mutex_);
      item->done = true;
      cv_.NotifyAll();
    }
    ++ran;
  }
  return ran;
}

bool HostDispatcher::PumpUntil(const std::function<bool()>& pred, double limitSeconds) {
  auto const deadline = std::chrono::steady_clock::now() +
                        std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                            std::chrono::duration<double>(limitSeconds));
  for (;;) {
    Pump();
    if (pred()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::lock_guard<Lock> lock(mutex_);
    if (queue_.empty()) cv_.WaitFor(mutex_, 1);
  }
}

}  // namespace quorel
