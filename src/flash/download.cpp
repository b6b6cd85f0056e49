// The firmware download: prepare the drive, send its part block, write and read back the image
// block by block, settle, read the whole image back once more, then tell the drive to program
// what it holds.
//
// A drive that resets meanwhile (a power dip, a bridge that re-enumerates, a bus reset) loses its
// buffer and its part block and raises one unit attention, which the system's own media poll may
// take before the program sees it. So the program command goes out only straight after a whole
// read-back pass found every block in place (ending with a block that padding cannot match), and
// every new attempt starts over from the preparation, part block included; before the first such
// block is in place, a failed command ends the attempt. A drive whose flash part needs a part
// block is never told to program unless the same attempt's preparation sent it that block. The
// program command is never re-sent blindly: a drive that acted on it may have emptied its buffer
// since.
#include <cstdio>
#include <cstring>

#include "device/atapi_device.h"
#include "flash/part_table.h"
#include "flash/sense_codes.h"

namespace quorel {
namespace {

constexpr uint32_t kBlockBytes = 16384;
constexpr int32_t kMaxImageBytes = 16 * 1024 * 1024;  // the 24-bit buffer offset's reach
constexpr int kReadyLimitSeconds = 60;
constexpr double kSettleSeconds = 1.0;
constexpr int kAttempts = 3;
constexpr uint32_t kPartComposeBytes = 32768;
constexpr uint8_t kProgramControl = 0x80;
constexpr uint8_t kProgramWithBootCodeControl = 0xA0;
constexpr uint32_t kFlashPartIdBytes = 4;

// The final program command goes over whatever the drive buffer holds, so only a positive whole
// number of blocks that the buffer offset can address is acceptable.
bool ImageSizeAcceptable(int32_t sizeBytes) {
  return sizeBytes > 0 && sizeBytes <= kMaxImageBytes && sizeBytes % kBlockBytes == 0;
}

// A drive that resets, its unit attention taken by the system, reads back an emptied buffer,
// which blocks of padding match. A telling block, one that is not one byte repeated, does not:
// only a telling block read after the reset reveals it.
bool Telling(const uint8_t* block) {
  return std::memcmp(block, block + 1, kBlockBytes - 1) != 0;
}

// The block the whole read-back pass reads last: the last telling one (the last block when none
// is).
uint32_t LastTellingBlock(const uint8_t* image, uint32_t blocks) {
  for (uint32_t n = blocks; n-- > 0;) {
    if (Telling(image + n * kBlockBytes)) return n;
  }
  return blocks == 0 ? 0 : blocks - 1;
}

// IOCTL_CDROM_EXCLUSIVE_ACCESS (Windows Vista and later; earlier systems answer
// ERROR_INVALID_FUNCTION). A lock takes CDROM_EXCLUSIVE_LOCK: CDROM_EXCLUSIVE_ACCESS
// { RequestType, Flags } then a zero-terminated caller name of at most 63 letters, digits,
// blanks and . , : ; - _ ; an unlock takes CDROM_EXCLUSIVE_ACCESS alone. Only the handle that
// locked may unlock, and closing that handle unlocks too.
struct CdromExclusiveAccess {
  uint32_t requestType;
  uint32_t flags;
};
struct CdromExclusiveLock {
  CdromExclusiveAccess access;
  uint8_t callerName[64];
};
static_assert(sizeof(CdromExclusiveAccess) == 8);
static_assert(sizeof(CdromExclusiveLock) == 72);

constexpr uint32_t kExclusiveAccessLockDevice = 1;
constexpr uint32_t kExclusiveAccessUnlockDevice = 2;
// Without it the lock is refused while a file system is mounted on the drive. The download does
// not use the file system, and a disc left in the drive must not cost the protection.
constexpr uint32_t kCdromLockIgnoreVolume = 1;
constexpr char kCallerName[] = "Quorel";

bool LockExclusive(Handle drive) {
  CdromExclusiveLock request{};
  request.access = {kExclusiveAccessLockDevice, kCdromLockIgnoreVolume};
  std::memcpy(request.callerName, kCallerName, sizeof kCallerName);
  uint32_t returned = 0;
  return platform().DeviceIoControl(drive, win::kIoctlCdromExclusiveAccess, &request,
                                    sizeof request, nullptr, 0, &returned);
}

void UnlockExclusive(Handle drive) {
  CdromExclusiveAccess request{kExclusiveAccessUnlockDevice, 0};
  uint32_t returned = 0;
  platform().DeviceIoControl(drive, win::kIoctlCdromExclusiveAccess, &request, sizeof request,
                             nullptr, 0, &returned);
}

// Holds the system's exclusive access to the drive for the download where the pass-through
// offers it, so no other program talks to the drive mid-flash. Refusal is not an error.
class ExclusiveAccess {
 public:
  ExclusiveAccess(bool passThrough, Handle drive) : drive_(drive) {
    if (passThrough && drive != kInvalidHandle && drive != nullptr) {
      locked_ = LockExclusive(drive);
    }
  }
  ~ExclusiveAccess() {
    if (!locked_) return;
    try {
      UnlockExclusive(drive_);
    } catch (...) {
      // Unwinding from a failed download must go on; the handle's close releases the lock.
    }
  }
  ExclusiveAccess(const ExclusiveAccess&) = delete;
  ExclusiveAccess& operator=(const ExclusiveAccess&) = delete;

 private:
  Handle drive_;
  bool locked_ = false;
};

}  // namespace

bool AtapiDevice::DownloadFirmware(const uint8_t* image, int32_t sizeBytes, uint8_t bootCode) {
  SetTimeout(kDefaultTimeoutSeconds);
  lastMismatch.clear();
  programUnconfirmed = false;
  if (image == nullptr || !ImageSizeAcceptable(sizeBytes) ||
      !PartBlocksAllowedFor(currentVendorSpecific)) {
    // Nothing is sent. The flag is left set as on every other failed download.
    SetRetry(true);
    return false;
  }
  ExclusiveAccess exclusive(!useAspi, driveHandle);
  const uint32_t blocks = uint32_t(sizeBytes) / kBlockBytes;
  const uint8_t control = bootCode != 0 ? kProgramWithBootCodeControl : kProgramControl;

  // Every attempt starts from the preparation: whatever failed the last one may have been a
  // reset whose unit attention the system took, and the part block is then gone too.
  int part = kNoPartBlock;  // the part found by an earlier attempt of this download
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    switch (Prepare(part)) {
      case PrepareOutcome::Ready:
        break;
      case PrepareOutcome::StartOver:
        continue;
      case PrepareOutcome::OtherPart:
        return false;
    }
    if (!WriteAndVerifyPass(image, blocks)) continue;
    waitTimer.Wait(kSettleSeconds);
    if (!VerifyPass(image, blocks)) continue;
    switch (Program(control, image, blocks)) {
      case ProgramOutcome::Programmed:
        return true;
      case ProgramOutcome::StartOver:
        continue;
      case ProgramOutcome::Failed:
        return false;
    }
  }
  return false;
}

AtapiDevice::PrepareOutcome AtapiDevice::Prepare(int& part) {
  // Readiness and stop are tolerant: each is sent once and its outcome does not stop the
  // download. The part block is not: a drive whose part needs one is written only after it took
  // it in this attempt.
  SetRetry(false);
  WaitReady(kReadyLimitSeconds);
  StopDisc();
  const int entry = IdentifyFlashPart();
  if (entry == kFlashPartUnread) return PrepareOutcome::StartOver;
  // Once a part was found, any other answer is another drive, or one that lies.
  if (part != kNoPartBlock && entry != part) return PrepareOutcome::OtherPart;
  if (entry == kNoPartBlock) return PrepareOutcome::Ready;
  part = entry;
  return WritePartBlock(entry) ? PrepareOutcome::Ready : PrepareOutcome::StartOver;
}

int AtapiDevice::IdentifyFlashPart() {
  if (ReadFlashId()) return FindFlashPart(inBuffer);
  // Answered with nothing but zeros, or refused as not supported: the drive names no part.
  // Anything else (busy, not ready, a unit attention, a transport failure, a time-out, a short
  // answer) says nothing about the part it carries.
  const bool zeros =
      last.lastOutcome == kOutcomeGood && last.lastTransferLength >= kFlashPartIdBytes;
  const bool unsupported =
      last.lastOutcome == kOutcomeSense && last.lastSenseKey == kSenseKeyIllegalRequest;
  return zeros || unsupported ? kNoPartBlock : kFlashPartUnread;
}

bool AtapiDevice::SendPartBlock() {
  const int entry = IdentifyFlashPart();
  return entry >= 0 && WritePartBlock(entry);
}

bool AtapiDevice::WritePartBlock(int entry) {
  const PartBlockLayout layout = LayoutOfPart(entry);
  std::memset(outBuffer, 0, kPartComposeBytes);
  std::memcpy(outBuffer, FlashPartTable[entry], layout.headerBytes);
  std::memcpy(outBuffer + layout.headerBytes, ActivePartBlocks().data + layout.dataOffset,
              layout.blockBytes);
  return WriteBuffer(layout.bufferOffset, layout.transferBytes, layout.control);
}

bool AtapiDevice::WriteAndVerify(const uint8_t* image, int32_t sizeBytes) {
  lastMismatch.clear();
  const uint32_t blocks = sizeBytes < int32_t{kBlockBytes} ? 0 : uint32_t(sizeBytes) / kBlockBytes;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    if (WriteAndVerifyPass(image, blocks)) return true;
  }
  return false;
}

bool AtapiDevice::WriteAndVerifyPass(const uint8_t* image, uint32_t blocks) {
  // Until a telling block is in place, a failed command ends the attempt instead of being re-sent:
  // it may have been a reset that took the part block along, which no later read-back would show.
  // From then on a reset empties that block too, and the whole read-back pass finds it.
  SetRetry(false);
  bool ok = true;
  for (uint32_t n = 0; ok && n < blocks; ++n) {
    std::memcpy(outBuffer, image + n * kBlockBytes, kBlockBytes);
    ok = WriteBuffer(n * kBlockBytes, kBlockBytes, 0x00) && ReadBack(n * kBlockBytes, outBuffer);
    if (ok && !retryFlag && Telling(outBuffer)) SetRetry(true);
  }
  SetRetry(true);
  return ok;
}

bool AtapiDevice::VerifyPass(const uint8_t* image, uint32_t blocks) {
  const uint32_t last = LastTellingBlock(image, blocks);
  for (uint32_t n = 0; n < blocks; ++n) {
    if (n != last && !ReadBack(n * kBlockBytes, image + n * kBlockBytes)) return false;
  }
  return blocks == 0 || ReadBack(last * kBlockBytes, image + last * kBlockBytes);
}

bool AtapiDevice::ReadBack(uint32_t offset, const uint8_t* expected) {
  if (!ReadBuffer(offset, kBlockBytes, expected)) return false;
  if (std::memcmp(inBuffer, expected, kBlockBytes) == 0) return true;
  uint32_t pos = 0;
  while (inBuffer[pos] == expected[pos]) ++pos;
  char line[64];
  std::snprintf(line, sizeof line, "R = %.2x , W = %.2x , Pos = %d(%x)", inBuffer[pos],
                expected[pos], int(pos), pos);
  lastMismatch = line;
  platform().OutputDebugStringA(line);
  return false;
}

AtapiDevice::ProgramOutcome AtapiDevice::Program(uint8_t control, const uint8_t* image,
                                                 uint32_t blocks) {
  if (SendProgram(control)) return ProgramOutcome::Programmed;
  const bool sense = last.lastOutcome == kOutcomeSense;
  // A unit attention answers instead of the command: the drive reset before it and acted on
  // nothing, but lost what it held.
  if (sense && last.lastSenseKey == kSenseKeyUnitAttention) return ProgramOutcome::StartOver;
  // Refused by the system or by the drive: it acted on nothing either.
  if (last.lastRefused || last.lastAccessDenied ||
      (sense && last.lastSenseKey == kSenseKeyIllegalRequest)) {
    return ProgramOutcome::Failed;
  }
  // The drive may have acted. Without sense and within the time-out the command may go out once
  // more, but only over a buffer that still holds the whole image.
  programUnconfirmed = true;
  if (sense || last.lastTimedOut || !VerifyPass(image, blocks) || !SendProgram(control)) {
    return ProgramOutcome::Failed;
  }
  programUnconfirmed = false;
  return ProgramOutcome::Programmed;
}

bool AtapiDevice::SendProgram(uint8_t control) {
  SetRetry(false);
  const bool good = WriteBuffer(0, 0, control);
  SetRetry(true);
  return good;
}

}  // namespace quorel
