// The ASPI manager's side of the command transport: loading and checking the manager, and
// SendCommand's path through it, with the requests the manager keeps after an abort.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>

#include "device/atapi_device.h"
#include "device/engine_internal.h"

namespace quorel {

using detail::DataBufferFor;
using detail::MaskedStatus;
using detail::ShortAnswerAllowed;

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
