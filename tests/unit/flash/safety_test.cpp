// The download's safety property under randomized fault schedules (fixed seeds), resets of the
// drive included: the final program command goes out only right after a whole read-back pass
// that follows a whole verified attempt (or a failed final command); a failed download never
// programs the drive; the drive programs the packaged image with the packaged part block it was
// sent.
//
// QUOREL_SAFETY_RUNS in the environment sets the number of schedules; ThreadSanitizer builds
// run fewer by default, since every platform call costs far more there.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "flash/part_table.h"
#include "unit/flash/flash_rig.h"
#include "unit/flash/safety_oracle.h"

namespace quorel::test {
namespace {

#if defined(__SANITIZE_THREAD__)
constexpr int kDefaultRuns = 300;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
constexpr int kDefaultRuns = 300;
#else
constexpr int kDefaultRuns = 3000;
#endif
#else
constexpr int kDefaultRuns = 3000;
#endif

int Runs() {
  const char* text = std::getenv("QUOREL_SAFETY_RUNS");
  const int runs = text != nullptr ? std::atoi(text) : 0;
  return runs > 0 ? runs : kDefaultRuns;
}

constexpr double kTimeoutSeconds = 108000.0;

struct Schedule {
  uint32_t blocks = 1;
  uint8_t flashId[4] = {};
  uint8_t bootCode = 0;
  std::string text;  // for failure messages
};

Schedule RandomSchedule(std::mt19937& rng, sim::SimDrive& drive) {
  Schedule s;
  s.blocks = rng() % 64 == 0 ? 64 : 1 + rng() % 4;
  const uint32_t part = rng() % 30;
  if (part < uint32_t(kFlashPartCount)) {
    std::memcpy(s.flashId, FlashPartTable[part], 4);
  } else if (part < 28) {
    for (uint8_t& b : s.flashId) b = uint8_t(rng());
  }
  std::memcpy(drive.flashId, s.flashId, 4);
  s.bootCode = uint8_t(rng() % 2);
  drive.becomingReadyPolls = rng() % 3 == 0 ? int(rng() % 4) : 0;
  drive.unitAttention = rng() % 5 == 0;
  s.text = "blocks " + std::to_string(s.blocks) + " part " + std::to_string(part);

  static const int kOpcodes[] = {0x100, 0x00, 0x1B, 0xDF, 0x3B, 0x3B, 0x3C, 0x3C};
  static const int kCounts[] = {1, 1, 2, 3, -1};
  static const uint8_t kKeys[] = {2, 3, 4, 5, 6};
  // Braced initialisers draw from rng left to right, so each schedule follows from its seed.
  if (rng() % 4 == 0) {
    const sim::SimDrive::ResetFault reset{
        {kOpcodes[rng() % 8], int(rng() % (12 * s.blocks + 8)), rng() % 8 == 0 ? -1 : 1},
        rng() % 2 == 0};
    drive.resetFaults.push_back(reset);
    s.text += "; reset op " + std::to_string(reset.opcode) + " skip " + std::to_string(reset.skip) +
              (reset.takenBySystem ? " system" : "");
  }
  const int faults = int(rng() % 5);
  for (int f = 0; f < faults; ++f) {
    const sim::Fault base{kOpcodes[rng() % 8], int(rng() % (8 * s.blocks + 8)), kCounts[rng() % 5]};
    const uint32_t kind = rng() % 4;
    s.text += "; kind " + std::to_string(kind) + " op " + std::to_string(base.opcode) + " skip " +
              std::to_string(base.skip) + " count " + std::to_string(base.count);
    if (kind == 0) {
      drive.transportFaults.push_back(base);
    } else if (kind == 1) {
      drive.senseFaults.push_back({base, kKeys[rng() % 5], uint8_t(rng())});
    } else if (kind == 2) {
      // Within or beyond the time-out.
      drive.slowFaults.push_back({base, rng() % 2 != 0 ? 30.0 : 200000.0});
    } else {
      drive.readBackFaults.push_back(
          {int(rng() % s.blocks), int(1 + rng() % 4), int(rng() % kBlock)});
    }
  }
  return s;
}

bool IsPartBlock(const Observed& c) {
  return sim::IsPartBlockWrite(c.cdb.data());
}

TEST(Safety, FinalCommandOnlyAfterAWholeVerifiedAttempt) {
  const std::vector<uint8_t> pool = PatternImage(65 * kBlock, 0xC0FFEE);
  const int runs = Runs();
  int succeeded = 0, failed = 0, finalsChecked = 0;

  for (int run = 0; run < runs; ++run) {
    std::mt19937 rng(uint32_t(run) * 2654435761u + 1);
    FlashRig rig;
    const Schedule s = RandomSchedule(rng, *rig.drive);
    const int32_t size = int32_t(s.blocks * kBlock);
    // Half the images end in padding, which an emptied buffer reads back equal to.
    const auto from = pool.begin() + rng() % kBlock;
    std::vector<uint8_t> bytes(from, from + size);
    if (rng() % 2 != 0) std::fill(bytes.begin() + (1 + rng() % s.blocks) * kBlock, bytes.end(), 0);
    const uint8_t* image = bytes.data();

    std::vector<Observed> seen;
    double sentAt = 0.0;
    int resets = 0;
    rig.tap->beforeIoctl = [&](const IoctlCall&) -> std::optional<bool> {
      sentAt = rig.machine.NowSeconds();
      return std::nullopt;
    };
    rig.tap->afterIoctl = [&](const IoctlCall& call, bool result) {
      if (call.code != win::kIoctlScsiPassThroughDirect) return;
      const ScsiPassThroughDirect& request = PassThroughOf(call);
      Observed c;
      c.cdb = ToCdb(request.Cdb);
      c.good =
          result && SenseKeyOf(call) == 0 && rig.machine.NowSeconds() - sentAt <= kTimeoutSeconds;
      const uint32_t offset = uint32_t(c.cdb[3]) << 16 | uint32_t(c.cdb[4]) << 8 | c.cdb[5];
      const bool imageBlock = (c.cdb == WriteBufferCdb(offset, kBlock, 0x00) ||
                               c.cdb == ReadBufferCdb(offset, kBlock)) &&
                              offset + kBlock <= uint32_t(size);
      if (imageBlock && request.DataBuffer != nullptr) {
        c.dataIsImage = std::memcmp(request.DataBuffer, image + offset, kBlock) == 0;
      }
      c.reset = rig.drive->resets != resets;
      resets = rig.drive->resets;
      seen.push_back(c);
    };

    const bool ok = rig.engine->DownloadFirmware(image, size, s.bootCode);
    SCOPED_TRACE("run " + std::to_string(run) + ": " + s.text);
    ok ? ++succeeded : ++failed;

    for (size_t i = 0; i < seen.size(); ++i) {
      if (!IsFinal(seen[i].cdb)) continue;
      ASSERT_EQ(seen[i].cdb, WriteBufferCdb(0, 0, s.bootCode != 0 ? 0xA0 : 0x80));
      ASSERT_TRUE(FinalIsSafe(seen, i, s.blocks)) << "final command at " << i;
      ++finalsChecked;
    }
    // Success means exactly that: the last command was a good final command.
    const bool programmedAsSeen = !seen.empty() && IsFinal(seen.back().cdb) && seen.back().good;
    ASSERT_EQ(ok, programmedAsSeen);
    if (ok) {
      ASSERT_EQ(rig.drive->programCount, 1);
    }
    // Whatever the drive programmed is the packaged image, byte for byte, and a drive whose last
    // preparation read its part programmed holding that part's block (a drive that refused the
    // identity command as not supported gets none). Two windows no host can close: a reset whose
    // unit attention the system takes between the last read-back and the final command, or right
    // after the part block.
    const int entry = FindFlashPart(s.flashId);
    const auto lastPreparation = std::find_if(seen.rbegin(), seen.rend(),
                                              [](const Observed& c) { return c.cdb[0] == 0xDF; });
    const auto lastPartBlock = std::find_if(seen.rbegin(), lastPreparation, IsPartBlock);
    const bool resetJustBefore = seen.size() >= 2 && seen[seen.size() - 2].reset;
    if (rig.drive->programCount > 0 && !resetJustBefore) {
      ASSERT_EQ(rig.drive->programmed, std::vector<uint8_t>(image, image + size));
      const bool partRead = lastPreparation != seen.rend() && lastPreparation->good;
      const bool resetAfterPartBlock = lastPartBlock != lastPreparation && lastPartBlock->reset;
      if (entry >= 0 && partRead && !resetAfterPartBlock) {
        ASSERT_EQ(rig.drive->programmedPartBlock, sim::NeededPartBlock(*rig.drive));
      }
    }
    // Every image write carried the packaged bytes of its block.
    for (const Observed& c : seen) {
      if (c.cdb[0] == 0x3B && c.cdb[9] == 0x00 && c.cdb[8] == 0x00 && c.cdb[7] == 0x40) {
        ASSERT_TRUE(c.dataIsImage);
      }
    }
    // A part block that arrived is the packaged one for the drive's part.
    if (!rig.drive->partBlock.empty()) {
      ASSERT_EQ(rig.drive->partBlock, sim::NeededPartBlock(*rig.drive));
    }
  }
  // The schedules must exercise both outcomes and reach the final command often.
  EXPECT_GT(succeeded, runs / 4);
  EXPECT_GT(failed, runs / 20);
  EXPECT_GT(finalsChecked, runs / 4);
}

}  // namespace
}  // namespace quorel::test
