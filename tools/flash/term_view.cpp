#include "term_view.h"

#include <unistd.h>

#include <algorithm>

#include "app/texts.h"

namespace quorel::flash_tool {

namespace {

constexpr int kBarWidth = 40;

const char* CaptionOf(MessageKind kind) {
  switch (kind) {
    case MessageKind::Warning:
      return text::kCaptionWarning;
    case MessageKind::Error:
      return text::kCaptionError;
    case MessageKind::Information:
      break;
  }
  return text::kCaptionInformation;
}

bool StartsWith(const std::string& text, const char* prefix) {
  return text.rfind(prefix, 0) == 0;
}

}  // namespace

TermView::TermView(std::FILE* out, std::FILE* in, bool assumeYes)
    : out_(out), in_(in), assumeYes_(assumeYes), tty_(isatty(fileno(out)) != 0) {}

void TermView::SetText(Control control, const std::string& text) {
  texts_[control] = text;
  // The status line: each new step once; the animated "Programming ..." once, then the bar.
  if (control != Control::lblMsg || text.empty()) return;
  if (StartsWith(text, text::kProgramming)) {
    if (lastShownPercent_ < 0) Say(text::kProgrammingFull);
    lastShownPercent_ = std::max(lastShownPercent_, 0);
    return;
  }
  Say(text);
}

void TermView::ClearDrives() {
  drives_.clear();
  selected_ = -1;
}

bool TermView::Enabled(Control control) const {
  auto it = enabled_.find(control);
  return it == enabled_.end() || it->second;
}

const std::string& TermView::Text(Control control) const {
  static const std::string empty;
  auto it = texts_.find(control);
  return it == texts_.end() ? empty : it->second;
}

void TermView::SetProgressRange(int, int maximum) {
  progressMax_ = maximum > 0 ? maximum : 1;
}

void TermView::SetProgressPosition(int position) {
  if (lastShownPercent_ < 0) return;  // no update shown yet
  const int percent = std::clamp(position * 100 / progressMax_, 0, 100);
  if (percent == lastShownPercent_) return;
  // Without a terminal, a line every ten percent.
  if (!tty_ && percent / 10 == lastShownPercent_ / 10 && percent != 100) return;
  lastShownPercent_ = percent;
  const int filled = percent * kBarWidth / 100;
  std::string bar(static_cast<size_t>(filled), '#');
  bar.append(static_cast<size_t>(kBarWidth - filled), '.');
  if (tty_) {
    std::fprintf(out_, "\r[%s] %3d %%", bar.c_str(), percent);
    progressLineOpen_ = true;
  } else {
    std::fprintf(out_, "[%s] %3d %%\n", bar.c_str(), percent);
  }
  std::fflush(out_);
}

void TermView::EndProgressLine() {
  if (!progressLineOpen_) return;
  std::fputc('\n', out_);
  progressLineOpen_ = false;
}

void TermView::Say(const std::string& line) {
  EndProgressLine();
  // The window's caption heads the output, as it heads the window.
  if (!captionShown_ && !caption_.empty()) {
    std::fprintf(out_, "%s\n\n", caption_.c_str());
    captionShown_ = true;
  }
  std::fprintf(out_, "%s\n", line.c_str());
  std::fflush(out_);
}

bool TermView::Ask(const std::string& prompt, std::string& answer) {
  EndProgressLine();
  std::fprintf(out_, "%s", prompt.c_str());
  std::fflush(out_);
  answer.clear();
  for (int c = std::fgetc(in_); c != '\n'; c = std::fgetc(in_)) {
    if (c == EOF) {
      std::fputc('\n', out_);
      return false;
    }
    answer += static_cast<char>(c);
  }
  return true;
}

MessageResult TermView::ShowMessage(const std::string& message, MessageKind kind,
                                    MessageButtons buttons) {
  // The window's access-denied line names an administrator and Wine; here it is root.
  std::string text = message;
  const size_t denied = text.find(text::kAccessDenied);
  if (denied != std::string::npos) {
    text.replace(denied, sizeof text::kAccessDenied - 1, text::kAccessDeniedAsRoot);
  }
  Say(std::string(CaptionOf(kind)) + ": " + text);
  if (buttons == MessageButtons::Ok) {
    messages_.push_back({text, kind, false});
    return MessageResult::Ok;
  }
  // As in the window, only an explicit yes is yes.
  bool yes = assumeYes_;
  if (yes) {
    Say("(yes: --yes)");
  } else {
    std::string answer;
    yes = Ask("[y/N] ", answer) && (answer == "y" || answer == "Y" || answer == "yes");
  }
  messages_.push_back({text, kind, !yes});
  return yes ? MessageResult::Yes : MessageResult::No;
}

void TermView::SetUpdateRunning(bool running) {
  if (!running) lastShownPercent_ = -1;
  if (onUpdateRunning) onUpdateRunning(running);
}

}  // namespace quorel::flash_tool
