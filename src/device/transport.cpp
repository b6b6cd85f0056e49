// The command transport of AtapiDevice: the choice between the ASPI manager and the SCSI
// pass-through, SendCommand, and the pass-through path. The ASPI manager's path is in
// aspi_transport.cpp.
#include <cstring>

#include "device/atapi_device.h"
#include "device/engine_internal.h"
#include "device/part_block_origin.h"

namespace quorel {

using detail::DataBufferFor;
using detail::kSenseInfoLength;
using detail::MaskedStatus;
using detail::ShortAnswerAllowed;

namespace {

// Commands that change what the drive holds: every WRITE BUFFER (the final program command
// carries no data) and every vendor-specific command that sends data.
bool WritesToDrive(const uint8_t* cdb, DataDirection direction) {
  constexpr uint8_t kWriteBufferOpcode = 0x3B;
  constexpr uint8_t kFirstVendorSpecificOpcode = 0xC0;
  return cdb[0] == kWriteBufferOpcode ||
         (cdb[0] >= kFirstVendorSpecificOpcode && direction == DataDirection::Out);
}

}  // namespace

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

}  // namespace quorel
