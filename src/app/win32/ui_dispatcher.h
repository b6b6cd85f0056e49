// The window-thread dispatcher of the Windows build: work is sent to the main window as a
// message, so it runs on the window thread while the sending thread waits.
#pragma once

#include <windows.h>

#include <atomic>

#include "platform/platform.h"

namespace quorel {

class Win32UiDispatcher : public UiDispatcher {
 public:
  // The window whose procedure runs the work (it handles ui::kRunWorkMessage); null detaches.
  void Attach(HWND window) { window_.store(window); }

  // The window is attached before any worker can start and detached only once the message loop
  // has ended, when every worker has reported. Work that comes outside that time, or that the
  // window did not take, cannot run: nothing on the window thread would be there to receive it.
  // It is dropped with a note to the debugger.
  void RunOnUiThread(const std::function<void()>& work) override;

 private:
  std::atomic<HWND> window_{nullptr};
};

}  // namespace quorel
