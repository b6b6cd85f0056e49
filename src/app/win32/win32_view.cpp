#include "app/win32/win32_view.h"

#include "app/texts.h"
#include "platform/win32/win32_platform.h"

namespace quorel {

MessageBoxStyle MessageBoxStyleFor(MessageKind kind, MessageButtons buttons) {
  MessageBoxStyle style{text::kCaptionInformation, MB_ICONINFORMATION};
  switch (kind) {
    case MessageKind::Warning:
      style = {text::kCaptionWarning, MB_ICONWARNING};
      break;
    case MessageKind::Error:
      style = {text::kCaptionError, MB_ICONERROR};
      break;
    case MessageKind::Information:
      break;
  }
  style.flags |= buttons == MessageButtons::YesNo ? (MB_YESNO | MB_DEFBUTTON1) : MB_OK;
  return style;
}

MessageResult MessageResultFor(int boxResult, MessageButtons buttons) {
  if (buttons == MessageButtons::Ok) return MessageResult::Ok;
  return boxResult == IDYES ? MessageResult::Yes : MessageResult::No;
}

void Win32View::SetCaption(const std::string& caption) {
  window_.SetText(caption);
}

std::string Win32View::Caption() const {
  return window_.Text();
}

ui::Window& Win32View::WindowOf(Control control) const {
  switch (control) {
    case Control::Label1:
      return window_.label1;
    case Control::cboDrives:
      return window_.cboDrives;
    case Control::cmdUpdate:
      return window_.cmdUpdate;
    case Control::cmdClose:
      return window_.cmdClose;
    case Control::lblUpdateMsg:
      return window_.lblUpdateMsg;
    case Control::lblOldFW:
      return window_.lblOldFW;
    case Control::lblNewFW:
      return window_.lblNewFW;
    case Control::lblMsg:
      return window_.lblMsg;
    case Control::pbar:
      return window_.pbar;
    case Control::lblPercent:
      return window_.lblPercent;
  }
  return window_.lblMsg;
}

ui::Label* Win32View::LabelOf(Control control) const {
  switch (control) {
    case Control::Label1:
      return &window_.label1;
    case Control::lblUpdateMsg:
      return &window_.lblUpdateMsg;
    case Control::lblOldFW:
      return &window_.lblOldFW;
    case Control::lblNewFW:
      return &window_.lblNewFW;
    case Control::lblMsg:
      return &window_.lblMsg;
    case Control::lblPercent:
      return &window_.lblPercent;
    default:
      return nullptr;
  }
}

void Win32View::SetText(Control control, const std::string& text) {
  // The list and the bar show no text of their own.
  if (control == Control::cboDrives || control == Control::pbar) return;
  WindowOf(control).SetText(text);
}

void Win32View::SetColor(Control control, uint32_t color) {
  // Only the labels draw text in a colour of their own.
  if (ui::Label* label = LabelOf(control)) label->SetColor(color);
}

void Win32View::SetVisible(Control control, bool visible) {
  WindowOf(control).SetVisible(visible);
}

void Win32View::SetEnabled(Control control, bool enabled) {
  WindowOf(control).SetEnabled(enabled);
}

void Win32View::ClearDrives() {
  window_.cboDrives.Clear();
}

void Win32View::AddDrive(const std::string& line) {
  window_.cboDrives.Add(line);
}

void Win32View::SelectDrive(int index) {
  window_.cboDrives.Select(index);
}

int Win32View::SelectedDrive() const {
  return window_.cboDrives.Selected();
}

void Win32View::SetProgressRange(int minimum, int maximum) {
  window_.pbar.SetRange(minimum, maximum);
}

void Win32View::SetProgressPosition(int position) {
  window_.pbar.SetPosition(position);
}

void Win32View::SetTimerEnabled(bool enabled) {
  window_.SetTimerEnabled(enabled);
}

MessageResult Win32View::ShowMessage(const std::string& text, MessageKind kind,
                                     MessageButtons buttons) {
  const MessageBoxStyle style = MessageBoxStyleFor(kind, buttons);
  // Before the window is shown (start-up, automatic mode) the box stands on its own, with its
  // own taskbar button, and still blocks the window.
  const bool shown = IsWindowVisible(window_.hwnd()) != FALSE;
  const int result = ui::ShowMessageBox(shown ? window_.hwnd() : nullptr, text.c_str(),
                                        style.caption, style.flags | (shown ? 0 : MB_TASKMODAL));
  return MessageResultFor(result, buttons);
}

void Win32View::RemoveCloseFromSystemMenu() {
  window_.RemoveCloseFromSystemMenu();
}

void Win32View::SetUpdateRunning(bool running) {
  window_.SetUpdateRunning(running);
}

void Win32View::Terminate() {
  terminateRequested_ = true;
  PostQuitMessage(0);
}

void Win32View::ProcessMessages() {
  ProcessPendingMessages();
}

}  // namespace quorel
