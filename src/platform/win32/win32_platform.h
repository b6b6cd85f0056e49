// The Windows binding of the platform seam: every operation calls the real API, with the
// arguments the seam documents. Only the Windows entry point and the Windows tests use it.
#pragma once

#include "platform/platform.h"

namespace quorel {

class Win32Platform : public Platform {
 public:
  Module LoadLibraryA(const char* name) override;
  void* GetProcAddress(Module module, const char* name) override;
  bool FreeLibrary(Module module) override;
  bool GetSystemDirectoryA(char* buffer, uint32_t sizeBytes) override;

  Handle CreateFileA(const char* path, uint32_t access, uint32_t share, uint32_t disposition,
                     uint32_t flags) override;
  bool DeviceIoControl(Handle device, uint32_t code, void* in, uint32_t inBytes, void* out,
                       uint32_t outBytes, uint32_t* returnedBytes) override;
  bool CloseHandle(Handle handle) override;
  uint32_t GetLogicalDriveStringsA(uint32_t bufferBytes, char* buffer) override;
  uint32_t GetDriveTypeA(const char* rootPath) override;

  Handle GetProcessHeap() override;
  void* HeapAlloc(Handle heap, uint32_t flags, uint32_t bytes) override;
  bool HeapFree(Handle heap, void* memory) override;

  Handle CreateEventA(bool manualReset, bool initialState) override;
  uint32_t WaitForSingleObject(Handle handle, uint32_t milliseconds) override;
  void Sleep(uint32_t milliseconds) override;
  bool QueryPerformanceFrequency(int64_t* ticksPerSecond) override;
  bool QueryPerformanceCounter(int64_t* ticks) override;

  int MessageBoxA(const char* text, const char* caption, uint32_t type) override;
  // Runs ProcessPendingMessages (below).
  void ProcessMessages() override;
  void OutputDebugStringA(const char* text) override;

  int CompareStringA(const char* a, int lengthA, const char* b, int lengthB) override;

  bool GetVersionExA(OsVersion* version) override;
  Handle GetCurrentProcess() override;
  bool OpenProcessToken(Handle process, uint32_t access, Handle* token) override;
  bool LookupPrivilegeValueA(const char* systemName, const char* name, uint64_t* luid) override;
  bool AdjustTokenPrivileges(Handle token, uint64_t luid, uint32_t attributes) override;
  uint32_t GetLastError() override;
  bool ExitWindowsEx(uint32_t flags, uint32_t reserved) override;
};

// Dispatches the calling thread's queued messages until none is left. A WM_QUIT met on the way
// ends the loop and is posted again, so that the message loop still sees it.
void ProcessPendingMessages();

}  // namespace quorel
