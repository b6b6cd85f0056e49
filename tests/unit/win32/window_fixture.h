// A hidden main window for the tests, and a way to pump its thread's messages. Windows can be
// created only where Wine has a display (xvfb-run) or its null graphics driver; elsewhere the
// tests that need one skip.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <functional>

#include "app/win32/main_window.h"

namespace quorel::testing {

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window.Create(GetModuleHandleA(nullptr));
    if (window.hwnd() == nullptr) GTEST_SKIP() << "no display: windows cannot be created here";
  }
  void TearDown() override { TakeQuit(); }

  // Dispatches messages until done() holds or the time is up; false on time-out.
  static bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 2000) {
    const DWORD start = GetTickCount();
    while (!done()) {
      if (GetTickCount() - start > timeoutMs) return false;
      MSG message;
      while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE) != FALSE) {
        if (message.message == WM_QUIT) continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
      }
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    return true;
  }

  // Removes a pending quit request; true when there was one.
  static bool TakeQuit() {
    MSG message;
    bool found = false;
    while (PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE) found = true;
    return found;
  }

  ui::MainWindow window;
};

}  // namespace quorel::testing
