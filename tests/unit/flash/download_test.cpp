// The firmware download against the simulated drive: command sequence, read-back restarts,
// re-sends, tolerant preparation, size refusal, the settle wait and exclusive access.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <thread>

#include "flash/part_table.h"
#include "platform/threads.h"
#include "unit/flash/flash_rig.h"

namespace quorel::test {
namespace {

TEST(Download, PackagedImageGoesOutInTheFixedSequence) {
  FlashRig rig;  // part BF D8 00 05: entry 19, block 1234 bytes, transfer 1240
  const auto image = PatternImage(kImageBytes, 1);
  ASSERT_TRUE(rig.engine->DownloadFirmware(image.data(), kImageBytes, 1));

  std::vector<Cdb> expected = {Cdb{}, Cdb{}, Cdb{0x1B}, Cdb{0xDF, 0x11},
                               WriteBufferCdb(0, 1240, 0x7F)};
  for (uint32_t n = 0; n < 64; ++n) {
    expected.push_back(WriteBufferCdb(n * kBlock, kBlock, 0x00));
    expected.push_back(ReadBufferCdb(n * kBlock, kBlock));
  }
  for (uint32_t n = 0; n < 64; ++n) expected.push_back(ReadBufferCdb(n * kBlock, kBlock));
  expected.push_back(WriteBufferCdb(0, 0, 0xA0));
  std::vector<Cdb> sent;
  for (const SentCommand& c : rig.sent) sent.push_back(c.cdb);
  EXPECT_EQ(sent, expected);

  ASSERT_EQ(rig.sent.size(), expected.size());
  EXPECT_EQ(rig.sent[3].length, 128u);
  EXPECT_EQ(rig.sent[4].length, 1240u);
  EXPECT_EQ(rig.sent.back().length, 0u);
  // The settle wait lies between the last block's read-back and the whole read-back pass.
  const size_t pass = rig.sent.size() - 65;
  EXPECT_GE(rig.sent[pass].at - rig.sent[pass - 1].at, 1.0);

  EXPECT_EQ(rig.drive->programCount, 1);
  EXPECT_EQ(rig.drive->lastProgramControl, 0xA0);
  EXPECT_EQ(rig.drive->programmed, image);
  EXPECT_EQ(rig.engine->TimeoutSeconds(), 108000u);
  EXPECT_TRUE(rig.engine->RetryFlag());
  EXPECT_EQ(rig.engine->LastMismatch(), "");
}

TEST(Download, BootCodeChoosesTheFinalControlByte) {
  const struct {
    uint8_t bootCode;
    uint8_t control;
  } rows[] = {{0, 0x80}, {1, 0xA0}, {0xFF, 0xA0}};
  for (const auto& row : rows) {
    SCOPED_TRACE(int(row.bootCode));
    FlashRig rig;
    const auto image = PatternImage(kBlock, 2);
    ASSERT_TRUE(rig.engine->DownloadFirmware(image.data(), kBlock, row.bootCode));
    EXPECT_EQ(rig.sent.back().cdb, WriteBufferCdb(0, 0, row.control));
    EXPECT_EQ(rig.drive->lastProgramControl, row.control);
  }
}

// Image block offsets of one attempt that writes blocks 0 to `through`.
void AppendAttempt(std::vector<uint32_t>& offsets, uint32_t through) {
  for (uint32_t n = 0; n <= through; ++n) offsets.push_back(n * kBlock);
}

TEST(Download, ReadBackMismatchRestartsFromBlockZero) {
  constexpr int kBlocks = 8;
  const struct {
    int block, attempts, position;
    bool ok;
  } rows[] = {
      {0, 1, 0, true}, {5, 1, 100, true}, {7, 2, 16383, true}, {3, 3, 1, false}, {3, 50, 9, false},
  };
  const auto image = PatternImage(kBlocks * kBlock, 3);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.block * 100 + row.attempts);
    FlashRig rig;
    std::vector<std::string> debugLines;
    rig.tap->onDebugString = [&](const char* text) { debugLines.push_back(text); };
    rig.drive->readBackFaults.push_back({row.block, row.attempts, row.position});

    EXPECT_EQ(rig.engine->DownloadFirmware(image.data(), kBlocks * kBlock, 0), row.ok);

    const int failed = std::min(row.attempts, 3);
    std::vector<uint32_t> offsets;
    for (int a = 0; a < failed; ++a) AppendAttempt(offsets, row.block);
    if (row.ok) AppendAttempt(offsets, kBlocks - 1);
    EXPECT_EQ(rig.ImageWriteOffsets(), offsets);
    EXPECT_EQ(rig.CountFinalCommands(), row.ok ? 1 : 0);
    EXPECT_EQ(rig.drive->programCount, row.ok ? 1 : 0);
    EXPECT_TRUE(rig.engine->RetryFlag());

    const uint8_t written = image[row.block * kBlock + row.position];
    char line[64];
    std::snprintf(line, sizeof line, "R = %.2x , W = %.2x , Pos = %d(%x)", written ^ 0xFF, written,
                  row.position, row.position);
    EXPECT_EQ(rig.engine->LastMismatch(), line);
    EXPECT_EQ(debugLines, std::vector<std::string>(failed, line));
  }
}

TEST(Download, TransferPhaseResendsTransportFailuresOnce) {
  constexpr uint32_t kBlocks = 4;
  enum Kind { Transport, Sense };
  const struct {
    const char* name;
    Kind kind;
    int opcode, skip, count;
    bool ok;
    size_t imageWrites;
    int finals;
  } rows[] = {
      // The part block (entry 19) is the first 3B, so skip 2 reaches image block 1 (a failure at
      // block 0, before a block that padding cannot match is in place, ends the attempt instead).
      {"write once", Transport, 0x3B, 2, 1, true, kBlocks + 1, 1},
      {"write twice fails the attempt", Transport, 0x3B, 2, 2, true, 3 + kBlocks, 1},
      {"read once", Transport, 0x3C, 2, 1, true, kBlocks, 1},
      {"read twice fails the attempt", Transport, 0x3C, 2, 2, true, 3 + kBlocks, 1},
      {"write sense is not re-sent", Sense, 0x3B, 2, 1, true, 2 + kBlocks, 1},
      {"final once", Transport, 0x3B, 1 + kBlocks, 1, true, kBlocks, 2},
      {"final twice", Transport, 0x3B, 1 + kBlocks, 2, false, kBlocks, 2},
      {"final sense", Sense, 0x3B, 1 + kBlocks, 1, false, kBlocks, 1},
  };
  const auto image = PatternImage(kBlocks * kBlock, 4);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    FlashRig rig;
    if (row.kind == Transport) {
      rig.drive->transportFaults.push_back({row.opcode, row.skip, row.count});
    } else {
      rig.drive->senseFaults.push_back({{row.opcode, row.skip, row.count}});
    }
    EXPECT_EQ(rig.engine->DownloadFirmware(image.data(), kBlocks * kBlock, 0), row.ok);
    EXPECT_EQ(rig.ImageWriteOffsets().size(), row.imageWrites);
    EXPECT_EQ(rig.CountFinalCommands(), row.finals);
    EXPECT_EQ(rig.drive->programCount, row.ok ? 1 : 0);
    if (row.ok) {
      EXPECT_EQ(rig.drive->programmed, image);
    }
  }
}

// A drive that resets loses its buffer and its part block and raises one unit attention, which the
// system may take first. Whatever the program sees of it, the final command goes only to a drive
// that holds the whole image again, with its part block; a final command whose outcome is unknown
// is re-sent only over a buffer found whole, and otherwise reported as unconfirmed.
TEST(Download, DriveThatLostItsBufferStartsOver) {
  constexpr uint32_t kBlocks = 4;
  constexpr int kFinal = 1 + int(kBlocks);  // WRITE BUFFERs before it: part block, image
  using Drive = sim::SimDrive;
  using Faults = std::vector<std::function<void(Drive&)>>;
  auto reset = [](int opcode, int skip, int count, bool bySystem) {
    return [=](Drive& d) { d.resetFaults.push_back({{opcode, skip, count}, bySystem}); };
  };
  auto transport = [](int opcode, int skip, int count) {
    return [=](Drive& d) { d.transportFaults.push_back({opcode, skip, count}); };
  };
  auto busy = [](int opcode, int skip, int count) {
    return [=](Drive& d) { d.busyFaults.push_back({opcode, skip, count}); };
  };
  auto sense = [](int opcode, int skip, int count, uint8_t key, uint8_t asc) {
    return [=](Drive& d) { d.senseFaults.push_back({{opcode, skip, count}, key, asc}); };
  };
  // The final command programs the drive, but its answer is lost.
  auto finalLost = [](Drive& d) {
    d.onAnswer = [](const uint8_t* cdb, int, uint8_t*, uint32_t, sim::CommandResult& r) {
      if (cdb[0] == 0x3B && cdb[9] == 0x80) r.status = sim::Status::TransportFailure;
    };
  };
  // The second identity read names another part: BF D8 00 06, entry 23.
  auto otherPart = [](Drive& d) {
    d.onAnswer = [reads = 0](const uint8_t* cdb, int, uint8_t* data, uint32_t,
                             sim::CommandResult&) mutable {
      if (cdb[0] == 0xDF && ++reads == 2) data[3] = 0x06;
    };
  };
  const struct {
    const char* name;
    Faults faults;
    bool ok;
    int partBlocks, finals;
    bool unconfirmed = false;  // programmed, but reported as unconfirmed
    bool padded = false;       // every block but the first zeros, as an emptied buffer reads
    int identities = 0;        // flash part identity reads, where the row counts them
  } rows[] = {
      {"after the last read-back, taken by the system", Faults{reset(0x3C, kBlocks - 1, 1, true)},
       true, 2, 1},
      {"mid-image, seen by the program", Faults{reset(0x3B, 2, 1, false)}, true, 2, 1},
      {"mid-image write, taken by the system", Faults{reset(0x3B, 2, 1, true)}, true, 2, 1},
      {"during the whole read-back", Faults{reset(0x3C, kBlocks + 1, 1, true)}, true, 2, 1},
      {"during the whole read-back, over padding", Faults{reset(0x3C, kBlocks, 1, true)}, true, 2,
       1, false, true},
      {"failing the first block's write, taken by the system",
       Faults{transport(0x3B, 1, 1), reset(0x3B, 1, 1, true)}, true, 2, 1},
      {"on every attempt", Faults{reset(0x3C, kBlocks - 1, -1, true)}, false, 3, 0},
      {"final without an answer, drive untouched", Faults{transport(0x3B, kFinal, 1)}, true, 1, 2},
      {"final acted on, then the drive reset", Faults{reset(0x3B, kFinal, 1, true), finalLost},
       false, 1, 1, true},
      {"final answered with a unit attention", Faults{sense(0x3B, kFinal, 1, 6, 0x29)}, true, 2, 2},
      // The flash part identity and the part block: only an attempt that sent the block the
      // drive's part needs may end in the final command.
      {"identity busy in attempt 2 after a reset",
       Faults{reset(0x3C, kBlocks - 1, 1, true), busy(0xDF, 1, 1)}, true, 2, 1, false, false, 3},
      {"part-block write failing in attempt 1", Faults{transport(0x3B, 0, 1)}, true, 2, 1},
      {"identity failing in every attempt", Faults{busy(0xDF, 0, -1)}, false, 0, 0},
      {"identity refused as not supported", Faults{sense(0xDF, 0, -1, 5, 0x20)}, true, 0, 1},
      {"another identity in attempt 2", Faults{reset(0x3C, kBlocks - 1, 1, true), otherPart}, false,
       1, 0},
  };
  const auto pattern = PatternImage(kBlocks * kBlock, 13);
  auto padded = pattern;
  std::fill(padded.begin() + kBlock, padded.end(), 0);
  for (const bool aspi : {false, true}) {
    for (const auto& row : rows) {
      const auto& image = row.padded ? padded : pattern;
      SCOPED_TRACE(std::string(row.name) + (aspi ? ", ASPI" : ", pass-through"));
      sim::SimMachine machine;
      machine.ticksPerCounterRead = machine.counterFrequency / 10;
      machine.platformId = aspi ? 1 : 2;
      auto drive = aspi ? machine.AddAspiDrive(0, 1) : machine.AddLetterDrive('E', 1);
      AtapiDevice engine;
      ASSERT_TRUE(engine.SelectDevice(0));
      drive->ResetRecord();
      for (const auto& fault : row.faults) fault(*drive);

      EXPECT_EQ(engine.DownloadFirmware(image.data(), kBlocks * kBlock, 0), row.ok);
      int partBlocks = 0, finals = 0, identities = 0;
      for (const sim::RecordedCommand& c : drive->log) {
        partBlocks += c.cdb[0] == 0x3B && c.cdb[9] == 0x7F;
        finals += c.cdb[0] == 0x3B && c.cdb[9] == 0x80;
        identities += c.cdb[0] == 0xDF;
      }
      if (row.identities != 0) {
        EXPECT_EQ(identities, row.identities);
      }
      EXPECT_EQ(partBlocks, row.partBlocks);
      EXPECT_EQ(finals, row.finals);
      EXPECT_EQ(engine.ProgramUnconfirmed(), row.unconfirmed);
      EXPECT_EQ(drive->programCount, row.ok || row.unconfirmed ? 1 : 0);
      if (row.ok) {
        EXPECT_EQ(drive->programmed, image);
        EXPECT_EQ(drive->programmedPartBlock.empty(), row.partBlocks == 0);
      }
    }
  }
}

// A drive that answers BUSY has done nothing: neither the final command nor a block of zeros
// (which would compare equal to an untouched read buffer) may count as done.
TEST(Download, BusyIsNeverDone) {
  constexpr uint32_t kBlocks = 2;
  const struct {
    const char* name;
    bool zeros;
    std::vector<sim::Fault> busy;
  } rows[] = {
      {"final command busy", false, {{0x3B, 1 + kBlocks, -1}}},
      {"zero block write and read busy", true, {{0x3B, 1, -1}, {0x3C, 0, -1}}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    FlashRig rig;
    rig.drive->buffer.assign(kBlocks * kBlock, 0x5A);  // what the drive held before
    rig.drive->busyFaults = row.busy;
    const auto image =
        row.zeros ? std::vector<uint8_t>(kBlocks * kBlock) : PatternImage(kBlocks * kBlock, 7);
    EXPECT_FALSE(rig.engine->DownloadFirmware(image.data(), kBlocks * kBlock, 0));
    EXPECT_EQ(rig.drive->programCount, 0);
  }
}

TEST(Download, PreparationIsTolerantAndSendsEachCommandOnce) {
  constexpr uint32_t kBlocks = 2;
  const struct {
    const char* name;
    int transportOpcode;  // -1 none
    uint8_t flashId[4];
    double neverReadySeconds;
    int opcode;  // counted
    int expectedSends;
    bool partBlockSent;
  } rows[] = {
      {"ready check fails", 0x00, {0xBF, 0xD8, 0, 5}, 0, 0x00, 2, true},
      {"stop fails", 0x1B, {0xBF, 0xD8, 0, 5}, 0, 0x1B, 1, true},
      // A failed identity read ends the attempt; the next one sends the part block.
      {"flash id fails", 0xDF, {0xBF, 0xD8, 0, 5}, 0, 0xDF, 2, true},
      {"unknown part", -1, {0x12, 0x34, 0x56, 0x78}, 0, 0xDF, 1, false},
      {"no part identity", -1, {0, 0, 0, 0}, 0, 0xDF, 1, false},
      {"never ready", -1, {0xBF, 0xD8, 0, 5}, 1e6, 0x1B, 1, true},
  };
  const auto image = PatternImage(kBlocks * kBlock, 5);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    FlashRig rig;
    std::memcpy(rig.drive->flashId, row.flashId, 4);
    if (row.transportOpcode >= 0) rig.drive->transportFaults.push_back({row.transportOpcode, 0, 1});
    rig.drive->becomingReadySeconds = row.neverReadySeconds;
    const double start = rig.machine.NowSeconds();

    ASSERT_TRUE(rig.engine->DownloadFirmware(image.data(), kBlocks * kBlock, 0));
    int sends = 0;
    for (const SentCommand& c : rig.sent) sends += c.cdb[0] == row.opcode;
    EXPECT_EQ(sends, row.expectedSends);
    EXPECT_EQ(!rig.drive->partBlock.empty(), row.partBlockSent);
    EXPECT_EQ(rig.ImageWriteOffsets().size(), kBlocks);
    EXPECT_EQ(rig.drive->programmed, image);
    if (row.neverReadySeconds > 0) {
      // The readiness wait gives up after its 60 seconds; the download goes on.
      EXPECT_GE(rig.sent[rig.sent.size() - 5].at - start, 60.0);
      EXPECT_LT(rig.sent[rig.sent.size() - 5].at - start, 70.0);
    }
  }
}

TEST(Download, RefusesSizesThatAreNotWholeBlocksBeforeSendingAnything) {
  const struct {
    const char* name;
    int32_t size;
    bool nullImage;
  } rows[] = {
      {"empty placeholder bank", 0, false},
      {"one byte short of a block", 16383, false},
      {"one byte over a block", 16385, false},
      {"packaged size plus one", kImageBytes + 1, false},
      {"negative block", -16384, false},
      {"minus one", -1, false},
      {"most negative", INT32_MIN, false},
      {"beyond the 24-bit offset", 16 * 1024 * 1024 + 16384, false},
      {"no image", kImageBytes, true},
  };
  const auto image = PatternImage(kImageBytes + kBlock, 6);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    FlashRig rig;
    rig.engine->SetRetry(false);
    rig.engine->SetTimeout(5);
    EXPECT_FALSE(rig.engine->DownloadFirmware(row.nullImage ? nullptr : image.data(), row.size, 1));
    EXPECT_TRUE(rig.sent.empty());
    EXPECT_TRUE(rig.exclusive.empty());
    EXPECT_TRUE(rig.drive->log.empty());
    // The worker relies on the flag to report every failed download.
    EXPECT_TRUE(rig.engine->RetryFlag());
    EXPECT_EQ(rig.engine->TimeoutSeconds(), 108000u);
  }
}

TEST(Download, LargestImageReachesTheLastBufferOffset) {
  constexpr int32_t kLargest = 16 * 1024 * 1024;
  FlashRig rig;
  const auto image = PatternImage(kLargest, 7);
  ASSERT_TRUE(rig.engine->DownloadFirmware(image.data(), kLargest, 0));
  const auto offsets = rig.ImageWriteOffsets();
  ASSERT_EQ(offsets.size(), 1024u);
  EXPECT_EQ(offsets.back(), 0xFFC000u);
  EXPECT_EQ(rig.drive->programmed, image);
}

TEST(Download, SettleWaitEndsWithoutACounter) {
  FlashRig rig({.counterAvailable = false});
  const auto image = PatternImage(2 * kBlock, 8);
  std::atomic<bool> done{false};
  bool ok = false;
  Thread worker([&] {
    ok = rig.engine->DownloadFirmware(image.data(), 2 * kBlock, 0);
    done = true;
  });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!done && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (!done) {
    ADD_FAILURE() << "the settle wait did not end";
    std::abort();  // the worker still uses the rig
  }
  worker.Join();
  EXPECT_TRUE(ok);
  ASSERT_GE(rig.sent.size(), 4u);  // ... read 1, (settle), read 0, read 1, final
  EXPECT_GE(rig.sent[rig.sent.size() - 3].at - rig.sent[rig.sent.size() - 4].at, 1.0);
  EXPECT_EQ(rig.drive->programCount, 1);
}

// The system's lock as the CD-ROM class driver documents it: lock (1) with the 72-byte request
// and a valid caller name, unlock (2) with the 8-byte one; a refused lock does not stop the
// download.
TEST(Download, HoldsExclusiveAccessForTheWholeDownloadWhereOffered) {
  const struct {
    const char* name;
    bool supported;    // Windows Vista and later
    bool mounted;      // a file system is mounted on the drive
    bool otherHolder;  // another program holds the lock
    bool readBackFails;
    bool ok;
  } rows[] = {
      {"offered", true, false, false, false, true},
      {"offered, file system mounted", true, true, false, false, true},
      {"offered, download fails", true, false, false, true, false},
      {"unknown to the system", false, false, false, false, true},
      {"held by another program", true, false, true, false, true},
  };
  const auto image = PatternImage(2 * kBlock, 9);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    FlashRig rig({.exclusiveAccessSupported = row.supported});
    rig.machine.letters[0].fileSystemMounted = row.mounted;
    Handle other = kInvalidHandle;
    if (row.otherHolder) {
      other = rig.machine.CreateFileA("\\\\.\\E:", win::kGenericRead | win::kGenericWrite, 3,
                                      win::kOpenExisting, 0);
      uint8_t lock[72] = {1, 0, 0, 0, 1, 0, 0, 0, 'B', 'u', 'r', 'n', 'e', 'r'};
      uint32_t returned = 0;
      ASSERT_TRUE(rig.machine.DeviceIoControl(other, win::kIoctlCdromExclusiveAccess, lock,
                                              sizeof lock, nullptr, 0, &returned));
      rig.exclusive.clear();
    }
    std::vector<std::string> holderAtCommands;
    rig.tap->beforeIoctl = [&, observe = rig.tap->beforeIoctl](const IoctlCall& call) {
      if (call.code == win::kIoctlScsiPassThroughDirect) {
        holderAtCommands.push_back(rig.machine.ExclusiveCaller('E'));
      }
      return observe(call);
    };
    if (row.readBackFails) rig.drive->readBackFaults.push_back({1, 3, 0});
    EXPECT_EQ(rig.engine->DownloadFirmware(image.data(), 2 * kBlock, 0), row.ok);
    EXPECT_EQ(rig.drive->programCount, row.ok ? 1 : 0);

    const bool held = row.supported && !row.otherHolder;
    ASSERT_EQ(rig.exclusive.size(), held ? 2u : 1u);
    const ExclusiveRequest& lock = rig.exclusive[0];
    EXPECT_EQ(lock.requestType, 1u);
    EXPECT_EQ(lock.flags, 1u);  // CDROM_LOCK_IGNORE_VOLUME
    EXPECT_EQ(lock.callerName, "Quorel");
    EXPECT_EQ(lock.inBytes, 72u);
    if (held) {
      EXPECT_EQ(rig.exclusive[1].requestType, 2u);
      EXPECT_EQ(rig.exclusive[1].inBytes, 8u);
    }
    const std::string holder = row.otherHolder ? "Burner" : held ? "Quorel" : "";
    EXPECT_EQ(std::count(holderAtCommands.begin(), holderAtCommands.end(), holder),
              static_cast<long>(holderAtCommands.size()));
    EXPECT_EQ(rig.machine.ExclusiveCaller('E'), row.otherHolder ? "Burner" : "");
    if (other != kInvalidHandle) rig.machine.CloseHandle(other);
  }
}

// This build carries the placeholder part blocks: only the simulated test drive, which proves
// itself in its INQUIRY bytes 36-51, may receive them, or anything else of the download.
TEST(Download, PlaceholderPartBlocksReachOnlyTheSimulatedDrive) {
  ASSERT_EQ(kPartBlockOrigin.kind, 1) << "a build with the maker's part blocks";
  const struct {
    const char* vendorSpecific;
    bool sent;
  } rows[] = {{kSimulatedDriveMarker, true},
              {"2004/01/14      ", false},
              {"QUOREL SIM DRIV ", false},
              {"", false}};
  const auto image = PatternImage(kBlock, 11);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.vendorSpecific);
    FlashRig rig;
    rig.drive->identity.vendorSpecific = row.vendorSpecific;
    rig.drive->identity.vendorSpecific.resize(16, ' ');
    ASSERT_TRUE(rig.engine->ReadIdentity());
    rig.drive->ResetRecord();
    rig.sent.clear();
    rig.exclusive.clear();
    EXPECT_EQ(rig.engine->DownloadFirmware(image.data(), kBlock, 0), row.sent);
    EXPECT_EQ(rig.drive->log.empty(), !row.sent);
    EXPECT_EQ(rig.exclusive.empty(), !row.sent);
    EXPECT_TRUE(rig.engine->RetryFlag());  // a failure as any other: the worker reports 42
  }
}

TEST(Download, AspiTransportTakesNoExclusiveAccess) {
  sim::SimMachine machine;
  machine.ticksPerCounterRead = machine.counterFrequency / 10;
  machine.platformId = 1;  // the 9x family: ASPI only
  auto drive = machine.AddAspiDrive(0, 1);
  PlatformTap tap(machine);
  int exclusiveRequests = 0;
  tap.beforeIoctl = [&](const IoctlCall& call) -> std::optional<bool> {
    exclusiveRequests += call.code == win::kIoctlCdromExclusiveAccess;
    return std::nullopt;
  };
  AtapiDevice engine;
  ASSERT_TRUE(engine.SelectDevice(0));
  ASSERT_TRUE(engine.UseAspi());
  const auto image = PatternImage(2 * kBlock, 10);
  EXPECT_TRUE(engine.DownloadFirmware(image.data(), 2 * kBlock, 0));
  EXPECT_EQ(exclusiveRequests, 0);
  EXPECT_EQ(drive->programmed, image);
}

// The write guard sits in SendCommand itself: a drive this build may not write receives no write
// through any public entry, and nothing goes past the buffers.
TEST(Download, WritesAreRefusedAtTheTransportWhateverCallsIt) {
  ASSERT_EQ(kPartBlockOrigin.kind, 1) << "a build with the maker's part blocks";
  const auto image = PatternImage(kBlock, 12);
  const uint8_t vendorOut[kCdbBytes] = {0xF0, 0x01};
  const uint8_t writeNoData[kCdbBytes] = {0x3B, 0x05, 0x01};
  const struct {
    const char* call;
    std::function<bool(AtapiDevice&)> send;
    bool writes;  // else: refused on its length alone
  } rows[] = {
      {"program", [](AtapiDevice& e) { return e.WriteBuffer(0, 0, 0x80); }, true},
      {"image block", [](AtapiDevice& e) { return e.WriteBuffer(0, kBlock, 0x00); }, true},
      {"part block", [](AtapiDevice& e) { return e.SendPartBlock(); }, true},
      {"write and verify", [&](AtapiDevice& e) { return e.WriteAndVerify(image.data(), kBlock); },
       true},
      {"vendor data-out",
       [&](AtapiDevice& e) { return e.SendCommand(vendorOut, DataDirection::Out, 64); }, true},
      {"write, no data",
       [&](AtapiDevice& e) { return e.SendCommand(writeNoData, DataDirection::None, 0); }, true},
      {"read past the buffer", [](AtapiDevice& e) { return e.ReadBuffer(0, 0x20000); }, false},
  };
  for (const auto& row : rows) {
    for (const bool marked : {true, false}) {
      SCOPED_TRACE(std::string(row.call) + (marked ? ", simulated drive" : ", real drive"));
      FlashRig rig;
      if (!marked) rig.drive->identity.vendorSpecific = "2004/01/14      ";
      ASSERT_TRUE(rig.engine->ReadIdentity());
      rig.drive->ResetRecord();
      const bool sent = row.writes && marked;
      const bool good = row.send(*rig.engine);
      const bool written = std::any_of(rig.drive->log.begin(), rig.drive->log.end(), [](auto& c) {
        return c.cdb[0] == 0x3B || c.cdb[0] == 0xF0 || c.cdb[0] == 0x3C;
      });
      EXPECT_EQ(written, sent);
      EXPECT_EQ(rig.engine->Last().lastRefused, !sent);
      if (!sent) {
        EXPECT_FALSE(good);
        EXPECT_EQ(rig.engine->Last().lastOutcome, kOutcomeFailed);
      }
    }
  }
}

// A transport that reports a short READ BUFFER as whole leaves part of the in-buffer as it was
// before the command; the read-back must not take that for the block written, even where the
// image holds zeros.
TEST(Download, ReadBackNeverPassesOnBytesThatDidNotArrive) {
  std::vector<uint8_t> image(kBlock, 0);
  image[0] = 0x5A;
  FlashRig rig;
  rig.drive->shortFaults.push_back({{0x3C, 0, -1}, 16});
  rig.drive->onAnswer = [](const uint8_t* cdb, int, uint8_t*, uint32_t length,
                           sim::CommandResult& result) {
    if (cdb[0] == 0x3C) result.transferred = length;
  };
  EXPECT_FALSE(rig.engine->WriteAndVerify(image.data(), kBlock));
  EXPECT_FALSE(rig.engine->LastMismatch().empty());
}

// A pass-through that says it moved more than it was asked to says nothing trustworthy.
TEST(Download, MoreBytesThanAskedIsAFailedTransfer) {
  FlashRig rig;
  rig.drive->onAnswer = [](const uint8_t* cdb, int, uint8_t*, uint32_t length,
                           sim::CommandResult& result) {
    if (cdb[0] == 0x3C) result.transferred = length + 1;
  };
  EXPECT_FALSE(rig.engine->ReadBuffer(0, 512));
  EXPECT_EQ(rig.engine->Last().lastOutcome, kOutcomeFailed);
  EXPECT_EQ(rig.engine->Last().lastTransferLength, 0u);
}

// A front end that reads the part blocks from a flasher file installs them: those bytes are what
// the drive receives, and their record alone decides which drives may be written.
TEST(Download, TheActivePartBlocksAreSentAndGuardTheDrive) {
  std::vector<uint8_t> data(kPartBlockDataBytes);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 31 + 7);
  const PartBlockSource own = ActivePartBlocks();
  for (const PartBlockKind kind : {PartBlockKind::Maker, PartBlockKind::StandIn}) {
    SCOPED_TRACE(static_cast<int>(kind));
    PartBlockOrigin origin = kPartBlockOrigin;
    origin.kind = static_cast<uint8_t>(kind);
    UsePartBlocks({data.data(), &origin});
    FlashRig rig;
    rig.drive->identity.vendorSpecific = "2004/01/14      ";
    ASSERT_TRUE(rig.engine->ReadIdentity());
    const bool written = rig.engine->SendPartBlock();
    UsePartBlocks(own);
    EXPECT_EQ(written, kind == PartBlockKind::Maker);
    if (!written) continue;
    const PartBlockLayout layout = LayoutOfPart(FindFlashPart(rig.drive->flashId));
    const std::vector<uint8_t> block(
        rig.drive->partBlock.begin() + layout.headerBytes,
        rig.drive->partBlock.begin() + layout.headerBytes + layout.blockBytes);
    EXPECT_EQ(block, std::vector<uint8_t>(data.begin() + layout.dataOffset,
                                          data.begin() + layout.dataOffset + layout.blockBytes));
  }
}

}  // namespace
}  // namespace quorel::test
