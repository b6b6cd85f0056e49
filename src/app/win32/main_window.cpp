#include "app/win32/main_window.h"

#include <utility>

#include "app/main_view.h"
#include "app/texts.h"

namespace quorel::ui {

namespace {

constexpr UINT_PTR kTimerId = 1;
constexpr UINT kTimerIntervalMs = 100;

constexpr wchar_t kShutdownBlockReason[] =
    L"A drive's firmware is being updated. Turning the computer off now would leave the drive "
    L"unusable.";

// Functions that older systems lack are looked up at run time.
template <typename Function>
Function SystemFunction(const char* module, const char* name) {
  const HMODULE handle = GetModuleHandleA(module);
  if (handle == nullptr) return nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(handle, name)));
}

using SetThreadExecutionStateFn = EXECUTION_STATE(WINAPI*)(EXECUTION_STATE);
using ShutdownBlockReasonCreateFn = BOOL(WINAPI*)(HWND, LPCWSTR);
using ShutdownBlockReasonDestroyFn = BOOL(WINAPI*)(HWND);

}  // namespace

MainWindow::~MainWindow() {
  events_ = {};
  Destroy();
}

void MainWindow::Create(HINSTANCE instance) {
  CreateFrame(instance, kMainWindowClass, text::kDesignCaption,
              WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_CLIPCHILDREN, 295, 265,
              460, 167);
  const HWND self = hwnd_;
  font_ = formFont.handle();

  // Creation order is the tab order: cboDrives, pbar, cmdUpdate, cmdClose.
  cboDrives.Create(self, kIdDrives, 8, 24, 353, 24, 16, 8, listFont);
  pbar.Create(self, kIdProgress, 16, 112, 373, 13);
  cmdUpdate.Create(self, kIdUpdate, 368, 24, 77, 25, tahomaBoldFont, CheckGlyph(),
                   text::kUpdateButton);
  cmdClose.Create(self, kIdClose, 368, 52, 77, 25, tahomaBoldFont, CloseGlyph(),
                  text::kCloseButton);
  label1.Create(self, kIdLabel1, 12, 4, arialFont, kColorBlack, text::kSelectDriveLabel);
  lblOldFW.Create(self, kIdOldFW, 124, 56, tahomaBoldFont, kColorNavy, text::kRevisionPlaceholder);
  lblNewFW.Create(self, kIdNewFW, 172, 56, tahomaBoldFont, kColorNavy, text::kRevisionPlaceholder);
  lblUpdateMsg.Create(self, kIdUpdateMsg, 12, 56, arialFont, kColorBlack, text::kWillBeUpdated);
  lblMsg.Create(self, kIdMsg, 16, 92, verdanaBoldFont, kColorNavy, text::kMessagePlaceholder);
  lblPercent.Create(self, kIdPercent, 400, 112, tahomaBoldFont, kColorNavy,
                    text::kPercentPlaceholder);
  // The revision labels sit in the blanks of lblUpdateMsg, so that one goes beneath them.
  SetWindowPos(lblUpdateMsg.hwnd(), HWND_BOTTOM, 0, 0, 0, 0,
               SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  // Last, so that it lies beneath everything.
  bevel1.Create(self, kIdBevel, 8, 84, 437, 49);
}

void MainWindow::ShowCentred() {
  RECT rect{};
  GetWindowRect(hwnd_, &rect);
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  SetWindowPos(hwnd_, nullptr, (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
               (GetSystemMetrics(SM_CYSCREEN) - height) / 2, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  ShowWindow(hwnd_, SW_SHOWNORMAL);
  UpdateWindow(hwnd_);
  if (savedFocus_ == nullptr) SetFocus(cboDrives.hwnd());
}

void MainWindow::SetTimerEnabled(bool enabled) {
  if (enabled == timerEnabled_) return;
  timerEnabled_ = enabled;
  if (enabled) {
    SetTimer(hwnd_, kTimerId, kTimerIntervalMs, nullptr);
  } else {
    KillTimer(hwnd_, kTimerId);
  }
}

void MainWindow::SetUpdateRunning(bool running) {
  if (running == updateRunning_) return;
  updateRunning_ = running;
  if (const auto setState =
          SystemFunction<SetThreadExecutionStateFn>("kernel32.dll", "SetThreadExecutionState")) {
    setState(running ? (ES_CONTINUOUS | ES_SYSTEM_REQUIRED) : ES_CONTINUOUS);
  }
  if (running) {
    if (const auto create = SystemFunction<ShutdownBlockReasonCreateFn>(
            "user32.dll", "ShutdownBlockReasonCreate")) {
      create(hwnd_, kShutdownBlockReason);
    }
  } else if (const auto destroy = SystemFunction<ShutdownBlockReasonDestroyFn>(
                 "user32.dll", "ShutdownBlockReasonDestroy")) {
    destroy(hwnd_);
  }
}

void MainWindow::RemoveCloseFromSystemMenu() {
  const HMENU menu = GetSystemMenu(hwnd_, FALSE);
  if (menu == nullptr) return;
  // The menu of this window: Restore, Move, Size, Minimize, Maximize, separator, Close.
  const UINT fifth = GetMenuState(menu, 5, MF_BYPOSITION);
  if (fifth != static_cast<UINT>(-1) && (fifth & MF_SEPARATOR) != 0 &&
      GetMenuItemID(menu, 6) == SC_CLOSE) {
    RemoveMenu(menu, 5, MF_BYPOSITION);
    RemoveMenu(menu, 5, MF_BYPOSITION);
  } else {
    // Some other layout: take Close out wherever it is, and nothing else.
    RemoveMenu(menu, SC_CLOSE, MF_BYCOMMAND);
  }
}

std::exception_ptr MainWindow::TakeError() {
  return std::exchange(error_, nullptr);
}

void MainWindow::Fire(const std::function<void()>& handler) {
  if (!handler) return;
  // An exception must not unwind through the system's frames: keep it for the program entry
  // and end the message loop.
  try {
    handler();
  } catch (...) {
    if (!error_) error_ = std::current_exception();
    PostQuitMessage(0);
  }
}

Label* MainWindow::LabelFor(HWND control) {
  for (Label* label : {&label1, &lblUpdateMsg, &lblOldFW, &lblNewFW, &lblMsg, &lblPercent}) {
    if (label->hwnd() == control) return label;
  }
  return nullptr;
}

void MainWindow::ClickFocusedButton() {
  const HWND focus = GetFocus();
  if ((focus == cmdUpdate.hwnd() || focus == cmdClose.hwnd()) && IsWindowEnabled(focus)) {
    SendMessageA(focus, BM_CLICK, 0, 0);
  }
}

LRESULT MainWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      const int code = HIWORD(wParam);
      if (id == kIdDrives && code == CBN_SELCHANGE) {
        Fire(events_.driveChange);
      } else if (id == kIdUpdate && code == BN_CLICKED && cmdUpdate.Enabled()) {
        Fire(events_.updateClick);
      } else if (id == kIdClose && code == BN_CLICKED && cmdClose.Enabled()) {
        Fire(events_.closeClick);
      } else if (id == IDOK) {
        // Enter, from the dialog navigation: the focused button counts as the default one.
        ClickFocusedButton();
      }
      return 0;
    }
    case WM_MEASUREITEM: {
      auto* item = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
      if (item->CtlID != static_cast<UINT>(kIdDrives)) break;
      cboDrives.MeasureItem(*item);
      return TRUE;
    }
    case WM_DRAWITEM: {
      const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      if (item->CtlID == static_cast<UINT>(kIdDrives)) {
        cboDrives.Draw(*item);
      } else if (item->CtlID == static_cast<UINT>(kIdUpdate)) {
        cmdUpdate.Draw(*item);
      } else if (item->CtlID == static_cast<UINT>(kIdClose)) {
        cmdClose.Draw(*item);
      } else {
        break;
      }
      return TRUE;
    }
    case WM_CTLCOLORSTATIC:
      if (const Label* label = LabelFor(reinterpret_cast<HWND>(lParam))) {
        return reinterpret_cast<LRESULT>(label->PrepareColors(reinterpret_cast<HDC>(wParam)));
      }
      break;
    case WM_TIMER:
      if (wParam == kTimerId && timerEnabled_) Fire(events_.timer);
      return 0;
    case kRunWorkMessage:
      Fire(*reinterpret_cast<const std::function<void()>*>(lParam));
      return kRunWorkDone;
    case WM_CLOSE:
      // Only the Close button ends the program, and it does so without closing the window.
      return 0;
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == SC_CLOSE) return 0;
      break;
    case WM_QUERYENDSESSION:
      return updateRunning_ ? FALSE : TRUE;
    case WM_POWERBROADCAST:
      if (wParam == PBT_APMQUERYSUSPEND && updateRunning_) return BROADCAST_QUERY_DENY;
      break;
    case WM_ACTIVATE:
      // A plain window does not keep its focused control across deactivation by itself.
      if (LOWORD(wParam) == WA_INACTIVE) {
        savedFocus_ = GetFocus();
        if (savedFocus_ != nullptr && !IsChild(hwnd_, savedFocus_)) savedFocus_ = nullptr;
      } else if (savedFocus_ != nullptr && IsWindow(savedFocus_)) {
        SetFocus(savedFocus_);
        return 0;
      }
      break;
    case WM_DESTROY:
      SetTimerEnabled(false);
      SetUpdateRunning(false);
      Fire(events_.destroy);
      return 0;
    default:
      break;
  }
  return DefWindowProcA(hwnd_, message, wParam, lParam);
}

}  // namespace quorel::ui
