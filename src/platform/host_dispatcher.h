// A window-thread dispatcher without a window: a queue that one thread pumps.
#pragma once

#include <deque>
#include <functional>

#include "platform/platform.h"
#include "platform/threads.h"

namespace quorel {

// The window-thread dispatcher of programs without a window system: workers queue their
// completion and wait; the thread that built the dispatcher (the window thread of a terminal
// front end, or a test standing in for it) runs queued work with Pump.
class HostDispatcher : public UiDispatcher {
 public:
  HostDispatcher() = default;
  // Waits until no worker is inside RunOnUiThread any more, so that one still waking up after
  // its work ran never touches a destroyed dispatcher. Work nobody pumped is dropped unrun and
  // its worker returns, as a message sent to a window that is gone; later calls return at once.
  ~HostDispatcher() override;
  HostDispatcher(const HostDispatcher&) = delete;
  HostDispatcher& operator=(const HostDispatcher&) = delete;

  void RunOnUiThread(const std::function<void()>& work) override;
  // Runs every queued item; returns how many ran.
  int Pump();
  // Pumps until pred() holds or the wall-clock limit passes; true when pred() held.
  bool PumpUntil(const std::function<bool()>& pred, double limitSeconds = 30.0);
  // Threads inside RunOnUiThread: waiting for their work, or just woken after it ran.
  int Waiting();

 private:
  struct Item {
    const std::function<void()>* work;
    bool done = false;
  };
  Lock mutex_;
  Condition cv_;
  std::deque<Item*> queue_;
  int inside_ = 0;        // threads inside RunOnUiThread
  bool closing_ = false;  // the destructor has begun
  // The thread that stands in for the window thread (the one that built the machine); work
  // asked for on it runs at once.
  ThreadId uiThread_ = CurrentThreadId();
};

}  // namespace quorel
