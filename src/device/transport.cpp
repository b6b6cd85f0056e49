// The command transport of AtapiDevice: the choice between the ASPI manager and the SCSI
// pass-through, loading the manager, and SendCommand on both paths.
#include <algorithm>
#include <cstring>

#include "device/atapi_device.h"

namespace quorel {

namespace {

// Every text this layer shows, with its caption. The misspelling "fount" is the program's own.
struct Message {
  const char* text;
  const char* caption;
};
constexpr Message kLibraryMissing{"LoadLibrary:\nWNASPI32.DLL not found.", "Error FS 002"};
constexpr Message kSupportInfoMissing{"GetProcAddress:\nGetASPI32SupportInfo not fount.",
                                      "Error FS 003"};
constexpr Message kSendCommandMissing{"GetProcAddress:\npfnSendASPI32Command not found.",
                                      "Error FS 004"};
constexpr Message kOldManager{"Old ASPI manager.", "GetASPISupportInfo:"};
constexpr Message kRealMode{"ASPI for Windows does not support real mode.", "GetASPISupportInfo:"};
constexpr Message kNoManager{"Could not find the ASPI manager.", "GetASPISupportInfo:"};
constexpr Message kInitFailed{"Error initializing ASPI.", "GetASPISupportInfo:"};

constexpr char kAspiFileName[] = "WNASPI32.DLL";
constexpr char kGetSupportInfoName[] = "GetASPI32SupportInfo";
constexpr char kSendCommandName[] = "SendASPI32Command";
constexpr uint32_t kMaxPath = 260;

constexpr uint8_t kSenseInfoLength = 24;
constexpr uint32_t kLongestWaitMilliseconds = 0xFFFFFFFEu;  // one below INFINITE

void Show(const Message& message) {
  platform().MessageBoxA(message.text, message.caption, win::kMbIconError | win::kMbOk);
}

uint8_t StatusOf(uint32_t supportInfo) {
  return static_cast<uint8_t>((supportInfo >> 8) & 0xFF);
}

// Loads the ASPI manager from the system directory only, never by a bare name: a search by
// name would look in the program's own and the current folder first, and this program runs
// with administrator rights.
Module LoadAspiLibrary() {
  char path[kMaxPath + sizeof kAspiFileName + 1] = {};
  if (!platform().GetSystemDirectoryA(path, kMaxPath)) return nullptr;
  path[kMaxPath - 1] = '\0';
  size_t length = std::strlen(path);
  if (length == 0) return nullptr;
  if (path[length - 1] != '\\') path[length++] = '\\';
  std::memcpy(path + length, kAspiFileName, sizeof kAspiFileName);
  return platform().LoadLibraryA(path);
}

template <typename Fn>
Fn LookUp(Module module, const char* name) {
  return reinterpret_cast<Fn>(platform().GetProcAddress(module, name));
}

// The buffer a command's data travels through; none when nothing travels.
uint8_t* DataBufferFor(DataDirection direction, uint32_t lengthBytes, uint8_t* in, uint8_t* out) {
  if (lengthBytes == 0 || direction == DataDirection::None) return nullptr;
  return direction == DataDirection::Out ? out : in;
}

uint8_t AspiDirectionFlags(DataDirection direction) {
  switch (direction) {
    case DataDirection::In:
      return SRB_DIR_IN;
    case DataDirection::Out:
      return SRB_DIR_OUT;
    case DataDirection::None:
      break;
  }
  return 0;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The ASPI manager

bool AtapiDevice::ProbeAspi() {
  Platform& os = platform();
  Module module = LoadAspiLibrary();
  if (module == nullptr) return false;
  auto getInfo = LookUp<GetAspiSupportInfoFn>(module, kGetSupportInfoName);
  if (getInfo == nullptr || LookUp<SendAspiCommandFn>(module, kSendCommandName) == nullptr) {
    os.FreeLibrary(module);
    return false;
  }
  uint8_t const status = StatusOf(getInfo());
  os.FreeLibrary(module);
  return status == SS_COMP;
}

bool AtapiDevice::LoadAspi() {
  if (aspiModule != nullptr) UnloadAspi();
  aspiModule = LoadAspiLibrary();
  if (aspiModule == nullptr) {
    Show(kLibraryMissing);
    return false;
  }
  getSupportInfo = LookUp<GetAspiSupportInfoFn>(aspiModule, kGetSupportInfoName);
  if (getSupportInfo == nullptr) {
    UnloadAspi();
    Show(kSupportInfoMissing);
    return false;
  }
  sendAspiCommand = LookUp<SendAspiCommandFn>(aspiModule, kSendCommandName);
  if (sendAspiCommand == nullptr) {
    UnloadAspi();
    Show(kSendCommandMissing);
    return false;
  }
  uint8_t const status = StatusOf(getSupportInfo());
  if (status == SS_COMP) return true;
  switch (status) {
    case SS_OLD_MANAGER:
      Show(kOldManager);
      break;
    case SS_ILLEGAL_MODE:
      Show(kRealMode);
      break;
    case SS_NO_ASPI:
      Show(kNoManager);
      break;
    default:
      Show(kInitFailed);
      break;
  }
  UnloadAspi();
  return false;
}

void AtapiDevice::UnloadAspi() {
  if (aspiModule != nullptr) platform().FreeLibrary(aspiModule);
  aspiModule = nullptr;
  getSupportInfo = nullptr;
  sendAspiCommand = nullptr;
}

void AtapiDevice::ChooseTransport() {
  useAspi = g_transportRequest == kTransportRequestAspi;
  aspiAvailable = ProbeAspi();
  useAspi = useAspi && aspiAvailable;
  // The 9x family has no pass-through: the manager is the only way, found or not.
  if (osInfo.isNtFamily == 0) useAspi = true;
  UnloadAspi();
  if (useAspi) LoadAspi();
}

// ---------------------------------------------------------------------------------------------
// SendCommand

bool AtapiDevice::SendCommand(const uint8_t* cdb, DataDirection direction, uint32_t lengthBytes) {
  if (useAspi || osInfo.isNtFamily == 0) return SendAspi(cdb, direction, lengthBytes);
  return SendPassThrough(cdb, direction, lengthBytes);
}

void AtapiDevice::RecordCommand(const uint8_t* cdb, const uint8_t* sense, bool stillPending) {
  std::memcpy(last.lastCdb, cdb, kCdbBytes);
  last.lastElapsed = commandTimer.Total();
  // A request the manager still holds has outlived the wait of timeoutSeconds, whatever the
  // clock says (there may be no clock).
  last.lastTimedOut = static_cast<double>(timeoutSeconds) < last.lastElapsed || stillPending;
  last.lastSenseKey = sense[2] & 0x0F;
  last.lastAsc = sense[12];
  last.lastAscq = sense[13];
}

bool AtapiDevice::SendPassThrough(const uint8_t* cdb, DataDirection direction,
                                  uint32_t lengthBytes) {
  if (driveHandle == kInvalidHandle && retryFlag) return false;
  bool resent = false;
  for (;;) {
    // Filled afresh for every attempt: the driver rewrites the length and the sense in place.
    std::memset(&passThroughRequest, 0, sizeof passThroughRequest);
    ScsiPassThroughDirect& request = passThroughRequest.sptd;
    request.Length = sizeof(ScsiPassThroughDirect);
    request.PathId = static_cast<uint8_t>(currentAdapter);
    request.TargetId = static_cast<uint8_t>(currentTarget);
    request.Lun = 0;
    request.CdbLength = kCdbBytes;
    request.SenseInfoLength = kSenseInfoLength;
    request.DataIn = static_cast<uint8_t>(direction);
    request.DataTransferLength = lengthBytes;
    request.TimeOutValue = timeoutSeconds;
    request.DataBuffer = DataBufferFor(direction, lengthBytes, inBuffer, outBuffer);
    request.SenseInfoOffset = kPassThroughSenseOffset;
    std::memcpy(request.Cdb, cdb, kCdbBytes);

    commandTimer.Start(true);
    uint32_t returnedBytes = 0;
    bool const worked = platform().DeviceIoControl(
        driveHandle, win::kIoctlScsiPassThroughDirect, &passThroughRequest,
        sizeof passThroughRequest, &passThroughRequest, sizeof passThroughRequest, &returnedBytes);
    commandTimer.Stop();

    RecordCommand(cdb, passThroughRequest.sense, false);
    last.lastTransferLength = request.DataTransferLength;
    if (worked && last.lastSenseKey == 0 && !last.lastTimedOut) {
      last.lastOutcome = kOutcomeGood;
      return true;
    }
    last.lastTransferLength = 0;
    if (worked && !last.lastTimedOut) {
      last.lastOutcome = kOutcomeSense;
      return false;
    }
    last.lastOutcome = kOutcomeFailed;
    if (retryFlag && !last.lastTimedOut && !resent) {
      resent = true;
      continue;
    }
    return false;
  }
}

bool AtapiDevice::SendAspi(const uint8_t* cdb, DataDirection direction, uint32_t lengthBytes) {
  if ((currentAdapter == -1 || currentTarget == -1) && retryFlag) return false;
  if (sendAspiCommand == nullptr) {
    // ASPI mode without a manager (the 9x family without one, or a failed load): the command
    // fails in order instead of calling a missing entry point.
    static constexpr uint8_t kNoSense[SENSE_LEN] = {};
    commandTimer.Reset();
    RecordCommand(cdb, kNoSense, false);
    last.lastTransferLength = 0;
    last.lastOutcome = kOutcomeFailed;
    return false;
  }

  Platform& os = platform();
  uint64_t const waitMilliseconds =
      std::min<uint64_t>(static_cast<uint64_t>(timeoutSeconds) * 1000u, kLongestWaitMilliseconds);
  bool resent = false;
  for (;;) {
    std::memset(&aspiRequest, 0, sizeof aspiRequest);
    aspiRequest.SRB_Cmd = SC_EXEC_SCSI_CMD;
    aspiRequest.SRB_HaId = static_cast<uint8_t>(currentAdapter);
    aspiRequest.SRB_Target = static_cast<uint8_t>(currentTarget);
    aspiRequest.SRB_Lun = static_cast<uint8_t>(currentLun);
    aspiRequest.SRB_Flags = AspiDirectionFlags(direction);
    aspiRequest.SRB_BufLen = lengthBytes;
    aspiRequest.SRB_BufPointer = DataBufferFor(direction, lengthBytes, inBuffer, outBuffer);
    aspiRequest.SRB_SenseLen = SENSE_LEN;
    aspiRequest.SRB_CDBLen = kCdbBytes;
    std::memcpy(aspiRequest.CDBByte, cdb, kCdbBytes);
    // The manager may finish the request on another thread.
    volatile uint8_t const& status = aspiRequest.SRB_Status;

    commandTimer.Start(true);
    Handle const event = os.CreateEventA(true, false);
    if (event != nullptr) {
      aspiRequest.SRB_Flags |= SRB_EVENT_NOTIFY;
      aspiRequest.SRB_PostProc = event;
      sendAspiCommand(&aspiRequest);
      if (status == SS_PENDING)
        os.WaitForSingleObject(event, static_cast<uint32_t>(waitMilliseconds));
      os.CloseHandle(event);
    } else {
      // No event to wait on: poll the status, but never past the time-out. With a counter the
      // command timer bounds the spin; without one every poll sleeps a millisecond (at least),
      // so timeoutSeconds * 1000 polls last at least the time-out.
      sendAspiCommand(&aspiRequest);
      uint64_t polls = 0;
      while (status == SS_PENDING) {
        if (commandTimer.Available()) {
          if (commandTimer.Elapsed() > static_cast<double>(timeoutSeconds)) break;
        } else {
          if (polls >= waitMilliseconds) break;
          os.Sleep(1);
          ++polls;
        }
      }
    }
    commandTimer.Stop();

    bool const stillPending = status == SS_PENDING;
    RecordCommand(cdb, aspiRequest.SenseArea, stillPending);
    if (status == SS_COMP && last.lastSenseKey == 0 && !last.lastTimedOut) {
      last.lastTransferLength = lengthBytes;
      last.lastOutcome = kOutcomeGood;
      return true;
    }
    last.lastTransferLength = 0;
    if (last.lastSenseKey != 0 && !last.lastTimedOut) {
      last.lastOutcome = kOutcomeSense;
      return false;
    }
    last.lastOutcome = kOutcomeFailed;
    if (retryFlag && !last.lastTimedOut && !resent) {
      resent = true;
      continue;
    }
    return false;
  }
}

}  // namespace quorel
