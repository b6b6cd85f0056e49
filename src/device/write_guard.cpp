#include "device/write_guard.h"

#include <cstring>

namespace quorel {

bool PartBlocksAllowedFor(const char* vendorSpecific) {
  if (kPartBlockOrigin.kind == static_cast<uint8_t>(PartBlockKind::Maker)) return true;
  return vendorSpecific != nullptr && std::memcmp(vendorSpecific, kSimulatedDriveMarker, 16) == 0;
}

}  // namespace quorel
