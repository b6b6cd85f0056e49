// What the window's logic (TQuorelMain) needs from the window: a thin view. The Win32 build
// implements it over real controls (app/win32); host tests implement it with a fake.
#pragma once

#include <cstdint>
#include <string>

namespace quorel {

enum class Control {
  Label1,
  cboDrives,
  cmdUpdate,
  cmdClose,
  lblUpdateMsg,
  lblOldFW,
  lblNewFW,
  lblMsg,
  pbar,
  lblPercent,
};

// Colours in the class library's encoding: blue in the high byte (as a Win32 COLORREF).
constexpr uint32_t kColorBlack = 0x000000;
constexpr uint32_t kColorNavy = 0x800000;
constexpr uint32_t kColorMaroon = 0x000080;

enum class MessageKind { Warning, Error, Information };
enum class MessageButtons { Ok, YesNo };
enum class MessageResult { Ok, Yes, No };

class MainView {
 public:
  virtual ~MainView() = default;

  virtual void SetCaption(const std::string& caption) = 0;
  virtual std::string Caption() const = 0;

  virtual void SetText(Control control, const std::string& text) = 0;
  virtual void SetColor(Control control, uint32_t color) = 0;
  virtual void SetVisible(Control control, bool visible) = 0;
  virtual void SetEnabled(Control control, bool enabled) = 0;

  // The drop-down list of drives. SelectDrive does not run the change handler; -1 clears the
  // selection. SelectedDrive is -1 when nothing is selected.
  virtual void ClearDrives() = 0;
  virtual void AddDrive(const std::string& line) = 0;
  virtual void SelectDrive(int index) = 0;
  virtual int SelectedDrive() const = 0;

  // The progress bar.
  virtual void SetProgressRange(int minimum, int maximum) = 0;
  virtual void SetProgressPosition(int position) = 0;

  // The 100 ms timer that drives tmrTimer.
  virtual void SetTimerEnabled(bool enabled) = 0;

  // A modal message dialog with the kind's caption and icon. Only "&Yes" answers Yes;
  // closing the dialog in any other way answers No.
  virtual MessageResult ShowMessage(const std::string& text, MessageKind kind,
                                    MessageButtons buttons) = 0;

  // Takes the separator and Close out of the system menu; from then on the window closes only
  // through the Close button.
  virtual void RemoveCloseFromSystemMenu() = 0;

  // While an update runs: keep the computer awake and refuse to let the session end.
  virtual void SetUpdateRunning(bool running) = 0;

  // Posts the quit request; the caller goes on to its end.
  virtual void Terminate() = 0;
  // Lets pending window messages be processed (so a new text is painted).
  virtual void ProcessMessages() = 0;
};

}  // namespace quorel
