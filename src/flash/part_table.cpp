#include "flash/part_table.h"

#include <cstring>

namespace quorel {

int FindFlashPart(const uint8_t* identity) {
  for (int entry = 0; entry < kFlashPartCount; ++entry) {
    if (std::memcmp(FlashPartTable[entry], identity, 4) == 0) return entry;
  }
  return -1;
}

}  // namespace quorel
