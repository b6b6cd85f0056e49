// The main window's message loop.
#pragma once

#include <windows.h>

#include <functional>

namespace quorel {

using GetMessageFn = BOOL(WINAPI*)(LPMSG, HWND, UINT, UINT);

// Runs until the quit request. Should the request come, or the system fail to deliver a message,
// while an update is still running (updateRunning), the loop goes on until the workers have
// finished, since ending the process then would cut a flash short. Messages for dialog go
// through IsDialogMessageA first.
void RunMessageLoop(HWND dialog, const std::function<bool()>& updateRunning,
                    GetMessageFn getMessage = GetMessageA);

}  // namespace quorel
