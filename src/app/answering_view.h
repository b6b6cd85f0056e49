// The view of a run where no one may answer (quorel.exe /S): the window's controls go to the
// view underneath, whose window is never shown, and no message is shown at all: a question is
// answered yes (whoever started the run unattended consented to the notice), a report is
// taken as read. What happened is in the log the logic writes and in the exit code.
#pragma once

#include "app/main_view.h"

namespace quorel {

class AnsweringView : public MainView {
 public:
  explicit AnsweringView(MainView& inner) : inner_(inner) {}

  void SetCaption(const std::string& caption) override { inner_.SetCaption(caption); }
  std::string Caption() const override { return inner_.Caption(); }
  void SetText(Control control, const std::string& text) override { inner_.SetText(control, text); }
  void SetColor(Control control, uint32_t color) override { inner_.SetColor(control, color); }
  void SetVisible(Control control, bool visible) override { inner_.SetVisible(control, visible); }
  void SetEnabled(Control control, bool enabled) override { inner_.SetEnabled(control, enabled); }
  void ClearDrives() override { inner_.ClearDrives(); }
  void AddDrive(const std::string& line) override { inner_.AddDrive(line); }
  void SelectDrive(int index) override { inner_.SelectDrive(index); }
  int SelectedDrive() const override { return inner_.SelectedDrive(); }
  void SetProgressRange(int minimum, int maximum) override {
    inner_.SetProgressRange(minimum, maximum);
  }
  void SetProgressPosition(int position) override { inner_.SetProgressPosition(position); }
  void SetTimerEnabled(bool enabled) override { inner_.SetTimerEnabled(enabled); }
  MessageResult ShowMessage(const std::string&, MessageKind, MessageButtons buttons) override {
    return buttons == MessageButtons::YesNo ? MessageResult::Yes : MessageResult::Ok;
  }
  void RemoveCloseFromSystemMenu() override { inner_.RemoveCloseFromSystemMenu(); }
  void SetUpdateRunning(bool running) override { inner_.SetUpdateRunning(running); }
  void Terminate() override { inner_.Terminate(); }
  void ProcessMessages() override { inner_.ProcessMessages(); }

 private:
  MainView& inner_;
};

}  // namespace quorel
