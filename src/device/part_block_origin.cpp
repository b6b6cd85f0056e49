#include "device/part_block_origin.h"

#include <cstring>

namespace quorel {

namespace {
PartBlockSource g_active{kEmbeddedPartBlocks.data, &kEmbeddedPartBlocks.origin};
}  // namespace

const PartBlockSource& ActivePartBlocks() {
  return g_active;
}

void UsePartBlocks(const PartBlockSource& source) {
  g_active = source;
}

bool PartBlocksAllowedFor(const char* vendorSpecific) {
  if (g_active.origin->kind == static_cast<uint8_t>(PartBlockKind::Maker)) return true;
  return vendorSpecific != nullptr && std::memcmp(vendorSpecific, kSimulatedDriveMarker, 16) == 0;
}

}  // namespace quorel
