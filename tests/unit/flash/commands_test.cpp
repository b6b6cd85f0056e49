// The drive command set: every CDB byte for byte, the readiness wait, tray and disc tests.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>

#include "unit/device/device_rig.h"

namespace quorel::test {
namespace {

struct CdbCase {
  const char* name;
  std::function<bool(AtapiDevice&)> send;
  Cdb cdb;
  int direction;  // 0 out, 1 in, 2 none
  uint32_t length;
};

class CommandSet : public DeviceTest {};

TEST_F(CommandSet, EveryBuilderAndFixedInstanceByteForByte) {
  const CdbCase cases[] = {
      {"TestUnitReady", [](AtapiDevice& e) { return e.TestUnitReady(); }, Cdb{0x00}, 2, 0},
      {"Inquiry identity read", [](AtapiDevice& e) { return e.Inquiry(0, 0, 0, 0x60, 0); },
       Cdb{0x12, 0, 0, 0, 0x60}, 1, 96},
      {"Inquiry fields", [](AtapiDevice& e) { return e.Inquiry(1, 1, 0x83, 0xFF, 0x5A); },
       Cdb{0x12, 0x03, 0x83, 0, 0xFF, 0x5A}, 1, 255},
      {"Inquiry bits masked", [](AtapiDevice& e) { return e.Inquiry(2, 0xFE, 0, 8, 0); },
       Cdb{0x12, 0x00, 0, 0, 8}, 1, 8},
      {"GetEventStatus fields",
       [](AtapiDevice& e) { return e.GetEventStatus(1, 0x10, 0x1234, 0x77); },
       Cdb{0x4A, 0x01, 0, 0, 0x10, 0, 0, 0x12, 0x34, 0x77}, 1, 0x1234},
      {"GetEventStatus polled masked", [](AtapiDevice& e) { return e.GetEventStatus(2, 4, 8, 0); },
       Cdb{0x4A, 0x00, 0, 0, 0x04, 0, 0, 0, 8}, 1, 8},
      {"StartStopUnit fields", [](AtapiDevice& e) { return e.StartStopUnit(1, 0x0A, 1, 1); },
       Cdb{0x1B, 0x01, 0, 0, 0xA3}, 2, 0},
      {"StartStopUnit masked", [](AtapiDevice& e) { return e.StartStopUnit(0xFE, 0x1F, 2, 2); },
       Cdb{0x1B, 0x00, 0, 0, 0xF0}, 2, 0},
      {"TrayIn", [](AtapiDevice& e) { return e.TrayIn(); }, Cdb{0x1B, 0, 0, 0, 0x03}, 2, 0},
      {"TrayOut", [](AtapiDevice& e) { return e.TrayOut(); }, Cdb{0x1B, 0, 0, 0, 0x02}, 2, 0},
      {"StopDisc", [](AtapiDevice& e) { return e.StopDisc(); }, Cdb{0x1B}, 2, 0},
      {"IsTrayOpen", [](AtapiDevice& e) { return e.IsTrayOpen(); },
       Cdb{0x4A, 0x01, 0, 0, 0x10, 0, 0, 0, 0x08}, 1, 8},
      {"ReadFlashId", [](AtapiDevice& e) { return e.ReadFlashId(); }, Cdb{0xDF, 0x11}, 1, 128},
      {"ReadBuffer", [](AtapiDevice& e) { return e.ReadBuffer(0x0C4000, 0x4000); },
       Cdb{0x3C, 0x01, 0x01, 0x0C, 0x40, 0x00, 0x00, 0x40, 0x00}, 1, 0x4000},
      {"ReadBuffer offset cut to 24 bits",
       [](AtapiDevice& e) { return e.ReadBuffer(0xFF123456, 0x10); },
       Cdb{0x3C, 0x01, 0x01, 0x12, 0x34, 0x56, 0, 0, 0x10}, 1, 0x10},
      {"WriteBuffer data", [](AtapiDevice& e) { return e.WriteBuffer(0x010000, 0x4000, 0); },
       Cdb{0x3B, 0x05, 0x01, 0x01, 0x00, 0x00, 0x00, 0x40, 0x00, 0x00}, 0, 0x4000},
      {"WriteBuffer part block", [](AtapiDevice& e) { return e.WriteBuffer(0, 0x45BA, 0x7F); },
       Cdb{0x3B, 0x05, 0x01, 0, 0, 0, 0x00, 0x45, 0xBA, 0x7F}, 0, 0x45BA},
      {"WriteBuffer program 80h",
       [](AtapiDevice& e) { return e.WriteBuffer(0xAB000000, 0x01000010, 0x80); },
       Cdb{0x3B, 0x05, 0x01, 0, 0, 0, 0, 0, 0x10, 0x80}, 2, 0},
      {"WriteBuffer program A0h", [](AtapiDevice& e) { return e.WriteBuffer(0, 0x100000, 0xA0); },
       Cdb{0x3B, 0x05, 0x01, 0, 0, 0, 0x10, 0, 0, 0xA0}, 2, 0},
  };
  auto engine = PassThroughEngine();
  for (const CdbCase& c : cases) {
    SCOPED_TRACE(c.name);
    drive->ResetRecord();
    c.send(*engine);
    ASSERT_EQ(drive->log.size(), 1u);
    EXPECT_EQ(ToCdb(drive->log[0].cdb), c.cdb);
    EXPECT_EQ(ToCdb(engine->Last().lastCdb), c.cdb);
    EXPECT_EQ(drive->log[0].direction, c.direction);
    EXPECT_EQ(drive->log[0].length, c.length);
  }
}

TEST_F(CommandSet, WriteBufferSendsTheOutBuffer) {
  auto engine = PassThroughEngine();
  for (uint32_t i = 0; i < 0x4000; ++i) engine->OutBuffer()[i] = uint8_t(i * 7);
  ASSERT_TRUE(engine->WriteBuffer(0, 0x4000, 0));
  EXPECT_EQ(drive->log[0].dataHash, sim::Fnv1a64(engine->OutBuffer(), 0x4000));
}

TEST_F(CommandSet, SenseTestsIgnoreTheQualifier) {
  auto engine = PassThroughEngine();
  drive->senseFaults.push_back({{0x00, 0, 1}, 2, 0x04, 0x07});
  EXPECT_FALSE(engine->TestUnitReady());
  EXPECT_TRUE(engine->SenseIs(2, 0x04));
  EXPECT_FALSE(engine->SenseIs(2, 0x3A));
  EXPECT_FALSE(engine->SenseIs(6, 0x04));
  EXPECT_TRUE(engine->SenseKeyIs(2));
  EXPECT_FALSE(engine->SenseKeyIs(6));
}

// ---------------------------------------------------------------------------------------------
// WaitReady

TEST_F(CommandSet, WaitReadyLimits) {
  struct Case {
    const char* name;
    int limit;
    bool counter;
    int readyPolls;       // 2/04 this many times first
    double readySeconds;  // ... or for this long
    bool disc;
    bool unitAttention;
    bool result;
    int sleeps;  // -1: not checked exactly
    uint8_t finalKey, finalAsc;
  } const cases[] = {
      {"no limit, no disc", 0, true, 5, 0, false, false, true, 5, 2, 0x3A},
      {"negative limit, no disc", -1, true, 5, 0, false, false, true, 5, 2, 0x3A},
      {"no limit outlasts minutes", 0, true, 0, 600, true, false, true, -1, 0, 0},
      {"unit attention then ready", 60, true, 0, 0, true, true, true, 1, 0, 0},
      {"ready within the limit", 60, true, 0, 10, true, false, true, -1, 0, 0},
      {"limit runs out", 60, true, 0, 1e9, true, false, false, -1, 2, 0x04},
      {"limit without counter", 60, false, 0, 1e9, true, false, false, 200, 2, 0x04},
      {"short limit without counter lasts it out", 1, false, 0, 1e9, true, false, false, 4, 2,
       0x04},
      {"ready without counter", 60, false, 3, 0, true, false, true, 3, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::SimMachine local;
    local.counterAvailable = c.counter;
    auto d = local.AddLetterDrive('E', 1);
    d->discPresent = true;
    AtapiDevice engine;
    ASSERT_TRUE(engine.SelectDevice(0));
    d->ResetRecord();
    d->becomingReadyPolls = c.readyPolls;
    d->becomingReadySeconds = c.readySeconds;
    d->discPresent = c.disc;
    d->unitAttention = c.unitAttention;
    local.ClearCalls();
    double const start = local.NowSeconds();

    EXPECT_EQ(engine.WaitReady(c.limit), c.result);
    int const sleeps = local.CountCalls("Sleep");
    if (c.sleeps >= 0) {
      EXPECT_EQ(sleeps, c.sleeps);
    }
    // One TEST UNIT READY per poll, one that ended the polling, one final.
    EXPECT_EQ(static_cast<int>(d->log.size()), sleeps + 2);
    for (const auto& command : d->log) EXPECT_EQ(command.cdb[0], 0x00);
    EXPECT_EQ(engine.Last().lastSenseKey, c.finalKey);
    EXPECT_EQ(engine.Last().lastAsc, c.finalAsc);
    if (!c.result) {
      EXPECT_GE(local.NowSeconds() - start, c.limit - 1e-6);
    }
    if (c.readySeconds == 600) {
      EXPECT_GE(local.NowSeconds() - start, 600.0 - 1e-6);
    }
    EXPECT_FALSE(engine.WaitTimer().Running());
  }
}

// ---------------------------------------------------------------------------------------------
// Disc and tray

TEST_F(CommandSet, DiscAndTrayTests) {
  struct Case {
    const char* name;
    bool disc, trayOpen, rejectEvents;
    double readySeconds;
    bool discAbsent, trayReportedOpen;
  } const cases[] = {
      {"disc in, closed", true, false, false, 0, false, false},
      {"no disc", false, false, false, 0, true, false},
      {"tray open", false, true, false, 0, true, true},
      {"still becoming ready after 30 s", true, false, false, 1e9, false, false},
      {"rejects event status", true, true, true, 0, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::SimMachine local;
    auto d = local.AddLetterDrive('E', 1);
    AtapiDevice engine;
    ASSERT_TRUE(engine.SelectDevice(0));
    d->discPresent = c.disc;
    d->trayOpen = c.trayOpen;
    d->rejectEventStatus = c.rejectEvents;
    d->becomingReadySeconds = c.readySeconds;
    EXPECT_EQ(engine.IsTrayOpen(), c.trayReportedOpen);
    EXPECT_EQ(engine.IsDiscAbsent(), c.discAbsent);
  }
}

TEST_F(CommandSet, TrayMovesFollowTheDrive) {
  auto engine = PassThroughEngine();
  EXPECT_TRUE(engine->TrayOut());
  EXPECT_TRUE(engine->IsTrayOpen());
  EXPECT_TRUE(engine->TrayIn());
  EXPECT_FALSE(engine->IsTrayOpen());
  drive->trayLocked = true;
  EXPECT_FALSE(engine->TrayOut());
  EXPECT_FALSE(engine->IsTrayOpen());
}

TEST_F(CommandSet, ReadFlashIdNeedsANonZeroAnswer) {
  auto engine = PassThroughEngine();
  EXPECT_TRUE(engine->ReadFlashId());
  EXPECT_EQ(engine->InBuffer()[0], 0xBF);

  std::memset(drive->flashId, 0, sizeof drive->flashId);
  EXPECT_FALSE(engine->ReadFlashId());
  drive->flashId[127] = 1;  // the last byte counts
  EXPECT_TRUE(engine->ReadFlashId());

  drive->senseFaults.push_back({{0xDF, 0, 1}, 5, 0x20, 0});
  EXPECT_FALSE(engine->ReadFlashId());
}

// An answer too short for the bytes a reader takes gives nothing where the transport reports
// its length (the pass-through); ASPI reports none, so there the reader sees zeros where bytes
// did not come. Neither ever shows what an earlier answer left in the buffer (here all FFh).
TEST_F(CommandSet, ShortAnswersGiveNothingOfAnOlderOne) {
  struct Case {
    const char* name;
    int opcode;
    uint32_t bytes, asked;
    std::function<bool(AtapiDevice&)> read;
    bool passThroughResult, aspiResult;
  } const cases[] = {
      {"event status without its media byte", 0x4A, 5, 8,
       [](AtapiDevice& e) { return e.IsTrayOpen(); }, false, false},
      {"flash identity of two bytes", 0xDF, 2, 128, [](AtapiDevice& e) { return e.ReadFlashId(); },
       false, true},
      {"inquiry of 35 bytes", 0x12, 35, 96, [](AtapiDevice& e) { return e.ReadIdentity(); }, false,
       true},
  };
  for (bool aspi : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << c.name << (aspi ? ", ASPI" : ", pass-through"));
      sim::SimMachine local;
      std::shared_ptr<sim::SimDrive> d;
      if (aspi) {
        d = local.AddAspiDrive(0, 0);
        g_transportRequest = kTransportRequestAspi;
      } else {
        d = local.AddLetterDrive('E', 1);
      }
      d->trayOpen = true;
      AtapiDevice engine;
      ASSERT_TRUE(engine.SelectDevice(0));
      sim::SimDrive::ShortFault cut;
      cut.opcode = c.opcode;
      cut.count = -1;
      cut.bytes = c.bytes;
      d->shortFaults.push_back(cut);
      std::memset(engine.InBuffer(), 0xFF, AtapiDevice::kBufferBytes);
      EXPECT_EQ(c.read(engine), aspi ? c.aspiResult : c.passThroughResult);
      // Nothing of the older bytes within what the command asked for, which is all a caller
      // reads.
      const uint8_t* in = engine.InBuffer();
      EXPECT_EQ(std::count(in, in + c.asked, 0xFF), 0);
    }
  }
}

TEST_F(CommandSet, ClearUnitAttentionStopsAtTheFirstOtherAnswer) {
  struct Case {
    const char* name;
    int attentions;       // TEST UNIT READY answers 6/29 this many times
    bool transportFault;  // then the transport fails once
    int sent;
  } const cases[] = {
      {"none pending", 0, false, 1},
      {"three pending", 3, false, 4},
      {"failure without sense ends it", 2, true, 3},
      {"never clears: bounded", 1000, false, 16},
  };
  auto engine = PassThroughEngine();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    drive->ResetRecord();
    drive->senseFaults.clear();
    drive->transportFaults.clear();
    if (c.attentions > 0) drive->senseFaults.push_back({{0x00, 0, c.attentions}, 6, 0x29, 0});
    if (c.transportFault) drive->transportFaults.push_back({0x00, c.attentions, 1});
    engine->ClearUnitAttention();
    EXPECT_EQ(static_cast<int>(drive->log.size()), c.sent);
  }
}

}  // namespace
}  // namespace quorel::test
