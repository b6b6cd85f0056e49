#include "app/win32/message_loop.h"

namespace quorel {

namespace {
// Between two attempts after GetMessage failed: the workers go on meanwhile.
constexpr DWORD kRetryMilliseconds = 50;
}  // namespace

void RunMessageLoop(HWND dialog, const std::function<bool()>& updateRunning,
                    GetMessageFn getMessage) {
  bool quitRequested = false;
  for (;;) {
    if (quitRequested && !updateRunning()) return;
    MSG message;
    const BOOL got = getMessage(&message, nullptr, 0, 0);
    if (got == -1) {
      if (!updateRunning()) return;
      Sleep(kRetryMilliseconds);
      continue;
    }
    if (got == 0) {
      quitRequested = true;
      continue;
    }
    if (IsDialogMessageA(dialog, &message) == FALSE) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
  }
}

}  // namespace quorel
