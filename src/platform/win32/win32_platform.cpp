#include "platform/win32/win32_platform.h"

#include <windows.h>

#include <cstring>

namespace quorel {

static_assert(sizeof(OSVERSIONINFOA) == 148, "GetVersionExA is given the 148-byte structure");
static_assert(sizeof(HANDLE) == sizeof(Handle) && sizeof(HMODULE) == sizeof(Module));

Module Win32Platform::LoadLibraryA(const char* name) {
  return ::LoadLibraryA(name);
}

void* Win32Platform::GetProcAddress(Module module, const char* name) {
  return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(module), name));
}

bool Win32Platform::FreeLibrary(Module module) {
  return ::FreeLibrary(static_cast<HMODULE>(module)) != FALSE;
}

bool Win32Platform::GetSystemDirectoryA(char* buffer, uint32_t sizeBytes) {
  if (buffer == nullptr || sizeBytes == 0) return false;
  // The API answers the size needed (terminator included) when the buffer is too small.
  const UINT length = ::GetSystemDirectoryA(buffer, sizeBytes);
  if (length == 0 || length >= sizeBytes) {
    buffer[0] = '\0';
    return false;
  }
  if (buffer[length - 1] == '\\') buffer[length - 1] = '\0';  // a root directory ("C:\")
  return true;
}

Handle Win32Platform::CreateFileA(const char* path, uint32_t access, uint32_t share,
                                  uint32_t disposition, uint32_t flags) {
  return ::CreateFileA(path, access, share, nullptr, disposition, flags, nullptr);
}

bool Win32Platform::DeviceIoControl(Handle device, uint32_t code, void* in, uint32_t inBytes,
                                    void* out, uint32_t outBytes, uint32_t* returnedBytes) {
  // Without an OVERLAPPED structure the API needs somewhere to store the count.
  DWORD returned = 0;
  const BOOL ok = ::DeviceIoControl(device, code, in, inBytes, out, outBytes, &returned, nullptr);
  if (returnedBytes != nullptr) *returnedBytes = returned;
  return ok != FALSE;
}

bool Win32Platform::CloseHandle(Handle handle) {
  return ::CloseHandle(handle) != FALSE;
}

uint32_t Win32Platform::GetLogicalDriveStringsA(uint32_t bufferBytes, char* buffer) {
  return ::GetLogicalDriveStringsA(bufferBytes, buffer);
}

uint32_t Win32Platform::GetDriveTypeA(const char* rootPath) {
  return ::GetDriveTypeA(rootPath);
}

Handle Win32Platform::GetProcessHeap() {
  return ::GetProcessHeap();
}

void* Win32Platform::HeapAlloc(Handle heap, uint32_t flags, uint32_t bytes) {
  return ::HeapAlloc(heap, flags, bytes);
}

bool Win32Platform::HeapFree(Handle heap, void* memory) {
  return ::HeapFree(heap, 0, memory) != FALSE;
}

Handle Win32Platform::CreateEventA(bool manualReset, bool initialState) {
  return ::CreateEventA(nullptr, manualReset ? TRUE : FALSE, initialState ? TRUE : FALSE, nullptr);
}

uint32_t Win32Platform::WaitForSingleObject(Handle handle, uint32_t milliseconds) {
  return ::WaitForSingleObject(handle, milliseconds);
}

void Win32Platform::Sleep(uint32_t milliseconds) {
  ::Sleep(milliseconds);
}

bool Win32Platform::QueryPerformanceFrequency(int64_t* ticksPerSecond) {
  LARGE_INTEGER value{};
  const BOOL ok = ::QueryPerformanceFrequency(&value);
  *ticksPerSecond = ok ? value.QuadPart : 0;
  return ok != FALSE && value.QuadPart != 0;
}

bool Win32Platform::QueryPerformanceCounter(int64_t* ticks) {
  LARGE_INTEGER value{};
  const BOOL ok = ::QueryPerformanceCounter(&value);
  *ticks = ok ? value.QuadPart : 0;
  return ok != FALSE;
}

int Win32Platform::MessageBoxA(const char* text, const char* caption, uint32_t type) {
  return ::MessageBoxA(nullptr, text, caption, type);
}

void ProcessPendingMessages() {
  MSG message;
  while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      ::PostQuitMessage(static_cast<int>(message.wParam));
      return;
    }
    ::TranslateMessage(&message);
    ::DispatchMessageA(&message);
  }
}

void Win32Platform::ProcessMessages() {
  ProcessPendingMessages();
}

void Win32Platform::OutputDebugStringA(const char* text) {
  ::OutputDebugStringA(text);
}

int Win32Platform::CompareStringA(const char* a, int lengthA, const char* b, int lengthB) {
  return ::CompareStringA(LOCALE_USER_DEFAULT, 0, a, lengthA, b, lengthB);
}

bool Win32Platform::GetVersionExA(OsVersion* version) {
  OSVERSIONINFOA info;
  std::memset(&info, 0, sizeof info);
  info.dwOSVersionInfoSize = sizeof info;
  if (!::GetVersionExA(&info)) return false;
  version->platformId = info.dwPlatformId;
  version->majorVersion = info.dwMajorVersion;
  version->minorVersion = info.dwMinorVersion;
  return true;
}

Handle Win32Platform::GetCurrentProcess() {
  return ::GetCurrentProcess();
}

// The privilege functions exist only as failing stubs on Windows 9x, where the program never
// calls them. They are found at run time, so that the executable's import table does not
// depend on what the 9x ADVAPI32 exports; a missing one fails with ERROR_CALL_NOT_IMPLEMENTED.
template <typename Function>
Function SecurityFunction(const char* name) {
  const HMODULE library = ::LoadLibraryA("advapi32.dll");  // kept loaded for the process
  if (library == nullptr) return nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(library, name)));
}

bool Win32Platform::OpenProcessToken(Handle process, uint32_t access, Handle* token) {
  using Fn = BOOL(WINAPI*)(HANDLE, DWORD, PHANDLE);
  *token = nullptr;
  const auto open = SecurityFunction<Fn>("OpenProcessToken");
  if (open == nullptr) {
    ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return false;
  }
  HANDLE opened = nullptr;
  const BOOL ok = open(process, access, &opened);
  if (ok) *token = opened;
  return ok != FALSE;
}

bool Win32Platform::LookupPrivilegeValueA(const char* systemName, const char* name,
                                          uint64_t* luid) {
  using Fn = BOOL(WINAPI*)(LPCSTR, LPCSTR, PLUID);
  const auto lookup = SecurityFunction<Fn>("LookupPrivilegeValueA");
  if (lookup == nullptr) {
    ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return false;
  }
  LUID value{};
  if (!lookup(systemName, name, &value)) return false;
  *luid = (uint64_t{static_cast<uint32_t>(value.HighPart)} << 32) | value.LowPart;
  return true;
}

bool Win32Platform::AdjustTokenPrivileges(Handle token, uint64_t luid, uint32_t attributes) {
  using Fn = BOOL(WINAPI*)(HANDLE, BOOL, PTOKEN_PRIVILEGES, DWORD, PTOKEN_PRIVILEGES, PDWORD);
  const auto adjust = SecurityFunction<Fn>("AdjustTokenPrivileges");
  if (adjust == nullptr) {
    ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return false;
  }
  TOKEN_PRIVILEGES privileges{};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Luid.LowPart = static_cast<DWORD>(luid);
  privileges.Privileges[0].Luid.HighPart = static_cast<LONG>(luid >> 32);
  privileges.Privileges[0].Attributes = attributes;
  return adjust(token, FALSE, &privileges, 0, nullptr, nullptr) != FALSE;
}

uint32_t Win32Platform::GetLastError() {
  return ::GetLastError();
}

bool Win32Platform::ExitWindowsEx(uint32_t flags, uint32_t reserved) {
  return ::ExitWindowsEx(flags, reserved) != FALSE;
}

}  // namespace quorel
