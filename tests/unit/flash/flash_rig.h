// A simulated machine with one drive at E: on the pass-through and a job engine addressing it.
// A tap records what the engine sends: every pass-through command with its outcome as the engine
// sees it and the virtual time it was sent at, and every exclusive-access request.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "device/atapi_device.h"
#include "sim/sim_machine.h"
#include "unit/flash/platform_tap.h"

namespace quorel::test {

using Cdb = std::array<uint8_t, 12>;

// The buffer commands: mode, buffer 1, a 24-bit offset and length, then the control byte.
inline Cdb BufferCdb(uint8_t opcode, uint8_t mode, uint32_t offset, uint32_t length,
                     uint8_t control) {
  Cdb cdb{opcode, mode, 0x01};
  for (int i = 0; i < 3; ++i) {
    cdb[3 + i] = uint8_t(offset >> (16 - 8 * i));
    cdb[6 + i] = uint8_t(length >> (16 - 8 * i));
  }
  cdb[9] = control;
  return cdb;
}
inline Cdb WriteBufferCdb(uint32_t offset, uint32_t length, uint8_t control) {
  return BufferCdb(0x3B, 0x05, offset, length, control);
}
inline Cdb ReadBufferCdb(uint32_t offset, uint32_t length) {
  return BufferCdb(0x3C, 0x01, offset, length, 0);
}
inline Cdb ToCdb(const uint8_t* bytes) {
  Cdb cdb;
  std::memcpy(cdb.data(), bytes, cdb.size());
  return cdb;
}

// Deterministic image bytes (xorshift32).
inline std::vector<uint8_t> PatternImage(size_t bytes, uint32_t seed) {
  std::vector<uint8_t> image(bytes);
  uint32_t x = seed | 1;
  for (uint8_t& b : image) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = uint8_t(x >> 7);
  }
  return image;
}

constexpr uint32_t kBlock = 16384;
constexpr int32_t kImageBytes = 1048576;

struct SentCommand {
  Cdb cdb{};
  uint32_t length = 0;  // transfer length asked for
  bool good = false;    // the call worked, no sense key, within the time-out
  double at = 0.0;      // virtual seconds
};

struct ExclusiveRequest {
  uint32_t requestType = 0;
  uint32_t flags = 0;
  std::string callerName;
  uint32_t inBytes = 0;
  size_t commandsBefore = 0;  // pass-through commands sent before it
};

struct RigOptions {
  bool counterAvailable = true;
  bool exclusiveAccessSupported = true;
};

class FlashRig {
 public:
  explicit FlashRig(RigOptions options = {}) {
    // 0.1 s per counter read keeps the one-second settle wait to a dozen polls.
    machine.ticksPerCounterRead = machine.counterFrequency / 10;
    machine.counterAvailable = options.counterAvailable;
    machine.exclusiveAccessSupported = options.exclusiveAccessSupported;
    drive = machine.AddLetterDrive('E', 1);
    tap = std::make_unique<PlatformTap>(machine);
    tap->beforeIoctl = [this](const IoctlCall& call) -> std::optional<bool> {
      if (call.code == win::kIoctlScsiPassThroughDirect) {
        askedLength_ = PassThroughOf(call).DataTransferLength;
      }
      return std::nullopt;
    };
    tap->afterIoctl = [this](const IoctlCall& call, bool result) { Observe(call, result); };
    engine = std::make_unique<AtapiDevice>();
    engine->SelectDevice(0);
    drive->ResetRecord();
    sent.clear();
    exclusive.clear();
  }

  // Image block writes and reads, in the order sent: offsets of 3B/00 16 KiB writes.
  std::vector<uint32_t> ImageWriteOffsets() const {
    std::vector<uint32_t> offsets;
    for (const SentCommand& c : sent) {
      if (c.cdb[0] == 0x3B && c.cdb[9] == 0 && c.length == kBlock) {
        offsets.push_back(uint32_t(c.cdb[3]) << 16 | uint32_t(c.cdb[4]) << 8 | c.cdb[5]);
      }
    }
    return offsets;
  }
  int CountFinalCommands() const {
    int n = 0;
    for (const SentCommand& c : sent) {
      if (c.cdb[0] == 0x3B && (c.cdb[9] == 0x80 || c.cdb[9] == 0xA0)) ++n;
    }
    return n;
  }

  sim::SimMachine machine;
  std::shared_ptr<sim::SimDrive> drive;
  std::unique_ptr<PlatformTap> tap;
  std::unique_ptr<AtapiDevice> engine;
  std::vector<SentCommand> sent;
  std::vector<ExclusiveRequest> exclusive;

 private:
  uint32_t askedLength_ = 0;

  void Observe(const IoctlCall& call, bool result) {
    if (call.code == win::kIoctlScsiPassThroughDirect) {
      const ScsiPassThroughDirect& request = PassThroughOf(call);
      SentCommand command;
      command.cdb = ToCdb(request.Cdb);
      command.length = askedLength_;
      command.good = result && SenseKeyOf(call) == 0;
      command.at = machine.NowSeconds();
      sent.push_back(command);
    } else if (call.code == win::kIoctlCdromExclusiveAccess) {
      ExclusiveRequest request;
      const auto* bytes = static_cast<const uint8_t*>(call.in);
      std::memcpy(&request.requestType, bytes, 4);
      std::memcpy(&request.flags, bytes + 4, 4);
      if (call.inBytes >= 72) {
        request.callerName.assign(reinterpret_cast<const char*>(bytes + 8),
                                  strnlen(reinterpret_cast<const char*>(bytes + 8), 64));
      }
      request.inBytes = call.inBytes;
      request.commandsBefore = sent.size();
      exclusive.push_back(request);
    }
  }
};

}  // namespace quorel::test
