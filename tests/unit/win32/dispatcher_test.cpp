#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>

#include "app/win32/single_instance.h"
#include "app/win32/ui_dispatcher.h"
#include "platform/threads.h"
#include "window_fixture.h"

namespace quorel::testing {
namespace {

class DispatcherTest : public WindowTest {
 protected:
  Win32UiDispatcher dispatcher;
};

TEST_F(DispatcherTest, WorkRunsOnTheWindowThreadBeforeTheCallReturns) {
  dispatcher.Attach(window.hwnd());
  const DWORD windowThread = GetCurrentThreadId();
  DWORD ranOn = 0;
  int seenAfterReturn = -1;
  std::atomic<bool> done{false};
  int counter = 0;
  Thread worker([&] {
    dispatcher.RunOnUiThread([&] {
      ranOn = GetCurrentThreadId();
      ++counter;
    });
    seenAfterReturn = counter;  // the work has run by now
    done = true;
  });
  ASSERT_TRUE(PumpUntil([&] { return done.load(); }));
  worker.Join();
  EXPECT_EQ(ranOn, windowThread);
  EXPECT_EQ(seenAfterReturn, 1);

  // From the window thread itself the work runs at once.
  dispatcher.RunOnUiThread([&] { ++counter; });
  EXPECT_EQ(counter, 2);
}

TEST_F(DispatcherTest, WorkWithoutAWindowToRunItIsDroppedSafely) {
  bool ran = false;
  dispatcher.RunOnUiThread([&] { ran = true; });  // never attached
  dispatcher.Attach(window.hwnd());
  dispatcher.Attach(nullptr);
  dispatcher.RunOnUiThread([&] { ran = true; });  // detached
  EXPECT_FALSE(ran);

  // Still attached to a window that is gone: a worker's report must neither run nor hang.
  dispatcher.Attach(window.hwnd());
  window.Destroy();
  std::atomic<bool> returned{false};
  Thread worker([&] {
    dispatcher.RunOnUiThread([&] { ran = true; });
    returned = true;
  });
  EXPECT_TRUE(PumpUntil([&] { return returned.load(); }));
  worker.Join();
  EXPECT_FALSE(ran);
}

TEST(SingleInstance, SecondHolderOfTheNameIsRefused) {
  const char* name = "Global\\Quorel.Test.SingleInstance";
  {
    SingleInstance first(name);
    EXPECT_FALSE(first.AlreadyRunning());
    SingleInstance second(name);
    EXPECT_TRUE(second.AlreadyRunning());
    SingleInstance other("Global\\Quorel.Test.Other");
    EXPECT_FALSE(other.AlreadyRunning());
  }
  // Released with its holders.
  SingleInstance again(name);
  EXPECT_FALSE(again.AlreadyRunning());
}

}  // namespace
}  // namespace quorel::testing
