#include "app/win32/message_loop.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>

namespace quorel::testing {
namespace {

int g_calls = 0;
BOOL WINAPI FailingGetMessage(LPMSG, HWND, UINT, UINT) {
  ++g_calls;
  return -1;
}

// A GetMessage that fails ends the loop only once no update runs: ending the process earlier
// would cut a flash short.
TEST(MessageLoop, AFailingGetMessageWaitsForTheUpdateToEnd) {
  for (const int runningFor : {0, 3}) {
    g_calls = 0;
    RunMessageLoop(
        nullptr, [&] { return g_calls < runningFor; }, FailingGetMessage);
    EXPECT_EQ(g_calls, std::max(runningFor, 1));
  }
}

}  // namespace
}  // namespace quorel::testing
