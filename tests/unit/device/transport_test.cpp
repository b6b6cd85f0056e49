// The command transport: request filling on both paths, outcomes and the one re-send, the
// guard, the ASPI waits, loading the ASPI manager and choosing the transport.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "unit/device/device_rig.h"

namespace quorel::test {
namespace {

constexpr uint8_t kTur[kCdbBytes] = {0x00};
constexpr uint8_t kInquiry96[kCdbBytes] = {0x12, 0, 0, 0, 0x60};
constexpr uint8_t kInquiry0[kCdbBytes] = {0x12};
constexpr uint8_t kWrite16k[kCdbBytes] = {0x3B, 0x05, 0x01, 0, 0, 0, 0, 0x40, 0};
constexpr uint8_t kWrite0[kCdbBytes] = {0x3B, 0x05, 0x01};

class Transport : public DeviceTest, public ::testing::WithParamInterface<bool> {};
INSTANTIATE_TEST_SUITE_P(BothPaths, Transport, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Aspi" : "PassThrough"; });

TEST_P(Transport, DataBufferFollowsDirectionAndIsNullWhenNothingTravels) {
  auto engine = EngineOn(GetParam());
  enum Buffer { kIn, kOut, kNone };
  struct Case {
    const uint8_t* cdb;
    DataDirection direction;
    uint32_t length;
    Buffer buffer;
  } const cases[] = {
      {kInquiry96, DataDirection::In, 96, kIn}, {kWrite16k, DataDirection::Out, 16384, kOut},
      {kTur, DataDirection::None, 0, kNone},    {kTur, DataDirection::None, 5, kNone},
      {kInquiry0, DataDirection::In, 0, kNone}, {kWrite0, DataDirection::Out, 0, kNone},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "opcode " << int(c.cdb[0]) << " length " << c.length);
    engine->SendCommand(c.cdb, c.direction, c.length);
    void* const expected = c.buffer == kIn    ? engine->InBuffer()
                           : c.buffer == kOut ? static_cast<void*>(engine->OutBuffer())
                                              : nullptr;
    if (GetParam()) {
      const SRB_ExecSCSICmd& srb = AtapiDeviceTestAccess::Aspi(*engine);
      EXPECT_EQ(srb.SRB_Cmd, SC_EXEC_SCSI_CMD);
      EXPECT_EQ(srb.SRB_HaId, 1);
      EXPECT_EQ(srb.SRB_Target, 2);
      EXPECT_EQ(srb.SRB_Lun, 3);
      uint8_t const direction = c.direction == DataDirection::In    ? SRB_DIR_IN
                                : c.direction == DataDirection::Out ? SRB_DIR_OUT
                                                                    : 0;
      EXPECT_EQ(srb.SRB_Flags, direction | SRB_EVENT_NOTIFY);
      EXPECT_EQ(srb.SRB_BufLen, c.length);
      EXPECT_EQ(static_cast<void*>(srb.SRB_BufPointer), expected);
      EXPECT_EQ(srb.SRB_SenseLen, SENSE_LEN);
      EXPECT_EQ(srb.SRB_CDBLen, 12);
      EXPECT_EQ(0, std::memcmp(srb.CDBByte, c.cdb, kCdbBytes));
    } else {
      const ScsiPassThroughDirect& sptd = AtapiDeviceTestAccess::PassThrough(*engine).sptd;
      EXPECT_EQ(sptd.Length, sizeof(ScsiPassThroughDirect));
      EXPECT_EQ(sptd.PathId, 1);  // the adapter (port) number, not the path
      EXPECT_EQ(sptd.TargetId, 2);
      EXPECT_EQ(sptd.Lun, 0);
      EXPECT_EQ(sptd.CdbLength, 12);
      EXPECT_EQ(sptd.SenseInfoLength, 24);
      EXPECT_EQ(sptd.DataIn, static_cast<uint8_t>(c.direction));
      EXPECT_EQ(sptd.TimeOutValue, 108000u);
      EXPECT_EQ(sptd.DataBuffer, expected);
      EXPECT_EQ(sptd.SenseInfoOffset, kPassThroughSenseOffset);
      EXPECT_EQ(0, std::memcmp(sptd.Cdb, c.cdb, kCdbBytes));
    }
    ASSERT_FALSE(drive->log.empty());
    EXPECT_EQ(drive->log.back().length, c.length);
  }
}

TEST_P(Transport, GoodCommandRecordsLengthAndClearsSense) {
  auto engine = EngineOn(GetParam());
  drive->senseFaults.push_back({{0x00, 0, 1}, 4, 0x44, 0x12});
  EXPECT_FALSE(engine->TestUnitReady());
  EXPECT_EQ(engine->Last().lastAscq, 0x12);

  // INQUIRY asking for up to 255 bytes: the drive sends 96.
  const uint8_t cdb[kCdbBytes] = {0x12, 0, 0, 0, 0xFF};
  ASSERT_TRUE(engine->SendCommand(cdb, DataDirection::In, 255, Transfer::UpTo));
  const LastCommandRecord& last = engine->Last();
  EXPECT_EQ(last.lastOutcome, kOutcomeGood);
  EXPECT_EQ(last.lastSenseKey, 0);
  EXPECT_EQ(last.lastAsc, 0);
  EXPECT_EQ(last.lastAscq, 0);
  EXPECT_FALSE(last.lastTimedOut);
  EXPECT_EQ(ToCdb(last.lastCdb), ToCdb(cdb));
  // The pass-through reports what the driver moved; ASPI the length asked for.
  EXPECT_EQ(last.lastTransferLength, GetParam() ? 255u : 96u);
}

TEST_P(Transport, OutcomesAndTheOneResend) {
  struct Case {
    const char* name;
    bool retry;
    enum { kTransportOnce, kTransportAlways, kSense, kSlow } fault;
    int attempts;
    bool result;
    uint8_t outcome;
    bool timedOut;
  } const cases[] = {
      {"transport once, no retry", false, Case::kTransportOnce, 1, false, kOutcomeFailed, false},
      {"transport once, retry", true, Case::kTransportOnce, 2, true, kOutcomeGood, false},
      {"transport always, retry", true, Case::kTransportAlways, 2, false, kOutcomeFailed, false},
      {"unit attention, retry", true, Case::kSense, 1, false, kOutcomeSense, false},
      {"slower than time-out, retry", true, Case::kSlow, 1, false, kOutcomeFailed, true},
  };
  auto engine = EngineOn(GetParam());
  engine->SetTimeout(10);
  drive->discPresent = true;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    drive->transportFaults.clear();
    drive->senseFaults.clear();
    drive->slowFaults.clear();
    if (c.fault == Case::kTransportOnce) drive->transportFaults.push_back({0x00, 0, 1});
    if (c.fault == Case::kTransportAlways) drive->transportFaults.push_back({0x00, 0, -1});
    if (c.fault == Case::kSense) drive->senseFaults.push_back({{0x00, 0, -1}, 6, 0x29, 0x00});
    if (c.fault == Case::kSlow) drive->slowFaults.push_back({{0x00, 0, -1}, 20.0});
    engine->SetRetry(c.retry);
    drive->ResetRecord();
    EXPECT_EQ(engine->TestUnitReady(), c.result);
    EXPECT_EQ(static_cast<int>(drive->log.size()), c.attempts);
    EXPECT_EQ(engine->Last().lastOutcome, c.outcome);
    EXPECT_EQ(engine->Last().lastTimedOut, c.timedOut);
    if (c.fault == Case::kSense) {
      EXPECT_EQ(engine->Last().lastSenseKey, 6);
      EXPECT_EQ(engine->Last().lastAsc, 0x29);
    }
    if (!c.result) {
      EXPECT_EQ(engine->Last().lastTransferLength, 0u);
    }
  }
}

// A command is good only when the call worked, the status is GOOD and all its data moved;
// sense is read by its format. Each case fails the final program command or a block transfer
// that an earlier judgement counted as done.
TEST_P(Transport, JudgedByStatusSenseFormatAndLength) {
  constexpr uint8_t kRead16k[kCdbBytes] = {0x3C, 0x01, 0x01, 0, 0, 0, 0, 0x40, 0};
  constexpr uint8_t kProgram[kCdbBytes] = {0x3B, 0x05, 0x01, 0, 0, 0, 0, 0, 0, 0x80};
  struct Case {
    const char* name;
    const uint8_t* cdb;
    DataDirection direction;
    uint32_t length;
    enum { kBusy, kNoSense, kDescriptor, kShort } fault;
    uint8_t outcome;
    uint8_t key, asc, ascq;
    int attempts;  // with the re-send allowed
  } const cases[] = {
      {"busy", kProgram, DataDirection::None, 0, Case::kBusy, kOutcomeFailed, 0, 0, 0, 2},
      {"check condition without sense", kProgram, DataDirection::None, 0, Case::kNoSense,
       kOutcomeFailed, 0, 0, 0, 2},
      {"descriptor sense", kProgram, DataDirection::None, 0, Case::kDescriptor, kOutcomeSense, 5,
       0x20, 0x01, 1},
      {"short read", kRead16k, DataDirection::In, 16384, Case::kShort, kOutcomeFailed, 0, 0, 0, 2},
      {"short write", kWrite16k, DataDirection::Out, 16384, Case::kShort, kOutcomeFailed, 0, 0, 0,
       2},
  };
  using Format = sim::SenseFormat;
  auto engine = EngineOn(GetParam());
  engine->SetRetry(true);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    drive->busyFaults.clear();
    drive->senseFaults.clear();
    drive->shortFaults.clear();
    const sim::Fault every{c.cdb[0], 0, -1};
    if (c.fault == Case::kBusy) drive->busyFaults.push_back(every);
    if (c.fault == Case::kNoSense) drive->senseFaults.push_back({every, 4, 0x44, 0, Format::None});
    if (c.fault == Case::kDescriptor)
      drive->senseFaults.push_back({every, 5, 0x20, 1, Format::Descriptor});
    if (c.fault == Case::kShort) drive->shortFaults.push_back({every, 8192});
    drive->ResetRecord();
    EXPECT_FALSE(engine->SendCommand(c.cdb, c.direction, c.length));
    const LastCommandRecord& last = engine->Last();
    EXPECT_EQ(last.lastOutcome, c.outcome);
    EXPECT_EQ(last.lastSenseKey, c.key);
    EXPECT_EQ(last.lastAsc, c.asc);
    EXPECT_EQ(last.lastAscq, c.ascq);
    EXPECT_EQ(last.lastTransferLength, 0u);
    EXPECT_EQ(static_cast<int>(drive->log.size()), c.attempts);
  }
}

TEST_P(Transport, GuardWithoutDriveKeepsThePreviousRecord) {
  auto engine = EngineOn(GetParam());
  drive->senseFaults.push_back({{0x00, 0, 1}, 3, 0x11, 0x05});
  EXPECT_FALSE(engine->TestUnitReady());
  engine->CloseDevice();
  engine->SetRetry(true);
  drive->ResetRecord();
  machine.ClearCalls();

  const uint8_t other[kCdbBytes] = {0x1B, 0, 0, 0, 0x02};
  EXPECT_FALSE(engine->SendCommand(other, DataDirection::None, 0));
  EXPECT_TRUE(drive->log.empty());
  EXPECT_EQ(machine.CountCalls("DeviceIoControl"), 0);
  EXPECT_EQ(machine.CountCalls("SendASPI32Command"), 0);
  const LastCommandRecord& last = engine->Last();
  EXPECT_EQ(last.lastOutcome, kOutcomeSense);
  EXPECT_EQ(last.lastSenseKey, 3);
  EXPECT_EQ(last.lastAsc, 0x11);
  EXPECT_EQ(last.lastAscq, 0x05);
  EXPECT_EQ(last.lastCdb[0], 0x00);
}

TEST_F(DeviceTest, PassThroughWithoutRetryStillTriesTheClosedHandle) {
  auto engine = PassThroughEngine();
  engine->CloseDevice();
  EXPECT_FALSE(engine->TestUnitReady());
  EXPECT_EQ(machine.CountCalls("DeviceIoControl"), 1);
  EXPECT_EQ(engine->Last().lastOutcome, kOutcomeFailed);
}

TEST_F(DeviceTest, AspiWaitIsTheTimeOutInMilliseconds) {
  auto engine = AspiEngine();
  drive->latencySeconds = 0.5;
  drive->discPresent = true;
  ASSERT_TRUE(engine->TestUnitReady());
  std::vector<std::string> waits;
  for (const sim::Call& call : machine.Calls()) {
    if (call.name == "WaitForSingleObject") waits.push_back(call.args);
  }
  EXPECT_EQ(waits, std::vector<std::string>{"108000000"});
  EXPECT_DOUBLE_EQ(engine->Last().lastElapsed, 0.5);
  EXPECT_EQ(machine.CountCalls("CreateEventA"), 1);
  EXPECT_EQ(machine.openHandles(), 0);  // the event is closed again
}

// A request the manager never finishes ends the command as timed out, and is never re-sent,
// with an event, with none and a counter, and with neither.
TEST_F(DeviceTest, AspiRequestThatNeverEndsIsBoundedByTheTimeOut) {
  struct Case {
    const char* name;
    bool events;
    bool counter;
  } const cases[] = {
      {"event", true, true},
      {"no event, counter", false, true},
      {"no event, no counter", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::SimMachine local;
    local.aspi.eventsUnavailable = !c.events;
    local.counterAvailable = c.counter;
    local.ticksPerCounterRead = local.counterFrequency / 100;
    local.AddAspiDrive(0, 0);
    g_transportRequest = kTransportRequestAspi;
    AtapiDevice engine;
    ASSERT_TRUE(engine.SelectDevice(0));
    local.aspi.execNeverCompletes = true;
    local.ClearCalls();
    engine.SetTimeout(2);
    engine.SetRetry(true);
    double const start = local.NowSeconds();
    EXPECT_FALSE(engine.TestUnitReady());
    EXPECT_TRUE(engine.Last().lastTimedOut);
    EXPECT_EQ(engine.Last().lastOutcome, kOutcomeFailed);
    EXPECT_GE(local.NowSeconds() - start, 2.0 - 1e-6);
    EXPECT_LT(local.NowSeconds() - start, 3.0);
    int execs = 0;
    for (const sim::Call& call : local.Calls()) {
      execs += call.name == "SendASPI32Command" && call.args.rfind("EXEC", 0) == 0 ? 1 : 0;
    }
    EXPECT_EQ(execs, 1);
    if (!c.counter) {
      EXPECT_EQ(local.CountCalls("Sleep"), 2000);
    }
  }
}

// A request that outlives its wait is aborted. Ended by the abort, the engine goes on; kept by
// the manager, the block, buffers and event stay its own (written into when it ends, at the
// latest as the machine goes, after the engine) and every later command fails unsent.
TEST_F(DeviceTest, AspiRequestOutlivingItsWaitIsAbortedOrLeftToTheManager) {
  struct Case {
    const char* name;
    bool events, endsLate, abortIgnored, goesOn;
  } const cases[] = {
      {"aborted, event", true, true, false, true},
      {"aborted, no event", false, false, false, true},
      {"kept, ends late, event", true, true, true, false},
      {"kept for ever, no event", false, false, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::SimMachine local;
    local.aspi.eventsUnavailable = !c.events;
    local.aspi.abortIgnored = c.abortIgnored;
    local.ticksPerCounterRead = local.counterFrequency / 100;
    auto sim = local.AddAspiDrive(0, 0);
    g_transportRequest = kTransportRequestAspi;
    auto engine = std::make_unique<AtapiDevice>();
    ASSERT_TRUE(engine->SelectDevice(0));
    engine->SetTimeout(2);
    local.aspi.execNeverCompletes = !c.endsLate;
    if (c.endsLate) sim->slowFaults.push_back({{0xDF, 0, 1}, 5.0});
    uint8_t* const oldIn = engine->InBuffer();
    local.ClearCalls();
    EXPECT_FALSE(engine->ReadFlashId());  // data in, through the buffers
    EXPECT_TRUE(engine->Last().lastTimedOut);
    local.aspi.execNeverCompletes = false;
    for (int i = 0; i < 2; ++i) EXPECT_EQ(engine->ReadFlashId(), c.goesOn);
    EXPECT_EQ(engine->Last().lastOutcome, c.goesOn ? kOutcomeGood : kOutcomeFailed);
    EXPECT_EQ(local.CountCalls("SendASPI32Command"), c.goesOn ? 4 : 2);  // an abort, once
    EXPECT_EQ(local.aspiRequestsPending(), c.goesOn ? 0 : 1);
    EXPECT_EQ(engine->InBuffer() == oldIn, c.goesOn);
    engine.reset();
    EXPECT_EQ(local.loadedModules(), c.goesOn ? 0 : 1);
    EXPECT_EQ(local.openHandles(), c.goesOn || !c.events ? 0 : 1);
  }
}

TEST_F(DeviceTest, AspiWithoutEventRecordsACompletedButSlowCommandAsTimedOut) {
  machine.aspi.eventsUnavailable = true;
  auto engine = AspiEngine();
  engine->SetTimeout(10);
  engine->SetRetry(true);
  drive->slowFaults.push_back({{0x00}, 10.5});
  EXPECT_FALSE(engine->TestUnitReady());
  EXPECT_TRUE(engine->Last().lastTimedOut);
  EXPECT_EQ(engine->Last().lastOutcome, kOutcomeFailed);
  EXPECT_EQ(drive->log.size(), 1u);
}

// ---------------------------------------------------------------------------------------------
// The ASPI manager

TEST_F(DeviceTest, LoadAspiMessagesAndCaptions) {
  struct Case {
    const char* name;
    bool present, hasInfo, hasSend;
    uint8_t status;
    const char* text;
    const char* caption;
  } const cases[] = {
      {"missing", false, true, true, 1, "LoadLibrary:\nWNASPI32.DLL not found.", "Error FS 002"},
      {"no support info", true, false, true, 1, "GetProcAddress:\nGetASPI32SupportInfo not fount.",
       "Error FS 003"},
      {"no send command", true, true, false, 1, "GetProcAddress:\npfnSendASPI32Command not found.",
       "Error FS 004"},
      {"old manager", true, true, true, 0xE1, "Old ASPI manager.", "GetASPISupportInfo:"},
      {"real mode", true, true, true, 0xE2, "ASPI for Windows does not support real mode.",
       "GetASPISupportInfo:"},
      {"no aspi", true, true, true, 0xE3, "Could not find the ASPI manager.",
       "GetASPISupportInfo:"},
      {"other", true, true, true, 0x04, "Error initializing ASPI.", "GetASPISupportInfo:"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::SimMachine local;
    local.aspi.present = c.present;
    local.aspi.hasGetSupportInfo = c.hasInfo;
    local.aspi.hasSendCommand = c.hasSend;
    local.aspi.status = c.status;
    AtapiDevice engine(false);  // NT, no ASPI asked for: the probe alone, silent
    EXPECT_FALSE(engine.AspiAvailable());
    EXPECT_TRUE(local.messageBoxes.empty());

    EXPECT_FALSE(engine.LoadAspi());
    ASSERT_EQ(local.messageBoxes.size(), 1u);
    EXPECT_EQ(local.messageBoxes[0].text, c.text);
    EXPECT_EQ(local.messageBoxes[0].caption, c.caption);
    EXPECT_EQ(local.messageBoxes[0].type, win::kMbIconError | win::kMbOk);
    EXPECT_FALSE(engine.HasAspiEntryPoints());
    EXPECT_EQ(local.loadedModules(), 0);
  }
}

TEST_F(DeviceTest, ManagerIsLoadedOnlyFromTheSystemDirectory) {
  machine.AddAspiDrive(0, 0);
  g_transportRequest = kTransportRequestAspi;
  {
    AtapiDevice engine;
    EXPECT_TRUE(engine.UseAspi());
    EXPECT_TRUE(engine.HasAspiEntryPoints());
    EXPECT_EQ(machine.loadedModules(), 1);
    EXPECT_TRUE(engine.ProbeAspi());
    EXPECT_EQ(machine.loadedModules(), 1);  // the probe holds nothing
  }
  EXPECT_EQ(machine.loadedModules(), 0);
  std::vector<std::string> const requests = machine.LibraryRequests();
  ASSERT_EQ(requests.size(), 3u);  // probe, load, probe
  for (const std::string& name : requests) EXPECT_EQ(name, "C:\\WINDOWS\\SYSTEM32\\WNASPI32.DLL");
}

TEST_F(DeviceTest, TransportChoice) {
  struct Case {
    const char* name;
    uint32_t platformId;
    int request;
    bool manager;
    bool useAspi, available;
    int modules, messages;
  } const cases[] = {
      {"NT, no request", 2, 0, true, false, true, 0, 0},
      {"NT, request, manager", 2, kTransportRequestAspi, true, true, true, 1, 0},
      {"NT, request, no manager", 2, kTransportRequestAspi, false, false, false, 0, 0},
      {"NT, other request", 2, 1, true, false, true, 0, 0},
      {"9x, manager", 1, 0, true, true, true, 1, 0},
      {"9x, no manager", 1, 0, false, true, false, 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::SimMachine local;
    local.platformId = c.platformId;
    local.aspi.present = c.manager;
    g_transportRequest = c.request;
    AtapiDevice engine(false);
    EXPECT_EQ(engine.UseAspi(), c.useAspi);
    EXPECT_EQ(engine.AspiAvailable(), c.available);
    EXPECT_EQ(local.loadedModules(), c.modules);
    EXPECT_EQ(static_cast<int>(local.messageBoxes.size()), c.messages);
  }
}

// The 9x family without a manager: the engine stays in ASPI mode and fails every command in
// order, without calling a missing entry point; the scan finds nothing.
TEST_F(DeviceTest, NineXFamilyWithoutManagerFailsInOrder) {
  machine.platformId = 1;
  machine.AddLetterDrive('E', 1);
  AtapiDevice engine;
  ASSERT_EQ(machine.messageBoxes.size(), 1u);
  EXPECT_EQ(machine.messageBoxes[0].caption, "Error FS 002");
  EXPECT_TRUE(engine.UseAspi());
  EXPECT_FALSE(engine.HasAspiEntryPoints());
  EXPECT_EQ(engine.DeviceCount(), 0);

  const uint8_t cdb[kCdbBytes] = {0x12, 0, 0, 0, 0x60};
  EXPECT_FALSE(engine.SendCommand(cdb, DataDirection::In, 96));
  EXPECT_EQ(engine.Last().lastOutcome, kOutcomeFailed);
  EXPECT_EQ(ToCdb(engine.Last().lastCdb), ToCdb(cdb));
  EXPECT_EQ(engine.Last().lastTransferLength, 0u);
  engine.ScanDrives();
  EXPECT_EQ(engine.DeviceCount(), 0);
  EXPECT_EQ(machine.CountCalls("SendASPI32Command"), 0);
  EXPECT_EQ(machine.aspiCallsWithoutModule(), 0);
}

// Every status but GOOD fails, the final program command too; bit 0 is reserved, so 03h is a
// CHECK CONDITION whose sense is read.
TEST_P(Transport, OnlyGoodStatusIsGood) {
  const struct {
    uint8_t status;
    uint8_t outcome;
  } rows[] = {{0x00, kOutcomeGood},   {0x03, kOutcomeSense},  {0x04, kOutcomeFailed},
              {0x10, kOutcomeFailed}, {0x14, kOutcomeFailed}, {0x18, kOutcomeFailed},
              {0x28, kOutcomeFailed}, {0x30, kOutcomeFailed}, {0x40, kOutcomeFailed}};
  auto engine = EngineOn(GetParam());
  for (const auto& row : rows) {
    SCOPED_TRACE(int(row.status));
    drive->onAnswer = [&](const uint8_t*, int, uint8_t*, uint32_t, sim::CommandResult& result) {
      result.status = sim::Status::Other;
      result.otherStatus = row.status;
      result.senseKey = 4;
    };
    EXPECT_EQ(engine->WriteBuffer(0, 0, 0x80), row.outcome == kOutcomeGood);
    EXPECT_EQ(engine->Last().lastOutcome, row.outcome);
  }
}

}  // namespace
}  // namespace quorel::test
