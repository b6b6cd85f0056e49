// Program entry of quorel.exe: the switches, one copy at a time, the platform binding and the
// window-thread dispatcher, the main window (whose logic's construction is the whole start-up),
// the message loop, and the standard box for an exception that escapes. With /S the window is
// never shown and no message box appears: the logic runs unattended behind an answering view,
// and the exit code and the log say what happened.
#include <windows.h>
// commctrl.h needs the types of windows.h.
#include <commctrl.h>

#include <cstdio>
#include <exception>
#include <optional>
#include <stdexcept>
#include <string>

#include "app/answering_view.h"
#include "app/exit_codes.h"
#include "app/quorel_main.h"
#include "app/run_log.h"
#include "app/switches.h"
#include "app/texts.h"
#include "app/win32/main_window.h"
#include "app/win32/message_loop.h"
#include "app/win32/single_instance.h"
#include "app/win32/ui_dispatcher.h"
#include "app/win32/win32_view.h"
#include "package/package_view.h"
#include "platform/win32/win32_platform.h"
#include "quorel_version.h"

namespace quorel {
namespace {

constexpr char kExceptionCaption[] = "quorel";

// The platform's own message boxes (the ASPI loader's, a list that cannot be made) go to the log
// in a silent run.
class QuietPlatform : public Win32Platform {
 public:
  explicit QuietPlatform(RunLog& log) : log_(log) {}
  int MessageBoxA(const char* text, const char*, uint32_t) override {
    log_.Line(std::string(text::kLogMessage) + text);
    return IDOK;
  }

 private:
  RunLog& log_;
};

std::string LocalTimeStamp() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u:%02u", now.wYear, now.wMonth,
                now.wDay, now.wHour, now.wMinute, now.wSecond);
  return stamp;
}

std::string SystemText() {
  OsVersion version;
  if (!platform().GetVersionExA(&version)) return "Windows, version unknown";
  char line[64];
  std::snprintf(line, sizeof line, "Windows %u.%u (%s family)",
                static_cast<unsigned>(version.majorVersion),
                static_cast<unsigned>(version.minorVersion),
                version.platformId == VER_PLATFORM_WIN32_NT ? "NT" : "9x");
  return line;
}

// The log and whether anything may be shown, for the whole run.
struct RunContext {
  Switches switches;
  RunLog* log = nullptr;  // null without /log
  bool Silent() const { return switches.silent || switches.check; }
};

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

int Run(HINSTANCE instance, const RunContext& run) {
  const auto note = [&run](const std::string& line) {
    if (run.log != nullptr) run.log->Line(line);
  };
  SingleInstance instanceGuard;
  if (instanceGuard.AlreadyRunning()) {
    note(std::string(text::kLogMessage) + text::kAlreadyRunning);
    if (!run.Silent()) {
      MessageBoxA(nullptr, text::kAlreadyRunning, text::kCaptionError, MB_OK | MB_ICONERROR);
    }
    return run.switches.any ? exit_code::kAlreadyRunning : 0;
  }

  static Win32Platform binding;
  static std::optional<QuietPlatform> quiet;
  static RunLog noLog(nullptr, nullptr);
  if (run.Silent()) {
    quiet.emplace(run.log != nullptr ? *run.log : noLog);
    SetPlatform(&*quiet);
  } else {
    SetPlatform(&binding);
  }
  note(text::kLogSystem + SystemText());
  static Win32UiDispatcher dispatcher;
  SetUiDispatcher(&dispatcher);
  RegisterControlClasses();

  // The window's events reach the logic through this pointer, set once start-up has ended.
  TQuorelMain* logic = nullptr;
  ui::MainWindow window;
  window.Create(instance);
  if (window.hwnd() == nullptr) throw std::runtime_error("The main window cannot be created.");
  Win32View view(window);
  AnsweringView answering(view);
  RunOptions options;
  options.unattended = run.Silent();
  options.force = run.switches.force;
  options.reboot = run.switches.reboot;
  options.check = run.switches.check;
  options.log = run.log;

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
    main.emplace(run.Silent() ? static_cast<MainView&>(answering) : view, PackageView::Embedded(),
                 options);
    logic = &*main;
    // After a refusal the quit request is pending: the window is not shown at all; nor ever in
    // a silent run.
    if (!view.TerminateRequested() && !window.Failed() && !run.Silent()) window.ShowCentred();

    RunMessageLoop(window.hwnd(), [&main] { return main->UpdateRunning(); });
  }
  // The loop ends only after every worker has reported. Destroying the window deletes the list
  // engine (FormDestroy).
  window.Destroy();
  logic = nullptr;
  // One error is shown: the first, which may come from the update that start-up began.
  std::exception_ptr error = main->TakeStartupError();
  const int code = run.switches.any ? ExitCodeOf(FrontEnd::WindowsSwitches, main->RunOutcome(),
                                                 main->Restarted())
                                    : 0;
  main.reset();
  if (!error) error = window.TakeError();
  if (error) std::rethrow_exception(error);
  return code;
}

void ShowException(const RunContext& run, const char* message) {
  if (run.log != nullptr) run.log->Line(std::string(text::kLogError) + message);
  if (!run.Silent()) {
    MessageBoxA(nullptr, message, kExceptionCaption, MB_OK | MB_ICONERROR | MB_TASKMODAL);
  }
}

int RunWithSwitches(HINSTANCE instance, const char* commandLine) {
  RunContext run;
  run.switches = ParseSwitches(commandLine != nullptr ? commandLine : "");
  const Switches& switches = run.switches;
  if (switches.help || !switches.error.empty()) {
    if (!(switches.silent || switches.check) || switches.error.empty()) {
      MessageBoxA(nullptr, text::kSwitchesHelp, text::kDesignCaption,
                  MB_OK | (switches.error.empty() ? MB_ICONINFORMATION : MB_ICONERROR));
    }
    return switches.error.empty() ? exit_code::kUpdated : exit_code::kBadSwitches;
  }

  std::string logFailure;
  RunLog log(LocalTimeStamp, [&logFailure](const std::string& message) {
    // Reported once, where it cannot hold up an update: a debugger sees it at once, the user
    // (without /S) after the run has ended.
    OutputDebugStringA(message.c_str());
    logFailure = message;
  });
  if (!switches.logPath.empty() && log.Open(switches.logPath)) run.log = &log;
  if (run.log != nullptr) log.Header("quorel.exe", QUOREL_VERSION_TEXT, commandLine);
  if (!logFailure.empty() && !run.Silent()) {
    MessageBoxA(nullptr, logFailure.c_str(), text::kCaptionWarning, MB_OK | MB_ICONWARNING);
    logFailure.clear();
  }

  int code = exit_code::kFailed;
  try {
    code = Run(instance, run);
  } catch (const std::exception& error) {
    ShowException(run, error.what());
    code = switches.any ? exit_code::kFailed : 1;
  } catch (...) {
    ShowException(run, "");
    code = switches.any ? exit_code::kFailed : 1;
  }
  if (run.log != nullptr) log.Footer(code);
  if (!logFailure.empty() && !run.Silent()) {
    MessageBoxA(nullptr, logFailure.c_str(), text::kCaptionWarning, MB_OK | MB_ICONWARNING);
  }
  return code;
}

}  // namespace
}  // namespace quorel

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
  try {
    return quorel::RunWithSwitches(instance, commandLine);
  } catch (...) {
    // Only the log's own set-up can throw here (out of memory).
  }
  return 1;
}
