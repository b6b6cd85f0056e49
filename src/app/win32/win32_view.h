// MainView over the real main window.
#pragma once

#include <windows.h>

#include "app/main_view.h"
#include "app/win32/main_window.h"

namespace quorel {

// Caption and MessageBoxA style of a message dialog of a kind and a button set.
struct MessageBoxStyle {
  const char* caption;
  UINT flags;
};
MessageBoxStyle MessageBoxStyleFor(MessageKind kind, MessageButtons buttons);
// What a MessageBoxA result means: only IDYES is Yes; with Yes and No anything else is No.
MessageResult MessageResultFor(int boxResult, MessageButtons buttons);

class Win32View : public MainView {
 public:
  explicit Win32View(ui::MainWindow& window) : window_(window) {}

  void SetCaption(const std::string& caption) override;
  std::string Caption() const override;

  void SetText(Control control, const std::string& text) override;
  void SetColor(Control control, uint32_t color) override;
  void SetVisible(Control control, bool visible) override;
  void SetEnabled(Control control, bool enabled) override;

  void ClearDrives() override;
  void AddDrive(const std::string& line) override;
  void SelectDrive(int index) override;
  int SelectedDrive() const override;

  void SetProgressRange(int minimum, int maximum) override;
  void SetProgressPosition(int position) override;

  void SetTimerEnabled(bool enabled) override;

  MessageResult ShowMessage(const std::string& text, MessageKind kind,
                            MessageButtons buttons) override;

  void RemoveCloseFromSystemMenu() override;
  void SetUpdateRunning(bool running) override;

  void Terminate() override;
  void ProcessMessages() override;

  // True once Terminate has been called.
  bool TerminateRequested() const { return terminateRequested_; }

 private:
  ui::Window& WindowOf(Control control) const;
  ui::Label* LabelOf(Control control) const;

  ui::MainWindow& window_;
  bool terminateRequested_ = false;
};

}  // namespace quorel
