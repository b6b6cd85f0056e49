// A platform binding that forwards every call to another one (normally a sim::SimMachine) and
// lets a test watch or replace DeviceIoControl and OutputDebugStringA. Constructing it installs
// it; destroying it reinstalls the binding it wraps.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "platform/platform.h"
#include "platform/scsi_structs.h"

namespace quorel::test {

struct IoctlCall {
  Handle device;
  uint32_t code;
  void* in;
  uint32_t inBytes;
  void* out;
  uint32_t outBytes;
  uint32_t* returnedBytes;
};

class PlatformTap : public Platform {
 public:
  explicit PlatformTap(Platform& inner) : inner_(inner) { SetPlatform(this); }
  ~PlatformTap() override { SetPlatform(&inner_); }
  PlatformTap(const PlatformTap&) = delete;
  PlatformTap& operator=(const PlatformTap&) = delete;

  // Runs before the wrapped binding sees the call; a value returned answers the call instead.
  std::function<std::optional<bool>(const IoctlCall&)> beforeIoctl;
  // Runs after the wrapped binding answered (not for calls that beforeIoctl answered).
  std::function<void(const IoctlCall&, bool result)> afterIoctl;
  // Replaces OutputDebugStringA when set.
  std::function<void(const char*)> onDebugString;

  bool DeviceIoControl(Handle device, uint32_t code, void* in, uint32_t inBytes, void* out,
                       uint32_t outBytes, uint32_t* returnedBytes) override {
    const IoctlCall call{device, code, in, inBytes, out, outBytes, returnedBytes};
    if (beforeIoctl) {
      if (std::optional<bool> answer = beforeIoctl(call)) return *answer;
    }
    const bool result =
        inner_.DeviceIoControl(device, code, in, inBytes, out, outBytes, returnedBytes);
    if (afterIoctl) afterIoctl(call, result);
    return result;
  }
  void OutputDebugStringA(const char* text) override {
    if (onDebugString) {
      onDebugString(text);
    } else {
      inner_.OutputDebugStringA(text);
    }
  }

  Module LoadLibraryA(const char* name) override { return inner_.LoadLibraryA(name); }
  void* GetProcAddress(Module module, const char* name) override {
    return inner_.GetProcAddress(module, name);
  }
  bool FreeLibrary(Module module) override { return inner_.FreeLibrary(module); }
  bool GetSystemDirectoryA(char* buffer, uint32_t sizeBytes) override {
    return inner_.GetSystemDirectoryA(buffer, sizeBytes);
  }
  Handle CreateFileA(const char* path, uint32_t access, uint32_t share, uint32_t disposition,
                     uint32_t flags) override {
    return inner_.CreateFileA(path, access, share, disposition, flags);
  }
  bool CloseHandle(Handle handle) override { return inner_.CloseHandle(handle); }
  uint32_t GetLogicalDriveStringsA(uint32_t bufferBytes, char* buffer) override {
    return inner_.GetLogicalDriveStringsA(bufferBytes, buffer);
  }
  uint32_t GetDriveTypeA(const char* rootPath) override { return inner_.GetDriveTypeA(rootPath); }
  Handle GetProcessHeap() override { return inner_.GetProcessHeap(); }
  void* HeapAlloc(Handle heap, uint32_t flags, uint32_t bytes) override {
    return inner_.HeapAlloc(heap, flags, bytes);
  }
  bool HeapFree(Handle heap, void* memory) override { return inner_.HeapFree(heap, memory); }
  Handle CreateEventA(bool manualReset, bool initialState) override {
    return inner_.CreateEventA(manualReset, initialState);
  }
  uint32_t WaitForSingleObject(Handle handle, uint32_t milliseconds) override {
    return inner_.WaitForSingleObject(handle, milliseconds);
  }
  void Sleep(uint32_t milliseconds) override { inner_.Sleep(milliseconds); }
  bool QueryPerformanceFrequency(int64_t* ticksPerSecond) override {
    return inner_.QueryPerformanceFrequency(ticksPerSecond);
  }
  bool QueryPerformanceCounter(int64_t* ticks) override {
    return inner_.QueryPerformanceCounter(ticks);
  }
  int MessageBoxA(const char* text, const char* caption, uint32_t type) override {
    return inner_.MessageBoxA(text, caption, type);
  }
  void ProcessMessages() override { inner_.ProcessMessages(); }
  int CompareStringA(const char* a, int lengthA, const char* b, int lengthB) override {
    return inner_.CompareStringA(a, lengthA, b, lengthB);
  }
  bool GetVersionExA(OsVersion* version) override { return inner_.GetVersionExA(version); }
  Handle GetCurrentProcess() override { return inner_.GetCurrentProcess(); }
  bool OpenProcessToken(Handle process, uint32_t access, Handle* token) override {
    return inner_.OpenProcessToken(process, access, token);
  }
  bool LookupPrivilegeValueA(const char* systemName, const char* name, uint64_t* luid) override {
    return inner_.LookupPrivilegeValueA(systemName, name, luid);
  }
  bool AdjustTokenPrivileges(Handle token, uint64_t luid, uint32_t attributes) override {
    return inner_.AdjustTokenPrivileges(token, luid, attributes);
  }
  uint32_t GetLastError() override { return inner_.GetLastError(); }
  bool ExitWindowsEx(uint32_t flags, uint32_t reserved) override {
    return inner_.ExitWindowsEx(flags, reserved);
  }

 private:
  Platform& inner_;
};

// The pass-through request of an IOCTL_SCSI_PASS_THROUGH_DIRECT call, and what the engine will
// make of its answer: good when the call worked and no sense key came back.
inline const ScsiPassThroughDirect& PassThroughOf(const IoctlCall& call) {
  return *static_cast<const ScsiPassThroughDirect*>(call.in);
}
inline uint8_t SenseKeyOf(const IoctlCall& call) {
  const auto& request = PassThroughOf(call);
  return static_cast<const uint8_t*>(call.in)[request.SenseInfoOffset + 2] & 0x0F;
}

}  // namespace quorel::test
