#include "sim/sim_drive.h"

#include <algorithm>
#include <cstring>

#include "flash/sense_codes.h"

namespace quorel::sim {
namespace {

constexpr uint8_t kTestUnitReady = 0x00;
constexpr uint8_t kInquiry = 0x12;
constexpr uint8_t kStartStopUnit = 0x1B;
constexpr uint8_t kWriteBuffer = 0x3B;
constexpr uint8_t kReadBuffer = 0x3C;
constexpr uint8_t kGetEventStatus = 0x4A;
constexpr uint8_t kVendorCommand = 0xDF;
constexpr uint8_t kVendorFlashId = 0x11;

constexpr uint32_t kInquiryBytes = 96;
constexpr uint32_t kFlashIdBytes = 128;
constexpr uint32_t kEventStatusBytes = 8;
constexpr uint32_t kBufferCapacity = 16u * 1024 * 1024;  // what a 24-bit offset reaches
constexpr uint32_t kReadBackBlockBytes = 16384;
constexpr uint32_t kLowPartBlockOffset = 0x80000;

uint32_t Be24(const uint8_t* p) {
  return (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | uint32_t{p[2]};
}

// Copies text into a fixed-width field, padding with blanks.
void PutField(uint8_t* dest, size_t width, const std::string& text) {
  std::memset(dest, ' ', width);
  std::memcpy(dest, text.data(), std::min(width, text.size()));
}

CommandResult Good(uint32_t transferred = 0) {
  CommandResult result;
  result.transferred = transferred;
  return result;
}

CommandResult TransportFailed() {
  CommandResult result;
  result.status = Status::TransportFailure;
  return result;
}

}  // namespace

uint64_t Fnv1a64(const uint8_t* data, size_t length) {
  uint64_t hash = 0xcbf29ce484222325ull;
  for (size_t i = 0; i < length; ++i) {
    hash ^= data[i];
    hash *= 0x100000001b3ull;
  }
  return hash;
}

void WriteSense(uint8_t* area, size_t areaBytes, uint8_t key, uint8_t asc, uint8_t ascq,
                SenseFormat format) {
  uint8_t sense[18] = {};
  if (format == SenseFormat::None) return;
  if (format == SenseFormat::Descriptor) {
    sense[0] = 0x72;
    sense[1] = key & 0x0F;
    sense[2] = asc;
    sense[3] = ascq;
  } else {
    sense[0] = 0x70;
    sense[2] = key & 0x0F;
    sense[7] = 10;
    sense[12] = asc;
    sense[13] = ascq;
  }
  std::memcpy(area, sense, std::min(areaBytes, sizeof sense));
}

bool IsPartBlockWrite(const uint8_t* cdb) {
  return cdb[0] == kWriteBuffer &&
         (cdb[9] == 0x7F || (cdb[9] == 0x00 && Be24(cdb + 3) == kLowPartBlockOffset &&
                             Be24(cdb + 6) < kReadBackBlockBytes));
}

SimDrive::SimDrive() = default;

void SimDrive::ResetRecord() {
  log.clear();
  buffer.clear();
  partBlock.clear();
  partBlockOffset = 0;
  partBlockControl = 0;
  programCount = 0;
  lastProgramControl = 0;
  programmed.clear();
  programmedPartBlock.clear();
  resets = 0;
  programmedRightAfterReset = false;
  programmedAfterPartBlockReset = false;
  imageHighWater_ = 0;
  lastEndAt_ = -1.0;
  commandsSinceReset_ = -1;
  lastCommandPartBlock_ = false;
}

bool Matches(Fault& fault, uint8_t opcode) {
  if (fault.opcode != 0x100 && fault.opcode != opcode) return false;
  if (fault.skip > 0) {
    --fault.skip;
    return false;
  }
  if (fault.count == 0) return false;
  if (fault.count > 0) --fault.count;
  return true;
}

CommandResult SimDrive::Sense(uint8_t key, uint8_t asc, uint8_t ascq) {
  CommandResult result;
  result.status = Status::CheckCondition;
  result.senseKey = key;
  result.asc = asc;
  result.ascq = ascq;
  return result;
}

CommandResult SimDrive::Execute(const uint8_t* cdb, int direction, uint8_t* data, uint32_t length) {
  RecordedCommand record;
  std::memcpy(record.cdb, cdb, sizeof record.cdb);
  record.direction = direction;
  record.length = length;
  if (direction == 0 && data != nullptr && length > 0) record.dataHash = Fnv1a64(data, length);
  log.push_back(record);

  const double now = clock ? clock() : 0.0;
  if (clock && firstCommandAt_ < 0.0) firstCommandAt_ = now;
  for (ResetFault& fault : resetFaults) {
    if (fault.idleSeconds > 0.0 && lastEndAt_ >= 0.0 && now - lastEndAt_ >= fault.idleSeconds &&
        Matches(fault, cdb[0])) {
      Reset(fault.takenBySystem, lastCommandPartBlock_);
    }
  }

  CommandResult result = Faulted(cdb[0]);
  if (result.status == Status::Good) {
    const double slowSeconds = result.delaySeconds;
    const ShortFault* cut = nullptr;
    for (ShortFault& fault : shortFaults) {
      if (Matches(fault, cdb[0])) {
        cut = &fault;
        break;
      }
    }
    if (cut != nullptr && direction == 1 && data != nullptr) {
      // Only the first bytes of the answer reach the host; the rest of its buffer is untouched.
      std::vector<uint8_t> answer(length);
      result = Dispatch(cdb, direction, answer.data(), length);
      result.transferred = std::min(result.transferred, cut->bytes);
      std::memcpy(data, answer.data(), result.transferred);
    } else {
      result = Dispatch(cdb, direction, data, length);
      if (cut != nullptr) result.transferred = std::min(result.transferred, cut->bytes);
    }
    result.delaySeconds += slowSeconds;
  }
  if (commandsSinceReset_ >= 0) ++commandsSinceReset_;
  lastCommandPartBlock_ = IsPartBlockWrite(cdb);
  for (ResetFault& fault : resetFaults) {
    if (fault.idleSeconds <= 0.0 && Matches(fault, cdb[0])) {
      Reset(fault.takenBySystem, lastCommandPartBlock_);
    }
  }
  result.delaySeconds += latencySeconds;
  if (onAnswer) onAnswer(cdb, direction, data, length, result);
  lastEndAt_ = now + result.delaySeconds;
  return result;
}

void SimDrive::Reset(bool takenBySystem, bool afterPartBlock) {
  buffer.clear();
  partBlock.clear();
  imageHighWater_ = 0;
  unitAttention = !takenBySystem;
  ++resets;
  commandsSinceReset_ = 0;
  resetBySystem_ = takenBySystem;
  resetAfterPartBlock_ = afterPartBlock;
}

// Injected faults, in order: a vanished drive, transport faults, busy, sense faults. A slow fault
// lets the command run and only adds to its delay (returned as Good with that delay).
CommandResult SimDrive::Faulted(uint8_t opcode) {
  if (vanished) return TransportFailed();
  for (Fault& fault : transportFaults) {
    if (Matches(fault, opcode)) return TransportFailed();
  }
  for (Fault& fault : busyFaults) {
    if (Matches(fault, opcode)) {
      CommandResult busy;
      busy.status = Status::Busy;
      return busy;
    }
  }
  for (SenseFault& fault : senseFaults) {
    if (Matches(fault, opcode)) {
      CommandResult result = Sense(fault.key, fault.asc, fault.ascq);
      result.senseFormat = fault.format;
      return result;
    }
  }
  CommandResult result;
  for (SlowFault& fault : slowFaults) {
    if (Matches(fault, opcode)) result.delaySeconds += fault.seconds;
  }
  return result;
}

CommandResult SimDrive::Dispatch(const uint8_t* cdb, int direction, uint8_t* data,
                                 uint32_t length) {
  const uint8_t opcode = cdb[0];
  // A pending unit attention is reported by the next command other than INQUIRY and (unless the
  // drive is configured so) GET EVENT STATUS NOTIFICATION, once.
  if (unitAttention && opcode != kInquiry &&
      (opcode != kGetEventStatus || eventStatusReportsAttention)) {
    unitAttention = false;
    return Sense(kSenseKeyUnitAttention, kAscPowerOnReset, 0x00);
  }
  // A data-in command whose host side expects no data in fails in the transport, as a
  // direction mismatch does on a real adapter.
  const bool dataIn = opcode == kInquiry || opcode == kGetEventStatus || opcode == kReadBuffer ||
                      opcode == kVendorCommand;
  if (dataIn && length > 0 && direction != 1) return TransportFailed();
  switch (opcode) {
    case kTestUnitReady:
      return TestUnitReady();
    case kInquiry:
      return Inquiry(cdb, data, length);
    case kStartStopUnit:
      return StartStopUnit(cdb);
    case kGetEventStatus:
      return GetEventStatus(cdb, data, length);
    case kReadBuffer:
      return ReadBuffer(cdb, data, length);
    case kWriteBuffer:
      return WriteBuffer(cdb, direction, data, length);
    case kVendorCommand:
      if (cdb[1] == kVendorFlashId) {
        const uint32_t n = std::min(length, kFlashIdBytes);
        if (data != nullptr) std::memcpy(data, flashId, n);
        return Good(data != nullptr ? n : 0);
      }
      return Sense(kSenseKeyIllegalRequest, kAscInvalidFieldInCdb, 0x00);
    default:
      return Sense(kSenseKeyIllegalRequest, kAscInvalidOpcode, 0x00);
  }
}

CommandResult SimDrive::TestUnitReady() {
  if (readyPollsSeen_ < becomingReadyPolls) {
    ++readyPollsSeen_;
    return Sense(kSenseKeyNotReady, kAscNotReady, 0x01);
  }
  if (clock && becomingReadySeconds > 0.0 && clock() - firstCommandAt_ < becomingReadySeconds) {
    return Sense(kSenseKeyNotReady, kAscNotReady, 0x01);
  }
  if (trayOpen) return Sense(kSenseKeyNotReady, kAscMediumNotPresent, 0x02);
  if (!discPresent) return Sense(kSenseKeyNotReady, kAscMediumNotPresent, 0x00);
  return Good();
}

CommandResult SimDrive::Inquiry(const uint8_t* cdb, uint8_t* data, uint32_t length) {
  if ((cdb[1] & 0x03) != 0 || cdb[2] != 0)
    return Sense(kSenseKeyIllegalRequest, kAscInvalidFieldInCdb, 0x00);  // no VPD pages
  uint8_t response[kInquiryBytes] = {};
  response[0] = 0x05;  // CD/DVD device
  response[1] = 0x80;  // removable medium
  response[2] = 0x00;
  response[3] = 0x02;
  response[4] = kInquiryBytes - 5;
  PutField(response + 8, 8, identity.vendor);
  PutField(response + 16, 16, identity.product);
  PutField(response + 32, 4, identity.revision);
  PutField(response + 36, 16, identity.vendorSpecific);
  const uint32_t n = std::min({length, uint32_t{cdb[4]}, kInquiryBytes});
  if (data == nullptr) return Good();
  std::memcpy(data, response, n);
  return Good(n);
}

CommandResult SimDrive::StartStopUnit(const uint8_t* cdb) {
  const bool loadEject = (cdb[4] & 0x02) != 0;
  const bool start = (cdb[4] & 0x01) != 0;
  if (!loadEject) return Good();  // spin up or stop: nothing to model
  if (start) {
    trayOpen = false;
    return Good();
  }
  if (trayLocked) return Sense(kSenseKeyIllegalRequest, kAscRemovalPrevented, 0x02);
  trayOpen = true;
  return Good();
}

CommandResult SimDrive::GetEventStatus(const uint8_t* cdb, uint8_t* data, uint32_t length) {
  if (rejectEventStatus) return Sense(kSenseKeyIllegalRequest, kAscInvalidOpcode, 0x00);
  if ((cdb[1] & 0x01) == 0)
    return Sense(kSenseKeyIllegalRequest, kAscInvalidFieldInCdb, 0x00);  // only polled requests
  if ((cdb[4] & 0x10) == 0)
    return Sense(kSenseKeyIllegalRequest, kAscInvalidFieldInCdb, 0x00);  // only the media class
  const uint8_t response[kEventStatusBytes] = {
      0x00,
      0x06,
      0x04,
      0x10,  // header: 6 more bytes, media class, media supported
      0x00,  // no change
      static_cast<uint8_t>((trayOpen ? 0x01 : 0x00) | (discPresent ? 0x02 : 0x00)),
      0x00,
      0x00};
  const uint32_t allocation = (uint32_t{cdb[7]} << 8) | cdb[8];
  const uint32_t n = std::min({length, allocation, kEventStatusBytes});
  if (data == nullptr) return Good();
  std::memcpy(data, response, n);
  return Good(n);
}

CommandResult SimDrive::ReadBuffer(const uint8_t* cdb, uint8_t* data, uint32_t length) {
  if ((cdb[1] & 0x1F) != 0x01 || cdb[2] != 0x01)
    return Sense(kSenseKeyIllegalRequest, kAscInvalidFieldInCdb, 0x00);
  const uint32_t offset = Be24(cdb + 3);
  const uint32_t n = std::min(Be24(cdb + 6), length);
  if (data == nullptr || n == 0) return Good();
  for (uint32_t i = 0; i < n; ++i) {
    const size_t at = size_t{offset} + i;
    data[i] = at < buffer.size() ? buffer[at] : 0;
  }
  readBackCount_.resize(readBackFaults.size(), 0);
  for (size_t f = 0; f < readBackFaults.size(); ++f) {
    const ReadBackFault& fault = readBackFaults[f];
    const uint64_t at = uint64_t(fault.block) * kReadBackBlockBytes + uint64_t(fault.position);
    if (at < offset || at >= uint64_t{offset} + n) continue;
    if (readBackCount_[f] >= fault.attempts) continue;
    ++readBackCount_[f];
    data[at - offset] ^= 0xFF;
  }
  return Good(n);
}

CommandResult SimDrive::WriteBuffer(const uint8_t* cdb, int direction, uint8_t* data,
                                    uint32_t length) {
  if ((cdb[1] & 0x1F) != 0x05 || cdb[2] != 0x01)
    return Sense(kSenseKeyIllegalRequest, kAscInvalidFieldInCdb, 0x00);
  const uint32_t offset = Be24(cdb + 3);
  const uint32_t cdbLength = Be24(cdb + 6);
  const uint8_t control = cdb[9];

  if (control == 0x80 || control == 0xA0) {
    // The final command carries no data.
    if (cdbLength != 0 || length != 0)
      return Sense(kSenseKeyIllegalRequest, kAscInvalidFieldInCdb, 0x00);
    return Program(control);
  }
  if (control != 0x00 && control != 0x7F)
    return Sense(kSenseKeyIllegalRequest, kAscInvalidFieldInCdb, 0x00);

  // The data phase must bring what the CDB announces.
  if (cdbLength > 0 && (direction != 0 || data == nullptr || length < cdbLength)) {
    return TransportFailed();
  }
  if (IsPartBlockWrite(cdb)) {
    partBlock.assign(data, data + cdbLength);
    partBlockOffset = offset;
    partBlockControl = control;
    return Good(cdbLength);
  }
  if (uint64_t{offset} + cdbLength > kBufferCapacity)
    return Sense(kSenseKeyIllegalRequest, kAscInvalidFieldInCdb, 0x00);
  if (cdbLength == 0) return Good();
  const uint32_t end = offset + cdbLength;
  if (buffer.size() < end) buffer.resize(end, 0);
  std::memcpy(buffer.data() + offset, data, cdbLength);
  imageHighWater_ = std::max(imageHighWater_, end);
  return Good(cdbLength);
}

CommandResult SimDrive::Program(uint8_t control) {
  const size_t end = std::min<size_t>(imageHighWater_, buffer.size());
  programmed.assign(buffer.begin(), buffer.begin() + end);
  programmedPartBlock = partBlock;
  programmedRightAfterReset = resetBySystem_ && commandsSinceReset_ == 0;
  programmedAfterPartBlockReset = resetBySystem_ && resetAfterPartBlock_ && partBlock.empty();
  ++programCount;
  lastProgramControl = control;
  const size_t magicLength = sizeof kDemoImageMagic - 1;
  if (programmed.size() >= size_t{kDemoRevisionOffset} + 4 &&
      std::memcmp(programmed.data(), kDemoImageMagic, magicLength) == 0) {
    identity.revision.assign(reinterpret_cast<const char*>(programmed.data()) + kDemoRevisionOffset,
                             4);
  }
  return Good();
}

}  // namespace quorel::sim
