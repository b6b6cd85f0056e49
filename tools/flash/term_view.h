// The terminal view of the window's logic: the same texts and questions as the window, on a
// terminal. Questions are asked on `in` (or answered yes with assumeYes); what the window would
// show goes to `out`.
#pragma once

#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/main_view.h"

namespace quorel::flash_tool {

class TermView : public MainView {
 public:
  TermView(std::FILE* out, std::FILE* in, bool assumeYes);

  void SetCaption(const std::string& caption) override { caption_ = caption; }
  std::string Caption() const override { return caption_; }
  void SetText(Control control, const std::string& text) override;
  void SetColor(Control, uint32_t) override {}
  void SetVisible(Control control, bool visible) override { visible_[control] = visible; }
  void SetEnabled(Control control, bool enabled) override { enabled_[control] = enabled; }
  void ClearDrives() override;
  void AddDrive(const std::string& line) override { drives_.push_back(line); }
  void SelectDrive(int index) override { selected_ = index; }
  int SelectedDrive() const override { return selected_; }
  void SetProgressRange(int minimum, int maximum) override;
  void SetProgressPosition(int position) override;
  void SetTimerEnabled(bool enabled) override { timerEnabled_ = enabled; }
  MessageResult ShowMessage(const std::string& text, MessageKind kind,
                            MessageButtons buttons) override;
  void RemoveCloseFromSystemMenu() override {}
  void SetUpdateRunning(bool running) override;
  void Terminate() override { terminateRequested_ = true; }
  void ProcessMessages() override { std::fflush(out_); }

  // For the front end.
  bool TerminateRequested() const { return terminateRequested_; }
  bool TimerEnabled() const { return timerEnabled_; }
  bool Enabled(Control control) const;
  const std::vector<std::string>& Drives() const { return drives_; }
  const std::string& Text(Control control) const;
  // Every message shown, in order, with whether a question was answered no.
  struct Shown {
    std::string text;
    MessageKind kind;
    bool answeredNo;
  };
  const std::vector<Shown>& Messages() const { return messages_; }
  // Prints a line of the front end's own, after the progress line if one is shown.
  void Say(const std::string& line);
  // Asks for a line of input after prompt; false at the end of input.
  bool Ask(const std::string& prompt, std::string& answer);
  // Called with true when an update starts, false when it has ended.
  std::function<void(bool running)> onUpdateRunning;

 private:
  void EndProgressLine();

  std::FILE* out_;
  std::FILE* in_;
  bool assumeYes_;
  bool tty_;
  std::string caption_;
  std::map<Control, std::string> texts_;
  std::map<Control, bool> visible_;
  std::map<Control, bool> enabled_;
  std::vector<std::string> drives_;
  int selected_ = -1;
  int progressMax_ = 100;
  int lastShownPercent_ = -1;
  bool progressLineOpen_ = false;
  bool timerEnabled_ = false;
  bool terminateRequested_ = false;
  bool captionShown_ = false;
  std::vector<Shown> messages_;
};

}  // namespace quorel::flash_tool
