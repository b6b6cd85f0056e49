// The simulated drive is the yardstick of the download tests: these cases guard the parts of it
// whose mistakes would make those tests pass or fail for the wrong reason.
#include "sim/sim_drive.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace quorel::sim {
namespace {

constexpr uint32_t kBlock = 16384;

struct Cdb {
  uint8_t b[12] = {};
};

Cdb BufferCdb(uint8_t opcode, uint8_t mode, uint32_t offset, uint32_t length, uint8_t control) {
  Cdb c;
  c.b[0] = opcode;
  c.b[1] = mode;
  c.b[2] = 0x01;
  c.b[3] = uint8_t(offset >> 16);
  c.b[4] = uint8_t(offset >> 8);
  c.b[5] = uint8_t(offset);
  c.b[6] = uint8_t(length >> 16);
  c.b[7] = uint8_t(length >> 8);
  c.b[8] = uint8_t(length);
  c.b[9] = control;
  return c;
}

CommandResult Write(SimDrive& drive, uint32_t offset, std::vector<uint8_t> data,
                    uint8_t control = 0x00) {
  const Cdb c = BufferCdb(0x3B, 0x05, offset, uint32_t(data.size()), control);
  return drive.Execute(c.b, 0, data.data(), uint32_t(data.size()));
}

CommandResult Program(SimDrive& drive, uint8_t control) {
  const Cdb c = BufferCdb(0x3B, 0x05, 0, 0, control);
  return drive.Execute(c.b, 2, nullptr, 0);
}

std::vector<uint8_t> Read(SimDrive& drive, uint32_t offset, uint32_t length) {
  std::vector<uint8_t> data(length, 0xEE);
  const Cdb c = BufferCdb(0x3C, 0x01, offset, length, 0x00);
  EXPECT_EQ(drive.Execute(c.b, 1, data.data(), length).status, Status::Good);
  return data;
}

std::string Revision(SimDrive& drive) {
  uint8_t cdb[12] = {0x12, 0, 0, 0, 0x60};
  uint8_t data[96] = {};
  EXPECT_EQ(drive.Execute(cdb, 1, data, 96).transferred, 96u);
  return std::string(reinterpret_cast<char*>(data) + 32, 4);
}

// An image of `blocks` 16 KiB blocks with a recognisable pattern, optionally a demo image.
std::vector<uint8_t> Image(int blocks, const char* demoRevision) {
  std::vector<uint8_t> image(size_t(blocks) * kBlock);
  for (size_t i = 0; i < image.size(); ++i) image[i] = uint8_t(i * 7 + i / kBlock);
  if (demoRevision != nullptr) {
    std::memcpy(image.data(), kDemoImageMagic, 12);
    std::memcpy(image.data() + kDemoRevisionOffset, demoRevision, 4);
  }
  return image;
}

TEST(SimDriveProgram, ProgramsExactlyTheWrittenImage) {
  struct Case {
    const char* name;
    int blocks;
    const char* demoRevision;  // null: not a demo image
    uint8_t control;
    bool lowPartBlock;  // a 4-byte-header part block at 80000h before the image
    std::string revisionAfter;
  };
  const Case cases[] = {
      {"demo, boot code", 64, "KM0P", 0xA0, false, "KM0P"},
      {"demo, no boot code, low part block", 64, "KM03", 0x80, true, "KM03"},
      {"not a demo image keeps the revision", 64, nullptr, 0x80, false, "KM01"},
      {"short image below the part block offset", 2, "KM02", 0x80, true, "KM02"},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    SimDrive drive;
    if (tc.lowPartBlock) {
      std::vector<uint8_t> part(318, 0x5A);
      ASSERT_EQ(Write(drive, 0x80000, part).status, Status::Good);
      EXPECT_EQ(drive.partBlock, part);
      EXPECT_EQ(drive.partBlockOffset, 0x80000u);
      EXPECT_EQ(drive.partBlockControl, 0x00);
    }
    const std::vector<uint8_t> image = Image(tc.blocks, tc.demoRevision);
    for (int n = 0; n < tc.blocks; ++n) {
      std::vector<uint8_t> block(image.begin() + n * kBlock, image.begin() + (n + 1) * kBlock);
      ASSERT_EQ(Write(drive, n * kBlock, block).status, Status::Good);
    }
    ASSERT_EQ(Program(drive, tc.control).status, Status::Good);
    EXPECT_EQ(drive.programCount, 1);
    EXPECT_EQ(drive.lastProgramControl, tc.control);
    EXPECT_TRUE(drive.programmed == image) << drive.programmed.size() << " bytes programmed";
    EXPECT_EQ(Revision(drive), tc.revisionAfter);
  }
}

TEST(SimDriveProgram, PartBlockAtZeroNeverReachesTheImage) {
  SimDrive drive;
  const std::vector<uint8_t> image = Image(1, "KM09");
  ASSERT_EQ(Write(drive, 0, image).status, Status::Good);
  ASSERT_EQ(Write(drive, 0, std::vector<uint8_t>(1240, 0x11), 0x7F).status, Status::Good);
  EXPECT_EQ(drive.partBlockControl, 0x7F);
  EXPECT_EQ(drive.partBlock.size(), 1240u);
  EXPECT_EQ(Read(drive, 0, kBlock), image);
}

TEST(SimDriveReadBack, WrongByteForTheFirstAttemptsOnly) {
  SimDrive drive;
  drive.readBackFaults.push_back({.block = 2, .attempts = 2, .position = 100});
  const std::vector<uint8_t> image = Image(4, nullptr);
  for (int n = 0; n < 4; ++n) {
    Write(drive, n * kBlock,
          std::vector<uint8_t>(image.begin() + n * kBlock, image.begin() + (n + 1) * kBlock));
  }
  // Each pass reads every block; block 2 is wrong on the first two passes, at byte 100 only.
  for (int pass = 0; pass < 3; ++pass) {
    for (int n = 0; n < 4; ++n) {
      std::vector<uint8_t> got = Read(drive, n * kBlock, kBlock);
      std::vector<uint8_t> want(image.begin() + n * kBlock, image.begin() + (n + 1) * kBlock);
      if (n == 2 && pass < 2) {
        EXPECT_NE(got[100], want[100]) << "pass " << pass;
        got[100] = want[100];
      }
      EXPECT_TRUE(got == want) << "pass " << pass << " block " << n;
    }
  }
}

TEST(SimDriveFaults, SkipAndCountSelectTheAffectedCommands) {
  struct Case {
    Fault fault;           // opcode, skip, count
    std::string expected;  // per command sent (TUR, INQUIRY alternating): G good, T failed
  };
  const Case cases[] = {
      {{0x100, 0, 1}, "TGGGGG"}, {{0x100, 2, 2}, "GGTTGG"}, {{0x12, 1, 1}, "GGGTGG"},
      {{0x12, 0, -1}, "GTGTGT"}, {{0x100, 0, 0}, "GGGGGG"},
  };
  for (const Case& tc : cases) {
    SimDrive drive;
    drive.discPresent = true;
    drive.transportFaults.push_back(tc.fault);
    std::string got;
    for (int i = 0; i < 6; ++i) {
      uint8_t cdb[12] = {uint8_t(i % 2 ? 0x12 : 0x00), 0, 0, 0, uint8_t(i % 2 ? 0x60 : 0)};
      uint8_t data[96];
      const CommandResult r = drive.Execute(cdb, i % 2 ? 1 : 2, data, i % 2 ? 96 : 0);
      got += r.status == Status::Good ? 'G' : 'T';
    }
    EXPECT_EQ(got, tc.expected) << "opcode " << tc.fault.opcode << " skip " << tc.fault.skip
                                << " count " << tc.fault.count;
    EXPECT_EQ(drive.log.size(), 6u);  // failed commands are recorded too
  }
}

TEST(SimDriveReadiness, TestUnitReadyStates) {
  SimDrive drive;
  drive.unitAttention = true;
  drive.becomingReadyPolls = 2;
  drive.discPresent = false;
  uint8_t tur[12] = {};
  std::vector<std::string> senses;
  for (int i = 0; i < 5; ++i) {
    const CommandResult r = drive.Execute(tur, 2, nullptr, 0);
    char text[16];
    std::snprintf(text, sizeof text, "%X/%02X/%02X", r.senseKey, r.asc, r.ascq);
    senses.push_back(text);
  }
  EXPECT_EQ(senses,
            (std::vector<std::string>{"6/29/00", "2/04/01", "2/04/01", "2/3A/00", "2/3A/00"}));

  // Eject, then a locked tray that stays in.
  uint8_t eject[12] = {0x1B, 0, 0, 0, 0x02};
  EXPECT_EQ(drive.Execute(eject, 2, nullptr, 0).status, Status::Good);
  EXPECT_EQ(drive.Execute(tur, 2, nullptr, 0).asc, 0x3A);
  EXPECT_TRUE(drive.trayOpen);
  uint8_t load[12] = {0x1B, 0, 0, 0, 0x03};
  drive.Execute(load, 2, nullptr, 0);
  drive.trayLocked = true;
  drive.discPresent = true;
  EXPECT_EQ(drive.Execute(eject, 2, nullptr, 0).status, Status::CheckCondition);
  EXPECT_FALSE(drive.trayOpen);
  EXPECT_EQ(drive.Execute(tur, 2, nullptr, 0).status, Status::Good);
}

}  // namespace
}  // namespace quorel::sim
