// Program entry of quorel.exe: one copy at a time, the platform binding and the window-thread
// dispatcher, the main window (whose logic's construction is the whole start-up), the message
// loop, and the standard box for an exception that escapes.
#include <windows.h>
// commctrl.h needs the types of windows.h.
#include <commctrl.h>

#include <exception>
#include <optional>
#include <stdexcept>
#include <string>

#include "app/quorel_main.h"
#include "app/texts.h"
#include "app/win32/main_window.h"
#include "app/win32/single_instance.h"
#include "app/win32/ui_dispatcher.h"
#include "app/win32/win32_view.h"
#include "package/package_view.h"
#include "platform/win32/win32_platform.h"

namespace quorel {
namespace {

constexpr char kExceptionCaption[] = "quorel";

// Runs until the quit request. Should the request come while an update is still running (an
// exception escaped an event handler), the loop goes on until the workers have finished, since
// ending the process then would cut a flash short.
void RunMessageLoop(const ui::MainWindow& window, const TQuorelMain& main) {
  bool quitRequested = false;
  for (;;) {
    if (quitRequested && !main.UpdateRunning()) return;
    MSG message;
    const BOOL got = GetMessageA(&message, nullptr, 0, 0);
    if (got == -1) return;
    if (got == 0) {
      quitRequested = true;
      continue;
    }
    if (IsDialogMessageA(window.hwnd(), &message) == FALSE) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
  }
}

int Run(HINSTANCE instance) {
  SingleInstance instanceGuard;
  if (instanceGuard.AlreadyRunning()) {
    MessageBoxA(nullptr, text::kAlreadyRunning, text::kCaptionError, MB_OK | MB_ICONERROR);
    return 0;
  }

  static Win32Platform binding;
  SetPlatform(&binding);
  static Win32UiDispatcher dispatcher;
  SetUiDispatcher(&dispatcher);

  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);

  ui::MainWindow window;
  window.Create(instance);
  if (window.hwnd() == nullptr) throw std::runtime_error("The main window cannot be created.");
  dispatcher.Attach(window.hwnd());
  Win32View view(window);

  std::optional<TQuorelMain> main;
  main.emplace(view, PackageView::Embedded());
  TQuorelMain& logic = *main;
  window.SetEvents(ui::MainWindowEvents{
      [&logic] { logic.cboDrivesChange(); },
      [&logic] { logic.cmdUpdateClick(); },
      [&logic] { logic.cmdCloseClick(); },
      [&logic] { logic.tmrTimer(); },
      [&logic] { logic.FormDestroy(); },
  });
  // After a refusal the quit request is pending: the window is not shown at all.
  if (!view.TerminateRequested() && !window.Failed()) window.ShowCentred();

  RunMessageLoop(window, logic);

  window.Destroy();
  dispatcher.Attach(nullptr);
  main.reset();
  if (std::exception_ptr error = window.TakeError()) std::rethrow_exception(error);
  return 0;
}

void ShowException(const char* message) {
  MessageBoxA(nullptr, message, kExceptionCaption, MB_OK | MB_ICONERROR | MB_TASKMODAL);
}

}  // namespace
}  // namespace quorel

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  try {
    return quorel::Run(instance);
  } catch (const std::exception& error) {
    quorel::ShowException(error.what());
  } catch (...) {
    quorel::ShowException("");
  }
  return 1;
}
