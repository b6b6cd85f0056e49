#include "app/win32/main_window.h"

#include <commctrl.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/main_view.h"
#include "window_fixture.h"

namespace quorel::testing {
namespace {

using ui::Box;

class MainWindowTest : public WindowTest {};

LONG StyleOf(HWND window) {
  return GetWindowLongA(window, GWL_STYLE);
}

TEST_F(MainWindowTest, FrameIsHiddenSizeableWithTheSystemMenuOnly) {
  EXPECT_FALSE(IsWindowVisible(window.hwnd()));
  const Box box = window.Bounds();
  EXPECT_EQ(box.width, 460);
  EXPECT_EQ(box.height, 167);
  const LONG style = StyleOf(window.hwnd());
  EXPECT_NE(style & WS_SYSMENU, 0);
  EXPECT_NE(style & WS_THICKFRAME, 0);
  EXPECT_EQ(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0);
}

TEST_F(MainWindowTest, ControlsSitWhereDesigned) {
  struct Case {
    const char* name;
    const ui::Window& control;
    Box box;
  };
  const Case fixed[] = {
      {"cboDrives", window.cboDrives, {8, 24, 353, 24}},
      {"cmdUpdate", window.cmdUpdate, {368, 24, 77, 25}},
      {"cmdClose", window.cmdClose, {368, 52, 77, 25}},
      {"pbar", window.pbar, {16, 112, 373, 13}},
      {"Bevel1", window.bevel1, {8, 84, 437, 49}},
  };
  for (const Case& c : fixed) EXPECT_EQ(c.control.Bounds(), c.box) << c.name;

  // Labels size themselves; their corner is fixed.
  struct Corner {
    const char* name;
    const ui::Window& control;
    int left, top;
  };
  const Corner labels[] = {
      {"Label1", window.label1, 12, 4},       {"lblUpdateMsg", window.lblUpdateMsg, 12, 56},
      {"lblOldFW", window.lblOldFW, 124, 56}, {"lblNewFW", window.lblNewFW, 172, 56},
      {"lblMsg", window.lblMsg, 16, 92},      {"lblPercent", window.lblPercent, 400, 112},
  };
  for (const Corner& c : labels) {
    const Box box = c.control.Bounds();
    EXPECT_EQ(box.left, c.left) << c.name;
    EXPECT_EQ(box.top, c.top) << c.name;
    EXPECT_GT(box.width, 0) << c.name;
  }
  EXPECT_EQ(GetWindow(window.bevel1.hwnd(), GW_HWNDNEXT), nullptr) << "Bevel1 not beneath all";
}

TEST_F(MainWindowTest, ControlsUseTheirDesignedFonts) {
  struct Case {
    const char* name;
    const ui::Window& control;
    const char* face;
    int height;
    bool bold;
  };
  const Case cases[] = {
      {"Label1", window.label1, "Arial", 11, false},
      {"cboDrives", window.cboDrives, "Courier New", 13, false},
      {"cmdUpdate", window.cmdUpdate, "Tahoma", 11, true},
      {"cmdClose", window.cmdClose, "Tahoma", 11, true},
      {"lblUpdateMsg", window.lblUpdateMsg, "Arial", 11, false},
      {"lblOldFW", window.lblOldFW, "Tahoma", 11, true},
      {"lblNewFW", window.lblNewFW, "Tahoma", 11, true},
      {"lblMsg", window.lblMsg, "Verdana", 11, true},
      {"lblPercent", window.lblPercent, "Tahoma", 11, true},
  };
  for (const Case& c : cases) {
    const auto font = reinterpret_cast<HFONT>(SendMessageA(c.control.hwnd(), WM_GETFONT, 0, 0));
    LOGFONTA logical{};
    ASSERT_NE(GetObjectA(font, sizeof(logical), &logical), 0) << c.name;
    EXPECT_STREQ(logical.lfFaceName, c.face) << c.name;
    EXPECT_EQ(logical.lfHeight, -c.height) << c.name;
    EXPECT_EQ(logical.lfWeight >= FW_BOLD, c.bold) << c.name;
  }
}

TEST_F(MainWindowTest, ListAndBarHaveTheirStylesAndTabOrder) {
  EXPECT_EQ(StyleOf(window.cboDrives.hwnd()) & 0x3, CBS_DROPDOWNLIST);
  EXPECT_EQ(SendMessageA(window.cboDrives.hwnd(), CB_GETITEMHEIGHT, 0, 0), 16);
  EXPECT_NE(StyleOf(window.pbar.hwnd()) & PBS_SMOOTH, 0);
  EXPECT_EQ(window.pbar.Minimum(), 0);
  EXPECT_EQ(window.pbar.Maximum(), 100);

  std::vector<HWND> order;
  for (HWND child = GetWindow(window.hwnd(), GW_CHILD); child != nullptr && order.size() < 4;
       child = GetWindow(child, GW_HWNDNEXT)) {
    order.push_back(child);
  }
  EXPECT_EQ(order, (std::vector<HWND>{window.cboDrives.hwnd(), window.pbar.hwnd(),
                                      window.cmdUpdate.hwnd(), window.cmdClose.hwnd()}));
  // The revision labels lie above the sentence whose blanks they fill.
  for (HWND child = GetWindow(window.hwnd(), GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    ASSERT_NE(child, window.lblUpdateMsg.hwnd()) << "lblUpdateMsg above the revision labels";
    if (child == window.lblOldFW.hwnd()) break;
  }
}

TEST_F(MainWindowTest, LabelsFitTheirTextAndKeepTheirColour) {
  ui::Label& label = window.lblMsg;
  label.SetText("Programming ");
  const Box shorter = label.Bounds();
  label.SetText("Programming ..........");
  const Box longer = label.Bounds();
  EXPECT_GT(longer.width, shorter.width);
  EXPECT_EQ(longer.height, shorter.height);
  label.SetText("");
  EXPECT_EQ(label.Bounds().height, shorter.height);
  EXPECT_LT(label.Bounds().width, shorter.width);
  EXPECT_EQ(label.Text(), "");

  // "&" is shown as it stands, not taken as an access key.
  label.SetText("Check Disc & Tray Status...");
  EXPECT_NE(StyleOf(label.hwnd()) & SS_NOPREFIX, 0);

  for (COLORREF colour : {kColorMaroon, kColorNavy, kColorBlack}) {
    label.SetColor(colour);
    const HDC dc = CreateCompatibleDC(nullptr);
    SendMessageA(window.hwnd(), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                 reinterpret_cast<LPARAM>(label.hwnd()));
    EXPECT_EQ(GetTextColor(dc), colour);
    DeleteDC(dc);
  }
}

TEST_F(MainWindowTest, OnlyTheCloseButtonEndsTheProgram) {
  int closes = 0;
  ui::MainWindowEvents events;
  events.closeClick = [&] { ++closes; };
  window.SetEvents(events);
  SendMessageA(window.hwnd(), WM_CLOSE, 0, 0);
  SendMessageA(window.hwnd(), WM_SYSCOMMAND, SC_CLOSE, 0);
  EXPECT_TRUE(IsWindow(window.hwnd()));
  EXPECT_EQ(closes, 0);

  SendMessageA(window.cmdClose.hwnd(), BM_CLICK, 0, 0);
  EXPECT_EQ(closes, 1);
  window.cmdClose.SetEnabled(false);
  SendMessageA(window.cmdClose.hwnd(), BM_CLICK, 0, 0);
  EXPECT_EQ(closes, 1);
}

TEST_F(MainWindowTest, SystemMenuLosesItsSeparatorAndClose) {
  const HMENU menu = GetSystemMenu(window.hwnd(), FALSE);
  ASSERT_NE(menu, nullptr);
  const int before = GetMenuItemCount(menu);
  window.RemoveCloseFromSystemMenu();
  EXPECT_EQ(GetMenuItemCount(menu), before - 2);
  EXPECT_EQ(GetMenuState(menu, SC_CLOSE, MF_BYCOMMAND), static_cast<UINT>(-1));
  EXPECT_NE(GetMenuState(menu, SC_MOVE, MF_BYCOMMAND), static_cast<UINT>(-1));
  // A second call finds no Close and removes nothing else.
  window.RemoveCloseFromSystemMenu();
  EXPECT_EQ(GetMenuItemCount(menu), before - 2);
}

TEST_F(MainWindowTest, SessionMayEndOnlyWhileNoUpdateRuns) {
  const auto query = [&] { return SendMessageA(window.hwnd(), WM_QUERYENDSESSION, 0, 0); };
  EXPECT_EQ(query(), TRUE);
  window.SetUpdateRunning(true);
  EXPECT_EQ(query(), FALSE);
  EXPECT_EQ(SendMessageA(window.hwnd(), WM_POWERBROADCAST, PBT_APMQUERYSUSPEND, 0),
            BROADCAST_QUERY_DENY);
  window.SetUpdateRunning(false);
  EXPECT_EQ(query(), TRUE);
}

TEST_F(MainWindowTest, TimerTicksOnlyWhileEnabled) {
  int ticks = 0;
  ui::MainWindowEvents events;
  events.timer = [&] { ++ticks; };
  window.SetEvents(events);
  const DWORD start = GetTickCount();
  window.SetTimerEnabled(true);
  ASSERT_TRUE(PumpUntil([&] { return ticks >= 3; }));
  EXPECT_GE(GetTickCount() - start, 200u);  // 100 ms apart
  window.SetTimerEnabled(false);
  const int stopped = ticks;
  PumpUntil([] { return false; }, 300);
  EXPECT_EQ(ticks, stopped);
}

TEST_F(MainWindowTest, ControlNotificationsReachTheirHandlers) {
  std::string fired;
  ui::MainWindowEvents events;
  events.driveChange = [&] { fired += "change "; };
  events.updateClick = [&] { fired += "update "; };
  events.closeClick = [&] { fired += "close "; };
  window.SetEvents(events);
  const auto command = [&](int id, int code) {
    SendMessageA(window.hwnd(), WM_COMMAND, MAKEWPARAM(id, code), 0);
  };
  command(ui::kIdDrives, CBN_SELCHANGE);
  command(ui::kIdDrives, CBN_DROPDOWN);
  command(ui::kIdUpdate, BN_CLICKED);
  command(ui::kIdClose, BN_CLICKED);
  command(IDCANCEL, BN_CLICKED);  // Escape: nothing
  EXPECT_EQ(fired, "change update close ");

  // Enter presses the focused button.
  window.ShowCentred();
  SetFocus(window.cmdUpdate.hwnd());
  fired.clear();
  command(IDOK, BN_CLICKED);
  EXPECT_EQ(fired, "update ");
}

TEST_F(MainWindowTest, AccessKeysPressTheirButtons) {
  std::string fired;
  ui::MainWindowEvents events;
  events.updateClick = [&] { fired += "update "; };
  events.closeClick = [&] { fired += "close "; };
  window.SetEvents(events);
  window.ShowCentred();
  for (WPARAM key : {'u', 'c'}) {
    PostMessageA(window.cboDrives.hwnd(), WM_SYSCHAR, key, 0x20000000);  // with Alt
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE) != FALSE) {
      if (IsDialogMessageA(window.hwnd(), &message) == FALSE) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
      }
    }
  }
  EXPECT_EQ(fired, "update close ");
}

TEST_F(MainWindowTest, ShownCentredOnTheScreen) {
  window.ShowCentred();
  EXPECT_TRUE(IsWindowVisible(window.hwnd()));
  const Box box = window.Bounds();
  EXPECT_NEAR(box.left, (GetSystemMetrics(SM_CXSCREEN) - 460) / 2, 1);
  EXPECT_NEAR(box.top, (GetSystemMetrics(SM_CYSCREEN) - 167) / 2, 1);
}

TEST_F(MainWindowTest, AnEscapedExceptionIsKeptAndEndsTheLoop) {
  ui::MainWindowEvents events;
  events.updateClick = [] { throw std::runtime_error("boom"); };
  window.SetEvents(events);
  SendMessageA(window.hwnd(), WM_COMMAND, MAKEWPARAM(ui::kIdUpdate, BN_CLICKED), 0);
  EXPECT_TRUE(TakeQuit());
  ASSERT_TRUE(window.Failed());
  try {
    std::rethrow_exception(window.TakeError());
    FAIL();
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "boom");
  }
  EXPECT_FALSE(window.Failed());
}

TEST_F(MainWindowTest, DisabledButtonShowsItsGreyedGlyph) {
  constexpr COLORREF kLime = RGB(0, 255, 0);
  constexpr COLORREF kOlive = RGB(128, 128, 0);
  struct Case {
    bool disabled;
    bool expectLime;
  };
  for (const Case c : {Case{false, true}, Case{true, false}}) {
    const HDC screen = GetDC(nullptr);
    const HDC dc = CreateCompatibleDC(screen);
    const HBITMAP bitmap = CreateCompatibleBitmap(screen, 77, 25);
    ReleaseDC(nullptr, screen);
    const HGDIOBJ old = SelectObject(dc, bitmap);
    const RECT bounds{0, 0, 77, 25};
    window.cmdUpdate.Paint(dc, bounds, false, false, c.disabled, false);
    bool lime = false;
    bool olive = false;
    for (int y = 0; y < 25; ++y) {
      for (int x = 0; x < 77; ++x) {
        const COLORREF pixel = GetPixel(dc, x, y);
        lime |= pixel == kLime;
        olive |= pixel == kOlive;
      }
    }
    EXPECT_EQ(lime, c.expectLime) << "disabled " << c.disabled;
    EXPECT_FALSE(olive) << "the transparent colour was drawn";
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
  }
}

}  // namespace
}  // namespace quorel::testing
