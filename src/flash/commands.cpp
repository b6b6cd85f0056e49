// The drive command set of AtapiDevice: one 12-byte template per command, builders that fill
// the variable fields, and the readiness and tray procedures built on them.
#include <cstring>

#include "device/atapi_device.h"
#include "flash/sense_codes.h"

namespace quorel {

namespace {

using Cdb = uint8_t[kCdbBytes];

enum Command {
  kTestUnitReady,
  kInquiry,
  kGetEventStatus,
  kStartStopUnit,
  kReadFlashId,
  kReadBuffer,
  kWriteBuffer,
  kCommandCount
};

// Every byte a builder does not write stays as the template has it.
constexpr uint8_t kTemplates[kCommandCount][kCdbBytes] = {
    /* TEST UNIT READY                */ {0x00},
    /* INQUIRY                        */ {0x12},
    /* GET EVENT STATUS NOTIFICATION  */ {0x4A},
    /* START STOP UNIT                */ {0x1B},
    /* flash part identity (vendor)   */ {0xDF, 0x11},
    /* READ BUFFER, mode 01h, ID 01h  */ {0x3C, 0x01, 0x01},
    /* WRITE BUFFER, mode 05h, ID 01h */ {0x3B, 0x05, 0x01},
};

constexpr uint32_t kFlashIdBytes = 128;
constexpr uint8_t kMediaEventClass = 0x10;
constexpr uint16_t kMediaEventBytes = 8;
constexpr uint32_t kMediaStatusByte = 5;
constexpr uint32_t kFlashPartIdBytes = 4;
constexpr uint32_t kReadyPollMilliseconds = 300;
constexpr int kDiscCheckLimitSeconds = 30;
// A drive reports each pending unit attention once; one that still reports one after this many
// TEST UNIT READY commands is not going to stop.
constexpr int kUnitAttentionCommands = 16;

void From(Command command, Cdb& cdb) {
  std::memcpy(cdb, kTemplates[command], kCdbBytes);
}

// A big-endian 24-bit field: the low 24 bits of value.
void Put24(Cdb& cdb, int at, uint32_t value) {
  cdb[at] = static_cast<uint8_t>((value >> 16) & 0xFF);
  cdb[at + 1] = static_cast<uint8_t>((value >> 8) & 0xFF);
  cdb[at + 2] = static_cast<uint8_t>(value & 0xFF);
}

// The final program command carries no data.
bool IsProgramControl(uint8_t control) {
  return control == 0x80 || control == 0xA0;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Builders

bool AtapiDevice::TestUnitReady() {
  Cdb cdb;
  From(kTestUnitReady, cdb);
  return SendCommand(cdb, DataDirection::None, 0);
}

bool AtapiDevice::Inquiry(uint8_t cmdDt, uint8_t evpd, uint8_t pageCode, uint8_t allocationLength,
                          uint8_t control) {
  Cdb cdb;
  From(kInquiry, cdb);
  cdb[1] = static_cast<uint8_t>(((cmdDt & 1) << 1) | (evpd & 1));
  cdb[2] = pageCode;
  cdb[4] = allocationLength;
  cdb[5] = control;
  return SendCommand(cdb, DataDirection::In, allocationLength, Transfer::UpTo);
}

bool AtapiDevice::GetEventStatus(uint8_t polled, uint8_t classRequest, uint16_t allocationLength,
                                 uint8_t control) {
  Cdb cdb;
  From(kGetEventStatus, cdb);
  cdb[1] = polled & 1;
  cdb[4] = classRequest;
  cdb[7] = static_cast<uint8_t>(allocationLength >> 8);
  cdb[8] = static_cast<uint8_t>(allocationLength & 0xFF);
  cdb[9] = control;
  return SendCommand(cdb, DataDirection::In, allocationLength, Transfer::UpTo);
}

bool AtapiDevice::StartStopUnit(uint8_t immed, uint8_t powerCondition, uint8_t loadEject,
                                uint8_t start) {
  Cdb cdb;
  From(kStartStopUnit, cdb);
  cdb[1] = immed & 1;
  cdb[4] =
      static_cast<uint8_t>(((powerCondition & 0x0F) << 4) | ((loadEject & 1) << 1) | (start & 1));
  return SendCommand(cdb, DataDirection::None, 0);
}

bool AtapiDevice::ReadFlashId() {
  Cdb cdb;
  From(kReadFlashId, cdb);
  if (!SendCommand(cdb, DataDirection::In, kFlashIdBytes, Transfer::UpTo)) return false;
  // The part identity is the first four bytes: an answer without them identifies nothing.
  if (last.lastTransferLength < kFlashPartIdBytes) return false;
  for (uint32_t i = 0; i < kFlashIdBytes; ++i) {
    if (inBuffer[i] != 0) return true;
  }
  return false;
}

bool AtapiDevice::ReadBuffer(uint32_t offset, uint32_t length, const uint8_t* expected) {
  Cdb cdb;
  From(kReadBuffer, cdb);
  Put24(cdb, 3, offset);
  Put24(cdb, 6, length);
  return SendCommand(cdb, DataDirection::In, length, Transfer::Exact, expected);
}

bool AtapiDevice::WriteBuffer(uint32_t offset, uint32_t length, uint8_t control) {
  Cdb cdb;
  From(kWriteBuffer, cdb);
  Put24(cdb, 3, offset);
  Put24(cdb, 6, length);
  cdb[9] = control;
  if (IsProgramControl(control)) return SendCommand(cdb, DataDirection::None, 0);
  return SendCommand(cdb, DataDirection::Out, length);
}

bool AtapiDevice::TrayIn() {
  return StartStopUnit(0, 0, 1, 1);
}
bool AtapiDevice::TrayOut() {
  return StartStopUnit(0, 0, 1, 0);
}
bool AtapiDevice::StopDisc() {
  return StartStopUnit(0, 0, 0, 0);
}

// ---------------------------------------------------------------------------------------------
// Sense tests and procedures

bool AtapiDevice::SenseIs(uint8_t key, uint8_t asc) const {
  return last.lastSenseKey == key && last.lastAsc == asc;
}

bool AtapiDevice::SenseKeyIs(uint8_t key) const {
  return last.lastSenseKey == key;
}

bool AtapiDevice::WaitReady(int limitSeconds) {
  bool const limited = limitSeconds > 0;
  if (limited) waitTimer.Start(true);
  // Without a high-resolution counter the timer always reads 0.0; the limit is then kept by
  // counting the 300 ms polls, rounded up so that they last at least the limit.
  uint64_t const pollLimit =
      limited ? (static_cast<uint64_t>(limitSeconds) * 1000u + kReadyPollMilliseconds - 1) /
                    kReadyPollMilliseconds
              : 0;
  uint64_t polls = 0;
  bool timedOut = false;
  for (;;) {
    TestUnitReady();
    if (!SenseIs(kSenseKeyNotReady, kAscNotReady) && !SenseKeyIs(kSenseKeyUnitAttention)) break;
    if (limited) {
      bool const limitReached = waitTimer.Available()
                                    ? waitTimer.Elapsed() >= static_cast<double>(limitSeconds)
                                    : polls >= pollLimit;
      if (limitReached) {
        timedOut = true;
        break;
      }
    }
    platform().Sleep(kReadyPollMilliseconds);
    ++polls;
  }
  // The sense callers inspect afterwards is this command's.
  TestUnitReady();
  if (limited) waitTimer.Stop();
  return !timedOut;
}

bool AtapiDevice::IsDiscAbsent() {
  WaitReady(kDiscCheckLimitSeconds);
  return SenseIs(kSenseKeyNotReady, kAscMediumNotPresent);
}

bool AtapiDevice::IsTrayOpen() {
  if (!GetEventStatus(1, kMediaEventClass, kMediaEventBytes, 0)) return false;
  if (last.lastTransferLength <= kMediaStatusByte) return false;  // no media status came
  return (inBuffer[kMediaStatusByte] & 0x01) != 0;                // door or tray open
}

bool AtapiDevice::ClearUnitAttention() {
  for (int sent = 0; sent < kUnitAttentionCommands; ++sent) {
    if (TestUnitReady() || !SenseKeyIs(kSenseKeyUnitAttention)) return true;
  }
  return false;
}

}  // namespace quorel
