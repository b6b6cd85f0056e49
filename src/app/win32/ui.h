// A thin class layer over user32, gdi32 and comctl32: fonts, a top-level window whose messages
// go to a virtual handler, and the few control kinds the main window uses.
#pragma once

#include <windows.h>

#include <string>

#include "app/win32/glyphs.h"

namespace quorel::ui {

// Left, top, width and height in pixels.
struct Box {
  int left, top, width, height;
  bool operator==(const Box&) const = default;
};

struct FontSpec {
  const char* face;
  int heightPixels;  // character height, as CreateFont's negative lfHeight
  bool bold;
  bool fixedPitch;
};

// An owned GDI font.
class Font {
 public:
  Font() = default;
  explicit Font(const FontSpec& spec);
  ~Font();
  Font(const Font&) = delete;
  Font& operator=(const Font&) = delete;

  HFONT handle() const { return font_; }

 private:
  HFONT font_ = nullptr;
};

// Any window we create: text, bounds, visibility, enabled state and font.
class Window {
 public:
  Window() = default;
  virtual ~Window() = default;
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  HWND hwnd() const { return hwnd_; }
  int id() const { return GetDlgCtrlID(hwnd_); }

  virtual void SetText(const std::string& text);
  std::string Text() const;
  void SetEnabled(bool enabled) { EnableWindow(hwnd_, enabled ? TRUE : FALSE); }
  bool Enabled() const { return IsWindowEnabled(hwnd_) != FALSE; }
  void SetVisible(bool visible) { ShowWindow(hwnd_, visible ? SW_SHOWNA : SW_HIDE); }
  bool Visible() const { return IsWindowVisible(hwnd_) != FALSE; }
  void SetFont(const Font& font);
  // Left, top, width and height; of a control, inside its parent's client area.
  Box Bounds() const;

 protected:
  // Creates a child control of a system class.
  void CreateChild(HWND parent, const char* className, const char* text, DWORD style, int id,
                   int left, int top, int width, int height);

  HWND hwnd_ = nullptr;
  HFONT font_ = nullptr;
};

// A top-level window of our own class; its messages go to HandleMessage.
class FrameWindow : public Window {
 public:
  ~FrameWindow() override;

  void Destroy();

 protected:
  // Registers the class once per process (background: button face) and creates the window,
  // hidden, with the given outer bounds.
  void CreateFrame(HINSTANCE instance, const char* className, const char* caption, DWORD style,
                   int left, int top, int width, int height);
  // Unhandled messages should go to DefWindowProc.
  virtual LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) = 0;

 private:
  static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
};

// A static text that sizes itself to its text and draws it in its own colour.
class Label : public Window {
 public:
  void Create(HWND parent, int id, int left, int top, const Font& font, COLORREF color,
              const std::string& text);
  void SetText(const std::string& text) override;
  void SetColor(COLORREF color);
  COLORREF color() const { return color_; }
  // The answer to WM_CTLCOLORSTATIC for this label.
  HBRUSH PrepareColors(HDC dc) const;

 private:
  void FitToText(const std::string& text);

  COLORREF color_ = 0;
};

// A drop-down list without typing, drawn by us so that its items have the height asked for on
// every system.
class ComboBox : public Window {
 public:
  // height: of the closed box; the list part shows up to dropDownCount items. The parent must
  // answer WM_MEASUREITEM with MeasureItem and WM_DRAWITEM with Draw.
  void Create(HWND parent, int id, int left, int top, int width, int height, int itemHeight,
              int dropDownCount, const Font& font);
  void MeasureItem(MEASUREITEMSTRUCT& item) const;
  void Draw(const DRAWITEMSTRUCT& item) const;
  void Clear();
  void Add(const std::string& item);
  int Count() const;
  std::string Item(int index) const;
  // -1 clears the selection. Sends no change notification.
  void Select(int index);
  int Selected() const;  // -1: none

 private:
  int itemHeight_ = 16;
};

// A continuous progress bar.
class ProgressBar : public Window {
 public:
  void Create(HWND parent, int id, int left, int top, int width, int height);
  void SetRange(int minimum, int maximum);
  void SetPosition(int position);
  int Position() const;
  int Minimum() const;
  int Maximum() const;
};

// A push button drawn by us: a glyph (greyed while disabled) followed by the caption, the pair
// centred as one; the caption's ampersand marks the access key.
class GlyphButton : public Window {
 public:
  void Create(HWND parent, int id, int left, int top, int width, int height, const Font& font,
              const Glyph& glyph, const std::string& caption);
  // Paints the button for WM_DRAWITEM.
  void Draw(const DRAWITEMSTRUCT& item) const;
  // Paints into any device context, for a given state.
  void Paint(HDC dc, const RECT& bounds, bool pushed, bool focused, bool disabled,
             bool hideAccessKey) const;

 private:
  const Glyph* glyph_ = nullptr;
  Glyph greyed_{};
};

// Draws a glyph's opaque pixels with its top-left corner at (left, top).
void DrawGlyph(HDC dc, const Glyph& glyph, int left, int top);

// A lowered bevelled frame: an empty static control with a one-pixel sunken edge. It lies
// beneath the controls placed over it.
class Bevel : public Window {
 public:
  void Create(HWND parent, int id, int left, int top, int width, int height);
};

// MessageBoxA; with MB_YESNO, Escape answers No as well (the box itself ignores Escape when it
// has no Cancel button).
int ShowMessageBox(HWND owner, const char* text, const char* caption, UINT style);

}  // namespace quorel::ui
