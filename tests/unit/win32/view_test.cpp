#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <string>

#include "app/texts.h"
#include "app/win32/win32_view.h"
#include "platform/threads.h"
#include "window_fixture.h"

namespace quorel::testing {
namespace {

TEST(MessageBoxStyle, KindGivesCaptionAndIconButtonsGiveTheSet) {
  struct Case {
    MessageKind kind;
    MessageButtons buttons;
    const char* caption;
    UINT flags;
  };
  const Case cases[] = {
      {MessageKind::Warning, MessageButtons::Ok, "Warning", MB_ICONWARNING | MB_OK},
      {MessageKind::Warning, MessageButtons::YesNo, "Warning",
       MB_ICONWARNING | MB_YESNO | MB_DEFBUTTON1},
      {MessageKind::Error, MessageButtons::Ok, "Error", MB_ICONERROR | MB_OK},
      {MessageKind::Information, MessageButtons::Ok, "Information", MB_ICONINFORMATION | MB_OK},
  };
  for (const Case& c : cases) {
    const MessageBoxStyle style = MessageBoxStyleFor(c.kind, c.buttons);
    EXPECT_STREQ(style.caption, c.caption);
    EXPECT_EQ(style.flags, c.flags) << c.caption;
  }
}

TEST(MessageBoxStyle, OnlyYesCountsAsYes) {
  struct Case {
    int boxResult;
    MessageButtons buttons;
    MessageResult expected;
  };
  const Case cases[] = {
      {IDYES, MessageButtons::YesNo, MessageResult::Yes},
      {IDNO, MessageButtons::YesNo, MessageResult::No},
      {IDCANCEL, MessageButtons::YesNo, MessageResult::No},
      {0, MessageButtons::YesNo, MessageResult::No},  // the box could not be shown
      {IDOK, MessageButtons::Ok, MessageResult::Ok},
      {0, MessageButtons::Ok, MessageResult::Ok},
  };
  for (const Case& c : cases) EXPECT_EQ(MessageResultFor(c.boxResult, c.buttons), c.expected);
}

class Win32ViewTest : public WindowTest {
 protected:
  Win32View view{window};
};

TEST_F(Win32ViewTest, ControlsFollowTheView) {
  view.SetCaption("Quorel v2.0.0");
  EXPECT_EQ(view.Caption(), "Quorel v2.0.0");

  view.SetText(Control::lblOldFW, "KM01");
  EXPECT_EQ(window.lblOldFW.Text(), "KM01");
  view.SetText(Control::cboDrives, "ignored");
  EXPECT_EQ(window.cboDrives.Text(), "");
  view.SetColor(Control::lblUpdateMsg, kColorMaroon);
  EXPECT_EQ(window.lblUpdateMsg.color(), kColorMaroon);

  view.SetVisible(Control::lblNewFW, false);
  EXPECT_EQ(GetWindowLongA(window.lblNewFW.hwnd(), GWL_STYLE) & WS_VISIBLE, 0);
  view.SetVisible(Control::lblNewFW, true);
  EXPECT_NE(GetWindowLongA(window.lblNewFW.hwnd(), GWL_STYLE) & WS_VISIBLE, 0);
  view.SetEnabled(Control::cmdUpdate, false);
  EXPECT_FALSE(window.cmdUpdate.Enabled());

  view.SetProgressRange(0, 330);
  view.SetProgressPosition(4);
  EXPECT_EQ(window.pbar.Maximum(), 330);
  EXPECT_EQ(window.pbar.Position(), 4);

  view.SetTimerEnabled(true);
  EXPECT_TRUE(window.TimerEnabled());
  view.SetTimerEnabled(false);
  EXPECT_FALSE(window.TimerEnabled());
}

TEST_F(Win32ViewTest, DriveListKeepsLinesInOrderAndSelects) {
  EXPECT_EQ(view.SelectedDrive(), -1);
  // Unsorted: item i is list entry i.
  for (const char* line : {" 1-0-1-0 F:ZZZ", " 1-0-0-0 E:AAA"}) view.AddDrive(line);
  EXPECT_EQ(window.cboDrives.Item(0), " 1-0-1-0 F:ZZZ");
  view.SelectDrive(1);
  EXPECT_EQ(view.SelectedDrive(), 1);
  view.SelectDrive(-1);
  EXPECT_EQ(view.SelectedDrive(), -1);
  view.SelectDrive(0);
  view.ClearDrives();
  EXPECT_EQ(window.cboDrives.Count(), 0);
  EXPECT_EQ(view.SelectedDrive(), -1);
}

TEST_F(Win32ViewTest, TerminatePostsQuitThatPendingMessagesKeep) {
  EXPECT_FALSE(view.TerminateRequested());
  view.Terminate();
  EXPECT_TRUE(view.TerminateRequested());
  PostMessageA(window.hwnd(), WM_NULL, 0, 0);
  view.ProcessMessages();
  EXPECT_TRUE(TakeQuit());
}

// Answers the next message box of the given caption by posting a key to its focused button.
Thread AnswerBox(const char* caption, WPARAM key, std::atomic<bool>& found) {
  return Thread([caption, key, &found] {
    for (int i = 0; i < 400; ++i) {
      const HWND box = FindWindowA("#32770", caption);
      if (box != nullptr && IsWindowVisible(box)) {
        found = true;
        HWND button = GetDlgItem(box, IDYES);
        if (button == nullptr) button = GetDlgItem(box, IDOK);
        PostMessageA(button, WM_KEYDOWN, key, 0);
        PostMessageA(button, WM_KEYUP, key, 0);
        return;
      }
      Sleep(10);
    }
  });
}

// While a message is shown the window behind it takes no clicks, whether it is shown already or
// still hidden (start-up): a box left open must not let Update or Close be pressed.
TEST_F(Win32ViewTest, MessageBoxBlocksTheWindow) {
  for (const bool shown : {false, true}) {
    if (shown) window.ShowCentred();
    std::atomic<bool> found{false};
    std::atomic<bool> windowEnabled{true};
    std::atomic<HWND> owner{nullptr};
    Thread answer([&] {
      for (int i = 0; i < 400 && !found; ++i) {
        const HWND box = FindWindowA("#32770", text::kCaptionInformation);
        if (box != nullptr && IsWindowVisible(box)) {
          found = true;
          owner = GetWindow(box, GW_OWNER);
          windowEnabled = IsWindowEnabled(window.hwnd()) != FALSE;
          PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        }
        Sleep(10);
      }
    });
    view.ShowMessage("Firmware has been updated successfully !", MessageKind::Information,
                     MessageButtons::Ok);
    answer.Join();
    ASSERT_TRUE(found) << "shown " << shown;
    EXPECT_FALSE(windowEnabled) << "shown " << shown;
    EXPECT_EQ(owner.load(), shown ? window.hwnd() : nullptr);
    EXPECT_TRUE(IsWindowEnabled(window.hwnd())) << "still disabled after the box, shown " << shown;
  }
}

TEST_F(Win32ViewTest, MessageBoxesAnswerByKey) {
  struct Case {
    MessageKind kind;
    MessageButtons buttons;
    WPARAM key;
    MessageResult expected;
  };
  const Case cases[] = {
      {MessageKind::Warning, MessageButtons::YesNo, VK_RETURN, MessageResult::Yes},
      {MessageKind::Warning, MessageButtons::YesNo, VK_ESCAPE, MessageResult::No},
      {MessageKind::Error, MessageButtons::Ok, VK_RETURN, MessageResult::Ok},
      {MessageKind::Information, MessageButtons::Ok, VK_ESCAPE, MessageResult::Ok},
  };
  for (const Case& c : cases) {
    std::atomic<bool> found{false};
    Thread answer = AnswerBox(MessageBoxStyleFor(c.kind, c.buttons).caption, c.key, found);
    const MessageResult result = view.ShowMessage("Do you wish to continue ?", c.kind, c.buttons);
    answer.Join();
    EXPECT_TRUE(found) << "no box with the kind's caption";
    EXPECT_EQ(result, c.expected) << "key " << c.key;
  }
}

}  // namespace
}  // namespace quorel::testing
