// The flash parts the drive may carry and the part block each one needs before a download.
//
// FlashPartTable: 25 entries of 6 bytes, searched in order: bytes 0-3 the part identity (as the
// first four bytes of the DF 11 response), bytes 4-5 the part block's length, big-endian.
// PartBlockGroups: one non-decreasing group number per entry; entries of one group share a
// block. PartBlockData: the 20 distinct blocks, each stored once, in group order.
#pragma once

#include <cstdint>

#include "device/part_block_origin.h"

namespace quorel {

constexpr int kFlashPartCount = 25;

inline constexpr uint8_t FlashPartTable[kFlashPartCount][6] = {
    {0xDA, 0xC8, 0x00, 0x00, 0x01, 0x3A}, {0xBF, 0xB4, 0x00, 0x00, 0x01, 0xC4},
    {0xBF, 0xD6, 0x00, 0x01, 0x05, 0x00}, {0xBF, 0xB6, 0x00, 0x01, 0x05, 0x00},
    {0x37, 0x8C, 0x00, 0x01, 0x05, 0x00}, {0xBF, 0xD7, 0x00, 0x03, 0x03, 0xE6},
    {0x37, 0x0D, 0x00, 0x02, 0x03, 0x1C}, {0xBF, 0xB6, 0x00, 0x02, 0x02, 0xB6},
    {0xBF, 0xD6, 0x00, 0x02, 0x02, 0xB6}, {0xDA, 0xB5, 0x00, 0x02, 0x02, 0xBA},
    {0xDA, 0xB5, 0x00, 0x01, 0x05, 0x00}, {0xBF, 0xD7, 0x00, 0x04, 0x03, 0x56},
    {0xC2, 0xB6, 0x00, 0x03, 0x03, 0x3E}, {0xDA, 0x46, 0x00, 0x03, 0x02, 0xE6},
    {0x37, 0xB5, 0x00, 0x03, 0x03, 0xB2}, {0xC2, 0xB6, 0x00, 0x07, 0x03, 0x1E},
    {0xDA, 0x46, 0x00, 0x07, 0x02, 0xC6}, {0x37, 0xB5, 0x00, 0x04, 0x03, 0xAE},
    {0x37, 0xB5, 0x00, 0x07, 0x03, 0x22}, {0xBF, 0xD8, 0x00, 0x05, 0x04, 0xD2},
    {0x01, 0x37, 0x00, 0x05, 0x04, 0xD2}, {0xC2, 0x37, 0x00, 0x05, 0x04, 0xD2},
    {0xC2, 0x38, 0x00, 0x05, 0x04, 0xD2}, {0xBF, 0xD8, 0x00, 0x06, 0x04, 0x36},
    {0x01, 0x37, 0x00, 0x06, 0x04, 0x62},
};

inline constexpr uint8_t PartBlockGroups[kFlashPartCount] = {
    0, 1, 2, 2, 3, 4, 5, 6, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 17, 17, 17, 18, 19};

// Length in bytes of entry's part block.
constexpr uint32_t PartBlockLength(int entry) {
  return (uint32_t{FlashPartTable[entry][4]} << 8) | FlashPartTable[entry][5];
}

// Where entry's block starts in PartBlockData: each change of group adds the length of the
// previous entry's block, so an entry of the same group as its predecessor shares its block.
constexpr uint32_t PartBlockOffset(int entry) {
  uint32_t offset = 0;
  for (int k = 1; k <= entry; ++k) {
    if (PartBlockGroups[k] != PartBlockGroups[k - 1]) offset += PartBlockLength(k - 1);
  }
  return offset;
}

// How one entry's part block is sent: header bytes from the table entry, then the block.
struct PartBlockLayout {
  uint32_t headerBytes;    // 4 (identity only) or 6 (the whole table entry)
  uint32_t blockBytes;     // the block's length
  uint32_t dataOffset;     // in PartBlockData
  uint32_t transferBytes;  // the WRITE BUFFER transfer length
  uint32_t bufferOffset;   // the WRITE BUFFER buffer offset
  uint8_t control;         // the WRITE BUFFER control byte
};

// Entries 0 and 1 go with a 4-byte header to buffer offset 80000h, control 00h; the rest with
// the 6-byte header to offset 0, control 7Fh. The transfer length is the block length rounded up
// to even plus the header, except for entries 2 to 4, whose transfer length is the even block
// length alone (the last 6 composed bytes stay unsent).
constexpr PartBlockLayout LayoutOfPart(int entry) {
  PartBlockLayout layout{};
  layout.headerBytes = entry <= 1 ? 4 : 6;
  layout.blockBytes = PartBlockLength(entry);
  layout.dataOffset = PartBlockOffset(entry);
  const uint32_t even = (layout.blockBytes + 1) & ~uint32_t{1};
  layout.transferBytes = (entry >= 2 && entry <= 4) ? even : even + layout.headerBytes;
  layout.bufferOffset = entry <= 1 ? 0x80000 : 0;
  layout.control = entry <= 1 ? 0x00 : 0x7F;
  return layout;
}

// Whether the `bytes` bytes at data are the part blocks `origin` describes: its length and its
// SHA-256. The part blocks lie outside the package block, so its seal does not cover them.
bool PartBlocksIntact(const uint8_t* data, uint32_t bytes, const PartBlockOrigin& origin);

// The first entry whose identity equals the four bytes at identity; -1 when none does.
int FindFlashPart(const uint8_t* identity);

static_assert(PartBlockOffset(kFlashPartCount - 1) + PartBlockLength(kFlashPartCount - 1) ==
                  kPartBlockDataBytes,
              "the distinct part blocks fill PartBlockData exactly");

}  // namespace quorel
