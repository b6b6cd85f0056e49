// Every flash part: the lookup, the block's place in PartBlockData, and what the drive receives.
#include "flash/part_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "unit/flash/flash_rig.h"

namespace quorel::test {
namespace {

struct PartRow {
  uint8_t identity[4];
  uint8_t lengthBytes[2];
  uint32_t blockBytes;
  uint32_t dataOffset;
  uint32_t headerBytes;
  uint32_t transferBytes;
  uint32_t bufferOffset;
  uint8_t control;
};

// The drive maker's table, as published with the drive's flash parts.
const PartRow kParts[kFlashPartCount] = {
    {{0xDA, 0xC8, 0x00, 0x00}, {0x01, 0x3A}, 314, 0, 4, 318, 0x80000, 0x00},
    {{0xBF, 0xB4, 0x00, 0x00}, {0x01, 0xC4}, 452, 314, 4, 456, 0x80000, 0x00},
    {{0xBF, 0xD6, 0x00, 0x01}, {0x05, 0x00}, 1280, 766, 6, 1280, 0, 0x7F},
    {{0xBF, 0xB6, 0x00, 0x01}, {0x05, 0x00}, 1280, 766, 6, 1280, 0, 0x7F},
    {{0x37, 0x8C, 0x00, 0x01}, {0x05, 0x00}, 1280, 2046, 6, 1280, 0, 0x7F},
    {{0xBF, 0xD7, 0x00, 0x03}, {0x03, 0xE6}, 998, 3326, 6, 1004, 0, 0x7F},
    {{0x37, 0x0D, 0x00, 0x02}, {0x03, 0x1C}, 796, 4324, 6, 802, 0, 0x7F},
    {{0xBF, 0xB6, 0x00, 0x02}, {0x02, 0xB6}, 694, 5120, 6, 700, 0, 0x7F},
    {{0xBF, 0xD6, 0x00, 0x02}, {0x02, 0xB6}, 694, 5120, 6, 700, 0, 0x7F},
    {{0xDA, 0xB5, 0x00, 0x02}, {0x02, 0xBA}, 698, 5814, 6, 704, 0, 0x7F},
    {{0xDA, 0xB5, 0x00, 0x01}, {0x05, 0x00}, 1280, 6512, 6, 1286, 0, 0x7F},
    {{0xBF, 0xD7, 0x00, 0x04}, {0x03, 0x56}, 854, 7792, 6, 860, 0, 0x7F},
    {{0xC2, 0xB6, 0x00, 0x03}, {0x03, 0x3E}, 830, 8646, 6, 836, 0, 0x7F},
    {{0xDA, 0x46, 0x00, 0x03}, {0x02, 0xE6}, 742, 9476, 6, 748, 0, 0x7F},
    {{0x37, 0xB5, 0x00, 0x03}, {0x03, 0xB2}, 946, 10218, 6, 952, 0, 0x7F},
    {{0xC2, 0xB6, 0x00, 0x07}, {0x03, 0x1E}, 798, 11164, 6, 804, 0, 0x7F},
    {{0xDA, 0x46, 0x00, 0x07}, {0x02, 0xC6}, 710, 11962, 6, 716, 0, 0x7F},
    {{0x37, 0xB5, 0x00, 0x04}, {0x03, 0xAE}, 942, 12672, 6, 948, 0, 0x7F},
    {{0x37, 0xB5, 0x00, 0x07}, {0x03, 0x22}, 802, 13614, 6, 808, 0, 0x7F},
    {{0xBF, 0xD8, 0x00, 0x05}, {0x04, 0xD2}, 1234, 14416, 6, 1240, 0, 0x7F},
    {{0x01, 0x37, 0x00, 0x05}, {0x04, 0xD2}, 1234, 14416, 6, 1240, 0, 0x7F},
    {{0xC2, 0x37, 0x00, 0x05}, {0x04, 0xD2}, 1234, 14416, 6, 1240, 0, 0x7F},
    {{0xC2, 0x38, 0x00, 0x05}, {0x04, 0xD2}, 1234, 14416, 6, 1240, 0, 0x7F},
    {{0xBF, 0xD8, 0x00, 0x06}, {0x04, 0x36}, 1078, 15650, 6, 1084, 0, 0x7F},
    {{0x01, 0x37, 0x00, 0x06}, {0x04, 0x62}, 1122, 16728, 6, 1128, 0, 0x7F},
};

// What the drive must receive for a row: the header, the block, zeros, cut to the transfer.
std::vector<uint8_t> ExpectedPartBlock(const PartRow& row) {
  std::vector<uint8_t> bytes(row.identity, row.identity + 4);
  if (row.headerBytes == 6) bytes.insert(bytes.end(), row.lengthBytes, row.lengthBytes + 2);
  bytes.insert(bytes.end(), PartBlockData + row.dataOffset,
               PartBlockData + row.dataOffset + row.blockBytes);
  bytes.resize(row.transferBytes, 0);
  return bytes;
}

TEST(PartTable, EveryEntryIsFoundAndLaidOutAsPublished) {
  for (int entry = 0; entry < kFlashPartCount; ++entry) {
    SCOPED_TRACE(entry);
    const PartRow& row = kParts[entry];
    EXPECT_EQ(FindFlashPart(row.identity), entry);
    const PartBlockLayout layout = LayoutOfPart(entry);
    EXPECT_EQ(layout.blockBytes, row.blockBytes);
    EXPECT_EQ(layout.dataOffset, row.dataOffset);
    EXPECT_EQ(layout.headerBytes, row.headerBytes);
    EXPECT_EQ(layout.transferBytes, row.transferBytes);
    EXPECT_EQ(layout.bufferOffset, row.bufferOffset);
    EXPECT_EQ(layout.control, row.control);
  }
}

TEST(PartTable, EveryEntryReachesTheDriveAsPublished) {
  for (int entry = 0; entry < kFlashPartCount; ++entry) {
    SCOPED_TRACE(entry);
    const PartRow& row = kParts[entry];
    FlashRig rig;
    std::memcpy(rig.drive->flashId, row.identity, 4);
    ASSERT_TRUE(rig.engine->SendPartBlock());

    ASSERT_EQ(rig.sent.size(), 2u);
    EXPECT_EQ(rig.sent[0].cdb, (Cdb{0xDF, 0x11}));
    EXPECT_EQ(rig.sent[1].cdb, WriteBufferCdb(row.bufferOffset, row.transferBytes, row.control));
    EXPECT_EQ(rig.sent[1].length, row.transferBytes);
    EXPECT_EQ(rig.drive->partBlock, ExpectedPartBlock(row));
    EXPECT_EQ(rig.drive->partBlockOffset, row.bufferOffset);
    EXPECT_EQ(rig.drive->partBlockControl, row.control);
  }
}

TEST(PartTable, UnknownOrUnreadablePartSendsNoBlock) {
  const struct {
    const char* name;
    uint8_t identity[4];
    bool flashIdFails;
  } rows[] = {
      {"no such part", {0xBF, 0xD8, 0x00, 0x07}, false},
      {"identity bytes reversed", {0x05, 0x00, 0xD8, 0xBF}, false},
      {"all zero answer", {0, 0, 0, 0}, false},
      {"command rejected", {0xBF, 0xD8, 0x00, 0x05}, true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    FlashRig rig;
    std::memcpy(rig.drive->flashId, row.identity, 4);
    if (row.flashIdFails) rig.drive->senseFaults.push_back({{0xDF}});
    EXPECT_FALSE(rig.engine->SendPartBlock());
    ASSERT_EQ(rig.sent.size(), 1u);
    EXPECT_EQ(rig.sent[0].cdb[0], 0xDF);
  }
}

// The placeholder payload is a marker text and then an xorshift32 stream; a build with the drive
// maker's file has neither.
TEST(PartTable, PlaceholderPayloadIsTheDocumentedStream) {
  static const char kMarker[] = "QUOREL PLACEHOLDER PART BLOCKS: NOT THE DRIVE MAKER'S DATA. ";
  const size_t markerBytes = sizeof kMarker - 1;
  if (std::memcmp(PartBlockData, kMarker, markerBytes) != 0) {
    GTEST_SKIP() << "built with the drive maker's part blocks";
  }
  uint32_t x = 0x51564B32;
  for (size_t i = markerBytes; i < kPartBlockDataBytes; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    ASSERT_EQ(PartBlockData[i], uint8_t(x)) << i;
  }
}

// The embedded part blocks are checked against their record at start-up: one byte changed, or a
// record of another length, is damage.
TEST(PartTable, PartBlocksIntactOnlyAsEmbedded) {
  std::vector<uint8_t> data(PartBlockData, PartBlockData + kPartBlockDataBytes);
  EXPECT_TRUE(PartBlocksIntact(data.data(), kPartBlockDataBytes, kPartBlockOrigin));
  data[kPartBlockDataBytes / 2] ^= 0x01;
  EXPECT_FALSE(PartBlocksIntact(data.data(), kPartBlockDataBytes, kPartBlockOrigin));
  PartBlockOrigin shorter = kPartBlockOrigin;
  shorter.dataBytes -= 1;
  EXPECT_FALSE(PartBlocksIntact(PartBlockData, kPartBlockDataBytes, shorter));
}

}  // namespace
}  // namespace quorel::test
