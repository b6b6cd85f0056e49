// The command transport of AtapiDevice: the choice between the ASPI manager and the SCSI
// pass-through, loading the manager, and SendCommand on both paths.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>

#include "device/atapi_device.h"
#include "device/part_block_origin.h"

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

// A data-in command whose length is an allocation length may bring less than it asked for.
bool ShortAnswerAllowed(DataDirection direction, Transfer transfer) {
  return direction == DataDirection::In && transfer == Transfer::UpTo;
}

// Commands that change what the drive holds: every WRITE BUFFER (the final program command
// carries no data) and every vendor-specific command that sends data.
bool WritesToDrive(const uint8_t* cdb, DataDirection direction) {
  constexpr uint8_t kWriteBufferOpcode = 0x3B;
  constexpr uint8_t kFirstVendorSpecificOpcode = 0xC0;
  return cdb[0] == kWriteBufferOpcode ||
         (cdb[0] >= kFirstVendorSpecificOpcode && direction == DataDirection::Out);
}

// The status byte with its reserved bit 0 masked, as SCSI hosts read it.
uint8_t MaskedStatus(uint8_t status) {
  return status & 0xFE;
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

SenseTriple ParseSense(const uint8_t* area, size_t areaBytes) {
  SenseTriple sense;
  if (areaBytes == 0) return sense;
  switch (area[0] & 0x7F) {
    case 0x70:
    case 0x71:
      if (areaBytes < 14) return sense;
      sense.key = area[2] & 0x0F;
      sense.asc = area[12];
      sense.ascq = area[13];
      break;
    case 0x72:
    case 0x73:
      if (areaBytes < 4) return sense;
      sense.key = area[1] & 0x0F;
      sense.asc = area[2];
      sense.ascq = area[3];
      break;
    default:
      return sense;
  }
  sense.valid = true;
  return sense;
}

bool AtapiDevice::SendCommand(const uint8_t* cdb, DataDirection direction, uint32_t lengthBytes,
                              Transfer transfer, const uint8_t* complementOf) {
  // The last line of defence: whoever calls, a drive this build may not write receives no
  // write, and no transfer reaches past the buffers.
  if (lengthBytes > kBufferBytes ||
      (WritesToDrive(cdb, direction) && !PartBlocksAllowedFor(currentVendorSpecific))) {
    return FailUnsent(cdb, true);
  }
  PrepareInBuffer(direction, lengthBytes, complementOf);
  if (useAspi || osInfo.isNtFamily == 0) {
    return SendAspi(cdb, direction, lengthBytes, transfer, complementOf);
  }
  return SendPassThrough(cdb, direction, lengthBytes, transfer, complementOf);
}

void AtapiDevice::PrepareInBuffer(DataDirection direction, uint32_t lengthBytes,
                                  const uint8_t* complementOf) {
  if (direction != DataDirection::In) return;
  // Only the transfer's bytes can arrive, and no caller reads past them. Whatever arrives short
  // or not at all then reads as zeros, never as an older answer; for a read-back, as the
  // complement of what is expected, never as equal to it.
  if (complementOf == nullptr) {
    std::memset(inBuffer, 0, lengthBytes);
    return;
  }
  // Through local pointers that alias nothing, so that the compiler vectorises the loop.
  const uint8_t* __restrict from = complementOf;
  uint8_t* __restrict to = inBuffer;
  for (uint32_t i = 0; i < lengthBytes; ++i) to[i] = static_cast<uint8_t>(~from[i]);
}

bool AtapiDevice::FailUnsent(const uint8_t* cdb, bool refused) {
  commandTimer.Reset();
  RecordCommand(cdb, SenseTriple{}, false);
  last.lastTransferLength = 0;
  last.lastOutcome = kOutcomeFailed;
  last.lastRefused = refused;
  return false;
}

void AtapiDevice::RecordCommand(const uint8_t* cdb, const SenseTriple& sense, bool stillPending) {
  std::memcpy(last.lastCdb, cdb, kCdbBytes);
  last.lastElapsed = commandTimer.Total();
  // A request the manager still holds has outlived the wait of timeoutSeconds, whatever the
  // clock says (there may be no clock).
  last.lastTimedOut = static_cast<double>(timeoutSeconds) < last.lastElapsed || stillPending;
  last.lastSenseKey = sense.key;
  last.lastAsc = sense.asc;
  last.lastAscq = sense.ascq;
  last.lastRefused = false;
  last.lastAccessDenied = false;
}

bool AtapiDevice::Judge(bool good, const SenseTriple& sense, uint32_t transferredBytes) {
  if (good && !last.lastTimedOut) {
    last.lastTransferLength = transferredBytes;
    last.lastOutcome = kOutcomeGood;
    return true;
  }
  last.lastTransferLength = 0;
  // Outcome 2 only for a sense key the drive reported in time; a CHECK CONDITION without
  // readable sense, BUSY or a short transfer is a failure without sense, which may be re-sent.
  bool const reported = sense.valid && sense.key != 0 && !last.lastTimedOut;
  last.lastOutcome = reported ? kOutcomeSense : kOutcomeFailed;
  return false;
}

bool AtapiDevice::SendPassThrough(const uint8_t* cdb, DataDirection direction, uint32_t lengthBytes,
                                  Transfer transfer, const uint8_t* complementOf) {
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
    bool const denied = !worked && platform().GetLastError() == win::kErrorAccessDenied;
    commandTimer.Stop();

    uint8_t const status = MaskedStatus(request.ScsiStatus);
    SenseTriple const sense = worked && status == STATUS_CHKCOND
                                  ? ParseSense(passThroughRequest.sense, kSenseInfoLength)
                                  : SenseTriple{};
    RecordCommand(cdb, sense, false);
    last.lastAccessDenied = denied;
    // A driver that reports more than was asked reports nothing trustworthy.
    uint32_t const moved = request.DataTransferLength;
    bool const allMoved = DataBufferFor(direction, lengthBytes, inBuffer, outBuffer) == nullptr ||
                          moved >= lengthBytes || ShortAnswerAllowed(direction, transfer);
    bool const good = worked && status == STATUS_GOOD && allMoved && moved <= lengthBytes;
    if (Judge(good, sense, moved)) return true;
    if (last.lastOutcome == kOutcomeFailed && retryFlag && !last.lastTimedOut && !resent) {
      resent = true;
      PrepareInBuffer(direction, lengthBytes, complementOf);
      continue;
    }
    return false;
  }
}

namespace {

// How long a request the manager was asked to abort may take to end.
constexpr uint32_t kAbortWaitMilliseconds = 1000;

// Requests the manager kept after their engines gave up on them, with the buffers and events it
// may still write into or signal. Never freed, and reachable from here for as long as the
// process lives.
std::atomic<AspiRequestBlock*> g_heldByManager{nullptr};

// Asks the manager to abort a request that outlived its wait and gives it a moment to end.
// True when the request ended (aborted, or finished after all).
bool AbortAspiRequest(SendAspiCommandFn send, SRB_ExecSCSICmd& request, Handle event) {
  SRB_Abort abort{};
  abort.SRB_Cmd = SC_ABORT_SRB;
  abort.SRB_HaId = request.SRB_HaId;
  abort.SRB_ToAbort = &request;
  send(&abort);
  volatile uint8_t const& status = request.SRB_Status;
  if (status != SS_PENDING) return true;
  if (event != nullptr) {
    platform().WaitForSingleObject(event, kAbortWaitMilliseconds);
  } else {
    for (uint32_t polls = 0; status == SS_PENDING && polls < kAbortWaitMilliseconds; ++polls)
      platform().Sleep(1);
  }
  return status != SS_PENDING;
}

// Leaves a request the manager still holds to it for good, with what it may still use.
void HandOver(std::unique_ptr<AspiRequestBlock> block, uint8_t* in, uint8_t* out, Handle event) {
  AspiRequestBlock* const held = block.release();
  held->inBuffer = in;
  held->outBuffer = out;
  held->event = event;
  held->next = g_heldByManager.load();
  while (!g_heldByManager.compare_exchange_weak(held->next, held)) {
  }
}

}  // namespace

bool AtapiDevice::SendAspi(const uint8_t* cdb, DataDirection direction, uint32_t lengthBytes,
                           Transfer transfer, const uint8_t* complementOf) {
  if ((currentAdapter == -1 || currentTarget == -1) && retryFlag) return false;
  if (sendAspiCommand == nullptr) {
    // ASPI mode without a manager (the 9x family without one, a failed load, or a manager that
    // kept a request): the command fails in order instead of calling the manager.
    return FailUnsent(cdb, false);
  }
  if (!aspiRequest) aspiRequest = std::make_unique<AspiRequestBlock>();
  SRB_ExecSCSICmd& request = aspiRequest->srb;

  Platform& os = platform();
  uint64_t const waitMilliseconds =
      std::min<uint64_t>(static_cast<uint64_t>(timeoutSeconds) * 1000u, kLongestWaitMilliseconds);
  bool resent = false;
  for (;;) {
    std::memset(&request, 0, sizeof request);
    request.SRB_Cmd = SC_EXEC_SCSI_CMD;
    request.SRB_HaId = static_cast<uint8_t>(currentAdapter);
    request.SRB_Target = static_cast<uint8_t>(currentTarget);
    request.SRB_Lun = static_cast<uint8_t>(currentLun);
    request.SRB_Flags = AspiDirectionFlags(direction);
    request.SRB_BufLen = lengthBytes;
    request.SRB_BufPointer = DataBufferFor(direction, lengthBytes, inBuffer, outBuffer);
    request.SRB_SenseLen = SENSE_LEN;
    request.SRB_CDBLen = kCdbBytes;
    std::memcpy(request.CDBByte, cdb, kCdbBytes);
    // The manager may finish the request on another thread.
    volatile uint8_t const& status = request.SRB_Status;

    commandTimer.Start(true);
    Handle const event = os.CreateEventA(true, false);
    if (event != nullptr) {
      request.SRB_Flags |= SRB_EVENT_NOTIFY;
      request.SRB_PostProc = event;
      sendAspiCommand(&request);
      if (status == SS_PENDING)
        os.WaitForSingleObject(event, static_cast<uint32_t>(waitMilliseconds));
    } else {
      // No event to wait on: poll the status, but never past the time-out. With a counter the
      // command timer bounds the spin; without one every poll sleeps a millisecond (at least),
      // so timeoutSeconds * 1000 polls last at least the time-out.
      sendAspiCommand(&request);
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
    if (stillPending && !AbortAspiRequest(sendAspiCommand, request, event)) {
      // The manager keeps the request and may still write into the block and the buffers, and
      // signal the event: they become its own, and this engine forgets the manager (whose
      // module stays loaded) and goes on with fresh buffers, failing every command.
      HandOver(std::move(aspiRequest), inBuffer, outBuffer, event);
      aspiModule = nullptr;
      getSupportInfo = nullptr;
      sendAspiCommand = nullptr;
      inBuffer = nullptr;
      outBuffer = nullptr;
      AllocateBuffers();
      RecordCommand(cdb, SenseTriple{}, true);
      Judge(false, SenseTriple{}, 0);
      return false;
    }
    if (event != nullptr) os.CloseHandle(event);

    uint8_t const srbStatus = status;
    uint8_t const adapterStatus = request.SRB_HaStat;
    uint8_t const targetStatus = MaskedStatus(request.SRB_TargStat);
    SenseTriple const sense = !stillPending && targetStatus == STATUS_CHKCOND
                                  ? ParseSense(request.SenseArea, SENSE_LEN)
                                  : SenseTriple{};
    RecordCommand(cdb, sense, stillPending);
    // ASPI reports no residue: an underrun is good only where a short answer is, and then the
    // bytes that did not come read as zeros.
    bool const underrunAllowed = adapterStatus == HASTAT_DO_DU &&
                                 ShortAnswerAllowed(direction, transfer) &&
                                 (srbStatus == SS_COMP || srbStatus == SS_ERR);
    bool const adapterGood =
        (srbStatus == SS_COMP && adapterStatus == HASTAT_OK) || underrunAllowed;
    if (Judge(adapterGood && targetStatus == STATUS_GOOD, sense, lengthBytes)) return true;
    if (last.lastOutcome == kOutcomeFailed && retryFlag && !last.lastTimedOut && !resent) {
      resent = true;
      PrepareInBuffer(direction, lengthBytes, complementOf);
      continue;
    }
    return false;
  }
}

}  // namespace quorel
