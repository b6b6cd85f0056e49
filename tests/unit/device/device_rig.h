// Shared pieces of the drive-access tests: a simulated machine, engines on it, and a window into
// the engine's request areas.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "device/atapi_device.h"
#include "sim/sim_machine.h"

namespace quorel {

// Reads the request areas the engine last filled.
class AtapiDeviceTestAccess {
 public:
  static const PassThroughRequest& PassThrough(const AtapiDevice& engine) {
    return engine.passThroughRequest;
  }
  static const SRB_ExecSCSICmd& Aspi(const AtapiDevice& engine) { return engine.aspiRequest->srb; }
};

namespace test {

using Cdb = std::array<uint8_t, kCdbBytes>;

inline Cdb ToCdb(const uint8_t* bytes) {
  Cdb cdb;
  std::memcpy(cdb.data(), bytes, cdb.size());
  return cdb;
}

inline std::string Text(const char* chars, size_t length) {
  return std::string(chars, length);
}

// A machine and the transport request reset around each test.
class DeviceTest : public ::testing::Test {
 protected:
  DeviceTest() { g_transportRequest = 0; }
  ~DeviceTest() override { g_transportRequest = 0; }

  // An NT machine with one drive at E: on the pass-through; the engine scans and addresses it.
  std::unique_ptr<AtapiDevice> PassThroughEngine() {
    drive = machine.AddLetterDrive('E', 1, 2);
    auto engine = std::make_unique<AtapiDevice>();
    EXPECT_EQ(engine->DeviceCount(), 1);
    EXPECT_TRUE(engine->SelectDevice(0));
    drive->ResetRecord();
    machine.ClearCalls();
    return engine;
  }

  // A machine whose ASPI manager sees one drive at adapter 1, target 2, LUN 3; the engine asks
  // for ASPI, scans and addresses it.
  std::unique_ptr<AtapiDevice> AspiEngine() {
    drive = machine.AddAspiDrive(1, 2, 3);
    g_transportRequest = kTransportRequestAspi;
    auto engine = std::make_unique<AtapiDevice>();
    EXPECT_TRUE(engine->UseAspi());
    EXPECT_EQ(engine->DeviceCount(), 1);
    EXPECT_TRUE(engine->SelectDevice(0));
    drive->ResetRecord();
    machine.ClearCalls();
    return engine;
  }

  std::unique_ptr<AtapiDevice> EngineOn(bool aspi) {
    return aspi ? AspiEngine() : PassThroughEngine();
  }

  // Commands the drive received with the given operation code.
  int Received(uint8_t opcode) const {
    int count = 0;
    for (const auto& command : drive->log) count += command.cdb[0] == opcode ? 1 : 0;
    return count;
  }

  sim::SimMachine machine;
  std::shared_ptr<sim::SimDrive> drive;
};

}  // namespace test
}  // namespace quorel
