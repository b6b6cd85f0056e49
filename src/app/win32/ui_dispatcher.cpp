#include "app/win32/ui_dispatcher.h"

#include "app/win32/main_window.h"

namespace quorel {

void Win32UiDispatcher::RunOnUiThread(const std::function<void()>& work) {
  const HWND window = window_.load();
  // The window answers kRunWorkDone once it has run the work; a destroyed window answers 0.
  if (window != nullptr && SendMessageA(window, ui::kRunWorkMessage, 0,
                                        reinterpret_cast<LPARAM>(&work)) == ui::kRunWorkDone) {
    return;
  }
  OutputDebugStringA("quorel: work for the window thread dropped: no window to run it\n");
}

}  // namespace quorel
