// The thread seam: exclusion, waiting for a state, detached and joined threads.
#include "platform/threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

namespace quorel::test {
namespace {

TEST(Threads, LockMakesIncrementsOnManyThreadsExact) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 2000;
  Lock lock;
  int counter = 0;  // deliberately not atomic
  {
    std::vector<Thread> threads;
    threads.reserve(kThreads);
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&] {
        for (int i = 0; i < kRounds; ++i) {
          std::lock_guard<Lock> hold(lock);
          ++counter;
        }
      });
    }
  }  // joined here
  EXPECT_EQ(counter, kThreads * kRounds);
}

TEST(Threads, ConditionWakesTheWaiterAndTimedWaitsEnd) {
  Lock lock;
  Condition changed;
  bool ready = false;
  ThreadId waiterThread = 0;
  Thread waiter([&] {
    std::lock_guard<Lock> hold(lock);
    changed.Wait(lock, [&] { return ready; });
    waiterThread = CurrentThreadId();
  });
  {
    std::lock_guard<Lock> hold(lock);
    ready = true;
    changed.NotifyAll();
  }
  waiter.Join();
  waiter.Join();  // a second join returns at once
  EXPECT_NE(waiterThread, 0u);
  EXPECT_NE(waiterThread, CurrentThreadId());

  std::lock_guard<Lock> hold(lock);
  changed.WaitFor(lock, 1);  // nobody notifies: returns, holding the lock again
}

TEST(Threads, StartThreadRunsTheBodyWithItsContextOnce) {
  struct Context {
    std::atomic<int> runs{0};
    std::atomic<ThreadId> thread{0};
  } context;
  ASSERT_TRUE(StartThread(
      [](void* raw) {
        auto* c = static_cast<Context*>(raw);
        c->thread = CurrentThreadId();
        ++c->runs;
      },
      &context));
  // The body's last access to the context is the count.
  for (int i = 0; i < 30000 && context.runs.load() == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(context.runs.load(), 1);
  EXPECT_NE(context.thread.load(), CurrentThreadId());
}

}  // namespace
}  // namespace quorel::test
