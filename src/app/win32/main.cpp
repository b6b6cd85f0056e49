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
#include "app/win32/message_loop.h"
#include "app/win32/single_instance.h"
#include "app/win32/ui_dispatcher.h"
#include "app/win32/win32_view.h"
#include "package/package_view.h"
#include "platform/win32/win32_platform.h"

namespace quorel {
namespace {

constexpr char kExceptionCaption[] = "quorel";

// Workers report through the main window: it is attached before start-up (which may start
// them) and detached on every way out of Run, before the window itself goes.
class DispatcherAttachment {
 public:
  DispatcherAttachment(Win32UiDispatcher& dispatcher, HWND window) : dispatcher_(dispatcher) {
    dispatcher_.Attach(window);
  }
  ~DispatcherAttachment() { dispatcher_.Attach(nullptr); }
  DispatcherAttachment(const DispatcherAttachment&) = delete;
  DispatcherAttachment& operator=(const DispatcherAttachment&) = delete;

 private:
  Win32UiDispatcher& dispatcher_;
};

// InitCommonControlsEx came with version 4.70 of the common controls, which Windows 95 and
// NT 4.0 may lack; there InitCommonControls, which every version has, registers the classes.
void RegisterControlClasses() {
  using InitExFn = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
  const HMODULE library = GetModuleHandleA("comctl32.dll");
  const auto initEx = library == nullptr ? nullptr
                                         : reinterpret_cast<InitExFn>(reinterpret_cast<void*>(
                                               GetProcAddress(library, "InitCommonControlsEx")));
  if (initEx == nullptr) {
    InitCommonControls();
    return;
  }
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
  // Libraries older than version 6 may refuse the standard-classes flag.
  if (initEx(&controls) == FALSE) {
    controls.dwICC = ICC_PROGRESS_CLASS;
    initEx(&controls);
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
  RegisterControlClasses();

  // The window's events reach the logic through this pointer, set once start-up has ended.
  TQuorelMain* logic = nullptr;
  ui::MainWindow window;
  window.Create(instance);
  if (window.hwnd() == nullptr) throw std::runtime_error("The main window cannot be created.");
  Win32View view(window);

  // The events are connected before start-up, which is the logic's construction, and are ignored
  // until it has ended. Nothing is lost that way: the window stays hidden throughout start-up
  // (its message boxes stand alone), so no click can reach it, and the timer is switched on only
  // at the very end of start-up. Workers report through the dispatcher, which calls the logic
  // directly.
  const auto bind = [&logic](void (TQuorelMain::*handler)()) {
    return [&logic, handler] {
      if (logic != nullptr) (logic->*handler)();
    };
  };
  window.SetEvents(ui::MainWindowEvents{
      bind(&TQuorelMain::cboDrivesChange),
      bind(&TQuorelMain::cmdUpdateClick),
      bind(&TQuorelMain::cmdCloseClick),
      bind(&TQuorelMain::tmrTimer),
      bind(&TQuorelMain::FormDestroy),
  });

  std::optional<TQuorelMain> main;
  {
    const DispatcherAttachment attachment(dispatcher, window.hwnd());
    main.emplace(view, PackageView::Embedded());
    logic = &*main;
    // After a refusal the quit request is pending: the window is not shown at all.
    if (!view.TerminateRequested() && !window.Failed()) window.ShowCentred();

    RunMessageLoop(window.hwnd(), [&main] { return main->UpdateRunning(); });
  }
  // The loop ends only after every worker has reported. Destroying the window deletes the list
  // engine (FormDestroy).
  window.Destroy();
  logic = nullptr;
  // One error is shown: the first, which may come from the update that start-up began.
  std::exception_ptr error = main->TakeStartupError();
  main.reset();
  if (!error) error = window.TakeError();
  if (error) std::rethrow_exception(error);
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
