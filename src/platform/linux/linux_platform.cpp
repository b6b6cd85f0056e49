#include "platform/linux/linux_platform.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <stdexcept>
#include <utility>

#include "platform/collation.h"
#include "platform/linux/device_control.h"

namespace quorel {
namespace {

constexpr char kClassBlockDirectory[] = "/sys/class/block";
constexpr char kFirstLetter = 'D';
constexpr size_t kMaxLetters = 'Z' - kFirstLetter + 1;
// Named like the system directory the core expects; nothing is ever loaded from it.
constexpr char kSystemDirectory[] = "C:\\WINDOWS\\SYSTEM32";
constexpr char kDebugOutputVariable[] = "QUOREL_DEBUG_OUTPUT";
constexpr uint32_t kInfinite = 0xFFFFFFFFu;
constexpr uint32_t kWaitFailed = 0xFFFFFFFFu;
constexpr uint32_t kDriveNoRootDir = 1;
constexpr int kIdOk = 1;
constexpr uint64_t kShutdownPrivilegeLuid = 19;
// Handle values: the heap's below the first table entry, never a file descriptor.
constexpr uintptr_t kHeapValue = 0x100;
constexpr uintptr_t kFirstHandleValue = 0x1000;
constexpr uintptr_t kHandleStep = 4;

thread_local uint32_t t_lastError = 0;

template <typename T>
T Fail(uint32_t error, T result) {
  t_lastError = error;
  return result;
}

// An open drive; the descriptor closes with the last user, so that a handle closed on one
// thread never pulls the descriptor from under an ioctl running on another.
struct OpenDrive {
  int fd = -1;
  ~OpenDrive() {
    if (fd >= 0) ::close(fd);
  }
};

struct Event {
  std::mutex mutex;
  std::condition_variable signal;
  bool manualReset = false;
  bool signalled = false;
};

struct Object {
  std::shared_ptr<OpenDrive> drive;
  std::shared_ptr<Event> event;
  bool token = false;
};

// The index of the drive letter named by "X:" followed by rest (exactly), or -1.
int LetterIndex(const char* text, const char* rest) {
  if (text == nullptr || text[0] == '\0' || text[1] != ':') return -1;
  if (std::strcmp(text + 2, rest) != 0) return -1;
  int const letter = std::toupper(static_cast<unsigned char>(text[0]));
  if (letter < kFirstLetter || letter > 'Z') return -1;
  return letter - kFirstLetter;
}

}  // namespace

struct LinuxPlatform::State {
  std::vector<std::string> devices;  // index 0 is D:
  bool debugOutput = false;
  std::mutex mutex;  // guards what follows
  std::map<uintptr_t, Object> handles;
  uintptr_t nextHandle = kFirstHandleValue;
  std::function<bool()> restartHook;
  std::function<bool(const std::string&)> openHook;

  Handle Add(Object object) {
    std::lock_guard<std::mutex> lock(mutex);
    uintptr_t const value = nextHandle;
    handles.emplace(value, std::move(object));
    nextHandle += kHandleStep;
    return reinterpret_cast<Handle>(value);
  }
  Object Find(Handle handle) {
    std::lock_guard<std::mutex> lock(mutex);
    auto const it = handles.find(reinterpret_cast<uintptr_t>(handle));
    return it == handles.end() ? Object{} : it->second;
  }
};

LinuxPlatform::LinuxPlatform() : state_(std::make_unique<State>()) {
  state_->devices = sgio::OpticalDevicePaths(kClassBlockDirectory);
  if (state_->devices.size() > kMaxLetters) state_->devices.resize(kMaxLetters);
  state_->debugOutput = std::getenv(kDebugOutputVariable) != nullptr;
}

LinuxPlatform::LinuxPlatform(std::vector<std::string> devicePaths)
    : state_(std::make_unique<State>()) {
  if (devicePaths.size() > kMaxLetters) {
    throw std::invalid_argument("more device paths than drive letters D: to Z:");
  }
  for (const std::string& path : devicePaths) {
    if (path.empty()) throw std::invalid_argument("empty device path");
  }
  state_->devices = std::move(devicePaths);
  state_->debugOutput = std::getenv(kDebugOutputVariable) != nullptr;
}

LinuxPlatform::~LinuxPlatform() = default;

std::string LinuxPlatform::DevicePathOf(char letter) const {
  char const root[] = {letter, ':', '\0'};
  int const index = LetterIndex(root, "");
  if (index < 0 || static_cast<size_t>(index) >= state_->devices.size()) return {};
  return state_->devices[static_cast<size_t>(index)];
}

char LinuxPlatform::LetterOf(const std::string& devicePath) const {
  for (size_t i = 0; i < state_->devices.size(); ++i) {
    if (state_->devices[i] == devicePath) return static_cast<char>(kFirstLetter + i);
  }
  return '\0';
}

void LinuxPlatform::SetOpenHook(std::function<bool(const std::string&)> hook) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->openHook = std::move(hook);
}

void LinuxPlatform::SetRestartHook(std::function<bool()> hook) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->restartHook = std::move(hook);
}

// ---------------------------------------------------------------------------------------------
// Libraries: there is no ASPI manager to load.

Module LinuxPlatform::LoadLibraryA(const char*) {
  return Fail<Module>(sgio::kErrorModNotFound, nullptr);
}

void* LinuxPlatform::GetProcAddress(Module, const char*) {
  return Fail<void*>(sgio::kErrorProcNotFound, nullptr);
}

bool LinuxPlatform::FreeLibrary(Module) {
  return Fail(sgio::kErrorInvalidHandle, false);
}

bool LinuxPlatform::GetSystemDirectoryA(char* buffer, uint32_t sizeBytes) {
  if (buffer == nullptr || sizeBytes == 0) return false;
  if (sizeBytes < sizeof kSystemDirectory) {
    buffer[0] = '\0';
    return Fail(sgio::kErrorInsufficientBuffer, false);
  }
  std::memcpy(buffer, kSystemDirectory, sizeof kSystemDirectory);
  return true;
}

// ---------------------------------------------------------------------------------------------
// Devices

Handle LinuxPlatform::CreateFileA(const char* path, uint32_t access, uint32_t, uint32_t, uint32_t) {
  constexpr char kDevicePrefix[] = "\\\\.\\";
  constexpr size_t kPrefixLength = sizeof kDevicePrefix - 1;
  if (path == nullptr || std::strncmp(path, kDevicePrefix, kPrefixLength) != 0) {
    return Fail(sgio::kErrorFileNotFound, kInvalidHandle);
  }
  int const index = LetterIndex(path + kPrefixLength, "");
  if (index < 0 || static_cast<size_t>(index) >= state_->devices.size()) {
    return Fail(sgio::kErrorFileNotFound, kInvalidHandle);
  }
  const std::string& device = state_->devices[static_cast<size_t>(index)];
  std::function<bool(const std::string&)> openHook;
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    openHook = state_->openHook;
  }
  if (openHook && !openHook(device)) return Fail(sgio::kErrorBusy, kInvalidHandle);
  // Without blocking: a drive without a disc opens too.
  int const mode = (access & win::kGenericWrite) != 0 ? O_RDWR : O_RDONLY;
  auto drive = std::make_shared<OpenDrive>();
  do {
    drive->fd = ::open(device.c_str(), mode | O_NONBLOCK | O_CLOEXEC);
  } while (drive->fd < 0 && errno == EINTR);
  if (drive->fd < 0) return Fail(sgio::WindowsErrorOf(errno), kInvalidHandle);
  return state_->Add(Object{std::move(drive), nullptr, false});
}

bool LinuxPlatform::DeviceIoControl(Handle device, uint32_t code, void* in, uint32_t inBytes,
                                    void* out, uint32_t outBytes, uint32_t* returnedBytes) {
  if (returnedBytes != nullptr) *returnedBytes = 0;
  std::shared_ptr<OpenDrive> const drive = state_->Find(device).drive;
  if (!drive) return Fail(sgio::kErrorInvalidHandle, false);
  int const fd = drive->fd;
  auto const ioctl = [fd](unsigned long request, void* argument) {
    return ::ioctl(fd, request, argument) == 0 ? 0 : errno;
  };
  uint32_t const error =
      sgio::ControlDevice(code, in, inBytes, out, outBytes, returnedBytes, ioctl);
  return error == 0 || Fail(error, false);
}

bool LinuxPlatform::CloseHandle(Handle handle) {
  std::shared_ptr<OpenDrive> drive;  // closed after the lock is let go
  std::lock_guard<std::mutex> lock(state_->mutex);
  auto const it = state_->handles.find(reinterpret_cast<uintptr_t>(handle));
  if (it == state_->handles.end()) return Fail(sgio::kErrorInvalidHandle, false);
  drive = std::move(it->second.drive);
  state_->handles.erase(it);
  return true;
}

uint32_t LinuxPlatform::GetLogicalDriveStringsA(uint32_t bufferBytes, char* buffer) {
  // "D:\", "E:\", ... each ending in a zero, then one more zero.
  size_t const count = state_->devices.size();
  uint32_t const needed = static_cast<uint32_t>(count * 4 + 1);
  if (buffer == nullptr || bufferBytes < needed) return needed;
  for (size_t i = 0; i < count; ++i) {
    char const root[4] = {static_cast<char>(kFirstLetter + i), ':', '\\', '\0'};
    std::memcpy(buffer + i * 4, root, sizeof root);
  }
  buffer[count * 4] = '\0';
  return needed - 1;
}

uint32_t LinuxPlatform::GetDriveTypeA(const char* rootPath) {
  int index = LetterIndex(rootPath, "\\");
  if (index < 0) index = LetterIndex(rootPath, "");
  if (index < 0 || static_cast<size_t>(index) >= state_->devices.size()) return kDriveNoRootDir;
  return win::kDriveCdrom;
}

// ---------------------------------------------------------------------------------------------
// The process heap: the C heap.

Handle LinuxPlatform::GetProcessHeap() {
  return reinterpret_cast<Handle>(kHeapValue);
}

void* LinuxPlatform::HeapAlloc(Handle heap, uint32_t flags, uint32_t bytes) {
  if (heap != reinterpret_cast<Handle>(kHeapValue)) {
    return Fail<void*>(sgio::kErrorInvalidHandle, nullptr);
  }
  size_t const size = bytes == 0 ? 1 : bytes;
  void* const block =
      (flags & win::kHeapZeroMemory) != 0 ? std::calloc(size, 1) : std::malloc(size);
  return block != nullptr ? block : Fail<void*>(sgio::kErrorNotEnoughMemory, nullptr);
}

bool LinuxPlatform::HeapFree(Handle heap, void* memory) {
  if (heap != reinterpret_cast<Handle>(kHeapValue)) {
    return Fail(sgio::kErrorInvalidHandle, false);
  }
  std::free(memory);
  return true;
}

// ---------------------------------------------------------------------------------------------
// Events, waits and time

Handle LinuxPlatform::CreateEventA(bool manualReset, bool initialState) {
  auto event = std::make_shared<Event>();
  event->manualReset = manualReset;
  event->signalled = initialState;
  return state_->Add(Object{nullptr, std::move(event), false});
}

uint32_t LinuxPlatform::WaitForSingleObject(Handle handle, uint32_t milliseconds) {
  std::shared_ptr<Event> const event = state_->Find(handle).event;
  if (!event) return Fail(sgio::kErrorInvalidHandle, kWaitFailed);
  std::unique_lock<std::mutex> lock(event->mutex);
  auto const signalled = [&] { return event->signalled; };
  if (milliseconds == kInfinite) {
    event->signal.wait(lock, signalled);
  } else if (!event->signal.wait_for(lock, std::chrono::milliseconds(milliseconds), signalled)) {
    return win::kWaitTimeout;
  }
  if (!event->manualReset) event->signalled = false;
  return win::kWaitObject0;
}

void LinuxPlatform::Sleep(uint32_t milliseconds) {
  timespec remaining{static_cast<time_t>(milliseconds / 1000),
                     static_cast<long>(milliseconds % 1000) * 1'000'000L};
  while (::nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
  }
}

bool LinuxPlatform::QueryPerformanceFrequency(int64_t* ticksPerSecond) {
  if (ticksPerSecond == nullptr) return false;
  *ticksPerSecond = 1'000'000'000;  // the counter counts nanoseconds
  return true;
}

bool LinuxPlatform::QueryPerformanceCounter(int64_t* ticks) {
  timespec now{};
  if (ticks == nullptr || ::clock_gettime(CLOCK_MONOTONIC, &now) != 0) return false;
  *ticks = int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
  return true;
}

// ---------------------------------------------------------------------------------------------
// User interface and collation

int LinuxPlatform::MessageBoxA(const char* text, const char* caption, uint32_t) {
  // One write, so that boxes from two threads do not interleave.
  std::string const line =
      std::string(caption != nullptr ? caption : "") + ": " + (text != nullptr ? text : "") + "\n";
  std::fputs(line.c_str(), stderr);
  return kIdOk;
}

// No window messages here; the timed waits call this in a loop, so give the processor away for
// a moment rather than spin.
void LinuxPlatform::ProcessMessages() {
  Sleep(1);
}

void LinuxPlatform::OutputDebugStringA(const char* text) {
  if (state_->debugOutput && text != nullptr) std::fputs(text, stderr);
}

int LinuxPlatform::CompareStringA(const char* a, int lengthA, const char* b, int lengthB) {
  return HostCompareStringA(a, lengthA, b, lengthB);
}

// ---------------------------------------------------------------------------------------------
// Version, privileges and shutdown

bool LinuxPlatform::GetVersionExA(OsVersion* version) {
  if (version == nullptr) return false;
  // Windows XP: the NT family, whose pass-through the binding provides.
  version->platformId = win::kPlatformWin32Nt;
  version->majorVersion = 5;
  version->minorVersion = 1;
  return true;
}

Handle LinuxPlatform::GetCurrentProcess() {
  return reinterpret_cast<Handle>(static_cast<intptr_t>(-1));  // the pseudo-handle
}

bool LinuxPlatform::OpenProcessToken(Handle, uint32_t, Handle* token) {
  if (token == nullptr) return Fail(sgio::kErrorInvalidParameter, false);
  *token = state_->Add(Object{nullptr, nullptr, true});
  return true;
}

bool LinuxPlatform::LookupPrivilegeValueA(const char*, const char*, uint64_t* luid) {
  if (luid == nullptr) return Fail(sgio::kErrorInvalidParameter, false);
  *luid = kShutdownPrivilegeLuid;
  return true;
}

bool LinuxPlatform::AdjustTokenPrivileges(Handle token, uint64_t, uint32_t) {
  if (!state_->Find(token).token) return Fail(sgio::kErrorInvalidHandle, false);
  // The caller reads the last error to learn whether the privilege was granted: it was.
  t_lastError = 0;
  return true;
}

uint32_t LinuxPlatform::GetLastError() {
  return t_lastError;
}

bool LinuxPlatform::ExitWindowsEx(uint32_t, uint32_t) {
  std::function<bool()> hook;
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    hook = state_->restartHook;
  }
  if (!hook) return Fail(sgio::kErrorNotSupported, false);
  return hook() || Fail(sgio::kErrorAccessDenied, false);
}

}  // namespace quorel
