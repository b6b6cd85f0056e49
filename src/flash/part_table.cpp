#include "flash/part_table.h"

#include <cstring>

namespace quorel {

int FindFlashPart(const uint8_t* identity) {
  for (int entry = 0; entry < kFlashPartCount; ++entry) {
    if (std::memcmp(FlashPartTable[entry], identity, 4) == 0) return entry;
  }
  return -1;
}

bool PartBlocksAllowedFor(const char* vendorSpecific) {
  if (kPartBlockOrigin.placeholder == 0) return true;
  return vendorSpecific != nullptr && std::memcmp(vendorSpecific, kSimulatedDriveMarker, 16) == 0;
}

}  // namespace quorel
