// quorel-uidriver: drives the Quorel window from another process in the same Wine prefix, for
// the end-to-end scripts. One invocation runs one or more commands separated by a lone ",":
//
//   quorel-uidriver.exe [--desktop NAME] COMMAND [ARGS] [, COMMAND [ARGS]]...
//
//   wait-window [SECONDS]        wait until the main window is visible; prints WINDOW <caption>
//   caption                      CAPTION <text>
//   controls                     one CONTROL line per child control of the main window
//   combo-items                  ITEM <index> <text> per drive line, then SELECTED <index>
//   text NAME                    TEXT <text> of the control named NAME (lblMsg, cboDrives, ...)
//   wait-text NAME TEXT [SECONDS] wait until that control's text contains TEXT
//   select INDEX                 select a drive line as the user would (CBN_SELCHANGE)
//   click TEXT                   click an enabled button by its caption ("Update" or "&Update")
//   wait-dialog [SECONDS]        wait for a message dialog; prints DIALOG, BUTTONS and TEXT lines
//   no-dialog SECONDS            fail if a message dialog appears within SECONDS
//   unseen SECONDS FILE          until FILE exists (the program has ended), SECONDS at most: fail
//                                if any window of the program is visible (a silent run)
//   answer yes|no|ok [SECONDS]   press that button of the open dialog and wait until it closes
//   close-window                 ask the main window to close as its title bar and Alt+F4 do;
//                                fails when it closed
//   fnv1a FILE [CHUNK]           FNV-1a 64 of a file (per CHUNK bytes when given), one per line
//   define-drive L cdrom DEVICE MOUNT | define-drive L none
//                                have Wine's mount manager make L: a CD-ROM drive on the Unix
//                                DEVICE and MOUNT point (links and drive type, as it does on a
//                                desktop when a drive appears), or forget L: if it knows it
//
// Texts are printed with \n, \r, \t, \\ and \xNN escapes. Exit status 0 when every command
// succeeded; otherwise 1 after an ERROR line.
#include <windows.h>
// After windows.h:
#include <commctrl.h>
#include <fcntl.h>
#include <io.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr wchar_t kProgram[] = L"quorel.exe";

class Failure {
 public:
  explicit Failure(std::string message) : message_(std::move(message)) {}
  const std::string& message() const { return message_; }

 private:
  std::string message_;
};

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                 nullptr, nullptr);
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                      nullptr, nullptr);
  return out;
}

std::wstring Wide(const std::string& text) {
  if (text.empty()) return {};
  int size =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size);
  return out;
}

std::string Escape(const std::wstring& text) {
  std::string out;
  for (unsigned char c : Utf8(text)) {
    switch (c) {
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\\':
        out += "\\\\";
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char hex[8];
          std::snprintf(hex, sizeof hex, "\\x%02X", c);
          out += hex;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out;
}

std::wstring StripAmpersands(const std::wstring& text) {
  std::wstring out;
  for (wchar_t c : text)
    if (c != L'&') out += c;
  return out;
}

bool SameTextNoCase(const std::wstring& a, const std::wstring& b) {
  return CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, a.c_str(), -1, b.c_str(), -1) ==
         CSTR_EQUAL;
}

std::wstring ClassOf(HWND window) {
  wchar_t name[128] = {};
  GetClassNameW(window, name, 128);
  return name;
}

// WM_GETTEXT is marshalled across processes; a hung target does not hang the driver.
std::wstring TextOf(HWND window) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 3000, &length))
    return {};
  std::wstring text(length + 1, L'\0');
  DWORD_PTR copied = 0;
  SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                      SMTO_ABORTIFHUNG, 3000, &copied);
  text.resize(copied);
  return text;
}

// ---- Finding the program's windows ----

std::vector<DWORD> ProgramProcesses() {
  std::vector<DWORD> ids;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return ids;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more;
       more = Process32NextW(snapshot, &entry)) {
    std::wstring name = entry.szExeFile;
    size_t slash = name.find_last_of(L"\\/");
    if (slash != std::wstring::npos) name = name.substr(slash + 1);
    if (SameTextNoCase(name, kProgram)) ids.push_back(entry.th32ProcessID);
  }
  CloseHandle(snapshot);
  return ids;
}

struct WindowSearch {
  std::vector<DWORD> processes;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectProgramWindow(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<WindowSearch*>(param);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  for (DWORD id : search->processes)
    if (id == process) search->found.push_back(window);
  return TRUE;
}

BOOL CALLBACK CollectChild(HWND child, LPARAM param) {
  reinterpret_cast<std::vector<HWND>*>(param)->push_back(child);
  return TRUE;
}

std::vector<HWND> TopLevelWindows() {
  WindowSearch search{ProgramProcesses(), {}};
  if (search.processes.empty()) return {};
  EnumWindows(CollectProgramWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::vector<HWND> Children(HWND parent) {
  std::vector<HWND> children;
  EnumChildWindows(parent, CollectChild, reinterpret_cast<LPARAM>(&children));
  return children;
}

// The main window is the program's top-level window that holds the drive list.
HWND FindMainWindow() {
  for (HWND window : TopLevelWindows()) {
    if (ClassOf(window) == L"#32770") continue;
    for (HWND child : Children(window))
      if (SameTextNoCase(ClassOf(child), L"ComboBox")) return window;
  }
  return nullptr;
}

HWND FindDialog() {
  for (HWND window : TopLevelWindows())
    if (ClassOf(window) == L"#32770" && IsWindowVisible(window)) return window;
  return nullptr;
}

HWND RequireMainWindow() {
  HWND window = FindMainWindow();
  if (!window) throw Failure("no main window");
  return window;
}

template <typename Probe>
auto WaitFor(double seconds, Probe probe) -> decltype(probe()) {
  DWORD start = GetTickCount();
  for (;;) {
    auto result = probe();
    if (result) return result;
    if (GetTickCount() - start >= static_cast<DWORD>(seconds * 1000.0)) return result;
    Sleep(50);
  }
}

// ---- Controls by name: the window's layout places each control at a fixed client position ----

struct NamedPosition {
  const char* name;
  int left, top;
};
constexpr NamedPosition kLayout[] = {
    {"Label1", 12, 4},     {"cboDrives", 8, 24},     {"cmdUpdate", 368, 24},
    {"cmdClose", 368, 52}, {"lblUpdateMsg", 12, 56}, {"lblOldFW", 124, 56},
    {"lblNewFW", 172, 56}, {"Bevel1", 8, 84},        {"lblMsg", 16, 92},
    {"pbar", 16, 112},     {"lblPercent", 400, 112},
};

RECT ClientRectOf(HWND child, HWND parent) {
  RECT r;
  GetWindowRect(child, &r);
  MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

const char* NameOf(HWND child, HWND parent) {
  RECT r = ClientRectOf(child, parent);
  for (const auto& entry : kLayout)
    if (std::abs(r.left - entry.left) <= 2 && std::abs(r.top - entry.top) <= 2) return entry.name;
  return "";
}

HWND ControlByName(HWND parent, const std::string& name) {
  for (HWND child : Children(parent))
    if (GetParent(child) == parent && name == NameOf(child, parent)) return child;
  throw Failure("no control named " + name);
}

// ---- Pixels: the colour of a label's text and the icon of a message dialog ----

struct Capture {
  int width = 0, height = 0;
  std::vector<uint32_t> pixels;  // 0x00RRGGBB, top-down
};

// A 32-bit top-down bitmap selected into a memory DC, compatible with the screen.
class Canvas {
 public:
  Canvas(int width, int height) : screen_(GetDC(nullptr)), memory_(CreateCompatibleDC(screen_)) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    bitmap_ = CreateDIBSection(memory_, &info, DIB_RGB_COLORS, &bits_, nullptr, 0);
    if (bitmap_) old_ = SelectObject(memory_, bitmap_);
  }
  ~Canvas() {
    if (bitmap_) {
      SelectObject(memory_, old_);
      DeleteObject(bitmap_);
    }
    DeleteDC(memory_);
    ReleaseDC(nullptr, screen_);
  }
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;

  bool ok() const { return bits_ != nullptr; }
  HDC screen() const { return screen_; }
  HDC dc() const { return memory_; }
  // The pixels, once GDI has finished drawing into them.
  uint32_t* pixels() {
    GdiFlush();
    return static_cast<uint32_t*>(bits_);
  }

 private:
  HDC screen_;
  HDC memory_;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ old_ = nullptr;
  void* bits_ = nullptr;
};

Capture CaptureScreen(const RECT& r) {
  Capture c;
  c.width = r.right - r.left;
  c.height = r.bottom - r.top;
  if (c.width <= 0 || c.height <= 0) return c;
  Canvas canvas(c.width, c.height);
  if (!canvas.ok()) return c;
  BitBlt(canvas.dc(), 0, 0, c.width, c.height, canvas.screen(), r.left, r.top, SRCCOPY);
  const uint32_t* p = canvas.pixels();
  c.pixels.assign(p, p + static_cast<size_t>(c.width) * c.height);
  for (auto& px : c.pixels) px &= 0xFFFFFF;
  return c;
}

// The text colour of a label: the most frequent colour other than its background (the most
// frequent colour overall). Only meaningful while the label is visible and not covered.
std::optional<uint32_t> InkOf(HWND control) {
  RECT r;
  GetWindowRect(control, &r);
  Capture c = CaptureScreen(r);
  if (c.pixels.empty()) return std::nullopt;
  struct Count {
    uint32_t colour;
    int n;
  };
  std::vector<Count> counts;
  for (uint32_t px : c.pixels) {
    bool found = false;
    for (auto& e : counts)
      if (e.colour == px) {
        ++e.n;
        found = true;
        break;
      }
    if (!found) counts.push_back({px, 1});
  }
  if (counts.size() < 2) return std::nullopt;
  size_t background = 0;
  for (size_t i = 1; i < counts.size(); ++i)
    if (counts[i].n > counts[background].n) background = i;
  std::optional<size_t> ink;
  for (size_t i = 0; i < counts.size(); ++i)
    if (i != background && (!ink || counts[i].n > counts[*ink].n)) ink = i;
  return counts[*ink].colour;
}

// Which standard icon the dialog's icon control shows. Another process's icon handle cannot be
// read, so the screen is compared with each standard icon drawn here on the same background
// (taken from a corner, which every standard icon leaves transparent).
std::string IconKind(HWND iconControl) {
  RECT r;
  GetWindowRect(iconControl, &r);
  Capture shown = CaptureScreen(r);
  if (shown.pixels.empty()) return "unknown";
  struct Candidate {
    const char* kind;
    WORD id;  // the standard icons' resource numbers
  };
  const Candidate candidates[] = {
      {"exclamation", 32515}, {"stop", 32513}, {"information", 32516}, {"question", 32514}};
  Canvas canvas(shown.width, shown.height);
  if (!canvas.ok()) return "unknown";
  const char* best = "unknown";
  long bestChanged = -1, secondChanged = -1;
  for (const auto& candidate : candidates) {
    uint32_t* p = canvas.pixels();
    std::fill(p, p + shown.pixels.size(), shown.pixels[0]);
    DrawIconEx(canvas.dc(), 0, 0, LoadIconW(nullptr, MAKEINTRESOURCEW(candidate.id)), 0, 0, 0,
               nullptr, DI_NORMAL);
    p = canvas.pixels();
    long changed = 0;
    for (size_t i = 0; i < shown.pixels.size(); ++i) {
      uint32_t a = p[i] & 0xFFFFFF, b = shown.pixels[i];
      int d = std::abs(int(a & 0xFF) - int(b & 0xFF)) +
              std::abs(int((a >> 8) & 0xFF) - int((b >> 8) & 0xFF)) +
              std::abs(int(a >> 16) - int(b >> 16));
      if (d > 24) ++changed;
    }
    if (bestChanged < 0 || changed < bestChanged) {
      secondChanged = bestChanged;
      bestChanged = changed;
      best = candidate.kind;
    } else if (secondChanged < 0 || changed < secondChanged) {
      secondChanged = changed;
    }
  }
  // A clear winner only: few changed pixels, and far fewer than the next candidate.
  if (bestChanged * 4 > secondChanged || bestChanged > static_cast<long>(shown.pixels.size() / 8))
    return "unknown";
  return best;
}

std::string IconFromCaption(const std::wstring& caption) {
  if (caption == L"Warning") return "exclamation";
  if (caption == L"Error" || caption == L"Error ...") return "stop";
  if (caption == L"Information") return "information";
  return "unknown";
}

// ---- Commands ----

using Args = std::vector<std::string>;

double SecondsArg(const Args& args, size_t index, double fallback) {
  return index < args.size() ? std::atof(args[index].c_str()) : fallback;
}

// Wine's own request to its mount manager (IOCTL_MOUNTMGR_DEFINE_UNIX_DRIVE, mountmgr.h of
// Wine): the fixed part, then the strings it points to.
constexpr DWORD kDefineUnixDrive = (0x6D << 16) | (3 << 14) | (32 << 2);  // 'm', read|write, 32
struct UnixDrive {
  ULONG size;
  ULONG type;  // DRIVE_CDROM, or DRIVE_NO_ROOT_DIR to remove the letter
  ULONG fsType;
  DWORD serial;
  ULONGLONG unixDevice;
  WCHAR letter;
  USHORT mountPointOffset;
  USHORT deviceOffset;
  USHORT labelOffset;
};

void DefineDrive(const Args& args) {
  const bool cdrom = args.size() == 4 && args[1] == "cdrom";
  if (args.empty() || args[0].size() != 1 || !(cdrom || (args.size() == 2 && args[1] == "none")))
    throw Failure("define-drive LETTER cdrom DEVICE MOUNT | define-drive LETTER none");
  UnixDrive drive = {};
  drive.type = cdrom ? DRIVE_CDROM : DRIVE_NO_ROOT_DIR;
  drive.letter = static_cast<WCHAR>(args[0][0]);
  std::string request(sizeof drive, '\0');
  if (cdrom) {
    drive.mountPointOffset = static_cast<USHORT>(request.size());
    request += args[3] + '\0';
    drive.deviceOffset = static_cast<USHORT>(request.size());
    request += args[2] + '\0';
  }
  drive.size = static_cast<ULONG>(request.size());
  std::memcpy(request.data(), &drive, sizeof drive);
  HANDLE manager =
      CreateFileW(L"\\\\.\\MountPointManager", GENERIC_READ | GENERIC_WRITE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (manager == INVALID_HANDLE_VALUE) throw Failure("cannot open the mount manager");
  DWORD returned = 0;
  BOOL done = DeviceIoControl(manager, kDefineUnixDrive, request.data(),
                              static_cast<DWORD>(request.size()), nullptr, 0, &returned, nullptr);
  DWORD error = GetLastError();
  CloseHandle(manager);
  // Forgetting a letter Wine does not know fails, and is no error here.
  if (!done && cdrom) throw Failure("the mount manager refused it, error " + std::to_string(error));
}

// Whether another window of the program (a message dialog) lies over part of the control, so
// that its colour cannot be read off the screen.
bool CoveredBy(HWND control, HWND main) {
  RECT r, other, overlap;
  GetWindowRect(control, &r);
  for (HWND window : TopLevelWindows())
    if (window != main && IsWindowVisible(window) && GetWindowRect(window, &other) &&
        IntersectRect(&overlap, &r, &other))
      return true;
  return false;
}

void PrintControl(HWND child, HWND parent) {
  RECT r = ClientRectOf(child, parent);
  std::wstring cls = ClassOf(child);
  std::printf("CONTROL name=%s class=%s id=%d visible=%d enabled=%d x=%ld y=%ld w=%ld h=%ld",
              NameOf(child, parent), Utf8(cls).c_str(), GetDlgCtrlID(child),
              IsWindowVisible(child) ? 1 : 0, IsWindowEnabled(child) ? 1 : 0, r.left, r.top,
              r.right - r.left, r.bottom - r.top);
  if (SameTextNoCase(cls, L"msctls_progress32")) {
    DWORD_PTR position = 0, low = 0, high = 0;
    SendMessageTimeoutW(child, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 3000, &position);
    SendMessageTimeoutW(child, PBM_GETRANGE, TRUE, 0, SMTO_ABORTIFHUNG, 3000, &low);
    SendMessageTimeoutW(child, PBM_GETRANGE, FALSE, 0, SMTO_ABORTIFHUNG, 3000, &high);
    std::printf(" position=%d range=%d..%d", static_cast<int>(position), static_cast<int>(low),
                static_cast<int>(high));
  }
  if (SameTextNoCase(cls, L"Static") && IsWindowVisible(child) && CoveredBy(child, parent)) {
    std::printf(" ink=covered");
  } else if (SameTextNoCase(cls, L"Static") && IsWindowVisible(child)) {
    // The same colour on two readings in a row, so that a repaint under way is not caught.
    std::optional<uint32_t> ink, before;
    WaitFor(1, [&] {
      before = ink;
      ink = InkOf(child);
      return ink && ink == before;
    });
    if (ink) std::printf(" ink=%02X%02X%02X", (*ink >> 16) & 0xFF, (*ink >> 8) & 0xFF, *ink & 0xFF);
  }
  std::printf(" text=%s\n", Escape(TextOf(child)).c_str());
}

std::vector<std::wstring> ComboItems(HWND combo) {
  std::vector<std::wstring> items;
  DWORD_PTR count = 0;
  SendMessageTimeoutW(combo, CB_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG, 3000, &count);
  for (int i = 0; i < static_cast<int>(count); ++i) {
    DWORD_PTR length = 0, copied = 0;
    if (!SendMessageTimeoutW(combo, CB_GETLBTEXTLEN, i, 0, SMTO_ABORTIFHUNG, 3000, &length) ||
        static_cast<LRESULT>(length) == CB_ERR)
      throw Failure("the drive list changed while it was read");
    std::wstring text(length + 1, L'\0');
    if (!SendMessageTimeoutW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text.data()),
                             SMTO_ABORTIFHUNG, 3000, &copied) ||
        static_cast<LRESULT>(copied) == CB_ERR)
      throw Failure("the drive list changed while it was read");
    text.resize(std::min<size_t>(copied, length));
    items.push_back(text);
  }
  return items;
}

HWND FindCombo(HWND main) {
  for (HWND child : Children(main))
    if (SameTextNoCase(ClassOf(child), L"ComboBox")) return child;
  throw Failure("no drive list");
}

struct DialogShown {
  std::wstring caption, text;
  std::string icon = "none";  // a kind, or a guess from the caption followed by "?"
  std::vector<std::wstring> buttons;
};

DialogShown ReadDialog(HWND dialog) {
  DialogShown shown;
  shown.caption = TextOf(dialog);
  for (HWND child : Children(dialog)) {
    std::wstring cls = ClassOf(child);
    LONG style = GetWindowLongW(child, GWL_STYLE);
    if (SameTextNoCase(cls, L"Static") && (style & SS_TYPEMASK) == SS_ICON) {
      shown.icon = IsWindowVisible(child) ? IconKind(child) : "none";
      if (shown.icon == "unknown") shown.icon = IconFromCaption(shown.caption) + "?";
    } else if (SameTextNoCase(cls, L"Static")) {
      std::wstring part = TextOf(child);
      if (!part.empty()) shown.text += (shown.text.empty() ? L"" : L"\n") + part;
    } else if (SameTextNoCase(cls, L"Button") && IsWindowVisible(child)) {
      shown.buttons.push_back(TextOf(child));
    }
  }
  return shown;
}

// Reads the dialog until its icon is recognised (it is painted just after the dialog shows),
// for at most a second, and prints it.
void PrintDialog(HWND dialog) {
  DialogShown shown;
  WaitFor(1, [&] {
    shown = ReadDialog(dialog);
    return shown.icon.find('?') == std::string::npos;
  });
  std::printf("DIALOG caption=%s icon=%s\n", Escape(shown.caption).c_str(), shown.icon.c_str());
  std::printf("BUTTONS");
  for (const auto& b : shown.buttons) std::printf(" %s", Escape(b).c_str());
  std::printf("\nTEXT %s\n", Escape(shown.text).c_str());
}

void Run(const std::string& command, const Args& args) {
  if (command == "wait-window") {
    HWND window = WaitFor(SecondsArg(args, 0, 30), [] {
      HWND w = FindMainWindow();
      return (w && IsWindowVisible(w)) ? w : nullptr;
    });
    if (!window) throw Failure("timed out waiting for the main window");
    std::printf("WINDOW %s\n", Escape(TextOf(window)).c_str());
  } else if (command == "caption") {
    std::printf("CAPTION %s\n", Escape(TextOf(RequireMainWindow())).c_str());
  } else if (command == "controls") {
    HWND main = RequireMainWindow();
    for (HWND child : Children(main))
      if (GetParent(child) == main) PrintControl(child, main);
  } else if (command == "combo-items") {
    HWND combo = FindCombo(RequireMainWindow());
    auto items = ComboItems(combo);
    for (size_t i = 0; i < items.size(); ++i)
      std::printf("ITEM %u %s\n", static_cast<unsigned>(i), Escape(items[i]).c_str());
    DWORD_PTR selected = 0;
    SendMessageTimeoutW(combo, CB_GETCURSEL, 0, 0, SMTO_ABORTIFHUNG, 3000, &selected);
    std::printf("SELECTED %d\n", static_cast<int>(selected));
  } else if (command == "text") {
    if (args.size() < 1) throw Failure("text NAME");
    std::printf("TEXT %s\n", Escape(TextOf(ControlByName(RequireMainWindow(), args[0]))).c_str());
  } else if (command == "wait-text") {
    if (args.size() < 2) throw Failure("wait-text NAME TEXT [SECONDS]");
    std::wstring wanted = Wide(args[1]);
    HWND main = RequireMainWindow();
    HWND control = ControlByName(main, args[0]);
    std::wstring last;
    bool seen = WaitFor(SecondsArg(args, 2, 30), [&] {
      last = TextOf(control);
      return last.find(wanted) != std::wstring::npos;
    });
    if (!seen)
      throw Failure("timed out: " + args[0] + " shows \"" + Escape(last) + "\", not \"" + args[1] +
                    "\"");
    std::printf("TEXT %s\n", Escape(last).c_str());
  } else if (command == "select") {
    if (args.size() < 1) throw Failure("select INDEX");
    HWND main = RequireMainWindow();
    HWND combo = FindCombo(main);
    int index = std::atoi(args[0].c_str());
    DWORD_PTR result = 0;
    SendMessageTimeoutW(combo, CB_SETCURSEL, index, 0, SMTO_ABORTIFHUNG, 3000, &result);
    if (static_cast<int>(result) != index) throw Failure("no drive line " + args[0]);
    // Sent, not posted: the change handler has run when the call returns.
    if (!SendMessageTimeoutW(GetParent(combo), WM_COMMAND,
                             MAKEWPARAM(GetDlgCtrlID(combo), CBN_SELCHANGE),
                             reinterpret_cast<LPARAM>(combo), SMTO_ABORTIFHUNG, 10000, nullptr))
      throw Failure("the window did not take the selection");
    RedrawWindow(main, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
  } else if (command == "click") {
    if (args.size() < 1) throw Failure("click TEXT");
    HWND main = RequireMainWindow();
    std::wstring wanted = StripAmpersands(Wide(args[0]));
    for (HWND child : Children(main)) {
      if (!SameTextNoCase(ClassOf(child), L"Button")) continue;
      if (!SameTextNoCase(StripAmpersands(TextOf(child)), wanted)) continue;
      if (!IsWindowVisible(child) || !IsWindowEnabled(child))
        throw Failure("button " + args[0] + " is disabled or hidden");
      // Posted, so that a modal dialog the click opens does not block the driver.
      PostMessageW(GetParent(child), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(child), BN_CLICKED),
                   reinterpret_cast<LPARAM>(child));
      return;
    }
    throw Failure("no button " + args[0]);
  } else if (command == "wait-dialog") {
    HWND dialog = WaitFor(SecondsArg(args, 0, 30), [] { return FindDialog(); });
    if (!dialog) throw Failure("timed out waiting for a dialog");
    PrintDialog(dialog);
  } else if (command == "no-dialog") {
    HWND dialog = WaitFor(SecondsArg(args, 0, 2), [] { return FindDialog(); });
    if (dialog) {
      PrintDialog(dialog);
      throw Failure("unexpected dialog");
    }
  } else if (command == "unseen") {
    if (args.size() < 2) throw Failure("unseen SECONDS FILE");
    const std::wstring ended = Wide(args[1]);
    HWND shown = nullptr;
    const auto over = [&ended] {
      return GetFileAttributesW(ended.c_str()) != INVALID_FILE_ATTRIBUTES;
    };
    WaitFor(SecondsArg(args, 0, 60), [&] {
      for (HWND window : TopLevelWindows())
        if (IsWindowVisible(window)) shown = window;
      return shown != nullptr || over();
    });
    if (shown) throw Failure("a window appeared: \"" + Escape(TextOf(shown)) + "\"");
    if (!over()) throw Failure("the program did not end");
  } else if (command == "answer") {
    if (args.size() < 1) throw Failure("answer yes|no|ok");
    int id = args[0] == "yes" ? IDYES : args[0] == "no" ? IDNO : args[0] == "ok" ? IDOK : 0;
    if (!id) throw Failure("answer yes|no|ok");
    HWND dialog = WaitFor(SecondsArg(args, 1, 30), [] { return FindDialog(); });
    if (!dialog) throw Failure("no dialog to answer");
    HWND button = GetDlgItem(dialog, id);
    if (!button || !IsWindowVisible(button)) throw Failure("the dialog has no " + args[0]);
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
    if (!WaitFor(10, [dialog] { return !IsWindow(dialog) || !IsWindowVisible(dialog); }))
      throw Failure("the dialog stayed open");
  } else if (command == "close-window") {
    // Sent, so that the window has handled both requests when the command ends.
    HWND main = RequireMainWindow();
    SendMessageTimeoutW(main, WM_SYSCOMMAND, SC_CLOSE, 0, SMTO_ABORTIFHUNG, 10000, nullptr);
    if (IsWindow(main)) SendMessageTimeoutW(main, WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG, 10000, nullptr);
    if (!IsWindow(main) || !IsWindowVisible(main)) throw Failure("the main window closed");
  } else if (command == "define-drive") {
    DefineDrive(args);
  } else if (command == "fnv1a") {
    if (args.size() < 1) throw Failure("fnv1a FILE [CHUNK]");
    FILE* file = std::fopen(args[0].c_str(), "rb");
    if (!file) throw Failure("cannot open " + args[0]);
    size_t chunk = args.size() > 1 ? std::strtoul(args[1].c_str(), nullptr, 0) : 0;
    uint64_t hash = 14695981039346656037ull;
    size_t inChunk = 0;
    for (int c; (c = std::fgetc(file)) != EOF;) {
      hash = (hash ^ static_cast<uint8_t>(c)) * 1099511628211ull;
      if (chunk && ++inChunk == chunk) {
        std::printf("%016llx\n", static_cast<unsigned long long>(hash));
        hash = 14695981039346656037ull;
        inChunk = 0;
      }
    }
    std::fclose(file);
    if (!chunk || inChunk) std::printf("%016llx\n", static_cast<unsigned long long>(hash));
  } else {
    throw Failure("unknown command " + command);
  }
}

}  // namespace

int main(int argc, char** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  std::vector<std::string> words(argv + 1, argv + argc);
  size_t i = 0;
  if (words.size() >= 2 && words[0] == "--desktop") {
    // A Wine virtual desktop: look for the windows there, once the program has made it.
    std::wstring name = Wide(words[1]);
    HDESK desktop = WaitFor(30, [&] { return OpenDesktopW(name.c_str(), 0, FALSE, GENERIC_ALL); });
    if (!desktop || !SetThreadDesktop(desktop)) {
      std::printf("ERROR cannot open desktop %s\n", words[1].c_str());
      return 1;
    }
    i = 2;
  }
  while (i < words.size()) {
    std::string command = words[i++];
    Args args;
    while (i < words.size() && words[i] != ",") args.push_back(words[i++]);
    if (i < words.size()) ++i;  // the separator
    try {
      Run(command, args);
    } catch (const Failure& failure) {
      std::printf("ERROR %s: %s\n", command.c_str(), failure.message().c_str());
      std::fflush(stdout);
      return 1;
    }
    std::fflush(stdout);
  }
  return 0;
}
