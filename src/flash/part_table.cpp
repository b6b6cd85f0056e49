#include "flash/part_table.h"

#include <cstring>

#include "package/sha256.h"

namespace quorel {

int FindFlashPart(const uint8_t* identity) {
  for (int entry = 0; entry < kFlashPartCount; ++entry) {
    if (std::memcmp(FlashPartTable[entry], identity, 4) == 0) return entry;
  }
  return -1;
}

bool PartBlocksIntact(const uint8_t* data, uint32_t bytes, const PartBlockOrigin& origin) {
  if (origin.dataBytes != bytes) return false;
  const auto digest = Sha256(data, bytes);
  return std::memcmp(digest.data(), origin.sha256, sizeof origin.sha256) == 0;
}

}  // namespace quorel
