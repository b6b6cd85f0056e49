#include "app/win32/ui.h"

#include <commctrl.h>

#include <vector>

namespace quorel::ui {

// ---- Font ----

Font::Font(const FontSpec& spec) {
  const DWORD pitch = spec.fixedPitch ? (FIXED_PITCH | FF_MODERN) : (DEFAULT_PITCH | FF_DONTCARE);
  font_ = CreateFontA(-spec.heightPixels, 0, 0, 0, spec.bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE,
                      FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                      DEFAULT_QUALITY, pitch, spec.face);
}

Font::~Font() {
  if (font_ != nullptr) DeleteObject(font_);
}

// ---- Window ----

void Window::SetText(const std::string& text) {
  SetWindowTextA(hwnd_, text.c_str());
}

std::string Window::Text() const {
  const int length = GetWindowTextLengthA(hwnd_);
  std::string text(static_cast<size_t>(length) + 1, '\0');
  const int copied = GetWindowTextA(hwnd_, text.data(), length + 1);
  text.resize(static_cast<size_t>(copied > 0 ? copied : 0));
  return text;
}

void Window::SetFont(const Font& font) {
  font_ = font.handle();
  SendMessageA(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), TRUE);
}

Box Window::Bounds() const {
  RECT rect{};
  GetWindowRect(hwnd_, &rect);
  const HWND parent = GetParent(hwnd_);
  if (parent != nullptr && (GetWindowLongA(hwnd_, GWL_STYLE) & WS_CHILD) != 0) {
    MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&rect), 2);
  }
  return Box{rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top};
}

void Window::CreateChild(HWND parent, const char* className, const char* text, DWORD style, int id,
                         int left, int top, int width, int height) {
  hwnd_ = CreateWindowExA(0, className, text, WS_CHILD | WS_CLIPSIBLINGS | style, left, top, width,
                          height, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                          reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(parent, GWLP_HINSTANCE)),
                          nullptr);
}

// ---- FrameWindow ----

FrameWindow::~FrameWindow() {
  Destroy();
}

void FrameWindow::Destroy() {
  if (hwnd_ != nullptr && IsWindow(hwnd_)) DestroyWindow(hwnd_);
  hwnd_ = nullptr;
}

void FrameWindow::CreateFrame(HINSTANCE instance, const char* className, const char* caption,
                              DWORD style, int left, int top, int width, int height) {
  WNDCLASSEXA windowClass{};
  if (GetClassInfoExA(instance, className, &windowClass) == FALSE) {
    windowClass = WNDCLASSEXA{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = &FrameWindow::Procedure;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(1));
    windowClass.hIconSm = static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(1), IMAGE_ICON,
                                                        GetSystemMetrics(SM_CXSMICON),
                                                        GetSystemMetrics(SM_CYSMICON), 0));
    windowClass.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = className;
    RegisterClassExA(&windowClass);
  }
  CreateWindowExA(0, className, caption, style, left, top, width, height, nullptr, nullptr,
                  instance, this);
}

LRESULT CALLBACK FrameWindow::Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  FrameWindow* self;
  if (message == WM_NCCREATE) {
    self = static_cast<FrameWindow*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
    self->hwnd_ = hwnd;
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  } else {
    self = reinterpret_cast<FrameWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  }
  if (self == nullptr) return DefWindowProcA(hwnd, message, wParam, lParam);
  const LRESULT result = self->HandleMessage(message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
    self->hwnd_ = nullptr;
  }
  return result;
}

// ---- Label ----

void Label::Create(HWND parent, int id, int left, int top, const Font& font, COLORREF color,
                   const std::string& text) {
  // No ampersand handling: texts such as "Disc & Tray" are shown as they stand.
  CreateChild(parent, "STATIC", "", WS_VISIBLE | SS_LEFTNOWORDWRAP | SS_NOPREFIX, id, left, top, 0,
              0);
  color_ = color;
  SetFont(font);
  SetText(text);
}

void Label::SetText(const std::string& text) {
  FitToText(text);
  Window::SetText(text);
}

void Label::FitToText(const std::string& text) {
  const HDC dc = GetDC(hwnd_);
  const HGDIOBJ old = SelectObject(dc, font_ != nullptr ? font_ : GetStockObject(DEFAULT_GUI_FONT));
  // An empty label keeps the height of a line, as if it held one blank.
  const std::string measured = text.empty() ? std::string(" ") : text;
  RECT rect{0, 0, 0, 0};
  DrawTextA(dc, measured.c_str(), static_cast<int>(measured.size()), &rect,
            DT_CALCRECT | DT_NOPREFIX | DT_EXPANDTABS);
  SelectObject(dc, old);
  ReleaseDC(hwnd_, dc);
  SetWindowPos(hwnd_, nullptr, 0, 0, rect.right - rect.left, rect.bottom - rect.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Label::SetColor(COLORREF color) {
  if (color == color_) return;
  color_ = color;
  InvalidateRect(hwnd_, nullptr, TRUE);
}

HBRUSH Label::PrepareColors(HDC dc) const {
  SetTextColor(dc, color_);
  SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
  return GetSysColorBrush(COLOR_BTNFACE);
}

// ---- ComboBox ----

void ComboBox::Create(HWND parent, int id, int left, int top, int width, int height, int itemHeight,
                      int dropDownCount, const Font& font) {
  itemHeight_ = itemHeight;
  CreateChild(
      parent, "COMBOBOX", "",
      WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST | CBS_OWNERDRAWFIXED | CBS_HASSTRINGS,
      id, left, top, width, height + dropDownCount * itemHeight + 2);
  SetFont(font);
  SendMessageA(hwnd_, CB_SETITEMHEIGHT, 0, itemHeight);
  // Size the selection field so that the closed box is `height` high. Some systems report the
  // field's height with an offset, so correct the requested value rather than the reported one.
  LRESULT field = SendMessageA(hwnd_, CB_GETITEMHEIGHT, static_cast<WPARAM>(-1), 0);
  for (int attempt = 0; attempt < 3 && field != CB_ERR; ++attempt) {
    RECT rect{};
    GetWindowRect(hwnd_, &rect);
    const int error = height - (rect.bottom - rect.top);
    if (error == 0 || field + error <= 0) break;
    field += error;
    SendMessageA(hwnd_, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), field);
  }
}

void ComboBox::MeasureItem(MEASUREITEMSTRUCT& item) const {
  item.itemHeight = static_cast<UINT>(itemHeight_);
}

void ComboBox::Draw(const DRAWITEMSTRUCT& item) const {
  const HDC dc = item.hDC;
  RECT rect = item.rcItem;
  const bool selected = (item.itemState & ODS_SELECTED) != 0;
  const bool disabled = (item.itemState & ODS_DISABLED) != 0;
  FillRect(dc, &rect, GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
  if (item.itemID != static_cast<UINT>(-1)) {
    const std::string text = Item(static_cast<int>(item.itemID));
    const HGDIOBJ old = SelectObject(dc, font_);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(disabled   ? COLOR_GRAYTEXT
                                 : selected ? COLOR_HIGHLIGHTTEXT
                                            : COLOR_WINDOWTEXT));
    RECT textRect = rect;
    textRect.left += 2;
    DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &textRect,
              DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
    SelectObject(dc, old);
  }
  if ((item.itemState & ODS_FOCUS) != 0) DrawFocusRect(dc, &rect);
}

void ComboBox::Clear() {
  SendMessageA(hwnd_, CB_RESETCONTENT, 0, 0);
}

void ComboBox::Add(const std::string& item) {
  SendMessageA(hwnd_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
}

int ComboBox::Count() const {
  return static_cast<int>(SendMessageA(hwnd_, CB_GETCOUNT, 0, 0));
}

std::string ComboBox::Item(int index) const {
  const LRESULT length = SendMessageA(hwnd_, CB_GETLBTEXTLEN, index, 0);
  if (length == CB_ERR) return {};
  std::vector<char> buffer(static_cast<size_t>(length) + 1, '\0');
  SendMessageA(hwnd_, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(buffer.data()));
  return std::string(buffer.data());
}

void ComboBox::Select(int index) {
  SendMessageA(hwnd_, CB_SETCURSEL, index, 0);
}

int ComboBox::Selected() const {
  const LRESULT index = SendMessageA(hwnd_, CB_GETCURSEL, 0, 0);
  return index == CB_ERR ? -1 : static_cast<int>(index);
}

// ---- ProgressBar ----

void ProgressBar::Create(HWND parent, int id, int left, int top, int width, int height) {
  CreateChild(parent, PROGRESS_CLASSA, "", WS_VISIBLE | PBS_SMOOTH, id, left, top, width, height);
  SetRange(0, 100);
}

void ProgressBar::SetRange(int minimum, int maximum) {
  SendMessageA(hwnd_, PBM_SETRANGE32, minimum, maximum);
}

void ProgressBar::SetPosition(int position) {
  SendMessageA(hwnd_, PBM_SETPOS, position, 0);
}

int ProgressBar::Position() const {
  return static_cast<int>(SendMessageA(hwnd_, PBM_GETPOS, 0, 0));
}

int ProgressBar::Minimum() const {
  return static_cast<int>(SendMessageA(hwnd_, PBM_GETRANGE, TRUE, 0));
}

int ProgressBar::Maximum() const {
  return static_cast<int>(SendMessageA(hwnd_, PBM_GETRANGE, FALSE, 0));
}

// ---- GlyphButton ----

void DrawGlyph(HDC dc, const Glyph& glyph, int left, int top) {
  for (int y = 0; y < kGlyphSize; ++y) {
    for (int x = 0; x < kGlyphSize; ++x) {
      if (!glyph.Opaque(x, y)) continue;
      const Rgb& c = kGlyphPalette[glyph.At(x, y)];
      SetPixelV(dc, left + x, top + y, RGB(c.red, c.green, c.blue));
    }
  }
}

void GlyphButton::Create(HWND parent, int id, int left, int top, int width, int height,
                         const Font& font, const Glyph& glyph, const std::string& caption) {
  glyph_ = &glyph;
  greyed_ = Greyed(glyph);
  CreateChild(parent, "BUTTON", caption.c_str(), WS_VISIBLE | WS_TABSTOP | BS_OWNERDRAW, id, left,
              top, width, height);
  SetFont(font);
}

void GlyphButton::Draw(const DRAWITEMSTRUCT& item) const {
  Paint(item.hDC, item.rcItem, (item.itemState & ODS_SELECTED) != 0,
        (item.itemState & ODS_FOCUS) != 0, (item.itemState & ODS_DISABLED) != 0,
        (item.itemState & ODS_NOACCEL) != 0);
}

void GlyphButton::Paint(HDC dc, const RECT& bounds, bool pushed, bool focused, bool disabled,
                        bool hideAccessKey) const {
  constexpr int kSpacing = 4;  // between glyph and caption
  RECT frame = bounds;
  FillRect(dc, &frame, GetSysColorBrush(COLOR_BTNFACE));
  if (focused) {
    // The focused button carries a dark outer frame, as the default button does.
    FrameRect(dc, &frame, GetSysColorBrush(COLOR_WINDOWFRAME));
    InflateRect(&frame, -1, -1);
  }
  DrawFrameControl(dc, &frame, DFC_BUTTON, DFCS_BUTTONPUSH | (pushed ? DFCS_PUSHED : 0));

  const std::string caption = Text();
  const HGDIOBJ oldFont =
      SelectObject(dc, font_ != nullptr ? font_ : GetStockObject(DEFAULT_GUI_FONT));
  RECT textSize{0, 0, 0, 0};
  DrawTextA(dc, caption.c_str(), static_cast<int>(caption.size()), &textSize,
            DT_CALCRECT | DT_SINGLELINE);
  const int textWidth = textSize.right - textSize.left;
  const int textHeight = textSize.bottom - textSize.top;
  const int shift = pushed ? 1 : 0;
  const int width = bounds.right - bounds.left;
  const int height = bounds.bottom - bounds.top;
  const int contentWidth = kGlyphSize + (caption.empty() ? 0 : kSpacing + textWidth);
  const int left = bounds.left + (width - contentWidth + 1) / 2 + shift;

  if (glyph_ != nullptr) {
    DrawGlyph(dc, disabled ? greyed_ : *glyph_, left,
              bounds.top + (height - kGlyphSize) / 2 + shift);
  }

  RECT textRect{left + kGlyphSize + kSpacing, bounds.top + (height - textHeight) / 2 + shift, 0, 0};
  textRect.right = textRect.left + textWidth;
  textRect.bottom = textRect.top + textHeight;
  const UINT format = DT_SINGLELINE | DT_NOCLIP | (hideAccessKey ? DT_HIDEPREFIX : 0);
  SetBkMode(dc, TRANSPARENT);
  if (disabled) {
    RECT embossed = textRect;
    OffsetRect(&embossed, 1, 1);
    SetTextColor(dc, GetSysColor(COLOR_BTNHIGHLIGHT));
    DrawTextA(dc, caption.c_str(), static_cast<int>(caption.size()), &embossed, format);
    SetTextColor(dc, GetSysColor(COLOR_BTNSHADOW));
  } else {
    SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
  }
  DrawTextA(dc, caption.c_str(), static_cast<int>(caption.size()), &textRect, format);
  SelectObject(dc, oldFont);

  if (focused) {
    RECT focus = bounds;
    InflateRect(&focus, -4, -4);
    DrawFocusRect(dc, &focus);
  }
}

// ---- Bevel ----

void Bevel::Create(HWND parent, int id, int left, int top, int width, int height) {
  CreateChild(parent, "STATIC", "", WS_VISIBLE | SS_SUNKEN, id, left, top, width, height);
  SetWindowPos(hwnd_, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

// ---- Messages ----

namespace {

HWND TopLevelOf(HWND window) {
  while (window != nullptr && (GetWindowLongA(window, GWL_STYLE) & WS_CHILD) != 0) {
    window = GetParent(window);
  }
  return window;
}

// Seen by the message box's own loop: Escape in a Yes/No box presses No.
LRESULT CALLBACK EscapeAnswersNo(int code, WPARAM wParam, LPARAM lParam) {
  if (code == MSGF_DIALOGBOX) {
    const MSG* message = reinterpret_cast<const MSG*>(lParam);
    if (message->message == WM_KEYDOWN && message->wParam == VK_ESCAPE) {
      const HWND box = TopLevelOf(message->hwnd);
      const HWND no = GetDlgItem(box, IDNO);
      if (no != nullptr && GetDlgItem(box, IDCANCEL) == nullptr) {
        SendMessageA(box, WM_COMMAND, MAKEWPARAM(IDNO, BN_CLICKED), reinterpret_cast<LPARAM>(no));
        return 1;
      }
    }
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

int ShowMessageBox(HWND owner, const char* text, const char* caption, UINT style) {
  HHOOK hook = nullptr;
  if ((style & MB_TYPEMASK) == MB_YESNO) {
    hook = SetWindowsHookExA(WH_MSGFILTER, &EscapeAnswersNo, nullptr, GetCurrentThreadId());
  }
  const int result = MessageBoxA(owner, text, caption, style);
  if (hook != nullptr) UnhookWindowsHookEx(hook);
  return result;
}

}  // namespace quorel::ui
