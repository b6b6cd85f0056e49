// A MainView that records what the window's logic does to it and answers message dialogs from
// a scripted queue.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/main_view.h"

namespace quorel::test {

struct ShownDialog {
  std::string text;
  MessageKind kind;
  MessageButtons buttons;
  std::string statusText;  // lblMsg while the dialog was open
  uint32_t statusColor;
};

class FakeView : public MainView {
 public:
  // ---- Script ----
  // Answers in order; when none is left, OK dialogs answer Ok and Yes/No dialogs answer No.
  std::deque<MessageResult> answers;
  // Runs while a dialog is open (the user acting, or the window thread pumping completions).
  std::function<void(const ShownDialog&)> onDialog;
  std::function<void()> onProcessMessages;

  // ---- Record ----
  std::string caption;
  std::map<Control, std::string> texts;
  std::map<Control, uint32_t> colors;
  std::map<Control, bool> visible;
  std::map<Control, bool> enabled;
  std::vector<std::string> statusHistory;  // every text set on lblMsg, in order
  std::vector<std::string> drives;
  int selected = -1;
  int progressMin = 0, progressMax = 100, progressPosition = 0;
  bool timerEnabled = false;
  std::vector<bool> updateRunningCalls;
  std::vector<ShownDialog> dialogs;
  bool closeRemoved = false;
  int terminateCount = 0;
  int changes = 0;  // every call that alters the window

  std::string Text(Control c) const { return Find(texts, c, std::string()); }
  uint32_t Color(Control c) const { return Find(colors, c, 0xFFFFFFFFu); }
  bool Visible(Control c) const { return Find(visible, c, true); }
  bool Enabled(Control c) const { return Find(enabled, c, true); }
  std::vector<std::string> DialogTexts() const {
    std::vector<std::string> out;
    for (const ShownDialog& d : dialogs) out.push_back(d.text);
    return out;
  }

  // ---- MainView ----
  void SetCaption(const std::string& text) override {
    caption = text;
    ++changes;
  }
  std::string Caption() const override { return caption; }
  void SetText(Control c, const std::string& text) override {
    texts[c] = text;
    if (c == Control::lblMsg) statusHistory.push_back(text);
    ++changes;
  }
  void SetColor(Control c, uint32_t color) override {
    colors[c] = color;
    ++changes;
  }
  void SetVisible(Control c, bool on) override {
    visible[c] = on;
    ++changes;
  }
  void SetEnabled(Control c, bool on) override {
    enabled[c] = on;
    ++changes;
  }
  void ClearDrives() override {
    drives.clear();
    selected = -1;
    ++changes;
  }
  void AddDrive(const std::string& line) override {
    drives.push_back(line);
    ++changes;
  }
  void SelectDrive(int index) override {
    selected = index >= 0 && index < static_cast<int>(drives.size()) ? index : -1;
    ++changes;
  }
  int SelectedDrive() const override { return selected; }
  void SetProgressRange(int minimum, int maximum) override {
    progressMin = minimum;
    progressMax = maximum;
    ++changes;
  }
  void SetProgressPosition(int position) override {
    progressPosition = position;
    ++changes;
  }
  void SetTimerEnabled(bool on) override {
    timerEnabled = on;
    ++changes;
  }
  MessageResult ShowMessage(const std::string& text, MessageKind kind,
                            MessageButtons buttons) override {
    dialogs.push_back({text, kind, buttons, Text(Control::lblMsg), Color(Control::lblMsg)});
    if (onDialog) onDialog(dialogs.back());
    MessageResult answer = buttons == MessageButtons::Ok ? MessageResult::Ok : MessageResult::No;
    if (!answers.empty()) {
      answer = answers.front();
      answers.pop_front();
    }
    return answer;
  }
  void RemoveCloseFromSystemMenu() override {
    closeRemoved = true;
    ++changes;
  }
  void SetUpdateRunning(bool running) override {
    updateRunningCalls.push_back(running);
    ++changes;
  }
  void Terminate() override { ++terminateCount; }
  void ProcessMessages() override {
    if (onProcessMessages) onProcessMessages();
  }

 private:
  template <typename T>
  static T Find(const std::map<Control, T>& map, Control c, T fallback) {
    auto it = map.find(c);
    return it == map.end() ? fallback : it->second;
  }
};

}  // namespace quorel::test
