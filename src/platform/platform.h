// The platform seam: every operating-system call the core makes goes through this interface.
// The Windows build binds it to the real API (platform/win32); host tests bind a simulated
// machine. The core never includes <windows.h>.
#pragma once

#include <cstdint>
#include <functional>

namespace quorel {

using Handle = void*;  // file, event or token handle
using Module = void*;  // loaded library
inline Handle const kInvalidHandle = reinterpret_cast<Handle>(static_cast<intptr_t>(-1));

// Values of the Windows API that the core passes through the seam unchanged.
namespace win {
constexpr uint32_t kGenericRead = 0x80000000u;
constexpr uint32_t kGenericWrite = 0x40000000u;
constexpr uint32_t kFileShareRead = 0x1;
constexpr uint32_t kFileShareWrite = 0x2;
constexpr uint32_t kOpenExisting = 3;
constexpr uint32_t kDriveCdrom = 5;
constexpr uint32_t kHeapZeroMemory = 0x8;
constexpr uint32_t kWaitObject0 = 0;
constexpr uint32_t kWaitTimeout = 0x102;
constexpr uint32_t kIoctlScsiPassThroughDirect = 0x0004D014;
constexpr uint32_t kIoctlScsiGetAddress = 0x00041018;
constexpr uint32_t kIoctlStorageQueryProperty = 0x002D1400;
// CTL_CODE(IOCTL_CDROM_BASE, 0x17, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS)
constexpr uint32_t kIoctlCdromExclusiveAccess = 0x0002C05C;
constexpr uint32_t kPlatformWin32Windows = 1;  // the 9x family
constexpr uint32_t kPlatformWin32Nt = 2;
constexpr uint32_t kTokenAdjustPrivileges = 0x20;
constexpr uint32_t kTokenQuery = 0x8;
constexpr uint32_t kSePrivilegeEnabled = 2;
constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorNotAllAssigned = 1300;
constexpr uint32_t kEwxReboot = 2;
constexpr uint32_t kEwxForce = 4;
constexpr uint32_t kMbOk = 0x0;
constexpr uint32_t kMbIconError = 0x10;  // MB_ICONERROR, MB_ICONHAND, MB_ICONSTOP
}  // namespace win

// ASPI manager entry points (__cdecl, as the manager exports them).
using GetAspiSupportInfoFn = uint32_t (*)();
using SendAspiCommandFn = uint32_t (*)(void* srb);

// What GetVersionExA reports that the program uses.
struct OsVersion {
  uint32_t platformId = 0;
  uint32_t majorVersion = 0;
  uint32_t minorVersion = 0;
};

class Platform {
 public:
  virtual ~Platform() = default;

  // Libraries.
  virtual Module LoadLibraryA(const char* name) = 0;
  virtual void* GetProcAddress(Module module, const char* name) = 0;
  virtual bool FreeLibrary(Module module) = 0;
  // The system directory (GetSystemDirectoryA), without a trailing backslash.
  virtual bool GetSystemDirectoryA(char* buffer, uint32_t sizeBytes) = 0;

  // Devices.
  virtual Handle CreateFileA(const char* path, uint32_t access, uint32_t share,
                             uint32_t disposition, uint32_t flags) = 0;
  virtual bool DeviceIoControl(Handle device, uint32_t code, void* in, uint32_t inBytes, void* out,
                               uint32_t outBytes, uint32_t* returnedBytes) = 0;
  virtual bool CloseHandle(Handle handle) = 0;
  // Returns the length needed or written, as GetLogicalDriveStringsA does.
  virtual uint32_t GetLogicalDriveStringsA(uint32_t bufferBytes, char* buffer) = 0;
  virtual uint32_t GetDriveTypeA(const char* rootPath) = 0;

  // The process heap.
  virtual Handle GetProcessHeap() = 0;
  virtual void* HeapAlloc(Handle heap, uint32_t flags, uint32_t bytes) = 0;
  virtual bool HeapFree(Handle heap, void* memory) = 0;

  // Events, waits and time.
  virtual Handle CreateEventA(bool manualReset, bool initialState) = 0;
  virtual uint32_t WaitForSingleObject(Handle handle, uint32_t milliseconds) = 0;
  virtual void Sleep(uint32_t milliseconds) = 0;
  virtual bool QueryPerformanceFrequency(int64_t* ticksPerSecond) = 0;
  virtual bool QueryPerformanceCounter(int64_t* ticks) = 0;

  // User interface.
  virtual int MessageBoxA(const char* text, const char* caption, uint32_t type) = 0;
  // Lets the calling thread's pending window messages be processed.
  virtual void ProcessMessages() = 0;
  // Debugger output (OutputDebugStringA); a no-op where there is none.
  virtual void OutputDebugStringA(const char* text) = 0;

  // Locale collation: CompareStringA(LOCALE_USER_DEFAULT, 0, ...): 1 less, 2 equal, 3 greater,
  // 0 on failure. A length of -1 means zero-terminated.
  virtual int CompareStringA(const char* a, int lengthA, const char* b, int lengthB) = 0;

  // Version, privileges and shutdown.
  virtual bool GetVersionExA(OsVersion* version) = 0;
  virtual Handle GetCurrentProcess() = 0;
  virtual bool OpenProcessToken(Handle process, uint32_t access, Handle* token) = 0;
  // The locally unique identifier as one 64-bit value (LowPart in the low 32 bits).
  virtual bool LookupPrivilegeValueA(const char* systemName, const char* name, uint64_t* luid) = 0;
  // One privilege, DisableAllPrivileges FALSE, no previous state asked for.
  virtual bool AdjustTokenPrivileges(Handle token, uint64_t luid, uint32_t attributes) = 0;
  virtual uint32_t GetLastError() = 0;
  virtual bool ExitWindowsEx(uint32_t flags, uint32_t reserved) = 0;
};

// The binding in force for the process. The Windows entry point installs the real API;
// tests install a simulated machine. Never null once installed.
Platform& platform();
void SetPlatform(Platform* binding);

// Runs work on the window thread and returns when it has run there; the calling (worker)
// thread waits meanwhile. Windows: a message sent to the main window; host: a queue that tests
// pump. Installed like the platform binding.
class UiDispatcher {
 public:
  virtual ~UiDispatcher() = default;
  virtual void RunOnUiThread(const std::function<void()>& work) = 0;
};
UiDispatcher& uiDispatcher();
void SetUiDispatcher(UiDispatcher* dispatcher);

}  // namespace quorel
