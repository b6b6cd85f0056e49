// The Linux binding of the platform seam: the kernel's optical drives appear as drive letters
// from D: on, and a pass-through request becomes SG_IO on the drive's block device. It answers
// as a Windows XP machine without an ASPI manager, so the core takes the pass-through. The
// CD-ROM exclusive access is unsupported, as before Vista: an exclusive open on Linux would not
// keep other openers or the kernel's media polling away from the drive either.
// Calls may come from several threads; each thread has its own last error.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace quorel {

class LinuxPlatform : public Platform {
 public:
  // The optical drives the kernel lists (/sys/class/block/sr<N>, by N), read once here:
  // /dev/sr0 is D:, /dev/sr1 E:, and so on up to Z:; further drives get no letter.
  LinuxPlatform();
  // These device paths instead, in this order, from D: on. Throws std::invalid_argument for
  // more than 23 paths or an empty one.
  explicit LinuxPlatform(std::vector<std::string> devicePaths);
  ~LinuxPlatform() override;
  LinuxPlatform(const LinuxPlatform&) = delete;
  LinuxPlatform& operator=(const LinuxPlatform&) = delete;

  // The device path behind a drive letter (either case), or "" when the letter has none.
  std::string DevicePathOf(char letter) const;
  // The drive letter (upper case) of a device path as given, or '\0' when it has none.
  char LetterOf(const std::string& devicePath) const;
  // What ExitWindowsEx calls: true when the restart was accepted. Without a hook the restart
  // is refused; the binding never restarts the machine on its own.
  void SetRestartHook(std::function<bool()> hook);
  // Asked with the device path before a drive is opened; false refuses the open with
  // ERROR_BUSY, so the drive is not listed (a front end's guard against a second run holding
  // it). Without a hook every open is tried. May be called from any thread.
  void SetOpenHook(std::function<bool(const std::string& devicePath)> hook);

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
  void ProcessMessages() override;
  // Written to stderr when the environment variable QUOREL_DEBUG_OUTPUT is set.
  void OutputDebugStringA(const char* text) override;

  int CompareStringA(const char* a, int lengthA, const char* b, int lengthB) override;

  bool GetVersionExA(OsVersion* version) override;
  Handle GetCurrentProcess() override;
  bool OpenProcessToken(Handle process, uint32_t access, Handle* token) override;
  bool LookupPrivilegeValueA(const char* systemName, const char* name, uint64_t* luid) override;
  bool AdjustTokenPrivileges(Handle token, uint64_t luid, uint32_t attributes) override;
  uint32_t GetLastError() override;
  bool ExitWindowsEx(uint32_t flags, uint32_t reserved) override;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace quorel
