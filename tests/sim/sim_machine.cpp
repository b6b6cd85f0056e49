#include "sim/sim_machine.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <limits>
#include <mutex>
#include <set>
#include <stdexcept>

#include "platform/collation.h"
#include "platform/scsi_structs.h"
#include "sim/aspi_manager.h"

namespace quorel::sim {

// ---------------------------------------------------------------------------------------------
// SimMachine state

namespace {

constexpr char kSystemDirectory[] = "C:\\WINDOWS\\SYSTEM32";
constexpr char kAspiFileName[] = "WNASPI32.DLL";
constexpr uintptr_t kAspiModuleValue = 0x7E000000;
constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorInvalidHandle = 6;
constexpr uint32_t kErrorInvalidFunction = 1;
constexpr uint32_t kErrorSemTimeout = 121;
constexpr uint32_t kErrorNotEnoughMemory = 8;
constexpr uint32_t kErrorBadCommand = 22;
constexpr uint32_t kErrorBadLength = 24;
constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kErrorInsufficientBuffer = 122;

// IOCTL_CDROM_EXCLUSIVE_ACCESS as the CD-ROM class driver takes it: CDROM_EXCLUSIVE_ACCESS
// { RequestType, Flags } (8 bytes), for a lock followed by the 64-byte caller name; a query
// answers CDROM_EXCLUSIVE_LOCK_STATE { BOOLEAN LockState; UCHAR CallerName[64]; }.
constexpr uint32_t kExclusiveQuery = 0, kExclusiveLock = 1, kExclusiveUnlock = 2;
constexpr uint32_t kLockIgnoreVolume = 1;
constexpr uint32_t kExclusiveAccessBytes = 8;
constexpr uint32_t kCallerNameBytes = 64;
constexpr uint32_t kLockStateBytes = 1 + kCallerNameBytes;

// Zero-terminated within 64 bytes, of letters, digits, blanks and . , : ; - _ only.
bool ValidCallerName(const uint8_t* name) {
  for (uint32_t i = 0; i < kCallerNameBytes; ++i) {
    const unsigned char c = name[i];
    if (c == 0) return true;
    if (std::isalnum(c) == 0 && std::strchr(" .,:;-_", c) == nullptr) return false;
  }
  return false;
}
constexpr uint64_t kShutdownPrivilegeLuid = 19;

// GetLastError is per thread on Windows; so it is here.
thread_local uint32_t t_lastError = 0;

SimMachine* g_current = nullptr;

bool EqualNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) !=
        std::toupper(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

std::string Hex(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "%llX", static_cast<unsigned long long>(value));
  return text;
}

std::string Quote(const char* text) {
  return text == nullptr ? "(null)" : std::string(text);
}

}  // namespace

// The simulated machine as the host of the simulated ASPI manager; its calls come with the
// machine's mutex held.
struct SimMachine::AspiSide : AspiHost {
  explicit AspiSide(SimMachine& machine) : m(machine) {}

  int AdapterCount() override { return std::max(m.aspi.adapterCount, 0); }
  bool AdapterInquiryFails(int adapter) override {
    return m.aspi.haInquiryFails ||
           (m.aspi.haInquiryFailsFromAdapter >= 0 && adapter >= m.aspi.haInquiryFailsFromAdapter);
  }
  int DeviceType(int adapter, int target, int lun) override {
    for (auto const& device : m.aspi.devices) {
      if (device.adapter == adapter && device.target == target && device.lun == lun)
        return device.deviceType;
    }
    return -1;
  }
  bool Run(const SRB_ExecSCSICmd& request, const uint8_t* cdb, int direction, uint8_t* data,
           uint32_t lengthBytes, CommandResult& result) override {
    if (m.aspi.execNeverCompletes) {
      result.delaySeconds = std::numeric_limits<double>::infinity();
      return true;
    }
    for (auto const& device : m.aspi.devices) {
      if (device.adapter == request.SRB_HaId && device.target == request.SRB_Target &&
          device.lun == request.SRB_Lun && device.drive) {
        result = m.RunDrive(*device.drive, cdb, direction, data, lengthBytes);
        return true;
      }
    }
    return false;
  }
  // With SRB_EVENT_NOTIFY and a live event the request stays pending until a wait on the event
  // reaches its end; without, the command's time passes before the status shows.
  double HoldSeconds(const SRB_ExecSCSICmd& request, const CommandResult& result) override {
    double const seconds =
        m.aspi.execNeverCompletes ? std::numeric_limits<double>::infinity() : result.delaySeconds;
    if ((request.SRB_Flags & SRB_EVENT_NOTIFY) != 0) {
      if (bool* signalled = Signalled(request.SRB_PostProc)) {
        *signalled = false;
        return seconds;
      }
    }
    if (m.aspi.execNeverCompletes) return seconds;
    m.AdvanceSeconds(seconds);
    return -1.0;
  }
  double Now() override { return m.NowSeconds(); }
  // An event closed since is not signalled: the manager no longer reports the end to anyone.
  void Post(SRB_ExecSCSICmd*, uint8_t flags, void* postProc) override {
    if ((flags & SRB_EVENT_NOTIFY) == 0) return;
    if (bool* signalled = Signalled(postProc)) *signalled = true;
  }

  // The signalled state of the event behind a handle; null when the handle is no event.
  bool* Signalled(const void* handle);

  SimMachine& m;
};

struct SimMachine::State {
  explicit State(SimMachine& machine) : aspiSide(machine), aspi(aspiSide) {}

  mutable Lock mutex;
  std::atomic<int64_t> counter{1'000'000};  // never 0: a running HiTimer is one with start != 0
  std::atomic<int> counterReads{0};
  std::atomic<int> frequencyQueries{0};

  std::vector<Call> calls;
  std::map<std::string, int> callCounts;
  ThreadId uiThread = 0;
  SimMachine* previous = nullptr;  // the machine installed before this one

  enum class Kind { File, Event, Token };
  struct HandleInfo {
    Kind kind = Kind::File;
    int letterIndex = -1;  // files: index into letters
    bool manualReset = true;
    bool signalled = false;
  };
  std::map<uintptr_t, HandleInfo> handles;
  uintptr_t nextHandle = 0x100;
  // Exclusive access by letter index: the handle that holds it and the name it gave.
  struct ExclusiveLock {
    uintptr_t owner = 0;
    std::string callerName;
  };
  std::map<int, ExclusiveLock> exclusive;

  int aspiModuleRefs = 0;
  int aspiCallsWithoutModule = 0;
  std::vector<std::string> loadRequests;
  std::set<void*> heapBlocks;

  AspiSide aspiSide;
  AspiManager aspi;
};

bool* SimMachine::AspiSide::Signalled(const void* handle) {
  auto it = m.state_->handles.find(reinterpret_cast<uintptr_t>(handle));
  if (it == m.state_->handles.end() || it->second.kind != State::Kind::Event) return nullptr;
  return &it->second.signalled;
}

namespace {

// ASPI entry points handed out by GetProcAddress: plain functions that reach the machine in
// force.
uint32_t TrampolineGetSupportInfo() {
  if (g_current == nullptr) return 0;
  return g_current->AspiGetSupportInfo();
}

uint32_t TrampolineSendCommand(void* srb) {
  if (g_current == nullptr) return 0;
  return g_current->AspiSendCommand(srb);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Construction and records

SimMachine::SimMachine() : state_(std::make_unique<State>(*this)) {
  state_->uiThread = CurrentThreadId();
  state_->previous = g_current;
  g_current = this;
  t_lastError = 0;
  SetPlatform(this);
  SetUiDispatcher(&dispatcher_);
}

SimMachine::~SimMachine() {
  // A machine built while another was installed gives the binding back to it.
  SimMachine* const previous = state_->previous;
  if (g_current == this) g_current = previous;
  SetPlatform(previous);
  SetUiDispatcher(previous != nullptr ? &previous->dispatcher_ : nullptr);
  {
    // The manager finishes what it still holds before it goes.
    std::lock_guard<Lock> lock(state_->mutex);
    state_->aspi.EndAllThatEnd();
  }
  for (void* block : state_->heapBlocks) std::free(block);
}

void SimMachine::Record(const std::string& name, const std::string& args) {
  ++state_->callCounts[name];
  // Window-message pumping comes in long runs (busy waits); a run is kept as one entry.
  if (name == "ProcessMessages" && !state_->calls.empty() && state_->calls.back().name == name) {
    state_->calls.back().args = std::to_string(std::atoi(state_->calls.back().args.c_str()) + 1);
    return;
  }
  state_->calls.push_back(Call{name, name == "ProcessMessages" ? "1" : args});
}

std::vector<Call> SimMachine::Calls() const {
  std::lock_guard<Lock> lock(state_->mutex);
  return state_->calls;
}

int SimMachine::CountCalls(const std::string& name) const {
  if (name == "QueryPerformanceCounter") return state_->counterReads.load();
  if (name == "QueryPerformanceFrequency") return state_->frequencyQueries.load();
  std::lock_guard<Lock> lock(state_->mutex);
  auto it = state_->callCounts.find(name);
  return it == state_->callCounts.end() ? 0 : it->second;
}

void SimMachine::ClearCalls() {
  std::lock_guard<Lock> lock(state_->mutex);
  state_->calls.clear();
  state_->callCounts.clear();
  state_->counterReads = 0;
  state_->frequencyQueries = 0;
}

int SimMachine::openHandles() const {
  std::lock_guard<Lock> lock(state_->mutex);
  return static_cast<int>(state_->handles.size());
}

int SimMachine::loadedModules() const {
  std::lock_guard<Lock> lock(state_->mutex);
  return state_->aspiModuleRefs;
}

int SimMachine::liveHeapBlocks() const {
  std::lock_guard<Lock> lock(state_->mutex);
  return static_cast<int>(state_->heapBlocks.size());
}

int SimMachine::aspiCallsWithoutModule() const {
  std::lock_guard<Lock> lock(state_->mutex);
  return state_->aspiCallsWithoutModule;
}

int SimMachine::aspiRequestsPending() const {
  std::lock_guard<Lock> lock(state_->mutex);
  return state_->aspi.Pending();
}

int SimMachine::aspiRequestsResentWhileHeld() const {
  std::lock_guard<Lock> lock(state_->mutex);
  return state_->aspi.ResentWhileHeld();
}

std::vector<std::string> SimMachine::LibraryRequests() const {
  std::lock_guard<Lock> lock(state_->mutex);
  return state_->loadRequests;
}

std::string SimMachine::AspiLibraryPath() {
  return std::string(kSystemDirectory) + "\\" + kAspiFileName;
}

double SimMachine::NowSeconds() const {
  int64_t const frequency = counterFrequency > 0 ? counterFrequency : 10'000'000;
  return static_cast<double>(state_->counter.load()) / static_cast<double>(frequency);
}

void SimMachine::AdvanceSeconds(double seconds) {
  if (!(seconds > 0.0) || !std::isfinite(seconds)) return;
  int64_t const frequency = counterFrequency > 0 ? counterFrequency : 10'000'000;
  state_->counter += static_cast<int64_t>(std::llround(seconds * static_cast<double>(frequency)));
}

std::shared_ptr<SimDrive> SimMachine::AddLetterDrive(char letter, uint8_t port, uint8_t target,
                                                     uint8_t lun, uint8_t pathId) {
  auto drive = std::make_shared<SimDrive>();
  drive->clock = [this] { return NowSeconds(); };
  LetterConfig config;
  config.letter = letter;
  config.port = port;
  config.targetId = target;
  config.lun = lun;
  config.pathId = pathId;
  config.drive = drive;
  letters.push_back(config);
  return drive;
}

std::shared_ptr<SimDrive> SimMachine::AddAspiDrive(uint8_t adapter, uint8_t target, uint8_t lun) {
  auto drive = std::make_shared<SimDrive>();
  drive->clock = [this] { return NowSeconds(); };
  AspiDeviceConfig config;
  config.adapter = adapter;
  config.target = target;
  config.lun = lun;
  config.drive = drive;
  aspi.devices.push_back(config);
  aspi.present = true;
  aspi.adapterCount = std::max(aspi.adapterCount, adapter + 1);
  return drive;
}

// Runs one command on a drive; the caller holds the mutex.
CommandResult SimMachine::RunDrive(SimDrive& drive, const uint8_t* cdb, int direction,
                                   uint8_t* data, uint32_t length) {
  if (!drive.clock) drive.clock = [this] { return NowSeconds(); };
  if (drive.vanished) {
    CommandResult failed;
    failed.status = Status::TransportFailure;
    return failed;
  }
  return drive.Execute(cdb, direction, data, length);
}

// ---------------------------------------------------------------------------------------------
// Libraries and the ASPI manager

Module SimMachine::LoadLibraryA(const char* name) {
  std::lock_guard<Lock> lock(state_->mutex);
  Record("LoadLibraryA", Quote(name));
  state_->loadRequests.push_back(Quote(name));
  if (name == nullptr || !aspi.present || !EqualNoCase(name, AspiLibraryPath())) {
    t_lastError = kErrorFileNotFound;
    return nullptr;
  }
  ++state_->aspiModuleRefs;
  return reinterpret_cast<Module>(kAspiModuleValue);
}

void* SimMachine::GetProcAddress(Module module, const char* name) {
  std::lock_guard<Lock> lock(state_->mutex);
  Record("GetProcAddress", Quote(name));
  if (module != reinterpret_cast<Module>(kAspiModuleValue) || state_->aspiModuleRefs == 0 ||
      name == nullptr)
    return nullptr;
  if (std::strcmp(name, "GetASPI32SupportInfo") == 0 && aspi.hasGetSupportInfo)
    return reinterpret_cast<void*>(&TrampolineGetSupportInfo);
  if (std::strcmp(name, "SendASPI32Command") == 0 && aspi.hasSendCommand)
    return reinterpret_cast<void*>(&TrampolineSendCommand);
  return nullptr;
}

bool SimMachine::FreeLibrary(Module module) {
  std::lock_guard<Lock> lock(state_->mutex);
  Record("FreeLibrary", Hex(reinterpret_cast<uintptr_t>(module)));
  if (module != reinterpret_cast<Module>(kAspiModuleValue) || state_->aspiModuleRefs == 0)
    return false;
  --state_->aspiModuleRefs;
  return true;
}

bool SimMachine::GetSystemDirectoryA(char* buffer, uint32_t sizeBytes) {
  std::lock_guard<Lock> lock(state_->mutex);
  Record("GetSystemDirectoryA", std::to_string(sizeBytes));
  if (buffer == nullptr || sizeBytes < sizeof kSystemDirectory) return false;
  std::memcpy(buffer, kSystemDirectory, sizeof kSystemDirectory);
  return true;
}

uint32_t SimMachine::AspiGetSupportInfo() {
  std::lock_guard<Lock> lock(state_->mutex);
  Record("GetASPI32SupportInfo", "");
  if (state_->aspiModuleRefs == 0) ++state_->aspiCallsWithoutModule;
  return (static_cast<uint32_t>(aspi.status) << 8) |
         static_cast<uint32_t>(std::clamp(aspi.adapterCount, 0, 255));
}

uint32_t SimMachine::AspiSendCommand(void* srb) {
  std::lock_guard<Lock> lock(state_->mutex);
  if (state_->aspiModuleRefs == 0) ++state_->aspiCallsWithoutModule;
  ThreadId const self = CurrentThreadId();
  state_->aspi.EndDue(self);
  state_->aspi.ignoreAborts = aspi.abortIgnored;
  auto* header = static_cast<SRB_Header*>(srb);
  std::string const ha = "ha=" + std::to_string(header->SRB_HaId);
  switch (header->SRB_Cmd) {
    case SC_HA_INQUIRY:
      Record("SendASPI32Command", "HA_INQUIRY " + ha);
      break;
    case SC_GET_DEV_TYPE: {
      auto* request = static_cast<SRB_GDEVBlock*>(srb);
      Record("SendASPI32Command", "GET_DEV_TYPE " + ha +
                                      " t=" + std::to_string(request->SRB_Target) +
                                      " l=" + std::to_string(request->SRB_Lun));
      break;
    }
    case SC_RESCAN_SCSI_BUS:
      Record("SendASPI32Command", "RESCAN " + ha);
      break;
    case SC_EXEC_SCSI_CMD: {
      auto* request = static_cast<SRB_ExecSCSICmd*>(srb);
      Record("SendASPI32Command",
             "EXEC " + ha + " t=" + std::to_string(request->SRB_Target) +
                 " l=" + std::to_string(request->SRB_Lun) + " flags=" + Hex(request->SRB_Flags) +
                 " len=" + std::to_string(request->SRB_BufLen) +
                 " buf=" + (request->SRB_BufPointer == nullptr ? "null" : "set") +
                 " cdb=" + Hex(request->CDBByte[0]));
      break;
    }
    case SC_ABORT_SRB:
      Record("SendASPI32Command", "ABORT " + ha);
      break;
    default:
      Record("SendASPI32Command", "cmd=" + std::to_string(header->SRB_Cmd));
      break;
  }
  return state_->aspi.Send(srb, self);
}

// ---------------------------------------------------------------------------------------------
// Devices

Handle SimMachine::NewHandle(int kind, int letterIndex) {
  uintptr_t const value = state_->nextHandle;
  state_->nextHandle += 4;
  State::HandleInfo info;
  info.kind = static_cast<State::Kind>(kind);
  info.letterIndex = letterIndex;
  state_->handles[value] = info;
  return reinterpret_cast<Handle>(value);
}

Handle SimMachine::CreateFileA(const char* path, uint32_t access, uint32_t share,
                               uint32_t disposition, uint32_t flags) {
  std::lock_guard<Lock> lock(state_->mutex);
  Record("CreateFileA", Quote(path) + " access=" + Hex(access) + " share=" + Hex(share) +
                            " disposition=" + std::to_string(disposition) + " flags=" + Hex(flags));
  std::string const text = Quote(path);
  if (text.size() == 6 && text.compare(0, 4, "\\\\.\\") == 0 && text[5] == ':') {
    char const letter = static_cast<char>(std::toupper(static_cast<unsigned char>(text[4])));
    for (size_t i = 0; i < letters.size(); ++i) {
      if (std::toupper(static_cast<unsigned char>(letters[i].letter)) != letter) continue;
      if (!letters[i].openable) {
        t_lastError = kErrorAccessDenied;
        return kInvalidHandle;
      }
      return NewHandle(static_cast<int>(State::Kind::File), static_cast<int>(i));
    }
  }
  t_lastError = kErrorFileNotFound;
  return kInvalidHandle;
}

bool SimMachine::DeviceIoControl(Handle device, uint32_t code, void* in, uint32_t inBytes,
                                 void* out, uint32_t outBytes, uint32_t* returnedBytes) {
  std::lock_guard<Lock> lock(state_->mutex);
  Record("DeviceIoControl",
         Hex(code) + " in=" + std::to_string(inBytes) + " out=" + std::to_string(outBytes));
  if (returnedBytes != nullptr) *returnedBytes = 0;
  auto it = state_->handles.find(reinterpret_cast<uintptr_t>(device));
  if (it == state_->handles.end() || it->second.kind != State::Kind::File) {
    t_lastError = kErrorInvalidHandle;
    return false;
  }
  LetterConfig& letter = letters[static_cast<size_t>(it->second.letterIndex)];

  switch (code) {
    case win::kIoctlScsiGetAddress: {
      // The control code takes no input; Wine refuses a call that gives one.
      if (in != nullptr || inBytes != 0) {
        t_lastError = kErrorInvalidParameter;
        return false;
      }
      if (letter.addressQuery == AddressQuery::Fail || out == nullptr ||
          outBytes < sizeof(ScsiAddress)) {
        t_lastError = kErrorInvalidFunction;
        return false;
      }
      ScsiAddress address{};
      if (letter.addressQuery == AddressQuery::Answer) {
        address.Length = sizeof(ScsiAddress);
        address.PortNumber = letter.port;
        address.PathId = letter.pathId;
        address.TargetId = letter.targetId;
        address.Lun = letter.lun;
      }
      std::memcpy(out, &address, sizeof address);
      if (returnedBytes != nullptr) *returnedBytes = sizeof address;
      return true;
    }
    case win::kIoctlStorageQueryProperty: {
      if (in == nullptr || inBytes < sizeof(StoragePropertyQuery) || out == nullptr) {
        t_lastError = kErrorInvalidFunction;
        return false;
      }
      // STORAGE_DEVICE_DESCRIPTOR of an ATAPI CD-ROM, no strings.
      uint8_t descriptor[40] = {};
      uint32_t const size = sizeof descriptor;
      std::memcpy(descriptor + 0, &size, 4);  // Version
      std::memcpy(descriptor + 4, &size, 4);  // Size
      descriptor[8] = 5;                      // DeviceType: CD-ROM
      descriptor[10] = 1;                     // RemovableMedia
      descriptor[28] = 3;                     // BusType: ATAPI
      uint32_t const copied = std::min<uint32_t>(outBytes, size);
      std::memcpy(out, descriptor, copied);
      if (returnedBytes != nullptr) *returnedBytes = copied;
      return true;
    }
    case win::kIoctlCdromExclusiveAccess:
      return ExclusiveAccess(it->first, it->second.letterIndex, in, inBytes, out, outBytes,
                             returnedBytes);
    case win::kIoctlScsiPassThroughDirect:
      return PassThrough(letter, in, inBytes, out, outBytes, returnedBytes);
    default:
      t_lastError = kErrorInvalidFunction;
      return false;
  }
}

// IOCTL_CDROM_EXCLUSIVE_ACCESS; the caller holds the mutex. Answers as the CD-ROM class driver
// of Windows Vista and later does; earlier systems do not know the code.
bool SimMachine::ExclusiveAccess(uintptr_t handle, int letterIndex, void* in, uint32_t inBytes,
                                 void* out, uint32_t outBytes, uint32_t* returnedBytes) {
  const auto fail = [](uint32_t error) {
    t_lastError = error;
    return false;
  };
  if (!exclusiveAccessSupported) return fail(kErrorInvalidFunction);
  if (in == nullptr || inBytes < kExclusiveAccessBytes) return fail(kErrorBadLength);
  const auto* request = static_cast<const uint8_t*>(in);
  uint32_t requestType = 0, flags = 0;
  std::memcpy(&requestType, request, 4);
  std::memcpy(&flags, request + 4, 4);
  auto lock = state_->exclusive.find(letterIndex);
  const bool locked = lock != state_->exclusive.end();

  switch (requestType) {
    case kExclusiveQuery: {
      if (out == nullptr || outBytes < kLockStateBytes) return fail(kErrorInsufficientBuffer);
      auto* state = static_cast<uint8_t*>(out);
      std::memset(state, 0, kLockStateBytes);
      state[0] = locked ? 1 : 0;
      if (locked) {
        std::memcpy(state + 1, lock->second.callerName.data(), lock->second.callerName.size());
      }
      if (returnedBytes != nullptr) *returnedBytes = kLockStateBytes;
      return true;
    }
    case kExclusiveLock: {
      if (inBytes < kExclusiveAccessBytes + kCallerNameBytes) return fail(kErrorBadLength);
      const uint8_t* name = request + kExclusiveAccessBytes;
      if (!ValidCallerName(name)) return fail(kErrorInvalidParameter);
      if (locked) return fail(kErrorAccessDenied);
      if ((flags & kLockIgnoreVolume) == 0 &&
          letters[static_cast<size_t>(letterIndex)].fileSystemMounted) {
        return fail(kErrorBadCommand);
      }
      state_->exclusive[letterIndex] = {handle, reinterpret_cast<const char*>(name)};
      return true;
    }
    case kExclusiveUnlock:
      if (!locked) return fail(kErrorInvalidFunction);
      if (lock->second.owner != handle) return fail(kErrorInvalidHandle);
      state_->exclusive.erase(lock);
      return true;
    default:
      return fail(kErrorInvalidParameter);
  }
}

std::string SimMachine::ExclusiveCaller(char letter) const {
  std::lock_guard<Lock> lock(state_->mutex);
  for (size_t i = 0; i < letters.size(); ++i) {
    if (letters[i].letter != letter) continue;
    auto it = state_->exclusive.find(static_cast<int>(i));
    return it == state_->exclusive.end() ? std::string() : it->second.callerName;
  }
  return {};
}

// IOCTL_SCSI_PASS_THROUGH_DIRECT; the caller holds the mutex. Synchronous: the command's time
// passes, or the request's time-out when the command is slower.
bool SimMachine::PassThrough(LetterConfig& letter, void* in, uint32_t inBytes, void* out,
                             uint32_t outBytes, uint32_t* returnedBytes) {
  if (in == nullptr || out != in || inBytes < sizeof(ScsiPassThroughDirect) || outBytes < inBytes) {
    t_lastError = kErrorInvalidFunction;
    return false;
  }
  auto* request = static_cast<ScsiPassThroughDirect*>(in);
  if (request->Length != sizeof(ScsiPassThroughDirect) || request->CdbLength > 16) {
    t_lastError = kErrorInvalidFunction;
    return false;
  }
  if (!letter.drive) {
    t_lastError = kErrorInvalidFunction;
    return false;
  }
  if (letter.restrictedCommands && (request->Cdb[0] == 0x3B || request->Cdb[0] >= 0xC0)) {
    t_lastError = kErrorAccessDenied;
    return false;
  }
  int const direction = request->DataIn <= 2 ? request->DataIn : 2;
  CommandResult const result =
      RunDrive(*letter.drive, request->Cdb, direction, static_cast<uint8_t*>(request->DataBuffer),
               request->DataTransferLength);
  if (result.delaySeconds > static_cast<double>(request->TimeOutValue)) {
    AdvanceSeconds(static_cast<double>(request->TimeOutValue) + 0.001);
    t_lastError = kErrorSemTimeout;
    return false;
  }
  AdvanceSeconds(result.delaySeconds);
  if (result.status == Status::TransportFailure) {
    t_lastError = kErrorSemTimeout;
    return false;
  }
  request->DataTransferLength = result.transferred;
  request->ScsiStatus = 0;
  if (result.status == Status::Busy) request->ScsiStatus = STATUS_BUSY;
  if (result.status == Status::Other) request->ScsiStatus = result.otherStatus;
  if (result.status == Status::CheckCondition) request->ScsiStatus = STATUS_CHKCOND;
  // Sense comes with whatever reads as CHECK CONDITION (bit 0 is reserved).
  if ((request->ScsiStatus & 0xFE) == STATUS_CHKCOND) {
    uint32_t const offset = request->SenseInfoOffset;
    if (request->SenseInfoLength > 0 && offset + request->SenseInfoLength <= inBytes) {
      WriteSense(static_cast<uint8_t*>(in) + offset, request->SenseInfoLength, result.senseKey,
                 result.asc, result.ascq, result.senseFormat);
    }
  }
  if (returnedBytes != nullptr) *returnedBytes = inBytes;
  return true;
}

bool SimMachine::CloseHandle(Handle handle) {
  std::lock_guard<Lock> lock(state_->mutex);
  Record("CloseHandle", Hex(reinterpret_cast<uintptr_t>(handle)));
  auto it = state_->handles.find(reinterpret_cast<uintptr_t>(handle));
  if (it == state_->handles.end()) {
    t_lastError = kErrorInvalidHandle;
    return false;
  }
  // A request still pending on a closed event stays with the manager, which no longer reports
  // its end to anyone. Closing a drive handle gives up the exclusive access it held.
  for (auto lock = state_->exclusive.begin(); lock != state_->exclusive.end();) {
    lock = lock->second.owner == it->first ? state_->exclusive.erase(lock) : std::next(lock);
  }
  state_->handles.erase(it);
  return true;
}

uint32_t SimMachine::GetLogicalDriveStringsA(uint32_t bufferBytes, char* buffer) {
  std::lock_guard<Lock> lock(state_->mutex);
  Record("GetLogicalDriveStringsA", std::to_string(bufferBytes));
  if (letterListFails) return 0;
  std::string list;
  for (auto const& letter : letters) {
    list += letter.letter;
    list += ":\\";
    list += '\0';
  }
  uint32_t const needed = static_cast<uint32_t>(list.size()) + 1;
  if (buffer == nullptr || bufferBytes < needed) return needed;
  std::memcpy(buffer, list.data(), list.size());
  buffer[list.size()] = '\0';
  return needed - 1;
}

uint32_t SimMachine::GetDriveTypeA(const char* rootPath) {
  std::lock_guard<Lock> lock(state_->mutex);
  Record("GetDriveTypeA", Quote(rootPath));
  if (rootPath != nullptr && rootPath[0] != '\0') {
    char const wanted = static_cast<char>(std::toupper(static_cast<unsigned char>(rootPath[0])));
    for (auto const& letter : letters) {
      if (std::toupper(static_cast<unsigned char>(letter.letter)) == wanted)
        return letter.driveType;
    }
  }
  return 1;  // DRIVE_NO_ROOT_DIR
}

// ---------------------------------------------------------------------------------------------
// The process heap

namespace {
Handle const kSimHeap = reinterpret_cast<Handle>(static_cast<uintptr_t>(0x7F000000));
}

Handle SimMachine::GetProcessHeap() {
  std::lock_guard<Lock> lock(state_->mutex);
  Record("GetProcessHeap", "");
  return heapUnavailable ? nullptr : kSimHeap;
}

void* SimMachine::HeapAlloc(Handle heap, uint32_t flags, uint32_t bytes) {
  std::lock_guard<Lock> lock(state_->mutex);
  Record("HeapAlloc", Hex(flags) + " " + std::to_string(bytes));
  if (heapUnavailable || heap != kSimHeap) {
    t_lastError = kErrorNotEnoughMemory;
    return nullptr;
  }
  void* block = std::calloc(std::max<uint32_t>(bytes, 1), 1);
  if (block != nullptr) state_->heapBlocks.insert(block);
  return block;
}

bool SimMachine::HeapFree(Handle heap, void* memory) {
  std::lock_guard<Lock> lock(state_->mutex);
  Record("HeapFree", "");
  if (heap != kSimHeap || state_->heapBlocks.erase(memory) == 0) return false;
  std::free(memory);
  return true;
}

// ---------------------------------------------------------------------------------------------
// Events, waits and time

Handle SimMachine::CreateEventA(bool manualReset, bool initialState) {
  std::lock_guard<Lock> lock(state_->mutex);
  Record("CreateEventA",
         std::string(manualReset ? "manual" : "auto") + (initialState ? " signalled" : " clear"));
  if (aspi.eventsUnavailable) {
    t_lastError = kErrorNotEnoughMemory;
    return nullptr;
  }
  Handle const handle = NewHandle(static_cast<int>(State::Kind::Event), -1);
  auto& info = state_->handles[reinterpret_cast<uintptr_t>(handle)];
  info.manualReset = manualReset;
  info.signalled = initialState;
  return handle;
}

uint32_t SimMachine::WaitForSingleObject(Handle handle, uint32_t milliseconds) {
  std::lock_guard<Lock> lock(state_->mutex);
  Record("WaitForSingleObject", std::to_string(milliseconds));
  auto it = state_->handles.find(reinterpret_cast<uintptr_t>(handle));
  if (it == state_->handles.end() || it->second.kind != State::Kind::Event) {
    t_lastError = kErrorInvalidHandle;
    return 0xFFFFFFFFu;  // WAIT_FAILED
  }
  // A pending ASPI request posting to the event ends in the wait when its time fits in.
  State::HandleInfo& event = it->second;
  double const waitSeconds = static_cast<double>(milliseconds) / 1000.0;
  double const untilEnd = state_->aspi.SecondsUntilEnd(handle);
  if (untilEnd >= 0.0 && untilEnd <= waitSeconds) {
    AdvanceSeconds(untilEnd);
    state_->aspi.EndFirst(handle);
  } else if (untilEnd >= 0.0 || !event.signalled) {
    AdvanceSeconds(waitSeconds);
    state_->aspi.EndDue(CurrentThreadId());
    if (!event.signalled) return win::kWaitTimeout;
  }
  if (!event.manualReset) event.signalled = false;
  return win::kWaitObject0;
}

void SimMachine::Sleep(uint32_t milliseconds) {
  std::lock_guard<Lock> lock(state_->mutex);
  Record("Sleep", std::to_string(milliseconds));
  AdvanceSeconds(static_cast<double>(milliseconds) / 1000.0);
  state_->aspi.EndDue(CurrentThreadId());
}

bool SimMachine::QueryPerformanceFrequency(int64_t* ticksPerSecond) {
  ++state_->frequencyQueries;
  if (!counterAvailable) {
    if (ticksPerSecond != nullptr) *ticksPerSecond = 0;
    return false;
  }
  if (ticksPerSecond != nullptr) *ticksPerSecond = counterFrequency;
  return true;
}

bool SimMachine::QueryPerformanceCounter(int64_t* ticks) {
  ++state_->counterReads;
  if (!counterAvailable) {
    if (ticks != nullptr) *ticks = 0;
    return false;
  }
  int64_t const now = state_->counter.fetch_add(ticksPerCounterRead) + ticksPerCounterRead;
  if (ticks != nullptr) *ticks = now;
  return true;
}

// ---------------------------------------------------------------------------------------------
// User interface and collation

int SimMachine::MessageBoxA(const char* text, const char* caption, uint32_t type) {
  std::lock_guard<Lock> lock(state_->mutex);
  Record("MessageBoxA", Quote(caption) + ": " + Quote(text));
  messageBoxes.push_back(ShownMessage{Quote(text), Quote(caption), type});
  if (messageBoxAnswers.empty()) return 1;  // IDOK
  int const answer = messageBoxAnswers.front();
  messageBoxAnswers.pop_front();
  return answer;
}

void SimMachine::ProcessMessages() {
  std::lock_guard<Lock> lock(state_->mutex);
  Record("ProcessMessages", "");
}

void SimMachine::OutputDebugStringA(const char* text) {
  std::lock_guard<Lock> lock(state_->mutex);
  Record("OutputDebugStringA", Quote(text));
}

int SimMachine::CompareStringA(const char* a, int lengthA, const char* b, int lengthB) {
  {
    std::lock_guard<Lock> lock(state_->mutex);
    Record("CompareStringA", Quote(a) + " | " + Quote(b));
  }
  return HostCompareStringA(a, lengthA, b, lengthB);
}

// ---------------------------------------------------------------------------------------------
// Version, privileges and shutdown

bool SimMachine::GetVersionExA(OsVersion* version) {
  std::lock_guard<Lock> lock(state_->mutex);
  Record("GetVersionExA", "");
  if (version == nullptr) return false;
  version->platformId = platformId;
  version->majorVersion = platformId == win::kPlatformWin32Nt ? 5 : 4;
  version->minorVersion = platformId == win::kPlatformWin32Nt ? 1 : 10;
  return true;
}

Handle SimMachine::GetCurrentProcess() {
  std::lock_guard<Lock> lock(state_->mutex);
  Record("GetCurrentProcess", "");
  return reinterpret_cast<Handle>(static_cast<intptr_t>(-1));  // the pseudo-handle
}

bool SimMachine::OpenProcessToken(Handle process, uint32_t access, Handle* token) {
  std::lock_guard<Lock> lock(state_->mutex);
  Record("OpenProcessToken", Hex(reinterpret_cast<uintptr_t>(process)) + " " + Hex(access));
  if (openTokenFails || token == nullptr) {
    t_lastError = kErrorAccessDenied;
    return false;
  }
  *token = NewHandle(static_cast<int>(State::Kind::Token), -1);
  return true;
}

bool SimMachine::LookupPrivilegeValueA(const char* systemName, const char* name, uint64_t* luid) {
  std::lock_guard<Lock> lock(state_->mutex);
  Record("LookupPrivilegeValueA", Quote(systemName) + " " + Quote(name));
  if (name == nullptr || luid == nullptr || std::strcmp(name, "SeShutdownPrivilege") != 0) {
    t_lastError = 1313;  // ERROR_NO_SUCH_PRIVILEGE
    return false;
  }
  *luid = kShutdownPrivilegeLuid;
  return true;
}

bool SimMachine::AdjustTokenPrivileges(Handle token, uint64_t luid, uint32_t attributes) {
  std::lock_guard<Lock> lock(state_->mutex);
  Record("AdjustTokenPrivileges", Hex(luid) + " " + Hex(attributes));
  auto it = state_->handles.find(reinterpret_cast<uintptr_t>(token));
  if (it == state_->handles.end() || it->second.kind != State::Kind::Token) {
    t_lastError = kErrorInvalidHandle;
    return false;
  }
  // Like the real call: success, with ERROR_NOT_ALL_ASSIGNED left when the privilege is not
  // held.
  t_lastError = adjustPrivilegeError;
  return true;
}

uint32_t SimMachine::GetLastError() {
  std::lock_guard<Lock> lock(state_->mutex);
  Record("GetLastError", std::to_string(t_lastError));
  return t_lastError;
}

bool SimMachine::ExitWindowsEx(uint32_t flags, uint32_t reserved) {
  std::lock_guard<Lock> lock(state_->mutex);
  Record("ExitWindowsEx", std::to_string(flags) + " " + std::to_string(reserved));
  return exitWindowsResult;
}

std::vector<uint8_t> NeededPartBlock(const SimDrive& drive) {
  const int entry = FindFlashPart(drive.flashId);
  if (entry < 0) return {};
  const PartBlockLayout layout = LayoutOfPart(entry);
  std::vector<uint8_t> block(FlashPartTable[entry], FlashPartTable[entry] + layout.headerBytes);
  const uint8_t* data = ActivePartBlocks().data + layout.dataOffset;
  block.insert(block.end(), data, data + layout.blockBytes);
  block.resize(layout.transferBytes, 0);
  return block;
}

}  // namespace quorel::sim
