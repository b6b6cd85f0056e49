// Sense keys and additional sense codes the drive command set and the window act on; the
// simulated drive answers with the same ones.
#pragma once

#include <cstdint>

namespace quorel {

constexpr uint8_t kSenseKeyNotReady = 0x02;
constexpr uint8_t kSenseKeyIllegalRequest = 0x05;
constexpr uint8_t kSenseKeyUnitAttention = 0x06;

constexpr uint8_t kAscNotReady = 0x04;  // ASCQ 01h: becoming ready
constexpr uint8_t kAscInvalidOpcode = 0x20;
constexpr uint8_t kAscInvalidFieldInCdb = 0x24;
constexpr uint8_t kAscPowerOnReset = 0x29;
constexpr uint8_t kAscMediumNotPresent = 0x3A;  // ASCQ 02h: tray open
constexpr uint8_t kAscRemovalPrevented = 0x53;  // ASCQ 02h: medium removal prevented

}  // namespace quorel
