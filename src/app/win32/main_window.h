// The main window: its controls as designed (pixels at 96 dpi), the 100 ms timer, the close
// guard and the session guard. Events go to plain callbacks, which the program entry binds to
// the window's logic.
#pragma once

#include <windows.h>

#include <exception>
#include <functional>

#include "app/win32/ui.h"

namespace quorel::ui {

// Control identifiers; test drivers post WM_COMMAND with them.
enum ControlId : int {
  kIdDrives = 101,
  kIdUpdate = 102,
  kIdClose = 103,
  kIdProgress = 104,
  kIdLabel1 = 105,
  kIdUpdateMsg = 106,
  kIdOldFW = 107,
  kIdNewFW = 108,
  kIdMsg = 109,
  kIdPercent = 110,
  kIdBevel = 111,
};

// Sent by worker threads: lParam points at a std::function<void()> run on the window thread.
// The window answers kRunWorkDone.
constexpr UINT kRunWorkMessage = WM_APP + 1;
constexpr LRESULT kRunWorkDone = 1;

constexpr char kMainWindowClass[] = "TQuorelMain";

struct MainWindowEvents {
  std::function<void()> driveChange;  // the user picked a line of cboDrives
  std::function<void()> updateClick;
  std::function<void()> closeClick;
  std::function<void()> timer;    // every 100 ms while the timer is on
  std::function<void()> destroy;  // WM_DESTROY
};

class MainWindow : public FrameWindow {
 public:
  MainWindow() = default;
  ~MainWindow() override;

  // Creates the window, hidden, with all its controls.
  void Create(HINSTANCE instance);
  void SetEvents(MainWindowEvents events) { events_ = std::move(events); }
  // Shows the window centred on the screen and gives the first control the focus.
  void ShowCentred();

  void SetTimerEnabled(bool enabled);
  bool TimerEnabled() const { return timerEnabled_; }

  // While an update runs the computer is kept awake and the session may not end.
  void SetUpdateRunning(bool running);
  bool UpdateRunning() const { return updateRunning_; }

  // Takes the separator and Close out of the system menu.
  void RemoveCloseFromSystemMenu();

  // The first exception that escaped an event handler (the quit request has been posted), or
  // null. Taking it clears it.
  std::exception_ptr TakeError();
  bool Failed() const { return error_ != nullptr; }

  // Fonts first: they outlive the controls that use them.
  Font formFont{{"MS Sans Serif", 11, false, false}};
  Font arialFont{{"Arial", 11, false, false}};
  Font listFont{{"Courier New", 13, false, true}};
  Font tahomaBoldFont{{"Tahoma", 11, true, false}};
  Font verdanaBoldFont{{"Verdana", 11, true, false}};

  Bevel bevel1;
  Label label1;
  ComboBox cboDrives;
  GlyphButton cmdUpdate;
  GlyphButton cmdClose;
  Label lblUpdateMsg;
  Label lblOldFW;
  Label lblNewFW;
  Label lblMsg;
  ProgressBar pbar;
  Label lblPercent;

 protected:
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void Fire(const std::function<void()>& handler);
  Label* LabelFor(HWND control);
  void ClickFocusedButton();

  MainWindowEvents events_;
  bool timerEnabled_ = false;
  bool updateRunning_ = false;
  HWND savedFocus_ = nullptr;
  std::exception_ptr error_;
};

}  // namespace quorel::ui
