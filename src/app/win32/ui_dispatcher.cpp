#include "app/win32/ui_dispatcher.h"

#include "app/win32/main_window.h"

namespace quorel {

void Win32UiDispatcher::RunOnUiThread(const std::function<void()>& work) {
  const HWND window = window_.load();
  if (window == nullptr) return;
  SendMessageA(window, ui::kRunWorkMessage, 0, reinterpret_cast<LPARAM>(&work));
}

}  // namespace quorel
